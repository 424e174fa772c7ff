#pragma once
#include <windows.h>

#include <string>

#include "cert/CSession.h"
#include "cert/entrust/EntrustLogin.h"
#include "cert/entrust/EntrustRecords.h"
#include "platform/framework/CCriticalSection.h"

class CEntrustCertificate;
class CHTTPSDlg;
class CPAB;
class EntFile;

// A user logged in with a profile file of the profile toolkit and its password.
// The host's operations run one at a time; GetState, GetSessionData,
// CopyCertificates and Invalidate may come from another thread meanwhile (the
// interface thread) and never wait for an operation to end.
class CEntrustSession : public CSession {
public:
    CEntrustSession();
    ~CEntrustSession() override;

    int Open(void* pLoginRequest) override;  // a CS_EPFREQUEST
    void Close() override;
    void Invalidate() override { m_nState |= SESSION_INVALID; }
    void Reopen() override;
    void GetSessionData(CS_SESSIONINFO* pInfo) override;
    int GetState() override { return m_nState; }
    void GetCertificates(CCertificateArray& lstCertificates) override;
    void CopyCertificates(CCertificateArray& lstCopies) override;
    void SignFile(std::string strIn, std::string strOut, std::string strAlgorithm) override;
    void SignFileC2(std::string strIn, std::string strOut, std::string strAlgorithm) override {}
    void SignFileC2BANER(std::string strIn, std::string strOut, std::string strAlgorithm) override
    {
    }
    CCertStore* GetCertStore() override;
    void ExportCertificates(std::string& strPath, int nSelection, std::string& strPassword) override;
    INT_PTR GetSSLHandle() override;
    void ChangePolicyCertificate(std::string strPath) override;

    // Code of a signing algorithm name for the toolkit's protection options.
    static int AlgorithmCode(const std::string& strName);
    // nLength characters: a digit, a lower-case letter, an upper-case letter,
    // then any of the 62; drawn from the platform's random generator.
    static void MakeRandomPassword(int nLength, std::string& strPassword);
    // The policy certificate's path for a profile: its extension becomes ".pch".
    static std::string PolicyCertificatePath(const std::string& strProfilePath);

    int GetIssuerIndex() const { return m_nIssuerIndex; }
    EntFile* GetEntFile() const { return m_pEntFile; }
    // The hidden HTTP/S window, once GetSSLHandle has made it.
    HWND GetHTTPSWindow() const;

private:
    CEntrustSession(const CEntrustSession&) = delete;
    CEntrustSession& operator=(const CEntrustSession&) = delete;

    void Login(const CS_EPFLOGIN& login);
    void DeleteMembers();
    void SetProfileText(std::string& strField, const std::string& strValue);
    CPAB* CreateAddressBook();
    std::string Password() const;

    // Guards the user certificates against GetSessionData and CopyCertificates
    // while they are made or deleted, and the profile block's texts while
    // they change (only when their values change: a reopening leaves them).
    CCriticalSection m_csData;
    CPAB* m_pAddressBook;
    CEntrustCertificate* m_pSigningCert;
    CEntrustCertificate* m_pEncryptionCert;
    EntFile* m_pEntFile;
    int m_nState;
    unsigned char m_abPassword[256];
    unsigned char m_bPasswordKey;
    CS_EPFPROFILE m_Profile;
    int m_nIssuerIndex;
    CHTTPSDlg* m_pHTTPSDlg;
};
