#pragma once
#include <windows.h>

// A lock on a kernel mutex (recursive). Unlike a critical section it can be
// waited for with a bound, and a thread that dies holding it does not keep it
// for ever: the next thread to wait gets it and is told so.
class CMutex {
public:
    enum ELock { TAKEN, ABANDONED, TIMED_OUT };

    CMutex() : m_h(CreateMutexA(nullptr, FALSE, nullptr)) {}
    ~CMutex()
    {
        if (m_h != nullptr)
            CloseHandle(m_h);
    }
    // ABANDONED: taken, from a thread that ended holding it (what it guarded
    // may be half done).
    ELock Lock(DWORD dwMs = INFINITE)
    {
        // Without a mutex (no handle left at load) nothing can be guarded.
        if (m_h == nullptr)
            return TAKEN;
        switch (WaitForSingleObject(m_h, dwMs)) {
        case WAIT_OBJECT_0: return TAKEN;
        case WAIT_ABANDONED: return ABANDONED;
        default: return TIMED_OUT;
        }
    }
    bool TryLock() { return Lock(0) != TIMED_OUT; }
    void Unlock()
    {
        if (m_h != nullptr)
            ReleaseMutex(m_h);
    }

private:
    CMutex(const CMutex&) = delete;
    CMutex& operator=(const CMutex&) = delete;
    HANDLE m_h;
};
