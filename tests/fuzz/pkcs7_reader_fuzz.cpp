// libFuzzer target for the streaming PKCS#7 reader. The first input byte picks
// a block size; the rest is the message. The message is read whole and in
// blocks: the verdict and the content must agree. Every accessor and Verify
// are then exercised on what was read.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "cert/pkcs7/CPkcs7Reader.h"

namespace {

// Cheap stand-in digest: deterministic, so verdicts can be compared.
class CFnvDigest : public CPkcs7Digest {
public:
    bool Update(const uint8_t* p, size_t n) override
    {
        for (size_t i = 0; i < n; ++i)
            m_h = (m_h ^ p[i]) * 1099511628211ull;
        return true;
    }
    bool Final(std::vector<uint8_t>& v) override
    {
        v.resize(16);
        for (size_t i = 0; i < 16; ++i)
            v[i] = static_cast<uint8_t>(m_h >> ((i % 8) * 8));
        return true;
    }

private:
    uint64_t m_h = 14695981039346656037ull;
};

class CFuzzCrypto : public CPkcs7Crypto {
public:
    std::unique_ptr<CPkcs7Digest> CreateDigest(const std::string& oid) override
    {
        if (oid == "1.2.840.113549.2.5" || oid == "1.2.840.113549.2.2" || oid == "1.3.14.3.2.26" ||
            oid == "2.16.840.1.101.3.4.2.1")
            return std::unique_ptr<CPkcs7Digest>(new CFnvDigest());
        return nullptr;
    }
    bool VerifyDigestSignature(const uint8_t* pCert, size_t nCert, const std::string&,
                               const uint8_t* pDigest, size_t nDigest, const uint8_t* pSig,
                               size_t nSig) override
    {
        return nCert > 0 && nDigest > 0 && nSig > 0 && pCert[0] == 0x30 && pSig[0] == pDigest[0];
    }
};

struct CS_RUN {
    EPkcs7Error error;
    uint64_t contentHash;
    size_t contentSize;
};

CS_RUN Read(const uint8_t* data, size_t size, size_t block, bool inspect)
{
    CFuzzCrypto crypto;
    CS_RUN run{EPkcs7Error::Ok, 14695981039346656037ull, 0};
    CPkcs7Reader reader(crypto, [&](const uint8_t* p, size_t n) {
        for (size_t i = 0; i < n; ++i)
            run.contentHash = (run.contentHash ^ p[i]) * 1099511628211ull;
        run.contentSize += n;
        return true;
    });
    for (size_t at = 0; at < size && run.error == EPkcs7Error::Ok; at += block) {
        size_t n = size - at < block ? size - at : block;
        run.error = reader.Update(data + at, n);
    }
    if (run.error == EPkcs7Error::Ok)
        run.error = reader.Finish();
    if (run.error != EPkcs7Error::Ok || !inspect)
        return run;
    volatile size_t sink = reader.ContentTypeOid().size();
    for (const std::string& oid : reader.DigestAlgorithms())
        sink += oid.size() + (reader.ContentDigest(oid) ? 1 : 0);
    for (size_t i = 0; i < reader.SignerCount(); ++i) {
        const CPkcs7SignerInfo& si = reader.Signer(i);
        sink += si.SigningTime().size() + si.AuthAttributes().size() + si.Signature().size();
        for (const CPkcs7SignerInfo::CS_ATTRIBUTE& a : si.AuthAttributes())
            for (const std::vector<uint8_t>& v : a.values)
                sink += v.size();
        size_t c = 0;
        if (reader.FindSignerCertificate(i, c) == EPkcs7Error::Ok && c >= reader.CertificateCount())
            __builtin_trap();
        for (size_t k = 0; k < reader.CertificateCount(); ++k) {
            const std::vector<uint8_t>& cert = reader.Certificate(k);
            sink += static_cast<size_t>(reader.Verify(i, cert.data(), cert.size()));
        }
        sink += static_cast<size_t>(reader.Verify(i, si.Issuer().data(), si.Issuer().size()));
    }
    sink += static_cast<size_t>(reader.Verify(reader.SignerCount(), data, size));
    (void)sink;
    return run;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    size_t block = 1 + data[0] % 97;
    ++data;
    --size;
    CS_RUN whole = Read(data, size, size == 0 ? 1 : size, true);
    CS_RUN split = Read(data, size, block, false);
    if (whole.error != split.error || whole.contentHash != split.contentHash ||
        whole.contentSize != split.contentSize)
        __builtin_trap();  // the verdict must not depend on how the input is cut
    return 0;
}
