#include "util/CBlockPipe.h"

#include <string.h>

CBlockPipe::CBlockPipe(size_t nBlockSize, unsigned nBlocks)
    : m_nBlockSize(nBlockSize),
      m_nBlocks(nBlocks),
      m_buffer(nBlocks * nBlockSize),
      m_anSize(nBlocks),
      m_hFree(CreateSemaphoreA(nullptr, static_cast<LONG>(nBlocks), static_cast<LONG>(nBlocks), nullptr)),
      m_hFilled(CreateSemaphoreA(nullptr, 0, static_cast<LONG>(nBlocks), nullptr))
{
}

CBlockPipe::~CBlockPipe()
{
    if (m_hFree != nullptr)
        CloseHandle(m_hFree);
    if (m_hFilled != nullptr)
        CloseHandle(m_hFilled);
}

bool CBlockPipe::Push(size_t nSize)
{
    m_anSize[m_nWrite] = nSize;
    m_nWrite = (m_nWrite + 1) % m_nBlocks;
    m_bHaveFree = false;
    m_nFill = 0;
    return ReleaseSemaphore(m_hFilled, 1, nullptr) != FALSE;
}

bool CBlockPipe::Write(const uint8_t* pData, size_t nSize, DWORD& dwError)
{
    if (m_hFree == nullptr || m_hFilled == nullptr || m_bClosed) {
        dwError = ERROR_INVALID_HANDLE;
        return false;
    }
    while (nSize > 0) {
        if (!m_bHaveFree) {
            if (WaitForSingleObject(m_hFree, INFINITE) != WAIT_OBJECT_0) {
                dwError = GetLastError();
                return false;
            }
            m_bHaveFree = true;
        }
        size_t nTake = m_nBlockSize - m_nFill;
        if (nTake > nSize)
            nTake = nSize;
        memcpy(&m_buffer[m_nWrite * m_nBlockSize + m_nFill], pData, nTake);
        m_nFill += nTake;
        pData += nTake;
        nSize -= nTake;
        if (m_nFill == m_nBlockSize && !Push(m_nBlockSize)) {
            dwError = GetLastError();
            return false;
        }
    }
    return true;
}

void CBlockPipe::Close(DWORD dwError)
{
    if (m_bClosed || m_hFree == nullptr || m_hFilled == nullptr)
        return;
    m_bClosed = true;
    if (m_bHaveFree && m_nFill > 0)
        Push(m_nFill);
    if (!m_bHaveFree && WaitForSingleObject(m_hFree, INFINITE) != WAIT_OBJECT_0)
        return;
    m_dwCloseError = dwError;
    Push(END);
}

bool CBlockPipe::Read(uint8_t* pData, size_t nSize, size_t& nRead, DWORD& dwError)
{
    nRead = 0;
    if (m_hFree == nullptr || m_hFilled == nullptr) {
        dwError = ERROR_INVALID_HANDLE;
        return false;
    }
    while (nRead < nSize && !m_bEnded) {
        if (!m_bHaveFilled) {
            if (WaitForSingleObject(m_hFilled, INFINITE) != WAIT_OBJECT_0) {
                dwError = GetLastError();
                return false;
            }
            m_bHaveFilled = true;
            m_nTaken = 0;
            if (m_anSize[m_nRead] == END) {
                m_bEnded = true;
                break;
            }
        }
        size_t nTake = m_anSize[m_nRead] - m_nTaken;
        if (nTake > nSize - nRead)
            nTake = nSize - nRead;
        memcpy(pData + nRead, &m_buffer[m_nRead * m_nBlockSize + m_nTaken], nTake);
        m_nTaken += nTake;
        nRead += nTake;
        if (m_nTaken == m_anSize[m_nRead]) {
            m_bHaveFilled = false;
            m_nRead = (m_nRead + 1) % m_nBlocks;
            ReleaseSemaphore(m_hFree, 1, nullptr);
        }
    }
    if (m_bEnded && m_dwCloseError != 0) {
        dwError = m_dwCloseError;
        return false;
    }
    return true;
}

void CBlockPipe::Drain()
{
    std::vector<uint8_t> sink(m_nBlockSize);
    size_t nRead = 0;
    DWORD dwError = 0;
    while (!m_bEnded && Read(sink.data(), sink.size(), nRead, dwError)) {
    }
}
