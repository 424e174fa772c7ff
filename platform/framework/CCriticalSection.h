#pragma once
#include <windows.h>

// A lock on the platform's critical section (recursive), released with its
// owner. The library's locks use it rather than the C++ runtime's mutexes,
// whose emulation keeps objects behind when the DLL is unloaded.
class CCriticalSection {
public:
    CCriticalSection() { InitializeCriticalSection(&m_cs); }
    ~CCriticalSection() { DeleteCriticalSection(&m_cs); }
    void Lock() { EnterCriticalSection(&m_cs); }
    void Unlock() { LeaveCriticalSection(&m_cs); }
    // Takes the lock only when nobody else holds it; true when taken.
    bool TryLock() { return TryEnterCriticalSection(&m_cs) != FALSE; }

    // Holds the lock for its scope.
    class CGuard {
    public:
        explicit CGuard(CCriticalSection& cs) : m_cs(cs) { m_cs.Lock(); }
        ~CGuard() { m_cs.Unlock(); }

    private:
        CGuard(const CGuard&) = delete;
        CGuard& operator=(const CGuard&) = delete;
        CCriticalSection& m_cs;
    };

private:
    CCriticalSection(const CCriticalSection&) = delete;
    CCriticalSection& operator=(const CCriticalSection&) = delete;
    CRITICAL_SECTION m_cs;
};
