#pragma once
// A function run on a thread of its own, and a gate that a stand-in's slot
// waits at, for the tests where one thread is held inside a call while
// another goes on.
#include <windows.h>

#include <functional>

namespace tvltest {

class TestThread {
public:
    explicit TestThread(std::function<void()> fn) : m_fn(std::move(fn))
    {
        m_hThread = CreateThread(nullptr, 0, Run, this, 0, &m_dwId);
    }
    // Waits for the thread (bounded); a thread still running is left to run.
    ~TestThread()
    {
        Join(10000);
        if (m_hThread != nullptr)
            CloseHandle(m_hThread);
    }
    bool Started() const { return m_hThread != nullptr; }
    bool Join(DWORD dwMs) { return WaitForSingleObject(m_hThread, dwMs) == WAIT_OBJECT_0; }
    DWORD Id() const { return m_dwId; }

private:
    TestThread(const TestThread&) = delete;
    TestThread& operator=(const TestThread&) = delete;
    static DWORD WINAPI Run(LPVOID p)
    {
        static_cast<TestThread*>(p)->m_fn();
        return 0;
    }
    std::function<void()> m_fn;
    HANDLE m_hThread = nullptr;
    DWORD m_dwId = 0;
};

// Hold() gives the function that a stand-in runs inside a slot: it tells that
// the slot was entered and waits until the gate opens (at most dwHoldMs, so
// that a test of a fault that is back ends anyway).
class Gate {
public:
    explicit Gate(DWORD dwHoldMs = 10000)
        : m_hEntered(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
          m_hOpen(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
          m_dwHoldMs(dwHoldMs)
    {
    }
    ~Gate()
    {
        Open();
        CloseHandle(m_hEntered);
        CloseHandle(m_hOpen);
    }
    std::function<void()> Hold()
    {
        HANDLE hEntered = m_hEntered, hOpen = m_hOpen;
        DWORD dwHoldMs = m_dwHoldMs;
        return [hEntered, hOpen, dwHoldMs] {
            SetEvent(hEntered);
            WaitForSingleObject(hOpen, dwHoldMs);
        };
    }
    bool WaitEntered(DWORD dwMs = 5000)
    {
        return WaitForSingleObject(m_hEntered, dwMs) == WAIT_OBJECT_0;
    }
    void Open() { SetEvent(m_hOpen); }

private:
    Gate(const Gate&) = delete;
    Gate& operator=(const Gate&) = delete;
    HANDLE m_hEntered, m_hOpen;
    DWORD m_dwHoldMs;
};

}  // namespace tvltest
