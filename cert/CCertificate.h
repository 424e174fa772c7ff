#pragma once
#include <string>

#include "cert/CertTypes.h"

// One certificate with its user-facing facts extracted as text. Only
// GetProviderData may throw.
class CCertificate {
public:
    virtual ~CCertificate() {}
    virtual std::string GetOwnerName() = 0;
    virtual std::string GetOwnerId() = 0;
    virtual std::string GetIssuer() = 0;
    virtual std::string GetDisplayName() = 0;
    virtual std::string GetSubject() = 0;
    virtual int GetSignatureUsage() = 0;
    virtual TIME64 GetNotBefore() = 0;
    virtual TIME64 GetNotAfter() = 0;
    virtual std::string GetSerialNumber() = 0;
    virtual void ExportCertificate(std::string strPath) = 0;
    virtual int GetValidityStatus() = 0;
    virtual std::string GetVersion() = 0;
    virtual std::string GetThumbprint() = 0;
    virtual TIME64 GetRenewalDate() = 0;
    virtual TIME64 GetKeyExpiryDate() = 0;
    virtual int GetKeyUsage() = 0;
    virtual std::string GetEnhancedKeyUsage() = 0;
    virtual void GetProviderData(std::string& strProvider, std::string& strContainer) = 0;
    virtual void LogDetails() = 0;
};
