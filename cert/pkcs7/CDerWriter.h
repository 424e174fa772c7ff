// Small DER building helpers: tag-length headers and whole elements appended to
// a byte vector.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class CDerWriter {
public:
    static void AppendHeader(std::vector<uint8_t>& out, uint8_t nTag, size_t nLength);
    static void AppendIndefinite(std::vector<uint8_t>& out, uint8_t nTag);
    static void AppendEnd(std::vector<uint8_t>& out);
    static void Append(std::vector<uint8_t>& out, uint8_t nTag, const uint8_t* pContent,
                       size_t nLength);
    static void Append(std::vector<uint8_t>& out, uint8_t nTag,
                       const std::vector<uint8_t>& content);
    static void AppendRaw(std::vector<uint8_t>& out, const std::vector<uint8_t>& bytes);
    // AlgorithmIdentifier { OID, NULL } from the OID's content bytes.
    static void AppendAlgorithm(std::vector<uint8_t>& out, const std::vector<uint8_t>& oidContent);
    // Orders encodings the way DER wants the members of a SET OF.
    static bool SetOfLess(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b);
};
