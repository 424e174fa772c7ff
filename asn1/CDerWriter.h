// Small DER building helpers: tag-length headers and whole elements appended to
// a byte vector. Lengths are always written in their shortest form; nothing is
// checked or refused. Includes only asn1/.
#pragma once

#include <cstddef>
#include <cstdint>

#include "asn1/Bytes.h"

class CDerWriter {
public:
    static void AppendHeader(Bytes& out, uint8_t nTag, size_t nLength);
    static void AppendIndefinite(Bytes& out, uint8_t nTag);
    static void AppendEnd(Bytes& out);
    static void Append(Bytes& out, uint8_t nTag, const uint8_t* pContent, size_t nLength);
    static void Append(Bytes& out, uint8_t nTag, const Bytes& content);
    static void AppendRaw(Bytes& out, const Bytes& bytes);
    // Orders encodings the way DER wants the members of a SET OF.
    static bool SetOfLess(const Bytes& a, const Bytes& b);
};
