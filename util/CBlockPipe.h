#pragma once
#include <windows.h>

#include <vector>

#include "util/CByteStream.h"

// Bytes from one thread to another through a ring of a few fixed blocks: the
// writer waits while every block is full, the reader while none is. Every block
// but the last is full, so a reader taking whole blocks sees the same cuts in
// the data whatever the writes were. Memory is BLOCKS blocks whatever the
// amount of data. One writer thread, one reader thread.
class CBlockPipe : public CByteSource, public CByteSink {
public:
    enum { BLOCK_SIZE = 256 * 1024, BLOCKS = 4 };  // unless the maker says

    explicit CBlockPipe(size_t nBlockSize = BLOCK_SIZE, unsigned nBlocks = BLOCKS);
    ~CBlockPipe() override;
    size_t BlockSize() const { return m_nBlockSize; }

    // Writer's side. Close ends the data, with dwError 0 when it is complete
    // or the error that cut it short, which the reader gets after the data
    // written before.
    bool Write(const uint8_t* pData, size_t nSize, DWORD& dwError) override;
    void Close(DWORD dwError);

    // Reader's side. Drain takes whatever comes until the writer closes, so
    // that a writer whose reader gave up still runs to its end.
    bool Read(uint8_t* pData, size_t nSize, size_t& nRead, DWORD& dwError) override;
    void Drain();

private:
    CBlockPipe(const CBlockPipe&) = delete;
    CBlockPipe& operator=(const CBlockPipe&) = delete;

    enum : size_t { END = ~static_cast<size_t>(0) };
    bool Push(size_t nSize);

    const size_t m_nBlockSize;
    const unsigned m_nBlocks;
    std::vector<uint8_t> m_buffer;
    std::vector<size_t> m_anSize;
    HANDLE m_hFree;    // blocks the writer may fill
    HANDLE m_hFilled;  // blocks the reader may take
    // Writer.
    unsigned m_nWrite = 0;
    size_t m_nFill = 0;
    bool m_bHaveFree = false;
    bool m_bClosed = false;
    DWORD m_dwCloseError = 0;
    // Reader.
    unsigned m_nRead = 0;
    size_t m_nTaken = 0;
    bool m_bHaveFilled = false;
    bool m_bEnded = false;
};
