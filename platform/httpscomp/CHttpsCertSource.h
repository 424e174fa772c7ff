#pragma once
#include "platform/httpscomp/CComponentCrypt32.h"
#include <stdint.h>
#include <string>
#include <vector>

// The certificate side of the HTTP/S component: the store named by the
// SSLCertStore text, the SSLCertSubject text and the certificate they select.
//
// Store texts: "MY" (any case) opens the current user's personal system store,
// read-only; "PFX\<path>*<password>" imports the PKCS#12 file at <path> with
// that password (everything after the first '*' is the password; without a '*'
// the password is empty). Anything else is refused. The password is not kept:
// the store text reads back as "PFX\<path>".
//
// A PFX import puts each private key into a key container of its own, made for
// it under a fresh name that tells which process made it (CKeyContainerSweeper),
// and touches no other container (the platform's own import may reuse the
// user's default container). The container persists: a certificate context can
// name only a persistent key, and the platform's SSL code finds the key through
// that name.
//
// Subject: a case-insensitive substring of the certificate's subject name, as
// CertFindCertificateInStore(CERT_FIND_SUBJECT_STR) matches it; empty or "*"
// matches every certificate. Among the matches the first certificate with a
// key-provider property that is inside its validity period wins, then the first
// one with a key, then the first match.
//
// Handles given out stay valid until Close (the component's end), so that a host
// may keep one while the store and subject are set again; asking again for the
// same certificate from the same store text gives the same handle. The key
// containers that PFX imports made are deleted by Close.
class CHttpsCertSource {
public:
    CHttpsCertSource();
    ~CHttpsCertSource();

    // Closes what was open, then opens the new store. False with GetError() set
    // on failure; no store is open then.
    bool SetStore(const std::wstring& strStore);
    void SetSubject(const std::wstring& strSubject);
    // The certificate that store and subject select; it belongs to this object
    // and stays valid until Close. False with GetError() set.
    bool GetCertificate(PCCERT_CONTEXT& pCert);
    // Frees every handle given out, the store and the keys PFX imports made.
    void Close();

    const std::wstring& GetStoreText() const { return m_strStore; }
    const std::wstring& GetSubject() const { return m_strSubject; }
    const std::wstring& GetError() const { return m_strError; }

private:
    CHttpsCertSource(const CHttpsCertSource&) = delete;
    CHttpsCertSource& operator=(const CHttpsCertSource&) = delete;

    bool OpenSystemStore();
    bool ImportPfx(const std::wstring& strPath, const std::wstring& strPassword);
    bool ImportKey(HCERTSTORE hStore, const std::vector<uint8_t>& privateKeyInfo);
    bool ReadWholeFile(const std::wstring& strPath, std::vector<BYTE>& data, DWORD& dwError);
    PCCERT_CONTEXT NextMatch(PCCERT_CONTEXT pPrevious) const;
    int Rank(PCCERT_CONTEXT pCert) const;
    PCCERT_CONTEXT SelectCertificate() const;
    void CloseStore();
    void DeleteImportedKeys();
    // The store text without a PFX password, for messages.
    std::wstring StoreLabel() const;
    bool FailStore(const std::wstring& strReason);

    CComponentCrypt32 m_Crypt;
    struct CIssued {
        std::wstring strStore;
        PCCERT_CONTEXT pCert;
    };
    struct CKeyContainer {
        std::wstring strContainer;
        std::wstring strProvider;
        DWORD dwProvType;
        DWORD dwFlags;
    };

    HCERTSTORE m_hStore;
    // Index in m_aIssued of the current selection, -1 when none.
    int m_nSelected;
    std::vector<CIssued> m_aIssued;
    std::vector<CKeyContainer> m_aImportedKeys;
    std::wstring m_strStore;
    std::wstring m_strSubject;
    std::wstring m_strError;
};
