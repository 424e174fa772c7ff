#include "api/ResultCodes.h"

namespace {
struct MessageEntry {
    int nCode;
    const char* pszText;
};

const MessageEntry kMessages[] = {
    {RESULT_OK, "OK"},
    {ERR_SESSION_ALREADY_OPEN, "Ya existe una sesión de usuario abierta"},
    {ERR_NO_SESSION, "No existe una sesión de usuario abierta"},
    {ERR_WRONG_PASSWORD, "Contraseña incorrecta"},
    {ERR_EPF_OPEN, "No se ha podido abrir el fichero EPF"},
    {ERR_SIGNING_KEY_EXPIRED, "Clave de firma expirada"},
    {ERR_ENCRYPTION_KEY_EXPIRED, "Clave de cifrado expirada"},
    {ERR_KEYS_EXPIRED, "Claves de firma y cifrado expiradas"},
    {ERR_SIGN, "Error al firmar el fichero"},
    {ERR_BAD_SIGNATURE, "Error al comprobar la firma del fichero (no está firmado correctamente)"},
    {ERR_UNTRUSTED_SIGNER, "El fichero no está firmado por la Ormavia"},
    {ERR_DECOMPRESS, "Error al descomprimir el fichero"},
    {ERR_COMPRESS, "Error al comprimir el fichero"},
    {ERR_BASE64_ENCODE, "Error al codificar el fichero a base64"},
    {ERR_BASE64_DECODE, "Error al decodificar el fichero desde base64"},
    {ERR_SSL_OBJECT, "Error al instanciar el objeto SSL"},
    {ERR_INI_FILE, "No se ha podido abrir el fichero de inicialización"},
    {ERR_ENTRUST_UNKNOWN, "Error Entrust desconocido"},
    {ERR_WINDOWS_UNKNOWN, "Error Windows desconocido"},
    {ERR_USER_CERTIFICATES, "Error al acceder a los certificados del usuario"},
    {ERR_PRIVATE_KEY, "No se ha podido acceder a la clave privada de los certificados de usuario"},
    {ERR_NOT_INITIALISED, "Tarvosel no ha sido inicializado"},
    {ERR_CERT_REVOKED, "El certificado de usuario está revocado"},
    {ERR_CERT_EXPIRED, "El certificado de usuario ha expirado"},
    {ERR_FILE_READ, "Error al leer fichero"},
    {ERR_FILE_WRITE, "Error al escribir en fichero"},
    {ERR_NO_MEMORY, "No hay suficiente memoria"},
    {ERR_POLICY_CERT_COPY, "Error al copiar el certificado de políticas"},
    {ERR_CANCELLED, "El usuario ha cancelado la operación"},
    {ERR_EPF_READ_ONLY, "El fichero .EPF está protegido contra escritura"},
    {ERR_EXPORT_CERT, "Error al exportar el certificado del usuario. Comprobar que el certificado de políticas (pch) está actualizado"},
    {WARN_SIGNING_CERT_RENEWAL, "Aviso: El certificado de firma está en periodo de renovación"},
    {WARN_ENCRYPTION_CERT_RENEWAL, "Aviso: El certificado de cifrado está en periodo de renovación"},
    {WARN_BOTH_CERTS_RENEWAL, "Aviso: Los certificados de firma y de cifrado están en periodo de renovación"},
};
}  // namespace

const char* ResultCodeMessage(int nCode)
{
    for (const MessageEntry& e : kMessages) {
        if (e.nCode == nCode)
            return e.pszText;
    }
    return "Error desconocido";
}
