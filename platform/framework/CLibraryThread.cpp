#include "platform/framework/CLibraryThread.h"

namespace {
// How long Terminate waits for a killed thread to be gone.
const DWORD kTerminateWaitMs = 5000;
}  // namespace

CLibraryThread::~CLibraryThread()
{
    Close();
}

DWORD CLibraryThread::Start(PFN_RUN pfnRun, void* pParam, HMODULE hPin)
{
    Close();
    m_pfnRun = pfnRun;
    m_pParam = pParam;
    m_hPin = hPin;
    InterlockedExchange(&m_bPinHeld, hPin != nullptr ? 1 : 0);
    m_hThread = CreateThread(nullptr, 0, ThreadProc, this, 0, &m_dwThreadId);
    if (m_hThread != nullptr)
        return 0;
    DWORD dwError = GetLastError();
    m_dwThreadId = 0;
    ReleasePin();
    return dwError != 0 ? dwError : static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY);
}

DWORD WINAPI CLibraryThread::ThreadProc(LPVOID pParam)
{
    CLibraryThread* pThis = static_cast<CLibraryThread*>(pParam);
    DWORD dwResult = pThis->m_pfnRun(pThis->m_pParam);
    HMODULE hPin = pThis->m_hPin;
    // From here on the owner may already be gone: only locals.
    if (InterlockedExchange(&pThis->m_bPinHeld, 0) != 0 && hPin != nullptr)
        FreeLibraryAndExitThread(hPin, dwResult);
    return dwResult;
}

bool CLibraryThread::Wait(DWORD dwMs) const
{
    return m_hThread == nullptr || WaitForSingleObject(m_hThread, dwMs) == WAIT_OBJECT_0;
}

bool CLibraryThread::Terminate()
{
    if (m_hThread == nullptr)
        return true;
    if (!TerminateThread(m_hThread, 0)) {
        DWORD dwError = GetLastError();
        // A thread that ended meanwhile cannot be killed, and need not be.
        if (!Wait(0)) {
            SetLastError(dwError);
            return false;
        }
    }
    // The kill is asynchronous: the reference may only be given back once the
    // thread can no longer run the module's code.
    if (WaitForSingleObject(m_hThread, kTerminateWaitMs) == WAIT_OBJECT_0)
        ReleasePin();
    return true;
}

void CLibraryThread::ReleasePin()
{
    HMODULE hPin = m_hPin;
    if (InterlockedExchange(&m_bPinHeld, 0) != 0 && hPin != nullptr)
        FreeLibrary(hPin);
}

void CLibraryThread::Close()
{
    if (m_hThread != nullptr)
        CloseHandle(m_hThread);
    m_hThread = nullptr;
    m_dwThreadId = 0;
}
