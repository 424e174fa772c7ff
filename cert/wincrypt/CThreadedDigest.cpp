#include "cert/wincrypt/CThreadedDigest.h"

#include <string.h>

#include "platform/framework/CWinApp.h"

CThreadedDigest::CThreadedDigest(std::unique_ptr<CPkcs7Digest> pInner) : m_pInner(std::move(pInner))
{
}

CThreadedDigest::~CThreadedDigest()
{
    Stop();
    if (m_hFree != nullptr)
        CloseHandle(m_hFree);
    if (m_hFilled != nullptr)
        CloseHandle(m_hFilled);
}

bool CThreadedDigest::Failed()
{
    DWORD dwError = static_cast<DWORD>(m_dwError);
    if (dwError == 0)
        return false;
    SetLastError(dwError);
    return true;
}

bool CThreadedDigest::TakeBlock()
{
    // With the thread running, wait until it has given a block back.
    if (m_thread.IsStarted() && WaitForSingleObject(m_hFree, INFINITE) != WAIT_OBJECT_0)
        return false;
    m_bHaveBlock = true;
    m_nFill = 0;
    return true;
}

bool CThreadedDigest::Update(const uint8_t* pData, size_t nSize)
{
    if (m_bFinal || Failed())
        return false;
    while (nSize > 0) {
        if (!m_bHaveBlock) {
            if (m_buffer.empty())
                m_buffer.resize(BLOCK_SIZE);
            if (!TakeBlock())
                return false;
        }
        size_t nTake = BLOCK_SIZE - m_nFill;
        if (nTake > nSize)
            nTake = nSize;
        memcpy(&m_buffer[m_nProduce * BLOCK_SIZE + m_nFill], pData, nTake);
        m_nFill += nTake;
        pData += nTake;
        nSize -= nTake;
        if (m_nFill == BLOCK_SIZE && !Submit(BLOCK_SIZE))
            return false;
    }
    return !Failed();
}

bool CThreadedDigest::Submit(size_t nSize)
{
    if (!m_bThreadTried) {
        // The first full block: the thread starts, with the whole ring. Without
        // one, the blocks are hashed here.
        m_bThreadTried = true;
        m_buffer.resize(static_cast<size_t>(BLOCKS) * BLOCK_SIZE);
        m_hFree = CreateSemaphoreA(nullptr, BLOCKS - 1, BLOCKS, nullptr);
        m_hFilled = CreateSemaphoreA(nullptr, 0, BLOCKS, nullptr);
        if (m_hFree != nullptr && m_hFilled != nullptr)
            m_thread.Start(Run, this, CWinApp::PinModule());
    }
    m_bHaveBlock = false;
    if (!m_thread.IsStarted()) {
        // No thread could be had: the block is hashed here and is free again.
        if (nSize != STOP && !m_pInner->Update(&m_buffer[m_nProduce * BLOCK_SIZE], nSize)) {
            DWORD dwError = GetLastError();
            InterlockedExchange(&m_dwError, dwError != 0 ? static_cast<LONG>(dwError) : E_FAIL);
            return false;
        }
        return true;
    }
    m_anSize[m_nProduce] = nSize;
    m_nProduce = (m_nProduce + 1) % BLOCKS;
    ReleaseSemaphore(m_hFilled, 1, nullptr);
    return true;
}

void CThreadedDigest::Stop()
{
    if (!m_thread.IsStarted())
        return;
    if (!m_bHaveBlock)
        TakeBlock();
    Submit(STOP);
    m_thread.Wait(INFINITE);
    m_thread.Close();
}

bool CThreadedDigest::Final(std::vector<uint8_t>& value)
{
    if (m_bFinal || Failed())
        return false;
    m_bFinal = true;
    if (m_bHaveBlock && m_nFill > 0) {
        if (m_thread.IsStarted()) {
            Submit(m_nFill);
        } else if (!m_pInner->Update(&m_buffer[m_nProduce * BLOCK_SIZE], m_nFill)) {
            return false;
        }
    }
    Stop();
    if (Failed())
        return false;
    return m_pInner->Final(value);
}

DWORD CThreadedDigest::Run(void* pParam)
{
    CThreadedDigest* pThis = static_cast<CThreadedDigest*>(pParam);
    for (unsigned nBlock = 0;; nBlock = (nBlock + 1) % BLOCKS) {
        if (WaitForSingleObject(pThis->m_hFilled, INFINITE) != WAIT_OBJECT_0)
            return 1;
        size_t nSize = pThis->m_anSize[nBlock];
        if (nSize == STOP)
            return 0;
        // After a failure the blocks are only given back, so that the caller
        // never waits for a block that will not come.
        if (pThis->m_dwError == 0 &&
            !pThis->m_pInner->Update(&pThis->m_buffer[nBlock * BLOCK_SIZE], nSize)) {
            DWORD dwError = GetLastError();
            InterlockedExchange(&pThis->m_dwError,
                                dwError != 0 ? static_cast<LONG>(dwError) : E_FAIL);
        }
        ReleaseSemaphore(pThis->m_hFree, 1, nullptr);
    }
}
