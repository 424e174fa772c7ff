#pragma once
#include <windows.h>

#include <memory>
#include <vector>

#include "cert/pkcs7/CPkcs7Digest.h"
#include "platform/framework/CLibraryThread.h"

// A digest that hashes on a thread of its own, so that the reading and writing
// of the caller's thread overlap with it. Update copies the bytes into a ring
// of a few fixed blocks and returns; the thread hashes each block as it fills.
// Memory stays bounded whatever the amount of data, and data shorter than one
// block is hashed on the caller's thread at Final, with no thread at all.
// The bytes reach the inner digest in the order given, so the value is the
// inner digest's. A failure of the inner digest is reported by the next
// Update or by Final, with the system's error of the failed call as the last
// error.
class CThreadedDigest : public CPkcs7Digest {
public:
    enum { BLOCK_SIZE = 1024 * 1024, BLOCKS = 4 };

    explicit CThreadedDigest(std::unique_ptr<CPkcs7Digest> pInner);
    ~CThreadedDigest() override;

    bool Update(const uint8_t* pData, size_t nSize) override;
    bool Final(std::vector<uint8_t>& value) override;

private:
    CThreadedDigest(const CThreadedDigest&) = delete;
    CThreadedDigest& operator=(const CThreadedDigest&) = delete;

    enum { STOP = BLOCK_SIZE + 1 };  // a block size that ends the thread

    bool TakeBlock();
    bool Submit(size_t nSize);
    void Stop();
    bool Failed();
    static DWORD Run(void* pParam);

    std::unique_ptr<CPkcs7Digest> m_pInner;
    std::vector<uint8_t> m_buffer;  // BLOCKS blocks, made with the first full one
    size_t m_anSize[BLOCKS] = {};
    unsigned m_nProduce = 0;  // the block being filled
    size_t m_nFill = 0;
    bool m_bHaveBlock = false;
    bool m_bFinal = false;
    bool m_bThreadTried = false;
    HANDLE m_hFree = nullptr;    // counts blocks the thread has given back
    HANDLE m_hFilled = nullptr;  // counts blocks handed to the thread
    CLibraryThread m_thread;
    volatile LONG m_dwError = 0;  // the inner digest's failure, 0 while none
};
