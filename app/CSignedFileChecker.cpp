#include "app/CSignedFileChecker.h"

#include <stdio.h>

#include "api/CLog.h"
#include "api/CTarvoselException.h"
#include "api/ResultCodes.h"
#include "app/CTempFile.h"
#include "cert/pkcs7/CPkcs7Reader.h"
#include "cert/wincrypt/CAPIWincrypt.h"
#include "cert/wincrypt/CAuthorityStore.h"
#include "cert/wincrypt/CWincryptCertificate.h"
#include "cert/wincrypt/CWincryptPkcs7Crypto.h"
#include "cert/CertificateText.h"
#include "host/CHostSettings.h"
#include "platform/framework/CFileHandle.h"
#include "platform/framework/CFileWriteBuffer.h"
#include "platform/framework/SystemErrorText.h"
#include "util/CFlushBehind.h"
#include "util/CHiddenStrings.h"
#include "util/CUtil.h"

namespace {
// The system's text for an error, or its number when the system has none.
std::string ErrorText(DWORD dwError)
{
    std::string strText = SystemErrorText(dwError);
    return strText.empty() ? std::to_string(dwError) : strText;
}

const char* YesNo(int b)
{
    return b ? "si" : "no";
}

// The platform's name of an algorithm OID, in the ANSI code page; "" when unknown.
std::string AlgorithmName(const std::string& strOid)
{
    PCCRYPT_OID_INFO pInfo = CAPIWincrypt::CryptFindOIDInfo(
        CRYPT_OID_INFO_OID_KEY, const_cast<char*>(strOid.c_str()), 0);
    if (pInfo == nullptr || pInfo->pwszName == nullptr)
        return std::string();
    char szName[4096] = {0};
    int n = WideCharToMultiByte(CP_ACP, 0, pInfo->pwszName, -1, szName, sizeof(szName) - 1,
                                nullptr, nullptr);
    return n > 0 ? std::string(szName) : std::string();
}

const char kSigningTimeOid[] = "1.2.840.113549.1.9.5";

// What went wrong with a signed message, for the log.
const char* MessageErrorText(EPkcs7Error e)
{
    switch (e) {
    case EPkcs7Error::Ok: return "correcto";
    case EPkcs7Error::NotPkcs7: return "no es un mensaje PKCS#7";
    case EPkcs7Error::NotSignedData: return "no es un mensaje PKCS#7 firmado";
    case EPkcs7Error::Truncated: return "mensaje incompleto";
    case EPkcs7Error::BadEncoding: return "codificación incorrecta";
    case EPkcs7Error::LimitExceeded: return "se ha superado un límite de tamaño";
    case EPkcs7Error::Unsupported: return "algoritmo o forma no soportados";
    case EPkcs7Error::BadState: return "operación fuera de orden";
    case EPkcs7Error::Output: return "error al escribir el contenido";
    case EPkcs7Error::Crypto: return "error del proveedor criptográfico";
    case EPkcs7Error::BadIndex: return "la firma no existe";
    case EPkcs7Error::SignerMismatch: return "el certificado no es el del firmante";
    case EPkcs7Error::MissingDigest: return "falta el resumen del contenido";
    case EPkcs7Error::HashMismatch: return "el contenido no coincide con el resumen firmado";
    case EPkcs7Error::BadSignature: return "la firma no es correcta";
    case EPkcs7Error::NotData: return "el contenido firmado no es de tipo datos";
    case EPkcs7Error::Detached: return "el mensaje no contiene los datos firmados";
    case EPkcs7Error::SignerNotFound: return "el mensaje no contiene el certificado del firmante";
    case EPkcs7Error::AmbiguousSigner:
        return "el mensaje contiene varios certificados distintos con el emisor y el número de "
               "serie del firmante";
    case EPkcs7Error::AmbiguousDigest:
        return "el resumen del contenido aparece más de una vez en los atributos firmados";
    case EPkcs7Error::ContentTypeMismatch:
        return "el tipo de contenido de los atributos firmados no coincide con el del mensaje";
    case EPkcs7Error::DigestNotAnnounced:
        return "el algoritmo de resumen de la firma no figura entre los del mensaje";
    case EPkcs7Error::AlgorithmMismatch:
        return "el algoritmo de firma no corresponde al algoritmo de resumen";
    case EPkcs7Error::UnsupportedSignature: return "algoritmo de firma no soportado";
    }
    return "error desconocido";
}

// The error a refused message is reported with. A message the checker cannot
// take is not correctly signed; the codec's "unknown algorithm" would read as a
// failure to sign.
DWORD CheckFailureCode(EPkcs7Error e)
{
    return e == EPkcs7Error::Unsupported ? static_cast<DWORD>(CRYPT_E_MSG_ERROR)
                                         : Pkcs7ErrorToWinError(e);
}

// An error the platform gave for part of a message: its number, and its text
// when the system has one.
std::string PlatformReason(DWORD dwError)
{
    char szCode[16];
    snprintf(szCode, sizeof(szCode), "0x%08X", static_cast<unsigned>(dwError));
    std::string strText = ErrorText(dwError);
    return strText == std::to_string(dwError) ? std::string(szCode)
                                              : std::string(szCode) + " (" + strText + ")";
}
const char kDateFormat[] = "%d/%m/%Y, a las %H:%M";

// Whole seconds of a UTC file time: the validity and the signing time are both
// compared in the same clock, to the second as they are written.
uint64_t UtcSeconds(const FILETIME& ft)
{
    ULARGE_INTEGER u;
    u.LowPart = ft.dwLowDateTime;
    u.HighPart = ft.dwHighDateTime;
    return u.QuadPart / 10000000ULL;
}
// The signed file is read, and its content written, in blocks of this size.
const DWORD kCheckIoSize = 1024 * 1024;
}  // namespace

CSignedFileChecker::CSignedFileChecker(const CHostSettings& settings, int nEnvironment)
    : m_settings(settings), m_nEnvironment(nEnvironment)
{
}

void CSignedFileChecker::Check(const std::string& strSource, const std::string& strDestination,
                               int bBase64, int bDecompress)
{
    const char* pszContext = "CTarvoselApp::CheckSignedFile";
    CTempFile decoded, content;
    CSignInfoList lstSigners;
    try {
        LogInfo("Fichero origen: '%s'", strSource.c_str());
        LogInfo("Fichero destino: '%s'", strDestination.c_str());
        LogInfo("Descomprimir: %s. Decodificar desde base64: %s", YesNo(bDecompress),
                YesNo(bBase64));
        // The content would overwrite the signed file, before it is checked or
        // after: either way the file is lost.
        if (CUtil::IsSameFile(strSource.c_str(), strDestination.c_str()))
            CUtil::ThrowSameFile(strDestination.c_str(), ERR_FILE_READ, pszContext);
        std::string strMessage = strSource;
        if (bBase64) {
            decoded.Take(m_settings.MakeTempFileName("tmp"));
            LogInfo("Decodificando (base64) fichero en '%s'...", decoded.Path().c_str());
            CUtil::Base64DecodeFile(strSource.c_str(), decoded.Path().c_str());
            LogInfo("...OK");
            strMessage = decoded.Path();
        }
        std::string strContent = strDestination;
        if (bDecompress) {
            content.Take(m_settings.MakeTempFileName("tmp"));
            strContent = content.Path();
        }

        Decode(strMessage, strContent, lstSigners);

        // Each accepted text is one whole attribute ("O=ORMAVIA"): a subject that
        // only contains it ("O=ORMAVIA SERVICIOS SL") names someone else.
        const std::string strAccepted[2] = {
            CHiddenStrings::GetString(CHiddenStrings::ESlot::AcceptedSigner),
            CHiddenStrings::GetString(CHiddenStrings::ESlot::AcceptedSignerSecond)};
        bool bAccepted = false;
        for (CS_SIGNINFO* pRecord : lstSigners) {
            if (pRecord->bTrusted) {
                const std::string strSubject = pRecord->pCertificate->GetSubject();
                bool bNamed = false;
                for (const std::string& str : strAccepted)
                    bNamed |= NameHasAttributeValue(strSubject, str);
                if (bNamed)
                    bAccepted = true;
                else
                    LogInfo("El certificado es de una CA de confianza pero no es el esperado");
            }
        }
        DeleteSignInfoList(lstSigners);
        if (!bAccepted)
            throw new CTarvoselException(EXC_OWN, ERR_UNTRUSTED_SIGNER, pszContext);

        if (bDecompress) {
            LogInfo("Descomprimiendo fichero en '%s'...", strDestination.c_str());
            CUtil::UnzipFile(content.Path().c_str(), strDestination.c_str());
            content.Delete();
            LogInfo("...OK");
        }
    } catch (...) {
        DeleteSignInfoList(lstSigners);
        throw;
    }
}


void CSignedFileChecker::Decode(const std::string& strIn, const std::string& strOut,
                                CSignInfoList& lstSigners)
{
    const char* pszContext = "CWincryptSession::CheckSignedFile_";
    CFileHandle input(CreateFileA(strIn.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!input.IsValid())
        throw new CTarvoselException(EXC_OWN, ERR_FILE_READ, pszContext);
    // Creating the output would empty the signed file before it is read.
    if (CUtil::IsSameFile(strIn.c_str(), strOut.c_str()))
        CUtil::ThrowSameFile(strOut.c_str(), ERR_FILE_READ, pszContext);
    CFileHandle output(CreateFileA(strOut.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                   CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!output.IsValid())
        throw new CTarvoselException(EXC_OWN, ERR_FILE_READ, pszContext);
    LogInfo("Extrayendo mensaje firmado en '%s'...", strOut.c_str());

    CWincryptPkcs7Crypto crypto;
    if (!crypto.IsReady())
        throw new CTarvoselException(EXC_WINDOWS, GetLastError(), pszContext);
    DWORD dwIoError = 0;
    CFileWriteBuffer outputBuffer(output, kCheckIoSize);
    CFlushBehind flushBehind(output.Get());
    CPkcs7Reader reader(crypto, [&](const uint8_t* pData, size_t nSize) {
        return outputBuffer.Write(pData, nSize, dwIoError);
    });
    auto fail = [&](EPkcs7Error e) {
        // What was extracted before the fault stays in the output, as written.
        if (e != EPkcs7Error::Output)
            outputBuffer.Flush(dwIoError);
        if (e == EPkcs7Error::Output && dwIoError != 0) {
            // The message may be sound: the content could not be written.
            LogInfo("Error al escribir en fichero '%s': %s", strOut.c_str(),
                    ErrorText(dwIoError).c_str());
            throw new CTarvoselException(EXC_WINDOWS, dwIoError, pszContext);
        }
        LogInfo("Mensaje firmado no v\xE1lido: %s", MessageErrorText(e));
        throw new CTarvoselException(EXC_WINDOWS, CheckFailureCode(e), pszContext);
    };
    EPkcs7Error e = EPkcs7Error::Ok;
    DWORD dwReadError = 0;
    bool bRead = input.ReadSlices(kCheckIoSize, 4096, [&](const BYTE* pData, DWORD dwRead) {
        e = reader.Update(pData, dwRead);
        flushBehind.Written(dwRead);
        return e == EPkcs7Error::Ok;
    }, dwReadError);
    if (!bRead) {
        outputBuffer.Flush(dwIoError);
        // The signed file itself could not be read: nothing is known of the message.
        LogInfo("Error al leer fichero '%s': %s", strIn.c_str(), ErrorText(dwReadError).c_str());
        throw new CTarvoselException(EXC_OWN, ERR_FILE_READ, pszContext);
    }
    if (e != EPkcs7Error::Ok)
        fail(e);
    e = reader.Finish();
    if (e != EPkcs7Error::Ok)
        fail(e);
    if (!outputBuffer.Flush(dwIoError))
        fail(EPkcs7Error::Output);
    LogInfo("...OK");
    input.Close();
    if (!flushBehind.Finish() || !FlushFileBuffers(output.Get()))
        throw new CTarvoselException(EXC_WINDOWS, GetLastError(), pszContext);
    output.Close();

    Report(reader, lstSigners);
}


void CSignedFileChecker::Report(const CPkcs7Reader& message, CSignInfoList& lstSigners)
{
    const char* pszContext = "CTarvoselApp::VerifySign";
    CS_SIGNINFO* pRecord = nullptr;
    try {
        size_t nSigners = message.SignerCount();
        LogInfo("N\xFAmero de firmas: %i", static_cast<int>(nSigners));
        for (size_t i = 0; i < nSigners; ++i) {
            LogInfo("Firma %i:", static_cast<int>(i + 1));
            pRecord = new CS_SIGNINFO;
            const CPkcs7SignerInfo& signer = message.Signer(i);

            // The signer's certificate is the one its issuer and serial name, not the
            // one at its position: a message may carry them in any order.
            size_t nCert = 0;
            EPkcs7Error eFound = message.FindSignerCertificate(i, nCert);
            if (eFound != EPkcs7Error::Ok) {
                LogInfo("%s", MessageErrorText(eFound));
                throw new CTarvoselException(EXC_WINDOWS, CheckFailureCode(eFound), pszContext);
            }
            const std::vector<uint8_t>& der = message.Certificate(nCert);
            pRecord->pCertificate = new CWincryptCertificate;
            try {
                pRecord->pCertificate->Create2(der.data(), static_cast<DWORD>(der.size()));
            } catch (CTarvoselException* e) {
                LogInfo("Certificado del firmante no v\xE1lido: %s",
                        e->GetKind() == EXC_WINDOWS
                            ? PlatformReason(static_cast<DWORD>(e->GetSubCode())).c_str()
                            : e->GetDescription().c_str());
                throw;
            }
            LogInfo("Certificado:");
            pRecord->pCertificate->LogDetails();

            pRecord->strAlgorithm = AlgorithmName(signer.DigestOid());
            LogInfo("Algoritmo de firma: %s", pRecord->strAlgorithm.c_str());

            for (const auto& attribute : signer.AuthAttributes()) {
                if (attribute.strOid != kSigningTimeOid || attribute.values.empty())
                    continue;
                const std::vector<uint8_t>& value = attribute.values.front();
                FILETIME ft;
                DWORD cb = sizeof(ft);
                if (!CAPIWincrypt::CryptDecodeObject(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING,
                                                     szOID_RSA_signingTime, value.data(),
                                                     static_cast<DWORD>(value.size()),
                                                     CRYPT_DECODE_NOCOPY_FLAG, &ft, &cb)) {
                    DWORD dwError = GetLastError();
                    LogInfo("Fecha de firma no v\xE1lida: %s", PlatformReason(dwError).c_str());
                    throw new CTarvoselException(EXC_WINDOWS, dwError, pszContext);
                }
                pRecord->bHasSigningTime = 1;
                pRecord->tSigningTime = FileTimeToLocalTime64(ft);
                pRecord->nSigningTimeUtc = UtcSeconds(ft);
                LogInfo("Fecha de firma: %s",
                        FormatTime64(pRecord->tSigningTime, kDateFormat).c_str());
            }

            LogInfo("Integridad...");
            EPkcs7Error e = message.Verify(i, der.data(), der.size());
            if (e != EPkcs7Error::Ok) {
                LogInfo("%s", MessageErrorText(e));
                throw new CTarvoselException(EXC_WINDOWS, CheckFailureCode(e), pszContext);
            }
            LogInfo("...OK");

            if (pRecord->pCertificate->GetValidityStatus() & VALIDITY_EXPIRED)
                LogInfo("AVISO: El certificado de firma no est\xE1 en periodo de validez");

            LogInfo("Fecha de firma...");
            if (!pRecord->bHasSigningTime) {
                LogInfo("No existe informaci\xF3n sobre la fecha de la firma");
                throw new CTarvoselException(EXC_OWN, ERR_BAD_SIGNATURE, pszContext);
            }
            const CERT_INFO* pInfo = pRecord->pCertificate->GetContext()->pCertInfo;
            if (pRecord->nSigningTimeUtc > UtcSeconds(pInfo->NotAfter) ||
                pRecord->nSigningTimeUtc < UtcSeconds(pInfo->NotBefore)) {
                LogInfo("La fecha de firma no se encuentra en el intervalo de validez del "
                        "certificado");
                throw new CTarvoselException(EXC_OWN, ERR_BAD_SIGNATURE, pszContext);
            }
            LogInfo("...OK");

            LogInfo("Comprobando si el certificado est\xE1 firmado por alguno de los certificados "
                    "del almac\xE9n de Tarvosel...");
            pRecord->bTrusted = 1;
            if (CAuthorityStore::FindIssuingAuthority(pRecord->pCertificate) ==
                    CAuthorityStore::NO_AUTHORITY &&
                !CAuthorityStore::IsRecognisedIssuer(pRecord->pCertificate, m_nEnvironment))
                pRecord->bTrusted = 0;

            lstSigners.push_back(pRecord);
            pRecord = nullptr;
        }
    } catch (...) {
        delete pRecord;
        DeleteSignInfoList(lstSigners);
        throw;
    }
}
