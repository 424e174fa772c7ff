#pragma once
#include <windows.h>
#include <wincrypt.h>

// The crypt32 functions the HTTP/S component uses, resolved by name from the
// component's own reference to crypt32.dll (the host does not link it).
#define TVL_COMPONENT_CRYPT32_ENTRIES(X)     \
    X(CertOpenStore)                         \
    X(CertCloseStore)                        \
    X(CertFindCertificateInStore)            \
    X(CertEnumCertificatesInStore)           \
    X(CertDuplicateCertificateContext)       \
    X(CertFreeCertificateContext)            \
    X(CertGetCertificateContextProperty)     \
    X(CertVerifyTimeValidity)                \
    X(CertCompareCertificate)                \
    X(CertAddEncodedCertificateToStore)      \
    X(CertSetCertificateContextProperty)     \
    X(CertComparePublicKeyInfo)              \
    X(CryptExportPublicKeyInfo)

class CComponentCrypt32 {
public:
    CComponentCrypt32();
    ~CComponentCrypt32();

    // False when crypt32.dll or one of its entries was not found; GetError tells which.
    bool IsLoaded() const { return m_hModule != NULL; }
    DWORD GetError() const { return m_dwError; }
    const char* GetMissingEntry() const { return m_pszMissing; }

#define TVL_DECLARE_ENTRY(name) decltype(&::name) name;
    TVL_COMPONENT_CRYPT32_ENTRIES(TVL_DECLARE_ENTRY)
#undef TVL_DECLARE_ENTRY

private:
    CComponentCrypt32(const CComponentCrypt32&) = delete;
    CComponentCrypt32& operator=(const CComponentCrypt32&) = delete;

    HMODULE m_hModule;
    DWORD m_dwError;
    const char* m_pszMissing;
};
