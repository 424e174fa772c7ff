// Building blocks of the codec: the push parser's events, MD2 of the tests,
// error mapping.
#include <gtest/gtest.h>

#include "CMd2Digest.h"
#include "TestMessages.h"
#include "cert/pkcs7/CBerReader.h"
#include "cert/pkcs7/CPkcs7CertId.h"
#include "cert/pkcs7/Pkcs7Error.h"

namespace {

// Records the parser's events as text.
class CEventLog : public CBerHandler {
public:
    std::string log;
    EPkcs7Error OnBegin(const CS_BERHEADER& h) override
    {
        log += "<" + Hex({h.nTag}) + (h.bIndefinite ? "*" : "") + ">";
        return EPkcs7Error::Ok;
    }
    EPkcs7Error OnData(const uint8_t* p, size_t n) override
    {
        data.insert(data.end(), p, p + n);
        return EPkcs7Error::Ok;
    }
    EPkcs7Error OnEnd(const uint8_t* pEndMark, size_t nEndMark) override
    {
        if (pEndMark)
            log += "[" + Hex(Bytes(pEndMark, pEndMark + nEndMark)) + "]";
        if (!data.empty())
            log += Hex(data);
        data.clear();
        log += "</>";
        return EPkcs7Error::Ok;
    }
    Bytes data;
};

TEST(BerReader, SameEventsWhateverTheBlockSize)
{
    Bytes ber = Indef(0x30, Cat({Tlv(0x02, {0x01}), Tlv(0x30, {}), Tlv(0x04, Pattern(300)),
                                 Indef(0xA0, Indef(0x24, Tlv(0x04, {7, 8}))), Tlv(0x05, {})}));
    std::string expected;
    for (size_t block : {ber.size(), size_t(1), size_t(2), size_t(7), size_t(128)}) {
        CEventLog events;
        CBerReader reader(events);
        for (size_t at = 0; at < ber.size(); at += block)
            ASSERT_EQ(reader.Feed(ber.data() + at, std::min(block, ber.size() - at)),
                      EPkcs7Error::Ok);
        ASSERT_EQ(reader.Finish(), EPkcs7Error::Ok);
        if (expected.empty())
            expected = events.log;
        EXPECT_EQ(events.log, expected) << "block " << block;
    }
    EXPECT_EQ(expected.substr(0, 30), "<30*><02>01</><30></><04>" + Hex(Pattern(300)).substr(0, 5));
    // An indefinite element's end comes with its end-of-contents bytes.
    EXPECT_NE(expected.find("<a0*><24*><04>0708</>[0000]</>[0000]</>"), std::string::npos);
}

TEST(BerReader, RejectsStructuralFaults)
{
    struct {
        const char* what;
        Bytes ber;
        EPkcs7Error e;
    } cases[] = {
        {"child longer than parent", {0x30, 0x03, 0x04, 0x05, 1, 2, 3}, EPkcs7Error::BadEncoding},
        {"end mark in definite", {0x30, 0x02, 0x00, 0x00}, EPkcs7Error::BadEncoding},
        {"end mark with length", {0x30, 0x80, 0x00, 0x01}, EPkcs7Error::BadEncoding},
        // Only "00 00" ends contents: a longer way to write length 0 would give
        // one message several encodings that read the same.
        {"end mark with a long-form length",
         {0x30, 0x80, 0x00, 0x81, 0x00},
         EPkcs7Error::BadEncoding},
        {"end mark with a four-byte length",
         {0x30, 0x80, 0x00, 0x84, 0x00, 0x00, 0x00, 0x00},
         EPkcs7Error::BadEncoding},
        {"primitive indefinite", {0x04, 0x80, 1, 0, 0}, EPkcs7Error::BadEncoding},
        {"five length bytes", {0x30, 0x85, 0, 0, 0, 0, 1}, EPkcs7Error::LimitExceeded},
        {"reserved length", {0x30, 0xff}, EPkcs7Error::BadEncoding},
        {"multi-byte tag", {0x3f, 0x81, 0x00}, EPkcs7Error::Unsupported},
        {"bytes after the end", {0x30, 0x00, 0x30}, EPkcs7Error::BadEncoding},
        {"indefinite runs past definite parent",
         {0x30, 0x04, 0x30, 0x80, 0x05, 0x00, 0x00, 0x00},
         EPkcs7Error::BadEncoding},
        {"unfinished", {0x30, 0x80, 0x05, 0x00}, EPkcs7Error::Truncated},
        {"nothing", {}, EPkcs7Error::Truncated},
    };
    for (const auto& c : cases) {
        CEventLog events;
        CBerReader reader(events);
        EPkcs7Error e = reader.Feed(c.ber.data(), c.ber.size());
        if (e == EPkcs7Error::Ok)
            e = reader.Finish();
        EXPECT_EQ(e, c.e) << c.what;
        static const uint8_t more = 0x30;
        EXPECT_EQ(reader.Feed(&more, 1), c.e) << c.what << ": errors stay";
    }
}

TEST(Md2ForTests, KnownVectors)
{
    struct {
        std::string in;
        const char* hex;
    } cases[] = {
        {"", "8350e5a3e24c153df2275c9f80692773"},
        {"abc", "da853b0d3f88d99b30283a69e6ded6bb"},
        {"abcdefghijklmnopqrstuvwxyz", "4e8ddff3650292ab5a4108c3aa47940b"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "d5976f79d83d3a0dc9806c3c66f3efd8"},
    };
    for (const auto& c : cases) {
        CMd2Digest md2;
        md2.Update(reinterpret_cast<const uint8_t*>(c.in.data()), c.in.size());
        Bytes v;
        md2.Final(v);
        EXPECT_EQ(Hex(v), c.hex) << c.in;
    }
}

// Every error has its text; what a host sees of each is checked
// where the result codes are (tests/api/ResultCodesTest.cpp).
TEST(Pkcs7Error, EveryErrorHasItsText)
{
    const EPkcs7Error errors[] = {
        EPkcs7Error::Ok,           EPkcs7Error::NotPkcs7,       EPkcs7Error::NotSignedData,
        EPkcs7Error::Truncated,    EPkcs7Error::BadEncoding,    EPkcs7Error::LimitExceeded,
        EPkcs7Error::Unsupported,  EPkcs7Error::BadState,       EPkcs7Error::Output,
        EPkcs7Error::Crypto,       EPkcs7Error::BadIndex,       EPkcs7Error::SignerMismatch,
        EPkcs7Error::MissingDigest, EPkcs7Error::HashMismatch,  EPkcs7Error::BadSignature,
        EPkcs7Error::NotData,      EPkcs7Error::Detached,       EPkcs7Error::SignerNotFound,
        EPkcs7Error::AmbiguousSigner, EPkcs7Error::AmbiguousDigest,
        EPkcs7Error::ContentTypeMismatch, EPkcs7Error::DigestNotAnnounced,
        EPkcs7Error::AlgorithmMismatch, EPkcs7Error::UnsupportedSignature,
    };
    for (EPkcs7Error e : errors)
        EXPECT_STRNE(Pkcs7ErrorText(e), "unknown error") << static_cast<int>(e);
}

// The element view's errors reach the codec's callers unchanged in meaning.
TEST(Pkcs7Error, ElementErrorsKeepTheirKind)
{
    struct {
        Bytes cert;
        EPkcs7Error e;
    } cases[] = {
        {{0x30, 0x05, 0x02}, EPkcs7Error::Truncated},
        {{0x04, 0x80, 0x00, 0x00}, EPkcs7Error::BadEncoding},
        {{0x30, 0x85, 0, 0, 0, 0, 1}, EPkcs7Error::LimitExceeded},
        {{0x1f, 0x81, 0x01, 0x00}, EPkcs7Error::Unsupported},
    };
    for (const auto& c : cases) {
        CPkcs7CertId id;
        EXPECT_EQ(id.FromCertificate(c.cert.data(), c.cert.size()), c.e) << Hex(c.cert);
    }
}

}  // namespace
