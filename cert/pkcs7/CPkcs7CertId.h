// Issuer name and serial number of an X.509 certificate, as PKCS#7 names a
// signer's certificate (issuerAndSerialNumber).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "cert/pkcs7/Pkcs7Error.h"

class CPkcs7CertId {
public:
    // Reads them from a certificate (DER).
    EPkcs7Error FromCertificate(const uint8_t* pCert, size_t nCert);

    // Same issuer (encoded Name, byte for byte) and same serial number.
    bool Matches(const std::vector<uint8_t>& issuer, const std::vector<uint8_t>& serial) const;

    const std::vector<uint8_t>& Issuer() const { return m_issuer; }  // Name element
    const std::vector<uint8_t>& Serial() const { return m_serial; }  // INTEGER content
    const std::vector<uint8_t>& SerialElement() const { return m_serialElement; }  // whole INTEGER

private:
    std::vector<uint8_t> m_issuer;
    std::vector<uint8_t> m_serial;
    std::vector<uint8_t> m_serialElement;
};
