#pragma once
#include <windows.h>

#include <string>

#include "cert/CSession.h"
#include "cert/entrust/EntrustLogin.h"
#include "cert/entrust/EntrustRecords.h"

class CEntrustCertificate;
class CHTTPSDlg;
class CPAB;
class EntFile;

// A user logged in with a profile file of the profile toolkit and its password.
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
    void SignFile(std::string strIn, std::string strOut, std::string strAlgorithm) override;
    void SignFileC2(std::string strIn, std::string strOut, std::string strAlgorithm) override {}
    void SignFileC2BANER(std::string strIn, std::string strOut, std::string strAlgorithm) override
    {
    }
    CCertStore* GetCertStore() override;
    void ExportCertificates(std::string& strPath, int nSelection, std::string& strPassword) override;
    int GetSSLHandle() override;
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
    CPAB* CreateAddressBook();
    std::string Password() const;

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
