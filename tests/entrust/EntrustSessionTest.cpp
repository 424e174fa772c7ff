// The Entrust session: login and its initialisation file, renewal warnings,
// refusals, reopening, the policy certificate, session data.
#include "tests/entrust/EntrustSessionTestSupport.h"

#include "api/ResultCodes.h"
#include "cert/CCertificate.h"
#include "platform/entrust/EntDirectory.h"
#include "platform/entrust/EntFile.h"
#include "tests/entrust/DirectoryServer.h"
#include "tests/support/TestThreads.h"

namespace {
bool EndsWith(const std::string& str, const std::string& strEnd)
{
    return str.size() >= strEnd.size() && str.compare(str.size() - strEnd.size(), strEnd.size(), strEnd) == 0;
}
}  // namespace

// Without an initialisation file the session writes a temporary one with the
// directory server and protocol (or their defaults) and removes it after the
// login, also after a refused one.
TEST_F(EntrustSessionTest, TemporaryInitialisationFileHoldsTheTwoKeysAndGoes)
{
    std::string strProfile = Profile("user");
    const struct {
        const char* pszServer;
        const char* pszProtocol;
        const char* pszPassword;
        const char* pszExpectedServer;
        const char* pszExpectedProtocol;
    } aCases[] = {
        {"", "", epftest::kPassword, "<none>", "LDAPv3"},
        {"127.0.0.1:1", "X500", epftest::kPassword, "127.0.0.1:1", "X500"},
        {"", "", "mala", nullptr, nullptr},
    };
    for (const auto& c : aCases) {
        SCOPED_TRACE(c.pszServer);
        CS_EPFLOGIN login = Login(strProfile, 0, c.pszPassword);
        login.strServer = c.pszServer;
        login.strDirectoryProtocol = c.pszProtocol;
        int nResult = -1;
        std::unique_ptr<CEntrustSession> pSession = Open(login, nResult);
        EXPECT_TRUE(epftest::FilesIn(m_strTemp).empty());
        if (c.pszExpectedServer == nullptr) {
            EXPECT_EQ(nResult, ERR_WRONG_PASSWORD);
            continue;
        }
        ASSERT_EQ(nResult, 0);
        const EntFile* pFile = pSession->GetEntFile();
        ASSERT_NE(pFile, nullptr);
        EXPECT_EQ(pFile->GetIniFile().rfind(m_strTemp, 0), 0u) << pFile->GetIniFile();
        EXPECT_TRUE(EndsWith(pFile->GetIniFile(), ".tmp"));
        EXPECT_FALSE(tvltest::Exists(pFile->GetIniFile()));
        EXPECT_EQ(pFile->GetDirectoryServer(), c.pszExpectedServer);
        EXPECT_EQ(pFile->GetDirectoryProtocol(), c.pszExpectedProtocol);
    }
    // The protocol the file names, read while the login waits for the
    // directory (the toolkit's own default is "LDAPv3" too).
    {
        CDirectoryServer server;
        ASSERT_TRUE(server.IsRunning());
        std::vector<std::string> files;
        std::string strText;
        server.OnConnection([&] {
            files = epftest::FilesIn(m_strTemp);
            if (files.size() == 1)
                strText = tvltest::ReadAll(m_strTemp + files[0]);
        });
        CS_EPFLOGIN login = Login(strProfile, 1);
        login.strServer = server.Address();
        int nResult = -1;
        Open(login, nResult);
        server.OnConnection(nullptr);
        EXPECT_EQ(files.size(), 1u);
        EXPECT_NE(strText.find("DirectoryProtocol=LDAPv3"), std::string::npos) << strText;
        EXPECT_TRUE(epftest::FilesIn(m_strTemp).empty());
    }
    // A file of the caller's is used as it is and left in place.
    std::string strIni = epftest::WriteIni(m_strDir + "mine.ini", "<none>", "LDAP");
    CS_EPFLOGIN login = Login(strProfile);
    login.strIniFile = strIni;
    int nResult = -1;
    std::unique_ptr<CEntrustSession> pSession = Open(login, nResult);
    ASSERT_EQ(nResult, 0);
    EXPECT_EQ(pSession->GetEntFile()->GetIniFile(), strIni);
    EXPECT_EQ(pSession->GetEntFile()->GetDirectoryProtocol(), "LDAP");
    EXPECT_TRUE(tvltest::Exists(strIni));
}

// A certificate in its renewal period does not stop the login; the result tells which.
TEST_F(EntrustSessionTest, RenewalWarnings)
{
    const struct {
        const char* pszProfile;
        int nResult;
        const char* pszLine;
    } aCases[] = {
        {"user", 0, nullptr},
        {"renew-sign", WARN_SIGNING_CERT_RENEWAL, "Certificado de firma en renovaci\xF3n"},
        {"renew-enc", WARN_ENCRYPTION_CERT_RENEWAL, "Certificado de cifrado en renovaci\xF3n"},
        {"renew-both", WARN_BOTH_CERTS_RENEWAL, "Certificados de cifrado y firma en renovaci\xF3n"},
    };
    for (const auto& c : aCases) {
        SCOPED_TRACE(c.pszProfile);
        tvltest::LogCapture log("renewal");
        int nResult = -1;
        std::unique_ptr<CEntrustSession> pSession = Open(Login(Profile(c.pszProfile)), nResult);
        EXPECT_EQ(nResult, c.nResult);
        EXPECT_EQ(pSession->GetState(), SESSION_OPEN);
        if (c.pszLine != nullptr) {
            EXPECT_EQ(log.Count(c.pszLine), 1) << log.Text();
        }
        EXPECT_EQ(log.Count("en renovaci\xF3n"), c.pszLine != nullptr ? 1 : 0);
    }
}

// The log of a login with and without details.
TEST_F(EntrustSessionTest, LoginLogLines)
{
    std::string strProfile = Profile("renew-sign");
    {
        tvltest::LogCapture log("quiet");
        CS_EPFLOGIN login = Login(strProfile, 1);
        login.bLogDetails = 0;
        int nResult = -1;
        Open(login, nResult);
        ASSERT_EQ(nResult, WARN_SIGNING_CERT_RENEWAL);
        std::vector<std::string> expected = {
            "Warning: The directory did not answer: working offline",
            "Certificado de firma en renovaci\xF3n",
            "Login offline OK.",
            "N\xBA de dias de validez del certificado de pol\xEDticas: 30",
        };
        EXPECT_EQ(log.Lines(), expected);
    }
    tvltest::LogCapture log("details");
    int nResult = -1;
    std::unique_ptr<CEntrustSession> pSession = Open(Login(strProfile), nResult);
    std::vector<std::string> lines = log.Lines();
    ASSERT_GE(lines.size(), 16u);
    EXPECT_EQ(lines[0], "Ruta EPF: " + strProfile);
    EXPECT_EQ(lines[1].rfind("Fichero de inicializaci\xF3n: " + m_strTemp, 0), 0u);
    EXPECT_EQ(lines[2], "Certificados de usuario:");
    // The issuer is the embedded authority with index 2.
    EXPECT_EQ(lines[3], "DN=[CN=NOMBRE GARCIA LOPEZ JUAN - NIF 12345678Z, OU=PERSONAL, O=ORMAVIA, C=ES] "
                        "(prod - ca subordinada segunda generacion)");
    EXPECT_EQ(pSession->GetIssuerIndex(), 2);
    EXPECT_EQ(lines[4], "Certificado de firma:");
    EXPECT_EQ(lines[9], "Certificado de cifrado:");
    EXPECT_EQ(log.Count("N. serie: "), 2);
    EXPECT_EQ(log.Count("Login offline OK."), 1);
}

// Refusals of the profile or of the login reach the caller as the library's
// codes, leave the session closed and no temporary file.
TEST_F(EntrustSessionTest, RefusedLogins)
{
    std::string strUser = Profile("user");
    std::string strReadOnly = epftest::CopyProfile(m_strDir, "user", "readonly");
    SetFileAttributesA(strReadOnly.c_str(), FILE_ATTRIBUTE_READONLY);
    tvltest::WriteAll(m_strDir + "garbage.epf", std::string(3000, 'x'));
    const struct {
        const char* pszCase;
        std::string strProfile;
        std::string strPassword;
        std::string strIni;
        int nCode;
        int nKind;
    } aCases[] = {
        {"wrong password", strUser, "prueba1234", "", ERR_WRONG_PASSWORD, EXC_ENTRUST},
        {"password too long", strUser, std::string(256, 'a'), "", ERR_WRONG_PASSWORD, EXC_OWN},
        {"missing", m_strDir + "none.epf", epftest::kPassword, "", ERR_EPF_OPEN, EXC_OWN},
        {"empty path", "", epftest::kPassword, "", ERR_EPF_OPEN, EXC_OWN},
        {"garbage", m_strDir + "garbage.epf", epftest::kPassword, "", ERR_EPF_OPEN, EXC_ENTRUST},
        {"read-only", strReadOnly, epftest::kPassword, "", ERR_EPF_READ_ONLY, EXC_ENTRUST},
        {"expired", Profile("expired"), epftest::kPassword, "", ERR_CERT_EXPIRED, EXC_ENTRUST},
        {"no ini", strUser, epftest::kPassword, m_strDir + "none.ini", ERR_INI_FILE, EXC_ENTRUST},
    };
    for (const auto& c : aCases) {
        SCOPED_TRACE(c.pszCase);
        CS_EPFLOGIN login = Login(c.strProfile, 0, c.strPassword);
        login.strIniFile = c.strIni;
        int nResult = 0;
        std::unique_ptr<CEntrustSession> pSession = Open(login, nResult);
        EXPECT_EQ(nResult, c.nCode);
        EXPECT_EQ(m_lastFailure.nKind, c.nKind);
        EXPECT_EQ(m_lastFailure.strContext, "CEntrustSession::Login");
        EXPECT_EQ(pSession->GetState(), SESSION_CLOSED);
        EXPECT_EQ(pSession->GetEntFile(), nullptr);
        CCertificateArray certs;
        pSession->GetCertificates(certs);
        EXPECT_TRUE(certs.empty());
        EXPECT_TRUE(epftest::FilesIn(m_strTemp).empty());
    }
}

// Online logins check revocation with the directory; reopening logs in online
// exactly when the first login reached the directory.
TEST_F(EntrustSessionTest, OnlineLoginsAndReopening)
{
    CDirectoryServer server;
    ASSERT_TRUE(server.IsRunning());
    std::string strUser = Profile("user");
    {
        std::unique_ptr<CEntrustSession> p = OpenOk(strUser);
        EntCertificate issuer;
        p->GetEntFile()->GetIssuerVerificationCertificate(issuer);
        server.Publish(EntDirectory::LdapName(*issuer.X509()), epftest::FixtureBytes("issuer.crl"));
    }
    CS_EPFLOGIN login = Login(Profile("revoked"), 1);
    login.strServer = server.Address();
    int nResult = 0;
    Open(login, nResult);
    EXPECT_EQ(nResult, ERR_CERT_REVOKED);

    for (int bOnline : {1, 0}) {
        SCOPED_TRACE(bOnline);
        login = Login(strUser, bOnline);
        login.strServer = server.Address();
        std::unique_ptr<CEntrustSession> pSession = Open(login, nResult);
        ASSERT_EQ(nResult, 0);
        CS_SESSIONINFO info;
        pSession->GetSessionData(&info);
        const CS_EPFPROFILE* pProfile = static_cast<const CS_EPFPROFILE*>(info.pDetails);
        EXPECT_EQ(pProfile->bOnline, bOnline);
        int nConnections = server.Connections();
        pSession->Invalidate();
        EXPECT_EQ(pSession->GetState(), SESSION_OPEN | SESSION_INVALID);
        ASSERT_EQ(tvltest::ResultOf([&] { pSession->Reopen(); }), 0);
        EXPECT_EQ(pSession->GetState(), SESSION_OPEN);
        EXPECT_EQ(pProfile->bOnline, bOnline);
        EXPECT_EQ(server.Connections() - nConnections, bOnline);
        EXPECT_TRUE(epftest::FilesIn(m_strTemp).empty());
    }
}

TEST_F(EntrustSessionTest, SessionDataAndCertificates)
{
    std::string strProfile = Profile("user");
    std::unique_ptr<CEntrustSession> pSession = OpenOk(strProfile);
    pSession->GetSessionData(nullptr);
    CS_SESSIONINFO info;
    pSession->GetSessionData(&info);
    EXPECT_EQ(info.nType, SESSION_KIND_ENTRUST);
    EXPECT_EQ(info.strName, "GARCIA LOPEZ JUAN");
    EXPECT_EQ(info.strNIF, "12345678Z");
    EXPECT_EQ(info.strIssuer,
              "CN=ORMAVIA CA SUBORDINADA PRODUCCION G2, OU=SERVICIOS DE CERTIFICACION, O=ORMAVIA, C=ES");
    const CS_EPFPROFILE* pProfile = static_cast<const CS_EPFPROFILE*>(info.pDetails);
    ASSERT_NE(pProfile, nullptr);
    EXPECT_EQ(_stricmp(pProfile->strProfilePath.c_str(), strProfile.c_str()), 0);
    EXPECT_EQ(pProfile->bOnline, 0);

    CCertificateArray certs = {nullptr};
    pSession->GetCertificates(certs);
    ASSERT_EQ(certs.size(), 2u);
    EXPECT_EQ(certs[0]->GetKeyUsage(), KU_KEY_ENCIPHERMENT | KU_DATA_ENCIPHERMENT);
    EXPECT_EQ(certs[1]->GetKeyUsage(), KU_DIGITAL_SIGNATURE | KU_NON_REPUDIATION);
    // The second-form signing calls do nothing.
    EXPECT_EQ(tvltest::ResultOf([&] {
                  pSession->SignFileC2("none", "none", "x");
                  pSession->SignFileC2BANER("none", "none", "x");
              }),
              0);
    pSession->Close();
    EXPECT_EQ(pSession->GetState(), SESSION_CLOSED);
    pSession->GetCertificates(certs);
    EXPECT_TRUE(certs.empty());
}

// A new policy certificate goes beside the profile under its name; the session
// logs in again and reports its days.
TEST_F(EntrustSessionTest, ChangePolicyCertificate)
{
    std::string strProfile = Profile("user", false);
    std::unique_ptr<CEntrustSession> pSession = OpenOk(strProfile);
    tvltest::LogCapture log("policy");
    ASSERT_EQ(tvltest::ResultOf([&] { pSession->ChangePolicyCertificate(epftest::Fixture("user.pch")); }), 0);
    EXPECT_EQ(tvltest::ReadBytes(m_strDir + "user.pch"), epftest::FixtureBytes("user.pch"));
    EXPECT_EQ(pSession->GetState(), SESSION_OPEN);
    EXPECT_EQ(log.Count("Se ha cambiado el certificado de pol\xEDticas"), 1);
    EXPECT_EQ(log.Count("de validez del certificado de pol\xEDticas: 30"), 1);

    // A copy that fails changes nothing.
    tvltest::CaughtFailure r = tvltest::Capture([&] { pSession->ChangePolicyCertificate(m_strDir + "none.pch"); });
    EXPECT_EQ(r.nCode, ERR_POLICY_CERT_COPY);
    EXPECT_EQ(r.strContext, "CEntrustSession::ChangePolicyCertificate");
    EXPECT_EQ(pSession->GetState(), SESSION_OPEN);
    EXPECT_EQ(tvltest::ReadBytes(m_strDir + "user.pch"), epftest::FixtureBytes("user.pch"));

    // The profile's extension is replaced, or ".pch" added when it has none.
    EXPECT_EQ(CEntrustSession::PolicyCertificatePath("C:\\p.d\\user.epf"), "C:\\p.d\\user.pch");
    EXPECT_EQ(CEntrustSession::PolicyCertificatePath("C:\\p.d\\user"), "C:\\p.d\\user.pch");
    CopyFileA(epftest::Fixture("user.epf").c_str(), (m_strDir + "plain").c_str(), FALSE);
    pSession = OpenOk(m_strDir + "plain");
    ASSERT_EQ(tvltest::ResultOf([&] { pSession->ChangePolicyCertificate(epftest::Fixture("user.pch")); }), 0);
    EXPECT_TRUE(tvltest::Exists(m_strDir + "plain.pch"));
}

// The interface thread reads the session's data and copies its certificates
// while the host's thread reopens the session: it sees the user or, between
// the close and the login, nobody; never a certificate being deleted. The
// profile block it holds the address of keeps its texts.
TEST_F(EntrustSessionTest, DataAndCopiesWhileTheSessionReopens)
{
    std::string strProfile = Profile("user");
    std::unique_ptr<CEntrustSession> pSession = OpenOk(strProfile);
    CS_SESSIONINFO first;
    pSession->GetSessionData(&first);
    const CS_EPFPROFILE* pProfile = static_cast<const CS_EPFPROFILE*>(first.pDetails);
    const char* pszPath = pProfile->strProfilePath.c_str();

    volatile LONG bStop = 0;
    int nReads = 0, nUser = 0, nBad = 0;
    {
        tvltest::TestThread reader([&] {
            while (!bStop) {
                CS_SESSIONINFO info;
                pSession->GetSessionData(&info);
                CCertificateArray copies;
                pSession->CopyCertificates(copies);
                ++nReads;
                bool bUser = info.strName == "GARCIA LOPEZ JUAN" && info.strNIF == "12345678Z";
                bool bNobody = info.strName.empty() && info.strNIF.empty();
                nUser += bUser ? 1 : 0;
                if (!bUser && !bNobody)
                    ++nBad;
                if (!copies.empty() && (copies.size() != 2 ||
                                        copies[0]->GetOwnerName() != "GARCIA LOPEZ JUAN" ||
                                        copies[1]->GetOwnerId() != "12345678Z"))
                    ++nBad;
                for (CCertificate* p : copies)
                    delete p;
            }
        });
        ASSERT_TRUE(reader.Started());
        for (int i = 0; i < 15; ++i) {
            pSession->Invalidate();
            EXPECT_EQ(tvltest::ResultOf([&] { pSession->Reopen(); }), 0);
        }
        bStop = 1;
        EXPECT_TRUE(reader.Join(10000));
    }
    EXPECT_EQ(nBad, 0);
    EXPECT_GT(nUser, 0);
    EXPECT_GT(nReads, 15);
    EXPECT_EQ(pProfile->strProfilePath.c_str(), pszPath);
    EXPECT_EQ(_stricmp(pszPath, strProfile.c_str()), 0);
}
