#pragma once
#include <string>

#include "cert/CCertificate.h"

class BinData;
class EntCertificate;
class EntFile;

// A certificate held by the profile toolkit: the user's own or an address-book
// entry's. Every fact is read once, by Create; the accessors answer from members.
class CEntrustCertificate : public CCertificate {
public:
    // Days before the key's end at which renewal starts.
    static constexpr int RENEWAL_PERIOD_DAYS = 100;

    CEntrustCertificate();
    ~CEntrustCertificate() override;

    // From the encoded certificate; never throws for what the toolkit cannot read.
    void Create(const BinData& encoded, EntFile* pEntFile);

    std::string GetOwnerName() override { return m_strOwnerName; }
    std::string GetOwnerId() override { return m_strOwnerId; }
    std::string GetIssuer() override { return m_strIssuer; }
    std::string GetDisplayName() override { return m_strCommonName; }
    std::string GetSubject() override { return m_strSubject; }
    int GetSignatureUsage() override { return 0; }
    TIME64 GetNotBefore() override { return m_tNotBefore; }
    TIME64 GetNotAfter() override { return m_tNotAfter; }
    std::string GetSerialNumber() override { return m_strSerial; }
    void ExportCertificate(std::string strPath) override;
    int GetValidityStatus() override { return m_nStatus; }
    std::string GetVersion() override { return m_strVersion; }
    std::string GetThumbprint() override { return m_strThumbprint; }
    TIME64 GetRenewalDate() override { return m_tRenewal; }
    TIME64 GetKeyExpiryDate() override { return m_tKeyEnd; }
    int GetKeyUsage() override { return m_nKeyUsage; }
    std::string GetEnhancedKeyUsage() override { return std::string(); }
    void GetProviderData(std::string& strProvider, std::string& strContainer) override;
    void LogDetails() override;

    // The owner's name and NIF/NIE cut from an upper-case common name laid out as
    // "NOMBRE <name> - NIF <number>" (or " - NIE ").
    static void CutOwner(const std::string& strCommonName, std::string& strName,
                         std::string& strId);
    // Start of the renewal period; 0 when the key end is 0.
    static TIME64 RenewalDate(TIME64 tNotBefore, TIME64 tNotAfter, TIME64 tKeyEnd);
    static int Status(TIME64 tNow, TIME64 tNotBefore, TIME64 tNotAfter, TIME64 tKeyEnd,
                      TIME64 tRenewal);

private:
    CEntrustCertificate(const CEntrustCertificate&) = delete;
    CEntrustCertificate& operator=(const CEntrustCertificate&) = delete;

    EntCertificate* m_pEntCert;
    EntFile* m_pEntFileRef;
    TIME64 m_tNotBefore;
    TIME64 m_tNotAfter;
    TIME64 m_tKeyEnd;
    TIME64 m_tRenewal;
    int m_nKeyUsage;
    std::string m_strOwnerName;
    std::string m_strOwnerId;
    std::string m_strSubject;
    std::string m_strCommonName;
    std::string m_strSerial;
    std::string m_strIssuer;
    std::string m_strVersion;
    std::string m_strThumbprint;
    int m_nStatus;
};
