#pragma once
#include <windows.h>

// A thread of the library's own, on the platform's CreateThread. While it runs
// it holds a reference on the module that carries its code, so that a host
// unloading the library before stopping it does not pull the code from under
// it: the thread gives the reference back as it ends, and Terminate gives it
// back for a thread that had to be killed. The object must outlive the thread:
// destroy it only after Wait has seen the thread end, or after Terminate.
// Whoever waits for the thread's end must hold a reference of its own on the
// module: the end may give back the last one and unmap the waiter's code.
class CLibraryThread {
public:
    typedef DWORD (*PFN_RUN)(void* pParam);

    CLibraryThread() {}
    ~CLibraryThread();

    // Runs pfnRun(pParam) on a new thread that holds hPin (a reference taken by
    // the caller, for instance with CWinApp::PinModule; may be null). On
    // failure returns the system's error and gives hPin back; 0 on success.
    DWORD Start(PFN_RUN pfnRun, void* pParam, HMODULE hPin);
    bool IsStarted() const { return m_hThread != nullptr; }
    DWORD GetThreadId() const { return m_dwThreadId; }
    HANDLE GetHandle() const { return m_hThread; }
    // True when the thread has ended within dwMs (or was never started).
    bool Wait(DWORD dwMs) const;
    // Kills the thread, waits for it to be gone and gives back its module
    // reference if it still held it. False when the kill failed (the system's
    // error is then the last error).
    bool Terminate();
    // Closes the handle of an ended thread; the object may start another.
    void Close();

private:
    CLibraryThread(const CLibraryThread&) = delete;
    CLibraryThread& operator=(const CLibraryThread&) = delete;
    static DWORD WINAPI ThreadProc(LPVOID pParam);
    void ReleasePin();

    PFN_RUN m_pfnRun = nullptr;
    void* m_pParam = nullptr;
    HMODULE m_hPin = nullptr;
    // 1 while someone still has to give m_hPin back: the thread as it ends, or
    // Terminate for it.
    volatile LONG m_bPinHeld = 0;
    HANDLE m_hThread = nullptr;
    DWORD m_dwThreadId = 0;
};
