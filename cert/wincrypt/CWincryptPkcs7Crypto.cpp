#include "cert/wincrypt/CWincryptPkcs7Crypto.h"

#include <algorithm>

#include "cert/wincrypt/CAPIWincrypt.h"
#include "cert/wincrypt/CThreadedDigest.h"
#include "cert/wincrypt/WincryptHandles.h"

// The SHA-2 identifiers are not declared for the Windows versions we target.
#ifndef CALG_SHA_256
#define CALG_SHA_256 (ALG_CLASS_HASH | ALG_TYPE_ANY | 12)
#define CALG_SHA_384 (ALG_CLASS_HASH | ALG_TYPE_ANY | 13)
#define CALG_SHA_512 (ALG_CLASS_HASH | ALG_TYPE_ANY | 14)
#endif

namespace {
const DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

bool CreateHash(HCRYPTPROV hProv, ALG_ID algId, CCryptHashPtr& hash)
{
    HCRYPTHASH hHash = 0;
    if (!CAPIWincrypt::CryptCreateHash(hProv, algId, 0, 0, &hHash))
        return false;
    hash.reset(hHash);
    return true;
}

class CWincryptDigest : public CPkcs7Digest {
public:
    explicit CWincryptDigest(HCRYPTHASH hHash) : m_hHash(hHash) {}

    bool Update(const uint8_t* pData, size_t nSize) override
    {
        // CryptHashData takes a DWORD length.
        while (nSize > 0) {
            DWORD n = static_cast<DWORD>(std::min<size_t>(nSize, 0x40000000));
            if (!CAPIWincrypt::CryptHashData(m_hHash.get(), pData, n, 0))
                return false;
            pData += n;
            nSize -= n;
        }
        return true;
    }
    bool Final(std::vector<uint8_t>& value) override
    {
        DWORD cb = 0;
        if (!CAPIWincrypt::CryptGetHashParam(m_hHash.get(), HP_HASHVAL, nullptr, &cb, 0))
            return false;
        value.resize(cb);
        if (!CAPIWincrypt::CryptGetHashParam(m_hHash.get(), HP_HASHVAL, value.data(), &cb, 0))
            return false;
        value.resize(cb);
        return true;
    }

private:
    CCryptHashPtr m_hHash;
};
}  // namespace

CWincryptPkcs7Crypto::CWincryptPkcs7Crypto()
{
    // By type, not by name: the AES provider's name differs between systems. Where
    // there is none, the plain RSA type still hashes MD5, MD2 and SHA-1.
    for (DWORD dwType : {DWORD(PROV_RSA_AES), DWORD(PROV_RSA_FULL)}) {
        if (CAPIWincrypt::CryptAcquireContextA(&m_hProv, nullptr, nullptr, dwType,
                                                CRYPT_VERIFYCONTEXT))
            return;
        m_hProv = 0;
    }
}

CWincryptPkcs7Crypto::~CWincryptPkcs7Crypto()
{
    if (m_hProv != 0)
        CAPIWincrypt::CryptReleaseContext(m_hProv, 0);
}

ALG_ID CWincryptPkcs7Crypto::DigestAlgId(const std::string& strDigestOid)
{
    static const struct {
        const char* pszOid;
        ALG_ID algId;
    } kDigests[] = {
        {"1.2.840.113549.2.2", CALG_MD2},
        {"1.2.840.113549.2.5", CALG_MD5},
        {"1.3.14.3.2.26", CALG_SHA1},
        {"2.16.840.1.101.3.4.2.1", CALG_SHA_256},
        {"2.16.840.1.101.3.4.2.2", CALG_SHA_384},
        {"2.16.840.1.101.3.4.2.3", CALG_SHA_512},
    };
    for (const auto& d : kDigests) {
        if (strDigestOid == d.pszOid)
            return d.algId;
    }
    return 0;
}

std::unique_ptr<CPkcs7Digest> CWincryptPkcs7Crypto::CreateDigest(const std::string& strDigestOid)
{
    ALG_ID algId = DigestAlgId(strDigestOid);
    HCRYPTHASH hHash = 0;
    if (algId == 0 || m_hProv == 0 || !CAPIWincrypt::CryptCreateHash(m_hProv, algId, 0, 0, &hHash))
        return nullptr;
    // The content's digest is the one long job of signing and checking: on a
    // thread of its own it overlaps with the reading and writing.
    return std::unique_ptr<CPkcs7Digest>(
        new CThreadedDigest(std::unique_ptr<CPkcs7Digest>(new CWincryptDigest(hHash))));
}

bool CWincryptPkcs7Crypto::VerifyDigestSignature(const uint8_t* pCert, size_t nCert,
                                                 const std::string& strDigestOid,
                                                 const uint8_t* pDigest, size_t nDigest,
                                                 const uint8_t* pSignature, size_t nSignature)
{
    ALG_ID algId = DigestAlgId(strDigestOid);
    if (algId == 0 || m_hProv == 0 || nSignature == 0)
        return false;
    CCertContextPtr context(CAPIWincrypt::CertCreateCertificateContext(
        kEncoding, pCert, static_cast<DWORD>(nCert)));
    if (!context)
        return false;
    HCRYPTKEY hImported = 0;
    BOOL bImported = CAPIWincrypt::CryptImportPublicKeyInfo(
        m_hProv, kEncoding, &context->pCertInfo->SubjectPublicKeyInfo, &hImported);
    context.reset();
    if (!bImported)
        return false;
    CCryptKeyPtr key(hImported);

    CCryptHashPtr hash;
    if (!CreateHash(m_hProv, algId, hash))
        return false;
    const HCRYPTHASH hHash = hash.get();
    DWORD cbHash = 0, cbSize = sizeof(cbHash);
    if (!CAPIWincrypt::CryptGetHashParam(hHash, HP_HASHSIZE, reinterpret_cast<BYTE*>(&cbHash),
                                         &cbSize, 0) ||
        cbHash != nDigest)
        return false;
    if (!CAPIWincrypt::CryptSetHashParam(hHash, HP_HASHVAL, pDigest, 0))
        return false;
    std::vector<uint8_t> reversed(pSignature, pSignature + nSignature);
    std::reverse(reversed.begin(), reversed.end());
    return CAPIWincrypt::CryptVerifySignatureA(hHash, reversed.data(),
                                               static_cast<DWORD>(reversed.size()), key.get(), nullptr,
                                               0) != FALSE;
}

bool CWincryptPkcs7Crypto::Sign(HCRYPTPROV hKeyProv, DWORD dwKeySpec,
                                const std::string& strDigestOid, const uint8_t* pData,
                                size_t nData, std::vector<uint8_t>& signature)
{
    ALG_ID algId = DigestAlgId(strDigestOid);
    if (algId == 0) {
        SetLastError(static_cast<DWORD>(NTE_BAD_ALGID));
        return false;
    }
    CCryptHashPtr hash;
    if (!CreateHash(hKeyProv, algId, hash))
        return false;
    const HCRYPTHASH hHash = hash.get();
    if (!CAPIWincrypt::CryptHashData(hHash, pData, static_cast<DWORD>(nData), 0))
        return false;
    DWORD cb = 0;
    if (!CAPIWincrypt::CryptSignHashA(hHash, dwKeySpec, nullptr, 0, nullptr, &cb))
        return false;
    signature.resize(cb);
    if (!CAPIWincrypt::CryptSignHashA(hHash, dwKeySpec, nullptr, 0, signature.data(), &cb))
        return false;
    signature.resize(cb);
    std::reverse(signature.begin(), signature.end());
    return true;
}
