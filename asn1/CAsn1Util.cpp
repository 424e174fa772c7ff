#include "asn1/CAsn1Util.h"

#include "asn1/CAsn1Oid.h"
#include "asn1/CDerWriter.h"

bool CAsn1Util::Children(const CBerElement& element, uint8_t nTag,
                         std::vector<CBerElement>& children)
{
    return element.Tag() == nTag && element.Children(children) == EAsn1Error::Ok;
}

bool CAsn1Util::ParseWhole(const uint8_t* pData, size_t nSize, uint8_t nTag, CBerElement& element)
{
    return pData != nullptr && element.ParseAll(pData, nSize) == EAsn1Error::Ok &&
           element.Tag() == nTag;
}

bool CAsn1Util::IsOid(const CBerElement& element, const char* pszDotted)
{
    return Oid(element) == pszDotted;
}

std::string CAsn1Util::Oid(const CBerElement& element)
{
    if (element.Tag() != Asn1Tag::kOid)
        return std::string();
    return CAsn1Oid::Decode(element.Content(), element.ContentSize());
}

bool CAsn1Util::Unsigned(const CBerElement& element, Bytes& value)
{
    if (element.Tag() != Asn1Tag::kInteger || element.ContentSize() == 0)
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
    return element.OctetString(value) == EAsn1Error::Ok;
}

void CAsn1Util::AppendOid(Bytes& out, const char* pszDotted)
{
    Bytes content;
    CAsn1Oid::Encode(pszDotted, content);
    CDerWriter::Append(out, Asn1Tag::kOid, content);
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
    CDerWriter::Append(out, Asn1Tag::kInteger, content);
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
    CDerWriter::Append(out, Asn1Tag::kOctetString, value);
}

void CAsn1Util::AppendAlgorithm(Bytes& out, const char* pszDotted, const Bytes& parameters)
{
    Bytes body;
    AppendOid(body, pszDotted);
    body.insert(body.end(), parameters.begin(), parameters.end());
    CDerWriter::Append(out, Asn1Tag::kSequence, body);
}

Bytes CAsn1Util::Wrap(uint8_t nTag, const Bytes& content)
{
    Bytes out;
    CDerWriter::Append(out, nTag, content);
    return out;
}
