#include "asn1/CAsn1Oid.h"

namespace {

void AppendBase128(std::vector<uint8_t>& out, uint64_t value)
{
    uint8_t tmp[10];
    size_t count = 0;
    do {
        tmp[count++] = static_cast<uint8_t>(value & 0x7F);
        value >>= 7;
    } while (value != 0);
    while (count > 1)
        out.push_back(static_cast<uint8_t>(tmp[--count] | 0x80));
    out.push_back(tmp[0]);
}

}  // namespace

bool CAsn1Oid::Encode(const std::string& strDotted, std::vector<uint8_t>& content)
{
    std::vector<uint64_t> arcs;
    uint64_t value = 0;
    size_t digits = 0;
    for (size_t i = 0; i <= strDotted.size(); ++i) {
        char c = i < strDotted.size() ? strDotted[i] : '.';
        if (c == '.') {
            if (digits == 0)
                return false;
            arcs.push_back(value);
            value = 0;
            digits = 0;
        } else if (c >= '0' && c <= '9') {
            if (digits > 0 && value == 0)
                return false;  // leading zero
            if (value > (UINT64_MAX - 9) / 10 / 40)
                return false;
            value = value * 10 + static_cast<uint64_t>(c - '0');
            ++digits;
        } else {
            return false;
        }
    }
    if (arcs.size() < 2 || arcs[0] > 2 || (arcs[0] < 2 && arcs[1] > 39))
        return false;
    content.clear();
    AppendBase128(content, arcs[0] * 40 + arcs[1]);
    for (size_t i = 2; i < arcs.size(); ++i)
        AppendBase128(content, arcs[i]);
    return true;
}

std::string CAsn1Oid::Decode(const uint8_t* pContent, size_t nSize)
{
    std::string text;
    uint64_t value = 0;
    bool first = true;
    bool inArc = false;
    for (size_t i = 0; i < nSize; ++i) {
        uint8_t b = pContent[i];
        if (!inArc && b == 0x80)
            return std::string();  // non-minimal arc
        if (value > (UINT64_MAX >> 7))
            return std::string();
        value = (value << 7) | (b & 0x7F);
        inArc = (b & 0x80) != 0;
        if (inArc)
            continue;
        if (first) {
            uint64_t top = value < 40 ? 0 : (value < 80 ? 1 : 2);
            text = std::to_string(top) + "." + std::to_string(value - top * 40);
            first = false;
        } else {
            text += "." + std::to_string(value);
        }
        value = 0;
    }
    if (inArc || first)
        return std::string();
    return text;
}
