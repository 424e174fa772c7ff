#pragma once
#include <windows.h>

#include <memory>

#include "platform/framework/CCriticalSection.h"

class CHostSettings;
class ISessionLender;

// The library's interface thread: the notification-area window and the
// session information dialog live there, and the reader monitor's card events
// come to its queue. A card event goes to the insert-card dialog while one is
// registered, otherwise a removed card invalidates the session that was on it.
// The dialogs of the thread run loops of their own, which drop messages posted
// to no window: a filter hook takes the stop and the card events out of them.
class CInterfaceThread {
public:
    // csLending is the lock a lending of the session holds: the thread is
    // never killed inside one. The three outlive this object.
    CInterfaceThread(ISessionLender& lender, const CHostSettings& settings,
                     CCriticalSection& csLending);
    ~CInterfaceThread();

    // Starts the thread, with the window when nFlags & 1, and returns once the
    // thread has its message queue (5 s at most). Throws with pszContext.
    void Start(int nFlags, const char* pszContext);
    // Asks the thread to end and waits a bounded time (kStopWaitMs); a thread
    // that does not end is killed and its notification-area entry removed.
    // Nothing when none runs.
    void Stop();
    // Whether a thread was started and not yet stopped.
    bool IsRunning() const { return m_pRun != nullptr; }

    DWORD GetThreadId() const;
    HWND GetTrayWindow() const { return m_hWndTray; }
    // The insert-card dialog that gets the card events (none: null).
    void SetCardDialog(HWND hWnd) { m_hWndCardDialog = hWnd; }
    HWND GetCardDialog() const { return m_hWndCardDialog; }
    // Forgets the windows of a thread that is gone.
    void ForgetWindows();

    static constexpr DWORD kStopWaitMs = 500;

private:
    CInterfaceThread(const CInterfaceThread&) = delete;
    CInterfaceThread& operator=(const CInterfaceThread&) = delete;

    struct CRun;
    static DWORD ThreadProc(void* pParam);
    void Run(CRun* pRun);
    // The stop and the card events; false for any other message.
    bool HandleThreadMessage(CRun* pRun, const MSG& msg);
    static LRESULT CALLBACK ModalFilterProc(int nCode, WPARAM wParam, LPARAM lParam);
    void OnCardEvent(WPARAM wParam, LPARAM lParam);

    // The run whose dialogs' loops the filter watches.
    static CRun* s_pModalFilterRun;

    ISessionLender& m_lender;
    const CHostSettings& m_settings;
    CCriticalSection& m_csLending;
    // Owned here so that it outlives the bounded wait whatever the thread does.
    std::unique_ptr<CRun> m_pRun;
    volatile HWND m_hWndTray = nullptr;
    volatile HWND m_hWndCardDialog = nullptr;
};
