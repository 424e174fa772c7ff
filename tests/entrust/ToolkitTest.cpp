// The profile toolkit on its own: opening profiles (and refusing bad ones),
// online and offline logins against a directory of the test, the policy
// certificate, signing, exports and the address book.
#include <gtest/gtest.h>

#include <windows.h>

#include <functional>
#include <memory>

#include "cert/pkcs7/CPkcs7Reader.h"
#include "cert/wincrypt/CAPIWincrypt.h"
#include "cert/wincrypt/CWincryptPkcs7Crypto.h"
#include "platform/entrust/EntDirectory.h"
#include "platform/entrust/EntFile.h"
#include "platform/pkcs12/CPkcs12Reader.h"
#include "platform/pkcs12/CRsaPrivateKey.h"
#include "tests/entrust/DirectoryServer.h"
#include "tests/entrust/EntrustTestSupport.h"
#include "tests/support/TestWait.h"

using epftest::kPassword;

namespace {
class ToolkitTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_strDir = tvltest::MakeScratchFolder(::testing::UnitTest::GetInstance()->current_test_info()->name());
        m_strIni = epftest::WriteIni(m_strDir + "offline.ini", "<none>");
    }
    void TearDown() override
    {
        for (const std::string& strName : epftest::FilesIn(m_strDir))
            SetFileAttributesA((m_strDir + strName).c_str(), FILE_ATTRIBUTE_NORMAL);
        tvltest::RemoveFolder(m_strDir);
    }
    std::string Profile(const char* pszName, bool bPolicy = true)
    {
        return epftest::CopyProfile(m_strDir, pszName, std::string(), bPolicy);
    }
    std::unique_ptr<EntFile> Open(const std::string& strProfile, const char* pszPassword = kPassword,
                                  int bOffline = 1, const std::string& strIni = std::string())
    {
        return std::unique_ptr<EntFile>(new EntFile(strProfile.c_str(), pszPassword,
                                                    (strIni.empty() ? m_strIni : strIni).c_str(), bOffline));
    }
    static std::shared_ptr<const EntX509> Issuer(EntFile& file)
    {
        EntCertificate cert;
        file.GetIssuerVerificationCertificate(cert);
        return cert.X509();
    }

    std::string m_strDir, m_strIni;
};

// A process of its own holds the file open, sharing nothing, until the object goes.
class CLockingProcess {
public:
    explicit CLockingProcess(const std::string& strPath)
    {
        std::string strName = "tvl-epf-lock-" + std::to_string(GetCurrentProcessId());
        m_hReady = CreateEventA(nullptr, TRUE, FALSE, (strName + "-ready").c_str());
        m_hDone = CreateEventA(nullptr, TRUE, FALSE, (strName + "-done").c_str());
        std::string strCommand = "\"" + tvltest::ExeFolder() + "..\\epfcli.exe\" lock \"" + strPath +
                                 "\" " + strName;
        STARTUPINFOA si = {};
        si.cb = sizeof(si);
        m_bStarted = CreateProcessA(nullptr, &strCommand[0], nullptr, nullptr, FALSE, 0, nullptr,
                                    nullptr, &si, &m_pi) &&
                     WaitForSingleObject(m_hReady, 20000) == WAIT_OBJECT_0;
    }
    ~CLockingProcess()
    {
        SetEvent(m_hDone);
        if (m_pi.hProcess != nullptr) {
            WaitForSingleObject(m_pi.hProcess, 10000);
            CloseHandle(m_pi.hProcess);
            CloseHandle(m_pi.hThread);
        }
        CloseHandle(m_hReady);
        CloseHandle(m_hDone);
    }
    bool IsLocked() const { return m_bStarted; }

private:
    HANDLE m_hReady, m_hDone;
    PROCESS_INFORMATION m_pi = {};
    bool m_bStarted = false;
};
}  // namespace

// Every way a profile can be unusable gives its code at once, leaves the
// profile as it was and adds no file beside it.
TEST_F(ToolkitTest, BadProfilesGiveTheirCodesAndTouchNothing)
{
    std::vector<BYTE> good = epftest::FixtureBytes("user.epf");
    ASSERT_FALSE(good.empty());
    enum EPrep { PREP_NONE, PREP_READ_ONLY, PREP_LOCKED, PREP_HUGE };
    const struct {
        const char* pszName;
        std::string strData;
        const char* pszPassword;
        EPrep ePrep;
        short nCode;
    } aCases[] = {
        {"garbage", std::string(5000, '\x5A'), kPassword, PREP_NONE, ENT_ERR_PROFILE_FORMAT},
        {"empty", std::string(), kPassword, PREP_NONE, ENT_ERR_PROFILE_FORMAT},
        {"truncated", std::string(good.begin(), good.begin() + good.size() / 2), kPassword, PREP_NONE,
         ENT_ERR_PROFILE_FORMAT},
        {"certificate", tvltest::ReadAll(epftest::Fixture("user-sign.der")), kPassword, PREP_NONE,
         ENT_ERR_PROFILE_FORMAT},
        {"wrong-password", std::string(good.begin(), good.end()), "prueba1234", PREP_NONE,
         ENT_ERR_BAD_PASSWORD},
        {"read-only", std::string(good.begin(), good.end()), kPassword, PREP_READ_ONLY, ENT_ERR_READ_ONLY},
        {"locked", std::string(good.begin(), good.end()), kPassword, PREP_LOCKED, ENT_ERR_PROFILE_OPEN},
        {"huge", std::string(good.begin(), good.end()), kPassword, PREP_HUGE, ENT_ERR_PROFILE_FORMAT},
        {"expired", tvltest::ReadAll(epftest::Fixture("expired.epf")), kPassword, PREP_NONE,
         ENT_ERR_CERT_EXPIRED},
        // The password does not protect these: refused even with the right one.
        {"no-mac", tvltest::ReadAll(epftest::Fixture("nomac.epf")), kPassword, PREP_NONE,
         ENT_ERR_PROFILE_FORMAT},
        {"no-mac-other-password", tvltest::ReadAll(epftest::Fixture("nomac.epf")), "otra", PREP_NONE,
         ENT_ERR_PROFILE_FORMAT},
        {"plain-key", tvltest::ReadAll(epftest::Fixture("plainkey.epf")), kPassword, PREP_NONE,
         ENT_ERR_PROFILE_FORMAT},
    };
    for (const auto& c : aCases) {
        SCOPED_TRACE(c.pszName);
        std::string strPath = m_strDir + c.pszName + ".epf";
        ASSERT_TRUE(tvltest::WriteAll(strPath, c.strData));
        if (c.ePrep == PREP_HUGE) {
            HANDLE h = CreateFileA(strPath.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
            LARGE_INTEGER size;
            size.QuadPart = 256LL * 1024 * 1024;
            ASSERT_TRUE(SetFilePointerEx(h, size, nullptr, FILE_BEGIN) && SetEndOfFile(h));
            CloseHandle(h);
        }
        if (c.ePrep == PREP_READ_ONLY)
            SetFileAttributesA(strPath.c_str(), FILE_ATTRIBUTE_READONLY);
        std::vector<std::string> before = epftest::FilesIn(m_strDir);
        epftest::FileState state = epftest::FileState::Of(strPath);
        std::unique_ptr<CLockingProcess> pLock;
        if (c.ePrep == PREP_LOCKED) {
            pLock.reset(new CLockingProcess(strPath));
            ASSERT_TRUE(pLock->IsLocked());
        }
        std::unique_ptr<EntFile> pFile = Open(strPath, c.pszPassword);
        EXPECT_EQ(pFile->GetConstructorError(), c.nCode);
        // A refused profile answers nothing.
        EntCertificate cert;
        EXPECT_EQ(pFile->GetUserVerificationCertificate(cert), ENT_ERR_NOT_LOGGED_IN);
        pFile.reset();
        pLock.reset();
        EXPECT_TRUE(epftest::FileState::Of(strPath) == state);
        EXPECT_EQ(epftest::FilesIn(m_strDir), before);
        SetFileAttributesA(strPath.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(strPath.c_str());
    }
    // A missing profile, a folder and a missing initialisation file.
    EXPECT_EQ(Open(m_strDir + "missing.epf")->GetConstructorError(), ENT_ERR_PROFILE_OPEN);
    EXPECT_EQ(Open(m_strDir)->GetConstructorError(), ENT_ERR_PROFILE_OPEN);
    EXPECT_EQ(Open(Profile("user"), kPassword, 1, m_strDir + "none.ini")->GetConstructorError(),
              ENT_ERR_INI_FILE);
}

// While a profile is open others may read it but not change it.
TEST_F(ToolkitTest, AnOpenProfileIsLockedAgainstWriters)
{
    std::string strPath = Profile("user");
    std::unique_ptr<EntFile> pFile = Open(strPath);
    ASSERT_EQ(pFile->GetConstructorError(), ENT_OK);
    EXPECT_EQ(Open(strPath)->GetConstructorError(), ENT_ERR_PROFILE_OPEN);
    EXPECT_FALSE(tvltest::ReadAll(strPath).empty());
    pFile.reset();
    EXPECT_EQ(Open(strPath)->GetConstructorError(), ENT_OK);
}

// Roles from friendly names, from key usage, and one key pair for both.
TEST_F(ToolkitTest, ProfilesGiveTheirRolesAndIssuer)
{
    const struct {
        const char* pszProfile;
        const char* pszSigning;
        const char* pszEncryption;
    } aCases[] = {
        {"user", "user-sign.der", "user-enc.der"},
        {"single", "single-cert.der", "single-cert.der"},
        {"legacy", "single-cert.der", "single-cert.der"},
        {"signonly", "signonly-cert.der", "signonly-cert.der"},
    };
    for (const auto& c : aCases) {
        SCOPED_TRACE(c.pszProfile);
        std::string strPath = Profile(c.pszProfile);
        std::unique_ptr<EntFile> pFile = Open(strPath);
        ASSERT_EQ(pFile->GetConstructorError(), ENT_OK);
        EntCertificate signing, encryption;
        ASSERT_EQ(pFile->GetUserVerificationCertificate(signing), ENT_OK);
        ASSERT_EQ(pFile->GetUserEncryptionCertificate(encryption), ENT_OK);
        std::vector<BYTE> expectedSigning = epftest::FixtureBytes(c.pszSigning);
        std::vector<BYTE> expectedEncryption = epftest::FixtureBytes(c.pszEncryption);
        EXPECT_EQ(std::vector<BYTE>(signing.X509()->Der()), expectedSigning);
        EXPECT_EQ(std::vector<BYTE>(encryption.X509()->Der()), expectedEncryption);
        std::shared_ptr<const EntX509> pIssuer = Issuer(*pFile);
        ASSERT_TRUE(pIssuer);
        EXPECT_TRUE(signing.X509()->IsIssuedBy(*pIssuer));
        EXPECT_EQ(pIssuer->CommonName(), "Ormavia CA Subordinada Produccion G2");
        EXPECT_EQ(_stricmp(pFile->GetProfilePath().c_str(), strPath.c_str()), 0);
        EXPECT_EQ(pFile->QueryConnectStatus(), 0);
    }
}

// The getters of a certificate: texts, usages, dates, serial numbers.
TEST_F(ToolkitTest, CertificateGetters)
{
    BinData der;
    std::vector<BYTE> bytes = epftest::FixtureBytes("user-sign.der");
    der.Assign(bytes.data(), bytes.size());
    EntCertificate cert(nullptr, der, 1);
    GString strText;
    ASSERT_EQ(cert.GetSubject(strText), ENT_OK);
    EXPECT_STREQ(strText, "CN=NOMBRE GARCIA LOPEZ JUAN - NIF 12345678Z, OU=Personal, O=Ormavia, C=ES");
    ASSERT_EQ(cert.GetSubjectCommonName(strText), ENT_OK);
    EXPECT_STREQ(strText, "NOMBRE GARCIA LOPEZ JUAN - NIF 12345678Z");
    ASSERT_EQ(cert.GetIssuer(strText), ENT_OK);
    EXPECT_STREQ(strText, "CN=Ormavia CA Subordinada Produccion G2, OU=Servicios de Certificacion, "
                          "O=Ormavia, C=ES");
    ASSERT_EQ(cert.GetSHA1Fingerprint(strText), ENT_OK);
    EXPECT_EQ(strlen(strText), 59u);
    int bSet = -1;
    const int aExpected[] = {1, 1, 0, 0, 0, 0, 0};
    for (int i = 0; i < 7; ++i) {
        ASSERT_EQ(cert.GetKeyUsage(static_cast<KEY_USAGE>(i), bSet), ENT_OK);
        EXPECT_EQ(bSet, aExpected[i]) << i;
    }
    int nVersion = -1;
    ASSERT_EQ(cert.GetVersion(nVersion), ENT_OK);
    EXPECT_EQ(nVersion, 2);
    unsigned long nSerial = 0;
    EXPECT_EQ(cert.GetSerialNumber(nSerial), ENT_ERR_SERIAL_TOO_LONG);
    BinData serial;
    ASSERT_EQ(cert.GetLongSerialNumber(serial), ENT_OK);
    EXPECT_STREQ(serial.ToHEX(), "45504600000001");

    bytes = epftest::FixtureBytes("serial-short.der");
    der.Assign(bytes.data(), bytes.size());
    EXPECT_EQ(EntCertificate(nullptr, der, 1).GetSerialNumber(nSerial), ENT_OK);
    EXPECT_EQ(nSerial, 0x0A0B0CUL);

    // The key's end: its usage period, none when the period has no end, else the validity's.
    const struct {
        const char* pszName;
        long long nKeyEnd;
    } aKeyEnds[] = {{"ren-sign-keymid.der", epftest::kDay0 + 50 * epftest::kDay},
                    {"ren-sign-key0.der", 0},
                    {"ren-enc-720.der", epftest::kDay0 + 720 * epftest::kDay}};
    for (const auto& k : aKeyEnds) {
        bytes = epftest::FixtureBytes(k.pszName);
        der.Assign(bytes.data(), bytes.size());
        EntTime tEnd = -1;
        EXPECT_EQ(EntCertificate(nullptr, der, 1).GetPrivateKeyEndValidity(tEnd), ENT_OK);
        EXPECT_EQ(tEnd, k.nKeyEnd) << k.pszName;
    }
    // Something that is no certificate gives an empty object.
    der.Assign("garbage", 7);
    EntCertificate none(nullptr, der, 1);
    EXPECT_TRUE(none.IsEmpty());
    EXPECT_EQ(none.GetSubject(strText), ENT_ERR_NO_CERTIFICATE);
}

// Online: the directory named in the initialisation file is asked for the
// issuer's revocation list; offline never connects.
TEST_F(ToolkitTest, OnlineLoginsAskTheDirectoryAndOfflineOnesDoNot)
{
    CDirectoryServer server;
    ASSERT_TRUE(server.IsRunning());
    std::string strUser = Profile("user"), strRevoked = Profile("revoked");
    std::shared_ptr<const EntX509> pIssuer = Issuer(*Open(strUser));
    ASSERT_TRUE(pIssuer);
    server.Publish(EntDirectory::LdapName(*pIssuer), epftest::FixtureBytes("issuer.crl"));
    std::string strOnline = epftest::WriteIni(m_strDir + "online.ini", server.Address());

    struct {
        const char* pszCase;
        std::string strProfile;
        int bOffline;
        std::string strIni;
        short nCode;
        int bConnected;
        int nConnections;
    } aCases[] = {
        {"user online", strUser, 0, strOnline, ENT_OK, 1, 1},
        {"revoked online", strRevoked, 0, strOnline, ENT_ERR_CERT_REVOKED, 0, 1},
        {"revoked offline", strRevoked, 1, strOnline, ENT_OK, 0, 0},
        {"no server", strUser, 0, m_strIni, ENT_WARN_DIRECTORY_UNAVAILABLE, 0, 0},
        {"other protocol", strUser, 0, epftest::WriteIni(m_strDir + "x500.ini", server.Address(), "X500"),
         ENT_WARN_DIRECTORY_UNAVAILABLE, 0, 0},
    };
    for (const auto& c : aCases) {
        SCOPED_TRACE(c.pszCase);
        int nBefore = server.Connections();
        std::unique_ptr<EntFile> pFile = Open(c.strProfile, kPassword, c.bOffline, c.strIni);
        EXPECT_EQ(pFile->GetConstructorError(), c.nCode);
        EXPECT_EQ(pFile->QueryConnectStatus(), c.bConnected);
        EXPECT_EQ(server.Connections() - nBefore, c.nConnections);
    }
    EXPECT_EQ(server.LastBase(), "CN=Ormavia CA Subordinada Produccion G2,OU=Servicios de Certificacion,"
                                 "O=Ormavia,C=ES");

    // A directory without the list, or with a list the issuer did not sign: online,
    // revocation unknown.
    server.Publish("CN=someone else", std::vector<uint8_t>());
    std::unique_ptr<EntFile> pFile = Open(strRevoked, kPassword, 0, strOnline);
    EXPECT_EQ(pFile->GetConstructorError(), ENT_WARN_REVOCATION_UNKNOWN);
    EXPECT_EQ(pFile->QueryConnectStatus(), 1);
    pFile.reset();
    std::vector<uint8_t> forged = epftest::FixtureBytes("issuer.crl");
    forged[forged.size() - 10] ^= 1;
    server.Publish(EntDirectory::LdapName(*pIssuer), forged);
    EXPECT_EQ(Open(strRevoked, kPassword, 0, strOnline)->GetConstructorError(), ENT_WARN_REVOCATION_UNKNOWN);

    // A port nobody listens on.
    std::string strClosed;
    {
        CDirectoryServer gone;
        strClosed = epftest::WriteIni(m_strDir + "closed.ini", gone.Address());
    }
    pFile = Open(strUser, kPassword, 0, strClosed);
    EXPECT_EQ(pFile->GetConstructorError(), ENT_WARN_DIRECTORY_UNAVAILABLE);
    EXPECT_EQ(pFile->QueryConnectStatus(), 0);
}

// A directory that accepts and then answers a byte at a time without ever
// finishing: the online check gives up at its deadline and the session is
// offline, as when there is no server. The wait allowed here is many times the
// deadline; without one the login would wait for as long as the server trickles.
TEST_F(ToolkitTest, ADirectoryThatNeverFinishesAnsweringLeavesTheSessionOffline)
{
    std::string strUser = Profile("user");
    std::unique_ptr<CDirectoryServer> pServer(new CDirectoryServer);
    ASSERT_TRUE(pServer->IsRunning());
    pServer->SetTrickle(true);
    std::string strIni = epftest::WriteIni(m_strDir + "trickle.ini", pServer->Address());
    std::unique_ptr<EntFile> pFile;
    std::function<void()> login = [&] { pFile = Open(strUser, kPassword, 0, strIni); };
    struct CThread {
        static DWORD WINAPI Run(LPVOID p)
        {
            (*static_cast<std::function<void()>*>(p))();
            return 0;
        }
    };
    HANDLE hLogin = CreateThread(nullptr, 0, CThread::Run, &login, 0, nullptr);
    ASSERT_NE(hLogin, nullptr);
    bool bEnded = WaitForSingleObject(hLogin, 6 * EntDirectory::DEADLINE_MS) == WAIT_OBJECT_0;
    EXPECT_TRUE(bEnded) << "the login was still waiting for the directory";
    EXPECT_EQ(pServer->Connections(), 1);
    pServer.reset();  // its end also ends a login still waiting
    WaitForSingleObject(hLogin, INFINITE);
    CloseHandle(hLogin);
    ASSERT_TRUE(pFile);
    if (bEnded) {
        EXPECT_EQ(pFile->GetConstructorError(), ENT_WARN_DIRECTORY_UNAVAILABLE);
        EXPECT_EQ(pFile->QueryConnectStatus(), 0);
    }
}

// The policy certificate beside the profile: days left, or why it does not serve.
TEST_F(ToolkitTest, PolicyCertificateDaysAndFaults)
{
    std::string strPath = Profile("user");
    std::string strPolicy = m_strDir + "user.pch";
    const struct {
        const char* pszSource;
        short nCode;
        short nDays;
    } aCases[] = {
        {"user.pch", ENT_OK, 30},
        {nullptr, ENT_ERR_POLICY_MISSING, 0},
        {"policy-expired.pch", ENT_ERR_POLICY_EXPIRED, 0},
        {"policy-foreign.pch", ENT_ERR_POLICY_INVALID, 0},
        {"user-sign.der", ENT_ERR_POLICY_INVALID, 0},
        {"user.epf", ENT_ERR_POLICY_INVALID, 0},
    };
    for (const auto& c : aCases) {
        SCOPED_TRACE(c.pszSource != nullptr ? c.pszSource : "none");
        DeleteFileA(strPolicy.c_str());
        if (c.pszSource != nullptr) {
            ASSERT_TRUE(CopyFileA(epftest::Fixture(c.pszSource).c_str(), strPolicy.c_str(), FALSE));
        }
        std::unique_ptr<EntFile> pFile = Open(strPath);
        short nDays = -1;
        EXPECT_EQ(pFile->GetPolicyCertificateInformation(POLICY_INFO_DAYS_LEFT, nDays), c.nCode);
        EXPECT_EQ(nDays, c.nDays);
    }
    short nDays = 0;
    EXPECT_EQ(Open(strPath)->GetPolicyCertificateInformation(34, nDays), ENT_ERR_INVALID_ARGUMENT);
    EXPECT_EQ(EntFile::SiblingPath("C:\\a.b\\user.epf", ".pch"), "C:\\a.b\\user.pch");
    EXPECT_EQ(EntFile::SiblingPath("C:\\a.b\\user", ".pch"), "C:\\a.b\\user.pch");
}

// Signed files read back with the library's own reader: content, digest,
// signer certificate and signature.
TEST_F(ToolkitTest, FileProtectSignsWithTheChosenDigest)
{
    CAPIWincrypt::Load();
    std::unique_ptr<EntFile> pFile = Open(Profile("user"));
    ASSERT_EQ(pFile->GetConstructorError(), ENT_OK);
    std::vector<BYTE> signer = epftest::FixtureBytes("user-sign.der");
    const struct {
        long nDigest;
        const char* pszOid;
    } aDigests[] = {{0, "1.3.14.3.2.26"},          {1, "1.2.840.113549.2.5"},
                    {2, "1.2.840.113549.2.2"},     {5, "2.16.840.1.101.3.4.2.1"},
                    {6, "2.16.840.1.101.3.4.2.1"}, {15, "2.16.840.1.101.3.4.2.1"}};
    std::string strData;
    for (int i = 0; i < 150000; ++i)
        strData += static_cast<char>(i * 7 + i / 256);
    for (size_t nSize : {size_t(0), size_t(1), size_t(65536), strData.size()}) {
        tvltest::WriteAll(m_strDir + "in.bin", strData.substr(0, nSize));
        for (const auto& d : aDigests) {
            SCOPED_TRACE(testing::Message() << "size " << nSize << " digest " << d.nDigest);
            PROTECT_OPTIONS options = {0, 0, d.nDigest, "text/plain", PROTECT_FORMAT_SIGNED};
            EntrustNameList none1, none2;
            ASSERT_EQ(pFile->FileProtect(options, none1, none2, (m_strDir + "in.bin").c_str(),
                                         (m_strDir + "out.p7").c_str()),
                      ENT_OK);
            std::vector<BYTE> message = tvltest::ReadBytes(m_strDir + "out.p7");
            CWincryptPkcs7Crypto crypto;
            std::string strContent;
            CPkcs7Reader reader(crypto, [&](const uint8_t* p, size_t n) {
                strContent.append(reinterpret_cast<const char*>(p), n);
                return true;
            });
            ASSERT_EQ(reader.Update(message.data(), message.size()), EPkcs7Error::Ok);
            ASSERT_EQ(reader.Finish(), EPkcs7Error::Ok);
            EXPECT_EQ(strContent, strData.substr(0, nSize));
            ASSERT_EQ(reader.SignerCount(), 1u);
            EXPECT_EQ(reader.Signer(0).DigestOid(), d.pszOid);
            size_t nCert = 99;
            ASSERT_EQ(reader.FindSignerCertificate(0, nCert), EPkcs7Error::Ok);
            EXPECT_EQ(nCert, 0u);
            EXPECT_EQ(reader.Certificate(0), std::vector<uint8_t>(signer.begin(), signer.end()));
            EXPECT_EQ(reader.Verify(0, signer.data(), signer.size()), EPkcs7Error::Ok);
        }
    }
}

// Options the toolkit does not offer and unusable files fail without leaving
// an output; the output never replaces the input.
TEST_F(ToolkitTest, FileProtectRefusalsLeaveNoOutput)
{
    std::unique_ptr<EntFile> pFile = Open(Profile("user"));
    ASSERT_EQ(pFile->GetConstructorError(), ENT_OK);
    std::string strIn = m_strDir + "in.txt", strOut = m_strDir + "out.p7";
    tvltest::WriteAll(strIn, "documento");
    EntrustNameList none1, none2;
    const struct {
        PROTECT_OPTIONS options;
        short nCode;
    } aCases[] = {
        {{1, 0, 0, "text/plain", 7}, ENT_ERR_BAD_OPTIONS},
        {{0, 0, 0, "text/plain", 3}, ENT_ERR_BAD_OPTIONS},
        {{0, 0, 3, "text/plain", 7}, ENT_ERR_SIGN_ALGORITHM},
        {{0, 0, 4, "text/plain", 7}, ENT_ERR_SIGN_ALGORITHM},
        {{0, 0, 11, "text/plain", 7}, ENT_ERR_SIGN_ALGORITHM},
    };
    for (const auto& c : aCases) {
        EXPECT_EQ(pFile->FileProtect(c.options, none1, none2, strIn.c_str(), strOut.c_str()), c.nCode);
        EXPECT_FALSE(tvltest::Exists(strOut));
    }
    PROTECT_OPTIONS options = {0, 0, 0, "text/plain", 7};
    EXPECT_EQ(pFile->FileProtect(options, none1, none2, (m_strDir + "none.txt").c_str(), strOut.c_str()),
              ENT_ERR_FILE_READ);
    EXPECT_FALSE(tvltest::Exists(strOut));
    EXPECT_EQ(pFile->FileProtect(options, none1, none2, strIn.c_str(), (m_strDir + "no\\dir\\x").c_str()),
              ENT_ERR_FILE_WRITE);
    EXPECT_EQ(pFile->FileProtect(options, none1, none2, strIn.c_str(), strIn.c_str()), ENT_ERR_FILE_WRITE);
    EXPECT_EQ(tvltest::ReadAll(strIn), "documento");
    // Recipients would mean encryption, which this toolkit does not do.
    EntrustNameList recipients;
    recipients.Add(EntrustName());
    EXPECT_EQ(pFile->FileProtect(options, recipients, none2, strIn.c_str(), strOut.c_str()),
              ENT_ERR_BAD_OPTIONS);
    EXPECT_FALSE(tvltest::Exists(strOut));
}

// A PKCS#12 export holds exactly the listed certificates, each with its key,
// under the export password; it needs the profile password and a valid
// policy certificate.
TEST_F(ToolkitTest, Pkcs12ExportHoldsTheListedPairs)
{
    std::string strPath = Profile("user");
    std::unique_ptr<EntFile> pFile = Open(strPath);
    ASSERT_EQ(pFile->GetConstructorError(), ENT_OK);
    EntCertificateList all;
    ASSERT_EQ(pFile->GetPKCS12ExportableCertificates(all), ENT_OK);
    ASSERT_EQ(all.GetNumberOfEntries(), 2);
    EntCertificate signing;
    all.GetEntry(0, signing);
    EntCertificateList justSigning;
    justSigning.AddEntry(signing);
    std::string strOut = m_strDir + "out.pfx";
    for (EntCertificateList* pList : {&all, &justSigning}) {
        ASSERT_EQ(pFile->ExportCertificateListPKCS12(kPassword, strOut.c_str(), "x7Kexport", *pList, 2000),
                  ENT_OK);
        std::vector<BYTE> pfx = tvltest::ReadBytes(strOut);
        CCryptoPrimitives crypto;
        CPkcs12Reader reader(crypto);
        std::vector<CPkcs12Bag> bags;
        ASSERT_EQ(reader.Read(pfx.data(), pfx.size(), L"x7Kexport", bags), EPkcs12Error::Ok);
        ASSERT_EQ(static_cast<int>(bags.size()), 2 * pList->GetNumberOfEntries());
        for (int i = 0; i < pList->GetNumberOfEntries(); ++i) {
            EntCertificate cert;
            pList->GetEntry(i, cert);
            bool bCert = false, bKey = false;
            for (const CPkcs12Bag& b : bags) {
                bCert = bCert || (b.eType == CPkcs12Bag::BAG_CERTIFICATE && b.data == cert.X509()->Der());
                CRsaPrivateKey key;
                bKey = bKey || (b.eType == CPkcs12Bag::BAG_KEY && key.Parse(b.data.data(), b.data.size()) &&
                                key.Modulus() == cert.X509()->Modulus());
            }
            EXPECT_TRUE(bCert && bKey) << i;
        }
    }
    // Refusals leave no file.
    DeleteFileA(strOut.c_str());
    EXPECT_EQ(pFile->ExportCertificateListPKCS12("otra", strOut.c_str(), "x", all, 2000), ENT_ERR_BAD_PASSWORD);
    EntCertificateList foreign;
    BinData der;
    std::vector<BYTE> bytes = epftest::FixtureBytes("ab-ana.der");
    der.Assign(bytes.data(), bytes.size());
    foreign.AddEntry(EntCertificate(nullptr, der, 1));
    EXPECT_EQ(pFile->ExportCertificateListPKCS12(kPassword, strOut.c_str(), "x", foreign, 2000),
              ENT_ERR_INVALID_ARGUMENT);
    for (const char* pszPolicy : {"policy-expired.pch", "policy-foreign.pch", static_cast<const char*>(nullptr)}) {
        DeleteFileA((m_strDir + "user.pch").c_str());
        if (pszPolicy != nullptr)
            CopyFileA(epftest::Fixture(pszPolicy).c_str(), (m_strDir + "user.pch").c_str(), FALSE);
        EXPECT_EQ(pFile->ExportCertificateListPKCS12(kPassword, strOut.c_str(), "x", all, 2000),
                  ENT_ERR_EXPORT_POLICY);
    }
    EXPECT_FALSE(tvltest::Exists(strOut));
}

// The address book beside the profile: made on demand, entries by certificate
// file, searched, deleted; what ExportMyCertificate writes imports as one entry.
TEST_F(ToolkitTest, AddressBookEntries)
{
    std::string strPath = Profile("user");
    std::unique_ptr<EntFile> pFile = Open(strPath);
    ASSERT_EQ(pFile->GetConstructorError(), ENT_OK);
    EXPECT_EQ(pFile->HavePAB(), ENT_ERR_NO_PAB);
    EntrustNameList names;
    EXPECT_EQ(pFile->DirectorySearch("", "", "", names, 1, 2), ENT_ERR_NO_PAB);
    ASSERT_EQ(pFile->CreatePAB(nullptr), ENT_OK);
    EXPECT_EQ(pFile->HavePAB(), ENT_OK);
    EXPECT_TRUE(tvltest::Exists(m_strDir + "user.pab"));
    ASSERT_EQ(pFile->DirectorySearch("", "", "", names, 1, 2), ENT_OK);
    EXPECT_EQ(names.GetNumberOfNames(), 0);

    GString strText;
    ASSERT_EQ(pFile->ExportMyCertificate((m_strDir + "me.key").c_str(), strText), ENT_OK);
    EXPECT_STREQ(strText, "CN=NOMBRE GARCIA LOPEZ JUAN - NIF 12345678Z, OU=Personal, O=Ormavia, C=ES");
    const struct {
        std::string strFile;
        const char* pszCn;
        bool bEncryption, bVerification;
    } aImports[] = {
        {epftest::Fixture("ab-ana.pem"), "NOMBRE PEREZ GOMEZ ANA - NIF 11111111H", true, true},
        {epftest::Fixture("ab-luis.der"), "NOMBRE SANZ VIDAL LUIS - NIE X1234567L", false, true},
        {epftest::Fixture("ab-eva.pem"), "NOMBRE ROS PONS EVA - NIF 22222222J", true, true},
        {m_strDir + "me.key", "NOMBRE GARCIA LOPEZ JUAN - NIF 12345678Z", true, true},
    };
    for (const auto& i : aImports) {
        SCOPED_TRACE(i.strFile);
        EntrustName name;
        ASSERT_EQ(pFile->ImportCertificate(i.strFile.c_str(), name), ENT_OK);
        EntCertificate cert;
        EXPECT_EQ(name.GetEncryptionCertificate(cert) == ENT_OK, i.bEncryption);
        EXPECT_EQ(name.GetVerificationCertificate(cert) == ENT_OK, i.bVerification);
        ASSERT_GE(name.GetNumberOfAttributes(), 1);
        ASSERT_EQ(name.GetAttribute(0, strText), ENT_OK);
        EXPECT_STREQ(strText, "c");
        bool bCn = false;
        for (int a = 0; a < name.GetNumberOfAttributes(); ++a) {
            name.GetAttribute(a, strText);
            if (strText == "cn") {
                ASSERT_EQ(name.GetNumberOfAttributeValues(a), 1);
                name.GetAttributeValue(a, 0, strText);
                EXPECT_STREQ(strText, i.pszCn);
                bCn = true;
            }
        }
        EXPECT_TRUE(bCn);
    }
    // Importing the same person again replaces the entry.
    EntrustName name;
    ASSERT_EQ(pFile->ImportCertificate(epftest::Fixture("ab-ana.der").c_str(), name), ENT_OK);
    ASSERT_EQ(pFile->DirectorySearch("", "", "", names, 1, 2), ENT_OK);
    EXPECT_EQ(names.GetNumberOfNames(), 4);
    ASSERT_EQ(pFile->DirectorySearch("perez gomez", "", "", names, 1, 2), ENT_OK);
    ASSERT_EQ(names.GetNumberOfNames(), 1);
    names.GetEntrustName(0, name);
    name.GetUniqueName(strText);
    std::string strAna = strText.str();
    EXPECT_EQ(pFile->DirectorySearch("", "", "", names, 0, 2), ENT_ERR_INVALID_ARGUMENT);

    EXPECT_EQ(pFile->DeleteAddressFromPAB(strAna.c_str()), ENT_OK);
    EXPECT_EQ(pFile->DeleteAddressFromPAB(strAna.c_str()), ENT_ERR_ENTRY_NOT_FOUND);
    ASSERT_EQ(pFile->DirectorySearch("", "", "", names, 1, 2), ENT_OK);
    EXPECT_EQ(names.GetNumberOfNames(), 3);
    // The book survives the profile's closing.
    pFile.reset();
    pFile = Open(strPath);
    ASSERT_EQ(pFile->DirectorySearch("", "", "", names, 1, 2), ENT_OK);
    EXPECT_EQ(names.GetNumberOfNames(), 3);

    // Refusals.
    EXPECT_EQ(pFile->ImportCertificate(epftest::Fixture("user.epf").c_str(), name), ENT_ERR_NOT_A_CERTIFICATE);
    EXPECT_EQ(pFile->ImportCertificate((m_strDir + "none.cer").c_str(), name), ENT_ERR_FILE_READ);
    tvltest::WriteAll(m_strDir + "user.pab", "not an address book");
    EXPECT_EQ(pFile->DirectorySearch("", "", "", names, 1, 2), ENT_ERR_PAB_DAMAGED);
    EXPECT_EQ(pFile->ImportCertificate(epftest::Fixture("ab-ana.der").c_str(), name), ENT_ERR_PAB_DAMAGED);
    EXPECT_EQ(tvltest::ReadAll(m_strDir + "user.pab"), "not an address book");
}
