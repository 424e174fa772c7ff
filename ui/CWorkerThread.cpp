#include "ui/CWorkerThread.h"

#include <windows.h>

#include <new>

#include "api/CatchToException.h"
#include "api/CTarvoselException.h"
#include "api/ResultCodes.h"
#include "platform/framework/CWaitCursor.h"
#include "util/CUtil.h"

namespace {
struct WorkerData {
    const std::function<void()>* pfnWork;
    const char* pszContext;
    CTarvoselException* pError;
};

CTarvoselException* RunCatching(const std::function<void()>& fnWork, const char* pszContext)
{
    return CatchToException(pszContext, fnWork).pException;
}

DWORD WINAPI WorkerThreadProc(LPVOID pParam)
{
    WorkerData* pData = static_cast<WorkerData*>(pParam);
    pData->pError = RunCatching(*pData->pfnWork, pData->pszContext);
    return 0;
}
}  // namespace

CTarvoselException* CWorkerThread::Run(const std::function<void()>& fnWork, const char* pszContext)
{
    // Windows 9x has no use for the worker: its providers block the caller anyway.
    if (::GetVersion() & 0x80000000) {
        CWaitCursor wait;
        return RunCatching(fnWork, pszContext);
    }
    WorkerData data = {&fnWork, pszContext, nullptr};
    HANDLE hThread = ::CreateThread(nullptr, 0, WorkerThreadProc, &data, 0, nullptr);
    if (hThread == nullptr)
        return new (std::nothrow) CTarvoselException(EXC_WINDOWS, GetLastError(), pszContext);
    DWORD dwTimeout = INFINITE;
    DWORD dwWait = CUtil::WaitWithMessages(1, &hThread, &dwTimeout);
    CTarvoselException* pError = nullptr;
    if (dwWait == WAIT_OBJECT_0) {
        pError = data.pError;
    } else {
        // The worker's record cannot be trusted once it is stopped mid-way.
        DWORD dwError = GetLastError();
        ::TerminateThread(hThread, 1);
        pError = new (std::nothrow) CTarvoselException(
            EXC_WINDOWS, dwError != 0 ? dwError : ERROR_INVALID_HANDLE, pszContext);
    }
    ::CloseHandle(hThread);
    return pError;
}
