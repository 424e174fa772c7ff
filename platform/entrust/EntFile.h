#pragma once
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/entrust/EntCertificate.h"
#include "platform/entrust/EntCertificateList.h"
#include "platform/entrust/EntrustNameList.h"
#include "platform/entrust/EntrustToolkit.h"
#include "platform/entrust/GString.h"
#include "platform/framework/Win32Handles.h"

class EntProfile;

// An open profile: the user's keys and certificates, the policy certificate
// and the address book beside the profile, and the directory of an online
// login. Files beside "<folder>\<name>.epf": "<name>.pch" (policy certificate,
// see POLICY_CERTIFICATE_USAGE) and "<name>.pab" (address book).
//
// The constructor logs in; GetConstructorError tells how it went (a warning
// leaves the profile open). While the object lives the profile file stays open
// for reading and writing and others may only read it.
class EntFile {
public:
    // pszIniFile: the initialisation file ("Entrust Settings" key "server" names
    // the directory, "<none>" or empty for none; "Directory Connection Settings"
    // key "DirectoryProtocol", LDAPv3). bOffline: never touch the network.
    EntFile(const char* pszProfile, const char* pszPassword, const char* pszIniFile, int bOffline);
    ~EntFile();

    short GetConstructorError() const { return m_nConstructorError; }
    // Non-zero when the login reached the directory.
    int QueryConnectStatus() const { return m_bOnline; }

    short GetUserVerificationCertificate(EntCertificate& cert);
    short GetUserEncryptionCertificate(EntCertificate& cert);
    short GetIssuerVerificationCertificate(EntCertificate& cert);
    // The profile's full path.
    GString GetProfilePath() const { return GString(m_strProfilePath); }
    // nInfo POLICY_INFO_DAYS_LEFT: whole days until the policy certificate ends.
    short GetPolicyCertificateInformation(int nInfo, short& nDays);

    // Signs the input into the output (see PROTECT_OPTIONS). Both name lists
    // must be empty: this toolkit does not encrypt for recipients.
    short FileProtect(const PROTECT_OPTIONS& options, EntrustNameList& recipients,
                      EntrustNameList& readers, const char* pszInput, const char* pszOutput);
    // Writes the user's certificates (encryption first) as PEM text, the file
    // others import into their address books; strText receives the entry name.
    short ExportMyCertificate(const char* pszPath, GString& strText);
    // Operation 1: key cache; the keys stay in memory while the profile is open,
    // so the call only confirms it.
    short CacheOperation(int nOperation, int nValue);
    // The user's certificates that have their private key here, signing first.
    short GetPKCS12ExportableCertificates(EntCertificateList& list);
    // A PKCS#12 file of the listed certificates with their keys, under the
    // export password; nIterations for its key derivations. Needs the profile
    // password and a valid policy certificate (else ENT_ERR_EXPORT_POLICY).
    short ExportCertificateListPKCS12(const char* pszProfilePassword, const char* pszFile,
                                      const char* pszExportPassword, EntCertificateList& list,
                                      int nIterations);

    // Address book. CreatePAB makes an empty one when none exists.
    short CreatePAB(void* pReserved);
    // 0 when the profile has an address book.
    short HavePAB();
    // nLocation 1: the address book; nDepth 2: every entry. A non-empty
    // pszCommonName keeps the entries whose "cn" contains it (any letter case).
    short DirectorySearch(const char* pszCommonName, const char* pszReserved1,
                          const char* pszReserved2, EntrustNameList& names, int nLocation,
                          int nDepth);
    // Adds (or replaces) the entry of the certificates in a DER or PEM file.
    short ImportCertificate(const char* pszPath, EntrustName& name);
    short DeleteAddressFromPAB(const char* pszUniqueName);

    // Paths beside the profile.
    static std::string SiblingPath(const std::string& strProfile, const char* pszExtension);
    // What the login read from the initialisation file.
    const std::string& GetIniFile() const { return m_strIniFile; }
    const std::string& GetDirectoryServer() const { return m_strServer; }
    const std::string& GetDirectoryProtocol() const { return m_strProtocol; }

private:
    EntFile(const EntFile&) = delete;
    EntFile& operator=(const EntFile&) = delete;

    short Login(const char* pszProfile, const char* pszPassword, const char* pszIniFile,
                int bOffline);
    short OpenProfileFile(const std::string& strPath);
    short CheckOnline(const std::string& strServer, const std::string& strProtocol);
    // The policy certificate's end of validity, or a failure code.
    short CheckPolicy(EntTime& tEnd);
    bool IsProfilePassword(const char* pszPassword) const;
    std::wstring WidePassword(const char* pszPassword) const;

    std::string m_strProfilePath;
    std::string m_strIniFile;
    std::string m_strServer;
    std::string m_strProtocol;
    short m_nConstructorError;
    int m_bOnline;
    CHandlePtr m_hProfile;
    std::unique_ptr<EntProfile> m_pProfile;
    std::vector<uint8_t> m_passwordSalt;
    std::vector<uint8_t> m_passwordHash;
};
