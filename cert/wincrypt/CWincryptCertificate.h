#pragma once
#include <windows.h>
#include <wincrypt.h>

#include <string>

#include "cert/CCertificate.h"
#include "cert/wincrypt/WincryptHandles.h"

// A certificate over a CryptoAPI context. Every fact is extracted once when the
// object is built, so the accessors are plain reads and never throw.
class CWincryptCertificate : public CCertificate {
public:
    CWincryptCertificate();
    // Builds from the context; the caller keeps its own reference.
    explicit CWincryptCertificate(PCCERT_CONTEXT pContext);
    CWincryptCertificate(const CWincryptCertificate& other);
    CWincryptCertificate& operator=(const CWincryptCertificate&) = delete;
    virtual ~CWincryptCertificate();

    // Builds the object from a context (kept as a duplicate). Throws kind Windows,
    // "CWincryptCertificate::GetOwnerData", when the subject alternative name
    // cannot be decoded; the object must then be discarded.
    void Create2(PCCERT_CONTEXT pContext);
    // Builds the object from DER bytes; throws kind Windows,
    // "CWincryptCertificate::Create2", when they are not a certificate.
    void Create2(const BYTE* pbEncoded, DWORD cbEncoded);

    std::string GetOwnerName() override { return m_strOwnerName; }
    std::string GetOwnerId() override { return m_strOwnerId; }
    std::string GetIssuer() override { return m_strIssuer; }
    std::string GetDisplayName() override { return m_strDisplayName; }
    std::string GetSubject() override { return m_strSubject; }
    int GetSignatureUsage() override { return m_nSignatureUsage; }
    TIME64 GetNotBefore() override { return m_tNotBefore; }
    TIME64 GetNotAfter() override { return m_tNotAfter; }
    std::string GetSerialNumber() override { return m_strSerialNumber; }
    void ExportCertificate(std::string strPath) override {}
    int GetValidityStatus() override { return m_nValidityStatus; }
    std::string GetVersion() override { return m_strVersion; }
    std::string GetThumbprint() override { return m_strThumbprint; }
    TIME64 GetRenewalDate() override { return 0; }
    TIME64 GetKeyExpiryDate() override { return 0; }
    int GetKeyUsage() override { return m_nKeyUsage; }
    std::string GetEnhancedKeyUsage() override { return m_strEnhancedKeyUsage; }
    // Provider and key container of the key-provider property; throws kind
    // Windows, "CWincryptCertificate::GetProviderData", when there is none.
    void GetProviderData(std::string& strProvider, std::string& strContainer) override;
    void LogDetails() override;

    // Subject with numeric OIDs: "2.5.4.3=...; 2.5.4.10=...".
    std::string GetSubjectOid() const { return m_strSubjectOid; }
    // "-----BEGIN CERTIFICATE-----\n...\n-----END CERTIFICATE-----\n", lines of 64.
    std::string GetPEM() const;
    // 1 when the platform builds a trusted chain (an end certificate that is only
    // out of its validity period passes), 0 otherwise with the reasons logged.
    // Throws kind Windows, "CWincryptCertificate::Verify", when no chain is built.
    int Verify();
    PCCERT_CONTEXT GetContext() const { return m_pContext.get(); }

private:
    void Clear();
    void GetOwnerData();

    CCertContextPtr m_pContext;
    TIME64 m_tNotBefore;
    TIME64 m_tNotAfter;
    int m_nKeyUsage;
    std::string m_strOwnerName;
    std::string m_strOwnerId;
    std::string m_strSubjectOid;
    std::string m_strSubject;
    std::string m_strDisplayName;
    std::string m_strSerialNumber;
    std::string m_strIssuer;
    std::string m_strVersion;
    std::string m_strThumbprint;
    std::string m_strEnhancedKeyUsage;
    int m_nValidityStatus;
    int m_nSignatureUsage;
};
