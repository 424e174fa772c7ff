// Messages signed with a real key but made wrong on purpose, one fault each:
// the signed attributes, the algorithms, the content and the certificates a
// signer is found by. Each must be refused for its own reason.
#include <gtest/gtest.h>

#include "CTestPki.h"
#include "TestMessages.h"
#include "tests/support/Pkcs7Forge.h"

namespace {

using namespace pkcs7forge;
// TestMessages.h has its own byte helpers: these are the forge's.
using pkcs7forge::Bytes;
using pkcs7forge::Cat;
using pkcs7forge::Oid;
using pkcs7forge::Tlv;

Bytes DigestOf(const std::string& strOid, const Bytes& data)
{
    COpenSslTestCrypto crypto;
    return crypto.Digest(strOid, data);
}

FSign SignerKey(int nSigner)
{
    return [nSigner](const std::string& strOid, const Bytes& data) {
        COpenSslTestCrypto crypto;
        Bytes signature;
        crypto.Sign(CTestPki::Get().KeyPem(nSigner), strOid, data.data(), data.size(), signature);
        return signature;
    };
}

// The signer's own certificate with the other signer's key.
Bytes Impostor()
{
    return WithKeyOf(CTestPki::Get().CertDer(1), CTestPki::Get().CertDer(2));
}

struct CS_ATTACK {
    const char* what;
    std::function<void(CS_FORGE&)> make;
    int nKey;           // test PKI signer whose key signs
    EPkcs7Error read;   // from reading the whole message
    EPkcs7Error check;  // from finding the signer's certificate and verifying with it
};

void PrintTo(const CS_ATTACK& a, std::ostream* os)
{
    *os << a.what;
}

const CS_ATTACK ATTACKS[] = {
    {"honest", [](CS_FORGE&) {}, 1, EPkcs7Error::Ok, EPkcs7Error::Ok},
    {"md5WithRSA signature algorithm", [](CS_FORGE& f) { f.strSignatureOid = OID_MD5_RSA; }, 1,
     EPkcs7Error::Ok, EPkcs7Error::Ok},
    {"certificate carried twice",
     [](CS_FORGE& f) {
         f.certs = {f.signerCert, f.signerCert};
     },
     1, EPkcs7Error::Ok, EPkcs7Error::Ok},
    {"messageDigest missing",
     [](CS_FORGE& f) { f.edit = [](std::vector<CS_ATTRIBUTE>& a, const Bytes&) { a.pop_back(); }; },
     1, EPkcs7Error::Ok, EPkcs7Error::MissingDigest},
    {"messageDigest twice with the same value",
     [](CS_FORGE& f) {
         f.edit = [](std::vector<CS_ATTRIBUTE>& a, const Bytes&) { a.push_back(a.back()); };
     },
     1, EPkcs7Error::Ok, EPkcs7Error::AmbiguousDigest},
    {"messageDigest twice, the second another content's",
     [](CS_FORGE& f) {
         f.edit = [](std::vector<CS_ATTRIBUTE>& a, const Bytes& d) {
             Bytes other = d;
             other[0] ^= 1;
             a.push_back({OID_MESSAGE_DIGEST, {Tlv(0x04, other)}});
         };
     },
     1, EPkcs7Error::Ok, EPkcs7Error::AmbiguousDigest},
    {"messageDigest with two values",
     [](CS_FORGE& f) {
         f.edit = [](std::vector<CS_ATTRIBUTE>& a, const Bytes&) {
             a.back().values.push_back(a.back().values[0]);
         };
     },
     1, EPkcs7Error::Ok, EPkcs7Error::AmbiguousDigest},
    {"contentType naming another type",
     [](CS_FORGE& f) {
         f.edit = [](std::vector<CS_ATTRIBUTE>& a, const Bytes&) {
             a[0].values = {Oid(OID_SIGNED_DATA)};
         };
     },
     1, EPkcs7Error::Ok, EPkcs7Error::ContentTypeMismatch},
    {"contentType with a second value",
     [](CS_FORGE& f) {
         f.edit = [](std::vector<CS_ATTRIBUTE>& a, const Bytes&) {
             a[0].values.push_back(Oid(OID_ENVELOPED_DATA));
         };
     },
     1, EPkcs7Error::Ok, EPkcs7Error::ContentTypeMismatch},
    {"content of another type", [](CS_FORGE& f) { f.strContentType = OID_ENVELOPED_DATA; }, 1,
     EPkcs7Error::NotData, EPkcs7Error::Ok},
    {"detached content", [](CS_FORGE& f) { f.bDetached = true; }, 1, EPkcs7Error::Detached,
     EPkcs7Error::Ok},
    {"DSA signature algorithm", [](CS_FORGE& f) { f.strSignatureOid = OID_DSA_SHA1; }, 1,
     EPkcs7Error::Ok, EPkcs7Error::UnsupportedSignature},
    {"ECDSA signature algorithm", [](CS_FORGE& f) { f.strSignatureOid = OID_ECDSA_SHA256; }, 1,
     EPkcs7Error::Ok, EPkcs7Error::UnsupportedSignature},
    {"sha256WithRSA over an MD5 digest", [](CS_FORGE& f) { f.strSignatureOid = OID_SHA256_RSA; }, 1,
     EPkcs7Error::Ok, EPkcs7Error::AlgorithmMismatch},
    {"digest not announced", [](CS_FORGE& f) { f.announced = {OID_SHA1}; }, 1, EPkcs7Error::Ok,
     EPkcs7Error::DigestNotAnnounced},
    {"no certificate for the signer", [](CS_FORGE& f) { f.certs = {CTestPki::Get().CertDer(2)}; },
     1, EPkcs7Error::Ok, EPkcs7Error::SignerNotFound},
    {"another key under the signer's name before the real certificate, real key",
     [](CS_FORGE& f) {
         f.certs = {Impostor(), f.signerCert};
     },
     1, EPkcs7Error::Ok, EPkcs7Error::AmbiguousSigner},
    {"another key under the signer's name after the real certificate, real key",
     [](CS_FORGE& f) {
         f.certs = {f.signerCert, Impostor()};
     },
     1, EPkcs7Error::Ok, EPkcs7Error::AmbiguousSigner},
    {"another key under the signer's name before the real certificate, that key",
     [](CS_FORGE& f) {
         f.certs = {Impostor(), f.signerCert};
     },
     2, EPkcs7Error::Ok, EPkcs7Error::AmbiguousSigner},
    {"another key under the signer's name after the real certificate, that key",
     [](CS_FORGE& f) {
         f.certs = {f.signerCert, Impostor()};
     },
     2, EPkcs7Error::Ok, EPkcs7Error::AmbiguousSigner},
};

class Attack : public ::testing::TestWithParam<CS_ATTACK> {};

TEST_P(Attack, RefusedForItsOwnReason)
{
    const CS_ATTACK& a = GetParam();
    CS_FORGE f;
    f.content = Pattern(5000, 3);
    f.signerCert = CTestPki::Get().CertDer(1);
    a.make(f);
    Bytes msg = Forge(f, DigestOf, SignerKey(a.nKey));
    ASSERT_FALSE(msg.empty());
    for (size_t block : {msg.size(), size_t(7)}) {
        SCOPED_TRACE(block);
        COpenSslTestCrypto crypto;
        Bytes content;
        CPkcs7Reader reader(crypto, [&](const uint8_t* p, size_t n) {
            content.insert(content.end(), p, p + n);
            return true;
        });
        ASSERT_EQ(ReadInBlocks(reader, msg, block), a.read);
        if (a.read != EPkcs7Error::Ok) {
            // Refused content is not handed on.
            EXPECT_TRUE(content.empty());
            continue;
        }
        EXPECT_TRUE(content == f.content);
        ASSERT_EQ(reader.SignerCount(), 1u);
        size_t nCert = 0;
        EPkcs7Error e = reader.FindSignerCertificate(0, nCert);
        if (e == EPkcs7Error::Ok)
            e = reader.Verify(0, reader.Certificate(nCert).data(),
                              reader.Certificate(nCert).size());
        EXPECT_EQ(e, a.check);
    }
}

INSTANTIATE_TEST_SUITE_P(Signed, Attack, ::testing::ValuesIn(ATTACKS),
                         [](const ::testing::TestParamInfo<CS_ATTACK>& i) {
                             std::string name;
                             for (const char* p = i.param.what; *p; ++p)
                                 name += isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                             return name;
                         });

// What is hashed for a signature is what arrived: signed attributes written
// with an indefinite length verify as sent, and the same message with an end
// mark spelt "00 81 00" is not read at all (else it would verify as well, and
// one signed file could be written several ways).
TEST(Attack, EndMarksAreTheTwoZeroBytesThatArrived)
{
    CS_FORGE f;
    f.content = Pattern(300, 4);
    f.signerCert = CTestPki::Get().CertDer(1);
    f.bIndefinite = true;
    f.bIndefiniteAttributes = true;
    const Bytes good = Forge(f, DigestOf, SignerKey(1));
    ASSERT_FALSE(good.empty());
    const Bytes& cert = CTestPki::Get().CertDer(1);
    {
        COpenSslTestCrypto crypto;
        CPkcs7Reader reader(crypto, nullptr);
        ASSERT_EQ(ReadInBlocks(reader, good, 5), EPkcs7Error::Ok);
        EXPECT_EQ(reader.Verify(0, cert.data(), cert.size()), EPkcs7Error::Ok);
    }
    // The end marks of the signed attributes, of the signer info (the message
    // ends with five: signer info, signer infos, signed data, [0], message) and
    // of the message.
    const Bytes digest = DigestOf(OID_MD5, f.content);
    size_t nAttributes = FindBytes(good, Cat({Tlv(0x04, digest), Bytes{0x00, 0x00}}));
    ASSERT_NE(nAttributes, std::string::npos);
    nAttributes += 2 + digest.size();
    for (size_t nMark : {nAttributes, good.size() - 10, good.size() - 2}) {
        SCOPED_TRACE(nMark);
        ASSERT_EQ(good[nMark], 0x00);
        ASSERT_EQ(good[nMark + 1], 0x00);
        Bytes bad(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(nMark));
        bad = Cat({bad, Bytes{0x00, 0x81, 0x00},
                   Bytes(good.begin() + static_cast<std::ptrdiff_t>(nMark + 2), good.end())});
        COpenSslTestCrypto crypto;
        CPkcs7Reader reader(crypto, nullptr);
        EXPECT_EQ(ReadInBlocks(reader, bad, 4096), EPkcs7Error::BadEncoding);
    }
}

}  // namespace
