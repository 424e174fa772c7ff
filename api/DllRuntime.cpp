// The C++ runtime's thread layer for the DLL, on the platform's own
// primitives. Linked statically into a DLL, the runtime's POSIX-thread
// emulation keeps what it makes (a TLS index per load; for every thread that
// touches it an event and a duplicate of the thread's handle; semaphores) and
// never gives it back when the DLL is unloaded, so a host that loads the
// library for every job runs out of handles and TLS indexes. The runtime only
// needs a few of its entry points (static-initialisation guards, exception
// unwinding and allocation, the per-thread exception record): these
// definitions replace them with critical sections and one TLS index, and the
// DLL's entry point gives everything back after the runtime's own cleanup.
// Only the DLL carries this file: the test executables keep their runtime.
#include <windows.h>
#include <errno.h>
#include <stdint.h>

#include <exception>

namespace __gnu_cxx {
// Frees the runtime's emergency exception pool (part of the runtime).
void __freeres();
}  // namespace __gnu_cxx

namespace {
// A lock made on first use from a statically initialised mutex.
struct RuntimeLock {
    CRITICAL_SECTION cs;
    RuntimeLock* pNext;
    volatile LONG bLive;
};
// Every lock made, pushed without a lock; a destroyed one is reused.
RuntimeLock* volatile g_pLocks = nullptr;

// The runtime's per-thread exception record, and the registry of those made.
struct ExceptionGlobals {
    void* pCaughtExceptions;
    unsigned int nUncaughtExceptions;
    ExceptionGlobals* pNext;
    volatile LONG bUsed;
};
ExceptionGlobals* volatile g_pGlobals = nullptr;
volatile LONG g_nTlsIndex = static_cast<LONG>(TLS_OUT_OF_INDEXES);

// The values a statically initialised mutex holds until its first use.
bool IsUnmade(intptr_t nValue)
{
    return nValue == -1 || nValue == -2 || nValue == -3 || nValue == 0;
}

template <typename T>
void Push(T* volatile& pHead, T* p)
{
    T* pOld;
    do {
        pOld = pHead;
        p->pNext = pOld;
    } while (InterlockedCompareExchangePointer(reinterpret_cast<PVOID volatile*>(&pHead), p,
                                               pOld) != pOld);
}

RuntimeLock* MakeLock()
{
    for (RuntimeLock* p = g_pLocks; p != nullptr; p = p->pNext) {
        if (InterlockedCompareExchange(&p->bLive, 1, 0) == 0) {
            InitializeCriticalSection(&p->cs);
            return p;
        }
    }
    RuntimeLock* p = static_cast<RuntimeLock*>(
        HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(RuntimeLock)));
    if (p == nullptr)
        return nullptr;
    InitializeCriticalSection(&p->cs);
    p->bLive = 1;
    Push(g_pLocks, p);
    return p;
}

void DropLock(RuntimeLock* p)
{
    DeleteCriticalSection(&p->cs);
    InterlockedExchange(&p->bLive, 0);
}

RuntimeLock* LockOf(intptr_t* pMutex)
{
    intptr_t nValue = *static_cast<volatile intptr_t*>(pMutex);
    if (!IsUnmade(nValue))
        return reinterpret_cast<RuntimeLock*>(nValue);
    RuntimeLock* p = MakeLock();
    if (p == nullptr)
        return nullptr;
    PVOID pPrevious = InterlockedCompareExchangePointer(reinterpret_cast<PVOID volatile*>(pMutex),
                                                        p, reinterpret_cast<PVOID>(nValue));
    if (pPrevious == reinterpret_cast<PVOID>(nValue))
        return p;
    // Another thread made it first.
    DropLock(p);
    return static_cast<RuntimeLock*>(pPrevious);
}

DWORD TlsIndex()
{
    LONG nIndex = g_nTlsIndex;
    if (nIndex != static_cast<LONG>(TLS_OUT_OF_INDEXES))
        return static_cast<DWORD>(nIndex);
    DWORD dwIndex = TlsAlloc();
    if (dwIndex == TLS_OUT_OF_INDEXES)
        std::terminate();
    LONG nPrevious = InterlockedCompareExchange(&g_nTlsIndex, static_cast<LONG>(dwIndex),
                                                static_cast<LONG>(TLS_OUT_OF_INDEXES));
    if (nPrevious == static_cast<LONG>(TLS_OUT_OF_INDEXES))
        return dwIndex;
    TlsFree(dwIndex);
    return static_cast<DWORD>(nPrevious);
}

// A thread that ends hands its record to the next thread that needs one.
void ReleaseThreadGlobals()
{
    LONG nIndex = g_nTlsIndex;
    if (nIndex == static_cast<LONG>(TLS_OUT_OF_INDEXES))
        return;
    ExceptionGlobals* p = static_cast<ExceptionGlobals*>(TlsGetValue(static_cast<DWORD>(nIndex)));
    if (p == nullptr)
        return;
    TlsSetValue(static_cast<DWORD>(nIndex), nullptr);
    p->pCaughtExceptions = nullptr;
    p->nUncaughtExceptions = 0;
    InterlockedExchange(&p->bUsed, 0);
}

// Everything this layer made, once nothing of the DLL runs any more.
void ReleaseAll()
{
    __gnu_cxx::__freeres();
    for (RuntimeLock* p = g_pLocks; p != nullptr;) {
        RuntimeLock* pNext = p->pNext;
        if (p->bLive)
            DeleteCriticalSection(&p->cs);
        HeapFree(GetProcessHeap(), 0, p);
        p = pNext;
    }
    g_pLocks = nullptr;
    for (ExceptionGlobals* p = g_pGlobals; p != nullptr;) {
        ExceptionGlobals* pNext = p->pNext;
        HeapFree(GetProcessHeap(), 0, p);
        p = pNext;
    }
    g_pGlobals = nullptr;
    if (g_nTlsIndex != static_cast<LONG>(TLS_OUT_OF_INDEXES))
        TlsFree(static_cast<DWORD>(g_nTlsIndex));
    g_nTlsIndex = static_cast<LONG>(TLS_OUT_OF_INDEXES);
}
}  // namespace

extern "C" {

int pthread_mutex_init(intptr_t* pMutex, const void*)
{
    *pMutex = -1;
    return 0;
}

int pthread_mutex_destroy(intptr_t* pMutex)
{
    intptr_t nValue = *pMutex;
    if (!IsUnmade(nValue))
        DropLock(reinterpret_cast<RuntimeLock*>(nValue));
    *pMutex = -1;
    return 0;
}

int pthread_mutex_lock(intptr_t* pMutex)
{
    RuntimeLock* p = LockOf(pMutex);
    if (p == nullptr)
        return ENOMEM;
    EnterCriticalSection(&p->cs);
    return 0;
}

int pthread_mutex_unlock(intptr_t* pMutex)
{
    RuntimeLock* p = LockOf(pMutex);
    if (p == nullptr)
        return EPERM;
    LeaveCriticalSection(&p->cs);
    return 0;
}

// 0 not run, 2 running, 1 done.
int pthread_once(long* pOnce, void (*pfnInit)(void))
{
    if (InterlockedCompareExchange(pOnce, 1, 1) == 1)
        return 0;
    if (InterlockedCompareExchange(pOnce, 2, 0) == 0) {
        pfnInit();
        InterlockedExchange(pOnce, 1);
        return 0;
    }
    while (InterlockedCompareExchange(pOnce, 1, 1) != 1)
        Sleep(0);
    return 0;
}

// Used only while one thread waits for another to finish initialising a
// static: a wait that may end early is allowed, so it polls.
int pthread_cond_wait(intptr_t*, intptr_t* pMutex)
{
    pthread_mutex_unlock(pMutex);
    Sleep(1);
    return pthread_mutex_lock(pMutex);
}

int pthread_cond_broadcast(intptr_t*)
{
    return 0;
}

void* __cxa_get_globals() noexcept
{
    DWORD dwIndex = TlsIndex();
    ExceptionGlobals* p = static_cast<ExceptionGlobals*>(TlsGetValue(dwIndex));
    if (p != nullptr)
        return p;
    for (ExceptionGlobals* q = g_pGlobals; q != nullptr && p == nullptr; q = q->pNext) {
        if (InterlockedCompareExchange(&q->bUsed, 1, 0) == 0)
            p = q;
    }
    if (p == nullptr) {
        p = static_cast<ExceptionGlobals*>(
            HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(ExceptionGlobals)));
        if (p == nullptr)
            std::terminate();
        p->bUsed = 1;
        Push(g_pGlobals, p);
    }
    TlsSetValue(dwIndex, p);
    return p;
}

void* __cxa_get_globals_fast() noexcept
{
    return __cxa_get_globals();
}

BOOL WINAPI DllMainCRTStartup(HANDLE hInstance, DWORD dwReason, LPVOID pReserved);

// The DLL's entry point (see CMakeLists.txt): the runtime's own, then this
// layer's cleanup. At process exit nothing is given back: other threads may
// have died holding the locks, and the process goes anyway.
BOOL WINAPI TvlDllEntry(HANDLE hInstance, DWORD dwReason, LPVOID pReserved)
{
    BOOL bResult = DllMainCRTStartup(hInstance, dwReason, pReserved);
    if (dwReason == DLL_THREAD_DETACH)
        ReleaseThreadGlobals();
    else if (dwReason == DLL_PROCESS_DETACH && pReserved == nullptr)
        ReleaseAll();
    return bResult;
}

}  // extern "C"
