#include "cert/entrust/CEntrustSession.h"

#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <memory>

#include "api/CLog.h"
#include "api/LogEscape.h"
#include "api/CTarvoselException.h"
#include "api/ResultCodes.h"
#include "cert/CCertificateCopy.h"
#include "cert/entrust/CEntrustCertificate.h"
#include "cert/entrust/CPAB.h"
#include "cert/entrust/EntrustCode.h"
#include "cert/AuthorityLabel.h"
#include "host/CHostFiles.h"
#include "host/CHostSettings.h"
#include "https/CHTTPSDlg.h"
#include "platform/entrust/EntFile.h"
#include "util/CHiddenStrings.h"

namespace {
const char kLoginContext[] = "CEntrustSession::Login";
const int kComparedAuthorities = 5;

// A certificate of the profile as the session keeps it.
CEntrustCertificate* MakeCertificate(EntFile* pEntFile, const EntCertificate& cert)
{
    BinData encoded;
    cert.GetCertificate(encoded, 1);
    std::unique_ptr<CEntrustCertificate> pCert(new CEntrustCertificate());
    pCert->Create(encoded, pEntFile);
    return pCert.release();
}

std::string Upper(std::string strText)
{
    if (!strText.empty())
        CharUpperBuffA(&strText[0], static_cast<DWORD>(strText.size()));
    return strText;
}

void Wipe(std::string& str)
{
    if (!str.empty())
        SecureZeroMemory(&str[0], str.size());
    str.clear();
}
}  // namespace

CEntrustSession::CEntrustSession()
    : m_pAddressBook(nullptr), m_pSigningCert(nullptr), m_pEncryptionCert(nullptr),
      m_pEntFile(nullptr), m_nState(SESSION_CLOSED), m_bPasswordKey(0), m_nIssuerIndex(5),
      m_pHTTPSDlg(nullptr)
{
    memset(m_abPassword, 0, sizeof(m_abPassword));
    srand(static_cast<unsigned>(time(nullptr)));
}

CEntrustSession::~CEntrustSession()
{
    DeleteMembers();
    if (m_pHTTPSDlg != nullptr) {
        m_pHTTPSDlg->DestroyWindow();
        delete m_pHTTPSDlg;
    }
    SecureZeroMemory(m_abPassword, sizeof(m_abPassword));
}

void CEntrustSession::DeleteMembers()
{
    CEntrustCertificate *pSigning, *pEncryption;
    {
        CCriticalSection::CGuard guard(m_csData);
        pSigning = m_pSigningCert;
        pEncryption = m_pEncryptionCert;
        m_pSigningCert = nullptr;
        m_pEncryptionCert = nullptr;
    }
    delete pSigning;
    delete pEncryption;
    delete m_pAddressBook;
    delete m_pEntFile;
    m_pAddressBook = nullptr;
    m_pEntFile = nullptr;
}

void CEntrustSession::SetProfileText(std::string& strField, const std::string& strValue)
{
    if (strField == strValue)
        return;
    CCriticalSection::CGuard guard(m_csData);
    strField = strValue;
}

std::string CEntrustSession::PolicyCertificatePath(const std::string& strProfilePath)
{
    return EntFile::SiblingPath(strProfilePath, ".pch");
}

void CEntrustSession::Login(const CS_EPFLOGIN& login)
{
    std::string strIniFile = login.strIniFile;
    bool bTemporary = strIniFile.empty();
    if (bTemporary) {
        strIniFile = CHostSettings::Process().MakeTempFileName("tmp");
        WritePrivateProfileStringA("Entrust Settings", "server",
                                   login.strServer.empty() ? "<none>" : login.strServer.c_str(),
                                   strIniFile.c_str());
        WritePrivateProfileStringA("Directory Connection Settings", "DirectoryProtocol",
                                   login.strDirectoryProtocol.empty()
                                       ? "LDAPv3"
                                       : login.strDirectoryProtocol.c_str(),
                                   strIniFile.c_str());
    }
    // The temporary file goes whatever happens to the login.
    struct CTemporaryFile {
        const std::string& strPath;
        bool bDelete;
        ~CTemporaryFile()
        {
            if (bDelete)
                DeleteFileA(strPath.c_str());
        }
    } temporary{strIniFile, bTemporary};

    if (login.bLogDetails) {
        LogInfo("Ruta EPF: %s", login.strProfilePath.c_str());
        LogInfo("Fichero de inicialización: %s", strIniFile.c_str());
    }
    if (!CHostFiles::FileExists(login.strProfilePath))
        throw new CTarvoselException(EXC_OWN, ERR_EPF_OPEN, kLoginContext);
    // The password must fit its scrambled copy, or Reopen would log in with another.
    if (login.strPassword.size() > sizeof(m_abPassword) - 1)
        throw new CTarvoselException(EXC_OWN, ERR_WRONG_PASSWORD, kLoginContext);

    m_pEntFile = new EntFile(login.strProfilePath.c_str(), login.strPassword.c_str(),
                             strIniFile.c_str(), login.bOnline ? 0 : 1);
    CheckEntrustCode(m_pEntFile->GetConstructorError(), kLoginContext);
    CHiddenStrings::Scramble(login.strPassword.c_str(), m_abPassword, sizeof(m_abPassword),
                             &m_bPasswordKey, 0);
}

int CEntrustSession::Open(void* pLoginRequest)
{
    m_nState = SESSION_CLOSED;
    CS_EPFREQUEST* pRequest = static_cast<CS_EPFREQUEST*>(pLoginRequest);
    if (pRequest == nullptr || pRequest->pLogin == nullptr)
        throw new CTarvoselException(EXC_OWN, ERR_EPF_OPEN, kLoginContext);
    const CS_EPFLOGIN& login = *pRequest->pLogin;
    SetProfileText(m_Profile.strIniFile, login.strIniFile);
    SetProfileText(m_Profile.strDirectoryProtocol, login.strDirectoryProtocol);
    SetProfileText(m_Profile.strServer, login.strServer);

    int nResult = 0;
    try {
        Login(login);
        m_Profile.bOnline = m_pEntFile->QueryConnectStatus();

        EntCertificate signing(m_pEntFile), encryption(m_pEntFile), issuer(m_pEntFile);
        m_pEntFile->GetUserVerificationCertificate(signing);
        std::unique_ptr<CEntrustCertificate> pSigning(MakeCertificate(m_pEntFile, signing));
        m_pEntFile->GetUserEncryptionCertificate(encryption);
        std::unique_ptr<CEntrustCertificate> pEncryption(MakeCertificate(m_pEntFile, encryption));
        {
            CCriticalSection::CGuard guard(m_csData);
            m_pSigningCert = pSigning.release();
            m_pEncryptionCert = pEncryption.release();
        }
        m_pEntFile->GetIssuerVerificationCertificate(issuer);
        std::unique_ptr<CEntrustCertificate> pIssuer(MakeCertificate(m_pEntFile, issuer));

        m_nIssuerIndex = kComparedAuthorities;
        std::string strThumbprint = pIssuer->GetThumbprint();
        for (int i = 0; i < kComparedAuthorities; ++i) {
            if (strThumbprint == CHiddenStrings::Fingerprint(i)) {
                m_nIssuerIndex = i;
                break;
            }
        }
        pIssuer.reset();

        if (login.bLogDetails) {
            LogInfo("Certificados de usuario:");
            LogInfo("DN=[%s] (%s)", LogEscape(m_pSigningCert->GetSubject()).c_str(),
                    AuthorityLabel(m_nIssuerIndex).c_str());
            LogInfo("Certificado de firma:");
            m_pSigningCert->LogDetails();
            LogInfo("Certificado de cifrado:");
            m_pEncryptionCert->LogDetails();
        }

        bool bSigning = m_pSigningCert->GetValidityStatus() == VALIDITY_RENEWAL;
        bool bEncryption = m_pEncryptionCert->GetValidityStatus() == VALIDITY_RENEWAL;
        if (bSigning && bEncryption) {
            LogInfo("Certificados de cifrado y firma en renovación");
            nResult = WARN_BOTH_CERTS_RENEWAL;
        } else if (bSigning) {
            LogInfo("Certificado de firma en renovación");
            nResult = WARN_SIGNING_CERT_RENEWAL;
        } else if (bEncryption) {
            LogInfo("Certificado de cifrado en renovación");
            nResult = WARN_ENCRYPTION_CERT_RENEWAL;
        }
        LogInfo(m_Profile.bOnline ? "Login online OK." : "Login offline OK.");
        SetProfileText(m_Profile.strProfilePath, m_pEntFile->GetProfilePath().str());

        short nDays = 0;
        short nCode = m_pEntFile->GetPolicyCertificateInformation(POLICY_INFO_DAYS_LEFT, nDays);
        if (nCode == 0) {
            LogInfo("Nº de dias de validez del certificado de políticas: %i", nDays);
        } else {
            const char* pszText = EntLogToString(nCode);
            LogInfo("%s", pszText != nullptr ? pszText : "");
            LogInfo("Certificado de políticas inválido");
        }
    } catch (CTarvoselException*) {
        DeleteMembers();
        m_nState = SESSION_CLOSED;
        throw;
    }
    m_nState = SESSION_OPEN;
    return nResult;
}

void CEntrustSession::Close()
{
    DeleteMembers();
    m_nState = SESSION_CLOSED;
}

std::string CEntrustSession::Password() const
{
    return CHiddenStrings::Unscramble(m_abPassword, sizeof(m_abPassword), m_bPasswordKey);
}

void CEntrustSession::Reopen()
{
    CS_EPFLOGIN login;
    login.strIniFile = m_Profile.strIniFile;
    login.strServer = m_Profile.strServer;
    login.strDirectoryProtocol = m_Profile.strDirectoryProtocol;
    login.strProfilePath = m_Profile.strProfilePath;
    login.strPassword = Password();
    login.bOnline = m_Profile.bOnline;
    login.bLogDetails = 0;
    CS_EPFREQUEST request;
    request.pLogin = &login;
    Close();
    try {
        Open(&request);
    } catch (CTarvoselException*) {
        Wipe(login.strPassword);
        throw;
    }
    Wipe(login.strPassword);
}

void CEntrustSession::GetSessionData(CS_SESSIONINFO* pInfo)
{
    if (pInfo == nullptr)
        return;
    CCriticalSection::CGuard guard(m_csData);
    pInfo->nType = SESSION_KIND_ENTRUST;
    pInfo->pDetails = &m_Profile;
    if (m_pEncryptionCert != nullptr) {
        pInfo->strName = m_pEncryptionCert->GetOwnerName();
        pInfo->strNIF = m_pEncryptionCert->GetOwnerId();
        pInfo->strIssuer = Upper(m_pEncryptionCert->GetIssuer());
    }
}

void CEntrustSession::GetCertificates(CCertificateArray& lstCertificates)
{
    CCriticalSection::CGuard guard(m_csData);
    lstCertificates.clear();
    if (m_pEncryptionCert != nullptr)
        lstCertificates.push_back(m_pEncryptionCert);
    if (m_pSigningCert != nullptr)
        lstCertificates.push_back(m_pSigningCert);
}

void CEntrustSession::CopyCertificates(CCertificateArray& lstCopies)
{
    CCriticalSection::CGuard guard(m_csData);
    CCertificateArray lstOwn;
    GetCertificates(lstOwn);
    CCertificateCopy::CopyList(lstOwn, lstCopies);
}

CPAB* CEntrustSession::CreateAddressBook()
{
    std::unique_ptr<CPAB> pBook(new CPAB());
    pBook->Bind(m_pEntFile);
    m_pAddressBook = pBook.release();
    return m_pAddressBook;
}

CCertStore* CEntrustSession::GetCertStore()
{
    if (m_pAddressBook == nullptr)
        CreateAddressBook();
    return m_pAddressBook;
}

void CEntrustSession::ChangePolicyCertificate(std::string strPath)
{
    std::string strTarget = PolicyCertificatePath(m_Profile.strProfilePath);
    if (!CopyFileA(strPath.c_str(), strTarget.c_str(), FALSE))
        throw new CTarvoselException(EXC_OWN, ERR_POLICY_CERT_COPY,
                                     "CEntrustSession::ChangePolicyCertificate");
    LogInfo("Se ha cambiado el certificado de políticas");
    Reopen();
}
