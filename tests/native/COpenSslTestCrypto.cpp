#include "COpenSslTestCrypto.h"

#include <cstdio>
#include <memory>

#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include "CMd2Digest.h"
#include "asn1/CAsn1Oid.h"
#include "asn1/CAsn1Util.h"
#include "asn1/CDerWriter.h"

namespace {

const char OID_MD2[] = "1.2.840.113549.2.2";

class CEvpDigest : public CPkcs7Digest {
public:
    explicit CEvpDigest(const EVP_MD* md) : m_ctx(EVP_MD_CTX_new())
    {
        m_bOk = m_ctx && EVP_DigestInit_ex(m_ctx, md, nullptr) == 1;
    }
    ~CEvpDigest() override { EVP_MD_CTX_free(m_ctx); }
    bool IsOk() const { return m_bOk; }
    bool Update(const uint8_t* pData, size_t nSize) override
    {
        return EVP_DigestUpdate(m_ctx, pData, nSize) == 1;
    }
    bool Final(std::vector<uint8_t>& value) override
    {
        unsigned char md[EVP_MAX_MD_SIZE];
        unsigned int n = 0;
        if (EVP_DigestFinal_ex(m_ctx, md, &n) != 1)
            return false;
        value.assign(md, md + n);
        return true;
    }

private:
    EVP_MD_CTX* m_ctx;
    bool m_bOk;
};

bool DigestInfo(const std::string& oid, const uint8_t* digest, size_t n, std::vector<uint8_t>& out)
{
    std::vector<uint8_t> oidContent;
    if (!CAsn1Oid::Encode(oid, oidContent))
        return false;
    std::vector<uint8_t> body;
    CAsn1Util::AppendAlgorithm(body, oid.c_str());
    CDerWriter::Append(body, 0x04, digest, n);
    out.clear();
    CDerWriter::Append(out, 0x30, body);
    return true;
}

struct PkeyFree {
    void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
};
struct CtxFree {
    void operator()(EVP_PKEY_CTX* p) const { EVP_PKEY_CTX_free(p); }
};
struct X509Free {
    void operator()(X509* p) const { X509_free(p); }
};

}  // namespace

std::unique_ptr<CPkcs7Digest> COpenSslTestCrypto::CreateDigest(const std::string& strDigestOid)
{
    if (strDigestOid == OID_MD2)
        return std::unique_ptr<CPkcs7Digest>(new CMd2Digest());
    ASN1_OBJECT* obj = OBJ_txt2obj(strDigestOid.c_str(), 1);
    if (!obj)
        return nullptr;
    const EVP_MD* md = EVP_get_digestbyobj(obj);
    ASN1_OBJECT_free(obj);
    if (!md)
        return nullptr;
    std::unique_ptr<CEvpDigest> d(new CEvpDigest(md));
    if (!d->IsOk())
        return nullptr;
    return std::unique_ptr<CPkcs7Digest>(d.release());
}

std::vector<uint8_t> COpenSslTestCrypto::Digest(const std::string& strDigestOid,
                                                const std::vector<uint8_t>& data)
{
    std::vector<uint8_t> value;
    std::unique_ptr<CPkcs7Digest> d = CreateDigest(strDigestOid);
    if (d && d->Update(data.data(), data.size()))
        d->Final(value);
    return value;
}

bool COpenSslTestCrypto::VerifyDigestSignature(const uint8_t* pCert, size_t nCert,
                                               const std::string& strDigestOid,
                                               const uint8_t* pDigest, size_t nDigest,
                                               const uint8_t* pSignature, size_t nSignature)
{
    ++nVerifyCalls;
    const unsigned char* p = pCert;
    std::unique_ptr<X509, X509Free> cert(d2i_X509(nullptr, &p, static_cast<long>(nCert)));
    if (!cert)
        return false;
    EVP_PKEY* key = X509_get0_pubkey(cert.get());
    if (!key)
        return false;
    std::unique_ptr<EVP_PKEY_CTX, CtxFree> ctx(EVP_PKEY_CTX_new(key, nullptr));
    if (!ctx || EVP_PKEY_verify_recover_init(ctx.get()) != 1 ||
        EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) != 1)
        return false;
    std::vector<uint8_t> recovered(static_cast<size_t>(EVP_PKEY_get_size(key)));
    size_t n = recovered.size();
    if (EVP_PKEY_verify_recover(ctx.get(), recovered.data(), &n, pSignature, nSignature) != 1)
        return false;
    recovered.resize(n);
    std::vector<uint8_t> expected;
    return DigestInfo(strDigestOid, pDigest, nDigest, expected) && expected == recovered;
}

bool COpenSslTestCrypto::Sign(const std::string& strKeyPem, const std::string& strDigestOid,
                              const uint8_t* pData, size_t nSize, std::vector<uint8_t>& signature)
{
    std::unique_ptr<CPkcs7Digest> d = CreateDigest(strDigestOid);
    std::vector<uint8_t> digest;
    if (!d || !d->Update(pData, nSize) || !d->Final(digest))
        return false;
    std::vector<uint8_t> info;
    if (!DigestInfo(strDigestOid, digest.data(), digest.size(), info))
        return false;
    FILE* f = std::fopen(strKeyPem.c_str(), "r");
    if (!f)
        return false;
    std::unique_ptr<EVP_PKEY, PkeyFree> key(PEM_read_PrivateKey(f, nullptr, nullptr, nullptr));
    std::fclose(f);
    if (!key)
        return false;
    std::unique_ptr<EVP_PKEY_CTX, CtxFree> ctx(EVP_PKEY_CTX_new(key.get(), nullptr));
    if (!ctx || EVP_PKEY_sign_init(ctx.get()) != 1 ||
        EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) != 1)
        return false;
    size_t n = 0;
    if (EVP_PKEY_sign(ctx.get(), nullptr, &n, info.data(), info.size()) != 1)
        return false;
    signature.resize(n);
    if (EVP_PKEY_sign(ctx.get(), signature.data(), &n, info.data(), info.size()) != 1)
        return false;
    signature.resize(n);
    return true;
}
