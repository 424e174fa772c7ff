#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "cert/pkcs7/CBerElement.h"

// The few DER reading and writing steps that PKCS#12 files, keys and X.509
// certificates share, over the signed-message codec's element view and writer.
class CAsn1Util {
public:
    typedef std::vector<uint8_t> Bytes;

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

    static void AppendOid(Bytes& out, const char* pszDotted);
    static void AppendUnsigned(Bytes& out, const Bytes& magnitude);
    static void AppendSmallInt(Bytes& out, long nValue);
    static void AppendOctetString(Bytes& out, const Bytes& value);
    // AlgorithmIdentifier with NULL parameters, or with the given encoded ones.
    static void AppendAlgorithm(Bytes& out, const char* pszDotted);
    static void AppendAlgorithm(Bytes& out, const char* pszDotted, const Bytes& parameters);
    // Wraps the bytes in an element with the tag.
    static Bytes Wrap(uint8_t nTag, const Bytes& content);
};
