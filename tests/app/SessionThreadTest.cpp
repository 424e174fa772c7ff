// The session across threads: the interface thread and the other callers never
// wait for a host operation that uses the session, closing it never frees it
// under another thread, and Finalize is bounded whatever the interface thread
// is doing. Stand-in sessions hold a thread inside a slot (tests::Gate).
#include <gtest/gtest.h>

#include "api/ResultCodes.h"
#include "host/Messages.h"
#include "tests/app/AppTestSupport.h"
#include "tests/app/FakeSession.h"
#include "tests/support/TestCapture.h"
#include "tests/support/TestThreads.h"
#include "tests/support/TestWait.h"

using tvltest::Gate;
using tvltest::ResultOf;
using tvltest::TestThread;
using tvltest::WaitFor;

namespace {
// What "at once" means for the interface thread and for a second caller.
const DWORD kAnswerMs = 1000;

class SessionThreadTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        apptest::WriteIni("Log=1\r\n");
        ASSERT_EQ(0, ResultOf([] { GetTarvoselApp().Initialize(0); }));
    }
    void TearDown() override
    {
        ResultOf([] { GetTarvoselApp().Finalize(); });
        DeleteFileA(apptest::IniPath().c_str());
    }
    CTarvoselApp& App() { return GetTarvoselApp(); }
    // Whether fn returns within kAnswerMs; it runs on a thread of its own so
    // that a call that waits cannot hang the test.
    static bool AnswersInTime(std::function<void()> fn)
    {
        TestThread caller(std::move(fn));
        return caller.Started() && caller.Join(kAnswerMs);
    }
    void RemoveCard(int nReader)
    {
        PostThreadMessageA(App().GetInterfaceThreadId(), WM_CARD_EVENT, 0, nReader);
    }
};
}  // namespace

TEST_F(SessionThreadTest, NobodyWaitsForASigningExportOrSslCall)
{
    struct Case {
        const char* pszName;
        void (*pfnHold)(FakeSession&, std::function<void()>);
        void (*pfnRun)(CTarvoselApp&);
    } cases[] = {
        {"signing",
         [](FakeSession& s, std::function<void()> fn) {
             s.m_fnSign = [fn](const std::string&, const std::string&) { fn(); };
         },
         [](CTarvoselApp& app) { app.SignFile("C:\\a.txt", "C:\\a.p7", "MD5WITHRSA", 0, 0); }},
        {"export", [](FakeSession& s, std::function<void()> fn) { s.m_fnOnExport = fn; },
         [](CTarvoselApp& app) {
             std::string strPath, strPassword;
             app.ExportCertificate("", strPath, strPassword);
         }},
        {"SSL", [](FakeSession& s, std::function<void()> fn) { s.m_fnOnSSL = fn; },
         [](CTarvoselApp& app) { app.GetSSLHandle(""); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        FakeSession* pSession = new FakeSession(1);
        App().AdoptSession(pSession);
        Gate gate;
        c.pfnHold(*pSession, gate.Hold());
        int nResult = -1;
        TestThread host([&] { nResult = ResultOf([&] { c.pfnRun(App()); }); });
        ASSERT_TRUE(gate.WaitEntered());

        // The card leaves the session's reader while the host's call runs.
        RemoveCard(1);
        EXPECT_TRUE(
            WaitFor([&] { return (pSession->GetState() & SESSION_INVALID) != 0; }, kAnswerMs));
        int nOpened = -1;
        EXPECT_TRUE(AnswersInTime([&] { nOpened = App().SessionOpened(); }));
        std::string strNIF;
        EXPECT_TRUE(AnswersInTime([&] {
            CS_SESSIONINFO info;
            App().GetSessionInfo(&info);
            strNIF = info.strNIF;
        }));

        gate.Open();
        ASSERT_TRUE(host.Join(5000));
        EXPECT_EQ(0, nResult);
        EXPECT_EQ(1, nOpened);
        EXPECT_EQ("12345678Z", strNIF);
        App().CloseSession();
    }
}

TEST_F(SessionThreadTest, ClosingLeavesTheSessionToWhoeverStillUsesIt)
{
    volatile LONG nDeleted = 0;
    FakeSession* pSession = new FakeSession(1, &nDeleted);
    App().AdoptSession(pSession);
    Gate gate;
    pSession->m_fnOnData = gate.Hold();
    // The interface thread reads the session's data on a card removal and is
    // held there.
    RemoveCard(1);
    ASSERT_TRUE(gate.WaitEntered());

    EXPECT_TRUE(AnswersInTime([&] { App().CloseSession(); }));
    EXPECT_EQ(1, pSession->m_nCloses);
    EXPECT_EQ(0, App().SessionOpened());
    EXPECT_EQ(0, nDeleted);

    gate.Open();
    EXPECT_TRUE(WaitFor([&] { return nDeleted == 1; }));
}

// A card-removal invalidation stuck in the provider: Finalize waits its bounded
// time for the interface thread and goes on. The killed thread's hold on the
// session is lost with it: that session is never deleted.
TEST_F(SessionThreadTest, FinalizeReturnsWithinASecondWhileTheInterfaceThreadIsHeld)
{
    FakeSession* pSession = new FakeSession(1);
    App().AdoptSession(pSession);
    Gate gate(5000);
    pSession->m_fnOnInvalidate = gate.Hold();
    RemoveCard(1);
    ASSERT_TRUE(gate.WaitEntered());
    HANDLE hInterface = OpenThread(SYNCHRONIZE, FALSE, App().GetInterfaceThreadId());
    ASSERT_NE(nullptr, hInterface);

    EXPECT_TRUE(AnswersInTime([&] { App().Finalize(); }));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(hInterface, 0));
    CloseHandle(hInterface);
    EXPECT_EQ(1, pSession->m_nCloses);
    EXPECT_FALSE(App().IsInitialized());

    // The library starts again, with a working interface thread.
    ASSERT_EQ(0, ResultOf([&] { App().Initialize(0); }));
    FakeSession* pNext = new FakeSession(0);
    App().AdoptSession(pNext);
    RemoveCard(0);
    EXPECT_TRUE(WaitFor([&] { return (pNext->GetState() & SESSION_INVALID) != 0; }));
}
