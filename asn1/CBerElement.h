// A view of one BER element (tag, length, content) inside a buffer held by the
// caller; used for the small objects (certificates, signer infos, attributes).
// Definite and indefinite lengths are accepted; nesting is bounded. Errors
// are asn1's own; callers map them. Includes only asn1/.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "asn1/Asn1Error.h"
#include "asn1/Asn1Tags.h"

class CBerElement {
public:
    static constexpr unsigned MAX_DEPTH = 32;

    CBerElement();

    // Reads the element starting at pData; nSize is what is available.
    // The element may be shorter than nSize (see Size()).
    EAsn1Error Parse(const uint8_t* pData, size_t nSize, unsigned nDepth = 0);
    // Like Parse, but the element must fill the buffer exactly.
    EAsn1Error ParseAll(const uint8_t* pData, size_t nSize);

    // Every child of a constructed element, in order.
    EAsn1Error Children(std::vector<CBerElement>& children) const;
    // The value of an OCTET STRING, primitive or constructed.
    EAsn1Error OctetString(std::vector<uint8_t>& value) const;

    uint8_t Tag() const { return m_nTag; }
    bool IsConstructed() const { return (m_nTag & Asn1Tag::kConstructed) != 0; }
    bool IsIndefinite() const { return m_bIndefinite; }
    const uint8_t* Data() const { return m_pData; }  // whole element
    size_t Size() const { return m_nSize; }          // header + content (+ end mark)
    const uint8_t* Content() const { return m_pData + m_nHeader; }
    size_t ContentSize() const { return m_nContent; }  // without the end mark
    std::vector<uint8_t> Bytes() const { return std::vector<uint8_t>(m_pData, m_pData + m_nSize); }

private:
    const uint8_t* m_pData;
    size_t m_nSize;
    size_t m_nHeader;
    size_t m_nContent;
    uint8_t m_nTag;
    bool m_bIndefinite;
    unsigned m_nDepth;
};
