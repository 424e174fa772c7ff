// Push parser for one BER element fed in blocks of any size. Primitive content
// is passed on as it arrives, so memory does not grow with the input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "cert/pkcs7/CBerHandler.h"

class CBerReader {
public:
    static constexpr unsigned MAX_DEPTH = 32;

    explicit CBerReader(CBerHandler& handler);

    // Errors are sticky: after one, every call returns it again.
    EPkcs7Error Feed(const uint8_t* pData, size_t nSize);
    // Ok only when the outermost element is complete.
    EPkcs7Error Finish();

    bool IsComplete() const { return m_bComplete; }
    uint64_t Offset() const { return m_nOffset; }

private:
    struct CS_FRAME {
        bool bIndefinite;
        uint64_t nEnd;  // offset after the content, when definite
    };

    EPkcs7Error HeaderByte(uint8_t b);
    EPkcs7Error StartElement();
    EPkcs7Error CloseFinished();
    uint64_t Limit() const;

    CBerHandler& m_handler;
    std::vector<CS_FRAME> m_stack;
    uint8_t m_header[6];
    unsigned m_nHeader;
    uint64_t m_nOffset;
    uint64_t m_nPrimitiveLeft;
    bool m_bInPrimitive;
    bool m_bComplete;
    EPkcs7Error m_error;
};
