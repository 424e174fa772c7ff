#pragma once
#include <windows.h>
#include <wincrypt.h>

#include <memory>
#include <string>
#include <vector>

#include "cert/pkcs7/CPkcs7Crypto.h"

// The signed-message codec's cryptography on CryptoAPI: digests and signature
// checks in a verification-only context of the default provider of the AES type
// (which knows MD2, MD5, SHA-1 and the SHA-2 family) or, on systems without
// one, of the plain RSA type (MD2, MD5 and SHA-1), and signing with the
// caller's key.
class CWincryptPkcs7Crypto : public CPkcs7Crypto {
public:
    CWincryptPkcs7Crypto();
    ~CWincryptPkcs7Crypto() override;

    // False, with the last error set, when no context could be acquired.
    bool IsReady() const { return m_hProv != 0; }

    std::unique_ptr<CPkcs7Digest> CreateDigest(const std::string& strDigestOid) override;
    bool VerifyDigestSignature(const uint8_t* pCert, size_t nCert, const std::string& strDigestOid,
                               const uint8_t* pDigest, size_t nDigest, const uint8_t* pSignature,
                               size_t nSignature) override;

    // Signs bytes with the key dwKeySpec of hKeyProv: hash in that provider, sign,
    // and turn CryptoAPI's little-endian signature into PKCS#7's big-endian one.
    // False with the last error set on failure.
    static bool Sign(HCRYPTPROV hKeyProv, DWORD dwKeySpec, const std::string& strDigestOid,
                     const uint8_t* pData, size_t nData, std::vector<uint8_t>& signature);

    // 0 for an OID this code does not hash.
    static ALG_ID DigestAlgId(const std::string& strDigestOid);

private:
    CWincryptPkcs7Crypto(const CWincryptPkcs7Crypto&) = delete;
    CWincryptPkcs7Crypto& operator=(const CWincryptPkcs7Crypto&) = delete;

    HCRYPTPROV m_hProv = 0;
};
