// The asn1 floor on its own: OIDs, DER SET OF order and lengths, the BER
// element view, and the INTEGER and AlgorithmIdentifier helpers.
#include <gtest/gtest.h>

#include "TestMessages.h"
#include "asn1/CAsn1Oid.h"
#include "asn1/CAsn1Util.h"
#include "asn1/CBerElement.h"
#include "asn1/CDerWriter.h"

namespace {

TEST(Asn1Oid, EncodesAndDecodesKnownIdentifiers)
{
    struct {
        const char* dotted;
        const char* hex;
    } cases[] = {
        {"1.2.840.113549.1.7.2", "2a864886f70d010702"},
        {"1.2.840.113549.2.5", "2a864886f70d0205"},
        {"1.3.14.3.2.26", "2b0e03021a"},
        {"2.16.840.1.101.3.4.2.1", "608648016503040201"},
        {"2.999.3", "883703"},
    };
    for (const auto& c : cases) {
        Bytes content;
        ASSERT_TRUE(CAsn1Oid::Encode(c.dotted, content)) << c.dotted;
        EXPECT_EQ(Hex(content), c.hex) << c.dotted;
        EXPECT_EQ(CAsn1Oid::Decode(content.data(), content.size()), c.dotted);
    }
}

TEST(Asn1Oid, RejectsMalformedText)
{
    for (const char* bad : {"", "1", "1.", ".1.2", "1..2", "1.2a", "3.1", "1.40", "01.2",
                            "MD5WITHRSA", "1.2.99999999999999999999999"}) {
        Bytes content;
        EXPECT_FALSE(CAsn1Oid::Encode(bad, content)) << bad;
    }
}

TEST(Asn1Oid, RejectsMalformedContent)
{
    Bytes cases[] = {{},
                     {0x2a, 0x86},
                     {0x2a, 0x80, 0x01},
                     {0x2a, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x7f}};
    for (const Bytes& c : cases)
        EXPECT_EQ(CAsn1Oid::Decode(c.data(), c.size()), "") << Hex(c);
}

TEST(DerWriter, SetOfOrderComparesPaddedOctets)
{
    EXPECT_TRUE(CDerWriter::SetOfLess({0x30, 0x18}, {0x30, 0x1c}));
    EXPECT_FALSE(CDerWriter::SetOfLess({0x30, 0x1c}, {0x30, 0x18}));
    EXPECT_TRUE(CDerWriter::SetOfLess({0x01}, {0x01, 0x01}));
    EXPECT_FALSE(CDerWriter::SetOfLess({0x01}, {0x01, 0x00}));  // equal after padding
    EXPECT_FALSE(CDerWriter::SetOfLess({0x01, 0x00}, {0x01}));
    EXPECT_FALSE(CDerWriter::SetOfLess({0x02}, {0x01, 0xff}));
}

TEST(DerWriter, LengthForms)
{
    struct {
        size_t len;
        const char* hex;
    } cases[] = {
        {0, "0400"},       {127, "047f"},         {128, "048180"},           {255, "0481ff"},
        {256, "04820100"}, {65536, "0483010000"}, {16777216, "048401000000"}};
    for (const auto& c : cases) {
        Bytes out;
        CDerWriter::AppendHeader(out, 0x04, c.len);
        EXPECT_EQ(Hex(out), c.hex);
    }
}

TEST(BerElement, ParsesDefiniteAndIndefinite)
{
    Bytes ber = Indef(
        0x30, Cat({Tlv(0x02, {0x01}), Indef(0x24, Cat({Tlv(0x04, {1, 2}), Tlv(0x04, {3})}))}));
    CBerElement el;
    ASSERT_EQ(el.ParseAll(ber.data(), ber.size()), EAsn1Error::Ok);
    EXPECT_TRUE(el.IsIndefinite());
    std::vector<CBerElement> kids;
    ASSERT_EQ(el.Children(kids), EAsn1Error::Ok);
    ASSERT_EQ(kids.size(), 2u);
    Bytes value;
    ASSERT_EQ(kids[1].OctetString(value), EAsn1Error::Ok);
    EXPECT_EQ(value, (Bytes{1, 2, 3}));
}

TEST(BerElement, RejectsBrokenInput)
{
    struct {
        Bytes ber;
        EAsn1Error e;
    } cases[] = {
        {{}, EAsn1Error::Truncated},
        {{0x30}, EAsn1Error::Truncated},
        {{0x30, 0x05, 0x02}, EAsn1Error::Truncated},
        {{0x30, 0x80, 0x02, 0x01, 0x01}, EAsn1Error::Truncated},
        {{0x04, 0x80, 0x00, 0x00}, EAsn1Error::BadEncoding},
        {{0x30, 0x85, 0, 0, 0, 0, 1}, EAsn1Error::LimitExceeded},
        {{0x30, 0x84, 0xff, 0xff, 0xff, 0xff}, EAsn1Error::Truncated},
        {{0x1f, 0x81, 0x01, 0x00}, EAsn1Error::Unsupported},
        {{0x00, 0x00}, EAsn1Error::BadEncoding},
        {{0x30, 0x80, 0x00, 0x01}, EAsn1Error::BadEncoding},
        {{0x30, 0x80, 0x00, 0x81, 0x00}, EAsn1Error::BadEncoding},
    };
    for (const auto& c : cases) {
        CBerElement el;
        EXPECT_EQ(el.Parse(c.ber.data(), c.ber.size()), c.e) << Hex(c.ber);
    }
    Bytes deep;
    for (int i = 0; i < 40; ++i)
        deep.insert(deep.end(), {0x30, 0x80});
    deep.insert(deep.end(), 80, 0x00);
    CBerElement el;
    EXPECT_EQ(el.Parse(deep.data(), deep.size()), EAsn1Error::LimitExceeded);
}

TEST(Asn1Util, IntegersKeepTheirSignOctet)
{
    // Magnitude in, DER out, and the magnitude read back without leading zeros.
    struct {
        Bytes magnitude;
        const char* hex;
        Bytes readBack;
    } cases[] = {
        {{}, "020100", {0x00}},
        {{0x00, 0x00}, "020100", {0x00}},
        {{0x7f}, "02017f", {0x7f}},
        {{0x80}, "02020080", {0x80}},
        {{0x00, 0x00, 0xff, 0x01}, "020300ff01", {0xff, 0x01}},
        {{0x01, 0x00}, "02020100", {0x01, 0x00}},
    };
    for (const auto& c : cases) {
        Bytes out;
        CAsn1Util::AppendUnsigned(out, c.magnitude);
        EXPECT_EQ(Hex(out), c.hex) << Hex(c.magnitude);
        CBerElement el;
        ASSERT_EQ(el.ParseAll(out.data(), out.size()), EAsn1Error::Ok);
        Bytes value;
        ASSERT_TRUE(CAsn1Util::Unsigned(el, value)) << c.hex;
        EXPECT_EQ(Hex(value), Hex(c.readBack)) << c.hex;
    }
}

TEST(Asn1Util, SmallIntsStopAt31Bits)
{
    struct {
        Bytes der;
        bool ok;
        long value;
    } cases[] = {
        {{0x02, 0x01, 0x00}, true, 0},
        {{0x02, 0x02, 0x00, 0x80}, true, 128},
        {{0x02, 0x04, 0x7f, 0xff, 0xff, 0xff}, true, 0x7fffffffL},
        {{0x02, 0x05, 0x00, 0x80, 0x00, 0x00, 0x00}, false, 0},
        {{0x02, 0x01, 0xff}, false, 0},  // negative
        {{0x02, 0x00}, false, 0},
        {{0x04, 0x01, 0x01}, false, 0},  // not an INTEGER
    };
    for (const auto& c : cases) {
        CBerElement el;
        ASSERT_EQ(el.ParseAll(c.der.data(), c.der.size()), EAsn1Error::Ok) << Hex(c.der);
        long n = -1;
        EXPECT_EQ(CAsn1Util::SmallInt(el, n), c.ok) << Hex(c.der);
        if (c.ok) {
            EXPECT_EQ(n, c.value) << Hex(c.der);
            Bytes out;
            CAsn1Util::AppendSmallInt(out, c.value);
            EXPECT_EQ(Hex(out), Hex(c.der));
        }
    }
}

TEST(Asn1Util, AlgorithmIdentifierHasNullParametersUnlessGiven)
{
    Bytes out;
    CAsn1Util::AppendAlgorithm(out, "1.3.14.3.2.26");
    EXPECT_EQ(Hex(out), "300906052b0e03021a0500");
    out.clear();
    CAsn1Util::AppendAlgorithm(out, "1.3.14.3.2.26", Bytes{0x04, 0x01, 0x07});
    EXPECT_EQ(Hex(out), "300a06052b0e03021a040107");
}

}  // namespace
