#include "app/CInterfaceThread.h"

#include "api/CTarvoselException.h"
#include "app/CTarvoselWnd.h"
#include "cert/CSession.h"
#include "cert/wincrypt/WincryptRecords.h"
#include "host/Messages.h"
#include "platform/framework/CLibraryThread.h"
#include "platform/framework/CWinApp.h"
#include "ui/ISessionLender.h"

struct CInterfaceThread::CRun {
    CInterfaceThread* pOwner = nullptr;
    int nFlags = 0;
    CLibraryThread thread;
    HANDLE hQueueReady = nullptr;  // set once the thread has a message queue
    volatile bool bStop = false;   // the stop message was seen

    ~CRun()
    {
        if (hQueueReady != nullptr)
            CloseHandle(hQueueReady);
    }
};

CInterfaceThread::CRun* CInterfaceThread::s_pModalFilterRun = nullptr;

CInterfaceThread::CInterfaceThread(ISessionLender& lender, const CHostSettings& settings,
                                   CCriticalSection& csLending)
    : m_lender(lender), m_settings(settings), m_csLending(csLending)
{
}

CInterfaceThread::~CInterfaceThread() {}

void CInterfaceThread::ForgetWindows()
{
    m_hWndTray = nullptr;
    m_pRun.reset();
    m_hWndCardDialog = nullptr;
}

void CInterfaceThread::Start(int nFlags, const char* pszContext)
{
    std::unique_ptr<CRun> pRun(new CRun);
    pRun->pOwner = this;
    pRun->nFlags = nFlags;
    pRun->hQueueReady = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (pRun->hQueueReady == nullptr)
        throw new CTarvoselException(EXC_WINDOWS, GetLastError(), pszContext);
    DWORD dwError = pRun->thread.Start(ThreadProc, pRun.get(), CWinApp::PinModule());
    if (dwError != 0)
        throw new CTarvoselException(EXC_WINDOWS, dwError, pszContext);
    // Card events are posted to this thread: it must have its queue first.
    WaitForSingleObject(pRun->hQueueReady, 5000);
    m_pRun = std::move(pRun);
}

DWORD CInterfaceThread::GetThreadId() const
{
    return m_pRun ? m_pRun->thread.GetThreadId() : 0;
}

void CInterfaceThread::Stop()
{
    if (!m_pRun)
        return;
    CLibraryThread& thread = m_pRun->thread;
    PostThreadMessageA(thread.GetThreadId(), WM_STOP_INTERFACE, 0, 0);
    // The wait is bounded whatever the thread does: it never holds a lock of
    // ours for longer than copying the session pointer.
    if (!thread.Wait(kStopWaitMs)) {
        {
            // Never kill it inside that copy: the next export would wait for ever.
            CCriticalSection::CGuard guard(m_csLending);
            thread.Terminate();
        }
        s_pModalFilterRun = nullptr;
        // Its window went with it; its entry in the notification area would not.
        if (m_hWndTray != nullptr)
            CTarvoselWnd::RemoveEntry(m_hWndTray);
    }
    m_pRun.reset();
    m_hWndTray = nullptr;
    CTarvoselWnd::UnregisterWindowClass();
}

DWORD CInterfaceThread::ThreadProc(void* pParam)
{
    CRun* pRun = static_cast<CRun*>(pParam);
    pRun->pOwner->Run(pRun);
    return 0;
}

void CInterfaceThread::Run(CRun* pRun)
{
    MSG msg;
    PeekMessageA(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
    // The window exists before Initialize returns, so that a login right after
    // it finds the window to refresh.
    std::unique_ptr<CTarvoselWnd> pTray;
    if (pRun->nFlags & 1) {
        pTray.reset(new CTarvoselWnd(m_lender, m_settings));
        if (pTray->Create())
            m_hWndTray = pTray->m_hWnd;
    }
    // The dialogs of this thread run loops of their own (message boxes, the
    // properties and file dialogs), which drop messages posted to no window:
    // the stop and card events are taken out of those loops here.
    HHOOK hFilter = nullptr;
    if (pTray) {
        s_pModalFilterRun = pRun;
        hFilter = SetWindowsHookExA(WH_MSGFILTER, ModalFilterProc, nullptr, GetCurrentThreadId());
    }
    SetEvent(pRun->hQueueReady);

    while (!pRun->bStop) {
        WaitMessage();
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.hwnd == nullptr && HandleThreadMessage(pRun, msg))
                continue;
            if (pTray && pTray->PreTranslateMessage(&msg))
                continue;
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    if (hFilter != nullptr)
        UnhookWindowsHookEx(hFilter);
    s_pModalFilterRun = nullptr;
}

bool CInterfaceThread::HandleThreadMessage(CRun* pRun, const MSG& msg)
{
    if (msg.message == WM_STOP_INTERFACE) {
        if (m_hWndTray != nullptr && IsWindow(m_hWndTray))
            SendMessageA(m_hWndTray, WM_CLOSE, 0, 0);
        pRun->bStop = true;
        return true;
    }
    if (msg.message == WM_CARD_EVENT) {
        OnCardEvent(msg.wParam, msg.lParam);
        return true;
    }
    return false;
}

LRESULT CALLBACK CInterfaceThread::ModalFilterProc(int nCode, WPARAM wParam, LPARAM lParam)
{
    MSG* pMsg = reinterpret_cast<MSG*>(lParam);
    CRun* pRun = s_pModalFilterRun;
    if (nCode >= 0 && pMsg != nullptr && pMsg->hwnd == nullptr && pRun != nullptr &&
        pRun->pOwner->HandleThreadMessage(pRun, *pMsg))
        return TRUE;
    return CallNextHookEx(nullptr, nCode, wParam, lParam);
}

void CInterfaceThread::OnCardEvent(WPARAM wParam, LPARAM lParam)
{
    HWND hDialog = m_hWndCardDialog;
    if (hDialog != nullptr) {
        PostMessageA(hDialog, WM_CARD_EVENT, wParam, lParam);
        return;
    }
    if (wParam != 0)
        return;
    // Lent, not locked: the host's thread may be signing with it meanwhile.
    CSessionRef pSession = m_lender.LendSession();
    if (!pSession || !(pSession->GetState() & SESSION_OPEN))
        return;
    CS_SESSIONINFO info;
    pSession->GetSessionData(&info);
    const CS_CARDINFO* pCard = info.Details<CS_CARDINFO>();
    if (pCard != nullptr && pCard->nReader == static_cast<int>(lParam))
        pSession->Invalidate();
}
