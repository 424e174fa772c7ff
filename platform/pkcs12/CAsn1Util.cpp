#include "platform/pkcs12/CAsn1Util.h"

#include "cert/pkcs7/CAsn1Oid.h"
#include "cert/pkcs7/CDerWriter.h"

bool CAsn1Util::Children(const CBerElement& element, uint8_t nTag,
                         std::vector<CBerElement>& children)
{
    return element.Tag() == nTag && element.Children(children) == EPkcs7Error::Ok;
}

bool CAsn1Util::ParseWhole(const uint8_t* pData, size_t nSize, uint8_t nTag, CBerElement& element)
{
    return pData != nullptr && element.ParseAll(pData, nSize) == EPkcs7Error::Ok &&
           element.Tag() == nTag;
}

bool CAsn1Util::IsOid(const CBerElement& element, const char* pszDotted)
{
    return Oid(element) == pszDotted;
}

std::string CAsn1Util::Oid(const CBerElement& element)
{
    if (element.Tag() != 0x06)
        return std::string();
    return CAsn1Oid::Decode(element.Content(), element.ContentSize());
}

bool CAsn1Util::Unsigned(const CBerElement& element, Bytes& value)
{
    if (element.Tag() != 0x02 || element.ContentSize() == 0)
        return false;
    const uint8_t* p = element.Content();
    size_t n = element.ContentSize();
    if (p[0] & 0x80)
        return false;
    while (n > 1 && p[0] == 0) {
        ++p;
        --n;
    }
    value.assign(p, p + n);
    return true;
}

bool CAsn1Util::SmallInt(const CBerElement& element, long& nValue)
{
    Bytes magnitude;
    if (!Unsigned(element, magnitude) || magnitude.size() > 4 ||
        (magnitude.size() == 4 && (magnitude[0] & 0x80)))
        return false;
    nValue = 0;
    for (uint8_t b : magnitude)
        nValue = (nValue << 8) | b;
    return true;
}

bool CAsn1Util::OctetString(const CBerElement& element, Bytes& value)
{
    value.clear();
    return element.OctetString(value) == EPkcs7Error::Ok;
}

void CAsn1Util::AppendOid(Bytes& out, const char* pszDotted)
{
    Bytes content;
    CAsn1Oid::Encode(pszDotted, content);
    CDerWriter::Append(out, 0x06, content);
}

void CAsn1Util::AppendUnsigned(Bytes& out, const Bytes& magnitude)
{
    size_t nSkip = 0;
    while (nSkip + 1 < magnitude.size() && magnitude[nSkip] == 0)
        ++nSkip;
    Bytes content;
    if (magnitude.empty() || (magnitude[nSkip] & 0x80))
        content.push_back(0);
    content.insert(content.end(), magnitude.begin() + nSkip, magnitude.end());
    CDerWriter::Append(out, 0x02, content);
}

void CAsn1Util::AppendSmallInt(Bytes& out, long nValue)
{
    Bytes magnitude;
    for (unsigned long v = static_cast<unsigned long>(nValue); v != 0; v >>= 8)
        magnitude.insert(magnitude.begin(), static_cast<uint8_t>(v & 0xFF));
    AppendUnsigned(out, magnitude);
}

void CAsn1Util::AppendOctetString(Bytes& out, const Bytes& value)
{
    CDerWriter::Append(out, 0x04, value);
}

void CAsn1Util::AppendAlgorithm(Bytes& out, const char* pszDotted)
{
    Bytes null = {0x05, 0x00};
    AppendAlgorithm(out, pszDotted, null);
}

void CAsn1Util::AppendAlgorithm(Bytes& out, const char* pszDotted, const Bytes& parameters)
{
    Bytes body;
    AppendOid(body, pszDotted);
    body.insert(body.end(), parameters.begin(), parameters.end());
    CDerWriter::Append(out, 0x30, body);
}

CAsn1Util::Bytes CAsn1Util::Wrap(uint8_t nTag, const Bytes& content)
{
    Bytes out;
    CDerWriter::Append(out, nTag, content);
    return out;
}
