#include "cert/pkcs7/CDerWriter.h"

void CDerWriter::AppendHeader(std::vector<uint8_t>& out, uint8_t nTag, size_t nLength)
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

void CDerWriter::AppendIndefinite(std::vector<uint8_t>& out, uint8_t nTag)
{
    out.push_back(nTag);
    out.push_back(0x80);
}

void CDerWriter::AppendEnd(std::vector<uint8_t>& out)
{
    out.push_back(0x00);
    out.push_back(0x00);
}

void CDerWriter::Append(std::vector<uint8_t>& out, uint8_t nTag, const uint8_t* pContent,
                        size_t nLength)
{
    AppendHeader(out, nTag, nLength);
    out.insert(out.end(), pContent, pContent + nLength);
}

void CDerWriter::Append(std::vector<uint8_t>& out, uint8_t nTag,
                        const std::vector<uint8_t>& content)
{
    Append(out, nTag, content.data(), content.size());
}

void CDerWriter::AppendRaw(std::vector<uint8_t>& out, const std::vector<uint8_t>& bytes)
{
    out.insert(out.end(), bytes.begin(), bytes.end());
}

void CDerWriter::AppendAlgorithm(std::vector<uint8_t>& out, const std::vector<uint8_t>& oidContent)
{
    std::vector<uint8_t> body;
    Append(body, 0x06, oidContent);
    body.push_back(0x05);
    body.push_back(0x00);
    Append(out, 0x30, body);
}

bool CDerWriter::SetOfLess(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b)
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
