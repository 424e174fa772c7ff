// The export frame around a stand-in session: what the host's record and the
// log receive. The exports are compiled into this executable.
#include <windows.h>
#include <gtest/gtest.h>

#include <stdlib.h>

#include <new>

#include "api/Exports.h"
#include "api/ResultCodes.h"
#include "app/CTarvoselApp.h"
#include "tests/app/AppTestSupport.h"
#include "tests/app/FakeSession.h"
#include "tests/support/TestFiles.h"

// Allocation failures on demand, on the thread that asks for them only (the
// library's interface thread goes on as usual).
namespace {
thread_local bool t_bFailAllocations = false;
}  // namespace

void* operator new(size_t nSize)
{
    if (t_bFailAllocations)
        throw std::bad_alloc();
    void* p = malloc(nSize != 0 ? nSize : 1);
    if (p == nullptr)
        throw std::bad_alloc();
    return p;
}

void operator delete(void* p) noexcept
{
    free(p);
}

void operator delete(void* p, size_t) noexcept
{
    free(p);
}

namespace {
class ExportFrameTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        apptest::WriteIni("Log=1\r\n");
        ASSERT_EQ(RESULT_OK, Inicializar(0));
        m_pSession = new FakeSession(2);
        GetTarvoselApp().AdoptSession(m_pSession);
    }
    void TearDown() override
    {
        Finalizar();
        DeleteFileA(apptest::IniPath().c_str());
    }
    FakeSession* m_pSession = nullptr;
};

struct HostRecord {
    char szIssuer[5000] = "?", szIni[5000] = "?", szName[5000] = "?", szNIF[5000] = "?",
         szDetail[5000] = "?";
    CS_LOGINDATA data;
    HostRecord() : data{7, szIssuer, szIni, szName, szNIF, szDetail, 9} {}
};
}  // namespace

TEST_F(ExportFrameTest, CancelledSigningIsSuccess)
{
    m_pSession->m_fnSign = [](const std::string&, const std::string&) {
        throw new CTarvoselException(EXC_WINDOWS, static_cast<long>(0x80100030), "FakeSession::Sign");
    };
    tvltest::LogCapture log("cancelled");
    EXPECT_EQ(RESULT_OK, FirmarFichero("C:\\a", "C:\\b", 0, 0));
    EXPECT_EQ(RESULT_OK, ObtenerUltimoError());
    std::string s = log.Text();
    size_t nDescription = s.find(" - Excepci\xF3n Sistema en FakeSession::Sign: '(0x80100030)");
    size_t nCancel = s.find(
        " - Se cancela al firma del Fichero o el banner ha terminado su funci\xF3n.\r\n");
    size_t nResult = s.find(" - Resultado: 0\r\n}\r\n\r\n");
    EXPECT_NE(std::string::npos, nDescription) << s;
    EXPECT_LT(nDescription, nCancel);
    EXPECT_LT(nCancel, nResult);
    EXPECT_NE(std::string::npos, nResult);

    // Any other failure keeps its code.
    m_pSession->m_fnSign = [](const std::string&, const std::string&) {
        throw new CTarvoselException(EXC_WINDOWS, static_cast<long>(0x80100069), "FakeSession::Sign");
    };
    EXPECT_EQ(ERR_CANCELLED, FirmarFichero("C:\\a", "C:\\b", 0, 0));
    EXPECT_EQ(ERR_CANCELLED, ObtenerUltimoError());
}

TEST_F(ExportFrameTest, SessionDataReachesTheHostRecord)
{
    HostRecord r;
    EXPECT_EQ(RESULT_OK, InfoSesion(&r.data));
    EXPECT_STREQ("12345678Z", r.szNIF);
    EXPECT_STREQ("JUAN GARCIA LOPEZ", r.szName);
    EXPECT_STREQ("CN=ISSUER", r.szIssuer);
    EXPECT_STREQ("CN=AUTH", r.szDetail);
    EXPECT_STREQ("", r.szIni);
    EXPECT_EQ(0, r.data.bOnline);
    EXPECT_EQ(7, r.data.nType);  // InfoSesion leaves it as the host set it

    // A second login while one is open: -1001 and nType -1.
    tvltest::LogCapture log("login");
    EXPECT_EQ(ERR_SESSION_ALREADY_OPEN, Login(&r.data));
    EXPECT_EQ(-1, r.data.nType);
    EXPECT_NE(std::string::npos, log.Text().find(" - Resultado: -1001\r\n}\r\n"));
    EXPECT_EQ(1, UsuarioValidado());
}

TEST_F(ExportFrameTest, ProfileSessionDataReachesTheHostRecord)
{
    m_pSession->m_nType = 0;
    m_pSession->m_profile.strIniFile = "C:\\perfiles\\entrust.ini";
    m_pSession->m_profile.strProfilePath = "C:\\perfiles\\juan.epf";
    m_pSession->m_profile.bOnline = 1;
    HostRecord r;
    EXPECT_EQ(RESULT_OK, InfoSesion(&r.data));
    EXPECT_STREQ("JUAN GARCIA LOPEZ", r.szName);
    EXPECT_STREQ("C:\\perfiles\\entrust.ini", r.szIni);
    EXPECT_STREQ("C:\\perfiles\\juan.epf", r.szDetail);
    EXPECT_EQ(1, r.data.bOnline);
    EXPECT_EQ(7, r.data.nType);

    // Offline, without an initialisation file: the host's old texts go.
    m_pSession->m_profile.strIniFile.clear();
    m_pSession->m_profile.bOnline = 0;
    EXPECT_EQ(RESULT_OK, InfoSesion(&r.data));
    EXPECT_STREQ("", r.szIni);
    EXPECT_EQ(0, r.data.bOnline);
}

TEST_F(ExportFrameTest, ExportSslAndLogout)
{
    char szPath[5000] = "", szPassword[5000] = "secreto";
    tvltest::LogCapture log("export");
    EXPECT_EQ(RESULT_OK, ExportarCertificado(nullptr, szPath, szPassword));
    EXPECT_EQ(CTarvoselApp::GetTempDir() + "tvl0000.pem", szPath);
    EXPECT_STREQ("", szPassword);
    EXPECT_NE(std::string::npos, log.Text().find(" - Pem generado ... Ok\r\n"));
    EXPECT_EQ(0, ObtenerHandleSSL(reinterpret_cast<const char*>(1)));
    EXPECT_EQ(RESULT_OK, Logout());
    EXPECT_EQ(0, UsuarioValidado());
    EXPECT_EQ(ERR_NO_SESSION, ObtenerHandleSSL(nullptr));
}

TEST_F(ExportFrameTest, AllocationFailuresAroundTheOperationStayInside)
{
    // The banner cannot be built: the export fails with -1032 and the operation
    // does not run.
    int nResult = 1;
    t_bFailAllocations = true;
    try {
        nResult = Logout();
    } catch (...) {
        nResult = 1;
    }
    t_bFailAllocations = false;
    EXPECT_EQ(ERR_NO_MEMORY, nResult);
    EXPECT_EQ(ERR_NO_MEMORY, ObtenerUltimoError());
    EXPECT_EQ(1, UsuarioValidado());

    // The failure's description cannot be built: the failure keeps its code.
    m_pSession->m_fnSSLHandle = []() -> int {
        CTarvoselException* e = new CTarvoselException(EXC_OWN, ERR_FILE_READ, "FakeSession::SSL");
        t_bFailAllocations = true;
        throw e;
    };
    try {
        nResult = ObtenerHandleSSL(nullptr);
    } catch (...) {
        nResult = 1;
    }
    t_bFailAllocations = false;
    EXPECT_EQ(ERR_FILE_READ, nResult);
    EXPECT_EQ(ERR_FILE_READ, ObtenerUltimoError());
}
