#pragma once
#include <windows.h>

#include <vector>

// A Win32 file handle, closed with its owner.
class CFileHandle {
public:
    CFileHandle() : m_h(INVALID_HANDLE_VALUE) {}
    explicit CFileHandle(HANDLE h) : m_h(h) {}
    ~CFileHandle() { Close(); }
    bool IsValid() const { return m_h != INVALID_HANDLE_VALUE; }
    void Attach(HANDLE h)
    {
        Close();
        m_h = h;
    }
    HANDLE Get() const { return m_h; }
    void Close()
    {
        if (m_h != INVALID_HANDLE_VALUE)
            CloseHandle(m_h);
        m_h = INVALID_HANDLE_VALUE;
    }

    // Writes all nSize bytes; false, with dwError set, when they were not all written.
    bool WriteAll(const void* pData, size_t nSize, DWORD& dwError)
    {
        DWORD dwWritten = 0;
        if (WriteFile(m_h, pData, static_cast<DWORD>(nSize), &dwWritten, nullptr) &&
            dwWritten == nSize)
            return true;
        dwError = GetLastError() != 0 ? GetLastError() : ERROR_WRITE_FAULT;
        return false;
    }

    // Reads to the end in blocks of nBlock bytes, handing each block to fn (the
    // last one is short, possibly empty). Stops early when fn returns false.
    // False, with dwError set, when a read fails.
    template <typename F>
    bool ReadBlocks(DWORD nBlock, F fn, DWORD& dwError)
    {
        std::vector<BYTE> block(nBlock);
        for (;;) {
            DWORD dwRead = 0;
            if (!ReadFile(m_h, block.data(), nBlock, &dwRead, nullptr)) {
                dwError = GetLastError();
                return false;
            }
            if (!fn(block.data(), dwRead) || dwRead < nBlock)
                return true;
        }
    }

    // As ReadBlocks with blocks of nSlice bytes, but reading nRead bytes (a
    // multiple of nSlice) at a time from a disk file: fn sees the same blocks,
    // for a fraction of the system calls. A pipe or device answers a read with
    // what it has, and a short read ends the data: it is read nSlice at a time.
    template <typename F>
    bool ReadSlices(DWORD nRead, DWORD nSlice, F fn, DWORD& dwError)
    {
        if (GetFileType(m_h) != FILE_TYPE_DISK)
            nRead = nSlice;
        std::vector<BYTE> block(nRead);
        for (;;) {
            DWORD dwRead = 0;
            if (!ReadFile(m_h, block.data(), nRead, &dwRead, nullptr)) {
                dwError = GetLastError();
                return false;
            }
            DWORD dwDone = 0;
            for (; dwRead - dwDone >= nSlice; dwDone += nSlice) {
                if (!fn(block.data() + dwDone, nSlice))
                    return true;
            }
            if (dwRead < nRead) {
                fn(block.data() + dwDone, dwRead - dwDone);
                return true;
            }
        }
    }

private:
    CFileHandle(const CFileHandle&) = delete;
    CFileHandle& operator=(const CFileHandle&) = delete;
    HANDLE m_h;
};
