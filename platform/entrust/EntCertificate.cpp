#include "platform/entrust/EntCertificate.h"

EntCertificate::EntCertificate(EntFile* pFile) : m_pFile(pFile) {}

EntCertificate::EntCertificate(EntFile* pFile, const BinData& encoded, int bCopy)
    : m_pFile(pFile), m_pCert(EntX509::Parse(encoded.m_pData, encoded.m_nLength))
{
}

EntCertificate::EntCertificate(EntFile* pFile, std::shared_ptr<const EntX509> pCert)
    : m_pFile(pFile), m_pCert(std::move(pCert))
{
}

short EntCertificate::GetCertificate(BinData& encoded, int bCopy) const
{
    if (!m_pCert)
        return ENT_ERR_NO_CERTIFICATE;
    if (!encoded.Assign(m_pCert->Der().data(), m_pCert->Der().size()))
        return ENT_ERR_NO_MEMORY;
    return ENT_OK;
}

short EntCertificate::GetKeyUsage(KEY_USAGE eUsage, int& bSet) const
{
    bSet = 0;
    if (!m_pCert)
        return ENT_ERR_NO_CERTIFICATE;
    if (eUsage < KEY_USAGE_DIGITAL_SIGNATURE || eUsage > KEY_USAGE_CRL_SIGN)
        return ENT_ERR_INVALID_ARGUMENT;
    bSet = m_pCert->HasKeyUsage(eUsage) ? 1 : 0;
    return ENT_OK;
}

short EntCertificate::GetSubject(GString& strSubject) const
{
    if (!m_pCert)
        return ENT_ERR_NO_CERTIFICATE;
    strSubject = m_pCert->SubjectText();
    return ENT_OK;
}

short EntCertificate::GetSubjectCommonName(GString& strName) const
{
    if (!m_pCert)
        return ENT_ERR_NO_CERTIFICATE;
    if (m_pCert->CommonName().empty())
        return ENT_ERR_INVALID_ARGUMENT;
    strName = m_pCert->CommonName();
    return ENT_OK;
}

short EntCertificate::GetIssuer(GString& strIssuer) const
{
    if (!m_pCert)
        return ENT_ERR_NO_CERTIFICATE;
    strIssuer = m_pCert->IssuerText();
    return ENT_OK;
}

short EntCertificate::GetSHA1Fingerprint(GString& strFingerprint) const
{
    if (!m_pCert)
        return ENT_ERR_NO_CERTIFICATE;
    std::string strText = m_pCert->Sha1Text();
    if (strText.empty())
        return ENT_ERR_NO_MEMORY;
    strFingerprint = strText;
    return ENT_OK;
}

short EntCertificate::GetValidity(EntTime& tFrom, EntTime& tTo) const
{
    tFrom = tTo = 0;
    if (!m_pCert)
        return ENT_ERR_NO_CERTIFICATE;
    tFrom = m_pCert->NotBefore();
    tTo = m_pCert->NotAfter();
    return ENT_OK;
}

short EntCertificate::GetPrivateKeyEndValidity(EntTime& tEnd) const
{
    tEnd = 0;
    if (!m_pCert)
        return ENT_ERR_NO_CERTIFICATE;
    tEnd = m_pCert->HasKeyPeriod() ? m_pCert->KeyPeriodEnd() : m_pCert->NotAfter();
    return ENT_OK;
}

short EntCertificate::GetVersion(int& nVersion) const
{
    nVersion = 0;
    if (!m_pCert)
        return ENT_ERR_NO_CERTIFICATE;
    nVersion = m_pCert->Version();
    return ENT_OK;
}

short EntCertificate::GetSerialNumber(unsigned long& nSerial) const
{
    nSerial = 0;
    if (!m_pCert)
        return ENT_ERR_NO_CERTIFICATE;
    const Bytes& serial = m_pCert->Serial();
    if (serial.size() > 4)
        return ENT_ERR_SERIAL_TOO_LONG;
    for (uint8_t b : serial)
        nSerial = (nSerial << 8) | b;
    return ENT_OK;
}

short EntCertificate::GetLongSerialNumber(BinData& serial) const
{
    if (!m_pCert)
        return ENT_ERR_NO_CERTIFICATE;
    if (!serial.Assign(m_pCert->Serial().data(), m_pCert->Serial().size()))
        return ENT_ERR_NO_MEMORY;
    return ENT_OK;
}
