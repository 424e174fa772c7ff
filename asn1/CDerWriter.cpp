#include "asn1/CDerWriter.h"

#include "asn1/Asn1Tags.h"

void CDerWriter::AppendHeader(Bytes& out, uint8_t nTag, size_t nLength)
{
    out.push_back(nTag);
    if (nLength < 0x80) {
        out.push_back(static_cast<uint8_t>(nLength));
        return;
    }
    uint8_t bytes[sizeof(size_t)];
    size_t count = 0;
    for (size_t v = nLength; v != 0; v >>= 8)
        bytes[count++] = static_cast<uint8_t>(v & 0xFF);
    out.push_back(static_cast<uint8_t>(0x80 | count));
    while (count > 0)
        out.push_back(bytes[--count]);
}

void CDerWriter::AppendIndefinite(Bytes& out, uint8_t nTag)
{
    out.push_back(nTag);
    out.push_back(0x80);
}

void CDerWriter::AppendEnd(Bytes& out)
{
    out.push_back(Asn1Tag::kEndOfContents);
    out.push_back(0x00);
}

void CDerWriter::Append(Bytes& out, uint8_t nTag, const uint8_t* pContent, size_t nLength)
{
    AppendHeader(out, nTag, nLength);
    out.insert(out.end(), pContent, pContent + nLength);
}

void CDerWriter::Append(Bytes& out, uint8_t nTag, const Bytes& content)
{
    Append(out, nTag, content.data(), content.size());
}

void CDerWriter::AppendRaw(Bytes& out, const Bytes& bytes)
{
    out.insert(out.end(), bytes.begin(), bytes.end());
}

bool CDerWriter::SetOfLess(const Bytes& a, const Bytes& b)
{
    // X.690 11.6: compared as octet strings, the shorter padded with zero octets.
    size_t common = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < common; ++i)
        if (a[i] != b[i])
            return a[i] < b[i];
    for (size_t i = common; i < b.size(); ++i)
        if (b[i] != 0)
            return true;
    return false;
}
