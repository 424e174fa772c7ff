#include "cert/pkcs7/CPkcs7CertId.h"

#include "asn1/Asn1Tags.h"
#include "asn1/CBerElement.h"

EPkcs7Error CPkcs7CertId::FromCertificate(const uint8_t* pCert, size_t nCert)
{
    CBerElement cert;
    EPkcs7Error e = Pkcs7ErrorOf(cert.ParseAll(pCert, nCert));
    if (e != EPkcs7Error::Ok)
        return e;
    std::vector<CBerElement> parts;
    if (cert.Tag() != Asn1Tag::kSequence || cert.Children(parts) != EAsn1Error::Ok ||
        parts.empty() || parts[0].Tag() != Asn1Tag::kSequence)
        return EPkcs7Error::BadEncoding;
    std::vector<CBerElement> tbs;
    if (parts[0].Children(tbs) != EAsn1Error::Ok)
        return EPkcs7Error::BadEncoding;
    size_t i = 0;
    if (i < tbs.size() && tbs[i].Tag() == Asn1Tag::ContextConstructed(0))
        ++i;  // version
    // serialNumber, signature, issuer
    if (tbs.size() < i + 3 || tbs[i].Tag() != Asn1Tag::kInteger ||
        tbs[i + 2].Tag() != Asn1Tag::kSequence)
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
