#include "util/CFlushBehind.h"

#include "platform/framework/CWinApp.h"

CFlushBehind::CFlushBehind(HANDLE hFile, uint64_t nStep) : m_hFile(hFile), m_nStep(nStep) {}

CFlushBehind::~CFlushBehind()
{
    Stop();
    if (m_hWake != nullptr)
        CloseHandle(m_hWake);
}

void CFlushBehind::Written(size_t nSize)
{
    m_nPending += nSize;
    if (m_nPending < m_nStep)
        return;
    m_nPending = 0;
    if (!m_bThreadTried) {
        // Without a thread the writer's own flush does it all, as it would.
        m_bThreadTried = true;
        m_hWake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        if (m_hWake == nullptr || m_thread.Start(Run, this, CWinApp::PinModule()) != 0)
            return;
    }
    if (m_thread.IsStarted()) {
        InterlockedIncrement(&m_nRequests);
        SetEvent(m_hWake);
    }
}

void CFlushBehind::Stop()
{
    if (!m_thread.IsStarted())
        return;
    InterlockedExchange(&m_bStop, 1);
    SetEvent(m_hWake);
    m_thread.Wait(INFINITE);
    m_thread.Close();
}

bool CFlushBehind::Finish()
{
    Stop();
    DWORD dwError = static_cast<DWORD>(m_dwError);
    if (dwError == 0)
        return true;
    SetLastError(dwError);
    return false;
}

DWORD CFlushBehind::Run(void* pParam)
{
    CFlushBehind* pThis = static_cast<CFlushBehind*>(pParam);
    LONG nServed = 0;
    // A flush asked for before the stop is still made.
    while (WaitForSingleObject(pThis->m_hWake, INFINITE) == WAIT_OBJECT_0) {
        LONG nRequests = pThis->m_nRequests;
        if (nRequests != nServed && pThis->m_dwError == 0 && !FlushFileBuffers(pThis->m_hFile)) {
            DWORD dwError = GetLastError();
            InterlockedExchange(&pThis->m_dwError,
                                dwError != 0 ? static_cast<LONG>(dwError) : E_FAIL);
        }
        nServed = nRequests;
        if (pThis->m_bStop)
            break;
    }
    return 0;
}
