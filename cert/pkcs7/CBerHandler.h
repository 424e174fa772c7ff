// Receives the events of CBerReader.
#pragma once

#include <cstddef>
#include <cstdint>

#include "cert/pkcs7/Pkcs7Error.h"

struct CS_BERHEADER {
    uint8_t nTag;  // identifier octet
    bool bConstructed;
    bool bIndefinite;
    uint32_t nLength;  // content length when definite
    unsigned nDepth;   // 0 for the outermost element
    uint8_t raw[6];    // the header bytes as received
    unsigned nRawSize;
};

class CBerHandler {
public:
    virtual ~CBerHandler() {}
    // An element starts; its content (if any) follows.
    virtual EPkcs7Error OnBegin(const CS_BERHEADER& header) = 0;
    // A piece of the content of the current primitive element.
    virtual EPkcs7Error OnData(const uint8_t* pData, size_t nSize) = 0;
    // The current element ends. For an indefinite one, pEndMark holds its
    // end-of-contents bytes as received; for a definite one it is null.
    virtual EPkcs7Error OnEnd(const uint8_t* pEndMark, size_t nEndMark) = 0;
};
