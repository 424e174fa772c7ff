// The application object with the reader monitor running against a real
// pcscd (tests/smartcard/bench/pcsc-bench.sh start): card events from the
// bench's virtual cards reach the interface thread, invalidate the session of
// the reader whose card went away, and reach an open card dialog.
#include <gtest/gtest.h>

#include <windows.h>
#include <tlhelp32.h>

#include <set>

#include "CardTestData.h"
#include "SmartCardTestSupport.h"
#include "VirtualCardTest.h"
#include "host/Messages.h"
#include "smartcard/CCardManager.h"
#include "smartcard/CSCardDlg.h"
#include "tests/app/AppTestSupport.h"
#include "tests/app/FakeSession.h"
#include "tests/support/LoginDriver.h"

using tvltest::ResultOf;
using tvltest::WaitFor;

namespace {

const DWORD EVENT_TIMEOUT_MS = 5000;
const DWORD FINALIZE_LIMIT_MS = 1500;
// A reader index no session is bound to: a removal posted for it makes the
// interface thread read the session data once, which tells the test that
// every event queued before it has been handled.
const LPARAM NO_READER = 9;

// Identifiers of the process's threads. GoogleTest starts a thread of its own
// at some first assertion, so counts taken around a test's steps would not
// compare; the threads a call started are the difference of two snapshots.
std::set<DWORD> ThreadIds()
{
    std::set<DWORD> ids;
    HANDLE h = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (h == INVALID_HANDLE_VALUE)
        return ids;
    THREADENTRY32 te = {};
    te.dwSize = sizeof(te);
    for (BOOL ok = Thread32First(h, &te); ok; ok = Thread32Next(h, &te)) {
        if (te.th32OwnerProcessID == GetCurrentProcessId())
            ids.insert(te.th32ThreadID);
    }
    CloseHandle(h);
    return ids;
}

std::set<DWORD> Minus(const std::set<DWORD>& a, const std::set<DWORD>& b)
{
    std::set<DWORD> d;
    for (DWORD id : a) {
        if (!b.count(id))
            d.insert(id);
    }
    return d;
}

}  // namespace

class AppCardTest : public VirtualCardTest {
protected:
    void SetUp() override
    {
        VirtualCardTest::SetUp();
        if (!Ready())
            return;
        apptest::WriteIni("Log=1\r\n");
    }

    void TearDown() override
    {
        ResultOf([] { GetTarvoselApp().Finalize(); });
        DeleteFileA(apptest::IniPath().c_str());
        VirtualCardTest::TearDown();
    }

    CTarvoselApp& App() { return GetTarvoselApp(); }

    // Initialize over the settled card states; the monitor must be running.
    void Start()
    {
        Hold();
        std::set<DWORD> before = ThreadIds();
        int nResult = ResultOf([&] { App().Initialize(0); });
        m_started = Minus(ThreadIds(), before);
        ASSERT_EQ(0, nResult);
        ASSERT_TRUE(App().IsInitialized());
        ASSERT_EQ(2, CCardManager::GetReaderCount());
        ASSERT_TRUE(m_log.Contains("Lector detectado: (Virtual PCD 00 00)"));
        ASSERT_TRUE(m_log.Contains("Lector detectado: (Virtual PCD 00 01)"));
    }

    // The monitor has recorded the reader's state (it posts before recording).
    static bool Recorded(int nReader, bool bPresent)
    {
        return WaitFor([=] { return (CCardManager::IsCardPresent(nReader) != 0) == bPresent; },
                       EVENT_TIMEOUT_MS);
    }

    // Waits until the interface thread has handled every event queued so far.
    bool Handled(FakeSession* pSession)
    {
        LONG nReads = pSession->m_nDataReads;
        PostThreadMessageA(App().GetInterfaceThreadId(), WM_CARD_EVENT, 0, NO_READER);
        return WaitFor([=] { return pSession->m_nDataReads > nReads; }, EVENT_TIMEOUT_MS);
    }

    tvltest::LogCapture m_log{"smartcard"};
    // Threads that Initialize started.
    std::set<DWORD> m_started;
};

TEST_F(AppCardTest, RemovalFromTheSessionsReaderInvalidatesItAndFinalizeStopsTheMonitor)
{
    ASSERT_NO_FATAL_FAILURE(Insert(0, ATR_BOTH_TYPES));
    ASSERT_NO_FATAL_FAILURE(Start());
    // The monitor's first pass announces the card already in reader 0.
    ASSERT_TRUE(Recorded(0, true));
    ASSERT_TRUE(Recorded(1, false));
    // The interface thread and the monitor.
    EXPECT_EQ(1u, m_started.count(App().GetInterfaceThreadId()));
    EXPECT_GE(m_started.size(), 2u);

    volatile LONG nDeleted = 0;
    FakeSession* pSession = new FakeSession(0, &nDeleted);
    App().AdoptSession(pSession);
    ASSERT_TRUE(Handled(pSession));

    // A card comes and goes in the other reader: the removal is looked at,
    // the session stays valid.
    ASSERT_NO_FATAL_FAILURE(Insert(1, ATR_OTHER));
    ASSERT_TRUE(Recorded(1, true));
    LONG nReads = pSession->m_nDataReads;
    ASSERT_NO_FATAL_FAILURE(Remove(1));
    ASSERT_TRUE(WaitFor([&] { return pSession->m_nDataReads > nReads; }, EVENT_TIMEOUT_MS))
        << "the removal from reader 1 never reached the interface thread";
    EXPECT_EQ(SESSION_OPEN, pSession->GetState());

    // The session's own card goes: the session is marked for reopening.
    ASSERT_NO_FATAL_FAILURE(Remove(0));
    ASSERT_TRUE(
        WaitFor([&] { return (pSession->GetState() & SESSION_INVALID) != 0; }, EVENT_TIMEOUT_MS))
        << "the removal from reader 0 did not invalidate the session";
    EXPECT_EQ(SESSION_OPEN | SESSION_INVALID, pSession->GetState());
    EXPECT_EQ(1, App().SessionOpened());

    // Putting the card back changes nothing until the next operation reopens.
    ASSERT_NO_FATAL_FAILURE(Insert(0, ATR_BOTH_TYPES));
    ASSERT_TRUE(Recorded(0, true));
    ASSERT_TRUE(Handled(pSession));
    EXPECT_EQ(SESSION_OPEN | SESSION_INVALID, pSession->GetState());
    EXPECT_EQ(0, pSession->m_nReopens);

    // Reopened, the session follows its card again: a second removal
    // invalidates it, an insertion into a valid session's reader does not.
    App().ReopenInvalidSession();
    ASSERT_EQ(SESSION_OPEN, pSession->GetState());
    ASSERT_NO_FATAL_FAILURE(Remove(0));
    ASSERT_TRUE(
        WaitFor([&] { return (pSession->GetState() & SESSION_INVALID) != 0; }, EVENT_TIMEOUT_MS));
    // No card now: the insert-card dialog asks; the person gives up (Escape).
    DWORD dwThread = GetCurrentThreadId();
    bool bAsked = false;
    tvltest::CDriver driver(
        [&] {
            HWND hDlg = tvltest::WaitForCardDialog(dwThread);
            bAsked = hDlg != nullptr;
            if (hDlg != nullptr)
                tvltest::PressKey(hDlg, VK_ESCAPE);
        },
        dwThread);
    App().ReopenInvalidSession();
    driver.Join();
    EXPECT_TRUE(bAsked);
    ASSERT_NO_FATAL_FAILURE(Insert(0, ATR_BOTH_TYPES));
    ASSERT_TRUE(Recorded(0, true));
    ASSERT_TRUE(Handled(pSession));
    EXPECT_EQ(SESSION_OPEN, pSession->GetState());
    EXPECT_EQ(2, pSession->m_nReopens);

    DWORD dwInterfaceThread = App().GetInterfaceThreadId();
    HANDLE hInterfaceThread = OpenThread(SYNCHRONIZE, FALSE, dwInterfaceThread);
    ASSERT_NE(nullptr, hInterfaceThread);
    DWORD dwStart = GetTickCount();
    EXPECT_EQ(0, ResultOf([&] { App().Finalize(); }));
    DWORD dwElapsed = GetTickCount() - dwStart;
    EXPECT_LT(dwElapsed, FINALIZE_LIMIT_MS);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(hInterfaceThread, 0));
    CloseHandle(hInterfaceThread);
    EXPECT_FALSE(App().IsInitialized());
    EXPECT_EQ(1, nDeleted);
    EXPECT_EQ(0, CCardManager::GetReaderCount());
    EXPECT_FALSE(m_log.Contains("Terminando el monitor manualmente..."));
    // No thread that Initialize started is left.
    size_t nLeft = 0;
    EXPECT_TRUE(WaitFor(
        [&] {
            nLeft = m_started.size() - Minus(m_started, ThreadIds()).size();
            return nLeft == 0;
        },
        2000))
        << nLeft << " of the " << m_started.size() << " threads still run";

    // And the whole thing starts again, monitor included.
    ASSERT_EQ(0, ResultOf([&] { App().Initialize(0); }));
    EXPECT_EQ(2, CCardManager::GetReaderCount());
    EXPECT_TRUE(Recorded(0, true));
    EXPECT_EQ(0, App().SessionOpened());
}

TEST_F(AppCardTest, OpenCardDialogReceivesTheRealEvents)
{
    ASSERT_NO_FATAL_FAILURE(Start());
    ASSERT_TRUE(Recorded(0, false));
    ASSERT_TRUE(Recorded(1, false));
    FakeSession* pSession = new FakeSession(1);
    App().AdoptSession(pSession);
    ASSERT_TRUE(Handled(pSession));
    LONG nReads = pSession->m_nDataReads;

    HWND hDialog = CreateWindowA("STATIC", "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, hDialog);
    App().SetCardDialog(hDialog);

    // wParam and lParam as the monitor posted them; nothing else arrives.
    auto expectForwarded = [&](WPARAM wParam, LPARAM lParam) {
        MSG msg = {};
        bool bGot = WaitFor(
            [&] {
                return PeekMessageA(&msg, hDialog, WM_CARD_EVENT, WM_CARD_EVENT, PM_REMOVE) != 0;
            },
            EVENT_TIMEOUT_MS);
        ASSERT_TRUE(bGot) << "no event, expected (" << wParam << "," << lParam << ")";
        EXPECT_EQ(wParam, msg.wParam);
        EXPECT_EQ(lParam, msg.lParam);
    };
    ASSERT_NO_FATAL_FAILURE(Insert(1, ATR_BOTH_TYPES));
    ASSERT_NO_FATAL_FAILURE(expectForwarded(1, 1));
    ASSERT_NO_FATAL_FAILURE(Remove(1));
    ASSERT_NO_FATAL_FAILURE(expectForwarded(0, 1));
    MSG extra;
    EXPECT_FALSE(PeekMessageA(&extra, hDialog, WM_CARD_EVENT, WM_CARD_EVENT, PM_REMOVE))
        << "unexpected (" << extra.wParam << "," << extra.lParam << ")";

    // The dialog took the removal: the session was not even looked at.
    App().SetCardDialog(nullptr);
    EXPECT_EQ(nReads, pSession->m_nDataReads);
    EXPECT_EQ(SESSION_OPEN, pSession->GetState());
    DestroyWindow(hDialog);
}

namespace {
// fam2 of the test PKI: a software certificate with both signature usages,
// which the login page binds to the reader that holds a card.
const char kCardRowLabel[] = "FERNANDEZ RUIZ MARIA";
// A removal reaches the session through the monitor and the interface thread;
// on a loaded machine that takes longer than one event.
const DWORD INVALIDATION_TIMEOUT_MS = 15000;
}  // namespace

class AppCardLoginTest : public AppCardTest {
protected:
    // Logs in through the real sheet with the row that binds to a card reader.
    void LogIn(CS_SESSIONINFO& info)
    {
        DWORD dwThread = GetCurrentThreadId();
        tvltest::CDriver driver(
            [&] {
                tvltest::LoginSheet sheet = tvltest::WaitForLoginSheet(dwThread);
                ASSERT_TRUE(sheet.WaitIdle());
                ASSERT_TRUE(sheet.Select(kCardRowLabel));
                tvltest::Click(sheet.Ok());
            },
            dwThread);
        int nResult = 0;
        ASSERT_EQ(0, ResultOf([&] { nResult = App().OpenSession(&info); }));
        driver.Join();
        ASSERT_EQ(1, nResult);
    }
    // Signs a file of the folder, watching for the insert-card dialog; fnOnDialog
    // runs on the watching thread when it shows.
    int SignWatching(const std::string& strFolder, bool& bDialogSeen,
                     const std::function<void(HWND)>& fnOnDialog)
    {
        DWORD dwThread = GetCurrentThreadId();
        volatile LONG bDone = 0;
        bDialogSeen = false;
        tvltest::CDriver watcher(
            [&] {
                while (!bDone) {
                    HWND hDlg = tvltest::WaitForCardDialog(dwThread, 100);
                    if (hDlg != nullptr) {
                        bDialogSeen = true;
                        fnOnDialog(hDlg);
                        return;
                    }
                }
            },
            dwThread);
        tvltest::WriteAll(strFolder + "doc.txt", "contenido firmado con la tarjeta");
        int nCode = ResultOf([&] {
            App().SignFile(strFolder + "doc.txt", strFolder + "doc.p7m", "MD5WITHRSA", 1, 1);
        });
        InterlockedExchange(&bDone, 1);
        watcher.Join();
        return nCode;
    }
};

TEST_F(AppCardLoginTest, CardBackBeforeSigningReopensWithoutAsking)
{
    ASSERT_NO_FATAL_FAILURE(Insert(0, ATR_BOTH_TYPES));
    ASSERT_NO_FATAL_FAILURE(Start());
    ASSERT_TRUE(Recorded(0, true));
    CS_SESSIONINFO info;
    ASSERT_NO_FATAL_FAILURE(LogIn(info));
    const CS_CARDINFO* pCard = static_cast<const CS_CARDINFO*>(info.pDetails);
    ASSERT_NE(nullptr, pCard);
    EXPECT_EQ(0, pCard->nReader) << "the session follows the reader that held a card";
    EXPECT_EQ(0u, pCard->strCardName.find("Tarvosel Prueba")) << pCard->strCardName;

    ASSERT_NO_FATAL_FAILURE(Remove(0));
    ASSERT_TRUE(
        WaitFor([&] { return m_log.Contains("Sesi\xF3n invalidada"); }, INVALIDATION_TIMEOUT_MS));
    ASSERT_NO_FATAL_FAILURE(Insert(0, ATR_BOTH_TYPES));
    ASSERT_TRUE(Recorded(0, true));

    std::string strFolder = tvltest::MakeScratchFolder("cardback");
    bool bAsked = false;
    int nCode =
        SignWatching(strFolder, bAsked, [](HWND hDlg) { tvltest::PressKey(hDlg, VK_ESCAPE); });
    EXPECT_EQ(0, nCode);
    EXPECT_FALSE(bAsked) << "the card was in its reader: nothing to ask";
    EXPECT_TRUE(m_log.Contains(" - La sesi\xF3n es inv\xE1lida. Reabriendo...\r\n"));
    EXPECT_EQ(0, ResultOf([&] {
                  App().CheckSignedFile(strFolder + "doc.p7m", strFolder + "doc.out", 1, 1);
              }));
    EXPECT_EQ("contenido firmado con la tarjeta", tvltest::ReadAll(strFolder + "doc.out"));
    tvltest::RemoveFolder(strFolder);
}

TEST_F(AppCardLoginTest, NoCardAsksForItUntilOneIsInsertedThenSigns)
{
    ASSERT_NO_FATAL_FAILURE(Insert(0, ATR_BOTH_TYPES));
    ASSERT_NO_FATAL_FAILURE(Start());
    ASSERT_TRUE(Recorded(0, true));
    CS_SESSIONINFO info;
    ASSERT_NO_FATAL_FAILURE(LogIn(info));
    ASSERT_NO_FATAL_FAILURE(Remove(0));
    ASSERT_TRUE(
        WaitFor([&] { return m_log.Contains("Sesi\xF3n invalidada"); }, INVALIDATION_TIMEOUT_MS));
    ASSERT_TRUE(Recorded(0, false));

    std::string strFolder = tvltest::MakeScratchFolder("nocard");
    bool bClosedByItself = false, bStillOpenWithoutCard = false;
    bool bAsked = false;
    int nCode = SignWatching(strFolder, bAsked, [&](HWND hDlg) {
        Sleep(HOLD_MS);
        bStillOpenWithoutCard = IsWindow(hDlg) && IsWindowVisible(hDlg);
        // The card goes into the other reader: any reader will do.
        Hold();
        EXPECT_TRUE(m_cards.Insert(1, ATR_BOTH_TYPES));
        bClosedByItself = WaitFor([&] { return !IsWindow(hDlg); }, EVENT_TIMEOUT_MS);
    });
    EXPECT_TRUE(bAsked);
    EXPECT_TRUE(bStillOpenWithoutCard);
    EXPECT_TRUE(bClosedByItself);
    EXPECT_EQ(0, nCode);
    EXPECT_EQ(nullptr, App().GetCardDialog());
    EXPECT_EQ(0, ResultOf([&] {
                  App().CheckSignedFile(strFolder + "doc.p7m", strFolder + "doc.out", 1, 1);
              }));
    tvltest::RemoveFolder(strFolder);
}

TEST_F(AppCardTest, InsertCardDialogOpenedWithACardInAReaderClosesAtOnce)
{
    // The card went in between the caller's look and the dialog's opening: its
    // event reached no dialog; the dialog looks for itself.
    ASSERT_NO_FATAL_FAILURE(Insert(1, ATR_OTHER));
    ASSERT_NO_FATAL_FAILURE(Start());
    ASSERT_TRUE(Recorded(1, true));
    DWORD dwThread = GetCurrentThreadId();
    volatile LONG bDone = 0;
    bool bHadToEscape = false;
    tvltest::CDriver watchdog([&] {
        if (!WaitFor([&] { return bDone != 0; }, EVENT_TIMEOUT_MS)) {
            bHadToEscape = true;
            tvltest::CloseThreadDialogs(dwThread);
        }
    });
    DWORD dwStart = GetTickCount();
    CSCardDlg dialog(GetTarvoselApp().CardDialogRegistration());
    EXPECT_EQ(IDCANCEL, dialog.DoModal());
    DWORD dwElapsed = GetTickCount() - dwStart;
    InterlockedExchange(&bDone, 1);
    watchdog.Join();
    EXPECT_FALSE(bHadToEscape);
    EXPECT_LT(dwElapsed, 2000u);
    EXPECT_EQ(nullptr, App().GetCardDialog());
}
