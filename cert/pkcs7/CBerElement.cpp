#include "cert/pkcs7/CBerElement.h"

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

EPkcs7Error CBerElement::Parse(const uint8_t* pData, size_t nSize, unsigned nDepth)
{
    if (nDepth >= MAX_DEPTH)
        return EPkcs7Error::LimitExceeded;
    if (nSize < 2)
        return EPkcs7Error::Truncated;
    uint8_t tag = pData[0];
    if ((tag & 0x1F) == 0x1F)
        return EPkcs7Error::Unsupported;  // multi-byte tags never occur in these messages
    size_t pos = 2;
    uint8_t first = pData[1];
    bool indefinite = false;
    size_t length = 0;
    if (first < 0x80) {
        length = first;
    } else if (first == 0x80) {
        if (!(tag & 0x20))
            return EPkcs7Error::BadEncoding;
        indefinite = true;
    } else {
        size_t count = first & 0x7F;
        if (count > 4)
            return EPkcs7Error::LimitExceeded;
        if (nSize < 2 + count)
            return EPkcs7Error::Truncated;
        uint64_t value = 0;
        for (size_t i = 0; i < count; ++i)
            value = (value << 8) | pData[2 + i];
        pos += count;
        if (value > nSize - pos)
            return EPkcs7Error::Truncated;
        length = static_cast<size_t>(value);
    }
    if (tag == 0x00)
        return EPkcs7Error::BadEncoding;  // an end mark where an element was expected

    m_pData = pData;
    m_nHeader = pos;
    m_nTag = tag;
    m_bIndefinite = indefinite;
    m_nDepth = nDepth;
    if (!indefinite) {
        if (length > nSize - pos)
            return EPkcs7Error::Truncated;
        m_nContent = length;
        m_nSize = pos + length;
        return EPkcs7Error::Ok;
    }
    // Indefinite: walk the children up to the end mark.
    size_t at = pos;
    for (;;) {
        if (nSize - at < 2)
            return EPkcs7Error::Truncated;
        if (pData[at] == 0x00) {
            if (pData[at + 1] != 0x00)
                return EPkcs7Error::BadEncoding;
            m_nContent = at - pos;
            m_nSize = at + 2;
            return EPkcs7Error::Ok;
        }
        CBerElement child;
        EPkcs7Error e = child.Parse(pData + at, nSize - at, nDepth + 1);
        if (e != EPkcs7Error::Ok)
            return e;
        at += child.m_nSize;
    }
}

EPkcs7Error CBerElement::ParseAll(const uint8_t* pData, size_t nSize)
{
    EPkcs7Error e = Parse(pData, nSize);
    if (e == EPkcs7Error::Ok && m_nSize != nSize)
        return EPkcs7Error::BadEncoding;
    return e;
}

EPkcs7Error CBerElement::Children(std::vector<CBerElement>& children) const
{
    children.clear();
    if (!IsConstructed())
        return EPkcs7Error::BadEncoding;
    const uint8_t* p = Content();
    size_t left = m_nContent;
    while (left > 0) {
        CBerElement child;
        EPkcs7Error e = child.Parse(p, left, m_nDepth + 1);
        if (e != EPkcs7Error::Ok)
            return e == EPkcs7Error::Truncated ? EPkcs7Error::BadEncoding : e;
        children.push_back(child);
        p += child.m_nSize;
        left -= child.m_nSize;
    }
    return EPkcs7Error::Ok;
}

EPkcs7Error CBerElement::OctetString(std::vector<uint8_t>& value) const
{
    if (m_nTag == 0x04) {
        value.insert(value.end(), Content(), Content() + m_nContent);
        return EPkcs7Error::Ok;
    }
    if (m_nTag != 0x24)
        return EPkcs7Error::BadEncoding;
    std::vector<CBerElement> parts;
    EPkcs7Error e = Children(parts);
    for (size_t i = 0; e == EPkcs7Error::Ok && i < parts.size(); ++i)
        e = parts[i].OctetString(value);
    return e;
}
