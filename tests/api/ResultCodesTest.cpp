#include <gtest/gtest.h>

#include "api/CTarvoselException.h"
#include "api/ResultCodes.h"

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
