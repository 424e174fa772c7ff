#include "asn1/CBerElement.h"

CBerElement::CBerElement()
    : m_pData(nullptr),
      m_nSize(0),
      m_nHeader(0),
      m_nContent(0),
      m_nTag(0),
      m_bIndefinite(false),
      m_nDepth(0)
{
}

EAsn1Error CBerElement::Parse(const uint8_t* pData, size_t nSize, unsigned nDepth)
{
    if (nDepth >= MAX_DEPTH)
        return EAsn1Error::LimitExceeded;
    if (nSize < 2)
        return EAsn1Error::Truncated;
    uint8_t tag = pData[0];
    if ((tag & Asn1Tag::kHighTagNumber) == Asn1Tag::kHighTagNumber)
        return EAsn1Error::Unsupported;  // multi-byte tags never occur in these messages
    size_t pos = 2;
    uint8_t first = pData[1];
    bool indefinite = false;
    size_t length = 0;
    if (first < 0x80) {
        length = first;
    } else if (first == 0x80) {
        if (!(tag & Asn1Tag::kConstructed))
            return EAsn1Error::BadEncoding;
        indefinite = true;
    } else {
        size_t count = first & 0x7F;
        if (count > 4)
            return EAsn1Error::LimitExceeded;
        if (nSize < 2 + count)
            return EAsn1Error::Truncated;
        uint64_t value = 0;
        for (size_t i = 0; i < count; ++i)
            value = (value << 8) | pData[2 + i];
        pos += count;
        if (value > nSize - pos)
            return EAsn1Error::Truncated;
        length = static_cast<size_t>(value);
    }
    if (tag == Asn1Tag::kEndOfContents)
        return EAsn1Error::BadEncoding;  // an end mark where an element was expected

    m_pData = pData;
    m_nHeader = pos;
    m_nTag = tag;
    m_bIndefinite = indefinite;
    m_nDepth = nDepth;
    if (!indefinite) {
        if (length > nSize - pos)
            return EAsn1Error::Truncated;
        m_nContent = length;
        m_nSize = pos + length;
        return EAsn1Error::Ok;
    }
    // Indefinite: walk the children up to the end mark.
    size_t at = pos;
    for (;;) {
        if (nSize - at < 2)
            return EAsn1Error::Truncated;
        if (pData[at] == Asn1Tag::kEndOfContents) {
            if (pData[at + 1] != 0x00)
                return EAsn1Error::BadEncoding;
            m_nContent = at - pos;
            m_nSize = at + 2;
            return EAsn1Error::Ok;
        }
        CBerElement child;
        EAsn1Error e = child.Parse(pData + at, nSize - at, nDepth + 1);
        if (e != EAsn1Error::Ok)
            return e;
        at += child.m_nSize;
    }
}

EAsn1Error CBerElement::ParseAll(const uint8_t* pData, size_t nSize)
{
    EAsn1Error e = Parse(pData, nSize);
    if (e == EAsn1Error::Ok && m_nSize != nSize)
        return EAsn1Error::BadEncoding;
    return e;
}

EAsn1Error CBerElement::Children(std::vector<CBerElement>& children) const
{
    children.clear();
    if (!IsConstructed())
        return EAsn1Error::BadEncoding;
    const uint8_t* p = Content();
    size_t left = m_nContent;
    while (left > 0) {
        CBerElement child;
        EAsn1Error e = child.Parse(p, left, m_nDepth + 1);
        if (e != EAsn1Error::Ok)
            return e == EAsn1Error::Truncated ? EAsn1Error::BadEncoding : e;
        children.push_back(child);
        p += child.m_nSize;
        left -= child.m_nSize;
    }
    return EAsn1Error::Ok;
}

EAsn1Error CBerElement::OctetString(std::vector<uint8_t>& value) const
{
    if (m_nTag == Asn1Tag::kOctetString) {
        value.insert(value.end(), Content(), Content() + m_nContent);
        return EAsn1Error::Ok;
    }
    if (m_nTag != Asn1Tag::kOctetStringConstructed)
        return EAsn1Error::BadEncoding;
    std::vector<CBerElement> parts;
    EAsn1Error e = Children(parts);
    for (size_t i = 0; e == EAsn1Error::Ok && i < parts.size(); ++i)
        e = parts[i].OctetString(value);
    return e;
}
