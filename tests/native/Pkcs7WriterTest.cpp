// The streaming writer: its exact layout, OpenSSL's verdict on its output, and
// refusals that must leave the output untouched.
#include <gtest/gtest.h>

#include "CTestPki.h"
#include "TestMessages.h"
#include "cert/pkcs7/CPkcs7Writer.h"

namespace {

std::string Name(const ::testing::TestParamInfo<size_t>& info)
{
    return "bytes_" + std::to_string(info.param);
}

class WriterInterop : public ::testing::TestWithParam<size_t> {};

// Every file the writer makes must verify with OpenSSL and give back the
// content byte for byte.
TEST_P(WriterInterop, OpenSslVerifiesMd5Message)
{
    CTestPki& pki = CTestPki::Get();
    COpenSslTestCrypto crypto;
    Bytes content = Pattern(GetParam(), 1);
    Bytes msg = SignWithWriter(crypto, 1, tm_oid::MD5, content);
    ASSERT_FALSE(msg.empty());
    std::string tag = std::to_string(GetParam());
    std::string in = pki.Path("w" + tag + ".p7"), out = pki.Path("w" + tag + ".out");
    ASSERT_TRUE(CTestPki::WriteFile(in, msg));
    ASSERT_EQ(pki.OpenSsl("cms -verify -inform DER -binary -CAfile " + pki.CaPem() + " -in " + in +
                          " -out " + out),
              0)
        << "see " << pki.Path("openssl.log");
    EXPECT_TRUE(CTestPki::ReadFile(out) == content);
    std::remove(in.c_str());
    std::remove(out.c_str());
}

INSTANTIATE_TEST_SUITE_P(Sizes, WriterInterop,
                         ::testing::Values(0, 1, 4095, 4096, 8192, 5 * 1024 * 1024), Name);

TEST(Writer, OpenSslVerifiesSha256Message)
{
    CTestPki& pki = CTestPki::Get();
    COpenSslTestCrypto crypto;
    Bytes content = Pattern(10000, 2);
    Bytes msg = SignWithWriter(crypto, 2, tm_oid::SHA256, content);
    ASSERT_FALSE(msg.empty());
    std::string in = pki.Path("w256.p7"), out = pki.Path("w256.out");
    ASSERT_TRUE(CTestPki::WriteFile(in, msg));
    ASSERT_EQ(pki.OpenSsl("cms -verify -inform DER -binary -CAfile " + pki.CaPem() + " -in " + in +
                          " -out " + out),
              0);
    EXPECT_TRUE(CTestPki::ReadFile(out) == content);
}

// MD2 cannot be checked by OpenSSL here: the message is read back with the
// codec's own reader, whose digest and RSA check come from the test provider.
TEST(Writer, Md2MessageReadsBackAndVerifies)
{
    COpenSslTestCrypto crypto;
    Bytes content = Pattern(9000, 3);
    Bytes msg = SignWithWriter(crypto, 1, tm_oid::MD2, content);
    ASSERT_FALSE(msg.empty());
    Bytes got;
    CPkcs7Reader reader(crypto, [&](const uint8_t* p, size_t n) {
        got.insert(got.end(), p, p + n);
        return true;
    });
    ASSERT_EQ(ReadInBlocks(reader, msg, 4096), EPkcs7Error::Ok);
    EXPECT_TRUE(got == content);
    ASSERT_EQ(reader.SignerCount(), 1u);
    EXPECT_EQ(reader.Signer(0).DigestOid(), tm_oid::MD2);
    EXPECT_EQ(
        reader.Verify(0, CTestPki::Get().CertDer(1).data(), CTestPki::Get().CertDer(1).size()),
        EPkcs7Error::Ok);
    const CPkcs7SignerInfo::CS_ATTRIBUTE* md =
        reader.Signer(0).FindAttribute("1.2.840.113549.1.9.4");
    ASSERT_NE(md, nullptr);
    EXPECT_TRUE(md->values.at(0) == Tlv(0x04, crypto.Digest(tm_oid::MD2, content)));
}

TEST(Writer, ExactLayout)
{
    COpenSslTestCrypto crypto;
    const Bytes& cert = CTestPki::Get().CertDer(1);
    Bytes out;
    CPkcs7Writer writer(crypto, [&](const uint8_t* p, size_t n) {
        out.insert(out.end(), p, p + n);
        return true;
    });
    Bytes time = SigningTimeDer();
    ASSERT_EQ(writer.Begin(cert.data(), cert.size(), tm_oid::MD5, time.data(), time.size()),
              EPkcs7Error::Ok);
    Bytes header = Cat({{0x30, 0x80},
                        Oid("1.2.840.113549.1.7.2"),
                        {0xA0, 0x80, 0x30, 0x80},
                        {0x02, 0x01, 0x01},
                        Tlv(0x31, Tlv(0x30, Cat({Oid(tm_oid::MD5), {0x05, 0x00}}))),
                        {0x30, 0x80},
                        Oid("1.2.840.113549.1.7.1"),
                        {0xA0, 0x80, 0x24, 0x80}});
    EXPECT_TRUE(out == header);
    Bytes a{1, 2, 3}, b(200, 9);
    ASSERT_EQ(writer.Update(a.data(), a.size()), EPkcs7Error::Ok);
    ASSERT_EQ(writer.Update(nullptr, 0), EPkcs7Error::Ok);
    ASSERT_EQ(writer.Update(b.data(), b.size()), EPkcs7Error::Ok);
    std::string key = CTestPki::Get().KeyPem(1);
    Bytes signedBytes;
    ASSERT_EQ(writer.Finish([&](const std::string& oid, const uint8_t* p, size_t n, Bytes& sig) {
        signedBytes.assign(p, p + n);
        return crypto.Sign(key, oid, p, n, sig);
    }),
              EPkcs7Error::Ok);
    Bytes segments = Cat({Tlv(0x04, a), Tlv(0x04, b), {0, 0, 0, 0, 0, 0}});
    ASSERT_TRUE(std::equal(segments.begin(), segments.end(), out.begin() + header.size()));
    size_t at = header.size() + segments.size();
    EXPECT_TRUE(Bytes(out.begin() + at, out.begin() + at + 4 + cert.size()) == Tlv(0xA0, cert));
    EXPECT_TRUE(Bytes(out.end() - 6, out.end()) == Bytes(6, 0));

    // The signer info: attributes in DER order, signature over them as a SET.
    CPkcs7Reader reader(crypto, nullptr);
    ASSERT_EQ(ReadInBlocks(reader, out, 1), EPkcs7Error::Ok);
    const CPkcs7SignerInfo& si = reader.Signer(0);
    EXPECT_EQ(si.Version(), 1);
    EXPECT_EQ(si.SignatureOid(), "1.2.840.113549.1.1.1");
    EXPECT_TRUE(si.DigestParams() == (Bytes{0x05, 0x00}));
    ASSERT_EQ(si.AuthAttributes().size(), 3u);
    EXPECT_EQ(si.AuthAttributes()[0].strOid, "1.2.840.113549.1.9.3");
    EXPECT_EQ(si.AuthAttributes()[1].strOid, "1.2.840.113549.1.9.5");
    EXPECT_EQ(si.AuthAttributes()[2].strOid, "1.2.840.113549.1.9.4");
    EXPECT_TRUE(si.SigningTime() == time);
    Bytes set = si.AuthAttributesRaw();
    set[0] = 0x31;
    EXPECT_TRUE(set == signedBytes);
    EXPECT_EQ(reader.CertificateCount(), 1u);
    size_t c = 1;
    EXPECT_EQ(reader.FindSignerCertificate(0, c), EPkcs7Error::Ok);
    EXPECT_EQ(c, 0u);
    EXPECT_EQ(reader.ContentSize(), 203u);
}

TEST(Writer, UnknownDigestWritesNothing)
{
    COpenSslTestCrypto crypto;
    const Bytes& cert = CTestPki::Get().CertDer(1);
    Bytes time = SigningTimeDer();
    for (const char* oid : {"", "1.2.3.4", "MD5WITHRSA", "1.2.840.113549.2.99"}) {
        size_t written = 0;
        CPkcs7Writer writer(crypto, [&](const uint8_t*, size_t n) {
            written += n;
            return true;
        });
        EXPECT_EQ(writer.Begin(cert.data(), cert.size(), oid, time.data(), time.size()),
                  EPkcs7Error::Unsupported)
            << oid;
        uint8_t byte = 1;
        EXPECT_EQ(writer.Update(&byte, 1), EPkcs7Error::BadState);
        EXPECT_EQ(written, 0u) << oid;
    }
}

TEST(Writer, BadArgumentsWriteNothing)
{
    COpenSslTestCrypto crypto;
    const Bytes& cert = CTestPki::Get().CertDer(1);
    Bytes time = SigningTimeDer();
    Bytes garbage{0x30, 0x03, 0x02, 0x01, 0x01};
    Bytes twoTimes = Cat({time, time});
    struct {
        const char* what;
        Bytes cert;
        Bytes time;
    } cases[] = {
        {"certificate garbage", garbage, time},
        {"certificate cut", Bytes(cert.begin(), cert.end() - 1), time},
        {"no time", cert, Bytes()},
        {"two times", cert, twoTimes},
    };
    for (const auto& c : cases) {
        size_t written = 0;
        CPkcs7Writer writer(crypto, [&](const uint8_t*, size_t n) {
            written += n;
            return true;
        });
        EXPECT_NE(
            writer.Begin(c.cert.data(), c.cert.size(), tm_oid::MD5, c.time.data(), c.time.size()),
            EPkcs7Error::Ok)
            << c.what;
        EXPECT_EQ(written, 0u) << c.what;
    }
}

TEST(Writer, CallbackFailuresStopIt)
{
    COpenSslTestCrypto crypto;
    const Bytes& cert = CTestPki::Get().CertDer(1);
    Bytes time = SigningTimeDer();
    uint8_t byte = 1;
    {
        CPkcs7Writer writer(crypto, [](const uint8_t*, size_t) { return false; });
        EXPECT_EQ(writer.Begin(cert.data(), cert.size(), tm_oid::MD5, time.data(), time.size()),
                  EPkcs7Error::Output);
        EXPECT_EQ(writer.Update(&byte, 1), EPkcs7Error::BadState);
    }
    {
        CPkcs7Writer writer(crypto, [](const uint8_t*, size_t) { return true; });
        ASSERT_EQ(writer.Begin(cert.data(), cert.size(), tm_oid::MD5, time.data(), time.size()),
                  EPkcs7Error::Ok);
        EXPECT_EQ(writer.Begin(cert.data(), cert.size(), tm_oid::MD5, time.data(), time.size()),
                  EPkcs7Error::BadState);
        EXPECT_EQ(
            writer.Finish([](const std::string&, const uint8_t*, size_t, Bytes&) { return false; }),
            EPkcs7Error::Crypto);
        EXPECT_EQ(writer.Finish(nullptr), EPkcs7Error::BadState);
    }
    {
        CPkcs7Writer writer(crypto, [](const uint8_t*, size_t) -> bool { throw 42; });
        EXPECT_THROW(writer.Begin(cert.data(), cert.size(), tm_oid::MD5, time.data(), time.size()),
                     int);
        EXPECT_EQ(writer.Update(&byte, 1), EPkcs7Error::BadState);
    }
}

}  // namespace
