// The notification-area window on the interface thread, with the notification
// area that Wine provides: the entry's icon read back from the tray's window,
// the tip from the tray's tooltip for it and from the library's own record, clicks
// delivered through the tray as the callback message.
#include <gtest/gtest.h>

#include "api/ResultCodes.h"
#include "app/CTarvoselWnd.h"
#include "host/Messages.h"
#include "cert/entrust/EntrustRecords.h"
#include "https/CHTTPSDlg.h"
#include "platform/framework/CWinApp.h"
#include "res/resource.h"
#include "tests/app/AppTestSupport.h"
#include "tests/app/FakeSession.h"
#include "tests/app/RealSession.h"
#include "tests/support/LoginDriver.h"
#include "tests/support/TestCapture.h"
#include "tests/support/TestDriver.h"
#include "tests/support/TestThreads.h"
#include "tests/support/TrayArea.h"

using tvltest::Gate;
using tvltest::ResultOf;
using tvltest::TestThread;
using tvltest::WaitFor;

namespace {
const char kNoActiveSession[] = "No hay sesi\xF3n activa";
const char kNoUserSession[] = "No hay sesi\xF3n de usuario";
const char kDialogCaption[] = "Informaci\xF3n del usuario";
const char kSessionBusy[] =
    "La sesi\xF3n est\xE1 ocupada con otra operaci\xF3n. Int\xE9ntelo de nuevo cuando termine.";
// What "at once" means for the interface thread.
const DWORD kAnswerMs = 1000;

HICON TrayIcon(int nId)
{
    return static_cast<HICON>(LoadImageA(CWinApp::GetInstanceHandle(), MAKEINTRESOURCEA(nId),
                                         IMAGE_ICON, 16, 16, LR_SHARED | LR_VGACOLOR));
}

// A stand-in session of either kind with a name of the test's choice.
class NamedSession : public FakeSession {
public:
    NamedSession(int nType, const std::string& strName) : FakeSession(-1), m_strName(strName)
    {
        m_nType = nType;
        m_profile.bOnline = 1;
    }
    void GetSessionData(CS_SESSIONINFO* pInfo) override
    {
        FakeSession::GetSessionData(pInfo);
        if (pInfo == nullptr)
            return;
        pInfo->strName = m_strName;
        if (m_nType == SESSION_KIND_ENTRUST)
            pInfo->pDetails = &m_profile;
    }
    std::string m_strName;
    CS_EPFPROFILE m_profile;
};

// A shell that does not answer one kind of call (NIM_ADD or NIM_MODIFY) until
// released; the other calls go to the real shell.
struct StuckShell {
    static DWORD s_dwStuck;
    static HANDLE s_hEntered, s_hRelease;
    static void Install(DWORD dwStuck)
    {
        s_dwStuck = dwStuck;
        // A killed thread may have been left waiting on the last ones.
        s_hEntered = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        s_hRelease = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        CTarvoselWnd::SetShellCall(Call);
    }
    static void Uninstall()
    {
        CTarvoselWnd::SetShellCall(nullptr);
        SetEvent(s_hRelease);
    }
    static bool WaitEntered() { return WaitForSingleObject(s_hEntered, 5000) == WAIT_OBJECT_0; }
    static BOOL WINAPI Call(DWORD dwMessage, PNOTIFYICONDATAA pData)
    {
        if (dwMessage == s_dwStuck) {
            SetEvent(s_hEntered);
            WaitForSingleObject(s_hRelease, 20000);
        }
        return Shell_NotifyIconA(dwMessage, pData);
    }
};
DWORD StuckShell::s_dwStuck = 0;
HANDLE StuckShell::s_hEntered = nullptr;
HANDLE StuckShell::s_hRelease = nullptr;

// A session whose SSL handle makes the helper window, on the calling thread,
// and whose deletion destroys it, as the real sessions do.
class SslSession : public FakeSession {
public:
    explicit SslSession(volatile LONG* pnDeleted) : FakeSession(-1, pnDeleted) {}
    ~SslSession() override { m_dialog.DestroyWindow(); }
    INT_PTR GetSSLHandle() override
    {
        m_dialog.Create(nullptr);
        return 1;
    }
    HWND Window() const { return m_dialog.GetSafeHwnd(); }

private:
    CHTTPSDlg m_dialog;
};

// What the interface thread takes from its queue for the tray window, seen
// through a message hook: refreshes, up to a marker posted after them (the
// queue keeps the order of posting).
class PostedToTray {
public:
    PostedToTray(DWORD dwThread, HWND hWnd)
    {
        s_hWnd = hWnd;
        s_nRefreshes = 0;
        s_bMarked = 0;
        m_hHook = SetWindowsHookExA(WH_GETMESSAGE, Proc, nullptr, dwThread);
    }
    ~PostedToTray()
    {
        if (m_hHook != nullptr)
            UnhookWindowsHookEx(m_hHook);
    }
    bool Hooked() const { return m_hHook != nullptr; }
    // Everything posted before this has been taken once WaitMarked is true.
    void Mark() { PostMessageA(s_hWnd, WM_NULL, 0, kMarker); }
    bool WaitMarked() { return WaitFor([] { return s_bMarked != 0; }); }
    LONG Refreshes() const { return s_nRefreshes; }

private:
    static const LPARAM kMarker = 0x7A7A;
    static LRESULT CALLBACK Proc(int nCode, WPARAM wParam, LPARAM lParam)
    {
        const MSG* pMsg = reinterpret_cast<const MSG*>(lParam);
        if (nCode == HC_ACTION && wParam == PM_REMOVE && pMsg->hwnd == s_hWnd && !s_bMarked) {
            if (pMsg->message == WM_REFRESH)
                InterlockedIncrement(&s_nRefreshes);
            else if (pMsg->message == WM_NULL && pMsg->lParam == kMarker)
                InterlockedExchange(&s_bMarked, 1);
        }
        return CallNextHookEx(nullptr, nCode, wParam, lParam);
    }
    static HWND s_hWnd;
    static volatile LONG s_nRefreshes, s_bMarked;
    HHOOK m_hHook = nullptr;
};
HWND PostedToTray::s_hWnd = nullptr;
volatile LONG PostedToTray::s_nRefreshes = 0;
volatile LONG PostedToTray::s_bMarked = 0;

class TrayWindowTest : public ::testing::Test {
protected:
    void SetUp() override { apptest::WriteIni("Log=1\r\n"); }
    void TearDown() override
    {
        ResultOf([] { GetTarvoselApp().Finalize(); });
        DeleteFileA(apptest::IniPath().c_str());
    }
    CTarvoselApp& App() { return GetTarvoselApp(); }
    DWORD InterfaceThread() { return App().GetInterfaceThreadId(); }
    void Refresh() { PostMessageA(App().GetTrayWindow(), WM_REFRESH, 0, 0); }
    // A click on the entry as the shell reports it.
    void Click(LPARAM lMouse = WM_LBUTTONUP, WPARAM wId = CTarvoselWnd::ICON_ID)
    {
        PostMessageA(App().GetTrayWindow(), WM_TRAY_NOTIFY, wId, lMouse);
    }
    static std::string Tip() { return CTarvoselWnd::GetEntryRecord().strTip; }
    static bool WaitForTip(const std::string& strTip, DWORD dwMs = kAnswerMs)
    {
        return WaitFor([&] { return Tip() == strTip; }, dwMs);
    }
    // The tray shows strTip for the entry (it may still show the last one for
    // a moment).
    static bool ShellShowsTip(HWND hIcon, const std::string& strTip)
    {
        std::string strShown;
        bool bShown = WaitFor([&] { return (strShown = tvltest::TrayIconTip(hIcon)) == strTip; });
        if (!bShown)
            ADD_FAILURE() << "the tray shows '" << strShown << "'";
        return bShown;
    }
    // The message box that the dialog's export button brings up on the
    // interface thread; null when none comes at once.
    HWND PressExport(HWND hDialog)
    {
        tvltest::Click(GetDlgItem(hDialog, IDC_INFO_EXPORT));
        return tvltest::WaitForWindow(
            InterfaceThread(),
            [&](HWND h) { return h != hDialog && tvltest::ClassOf(h) == "#32770"; }, kAnswerMs);
    }
    // The session information dialog of the interface thread, visible or not.
    HWND InfoDialog()
    {
        for (HWND h : tvltest::ThreadWindows(InterfaceThread())) {
            if (tvltest::ClassOf(h) == "#32770" && tvltest::TextOf(h) == kDialogCaption)
                return h;
        }
        return nullptr;
    }
    HWND WaitForInfoDialog(DWORD dwMs = kAnswerMs)
    {
        return tvltest::WaitForDialog(InterfaceThread(), kDialogCaption, dwMs);
    }
    // The interface thread has handled what was posted to it so far, and what
    // that posted in turn: two refreshes in a row have gone through its queue.
    void Settle()
    {
        for (int i = 0; i < 2; ++i) {
            int nModifies = CTarvoselWnd::GetEntryRecord().nModifies;
            Refresh();
            ASSERT_TRUE(WaitFor(
                [&] { return CTarvoselWnd::GetEntryRecord().nModifies > nModifies; }, 5000));
        }
    }
};
}  // namespace

TEST_F(TrayWindowTest, WithoutBitZeroThereIsNoWindowAndNoEntry)
{
    ASSERT_EQ(0, ResultOf([&] { App().Initialize(0); }));
    EXPECT_NE(0u, InterfaceThread());
    EXPECT_EQ(nullptr, App().GetTrayWindow());
    EXPECT_TRUE(tvltest::ThreadWindows(InterfaceThread()).empty());
    EXPECT_EQ(nullptr, CTarvoselWnd::GetEntryRecord().hWnd);
    EXPECT_EQ(nullptr, tvltest::WaitForTrayIcon(TrayIcon(IDI_TRAY_NO_SESSION), 300));
}

TEST_F(TrayWindowTest, TheEntryComesAndGoesWithTheLibrary)
{
    HICON hNoSession = TrayIcon(IDI_TRAY_NO_SESSION);
    HICON hSession = TrayIcon(IDI_TRAY_SESSION);
    for (int nRun = 0; nRun < 2; ++nRun) {
        SCOPED_TRACE(nRun);
        ASSERT_EQ(0, ResultOf([&] { App().Initialize(1); }));
        HWND hWnd = App().GetTrayWindow();
        ASSERT_NE(nullptr, hWnd);
        EXPECT_EQ(InterfaceThread(), GetWindowThreadProcessId(hWnd, nullptr));
        EXPECT_EQ("Tarvosel Wnd", tvltest::TextOf(hWnd));
        EXPECT_TRUE(GetWindowLongA(hWnd, GWL_EXSTYLE) & WS_EX_TOOLWINDOW);
        EXPECT_FALSE(IsWindowVisible(hWnd));
        EXPECT_EQ(TrayIcon(IDI_TRAY_WINDOW),
                  reinterpret_cast<HICON>(GetClassLongPtrA(hWnd, GCLP_HICON)));
        CTarvoselWnd::CEntryRecord entry = CTarvoselWnd::GetEntryRecord();
        EXPECT_EQ(hWnd, entry.hWnd);
        EXPECT_EQ(WM_TRAY_NOTIFY, entry.uCallbackMessage);
        EXPECT_EQ(hNoSession, entry.hIcon);
        EXPECT_EQ(kNoActiveSession, entry.strTip);
        // The shell shows the icon of no session (on the second run too, after
        // an entry that ended with that same icon).
        HWND hIcon = tvltest::WaitForTrayIcon(hNoSession);
        ASSERT_NE(nullptr, hIcon);
        EXPECT_EQ(kNoActiveSession, tvltest::TrayIconTip(hIcon));

        App().AdoptSession(new FakeSession(-1));
        EXPECT_TRUE(WaitForTip("JUAN GARCIA LOPEZ"));
        EXPECT_TRUE(ShellShowsTip(hIcon, "JUAN GARCIA LOPEZ"));
        EXPECT_EQ(hSession, CTarvoselWnd::GetEntryRecord().hIcon);
        EXPECT_TRUE(WaitFor([&] { return tvltest::TrayIconShows(hIcon, hSession); }));
        App().CloseSession();
        EXPECT_TRUE(WaitForTip(kNoUserSession));
        EXPECT_TRUE(WaitFor([&] { return tvltest::TrayIconShows(hIcon, hNoSession); }));

        int nDeletes = CTarvoselWnd::GetEntryRecord().nDeletes;
        App().Finalize();
        EXPECT_FALSE(IsWindow(hWnd));
        EXPECT_EQ(nDeletes + 1, CTarvoselWnd::GetEntryRecord().nDeletes);
        EXPECT_EQ(nullptr, CTarvoselWnd::GetEntryRecord().hWnd);
        EXPECT_TRUE(WaitFor([&] { return !IsWindow(hIcon) || !IsWindowVisible(hIcon); }));
    }
}

TEST_F(TrayWindowTest, TheIconIsHandedToTheShellOnlyWhenItChanges)
{
    ASSERT_EQ(0, ResultOf([&] { App().Initialize(1); }));
    App().AdoptSession(new FakeSession(-1));
    ASSERT_TRUE(WaitForTip("JUAN GARCIA LOPEZ"));
    CTarvoselWnd::CEntryRecord before = CTarvoselWnd::GetEntryRecord();
    // More refreshes for the same user: the tip again, not the icon.
    Settle();
    CTarvoselWnd::CEntryRecord after = CTarvoselWnd::GetEntryRecord();
    EXPECT_EQ(before.nModifies + 2, after.nModifies);
    EXPECT_EQ(before.nIconsPassed, after.nIconsPassed);
    EXPECT_EQ("JUAN GARCIA LOPEZ", after.strTip);
    // Another user: still the same icon.
    App().CloseSession();
    ASSERT_TRUE(WaitForTip(kNoUserSession));
    App().AdoptSession(new NamedSession(SESSION_KIND_CAPI, "ANA MARTIN PEREZ"));
    ASSERT_TRUE(WaitForTip("ANA MARTIN PEREZ"));
    after = CTarvoselWnd::GetEntryRecord();
    EXPECT_EQ(before.nModifies + 4, after.nModifies);
    EXPECT_EQ(before.nIconsPassed + 2, after.nIconsPassed);
    EXPECT_NE(nullptr, tvltest::WaitForTrayIcon(TrayIcon(IDI_TRAY_SESSION)));
}

// A login through the sheet, as a host asks for it, shows in the entry by
// itself (the other tests hand sessions over with a refresh of their own).
TEST_F(TrayWindowTest, ALoginThroughTheSheetShowsInTheEntry)
{
    ASSERT_EQ(0, ResultOf([&] { App().Initialize(1); }));
    ASSERT_NO_FATAL_FAILURE(Settle());
    DWORD dwThread = GetCurrentThreadId();
    tvltest::CDriver driver(
        [&] {
            tvltest::LoginSheet sheet = tvltest::WaitForLoginSheet(dwThread);
            ASSERT_TRUE(sheet.WaitIdle());
            ASSERT_TRUE(sheet.Select("DIAZ MORA CARLOS"));
            tvltest::Click(sheet.Ok());
        },
        dwThread);
    CS_SESSIONINFO info;
    int nResult = 0;
    ASSERT_EQ(0, ResultOf([&] { nResult = App().OpenSession(&info); }));
    driver.Join();
    ASSERT_EQ(1, nResult);
    EXPECT_TRUE(WaitForTip("CARLOS DIAZ MORA")) << Tip();
    EXPECT_EQ(TrayIcon(IDI_TRAY_SESSION), CTarvoselWnd::GetEntryRecord().hIcon);
    HWND hIcon = tvltest::WaitForTrayIcon(TrayIcon(IDI_TRAY_SESSION));
    ASSERT_NE(nullptr, hIcon);
    EXPECT_TRUE(ShellShowsTip(hIcon, "CARLOS DIAZ MORA"));
    App().CloseSession();
}

// Logging out posts one refresh to the icon when a session went, and nothing
// when there was none.
TEST_F(TrayWindowTest, LogoutRefreshesTheIconOnlyWhenASessionWent)
{
    ASSERT_EQ(0, ResultOf([&] { App().Initialize(1); }));
    App().AdoptSession(new FakeSession(-1));
    ASSERT_TRUE(WaitForTip("JUAN GARCIA LOPEZ"));
    ASSERT_NO_FATAL_FAILURE(Settle());
    for (LONG nExpected : {1, 0}) {
        SCOPED_TRACE(nExpected ? "with a session" : "without one");
        PostedToTray posted(InterfaceThread(), App().GetTrayWindow());
        ASSERT_TRUE(posted.Hooked());
        ASSERT_EQ(0, ResultOf([&] { App().CloseSession(); }));
        posted.Mark();
        ASSERT_TRUE(posted.WaitMarked());
        EXPECT_EQ(nExpected, posted.Refreshes());
    }
    EXPECT_EQ(kNoUserSession, Tip());
}

TEST_F(TrayWindowTest, SessionTips)
{
    std::string strLong(70, 'N');
    struct Case {
        const char* pszWhat;
        int nType;
        std::string strName;
        int nIssuer;
        int bOnline;
        std::string strTip;
    } cases[] = {
        {"Windows certificate", SESSION_KIND_CAPI, "JUAN GARCIA LOPEZ", 3, 1, "JUAN GARCIA LOPEZ"},
        {"profile, production, offline", SESSION_KIND_ENTRUST, "JUAN GARCIA LOPEZ", 2, 0,
         "JUAN GARCIA LOPEZ"},
        {"profile, production, online", SESSION_KIND_ENTRUST, "JUAN GARCIA LOPEZ", 0, 1,
         "JUAN GARCIA LOPEZ (online)"},
        {"profile, development, offline", SESSION_KIND_ENTRUST, "ANA", 5, 0,
         "ANA (desarrollo - raiz nueva generacion)"},
        {"profile, unknown issuer, online", SESSION_KIND_ENTRUST, "ANA", 7, 1,
         "ANA (ca no incluida en almacen interno) (online)"},
        {"profile, pre-production, online, cut", SESSION_KIND_ENTRUST, "GARCIA LOPEZ JUAN", 3, 1,
         "GARCIA LOPEZ JUAN (preexplotacion - raiz nueva generacion) (onl"},
        {"long name", SESSION_KIND_CAPI, strLong, 0, 0, std::string(63, 'N')},
    };
    for (const Case& c : cases) {
        CS_EPFPROFILE profile;
        profile.bOnline = c.bOnline;
        CS_SESSIONINFO info;
        info.nType = c.nType;
        info.strName = c.strName;
        info.pDetails = c.nType == SESSION_KIND_ENTRUST ? &profile : nullptr;
        EXPECT_EQ(c.strTip, CTarvoselWnd::SessionTip(info, c.nIssuer)) << c.pszWhat;
    }

    // Through the window: a tip longer than the shell takes is cut.
    ASSERT_EQ(0, ResultOf([&] { App().Initialize(1); }));
    App().AdoptSession(new NamedSession(SESSION_KIND_CAPI, strLong));
    EXPECT_TRUE(WaitForTip(std::string(63, 'N')));
}

TEST_F(TrayWindowTest, OlderSystemsGetTheVgaIcons)
{
    struct Case {
        DWORD dwPlatform, dwMajor, dwMinor;
        bool bOlder;
    } cases[] = {
        {VER_PLATFORM_WIN32_WINDOWS, 4, 90, true}, {VER_PLATFORM_WIN32_NT, 4, 0, true},
        {VER_PLATFORM_WIN32_NT, 5, 0, true},       {VER_PLATFORM_WIN32_NT, 5, 1, false},
        {VER_PLATFORM_WIN32_NT, 6, 0, false},      {VER_PLATFORM_WIN32_NT, 10, 0, false},
    };
    for (const Case& c : cases) {
        OSVERSIONINFOA v = {};
        v.dwOSVersionInfoSize = sizeof(v);
        v.dwPlatformId = c.dwPlatform;
        v.dwMajorVersion = c.dwMajor;
        v.dwMinorVersion = c.dwMinor;
        EXPECT_EQ(c.bOlder, CTarvoselWnd::IsOlderThanXP(v)) << c.dwMajor << "." << c.dwMinor;
    }
}

// The click through the tray's own window: only "ModoInterfaz" 1 with a
// session open makes a dialog; a right click and another entry's id do nothing.
TEST_F(TrayWindowTest, AClickOpensTheDialogOnlyWhenConfiguredAndLoggedIn)
{
    ASSERT_EQ(0, ResultOf([&] { App().Initialize(1); }));
    App().AdoptSession(new FakeSession(-1));
    HWND hIcon = tvltest::WaitForTrayIcon(TrayIcon(IDI_TRAY_SESSION));
    ASSERT_NE(nullptr, hIcon);
    tvltest::ClickTrayIcon(hIcon);
    Sleep(200);
    Settle();
    EXPECT_EQ(nullptr, InfoDialog()) << "ModoInterfaz 0";

    apptest::WriteIni("Log=1\r\nModoInterfaz=1\r\n");
    tvltest::RightClickTrayIcon(hIcon);
    Click(WM_LBUTTONUP, CTarvoselWnd::ICON_ID + 1);
    Click(WM_MOUSEMOVE);
    Sleep(200);
    Settle();
    EXPECT_EQ(nullptr, InfoDialog()) << "a right click, another id, a move";

    tvltest::ClickTrayIcon(hIcon);
    HWND hDialog = WaitForInfoDialog();
    ASSERT_NE(nullptr, hDialog);
    EXPECT_EQ(nullptr, GetWindow(hDialog, GW_OWNER));
    EXPECT_EQ("JUAN GARCIA LOPEZ, 12345678Z", tvltest::TextOf(GetDlgItem(hDialog, IDC_INFO_USER)));

    // A click with the dialog shown leaves it; "Salir" hides it, and the next
    // click makes a new one.
    tvltest::ClickTrayIcon(hIcon);
    Sleep(200);
    Settle();
    EXPECT_EQ(hDialog, InfoDialog());
    EXPECT_TRUE(IsWindowVisible(hDialog));
    SendMessageA(GetDlgItem(hDialog, IDOK), BM_CLICK, 0, 0);
    EXPECT_FALSE(IsWindowVisible(hDialog));
    EXPECT_TRUE(IsWindow(hDialog));
    Click();
    HWND hNext = WaitForInfoDialog();
    ASSERT_NE(nullptr, hNext);
    EXPECT_FALSE(IsWindow(hDialog));

    // Logging out takes the dialog away; without a session a click opens none.
    App().CloseSession();
    EXPECT_TRUE(WaitFor([&] { return !IsWindow(hNext); }, kAnswerMs));
    Click();
    Sleep(200);
    Settle();
    EXPECT_EQ(nullptr, InfoDialog());
}

// A dialog of a user who logged out and a new user who logged in before the
// refresh arrived shows nobody's session: it goes.
TEST_F(TrayWindowTest, ADialogOfAReplacedSessionGoes)
{
    apptest::WriteIni("Log=1\r\nModoInterfaz=1\r\n");
    ASSERT_EQ(0, ResultOf([&] { App().Initialize(1); }));
    App().AdoptSession(new FakeSession(-1));
    Click();
    HWND hDialog = WaitForInfoDialog();
    ASSERT_NE(nullptr, hDialog);
    // Both refreshes find the second session: the interface thread (idle)
    // is held while the host logs out and in again.
    Settle();
    HANDLE hThread = OpenThread(THREAD_SUSPEND_RESUME, FALSE, InterfaceThread());
    ASSERT_NE(nullptr, hThread);
    SuspendThread(hThread);
    App().CloseSession();
    App().AdoptSession(new NamedSession(SESSION_KIND_CAPI, "ANA MARTIN PEREZ"));
    ResumeThread(hThread);
    CloseHandle(hThread);
    EXPECT_TRUE(WaitForTip("ANA MARTIN PEREZ"));
    EXPECT_TRUE(WaitFor([&] { return !IsWindow(hDialog); }, kAnswerMs));
}

// The host's thread is inside a long signing, holding the session: the icon
// still answers a refresh and a click at once, the dialog opens, and what needs
// the session says so instead of waiting.
TEST_F(TrayWindowTest, TheIconAnswersWhileTheHostSigns)
{
    apptest::WriteIni("Log=1\r\nModoInterfaz=1\r\n");
    ASSERT_EQ(0, ResultOf([&] { App().Initialize(1); }));
    FakeSession* pSession = new FakeSession(-1);
    bool bExported = false;
    pSession->m_fnOnExport = [&] { bExported = true; };
    App().AdoptSession(pSession);
    ASSERT_TRUE(WaitForTip("JUAN GARCIA LOPEZ"));
    HWND hIcon = tvltest::WaitForTrayIcon(TrayIcon(IDI_TRAY_SESSION));
    ASSERT_NE(nullptr, hIcon);

    Gate gate(20000);
    pSession->m_fnSign = [&](const std::string&, const std::string&) { gate.Hold()(); };
    int nSigned = -1;
    TestThread host([&] {
        nSigned = ResultOf([&] { App().SignFile("C:\\a.txt", "C:\\a.p7", "MD5WITHRSA", 0, 0); });
    });
    ASSERT_TRUE(gate.WaitEntered());

    // A refresh, then a click through the tray.
    int nModifies = CTarvoselWnd::GetEntryRecord().nModifies;
    DWORD dwStart = GetTickCount();
    Refresh();
    EXPECT_TRUE(WaitFor([&] { return CTarvoselWnd::GetEntryRecord().nModifies > nModifies; },
                        kAnswerMs));
    tvltest::ClickTrayIcon(hIcon);
    HWND hDialog = WaitForInfoDialog();
    ASSERT_NE(nullptr, hDialog);
    EXPECT_LT(GetTickCount() - dwStart, 2 * kAnswerMs);
    EXPECT_EQ("JUAN GARCIA LOPEZ, 12345678Z", tvltest::TextOf(GetDlgItem(hDialog, IDC_INFO_USER)));

    // Exporting needs the session: the person is told to try again.
    HWND hBox = PressExport(hDialog);
    ASSERT_NE(nullptr, hBox);
    EXPECT_EQ(kSessionBusy, tvltest::MessageBoxText(hBox));
    EXPECT_FALSE(bExported);
    PostMessageA(hBox, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(WaitFor([&] { return !IsWindow(hBox); }));

    gate.Open();
    ASSERT_TRUE(host.Join(5000));
    EXPECT_EQ(0, nSigned);
    // Once the signing is over the export runs.
    hBox = PressExport(hDialog);
    ASSERT_NE(nullptr, hBox);
    EXPECT_EQ("Exportaci\xF3n correcta a 'C:\\JUAN GARCIA LOPEZ.pem'", tvltest::MessageBoxText(hBox));
    EXPECT_TRUE(bExported);
    PostMessageA(hBox, WM_COMMAND, IDOK, 0);
}

// The same with a real session streaming a large file on the host's thread:
// the key, the hashing and the files hold nothing the icon needs. The busy
// answer to the export shows that the signing was still running.
TEST_F(TrayWindowTest, TheIconAnswersWhileARealSessionSignsALargeFile)
{
    apptest::WriteIni("Log=1\r\nModoInterfaz=1\r\n");
    ASSERT_EQ(0, ResultOf([&] { App().Initialize(1); }));
    apptest::AdoptRealSession("dni-sign", "dni-auth");
    ASSERT_TRUE(WaitFor([] { return Tip() != kNoActiveSession && Tip() != kNoUserSession; }));
    HWND hIcon = tvltest::WaitForTrayIcon(TrayIcon(IDI_TRAY_SESSION));
    ASSERT_NE(nullptr, hIcon);

    struct Scratch {
        std::string strDir = tvltest::MakeScratchFolder("traysign");
        ~Scratch() { tvltest::RemoveFolder(strDir); }
    } folder;
    std::string strSource = folder.strDir + "large.bin", strSigned = folder.strDir + "large.p7";
    {
        HANDLE hFile = CreateFileA(strSource.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, hFile);
        std::string strBlock(1 << 20, 'x');
        DWORD cb = 0;
        for (int i = 0; i < 256; ++i)
            WriteFile(hFile, strBlock.data(), static_cast<DWORD>(strBlock.size()), &cb, nullptr);
        CloseHandle(hFile);
    }
    int nSigned = -1;
    TestThread host([&] {
        nSigned = ResultOf([&] { App().SignFile(strSource, strSigned, "MD5WITHRSA", 0, 0); });
    });
    ASSERT_TRUE(WaitFor([&] { return tvltest::Exists(strSigned); }));

    int nModifies = CTarvoselWnd::GetEntryRecord().nModifies;
    Refresh();
    EXPECT_TRUE(WaitFor([&] { return CTarvoselWnd::GetEntryRecord().nModifies > nModifies; },
                        kAnswerMs));
    tvltest::ClickTrayIcon(hIcon);
    HWND hDialog = WaitForInfoDialog();
    ASSERT_NE(nullptr, hDialog);
    HWND hBox = PressExport(hDialog);
    ASSERT_NE(nullptr, hBox);
    EXPECT_EQ(kSessionBusy, tvltest::MessageBoxText(hBox));
    PostMessageA(hBox, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(WaitFor([&] { return !IsWindow(hBox); }));
    PostMessageA(hDialog, WM_COMMAND, IDCANCEL, 0);

    ASSERT_TRUE(host.Join(120000));
    EXPECT_EQ(0, nSigned);
}

// Card events and the stop reach the interface thread while one of the
// dialog's own loops runs (here a message box): a removal from the session's
// reader invalidates the session, and the stop ends the thread (and Finalize
// has no thread to kill).
TEST_F(TrayWindowTest, ThreadMessagesGetThroughTheDialogsLoops)
{
    apptest::WriteIni("Log=1\r\nModoInterfaz=1\r\n");
    ASSERT_EQ(0, ResultOf([&] { App().Initialize(1); }));
    FakeSession* pSession = new FakeSession(1);
    App().AdoptSession(pSession);
    Click();
    HWND hDialog = WaitForInfoDialog();
    ASSERT_NE(nullptr, hDialog);
    HWND hBox = PressExport(hDialog);
    ASSERT_NE(nullptr, hBox);

    PostThreadMessageA(InterfaceThread(), WM_CARD_EVENT, 0, 1);
    EXPECT_TRUE(
        WaitFor([&] { return (pSession->GetState() & SESSION_INVALID) != 0; }, kAnswerMs));

    // The stop itself, with the box still up: Finalize would first log out,
    // and the refresh that follows would close the box before the stop came.
    ASSERT_TRUE(IsWindow(hBox));
    HWND hWnd = App().GetTrayWindow();
    HANDLE hThread = OpenThread(SYNCHRONIZE, FALSE, InterfaceThread());
    PostThreadMessageA(InterfaceThread(), WM_STOP_INTERFACE, 0, 0);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(hThread, kAnswerMs));
    EXPECT_FALSE(IsWindow(hBox));
    EXPECT_FALSE(IsWindow(hDialog));
    EXPECT_FALSE(IsWindow(hWnd));
    EXPECT_EQ(nullptr, CTarvoselWnd::GetEntryRecord().hWnd);
    DWORD dwStart = GetTickCount();
    App().Finalize();
    // Nothing left to stop: Finalize answers within the interface's second.
    EXPECT_LT(GetTickCount() - dwStart, kAnswerMs);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(hThread, 0));
    CloseHandle(hThread);
    EXPECT_FALSE(IsWindow(hBox));
    EXPECT_FALSE(IsWindow(hDialog));
    EXPECT_FALSE(IsWindow(hWnd));
    EXPECT_EQ(nullptr, CTarvoselWnd::GetEntryRecord().hWnd);
}

// The person at the keyboard exports from the dialog and the export never
// comes back (a provider that waits for ever): Finalize still returns within
// the interface thread's bounded wait, and the next start finds an operation
// lock that the host's calls can take.
TEST_F(TrayWindowTest, FinalizeReturnsWithinASecondWhileTheDialogExports)
{
    apptest::WriteIni("Log=1\r\nModoInterfaz=1\r\n");
    ASSERT_EQ(0, ResultOf([&] { App().Initialize(1); }));
    FakeSession* pSession = new FakeSession(-1);
    Gate gate(20000);
    pSession->m_fnOnExport = gate.Hold();
    App().AdoptSession(pSession);
    Click();
    HWND hDialog = WaitForInfoDialog();
    ASSERT_NE(nullptr, hDialog);
    tvltest::Click(GetDlgItem(hDialog, IDC_INFO_EXPORT));
    ASSERT_TRUE(gate.WaitEntered());

    TestThread host([&] { ResultOf([&] { App().Finalize(); }); });
    EXPECT_TRUE(host.Join(kAnswerMs));
    gate.Open();
    ASSERT_TRUE(host.Join(20000));
    EXPECT_FALSE(App().IsInitialized());

    ASSERT_EQ(0, ResultOf([&] { App().Initialize(1); }));
    App().AdoptSession(new FakeSession(-1));
    int nSigned = -1;
    TestThread signer([&] {
        nSigned = ResultOf([&] { App().SignFile("C:\\a.txt", "C:\\a.p7", "MD5WITHRSA", 0, 0); });
    });
    EXPECT_TRUE(signer.Join(5000));
    EXPECT_EQ(0, nSigned);
}

// The interface thread is killed inside a shell call that does not return
// (a tray that does not answer): the entry's lock was not held across it, so
// removing the entry, and the next start and finalisation, go on.
TEST_F(TrayWindowTest, AShellThatDoesNotAnswerHoldsUpNeitherFinalizeNorTheNextStart)
{
    ASSERT_EQ(0, ResultOf([&] { App().Initialize(1); }));
    StuckShell::Install(NIM_MODIFY);
    Refresh();
    ASSERT_TRUE(StuckShell::WaitEntered());

    TestThread host([&] { ResultOf([&] { App().Finalize(); }); });
    bool bFinished = host.Join(5000);
    EXPECT_TRUE(bFinished);
    StuckShell::Uninstall();
    // Otherwise the entry's lock is lost and reading the record waits for ever.
    ASSERT_TRUE(bFinished);
    EXPECT_EQ(nullptr, CTarvoselWnd::GetEntryRecord().hWnd);

    TestThread again([&] {
        ResultOf([&] { App().Initialize(1); });
        ResultOf([&] { App().Finalize(); });
    });
    EXPECT_TRUE(again.Join(10000));
}

// Two threads start the library at once (against the host contract, which is
// one thread at a time): the second waits for the first, and one interface
// thread runs, which Finalize ends.
TEST_F(TrayWindowTest, TwoThreadsStartingTheLibraryStartOneInterfaceThread)
{
    // Whatever the platform starts for itself on the first start stays out of the count.
    ASSERT_EQ(0, ResultOf([&] { App().Initialize(1); }));
    App().Finalize();
    int nThreads = apptest::CountThreads();
    // The first start is held inside its interface thread's first shell call.
    StuckShell::Install(NIM_ADD);
    int nFirst = -1, nSecond = -1;
    TestThread first([&] { nFirst = ResultOf([&] { App().Initialize(1); }); });
    ASSERT_TRUE(StuckShell::WaitEntered());
    TestThread second([&] { nSecond = ResultOf([&] { App().Initialize(0); }); });
    // Unserialised, the second start would be over by now.
    second.Join(2000);
    StuckShell::Uninstall();
    ASSERT_TRUE(first.Join(10000));
    ASSERT_TRUE(second.Join(10000));
    EXPECT_EQ(0, nFirst);
    EXPECT_EQ(0, nSecond);
    EXPECT_NE(nullptr, App().GetTrayWindow());
    EXPECT_TRUE(WaitFor([&] { return apptest::CountThreads() == nThreads + 1; }));

    TestThread host([&] { ResultOf([&] { App().Finalize(); }); });
    EXPECT_TRUE(host.Join(5000));
    EXPECT_TRUE(WaitFor([&] { return apptest::CountThreads() == nThreads; }))
        << apptest::CountThreads() - nThreads << " threads left";
}

// The host's thread made the session's SSL helper window; the dialog still
// held the session when the host logged out, so the session goes on the
// interface thread. The window goes all the same, on the host's thread: when
// that thread looks at its queue, or at the latest in Finalize.
TEST_F(TrayWindowTest, TheHostsSslWindowGoesWhenTheInterfaceThreadDeletesTheSession)
{
    apptest::WriteIni("Log=1\r\nModoInterfaz=1\r\n");
    struct Case {
        const char* pszWhat;
        bool bPump;
    } cases[] = {{"the host's thread looks at its queue", true}, {"Finalize", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        ASSERT_EQ(0, ResultOf([&] { App().Initialize(1); }));
        volatile LONG nDeleted = 0;
        SslSession* pSession = new SslSession(&nDeleted);
        App().AdoptSession(pSession);
        ASSERT_EQ(0, ResultOf([&] { App().GetSSLHandle(""); }));
        HWND hWnd = pSession->Window();
        ASSERT_NE(nullptr, hWnd);
        Click();
        HWND hDialog = WaitForInfoDialog();
        ASSERT_NE(nullptr, hDialog);

        App().CloseSession();
        ASSERT_TRUE(WaitFor([&] { return nDeleted == 1; }, kAnswerMs));
        if (c.bPump) {
            EXPECT_TRUE(WaitFor(
                [&] {
                    MSG msg;
                    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
                        DispatchMessageA(&msg);
                    return !IsWindow(hWnd);
                },
                kAnswerMs));
        }
        App().Finalize();
        EXPECT_FALSE(IsWindow(hWnd));
    }
}
