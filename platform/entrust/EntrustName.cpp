#include "platform/entrust/EntrustName.h"

short EntrustName::GetUniqueName(GString& strName) const
{
    if (m_strUniqueName.empty())
        return ENT_ERR_ENTRY_NOT_FOUND;
    strName = m_strUniqueName;
    return ENT_OK;
}

short EntrustName::GetEncryptionCertificate(EntCertificate& cert) const
{
    if (!m_pEncryption)
        return ENT_ERR_NO_CERTIFICATE;
    cert = EntCertificate(nullptr, m_pEncryption);
    return ENT_OK;
}

short EntrustName::GetVerificationCertificate(EntCertificate& cert) const
{
    if (!m_pVerification)
        return ENT_ERR_NO_CERTIFICATE;
    cert = EntCertificate(nullptr, m_pVerification);
    return ENT_OK;
}

short EntrustName::GetAttribute(int nIndex, GString& strName) const
{
    if (nIndex < 0 || nIndex >= GetNumberOfAttributes())
        return ENT_ERR_INVALID_ARGUMENT;
    strName = m_attributes[nIndex].strName;
    return ENT_OK;
}

int EntrustName::GetNumberOfAttributeValues(int nIndex) const
{
    if (nIndex < 0 || nIndex >= GetNumberOfAttributes())
        return -1;
    return static_cast<int>(m_attributes[nIndex].values.size());
}

short EntrustName::GetAttributeValue(int nIndex, int nValue, GString& strValue) const
{
    if (nIndex < 0 || nIndex >= GetNumberOfAttributes() || nValue < 0 ||
        nValue >= static_cast<int>(m_attributes[nIndex].values.size()))
        return ENT_ERR_INVALID_ARGUMENT;
    strValue = m_attributes[nIndex].values[nValue];
    return ENT_OK;
}

void EntrustName::Set(const std::string& strUniqueName, const std::vector<CAttribute>& attributes,
                      std::shared_ptr<const EntX509> pEncryption,
                      std::shared_ptr<const EntX509> pVerification)
{
    m_strUniqueName = strUniqueName;
    m_attributes = attributes;
    m_pEncryption = std::move(pEncryption);
    m_pVerification = std::move(pVerification);
}
