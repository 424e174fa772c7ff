#include <gtest/gtest.h>

#include "api/CTarvoselException.h"
#include "api/ResultCodes.h"
#include "cert/pkcs7/Pkcs7Error.h"

TEST(ResultCodeMessage, KnownAndUnknownCodes)
{
    struct Case {
        int nCode;
        const char* pszText;
    } cases[] = {
        {0, "OK"},
        {-1002, "No existe una sesi\xF3n de usuario abierta"},
        {-1012, "El fichero no est\xE1 firmado por la Ormavia"},
        {-1027, "Tarvosel no ha sido inicializado"},
        {10003, "Aviso: Los certificados de firma y de cifrado est\xE1n en periodo de renovaci\xF3n"},
        {-1005, "Error desconocido"},
        {-1011, "Error desconocido"},
        {-1033, "Error desconocido"},
        {-1035, "Error desconocido"},
        {12345, "Error desconocido"},
        {1, "Error desconocido"},
    };
    for (const Case& c : cases)
        EXPECT_STREQ(c.pszText, ResultCodeMessage(c.nCode)) << c.nCode;
}

TEST(ResultCodeMessage, EveryAssignedCodeHasItsOwnText)
{
    const int codes[] = {-1001, -1002, -1003, -1004, -1006, -1007, -1008, -1009, -1010, -1012,
                         -1017, -1018, -1019, -1020, -1021, -1022, -1023, -1024, -1025, -1026,
                         -1027, -1028, -1029, -1030, -1031, -1032, -1034, -1036, -1037, -1038,
                         10001, 10002, 10003};
    std::string strUnknown = ResultCodeMessage(99999);
    for (int nCode : codes)
        EXPECT_NE(strUnknown, ResultCodeMessage(nCode)) << nCode;
}

// The messages are what the host shows its users: every code's text, byte for
// byte (cp1252), and every other value in and around the ranges is unknown.
TEST(ResultCodeMessage, EveryCodeHasItsPublishedText)
{
    struct Row {
        int nValue;
        int nCode;
        const char* pszText;
    } rows[] = {
        {0, RESULT_OK, "OK"},
        {-1001, ERR_SESSION_ALREADY_OPEN, "Ya existe una sesi\xF3n de usuario abierta"},
        {-1002, ERR_NO_SESSION, "No existe una sesi\xF3n de usuario abierta"},
        {-1003, ERR_WRONG_PASSWORD, "Contrase\xF1" "a incorrecta"},
        {-1004, ERR_EPF_OPEN, "No se ha podido abrir el fichero EPF"},
        {-1006, ERR_SIGNING_KEY_EXPIRED, "Clave de firma expirada"},
        {-1007, ERR_ENCRYPTION_KEY_EXPIRED, "Clave de cifrado expirada"},
        {-1008, ERR_KEYS_EXPIRED, "Claves de firma y cifrado expiradas"},
        {-1009, ERR_SIGN, "Error al firmar el fichero"},
        {-1010, ERR_BAD_SIGNATURE, "Error al comprobar la firma del fichero (no est\xE1 firmado correctamente)"},
        {-1012, ERR_UNTRUSTED_SIGNER, "El fichero no est\xE1 firmado por la Ormavia"},
        {-1017, ERR_DECOMPRESS, "Error al descomprimir el fichero"},
        {-1018, ERR_COMPRESS, "Error al comprimir el fichero"},
        {-1019, ERR_BASE64_ENCODE, "Error al codificar el fichero a base64"},
        {-1020, ERR_BASE64_DECODE, "Error al decodificar el fichero desde base64"},
        {-1021, ERR_SSL_OBJECT, "Error al instanciar el objeto SSL"},
        {-1022, ERR_INI_FILE, "No se ha podido abrir el fichero de inicializaci\xF3n"},
        {-1023, ERR_ENTRUST_UNKNOWN, "Error Entrust desconocido"},
        {-1024, ERR_WINDOWS_UNKNOWN, "Error Windows desconocido"},
        {-1025, ERR_USER_CERTIFICATES, "Error al acceder a los certificados del usuario"},
        {-1026, ERR_PRIVATE_KEY, "No se ha podido acceder a la clave privada de los certificados de usuario"},
        {-1027, ERR_NOT_INITIALISED, "Tarvosel no ha sido inicializado"},
        {-1028, ERR_CERT_REVOKED, "El certificado de usuario est\xE1 revocado"},
        {-1029, ERR_CERT_EXPIRED, "El certificado de usuario ha expirado"},
        {-1030, ERR_FILE_READ, "Error al leer fichero"},
        {-1031, ERR_FILE_WRITE, "Error al escribir en fichero"},
        {-1032, ERR_NO_MEMORY, "No hay suficiente memoria"},
        {-1034, ERR_POLICY_CERT_COPY, "Error al copiar el certificado de pol\xEDticas"},
        {-1036, ERR_CANCELLED, "El usuario ha cancelado la operaci\xF3n"},
        {-1037, ERR_EPF_READ_ONLY, "El fichero .EPF est\xE1 protegido contra escritura"},
        {-1038, ERR_EXPORT_CERT, "Error al exportar el certificado del usuario. Comprobar que el certificado de pol\xEDticas (pch) est\xE1 actualizado"},
        {10001, WARN_SIGNING_CERT_RENEWAL, "Aviso: El certificado de firma est\xE1 en periodo de renovaci\xF3n"},
        {10002, WARN_ENCRYPTION_CERT_RENEWAL, "Aviso: El certificado de cifrado est\xE1 en periodo de renovaci\xF3n"},
        {10003, WARN_BOTH_CERTS_RENEWAL, "Aviso: Los certificados de firma y de cifrado est\xE1n en periodo de renovaci\xF3n"},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(r.nValue, r.nCode) << r.pszText;
        EXPECT_STREQ(r.pszText, ResultCodeMessage(r.nCode)) << r.nValue;
    }
    auto assigned = [&](int nCode) {
        for (const Row& r : rows)
            if (r.nValue == nCode)
                return true;
        return false;
    };
    for (int nCode = -1100; nCode <= 10100; ++nCode) {
        if (!assigned(nCode))
            EXPECT_STREQ("Error desconocido", ResultCodeMessage(nCode)) << nCode;
    }
    EXPECT_EQ(34u, sizeof(rows) / sizeof(rows[0]));
}

TEST(CTarvoselException, EntrustCodesMapToResultCodes)
{
    struct Case {
        int nEntrust;
        int nResult;
    } cases[] = {
        {0, RESULT_OK},          {-13095, ERR_EXPORT_CERT},   {-8599, ERR_NO_MEMORY},
        {-1400, ERR_NO_MEMORY},  {-4064, ERR_BAD_SIGNATURE},  {-3991, ERR_BAD_SIGNATURE},
        {-996, ERR_BAD_SIGNATURE}, {-4060, ERR_FILE_WRITE},   {-4059, ERR_FILE_READ},
        {-3983, ERR_FILE_READ},  {-1093, ERR_INI_FILE},       {-1086, ERR_WRONG_PASSWORD},
        {-595, ERR_WRONG_PASSWORD}, {-1074, ERR_CERT_REVOKED}, {-291, ERR_CERT_REVOKED},
        {-1072, ERR_CERT_EXPIRED}, {-790, ERR_CERT_EXPIRED},  {-1055, ERR_EPF_READ_ONLY},
        {-598, ERR_USER_CERTIFICATES}, {-594, ERR_USER_CERTIFICATES},
        {-296, ERR_UNTRUSTED_SIGNER}, {-195, ERR_SIGN},       {-193, ERR_SIGN},
        {-141, ERR_EPF_OPEN},    {-138, ERR_EPF_OPEN},        {-1, ERR_ENTRUST_UNKNOWN},
        // Only the low 16 bits count.
        {0x10000 - 296, ERR_UNTRUSTED_SIGNER},
    };
    for (const Case& c : cases) {
        CTarvoselException e(EXC_ENTRUST, c.nEntrust, "CTest::Entrust");
        EXPECT_EQ(c.nResult, e.GetResultCode()) << c.nEntrust;
        EXPECT_EQ(static_cast<int16_t>(c.nEntrust & 0xFFFF), e.GetSubCode()) << c.nEntrust;
    }
}

TEST(CTarvoselException, WindowsCodesMapToResultCodes)
{
    struct Case {
        uint32_t dwCode;
        int nResult;
    } cases[] = {
        {0, RESULT_OK},
        {8, ERR_NO_MEMORY},
        {0x8007000E, ERR_NO_MEMORY},
        {0x8009000E, ERR_NO_MEMORY},
        {0x8009000B, ERR_PRIVATE_KEY},
        {0x80090016, ERR_PRIVATE_KEY},
        {0x80090019, ERR_PRIVATE_KEY},
        {0x8009001A, ERR_PRIVATE_KEY},
        {0x80091001, ERR_BAD_SIGNATURE},
        {0x80091004, ERR_BAD_SIGNATURE},
        {0x8009310B, ERR_BAD_SIGNATURE},
        {0x80091002, ERR_SIGN},
        {0x80091005, ERR_SIGN},
        {0x8009202B, ERR_SIGN},
        {0x80100069, ERR_CANCELLED},
        {0x8010006E, ERR_CANCELLED},
        {0x8010006B, ERR_WRONG_PASSWORD},
        {0x80100030, ERR_WINDOWS_UNKNOWN},
        {5, ERR_WINDOWS_UNKNOWN},
    };
    for (const Case& c : cases) {
        CTarvoselException e(EXC_WINDOWS, static_cast<long>(c.dwCode), "CTest::Windows");
        EXPECT_EQ(c.nResult, e.GetResultCode()) << std::hex << c.dwCode;
        EXPECT_EQ(static_cast<long>(c.dwCode), e.GetSubCode());
    }
}

// The codec's failures reach the host as the Windows error they stand for: a
// message that is not signed as it must be reads as a bad signature, an
// algorithm the codec lacks as a failed signing.
TEST(CTarvoselException, CodecFailuresReachTheHostAsResultCodes)
{
    struct Case {
        EPkcs7Error e;
        int nResult;
    } cases[] = {
        {EPkcs7Error::Ok, RESULT_OK},
        {EPkcs7Error::NotPkcs7, ERR_BAD_SIGNATURE},
        {EPkcs7Error::NotSignedData, ERR_BAD_SIGNATURE},
        {EPkcs7Error::Truncated, ERR_BAD_SIGNATURE},
        {EPkcs7Error::BadEncoding, ERR_BAD_SIGNATURE},
        {EPkcs7Error::LimitExceeded, ERR_BAD_SIGNATURE},
        {EPkcs7Error::Unsupported, ERR_SIGN},
        {EPkcs7Error::BadState, ERR_BAD_SIGNATURE},
        {EPkcs7Error::Output, ERR_BAD_SIGNATURE},
        {EPkcs7Error::Crypto, ERR_WINDOWS_UNKNOWN},
        {EPkcs7Error::BadIndex, ERR_WINDOWS_UNKNOWN},
        {EPkcs7Error::SignerMismatch, ERR_WINDOWS_UNKNOWN},
        {EPkcs7Error::MissingDigest, ERR_WINDOWS_UNKNOWN},
        {EPkcs7Error::HashMismatch, ERR_WINDOWS_UNKNOWN},
        {EPkcs7Error::BadSignature, ERR_WINDOWS_UNKNOWN},
        {EPkcs7Error::NotData, ERR_BAD_SIGNATURE},
        {EPkcs7Error::Detached, ERR_BAD_SIGNATURE},
        {EPkcs7Error::SignerNotFound, ERR_WINDOWS_UNKNOWN},
        {EPkcs7Error::AmbiguousSigner, ERR_BAD_SIGNATURE},
        {EPkcs7Error::AmbiguousDigest, ERR_BAD_SIGNATURE},
        {EPkcs7Error::ContentTypeMismatch, ERR_BAD_SIGNATURE},
        {EPkcs7Error::DigestNotAnnounced, ERR_BAD_SIGNATURE},
        {EPkcs7Error::AlgorithmMismatch, ERR_BAD_SIGNATURE},
        {EPkcs7Error::UnsupportedSignature, ERR_BAD_SIGNATURE},
    };
    for (const Case& c : cases) {
        CTarvoselException e(EXC_WINDOWS, static_cast<long>(Pkcs7ErrorToWinError(c.e)),
                             "CTest::Codec");
        EXPECT_EQ(c.nResult, e.GetResultCode()) << Pkcs7ErrorText(c.e);
    }
}

TEST(CTarvoselException, OwnKeepsTheResultCode)
{
    CTarvoselException e(EXC_OWN, ERR_NO_SESSION, "CTarvoselApp::SignFile");
    EXPECT_EQ(ERR_NO_SESSION, e.GetResultCode());
    EXPECT_EQ(ERR_NO_SESSION, e.GetSubCode());
}

TEST(CTarvoselException, Descriptions)
{
    EXPECT_EQ("Excepci\xF3n Tarvosel en CTarvoselApp::SignFile: -1002 -> "
              "'No existe una sesi\xF3n de usuario abierta'",
              CTarvoselException(EXC_OWN, ERR_NO_SESSION, "CTarvoselApp::SignFile").GetDescription());

    EXPECT_EQ("Excepci\xF3n Entrust en CEntrustSession::Login: 'Signer not trusted'. "
              "Error Tarvosel: -1012 -> 'El fichero no est\xE1 firmado por la Ormavia'",
              CTarvoselException(EXC_ENTRUST, -296, "CEntrustSession::Login").GetDescription());
    // A toolkit code without text leaves the sub-code text empty.
    EXPECT_EQ("Excepci\xF3n Entrust en C::Op: ''. Error Tarvosel: -1023 -> "
              "'Error Entrust desconocido'",
              CTarvoselException(EXC_ENTRUST, -1, "C::Op").GetDescription());

    std::string strWin =
        CTarvoselException(EXC_WINDOWS, static_cast<long>(0x80090016), "CWincryptSession::SignFile")
            .GetDescription();
    const std::string strHead = "Excepci\xF3n Sistema en CWincryptSession::SignFile: '(0x80090016) ";
    const std::string strTail =
        "'. Error Tarvosel: -1026 -> 'No se ha podido acceder a la clave privada de los "
        "certificados de usuario'";
    ASSERT_EQ(strHead, strWin.substr(0, strHead.size()));
    ASSERT_GE(strWin.size(), strHead.size() + strTail.size());
    EXPECT_EQ(strTail, strWin.substr(strWin.size() - strTail.size()));
    // The system text loses its line end.
    EXPECT_EQ(std::string::npos, strWin.find_first_of("\r\n"));
}

TEST(CTarvoselException, DescriptionOfAnUnknownWindowsCodeStillBuilds)
{
    std::string s = CTarvoselException(EXC_WINDOWS, static_cast<long>(0xDEADBEEF), "C::Op")
                        .GetDescription();
    EXPECT_EQ(0u, s.find("Excepci\xF3n Sistema en C::Op: '(0xDEADBEEF) "));
    EXPECT_NE(std::string::npos, s.find("-1024 -> 'Error Windows desconocido'"));
}

TEST(IsEntrustFailure, WarningsAndFailures)
{
    struct Case {
        int16_t nCode;
        bool bFailure;
    } cases[] = {
        {0, false}, {-1, true}, {-296, true}, {-1086, true}, {5, false}, {-498, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.bFailure, IsEntrustFailure(c.nCode)) << c.nCode;
}
