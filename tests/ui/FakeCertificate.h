#pragma once
// A certificate whose facts the test sets; its key provider decides the card
// kind ("TEMD_CSP"), as the issuer does for the identity card.
#include <string>

#include "api/CTarvoselException.h"
#include "cert/CCertificate.h"

class CFakeCertificate : public CCertificate {
public:
    std::string strOwnerName, strOwnerId, strIssuer, strDisplayName, strSubject;
    std::string strSerial = "0102", strVersion = "V3", strThumbprint = "AA:BB";
    std::string strEnhancedKeyUsage, strProvider = "Microsoft Enhanced Cryptographic Provider v1.0";
    int nKeyUsage = 0;
    TIME64 tNotBefore = 1704067200;  // 01/01/2024 00:00 (local)
    TIME64 tNotAfter = 2429913599;   // 31/12/2046 23:59:59 (local)

    std::string GetOwnerName() override { return strOwnerName; }
    std::string GetOwnerId() override { return strOwnerId; }
    std::string GetIssuer() override { return strIssuer; }
    std::string GetDisplayName() override { return strDisplayName; }
    std::string GetSubject() override { return strSubject; }
    int GetSignatureUsage() override { return nKeyUsage & (0x02 | 0x20); }
    TIME64 GetNotBefore() override { return tNotBefore; }
    TIME64 GetNotAfter() override { return tNotAfter; }
    std::string GetSerialNumber() override { return strSerial; }
    void ExportCertificate(std::string) override {}
    int GetValidityStatus() override { return 8; }
    std::string GetVersion() override { return strVersion; }
    std::string GetThumbprint() override { return strThumbprint; }
    TIME64 GetRenewalDate() override { return 0; }
    TIME64 GetKeyExpiryDate() override { return 0; }
    int GetKeyUsage() override { return nKeyUsage; }
    std::string GetEnhancedKeyUsage() override { return strEnhancedKeyUsage; }
    void GetProviderData(std::string& strProv, std::string& strContainer) override
    {
        strProv = strProvider;
        strContainer = "contenedor";
    }
    void LogDetails() override {}
};
