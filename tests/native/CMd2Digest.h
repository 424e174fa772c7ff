// MD2 (RFC 1319) for the tests: OpenSSL 3 as shipped here has none.
#pragma once

#include "cert/pkcs7/CPkcs7Digest.h"

class CMd2Digest : public CPkcs7Digest {
public:
    CMd2Digest();
    bool Update(const uint8_t* pData, size_t nSize) override;
    bool Final(std::vector<uint8_t>& value) override;

private:
    void Block(const uint8_t* block);

    uint8_t m_state[48];
    uint8_t m_checksum[16];
    uint8_t m_buffer[16];
    size_t m_nBuffer;
};
