#include "cert/pkcs7/CBerReader.h"

#include "asn1/Asn1Tags.h"

CBerReader::CBerReader(CBerHandler& handler)
    : m_handler(handler),
      m_nHeader(0),
      m_nOffset(0),
      m_nPrimitiveLeft(0),
      m_bInPrimitive(false),
      m_bComplete(false),
      m_error(EPkcs7Error::Ok)
{
    m_stack.reserve(MAX_DEPTH);
}

uint64_t CBerReader::Limit() const
{
    for (size_t i = m_stack.size(); i > 0; --i)
        if (!m_stack[i - 1].bIndefinite)
            return m_stack[i - 1].nEnd;
    return UINT64_MAX;
}

EPkcs7Error CBerReader::Feed(const uint8_t* pData, size_t nSize)
{
    while (nSize > 0 && m_error == EPkcs7Error::Ok) {
        if (m_bComplete) {
            m_error = EPkcs7Error::BadEncoding;  // bytes after the message
            break;
        }
        if (m_bInPrimitive) {
            size_t take = nSize;
            if (m_nPrimitiveLeft < take)
                take = static_cast<size_t>(m_nPrimitiveLeft);
            m_error = m_handler.OnData(pData, take);
            pData += take;
            nSize -= take;
            m_nOffset += take;
            m_nPrimitiveLeft -= take;
            if (m_error == EPkcs7Error::Ok && m_nPrimitiveLeft == 0) {
                m_bInPrimitive = false;
                m_error = CloseFinished();
            }
            continue;
        }
        uint8_t b = *pData++;
        --nSize;
        ++m_nOffset;
        m_error = HeaderByte(b);
    }
    return m_error;
}

EPkcs7Error CBerReader::Finish()
{
    if (m_error == EPkcs7Error::Ok && !m_bComplete)
        m_error = EPkcs7Error::Truncated;
    return m_error;
}

EPkcs7Error CBerReader::HeaderByte(uint8_t b)
{
    m_header[m_nHeader++] = b;
    if (m_nHeader == 1) {
        if ((b & Asn1Tag::kHighTagNumber) == Asn1Tag::kHighTagNumber)
            return EPkcs7Error::Unsupported;  // multi-byte tags never occur in these messages
        return EPkcs7Error::Ok;
    }
    uint8_t first = m_header[1];
    if (first == 0xFF)
        return EPkcs7Error::BadEncoding;
    if (first > 0x84)
        return EPkcs7Error::LimitExceeded;
    unsigned need = first > 0x80 ? 2 + (first & 0x7F) : 2;
    if (m_nHeader < need)
        return EPkcs7Error::Ok;
    return StartElement();
}

EPkcs7Error CBerReader::StartElement()
{
    CS_BERHEADER h;
    h.nTag = m_header[0];
    h.bConstructed = (h.nTag & Asn1Tag::kConstructed) != 0;
    h.bIndefinite = m_header[1] == 0x80;
    h.nLength = 0;
    if (m_header[1] < 0x80) {
        h.nLength = m_header[1];
    } else if (!h.bIndefinite) {
        for (unsigned i = 2; i < m_nHeader; ++i)
            h.nLength = (h.nLength << 8) | m_header[i];
    }
    h.nDepth = static_cast<unsigned>(m_stack.size());
    h.nRawSize = m_nHeader;
    for (unsigned i = 0; i < m_nHeader; ++i)
        h.raw[i] = m_header[i];
    m_nHeader = 0;

    uint64_t limit = Limit();
    if (m_nOffset > limit)
        return EPkcs7Error::BadEncoding;  // header runs past the enclosing element

    if (h.nTag == Asn1Tag::kEndOfContents) {
        // End mark: only the two bytes "00 00" (a longer form of length 0 would
        // let one message be written several ways), only to close an indefinite
        // element.
        if (h.nRawSize != 2 || h.raw[1] != 0x00 || m_stack.empty() || !m_stack.back().bIndefinite)
            return EPkcs7Error::BadEncoding;
        m_stack.pop_back();
        EPkcs7Error e = m_handler.OnEnd(h.raw, h.nRawSize);
        if (e != EPkcs7Error::Ok)
            return e;
        if (m_stack.empty()) {
            m_bComplete = true;
            return EPkcs7Error::Ok;
        }
        return CloseFinished();
    }
    if (h.bIndefinite && !h.bConstructed)
        return EPkcs7Error::BadEncoding;
    if (m_stack.size() >= MAX_DEPTH)
        return EPkcs7Error::LimitExceeded;
    if (!h.bIndefinite && h.nLength > limit - m_nOffset)
        return EPkcs7Error::BadEncoding;  // longer than its enclosing element

    CS_FRAME f;
    f.bIndefinite = h.bIndefinite;
    f.nEnd = m_nOffset + h.nLength;
    m_stack.push_back(f);
    EPkcs7Error e = m_handler.OnBegin(h);
    if (e != EPkcs7Error::Ok)
        return e;
    if (!h.bConstructed && h.nLength > 0) {
        m_bInPrimitive = true;
        m_nPrimitiveLeft = h.nLength;
        return EPkcs7Error::Ok;
    }
    return CloseFinished();
}

EPkcs7Error CBerReader::CloseFinished()
{
    // Closes every definite element whose content has been read in full.
    while (!m_stack.empty() && !m_stack.back().bIndefinite && m_stack.back().nEnd == m_nOffset) {
        m_stack.pop_back();
        EPkcs7Error e = m_handler.OnEnd(nullptr, 0);
        if (e != EPkcs7Error::Ok)
            return e;
    }
    if (m_stack.empty())
        m_bComplete = true;
    return EPkcs7Error::Ok;
}
