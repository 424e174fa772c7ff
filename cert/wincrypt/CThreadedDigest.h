#pragma once
#include <windows.h>

#include <memory>
#include <vector>

#include "cert/pkcs7/CPkcs7Digest.h"
#include "platform/framework/CLibraryThread.h"

class CBlockPipe;

// A digest that hashes on a thread of its own, so that the reading and writing
// of the caller's thread overlap with it. Update hands the bytes to the thread
// through a pipe of a few fixed blocks and returns; memory stays bounded
// whatever the amount of data, and data shorter than one block is hashed on
// the caller's thread at Final, with no thread at all. The bytes reach the
// inner digest in the order given, so the value is the inner digest's. A
// failure of the inner digest is reported by the next Update or by Final, with
// the system's error of the failed call as the last error.
class CThreadedDigest : public CPkcs7Digest {
public:
    enum { BLOCK_SIZE = 1024 * 1024, BLOCKS = 4 };

    explicit CThreadedDigest(std::unique_ptr<CPkcs7Digest> pInner);
    ~CThreadedDigest() override;

    bool Update(const uint8_t* pData, size_t nSize) override;
    bool Final(std::vector<uint8_t>& value) override;

    // The thread will not start, as when the system refuses one: dwError is
    // taken as the refusal's error. For tests of the way without a thread.
    void RefuseThread(DWORD dwError) { m_dwRefuseThread = dwError; }

private:
    CThreadedDigest(const CThreadedDigest&) = delete;
    CThreadedDigest& operator=(const CThreadedDigest&) = delete;

    bool Hash(const uint8_t* pData, size_t nSize);  // on the caller's thread
    void Stop(DWORD dwError);
    bool Failed();
    static DWORD Run(void* pParam);

    std::unique_ptr<CPkcs7Digest> m_pInner;
    std::vector<uint8_t> m_first;  // the bytes before the thread starts
    std::unique_ptr<CBlockPipe> m_pPipe;
    CLibraryThread m_thread;
    bool m_bThreadTried = false;
    DWORD m_dwRefuseThread = 0;
    bool m_bFinal = false;
    volatile LONG m_dwError = 0;  // the inner digest's failure, 0 while none
};
