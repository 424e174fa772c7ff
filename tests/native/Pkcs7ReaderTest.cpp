// The streaming reader against messages made by OpenSSL and by the writer:
// content, signers, certificates and the signature checks, including the
// changes that must make a check fail.
#include <gtest/gtest.h>

#include <map>

#include "CTestPki.h"
#include "TestMessages.h"

namespace {

struct CS_VARIANT {
    const char* name;
    const char* args;  // openssl cms -sign options; null: the writer's own message
    const char* digestOid;
    size_t signers;
    bool attributes;
};

const CS_VARIANT VARIANTS[] = {
    {"md5_definite", "-md md5", tm_oid::MD5, 1, true},
    {"md5_stream", "-md md5 -stream", tm_oid::MD5, 1, true},
    {"two_signers", "-md md5 -stream SIGNER2", tm_oid::MD5, 2, true},
    {"sha1", "-md sha1", tm_oid::SHA1, 1, true},
    {"sha256", "-md sha256 -stream", tm_oid::SHA256, 1, true},
    {"no_attributes", "-md sha256 -noattr", tm_oid::SHA256, 1, false},
    {"own_writer", nullptr, tm_oid::MD5, 1, true},
};

const Bytes& Content()
{
    static Bytes content = Pattern(20000, 7);
    return content;
}

// Messages are made once per run.
const Bytes& Message(const CS_VARIANT& v)
{
    static std::map<std::string, Bytes> made;
    Bytes& msg = made[v.name];
    if (!msg.empty())
        return msg;
    CTestPki& pki = CTestPki::Get();
    if (!v.args) {
        COpenSslTestCrypto crypto;
        msg = SignWithWriter(crypto, 1, tm_oid::MD5, Content());
        return msg;
    }
    std::string in = pki.Path("content.bin");
    CTestPki::WriteFile(in, Content());
    std::string args = v.args;
    std::string signers = " -signer " + pki.CertPem(1) + " -inkey " + pki.KeyPem(1);
    size_t at = args.find("SIGNER2");
    if (at != std::string::npos) {
        args.erase(at);
        signers += " -signer " + pki.CertPem(2) + " -inkey " + pki.KeyPem(2);
    }
    std::string out = pki.Path(std::string(v.name) + ".p7");
    if (pki.OpenSsl("cms -sign -binary -nodetach -outform DER " + args + signers + " -in " + in +
                    " -out " + out) == 0)
        msg = CTestPki::ReadFile(out);
    return msg;
}

void PrintTo(const CS_VARIANT& v, std::ostream* os)
{
    *os << v.name;
}

class ReaderInterop : public ::testing::TestWithParam<CS_VARIANT> {};

TEST_P(ReaderInterop, ContentAndSignersInAnyBlockSize)
{
    const CS_VARIANT& v = GetParam();
    const Bytes& msg = Message(v);
    ASSERT_FALSE(msg.empty()) << "see " << CTestPki::Get().Path("openssl.log");
    for (size_t block : {size_t(4096), size_t(1), size_t(4097)}) {
        SCOPED_TRACE("block " + std::to_string(block));
        COpenSslTestCrypto crypto;
        Bytes got;
        CPkcs7Reader reader(crypto, [&](const uint8_t* p, size_t n) {
            got.insert(got.end(), p, p + n);
            return true;
        });
        ASSERT_EQ(ReadInBlocks(reader, msg, block), EPkcs7Error::Ok);
        EXPECT_TRUE(got == Content());
        EXPECT_EQ(reader.ContentTypeOid(), "1.2.840.113549.1.7.1");
        ASSERT_EQ(reader.SignerCount(), v.signers);
        EXPECT_EQ(reader.CertificateCount(), v.signers);
        for (size_t i = 0; i < v.signers; ++i) {
            const CPkcs7SignerInfo& si = reader.Signer(i);
            EXPECT_EQ(si.DigestOid(), v.digestOid);
            EXPECT_EQ(si.HasAuthAttributes(), v.attributes);
            EXPECT_EQ(si.SigningTime().empty(), !v.attributes);
            size_t c = 0;
            ASSERT_EQ(reader.FindSignerCertificate(i, c), EPkcs7Error::Ok);
            const Bytes& cert = reader.Certificate(c);
            EXPECT_EQ(reader.Verify(i, cert.data(), cert.size()), EPkcs7Error::Ok)
                << "signer " << i;
        }
        EXPECT_EQ(reader.Verify(v.signers, msg.data(), 1), EPkcs7Error::BadIndex);
        EXPECT_TRUE(reader.Signer(v.signers).Signature().empty());
        EXPECT_TRUE(reader.Certificate(v.signers).empty());
        size_t c = 0;
        EXPECT_EQ(reader.FindSignerCertificate(v.signers, c), EPkcs7Error::BadIndex);
    }
}

INSTANTIATE_TEST_SUITE_P(Messages, ReaderInterop, ::testing::ValuesIn(VARIANTS),
                         [](const ::testing::TestParamInfo<CS_VARIANT>& i) {
                             return std::string(i.param.name);
                         });

TEST(Reader, StreamFormsAreWhatTheyClaim)
{
    // Guards the interop table: -stream must really give indefinite, chunked content.
    const Bytes& definite = Message(VARIANTS[0]);
    const Bytes& stream = Message(VARIANTS[1]);
    ASSERT_GT(definite.size(), 2u);
    ASSERT_GT(stream.size(), 2u);
    EXPECT_EQ(definite[1] & 0x80, 0x80);
    EXPECT_NE(definite[1], 0x80);
    EXPECT_EQ(stream[1], 0x80);
    EXPECT_NE(FindBytes(stream, {0x24, 0x80}), std::string::npos);
}

TEST(Reader, SignersAreFoundByIssuerAndSerialNotPosition)
{
    const Bytes& msg = Message(VARIANTS[2]);
    COpenSslTestCrypto crypto;
    CPkcs7Reader reader(crypto, nullptr);
    ASSERT_EQ(ReadInBlocks(reader, msg, 4096), EPkcs7Error::Ok);
    ASSERT_EQ(reader.SignerCount(), 2u);
    const Bytes& c1 = CTestPki::Get().CertDer(1);
    const Bytes& c2 = CTestPki::Get().CertDer(2);
    size_t i1 = 0, i2 = 0;
    ASSERT_EQ(reader.FindSignerCertificate(0, i1), EPkcs7Error::Ok);
    ASSERT_EQ(reader.FindSignerCertificate(1, i2), EPkcs7Error::Ok);
    EXPECT_NE(i1, i2);
    // Each signer against the other's certificate: the signer's own issuer and
    // serial decide, and the RSA check is never reached.
    int calls = crypto.nVerifyCalls;
    EXPECT_EQ(reader.Verify(0, c2.data(), c2.size()), EPkcs7Error::SignerMismatch);
    EXPECT_EQ(reader.Verify(1, c1.data(), c1.size()), EPkcs7Error::SignerMismatch);
    EXPECT_EQ(crypto.nVerifyCalls, calls);
    EXPECT_EQ(reader.Verify(0, c1.data(), c1.size()), EPkcs7Error::Ok);
    EXPECT_EQ(reader.Verify(1, c2.data(), c2.size()), EPkcs7Error::Ok);
}

TEST(Reader, ContentArrivesBeforeTheEnd)
{
    COpenSslTestCrypto crypto;
    Bytes content = Pattern(5 * 1024 * 1024, 9);
    Bytes msg = SignWithWriter(crypto, 1, tm_oid::MD5, content);
    ASSERT_FALSE(msg.empty());
    size_t got = 0;
    CPkcs7Reader reader(crypto, [&](const uint8_t*, size_t n) {
        got += n;
        return true;
    });
    ASSERT_EQ(reader.Update(msg.data(), msg.size() / 2), EPkcs7Error::Ok);
    EXPECT_GT(got, msg.size() / 2 - 8192);
    ASSERT_EQ(reader.Update(msg.data() + msg.size() / 2, msg.size() - msg.size() / 2),
              EPkcs7Error::Ok);
    ASSERT_EQ(reader.Finish(), EPkcs7Error::Ok);
    EXPECT_EQ(got, content.size());
    const Bytes& cert = CTestPki::Get().CertDer(1);
    EXPECT_EQ(reader.Verify(0, cert.data(), cert.size()), EPkcs7Error::Ok);
}

// A changed byte in a message whose structure stays intact.
struct CS_TAMPER {
    const char* what;
    int variant;  // index into VARIANTS
    std::function<size_t(const Bytes&)> where;
    EPkcs7Error expected;
};

size_t InContent(const Bytes& msg)
{
    Bytes probe(Content().begin() + 12345, Content().begin() + 12361);
    return FindBytes(msg, probe) + 3;
}

size_t InSigningTime(const Bytes& msg)
{
    // the UTCTime of the signing-time attribute: its minutes digit
    size_t at = FindBytes(msg, Cat({Oid("1.2.840.113549.1.9.5"), {0x31}}));
    return at == std::string::npos ? at : at + 11 + 2 + 2 + 9;
}

size_t InSignature(const Bytes& msg)
{
    // the writer ends with the signature and six end-mark bytes; OpenSSL's
    // definite form ends with the signature
    return msg[1] == 0x80 ? msg.size() - 7 - 100 : msg.size() - 100;
}

const CS_TAMPER TAMPERS[] = {
    {"content_own", 6, InContent, EPkcs7Error::HashMismatch},
    {"content_openssl_definite", 0, InContent, EPkcs7Error::HashMismatch},
    {"content_openssl_stream", 1, InContent, EPkcs7Error::HashMismatch},
    {"content_no_attributes", 5, InContent, EPkcs7Error::BadSignature},
    {"signature_own", 6, InSignature, EPkcs7Error::BadSignature},
    {"signature_openssl", 0, InSignature, EPkcs7Error::BadSignature},
    {"signing_time_own", 6, InSigningTime, EPkcs7Error::BadSignature},
    {"signing_time_openssl", 1, InSigningTime, EPkcs7Error::BadSignature},
};

void PrintTo(const CS_TAMPER& t, std::ostream* os)
{
    *os << t.what;
}

class ReaderTamper : public ::testing::TestWithParam<CS_TAMPER> {};

TEST_P(ReaderTamper, ChangedByteFailsVerification)
{
    const CS_TAMPER& t = GetParam();
    Bytes msg = Message(VARIANTS[t.variant]);
    ASSERT_FALSE(msg.empty());
    size_t at = t.where(msg);
    ASSERT_LT(at, msg.size());
    msg[at] ^= 0x01;
    COpenSslTestCrypto crypto;
    CPkcs7Reader reader(crypto, nullptr);
    ASSERT_EQ(ReadInBlocks(reader, msg, 4096), EPkcs7Error::Ok);
    ASSERT_EQ(reader.SignerCount(), 1u);
    size_t c = 0;
    ASSERT_EQ(reader.FindSignerCertificate(0, c), EPkcs7Error::Ok);
    const Bytes& cert = reader.Certificate(c);
    EXPECT_EQ(reader.Verify(0, cert.data(), cert.size()), t.expected);
}

INSTANTIATE_TEST_SUITE_P(Changes, ReaderTamper, ::testing::ValuesIn(TAMPERS),
                         [](const ::testing::TestParamInfo<CS_TAMPER>& i) {
                             return std::string(i.param.what);
                         });

TEST(Reader, VerifyOnlyAfterFinish)
{
    const Bytes& msg = Message(VARIANTS[6]);
    COpenSslTestCrypto crypto;
    CPkcs7Reader reader(crypto, nullptr);
    ASSERT_EQ(reader.Update(msg.data(), msg.size() - 1), EPkcs7Error::Ok);
    const Bytes& cert = CTestPki::Get().CertDer(1);
    EXPECT_EQ(reader.Verify(0, cert.data(), cert.size()), EPkcs7Error::BadState);
    EXPECT_EQ(reader.Finish(), EPkcs7Error::Truncated);
    EXPECT_EQ(reader.Verify(0, cert.data(), cert.size()), EPkcs7Error::BadState);
    EXPECT_EQ(reader.Update(msg.data(), 1), EPkcs7Error::Truncated);
}

TEST(Reader, UnsupportedDigestCannotVerify)
{
    // A provider without MD5: the message still reads, its signer cannot be checked.
    class CNoMd5 : public COpenSslTestCrypto {
    public:
        std::unique_ptr<CPkcs7Digest> CreateDigest(const std::string& oid) override
        {
            return oid == tm_oid::MD5 ? nullptr : COpenSslTestCrypto::CreateDigest(oid);
        }
    } crypto;
    const Bytes& msg = Message(VARIANTS[6]);
    CPkcs7Reader reader(crypto, nullptr);
    ASSERT_EQ(ReadInBlocks(reader, msg, 4096), EPkcs7Error::Ok);
    EXPECT_EQ(reader.ContentDigest(tm_oid::MD5), nullptr);
    const Bytes& cert = CTestPki::Get().CertDer(1);
    EXPECT_EQ(reader.Verify(0, cert.data(), cert.size()), EPkcs7Error::Unsupported);
}

TEST(Reader, ContentCallbackRefusalStopsReading)
{
    const Bytes& msg = Message(VARIANTS[6]);
    COpenSslTestCrypto crypto;
    CPkcs7Reader reader(crypto, [](const uint8_t*, size_t) { return false; });
    EXPECT_EQ(ReadInBlocks(reader, msg, 4096), EPkcs7Error::Output);
}

}  // namespace
