// The cryptography the PKCS#7 codec needs, supplied by the platform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "cert/pkcs7/CPkcs7Digest.h"

class CPkcs7Crypto {
public:
    virtual ~CPkcs7Crypto() {}

    // A new digest for the dotted algorithm OID, or null when it is not supported.
    virtual std::unique_ptr<CPkcs7Digest> CreateDigest(const std::string& strDigestOid) = 0;

    // Checks an RSA PKCS#1 v1.5 signature (big-endian, as carried in PKCS#7) over a
    // precomputed digest made with strDigestOid, with the public key of the
    // certificate (DER). True only when the signature is valid.
    virtual bool VerifyDigestSignature(const uint8_t* pCert, size_t nCert,
                                       const std::string& strDigestOid, const uint8_t* pDigest,
                                       size_t nDigest, const uint8_t* pSignature,
                                       size_t nSignature) = 0;
};
