// The DER reading and writing steps that PKCS#12 files, keys, X.509
// certificates and directory messages share, over CBerElement and CDerWriter:
// typed children, OIDs as dotted text, INTEGERs as magnitudes, and the one
// AlgorithmIdentifier writer. Reading steps answer false for anything out of
// place; they never throw. Includes only asn1/.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "asn1/Asn1Tags.h"
#include "asn1/Bytes.h"
#include "asn1/CBerElement.h"

class CAsn1Util {
public:
    // Children of a constructed element with the expected tag; false otherwise.
    static bool Children(const CBerElement& element, uint8_t nTag,
                         std::vector<CBerElement>& children);
    // Parses one whole element that must fill the buffer and carry the tag.
    static bool ParseWhole(const uint8_t* pData, size_t nSize, uint8_t nTag, CBerElement& element);
    static bool IsOid(const CBerElement& element, const char* pszDotted);
    static std::string Oid(const CBerElement& element);
    // Magnitude of a non-negative INTEGER, without leading zeros.
    static bool Unsigned(const CBerElement& element, Bytes& value);
    // A non-negative INTEGER that fits 31 bits.
    static bool SmallInt(const CBerElement& element, long& nValue);
    static bool OctetString(const CBerElement& element, Bytes& value);

    // A malformed dotted text is written as an empty OBJECT IDENTIFIER.
    static void AppendOid(Bytes& out, const char* pszDotted);
    static void AppendUnsigned(Bytes& out, const Bytes& magnitude);
    static void AppendSmallInt(Bytes& out, long nValue);
    static void AppendOctetString(Bytes& out, const Bytes& value);
    // AlgorithmIdentifier { OID, parameters } with the parameters already
    // encoded; NULL parameters unless others are given.
    static void AppendAlgorithm(Bytes& out, const char* pszDotted,
                                const Bytes& parameters = Bytes{Asn1Tag::kNull, 0x00});
    // Wraps the bytes in an element with the tag.
    static Bytes Wrap(uint8_t nTag, const Bytes& content);
};
