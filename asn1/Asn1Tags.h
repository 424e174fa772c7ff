// Identifier octets of the ASN.1 elements the codecs read and write (single
// octet, low tag numbers only). Includes nothing; constants only.
#pragma once

#include <cstdint>

namespace Asn1Tag {

inline constexpr uint8_t kEndOfContents = 0x00;
inline constexpr uint8_t kBoolean = 0x01;
inline constexpr uint8_t kInteger = 0x02;
inline constexpr uint8_t kBitString = 0x03;
inline constexpr uint8_t kOctetString = 0x04;
inline constexpr uint8_t kNull = 0x05;
inline constexpr uint8_t kOid = 0x06;
inline constexpr uint8_t kEnumerated = 0x0A;
inline constexpr uint8_t kUtf8String = 0x0C;
inline constexpr uint8_t kPrintableString = 0x13;
inline constexpr uint8_t kTeletexString = 0x14;
inline constexpr uint8_t kIa5String = 0x16;
inline constexpr uint8_t kUtcTime = 0x17;
inline constexpr uint8_t kGeneralizedTime = 0x18;
inline constexpr uint8_t kVisibleString = 0x1A;
inline constexpr uint8_t kBmpString = 0x1E;

// The bit that marks a constructed encoding, and the constructed forms used.
inline constexpr uint8_t kConstructed = 0x20;
inline constexpr uint8_t kOctetStringConstructed = kOctetString | kConstructed;
inline constexpr uint8_t kSequence = 0x10 | kConstructed;
inline constexpr uint8_t kSet = 0x11 | kConstructed;

// Low five bits all set: the tag number follows in further octets.
inline constexpr uint8_t kHighTagNumber = 0x1F;

// [n] in the application and context-specific classes.
constexpr uint8_t Application(unsigned n)
{
    return static_cast<uint8_t>(0x40 | n);
}
constexpr uint8_t ApplicationConstructed(unsigned n)
{
    return static_cast<uint8_t>(0x60 | n);
}
constexpr uint8_t Context(unsigned n)
{
    return static_cast<uint8_t>(0x80 | n);
}
constexpr uint8_t ContextConstructed(unsigned n)
{
    return static_cast<uint8_t>(0xA0 | n);
}

}  // namespace Asn1Tag
