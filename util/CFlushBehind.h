#pragma once
#include <windows.h>

#include <cstdint>

#include "platform/framework/CLibraryThread.h"

// Flushes a file that is being written on a thread of its own, every so many
// bytes, so that the disk takes the data while the writer goes on, and the
// writer's last FlushFileBuffers finds little left to do. Nothing happens for
// files shorter than one step (no thread). A failed flush is kept: the system
// may report a failed write to one flush only, so the writer must ask Finish,
// which waits for the thread, before its own flush.
class CFlushBehind {
public:
    enum : uint64_t { STEP = 64 * 1024 * 1024 };

    explicit CFlushBehind(HANDLE hFile, uint64_t nStep = STEP);
    ~CFlushBehind();

    // nSize more bytes were handed to the file.
    void Written(size_t nSize);
    // Waits for the thread; false, with the error as the last error, when a
    // flush failed.
    bool Finish();

private:
    CFlushBehind(const CFlushBehind&) = delete;
    CFlushBehind& operator=(const CFlushBehind&) = delete;

    void Stop();
    static DWORD Run(void* pParam);

    HANDLE m_hFile;
    uint64_t m_nStep;
    uint64_t m_nPending = 0;
    HANDLE m_hWake = nullptr;
    bool m_bThreadTried = false;
    volatile LONG m_nRequests = 0;
    volatile LONG m_bStop = 0;
    volatile LONG m_dwError = 0;
    CLibraryThread m_thread;
};
