// The codec's crypto for the tests: OpenSSL digests (plus our MD2) and raw
// RSA PKCS#1 v1.5 with the DigestInfo built here, so that any digest works.
#pragma once

#include <string>
#include <vector>

#include "cert/pkcs7/CPkcs7Crypto.h"

class COpenSslTestCrypto : public CPkcs7Crypto {
public:
    std::unique_ptr<CPkcs7Digest> CreateDigest(const std::string& strDigestOid) override;
    bool VerifyDigestSignature(const uint8_t* pCert, size_t nCert, const std::string& strDigestOid,
                               const uint8_t* pDigest, size_t nDigest, const uint8_t* pSignature,
                               size_t nSignature) override;

    // Signs data with an RSA private key (PEM file); the writer's sign callback.
    bool Sign(const std::string& strKeyPem, const std::string& strDigestOid, const uint8_t* pData,
              size_t nSize, std::vector<uint8_t>& signature);

    std::vector<uint8_t> Digest(const std::string& strDigestOid, const std::vector<uint8_t>& data);

    int nVerifyCalls = 0;
};
