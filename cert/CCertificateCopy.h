#pragma once
#include <string>

#include "cert/CCertificate.h"

// A certificate's facts copied out of another certificate, so that a window
// can keep showing them after the session that owned the original closed or
// reopened. It answers every accessor as the original did when copied; it
// cannot export (nothing of the original's back-end is kept).
class CCertificateCopy : public CCertificate {
public:
    explicit CCertificateCopy(CCertificate& original);

    // Copies of every certificate of the list, appended to lstCopies (the
    // caller deletes them).
    static void CopyList(const CCertificateArray& lstOriginals, CCertificateArray& lstCopies);

    std::string GetOwnerName() override { return m_strOwnerName; }
    std::string GetOwnerId() override { return m_strOwnerId; }
    std::string GetIssuer() override { return m_strIssuer; }
    std::string GetDisplayName() override { return m_strDisplayName; }
    std::string GetSubject() override { return m_strSubject; }
    int GetSignatureUsage() override { return m_nSignatureUsage; }
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
    std::string GetEnhancedKeyUsage() override { return m_strEnhancedKeyUsage; }
    // The original's answer, its failure included.
    void GetProviderData(std::string& strProvider, std::string& strContainer) override;
    void LogDetails() override;

private:
    std::string m_strOwnerName, m_strOwnerId, m_strIssuer, m_strDisplayName, m_strSubject;
    std::string m_strSerial, m_strVersion, m_strThumbprint, m_strEnhancedKeyUsage;
    std::string m_strProvider, m_strContainer;
    int m_nSignatureUsage, m_nStatus, m_nKeyUsage;
    TIME64 m_tNotBefore, m_tNotAfter, m_tRenewal, m_tKeyEnd;
    // The original's provider failure: kind, value and context, or none.
    bool m_bProviderFailed = false;
    int m_nProviderKind = 0;
    long m_nProviderValue = 0;
    std::string m_strProviderContext;
};
