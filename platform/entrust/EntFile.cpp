#include "platform/entrust/EntFile.h"

#include <string.h>
#include <time.h>

#include "platform/entrust/EntDirectory.h"
#include "platform/entrust/EntFileIo.h"
#include "platform/entrust/EntProfile.h"
#include "platform/pkcs12/CCryptoPrimitives.h"

namespace {
// The extended key usage that makes a certificate of the issuer a policy certificate.
const char kPolicyUsage[] = POLICY_CERTIFICATE_USAGE;

bool IsFile(const std::string& strPath)
{
    DWORD dwAttributes = GetFileAttributesA(strPath.c_str());
    return dwAttributes != INVALID_FILE_ATTRIBUTES && !(dwAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string IniText(const char* pszIni, const char* pszSection, const char* pszKey,
                    const char* pszDefault)
{
    char szValue[512] = "";
    GetPrivateProfileStringA(pszSection, pszKey, pszDefault, szValue, sizeof(szValue), pszIni);
    return szValue;
}

}  // namespace

EntFile::EntFile(const char* pszProfile, const char* pszPassword, const char* pszIniFile,
                 int bOffline)
    : m_nConstructorError(ENT_ERR_NOT_LOGGED_IN), m_bOnline(0)
{
    m_nConstructorError = Login(pszProfile, pszPassword, pszIniFile, bOffline);
    if (m_nConstructorError < 0) {
        m_pProfile.reset();
        m_hProfile.reset();
        m_bOnline = 0;
    }
}

EntFile::~EntFile()
{
    if (!m_passwordHash.empty())
        SecureZeroMemory(m_passwordHash.data(), m_passwordHash.size());
}

std::string EntFile::SiblingPath(const std::string& strProfile, const char* pszExtension)
{
    // The extension of the file name, not a dot in a folder name, is replaced.
    size_t nName = strProfile.find_last_of("\\/:");
    size_t nDot = strProfile.find_last_of('.');
    std::string strBase = strProfile;
    if (nDot != std::string::npos && (nName == std::string::npos || nDot > nName))
        strBase = strProfile.substr(0, nDot);
    return strBase + pszExtension;
}

std::wstring EntFile::WidePassword(const char* pszPassword) const
{
    std::wstring strWide;
    int nLength = pszPassword != nullptr ? static_cast<int>(strlen(pszPassword)) : 0;
    if (nLength == 0)
        return strWide;
    strWide.resize(nLength);
    int n = MultiByteToWideChar(1252, 0, pszPassword, nLength, &strWide[0], nLength);
    strWide.resize(n > 0 ? n : 0);
    return strWide;
}

short EntFile::OpenProfileFile(const std::string& strPath)
{
    if (!IsFile(strPath))
        return ENT_ERR_PROFILE_OPEN;
    // Told before opening: a privileged user could open it for writing anyway.
    if (GetFileAttributesA(strPath.c_str()) & FILE_ATTRIBUTE_READONLY)
        return ENT_ERR_READ_ONLY;
    // Write access keeps other programs from changing the profile under us.
    m_hProfile = OwnFile(CreateFileA(strPath.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (m_hProfile)
        return ENT_OK;
    DWORD dwError = GetLastError();
    if (dwError == ERROR_ACCESS_DENIED &&
        OwnFile(CreateFileA(strPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)))
        return ENT_ERR_READ_ONLY;
    // Missing, in use by another process (sharing violation), unreadable.
    return ENT_ERR_PROFILE_OPEN;
}

short EntFile::Login(const char* pszProfile, const char* pszPassword, const char* pszIniFile,
                     int bOffline)
{
    if (pszIniFile == nullptr || !IsFile(pszIniFile))
        return ENT_ERR_INI_FILE;
    if (!OwnFile(CreateFileA(pszIniFile, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)))
        return ENT_ERR_INI_FILE;
    m_strIniFile = pszIniFile;
    m_strServer = IniText(pszIniFile, "Entrust Settings", "server", "");
    m_strProtocol = IniText(pszIniFile, "Directory Connection Settings", "DirectoryProtocol", "LDAPv3");

    if (pszProfile == nullptr || *pszProfile == '\0')
        return ENT_ERR_PROFILE_OPEN;
    char szFull[MAX_PATH];
    DWORD n = GetFullPathNameA(pszProfile, MAX_PATH, szFull, nullptr);
    m_strProfilePath = n > 0 && n < MAX_PATH ? szFull : pszProfile;
    short nCode = OpenProfileFile(m_strProfilePath);
    if (nCode != ENT_OK)
        return nCode;
    std::vector<uint8_t> data;
    switch (EntFileIo::ReadWhole(m_hProfile.get(), EntProfile::MAX_SIZE, data)) {
    case EntFileIo::IO_OK: break;
    case EntFileIo::IO_TOO_BIG: return ENT_ERR_PROFILE_FORMAT;
    default: return ENT_ERR_PROFILE_OPEN;
    }

    CCryptoPrimitives crypto;
    if (!crypto.IsReady())
        return ENT_ERR_NO_MEMORY;
    std::wstring strPassword = WidePassword(pszPassword);
    std::unique_ptr<EntProfile> pProfile(new EntProfile());
    nCode = pProfile->Load(data.data(), data.size(), strPassword, crypto);
    if (!strPassword.empty())
        SecureZeroMemory(&strPassword[0], strPassword.size() * sizeof(wchar_t));
    if (nCode != ENT_OK)
        return nCode;

    EntTime tNow = time(nullptr);
    for (const EntProfile::CKeyPair* pPair : pProfile->Pairs()) {
        if (pPair->pCert->NotAfter() < tNow)
            return ENT_ERR_CERT_EXPIRED;
    }
    // What export calls check the profile password against.
    m_passwordSalt.resize(16);
    std::vector<uint8_t> salted;
    if (!crypto.Random(m_passwordSalt.data(), m_passwordSalt.size()))
        return ENT_ERR_NO_MEMORY;
    salted = m_passwordSalt;
    if (pszPassword != nullptr)
        salted.insert(salted.end(), pszPassword, pszPassword + strlen(pszPassword));
    bool bHashed = crypto.Hash(CCryptoPrimitives::HASH_SHA256, salted.data(), salted.size(),
                               m_passwordHash);
    WipeBytes(salted);
    if (!bHashed)
        return ENT_ERR_NO_MEMORY;
    m_pProfile = std::move(pProfile);

    if (bOffline)
        return ENT_OK;
    return CheckOnline(m_strServer, m_strProtocol);
}

short EntFile::CheckOnline(const std::string& strServer, const std::string& strProtocol)
{
    if (strServer.empty() || strServer == "<none>" ||
        (_stricmp(strProtocol.c_str(), "LDAPv3") != 0 && _stricmp(strProtocol.c_str(), "LDAP") != 0))
        return ENT_WARN_DIRECTORY_UNAVAILABLE;
    if (!m_pProfile->Issuer())
        return ENT_WARN_REVOCATION_UNKNOWN;
    std::vector<const EntX509*> certs;
    for (const EntProfile::CKeyPair* pPair : m_pProfile->Pairs())
        certs.push_back(pPair->pCert.get());
    bool bRevoked = false;
    EntDirectory directory(strServer);
    switch (directory.CheckRevocation(*m_pProfile->Issuer(), certs, bRevoked)) {
    case EntDirectory::DIRECTORY_UNAVAILABLE:
        return ENT_WARN_DIRECTORY_UNAVAILABLE;
    case EntDirectory::DIRECTORY_NO_LIST:
        m_bOnline = 1;
        return ENT_WARN_REVOCATION_UNKNOWN;
    case EntDirectory::DIRECTORY_OK:
        m_bOnline = 1;
        return bRevoked ? ENT_ERR_CERT_REVOKED : ENT_OK;
    }
    return ENT_OK;
}

bool EntFile::IsProfilePassword(const char* pszPassword) const
{
    if (!m_pProfile || m_passwordHash.empty())
        return false;
    std::vector<uint8_t> salted = m_passwordSalt, hash;
    if (pszPassword != nullptr)
        salted.insert(salted.end(), pszPassword, pszPassword + strlen(pszPassword));
    CCryptoPrimitives crypto;
    bool bHashed = crypto.Hash(CCryptoPrimitives::HASH_SHA256, salted.data(), salted.size(), hash);
    WipeBytes(salted);
    return bHashed && hash == m_passwordHash;
}

short EntFile::GetUserVerificationCertificate(EntCertificate& cert)
{
    if (!m_pProfile)
        return ENT_ERR_NOT_LOGGED_IN;
    cert = EntCertificate(this, m_pProfile->Signing()->pCert);
    return ENT_OK;
}

short EntFile::GetUserEncryptionCertificate(EntCertificate& cert)
{
    if (!m_pProfile)
        return ENT_ERR_NOT_LOGGED_IN;
    cert = EntCertificate(this, m_pProfile->Encryption()->pCert);
    return ENT_OK;
}

short EntFile::GetIssuerVerificationCertificate(EntCertificate& cert)
{
    if (!m_pProfile)
        return ENT_ERR_NOT_LOGGED_IN;
    if (!m_pProfile->Issuer())
        return ENT_ERR_NO_CERTIFICATE;
    cert = EntCertificate(this, m_pProfile->Issuer());
    return ENT_OK;
}

short EntFile::CheckPolicy(EntTime& tEnd)
{
    tEnd = 0;
    if (!m_pProfile)
        return ENT_ERR_NOT_LOGGED_IN;
    std::vector<uint8_t> data;
    switch (EntFileIo::ReadWhole(SiblingPath(m_strProfilePath, ".pch"), 64 * 1024, data)) {
    case EntFileIo::IO_OK: break;
    case EntFileIo::IO_TOO_BIG: return ENT_ERR_POLICY_INVALID;
    default: return ENT_ERR_POLICY_MISSING;
    }
    // A certificate for this use that the profile's issuer signed.
    std::shared_ptr<const EntX509> pPolicy = EntX509::Parse(data.data(), data.size());
    const std::shared_ptr<const EntX509>& pIssuer = m_pProfile->Issuer();
    CCryptoPrimitives crypto;
    CCryptoPrimitives::EHash eHash;
    if (!pPolicy || !pIssuer || !pPolicy->IsIssuedBy(*pIssuer) ||
        !pPolicy->HasExtendedKeyUsage(kPolicyUsage) ||
        !CCryptoPrimitives::HashOfOid(pPolicy->SignatureDigestOid(), eHash) ||
        !crypto.RsaVerify(pIssuer->Modulus(), pIssuer->PublicExponent(), eHash,
                          pPolicy->Tbs().data(), pPolicy->Tbs().size(), pPolicy->Signature()))
        return ENT_ERR_POLICY_INVALID;
    EntTime tNow = time(nullptr);
    if (pPolicy->NotBefore() > tNow)
        return ENT_ERR_POLICY_INVALID;
    if (pPolicy->NotAfter() < tNow)
        return ENT_ERR_POLICY_EXPIRED;
    tEnd = pPolicy->NotAfter();
    return ENT_OK;
}

short EntFile::GetPolicyCertificateInformation(int nInfo, short& nDays)
{
    nDays = 0;
    if (nInfo != POLICY_INFO_DAYS_LEFT)
        return ENT_ERR_INVALID_ARGUMENT;
    EntTime tEnd = 0;
    short nCode = CheckPolicy(tEnd);
    if (nCode != ENT_OK)
        return nCode;
    EntTime nLeft = (tEnd - time(nullptr)) / 86400;
    nDays = static_cast<short>(nLeft > 32767 ? 32767 : nLeft);
    return ENT_OK;
}

short EntFile::CacheOperation(int nOperation, int nValue)
{
    if (!m_pProfile)
        return ENT_ERR_NOT_LOGGED_IN;
    return nOperation == 1 ? ENT_OK : ENT_ERR_INVALID_ARGUMENT;
}
