// Conversion between dotted object identifiers and their DER content bytes.
// Encode refuses what DER could not carry; Decode refuses non-minimal arcs.
// Includes nothing of ours.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class CAsn1Oid {
public:
    // False for an empty or malformed dotted text.
    static bool Encode(const std::string& strDotted, std::vector<uint8_t>& content);
    // Empty text for malformed content.
    static std::string Decode(const uint8_t* pContent, size_t nSize);
};
