#include "cert/wincrypt/CThreadedDigest.h"

#include "platform/framework/CWinApp.h"
#include "util/CBlockPipe.h"

CThreadedDigest::CThreadedDigest(std::unique_ptr<CPkcs7Digest> pInner) : m_pInner(std::move(pInner))
{
}

CThreadedDigest::~CThreadedDigest()
{
    Stop(ERROR_OPERATION_ABORTED);
}

bool CThreadedDigest::Failed()
{
    DWORD dwError = static_cast<DWORD>(m_dwError);
    if (dwError == 0)
        return false;
    SetLastError(dwError);
    return true;
}

bool CThreadedDigest::Hash(const uint8_t* pData, size_t nSize)
{
    if (nSize == 0 || m_pInner->Update(pData, nSize))
        return true;
    DWORD dwError = GetLastError();
    InterlockedExchange(&m_dwError, dwError != 0 ? static_cast<LONG>(dwError) : E_FAIL);
    return false;
}

bool CThreadedDigest::Update(const uint8_t* pData, size_t nSize)
{
    if (m_bFinal || Failed())
        return false;
    if (m_thread.IsStarted()) {
        DWORD dwError = 0;
        if (!m_pPipe->Write(pData, nSize, dwError)) {
            SetLastError(dwError);
            return false;
        }
        return !Failed();
    }
    if (m_bThreadTried)
        return Hash(pData, nSize);
    if (m_first.size() + nSize < BLOCK_SIZE) {
        m_first.insert(m_first.end(), pData, pData + nSize);
        return true;
    }
    // A whole block: the thread starts. Without one, everything is hashed here.
    m_bThreadTried = true;
    m_pPipe.reset(new CBlockPipe(BLOCK_SIZE, BLOCKS));
    if (m_dwRefuseThread != 0 || m_thread.Start(Run, this, CWinApp::PinModule()) != 0) {
        // Hashed here from now on: the kept bytes go in once, and Final must
        // not find them again.
        m_pPipe.reset();
        std::vector<uint8_t> first;
        first.swap(m_first);
        return Hash(first.data(), first.size()) && Hash(pData, nSize);
    }
    std::vector<uint8_t> first;
    first.swap(m_first);
    DWORD dwError = 0;
    if (!m_pPipe->Write(first.data(), first.size(), dwError) ||
        !m_pPipe->Write(pData, nSize, dwError)) {
        SetLastError(dwError);
        return false;
    }
    return !Failed();
}

void CThreadedDigest::Stop(DWORD dwError)
{
    if (!m_thread.IsStarted())
        return;
    m_pPipe->Close(dwError);
    m_thread.Wait(INFINITE);
    m_thread.Close();
}

bool CThreadedDigest::Final(std::vector<uint8_t>& value)
{
    if (m_bFinal || Failed())
        return false;
    m_bFinal = true;
    if (m_thread.IsStarted())
        Stop(0);
    else if (!Hash(m_first.data(), m_first.size()))
        return false;
    if (Failed())
        return false;
    return m_pInner->Final(value);
}

DWORD CThreadedDigest::Run(void* pParam)
{
    CThreadedDigest* pThis = static_cast<CThreadedDigest*>(pParam);
    std::vector<uint8_t> block(BLOCK_SIZE);
    for (;;) {
        size_t nRead = 0;
        DWORD dwError = 0;
        bool bRead = pThis->m_pPipe->Read(block.data(), block.size(), nRead, dwError);
        // After a failure the blocks are only taken, so that the caller never
        // waits for room that will not come.
        if (nRead > 0 && pThis->m_dwError == 0)
            pThis->Hash(block.data(), nRead);
        if (!bRead || nRead < block.size())
            return 0;
    }
}
