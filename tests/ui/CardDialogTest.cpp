// The insert-card dialog while a card session is reopened, without readers:
// card events are posted to the interface thread as the reader monitor posts
// them; the driver reads the dialog and presses keys.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include "api/ResultCodes.h"
#include "app/CTarvoselApp.h"
#include "host/Messages.h"
#include "smartcard/CSCardDlg.h"
#include "tests/app/AppTestSupport.h"
#include "tests/app/FakeSession.h"
#include "tests/support/LoginDriver.h"
#include "tests/support/TestCapture.h"

using namespace tvltest;

namespace {

class CardDialogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        apptest::WriteIni("Log=1\r\n");
        ASSERT_EQ(0, ResultOf([] { GetTarvoselApp().Initialize(0); }));
        m_dwThread = GetCurrentThreadId();
    }
    void TearDown() override
    {
        // A dialog a failed driver left open.
        HWND hDlg = WaitForWindow(m_dwThread, IsCardDialog, 100);
        if (hDlg != nullptr)
            PostMessageA(hDlg, WM_CLOSE, 0, 0);
        ResultOf([] { GetTarvoselApp().Finalize(); });
        DeleteFileA(apptest::IniPath().c_str());
    }
    CTarvoselApp& App() { return GetTarvoselApp(); }
    // A card session of reader nReader whose card was pulled.
    FakeSession* InvalidSession(int nReader)
    {
        FakeSession* pSession = new FakeSession(nReader);
        App().AdoptSession(pSession);
        pSession->Invalidate();
        return pSession;
    }
    void PostCardEvent(WPARAM wPresent, LPARAM nReader)
    {
        PostThreadMessageA(App().GetInterfaceThreadId(), WM_CARD_EVENT, wPresent, nReader);
    }

    DWORD m_dwThread = 0;
    LogCapture m_log{"carddlg"};
};

}  // namespace

TEST_F(CardDialogTest, OnlyAnInsertionClosesItAndEventsStopGoingThereAfter)
{
    FakeSession* pSession = InvalidSession(0);
    struct Seen {
        std::string strText, strAnimationClass;
        bool bRegistered = false, bOpenAfterRemoval = false, bClosedAfterInsertion = false;
        LONG nReopensWhileOpen = -1;
    } seen;
    CDriver driver(
        [&] {
            HWND hDlg = WaitForCardDialog(m_dwThread);
            ASSERT_NE(nullptr, hDlg);
            seen.strText = TextOf(GetDlgItem(hDlg, IDC_SCARD_TEXT));
            seen.strAnimationClass = ClassOf(GetDlgItem(hDlg, IDC_SCARD_ANIMATION));
            seen.bRegistered = App().GetCardDialog() == hDlg;
            seen.nReopensWhileOpen = pSession->m_nReopens;
            PostCardEvent(0, 1);
            Sleep(700);
            seen.bOpenAfterRemoval = IsWindow(hDlg) && IsWindowVisible(hDlg);
            PostCardEvent(1, 1);
            seen.bClosedAfterInsertion = WaitFor([&] { return !IsWindow(hDlg); }, 5000);
        },
        m_dwThread);
    EXPECT_EQ(0, ResultOf([&] { App().ReopenInvalidSession(); }));
    driver.Join();
    EXPECT_EQ("Inserte en el lector la tarjeta que contiene los certificados.", seen.strText);
    EXPECT_EQ("SysAnimate32", seen.strAnimationClass);
    EXPECT_TRUE(seen.bRegistered);
    EXPECT_EQ(0, seen.nReopensWhileOpen) << "the dialog comes before the reopening";
    EXPECT_TRUE(seen.bOpenAfterRemoval);
    EXPECT_TRUE(seen.bClosedAfterInsertion);
    EXPECT_EQ(1, pSession->m_nReopens);
    EXPECT_EQ(SESSION_OPEN, pSession->GetState());
    EXPECT_EQ(nullptr, App().GetCardDialog());
    EXPECT_TRUE(m_log.Contains(" - La sesi\xF3n es inv\xE1lida. Reabriendo...\r\n"));

    // The dialog is gone: a removal reaches the session again.
    PostCardEvent(0, 0);
    EXPECT_TRUE(WaitFor([&] { return (pSession->GetState() & SESSION_INVALID) != 0; }));
}

TEST_F(CardDialogTest, EscapeClosesItAndTheReopeningIsAttemptedAllTheSame)
{
    for (bool bFail : {false, true}) {
        volatile LONG nDeleted = 0;
        FakeSession* pSession = new FakeSession(1, &nDeleted);
        pSession->m_bFailReopen = bFail;
        int nReopens = 0;  // a failed reopening deletes the session
        pSession->m_fnOnReopen = [&nReopens] { ++nReopens; };
        App().AdoptSession(pSession);
        pSession->Invalidate();
        m_log.Clear();
        bool bSeen = false;
        CDriver driver(
            [&] {
                HWND hDlg = WaitForCardDialog(m_dwThread);
                bSeen = hDlg != nullptr;
                if (hDlg != nullptr)
                    PressKey(GetDlgItem(hDlg, IDC_SCARD_TEXT), VK_ESCAPE);
            },
            m_dwThread);
        int nCode = ResultOf([&] { App().ReopenInvalidSession(); });
        driver.Join();
        EXPECT_TRUE(bSeen);
        EXPECT_EQ(1, nReopens);
        if (bFail) {
            EXPECT_EQ(ERR_PRIVATE_KEY, nCode) << "the reopening's own failure";
            EXPECT_EQ(1, nDeleted) << "a failed reopening logs the user out";
            EXPECT_EQ(0, App().SessionOpened());
            EXPECT_TRUE(m_log.Contains(" - Se cerr\xF3 la sesi\xF3n...\r\n"));
        } else {
            EXPECT_EQ(0, nCode);
            EXPECT_EQ(SESSION_OPEN, pSession->GetState());
            EXPECT_TRUE(m_log.Contains(" - ...OK\r\n"));
            App().CloseSession();
        }
    }
}

TEST_F(CardDialogTest, SessionOfNoReaderReopensWithoutAsking)
{
    FakeSession* pSession = InvalidSession(-1);
    bool bAsked = false;
    CDriver driver([&] { bAsked = WaitForCardDialog(m_dwThread, 1500) != nullptr; }, m_dwThread);
    EXPECT_EQ(0, ResultOf([&] { App().ReopenInvalidSession(); }));
    driver.Join();
    EXPECT_FALSE(bAsked);
    EXPECT_EQ(1, pSession->m_nReopens);
}

namespace {
volatile LONG g_nPlays = 0;
WPARAM g_wLastRepeat = 0;
LPARAM g_lLastFrames = 0;

LRESULT CALLBACK CountPlays(int nCode, WPARAM wParam, LPARAM lParam)
{
    const CWPSTRUCT* p = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (nCode == HC_ACTION && p->message == ACM_PLAY) {
        g_wLastRepeat = p->wParam;
        g_lLastFrames = p->lParam;
        InterlockedIncrement(&g_nPlays);
    }
    return CallNextHookEx(nullptr, nCode, wParam, lParam);
}
}  // namespace

TEST_F(CardDialogTest, AnimationPlaysFramesZeroToThirteenAndAgainWhenItsCornerIsRepainted)
{
    HHOOK hHook = SetWindowsHookExA(WH_CALLWNDPROC, CountPlays, nullptr, GetCurrentThreadId());
    ASSERT_NE(nullptr, hHook);
    g_nPlays = 0;
    LONG nAtStart = -1;
    bool bReplayed = false, bMiddleReplayed = true;
    CDriver driver(
        [&] {
            HWND hDlg = WaitForCardDialog(m_dwThread);
            ASSERT_NE(nullptr, hDlg);
            // The first painting plays it again already: let it settle.
            WaitFor([&] { return g_nPlays >= 1; });
            Sleep(300);
            nAtStart = g_nPlays;
            // A window over the middle of the animation only went away: no corner, no replay.
            RECT rc;
            GetWindowRect(GetDlgItem(hDlg, IDC_SCARD_ANIMATION), &rc);
            MapWindowPoints(nullptr, hDlg, reinterpret_cast<POINT*>(&rc), 2);
            const int w = rc.right - rc.left, h = rc.bottom - rc.top;
            const RECT rcMiddle = {rc.left + w / 3, rc.top + h / 3, rc.right - w / 3,
                                   rc.bottom - h / 3};
            RedrawWindow(hDlg, &rcMiddle, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
            bMiddleReplayed = WaitFor([&] { return g_nPlays > nAtStart; }, 1000);
            nAtStart = g_nPlays;
            // Another window covered the dialog and went away.
            RedrawWindow(hDlg, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
            bReplayed = WaitFor([&] { return g_nPlays > nAtStart; }, 3000);
            PressKey(GetDlgItem(hDlg, IDC_SCARD_TEXT), VK_ESCAPE);
        },
        m_dwThread);
    CSCardDlg dialog(GetTarvoselApp().CardDialogRegistration());
    EXPECT_EQ(IDCANCEL, dialog.DoModal());
    driver.Join();
    UnhookWindowsHookEx(hHook);
    EXPECT_GE(nAtStart, 1) << "the dialog starts the clip";
    EXPECT_FALSE(bMiddleReplayed);
    EXPECT_TRUE(bReplayed);
    // The control reads the repeat count as a 32-bit int, whatever the width.
    EXPECT_EQ(-1, static_cast<int>(g_wLastRepeat)) << "repeated without end";
    EXPECT_EQ(MAKELPARAM(0, 13), g_lLastFrames);
}
