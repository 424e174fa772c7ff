// Garbage, truncation, absurd sizes and deep nesting: a clear error, quickly,
// with bounded memory; the same verdict whatever the block size.
#include <gtest/gtest.h>

#include <dirent.h>

#include "CTestPki.h"
#include "TestMessages.h"

namespace {

const char OID_SIGNED_DATA[] = "1.2.840.113549.1.7.2";

// Reads a message whole, then in 1- and 7-byte blocks; the verdict and the
// content must not depend on the split.
EPkcs7Error ReadAnyway(const Bytes& msg, Bytes* content = nullptr)
{
    EPkcs7Error first = EPkcs7Error::Ok;
    Bytes firstContent;
    for (size_t block : {std::max<size_t>(msg.size(), 1), size_t(1), size_t(7)}) {
        COpenSslTestCrypto crypto;
        Bytes got;
        CPkcs7Reader reader(crypto, [&](const uint8_t* p, size_t n) {
            got.insert(got.end(), p, p + n);
            return true;
        });
        EPkcs7Error e = ReadInBlocks(reader, msg, block);
        if (block == std::max<size_t>(msg.size(), 1)) {
            first = e;
            firstContent = got;
        } else {
            EXPECT_EQ(e, first) << "block " << block;
            EXPECT_TRUE(got == firstContent) << "block " << block;
        }
        if (e == EPkcs7Error::Ok) {
            // Everything a caller may ask must be answerable.
            for (size_t i = 0; i < reader.SignerCount(); ++i) {
                reader.Signer(i).SigningTime();
                size_t c = 0;
                reader.FindSignerCertificate(i, c);
                for (size_t c = 0; c < reader.CertificateCount(); ++c)
                    reader.Verify(i, reader.Certificate(c).data(), reader.Certificate(c).size());
            }
        }
    }
    if (content)
        *content = firstContent;
    return first;
}

Bytes Repeat(const Bytes& unit, size_t n)
{
    Bytes out;
    for (size_t i = 0; i < n; ++i)
        out.insert(out.end(), unit.begin(), unit.end());
    return out;
}

Bytes FakeSignerInfo(uint8_t serial)
{
    Bytes issuer = Tlv(0x30, Tlv(0x31, Tlv(0x30, Cat({Oid("2.5.4.3"), Tlv(0x0C, {'x'})}))));
    Bytes alg = Tlv(0x30, Cat({Oid(tm_oid::MD5), {0x05, 0x00}}));
    Bytes rsa = Tlv(0x30, Cat({Oid("1.2.840.113549.1.1.1"), {0x05, 0x00}}));
    return Tlv(0x30, Cat({{0x02, 0x01, 0x01},
                          Tlv(0x30, Cat({issuer, Tlv(0x02, {serial})})),
                          alg,
                          rsa,
                          Tlv(0x04, Bytes(16, 1))}));
}

struct CS_HOSTILE {
    const char* what;
    Bytes msg;
    EPkcs7Error expected;
};

std::vector<CS_HOSTILE> HostileCases()
{
    Bytes signer = Tlv(0x31, FakeSignerInfo(1));
    // Where the message may nest and has room for it (the revocation lists), so
    // that the nesting bound stops it, not the first element out of place.
    Bytes deep = SignedDataMessage({1}, Cat({Tlv(0xA1, Repeat({0x30, 0x80}, 50000)), signer}));
    Bytes deepInside = SignedDataMessage({1}, Cat({Tlv(0xA1, Repeat({0x30, 0x80}, 100)), signer}));
    Bytes prefix = Cat({{0x30, 0x80},
                        Oid(OID_SIGNED_DATA),
                        {0xA0, 0x80, 0x30, 0x80, 0x02, 0x01, 0x01},
                        Tlv(0x31, Tlv(0x30, Cat({Oid(tm_oid::MD5), {0x05, 0x00}}))),
                        Tlv(0x30, Cat({Oid("1.2.840.113549.1.7.1"), Tlv(0xA0, Tlv(0x04, {1}))}))});
    Bytes prefix0 = Cat({{0x30, 0x80},
                         Oid(OID_SIGNED_DATA),
                         {0xA0, 0x80, 0x30, 0x80, 0x02, 0x01, 0x01},
                         Tlv(0x31, Tlv(0x30, Cat({Oid(tm_oid::MD5), {0x05, 0x00}}))),
                         {0x30, 0x80},
                         Oid("1.2.840.113549.1.7.1"),
                         {0xA0, 0x80}});
    Bytes trailing = SignedDataMessage({1, 2}, signer);
    trailing.push_back(0);
    COpenSslTestCrypto crypto;
    Bytes longEnd = SignWithWriter(crypto, 1, tm_oid::MD5, {1, 2, 3});
    longEnd.pop_back();
    longEnd.insert(longEnd.end(), {0x81, 0x00});  // the message's own end mark: 00 81 00
    return {
        {"empty", {}, EPkcs7Error::Truncated},
        {"text", Bytes{'h', 'e', 'l', 'l', 'o'}, EPkcs7Error::NotPkcs7},
        {"zeros", Bytes(64, 0), EPkcs7Error::BadEncoding},
        {"sequence without oid", Tlv(0x30, {0x02, 0x01, 0x01}), EPkcs7Error::NotPkcs7},
        {"data content info",
         Tlv(0x30, Cat({Oid("1.2.840.113549.1.7.1"), Tlv(0xA0, Tlv(0x04, {1}))})),
         EPkcs7Error::NotSignedData},
        {"enveloped content info", Tlv(0x30, Oid("1.2.840.113549.1.7.3")),
         EPkcs7Error::NotSignedData},
        // The outer element ends past 4 GiB, the one inside it further still:
        // refused when it declares so, without waiting for 4 GiB.
        {"4 GiB outer length",
         Cat({{0x30, 0x84, 0xff, 0xff, 0xff, 0xff},
              Oid(OID_SIGNED_DATA),
              {0xA0, 0x84, 0xff, 0xff, 0xff, 0xff}}),
         EPkcs7Error::BadEncoding},
        {"5-byte length", {0x30, 0x85, 0x01, 0x00, 0x00, 0x00, 0x00}, EPkcs7Error::LimitExceeded},
        {"50000 nested sequences", deep, EPkcs7Error::LimitExceeded},
        {"50000 nested content chunks", Cat({prefix0, Repeat({0x24, 0x80}, 50000)}),
         EPkcs7Error::LimitExceeded},
        {"deep nesting in crls", deepInside, EPkcs7Error::LimitExceeded},
        {"certificate of 1 MiB declared",
         Cat({prefix, {0xA0, 0x83, 0x10, 0x00, 0x05, 0x30, 0x83, 0x10, 0x00, 0x00}}),
         EPkcs7Error::LimitExceeded},
        {"signer info of 2 GiB declared",
         Cat({prefix, {0x31, 0x84, 0x7f, 0xff, 0xff, 0xff, 0x30, 0x84, 0x7f, 0xff, 0xff, 0xf0}}),
         EPkcs7Error::LimitExceeded},
        {"indefinite certificate beyond its bound",
         Cat({prefix, {0xA0, 0x80, 0x30, 0x80}, Repeat(Tlv(0x04, Bytes(1000, 7)), 70)}),
         EPkcs7Error::LimitExceeded},
        {"33 certificates",
         SignedDataMessage({1}, Cat({Tlv(0xA0, Repeat({0x30, 0x00}, 33)), signer})),
         EPkcs7Error::LimitExceeded},
        {"17 signers", SignedDataMessage({1}, Tlv(0x31, Repeat(FakeSignerInfo(1), 17))),
         EPkcs7Error::LimitExceeded},
        {"16 signers", SignedDataMessage({1}, Tlv(0x31, Repeat(FakeSignerInfo(1), 16))),
         EPkcs7Error::Ok},
        {"no signer infos", SignedDataMessage({1}, {}), EPkcs7Error::BadEncoding},
        {"signer info garbage", SignedDataMessage({1}, Tlv(0x31, Tlv(0x30, {0x02, 0x01, 0x01}))),
         EPkcs7Error::BadEncoding},
        {"content not an octet string",
         Cat({{0x30, 0x80},
              Oid(OID_SIGNED_DATA),
              {0xA0, 0x80, 0x30, 0x80, 0x02, 0x01, 0x01, 0x31, 0x00},
              Tlv(0x30, Cat({Oid("1.2.840.113549.1.7.1"), Tlv(0xA0, Tlv(0x30, {}))}))}),
         EPkcs7Error::Unsupported},
        {"odd element in chunked content",
         Cat({{0x30, 0x80},
              Oid(OID_SIGNED_DATA),
              {0xA0, 0x80, 0x30, 0x80, 0x02, 0x01, 0x01, 0x31, 0x00},
              Tlv(0x30, Cat({Oid("1.2.840.113549.1.7.1"), Tlv(0xA0, Tlv(0x24, Tlv(0x02, {1})))}))}),
         EPkcs7Error::BadEncoding},
        {"members out of order", SignedDataMessage({1}, Cat({signer, Tlv(0xA0, {})})),
         EPkcs7Error::BadEncoding},
        {"bytes after the message", trailing, EPkcs7Error::BadEncoding},
        {"end mark with a long-form length", longEnd, EPkcs7Error::BadEncoding},
        {"multi-byte tag", {0x30, 0x80, 0x1f, 0x81, 0x01, 0x00}, EPkcs7Error::Unsupported},
    };
}

TEST(HostileInput, ClearErrorsWithoutCrash)
{
    for (const CS_HOSTILE& c : HostileCases())
        EXPECT_EQ(ReadAnyway(c.msg), c.expected) << c.what;
}

TEST(HostileInput, NestedChunksAndUnknownCertificateFormsAreRead)
{
    Bytes content =
        Indef(0x24, Cat({Tlv(0x04, {1, 2}), Indef(0x24, Cat({Tlv(0x04, {}), Tlv(0x04, {3})})),
                         Tlv(0x24, Tlv(0x04, {4}))}));
    Bytes msg = Cat({{0x30, 0x80},
                     Oid(OID_SIGNED_DATA),
                     {0xA0, 0x80, 0x30, 0x80, 0x02, 0x01, 0x01},
                     Tlv(0x31, Tlv(0x30, Cat({Oid(tm_oid::MD5), {0x05, 0x00}}))),
                     Tlv(0x30, Cat({Oid("1.2.840.113549.1.7.1"), Tlv(0xA0, content)})),
                     Tlv(0xA0, Cat({Tlv(0xA1, {0x05, 0x00}), Tlv(0x30, {0x05, 0x00})})),
                     Tlv(0xA1, Tlv(0x30, Repeat({0x05, 0x00}, 150))),
                     Tlv(0x31, FakeSignerInfo(2)),
                     {0, 0, 0, 0, 0, 0}});
    Bytes got;
    ASSERT_EQ(ReadAnyway(msg, &got), EPkcs7Error::Ok);
    EXPECT_TRUE(got == (Bytes{1, 2, 3, 4}));
    COpenSslTestCrypto crypto;
    CPkcs7Reader reader(crypto, nullptr);
    ASSERT_EQ(ReadInBlocks(reader, msg, 3), EPkcs7Error::Ok);
    EXPECT_EQ(reader.CertificateCount(), 1u);
    size_t c = 0;
    EXPECT_EQ(reader.FindSignerCertificate(0, c), EPkcs7Error::SignerNotFound);
    const Bytes& cert = CTestPki::Get().CertDer(1);
    EXPECT_EQ(reader.Verify(0, cert.data(), cert.size()), EPkcs7Error::SignerMismatch);
}

// Every prefix of a complete message fails; only the whole one succeeds.
TEST(HostileInput, EveryTruncationFails)
{
    COpenSslTestCrypto crypto;
    Bytes msg = SignWithWriter(crypto, 1, tm_oid::MD5, Pattern(100, 4), 40);
    ASSERT_FALSE(msg.empty());
    for (size_t len = 0; len < msg.size(); ++len) {
        CPkcs7Reader reader(crypto, nullptr);
        EPkcs7Error e = ReadInBlocks(
            reader, Bytes(msg.begin(), msg.begin() + static_cast<std::ptrdiff_t>(len)), 4096);
        ASSERT_NE(e, EPkcs7Error::Ok) << "prefix " << len;
    }
    CPkcs7Reader reader(crypto, nullptr);
    EXPECT_EQ(ReadInBlocks(reader, msg, 1), EPkcs7Error::Ok);
}

TEST(HostileInput, EverySingleByteChangeIsHandled)
{
    // No change may crash, and a change that still verifies may only touch what
    // the signature does not cover: the carried certificate (the caller checks
    // with its own copy) and the version numbers.
    COpenSslTestCrypto crypto;
    Bytes msg = SignWithWriter(crypto, 1, tm_oid::MD5, Pattern(64, 5), 16);
    ASSERT_FALSE(msg.empty());
    const Bytes& cert = CTestPki::Get().CertDer(1);
    size_t certAt = FindBytes(msg, cert);
    ASSERT_NE(certAt, std::string::npos);
    for (size_t at = 0; at < msg.size(); ++at) {
        Bytes bad = msg;
        bad[at] ^= 0x5a;
        COpenSslTestCrypto c;
        CPkcs7Reader reader(c, nullptr);
        if (ReadInBlocks(reader, bad, 4096) != EPkcs7Error::Ok || reader.SignerCount() != 1 ||
            reader.Verify(0, cert.data(), cert.size()) != EPkcs7Error::Ok)
            continue;
        bool inCert = at >= certAt && at < certAt + cert.size();
        bool version = at >= 2 && msg[at - 2] == 0x02 && msg[at - 1] == 0x01 && msg[at] == 0x01;
        EXPECT_TRUE(inCert || version) << "changed byte " << at << " still verifies";
    }
}

// Inputs found by fuzzing, checked in under cases/ as the fuzz target takes
// them (an artefact copied as it is): the first byte picks the block size, the
// rest is the message.
TEST(HostileInput, FuzzRegressionCases)
{
    DIR* dir = opendir(TVL_CASES_DIR);
    ASSERT_NE(dir, nullptr);
    size_t count = 0;
    while (dirent* e = readdir(dir)) {
        std::string name = e->d_name;
        if (name.size() < 4 || name.compare(name.size() - 4, 4, ".ber") != 0)
            continue;
        SCOPED_TRACE(name);
        Bytes input = CTestPki::ReadFile(std::string(TVL_CASES_DIR) + "/" + name);
        ASSERT_FALSE(input.empty());
        const size_t block = 1 + input[0] % 97;
        const Bytes msg(input.begin() + 1, input.end());
        Bytes content;
        EPkcs7Error whole = ReadAnyway(msg, &content);
        COpenSslTestCrypto crypto;
        Bytes got;
        CPkcs7Reader reader(crypto, [&](const uint8_t* p, size_t n) {
            got.insert(got.end(), p, p + n);
            return true;
        });
        EXPECT_EQ(ReadInBlocks(reader, msg, block), whole) << "block " << block;
        EXPECT_TRUE(got == content) << "block " << block;
        ++count;
    }
    closedir(dir);
    RecordProperty("cases", static_cast<int>(count));
    // An emptied or moved folder must not pass for a clean run.
    EXPECT_GT(count, 0u) << "no regression cases in " << TVL_CASES_DIR;
}

}  // namespace
