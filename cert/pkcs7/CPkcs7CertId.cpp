#include "cert/pkcs7/CPkcs7CertId.h"

#include "cert/pkcs7/CBerElement.h"

EPkcs7Error CPkcs7CertId::FromCertificate(const uint8_t* pCert, size_t nCert)
{
    CBerElement cert;
    EPkcs7Error e = cert.ParseAll(pCert, nCert);
    if (e != EPkcs7Error::Ok)
        return e;
    std::vector<CBerElement> parts;
    if (cert.Tag() != 0x30 || cert.Children(parts) != EPkcs7Error::Ok || parts.empty() ||
        parts[0].Tag() != 0x30)
        return EPkcs7Error::BadEncoding;
    std::vector<CBerElement> tbs;
    if (parts[0].Children(tbs) != EPkcs7Error::Ok)
        return EPkcs7Error::BadEncoding;
    size_t i = 0;
    if (i < tbs.size() && tbs[i].Tag() == 0xA0)
        ++i;  // version
    // serialNumber, signature, issuer
    if (tbs.size() < i + 3 || tbs[i].Tag() != 0x02 || tbs[i + 2].Tag() != 0x30)
        return EPkcs7Error::BadEncoding;
    m_serialElement = tbs[i].Bytes();
    m_serial.assign(tbs[i].Content(), tbs[i].Content() + tbs[i].ContentSize());
    m_issuer = tbs[i + 2].Bytes();
    return EPkcs7Error::Ok;
}

bool CPkcs7CertId::Matches(const std::vector<uint8_t>& issuer,
                           const std::vector<uint8_t>& serial) const
{
    return !m_issuer.empty() && m_issuer == issuer && m_serial == serial;
}
