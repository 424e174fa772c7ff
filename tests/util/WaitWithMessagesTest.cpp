// CUtil::WaitWithMessages: wait results, the time left, and messages dispatched
// while the thread waits.
#include <gtest/gtest.h>

#include <windows.h>

#include "util/CUtil.h"

namespace {

const UINT WM_TEST_SIGNAL = WM_APP + 1;

// Message-only window whose handler counts messages and sets an event on
// WM_TEST_SIGNAL, so a wait on that event only ends if the message was dispatched.
class WaitWindow {
public:
    WaitWindow()
    {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = Proc;
        wc.hInstance = GetModuleHandleA(NULL);
        wc.lpszClassName = "TvlUtilWaitWindow";
        RegisterClassA(&wc);
        m_hEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
        m_hWnd = CreateWindowA("TvlUtilWaitWindow", "", 0, 0, 0, 0, 0, HWND_MESSAGE, NULL,
                               wc.hInstance, NULL);
        SetWindowLongPtrA(m_hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    ~WaitWindow()
    {
        DestroyWindow(m_hWnd);
        CloseHandle(m_hEvent);
    }

    HWND m_hWnd;
    HANDLE m_hEvent;
    int m_nMessages = 0;
    int m_nTimers = 0;

private:
    static LRESULT CALLBACK Proc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
    {
        WaitWindow* p = reinterpret_cast<WaitWindow*>(GetWindowLongPtrA(hWnd, GWLP_USERDATA));
        if (p && uMsg == WM_TEST_SIGNAL) {
            p->m_nMessages++;
            SetEvent(p->m_hEvent);
            return 0;
        }
        if (p && uMsg == WM_TIMER) {
            p->m_nTimers++;
            return 0;
        }
        return DefWindowProcA(hWnd, uMsg, wParam, lParam);
    }
};

DWORD WINAPI PostLater(LPVOID pv)
{
    Sleep(50);
    PostMessageA(static_cast<HWND>(pv), WM_TEST_SIGNAL, 0, 0);
    return 0;
}

struct Events {
    Events()
    {
        for (HANDLE& h : ah)
            h = CreateEventA(NULL, TRUE, FALSE, NULL);
    }
    ~Events()
    {
        for (HANDLE h : ah)
            CloseHandle(h);
    }
    HANDLE ah[2];
};

}  // namespace

TEST(WaitWithMessages, ReturnsWaitResultAndTimeLeft)
{
    const struct {
        const char* pszCase;
        int nSignalled;  // index of the signalled event, -1 for none
        DWORD dwTimeout;
        DWORD dwResult;
    } cases[] = {
        {"time-out 0, nothing signalled", -1, 0, WAIT_TIMEOUT},
        {"short time-out, nothing signalled", -1, 50, WAIT_TIMEOUT},
        {"first signalled", 0, 5000, WAIT_OBJECT_0},
        {"second signalled", 1, 5000, WAIT_OBJECT_0 + 1},
        {"signalled, time-out 0", 1, 0, WAIT_OBJECT_0 + 1},
        {"signalled, infinite", 0, INFINITE, WAIT_OBJECT_0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszCase);
        Events events;
        if (c.nSignalled >= 0)
            SetEvent(events.ah[c.nSignalled]);
        DWORD dwLeft = c.dwTimeout;
        EXPECT_EQ(CUtil::WaitWithMessages(2, events.ah, &dwLeft), c.dwResult);
        if (c.dwResult == WAIT_TIMEOUT) {
            EXPECT_EQ(dwLeft, 0u);
        } else if (c.dwTimeout == INFINITE) {
            EXPECT_EQ(dwLeft, INFINITE);
        } else {
            EXPECT_LE(dwLeft, c.dwTimeout);
        }
    }
}

TEST(WaitWithMessages, DispatchesMessagesWhileWaiting)
{
    for (bool bPostedBefore : {true, false}) {
        SCOPED_TRACE(bPostedBefore ? "posted before the wait" : "posted during the wait");
        WaitWindow wnd;
        ASSERT_TRUE(wnd.m_hWnd != NULL);
        HANDLE hThread = NULL;
        if (bPostedBefore)
            PostMessageA(wnd.m_hWnd, WM_TEST_SIGNAL, 0, 0);
        else
            hThread = CreateThread(NULL, 0, PostLater, wnd.m_hWnd, 0, NULL);
        DWORD dwLeft = 10000;
        EXPECT_EQ(CUtil::WaitWithMessages(1, &wnd.m_hEvent, &dwLeft), WAIT_OBJECT_0);
        EXPECT_EQ(wnd.m_nMessages, 1);
        EXPECT_GT(dwLeft, 0u);
        EXPECT_LE(dwLeft, 10000u);
        if (hThread) {
            WaitForSingleObject(hThread, INFINITE);
            CloseHandle(hThread);
        }
    }
}

TEST(WaitWithMessages, TimesOutWhileMessagesKeepComing)
{
    WaitWindow wnd;
    ASSERT_TRUE(wnd.m_hWnd != NULL);
    ASSERT_NE(SetTimer(wnd.m_hWnd, 1, 10, NULL), 0u);
    Events events;
    DWORD dwLeft = 300;
    EXPECT_EQ(CUtil::WaitWithMessages(1, events.ah, &dwLeft), (DWORD)WAIT_TIMEOUT);
    EXPECT_EQ(dwLeft, 0u);
    EXPECT_GT(wnd.m_nTimers, 0);
    KillTimer(wnd.m_hWnd, 1);
}

TEST(WaitWithMessages, InfiniteWaitKeepsCallersValue)
{
    WaitWindow wnd;
    ASSERT_TRUE(wnd.m_hWnd != NULL);
    HANDLE hThread = CreateThread(NULL, 0, PostLater, wnd.m_hWnd, 0, NULL);
    DWORD dwLeft = INFINITE;
    EXPECT_EQ(CUtil::WaitWithMessages(1, &wnd.m_hEvent, &dwLeft), WAIT_OBJECT_0);
    EXPECT_EQ(dwLeft, INFINITE);
    WaitForSingleObject(hThread, INFINITE);
    CloseHandle(hThread);
}
