#pragma once
#include <memory>
#include <string>
#include <vector>

#include "platform/entrust/EntCertificate.h"
#include "platform/entrust/GString.h"

// One address-book entry: a unique name, attributes with values ("cn", "o",
// "ou", "c", "mail"...) and the person's certificates.
class EntrustName {
public:
    struct CAttribute {
        std::string strName;
        std::vector<std::string> values;
    };

    short GetUniqueName(GString& strName) const;
    // ENT_OK and the certificate when the entry has one for encryption.
    short GetEncryptionCertificate(EntCertificate& cert) const;
    short GetVerificationCertificate(EntCertificate& cert) const;
    int GetNumberOfAttributes() const { return static_cast<int>(m_attributes.size()); }
    short GetAttribute(int nIndex, GString& strName) const;
    // -1 for an index out of range.
    int GetNumberOfAttributeValues(int nIndex) const;
    short GetAttributeValue(int nIndex, int nValue, GString& strValue) const;

    // Toolkit side.
    void Set(const std::string& strUniqueName, const std::vector<CAttribute>& attributes,
             std::shared_ptr<const EntX509> pEncryption, std::shared_ptr<const EntX509> pVerification);
    const std::string& UniqueName() const { return m_strUniqueName; }
    const std::vector<CAttribute>& Attributes() const { return m_attributes; }
    const std::shared_ptr<const EntX509>& Encryption() const { return m_pEncryption; }
    const std::shared_ptr<const EntX509>& Verification() const { return m_pVerification; }

private:
    std::string m_strUniqueName;
    std::vector<CAttribute> m_attributes;
    std::shared_ptr<const EntX509> m_pEncryption;
    std::shared_ptr<const EntX509> m_pVerification;
};
