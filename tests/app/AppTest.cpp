#include <gtest/gtest.h>

#include <string.h>

#include <vector>

#include "api/ResultCodes.h"
#include "host/Messages.h"
#include "cert/wincrypt/CAuthorityStore.h"
#include "tests/app/AppTestSupport.h"
#include "tests/app/FakeSession.h"
#include "tests/support/LoginDriver.h"
#include "tests/support/TestCapture.h"
#include "tests/support/TestThreads.h"
#include "tests/support/TestWait.h"

using tvltest::ResultOf;
using tvltest::WaitFor;

namespace {
class AppTest : public ::testing::Test {
protected:
    void SetUp() override { apptest::WriteIni("Log=1\r\n"); }
    void TearDown() override
    {
        ResultOf([] { GetTarvoselApp().Finalize(); });
        DeleteFileA(apptest::IniPath().c_str());
    }
    CTarvoselApp& App() { return GetTarvoselApp(); }
};
}  // namespace

TEST_F(AppTest, WithoutIniInitializeFailsAndLeavesNoThread)
{
    DeleteFileA(apptest::IniPath().c_str());
    int nThreads = apptest::CountThreads();
    EXPECT_EQ(ERR_INI_FILE, ResultOf([&] { App().Initialize(0); }));
    EXPECT_FALSE(App().IsInitialized());
    EXPECT_EQ(0u, App().GetInterfaceThreadId());
    EXPECT_EQ(nThreads, apptest::CountThreads());
}

TEST_F(AppTest, EnvironmentIsReadAndAnnounced)
{
    struct Case {
        const char* pszValue;
        int nEnvironment;
        const char* pszLine;
    } cases[] = {
        {nullptr, 0, " - Tarvosel entorno de Producci\xF3n.\r\n"},
        {"0", 0, " - Tarvosel entorno de Producci\xF3n.\r\n"},
        {"1", 1, " - Tarvosel entorno de Integraci\xF3n.\r\n"},
        {"2", 2, " - Tarvosel entorno de Pre-explotaci\xF3n.\r\n"},
        {"7", 7, " - Tarvosel entorno de _Producci\xF3n_\r\n"},
    };
    for (const Case& c : cases) {
        apptest::WriteIni(c.pszValue ? std::string("intpreepro=") + c.pszValue + "\r\n" : "");
        tvltest::LogCapture log("env");
        ASSERT_EQ(0, ResultOf([&] { App().Initialize(0); }));
        EXPECT_EQ(c.nEnvironment, App().GetEnvironment());
        std::string s = log.Text();
        EXPECT_NE(std::string::npos, s.find(c.pszLine)) << s;
        EXPECT_NE(std::string::npos, s.find(" - CryptoAPI cargada correctamente\r\n"));
        App().Finalize();
    }
}

// The tests carry the test authorities, whose private keys are in the
// repository: Inicializar says so, and so does the version resource.
TEST_F(AppTest, TestTrustIsAnnouncedAtInitialiseAndInTheVersionResource)
{
    ASSERT_TRUE(CAuthorityStore::IsTestTrust());
    tvltest::LogCapture log("trust");
    ASSERT_EQ(0, ResultOf([&] { App().Initialize(0); }));
    EXPECT_NE(std::string::npos,
              log.Text().find(" - AVISO: Tarvosel compilado con las autoridades de PRUEBA, cuyas "
                              "claves privadas son p\xFA" "blicas: acepta firmas que cualquiera "
                              "puede hacer. No debe usarse en producci\xF3n\r\n"))
        << log.Text();
    App().Finalize();

    char szModule[MAX_PATH] = "";
    ASSERT_NE(0u, GetModuleFileNameA(nullptr, szModule, sizeof(szModule)));
    DWORD dwHandle = 0;
    DWORD cb = GetFileVersionInfoSizeA(szModule, &dwHandle);
    ASSERT_NE(0u, cb);
    std::vector<char> info(cb);
    ASSERT_TRUE(GetFileVersionInfoA(szModule, 0, cb, info.data()));
    VS_FIXEDFILEINFO* pFixed = nullptr;
    UINT cbFixed = 0;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&pFixed), &cbFixed));
    EXPECT_NE(0u, pFixed->dwFileFlags & pFixed->dwFileFlagsMask & VS_FF_SPECIALBUILD);
    char* pszText = nullptr;
    UINT cchText = 0;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\StringFileInfo\\0c0a04e4\\SpecialBuild",
                               reinterpret_cast<void**>(&pszText), &cchText));
    EXPECT_EQ(0, strncmp(pszText, "CONFIANZA DE PRUEBA", 19)) << pszText;
    // The version strings stay as they were.
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\StringFileInfo\\0c0a04e4\\ProductVersion",
                               reinterpret_cast<void**>(&pszText), &cchText));
    EXPECT_STREQ("6, 0, 0, 25", pszText);
}

TEST_F(AppTest, SectionNameIgnoresCaseAndLogKeyTurnsTheLogOff)
{
    tvltest::WriteAll(apptest::IniPath(), "[CONFIGURACION TARVOSEL]\r\nLog=0\r\nIntpreepro=2\r\n");
    tvltest::LogCapture log("logoff");
    ASSERT_EQ(0, ResultOf([&] { App().Initialize(0); }));
    EXPECT_EQ(2, App().GetEnvironment());
    EXPECT_EQ("", log.Text());
    EXPECT_FALSE(CLog::IsEnabled());
}

TEST_F(AppTest, SecondInitializeChangesNothingAndFinalizeStopsTheThread)
{
    ASSERT_EQ(0, ResultOf([&] { App().Initialize(0); }));
    DWORD dwThread = App().GetInterfaceThreadId();
    ASSERT_NE(0u, dwThread);
    App().SetTempDir("D:\\keep");
    ASSERT_EQ(0, ResultOf([&] { App().Initialize(1); }));
    EXPECT_EQ(dwThread, App().GetInterfaceThreadId());
    EXPECT_EQ("D:\\keep\\", CTarvoselApp::GetTempDir());

    HANDLE hThread = OpenThread(SYNCHRONIZE, FALSE, dwThread);
    ASSERT_NE(nullptr, hThread);
    DWORD dwStart = GetTickCount();
    App().Finalize();
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(hThread, 0));
    EXPECT_LT(GetTickCount() - dwStart, 1000u);
    CloseHandle(hThread);
    EXPECT_FALSE(App().IsInitialized());
    EXPECT_EQ(ERR_NOT_INITIALISED, ResultOf([&] { App().SessionOpened(); }));

    // And it can start again.
    ASSERT_EQ(0, ResultOf([&] { App().Initialize(0); }));
    EXPECT_NE(0u, App().GetInterfaceThreadId());
    EXPECT_EQ("C:\\", CTarvoselApp::GetTempDir());
}

TEST_F(AppTest, TempDirectory)
{
    EXPECT_EQ(ERR_NOT_INITIALISED, ResultOf([&] { App().SetTempDir("D:\\tmp"); }));
    ASSERT_EQ(0, ResultOf([&] { App().Initialize(0); }));
    EXPECT_EQ("C:\\", CTarvoselApp::GetTempDir());
    struct Case {
        const char* pszIn;
        const char* pszOut;
    } cases[] = {{"D:\\tmp", "D:\\tmp\\"}, {"D:\\tmp\\", "D:\\tmp\\"}, {"", "C:\\"}, {"E:", "E:\\"}};
    for (const Case& c : cases) {
        App().SetTempDir(c.pszIn);
        EXPECT_EQ(c.pszOut, CTarvoselApp::GetTempDir()) << c.pszIn;
    }
}

// The session information dialog reads the folder on the interface thread
// while the host may set it on its own: a reader sees one folder or the other,
// whole, never a mixture.
TEST_F(AppTest, TempDirectoryReadWhileTheHostSetsItIsAlwaysWhole)
{
    ASSERT_EQ(0, ResultOf([&] { App().Initialize(0); }));
    const std::string strA = "D:\\" + std::string(4000, 'a') + "\\";
    const std::string strB = "E:\\" + std::string(4000, 'b') + "\\";
    App().SetTempDir(strA);
    volatile LONG bStop = 0;
    LONG nReads = 0, nTorn = 0;
    {
        tvltest::TestThread reader([&] {
            while (!bStop) {
                std::string strDir = CTarvoselApp::GetTempDir();
                if (strDir != strA && strDir != strB)
                    ++nTorn;
                // The dialog's export takes its name from it.
                if (nReads % 64 == 0) {
                    std::string strName = CTarvoselApp::MakeTempFileName("pem");
                    if (strName != strA + "tvl0000.pem" && strName != strB + "tvl0000.pem")
                        ++nTorn;
                }
                ++nReads;
            }
        });
        ASSERT_TRUE(reader.Started());
        for (int i = 0; i < 300000; ++i)
            App().SetTempDir(i % 2 ? strA : strB);
        InterlockedExchange(&bStop, 1);
        ASSERT_TRUE(reader.Join(60000));
    }
    EXPECT_GT(nReads, 0);
    EXPECT_EQ(0, nTorn);
}

TEST_F(AppTest, TempFileNamesSkipExistingFiles)
{
    ASSERT_EQ(0, ResultOf([&] { App().Initialize(0); }));
    std::string strDir = tvltest::MakeScratchFolder("tempnames");
    App().SetTempDir(strDir);
    EXPECT_EQ(strDir + "tvl0000.tmp", CTarvoselApp::MakeTempFileName("tmp"));
    tvltest::WriteAll(strDir + "tvl0000.tmp", "x");
    EXPECT_EQ(strDir + "tvl0001.tmp", CTarvoselApp::MakeTempFileName("tmp"));
    EXPECT_EQ(strDir + "tvl0000.pem", CTarvoselApp::MakeTempFileName("pem"));
    tvltest::WriteAll(strDir + "tvl0001.tmp", "x");
    tvltest::WriteAll(strDir + "tvl0003.tmp", "x");
    EXPECT_EQ(strDir + "tvl0002.tmp", CTarvoselApp::MakeTempFileName("tmp"));
    tvltest::RemoveFolder(strDir);
}

TEST_F(AppTest, SharedHelpers)
{
    EXPECT_FALSE(CTarvoselApp::FileExists(""));
    EXPECT_FALSE(CTarvoselApp::FileExists(tvltest::ExeFolder() + "no-such-file"));
    EXPECT_TRUE(CTarvoselApp::FileExists(apptest::IniPath()));
    EXPECT_EQ(tvltest::ExeFolder() + "tarvosel.ini", CTarvoselApp::GetHostIniPath());
    EXPECT_EQ("6.0.0.25", CTarvoselApp::GetProductVersion());

    EXPECT_EQ(nullptr, CTarvoselApp::FindHostWindow());
    HWND hWnd = CreateWindowA("STATIC", "host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 100, 100,
                              nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, hWnd);
    EXPECT_EQ(hWnd, CTarvoselApp::FindHostWindow());
    DestroyWindow(hWnd);
}

TEST_F(AppTest, CardRemovalInvalidatesOnlyTheSessionOfThatReader)
{
    ASSERT_EQ(0, ResultOf([&] { App().Initialize(0); }));
    FakeSession* pSession = new FakeSession(1);
    App().AdoptSession(pSession);
    DWORD dwThread = App().GetInterfaceThreadId();

    // Removal from another reader: looked at, left valid.
    PostThreadMessageA(dwThread, WM_CARD_EVENT, 0, 0);
    ASSERT_TRUE(WaitFor([&] { return pSession->m_nDataReads == 1; }));
    EXPECT_EQ(SESSION_OPEN, pSession->GetState());

    // Insertion into the session's reader: ignored without a dialog.
    PostThreadMessageA(dwThread, WM_CARD_EVENT, 1, 1);
    PostThreadMessageA(dwThread, WM_CARD_EVENT, 0, 3);
    ASSERT_TRUE(WaitFor([&] { return pSession->m_nDataReads == 2; }));
    EXPECT_EQ(SESSION_OPEN, pSession->GetState());

    PostThreadMessageA(dwThread, WM_CARD_EVENT, 0, 1);
    ASSERT_TRUE(WaitFor([&] { return (pSession->GetState() & SESSION_INVALID) != 0; }));
    EXPECT_EQ(SESSION_OPEN | SESSION_INVALID, pSession->GetState());
    EXPECT_EQ(1, App().SessionOpened());

    // No reader holds a card: the insert-card dialog asks first; Escape.
    DWORD dwUiThread = GetCurrentThreadId();
    bool bAsked = false;
    tvltest::CDriver driver([&] {
        HWND hDlg = tvltest::WaitForCardDialog(dwUiThread);
        bAsked = hDlg != nullptr;
        if (hDlg != nullptr)
            tvltest::PressKey(hDlg, VK_ESCAPE);
    }, dwUiThread);
    App().ReopenInvalidSession();
    driver.Join();
    EXPECT_TRUE(bAsked);
    EXPECT_EQ(SESSION_OPEN, pSession->GetState());
    EXPECT_EQ(1, pSession->m_nReopens);
}

TEST_F(AppTest, CardEventsGoToTheOpenCardDialog)
{
    ASSERT_EQ(0, ResultOf([&] { App().Initialize(0); }));
    FakeSession* pSession = new FakeSession(0);
    App().AdoptSession(pSession);
    HWND hDialog = CreateWindowA("STATIC", "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, hDialog);
    App().SetCardDialog(hDialog);
    PostThreadMessageA(App().GetInterfaceThreadId(), WM_CARD_EVENT, 0, 0);

    MSG msg = {};
    bool bGot = false;
    DWORD dwStart = GetTickCount();
    while (!bGot && GetTickCount() - dwStart < 5000) {
        if (PeekMessageA(&msg, hDialog, WM_CARD_EVENT, WM_CARD_EVENT, PM_REMOVE))
            bGot = true;
        else
            Sleep(5);
    }
    ASSERT_TRUE(bGot);
    EXPECT_EQ(0u, msg.wParam);
    EXPECT_EQ(0, msg.lParam);
    // The dialog took the event: the session is not touched.
    EXPECT_EQ(SESSION_OPEN, pSession->GetState());
    App().SetCardDialog(nullptr);
    DestroyWindow(hDialog);
}

TEST_F(AppTest, SessionLifecycleThroughTheApplication)
{
    ASSERT_EQ(0, ResultOf([&] { App().Initialize(0); }));
    EXPECT_EQ(ERR_NO_SESSION, ResultOf([&] {
                  CS_SESSIONINFO info;
                  App().GetSessionInfo(&info);
              }));
    EXPECT_EQ(0, App().SessionOpened());
    volatile LONG nDeleted = 0;
    FakeSession* pSession = new FakeSession(-1, &nDeleted);
    App().AdoptSession(pSession);
    EXPECT_EQ(1, App().SessionOpened());
    {
        CS_SESSIONINFO info;
        App().GetSessionInfo(&info);
        EXPECT_EQ("12345678Z", info.strNIF);
        EXPECT_EQ(ERR_SESSION_ALREADY_OPEN, ResultOf([&] { App().OpenSession(&info); }));
        EXPECT_EQ(-1, info.nType);
        // The record keeps the session its details point into.
        App().CloseSession();
        EXPECT_EQ(0, nDeleted);
        EXPECT_EQ(-1, static_cast<const CS_CARDINFO*>(info.pDetails)->nReader);
    }
    EXPECT_EQ(1, nDeleted);

    // Finalize closes and deletes the session.
    nDeleted = 0;
    App().AdoptSession(new FakeSession(-1, &nDeleted));
    App().Finalize();
    EXPECT_EQ(1, nDeleted);
}

TEST_F(AppTest, FailedReopeningLogsTheUserOut)
{
    ASSERT_EQ(0, ResultOf([&] { App().Initialize(0); }));
    volatile LONG nDeleted = 0;
    // Bound to no reader: nothing to ask for before the reopening.
    FakeSession* pSession = new FakeSession(-1, &nDeleted);
    pSession->m_bFailReopen = true;
    App().AdoptSession(pSession);
    pSession->Invalidate();
    tvltest::LogCapture log("reopen");
    EXPECT_EQ(ERR_PRIVATE_KEY, ResultOf([&] { App().ReopenInvalidSession(); }));
    EXPECT_EQ(1, nDeleted);
    EXPECT_EQ(0, App().SessionOpened());
    std::string s = log.Text();
    EXPECT_NE(std::string::npos, s.find(" - La sesi\xF3n es inv\xE1lida. Reabriendo...\r\n"));
    EXPECT_NE(std::string::npos, s.find(" - Se cerr\xF3 la sesi\xF3n...\r\n"));
}

// Run only with crypt32 disabled (see CMakeLists.txt): the CryptoAPI table
// cannot load.
TEST(AppWithoutCryptoApi, FailedInitializeLeavesNothingRunning)
{
    HMODULE hCrypt32 = LoadLibraryA("crypt32.dll");
    if (hCrypt32 != nullptr)
        FreeLibrary(hCrypt32);
    ASSERT_EQ(nullptr, hCrypt32) << "crypt32 loads: this case needs it disabled";
    apptest::WriteIni("Log=1\r\n");
    tvltest::LogCapture log("nocrypt");
    int nThreads = apptest::CountThreads();
    int nResult = ResultOf([] { GetTarvoselApp().Initialize(0); });
    EXPECT_EQ(ERR_WINDOWS_UNKNOWN, nResult);
    EXPECT_FALSE(GetTarvoselApp().IsInitialized());
    EXPECT_EQ(0u, GetTarvoselApp().GetInterfaceThreadId());
    EXPECT_TRUE(WaitFor([&] { return apptest::CountThreads() == nThreads; }));
    EXPECT_EQ(std::string::npos, log.Text().find("CryptoAPI cargada correctamente"));
    DeleteFileA(apptest::IniPath().c_str());
}

TEST_F(AppTest, AnotherApplicationObjectStandsApart)
{
    ASSERT_EQ(0, ResultOf([&] { App().Initialize(0); }));
    CHostSettings settings;
    volatile LONG nDeleted = 0;
    {
        CTarvoselApp other(settings);
        FakeSession* pSession = new FakeSession(-1, &nDeleted);
        other.AdoptSession(pSession);
        EXPECT_EQ(pSession, other.LendSession().get());
        EXPECT_EQ(nullptr, App().LendSession());
        HWND hDialog = reinterpret_cast<HWND>(0x1234);
        other.CardDialogRegistration()(hDialog);
        EXPECT_EQ(hDialog, other.GetCardDialog());
        EXPECT_EQ(nullptr, App().GetCardDialog());
        // Not initialised, whatever the library's object is.
        EXPECT_EQ(ERR_NOT_INITIALISED, ResultOf([&] { other.GetSSLHandle(""); }));
        EXPECT_EQ(0u, other.GetInterfaceThreadId());
        EXPECT_NE(0u, App().GetInterfaceThreadId());
        EXPECT_EQ(0, nDeleted);
    }
    // Its session went with it.
    EXPECT_EQ(1, nDeleted);
    EXPECT_EQ("C:\\", CTarvoselApp::GetTempDir());
}
