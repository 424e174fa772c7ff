// One running message digest, made by CPkcs7Crypto::CreateDigest.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class CPkcs7Digest {
public:
    virtual ~CPkcs7Digest() {}
    virtual bool Update(const uint8_t* pData, size_t nSize) = 0;
    // Ends the digest; no Update may follow.
    virtual bool Final(std::vector<uint8_t>& value) = 0;
};
