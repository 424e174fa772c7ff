// Signing, export selections, the random password and the SSL handle of an
// Entrust session, and its address book.
#include "tests/entrust/EntrustSessionTestSupport.h"

#include <wincrypt.h>

#include <ctype.h>
#include <stdlib.h>

#include "api/ResultCodes.h"
#include "cert/CCertStore.h"
#include "cert/CCertificate.h"
#include "cert/pkcs7/CPkcs7Reader.h"
#include "cert/wincrypt/CWincryptPkcs7Crypto.h"
#include "platform/entrust/EntX509.h"
#include "platform/pkcs12/CPkcs12Reader.h"

namespace {
std::vector<uint8_t> Der(const char* pszName)
{
    std::vector<BYTE> bytes = epftest::FixtureBytes(pszName);
    return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

bool IsPasswordShape(const std::string& str)
{
    if (str.size() != 8 || !isdigit(static_cast<unsigned char>(str[0])) ||
        !islower(static_cast<unsigned char>(str[1])) || !isupper(static_cast<unsigned char>(str[2])))
        return false;
    for (char c : str) {
        if (!isalnum(static_cast<unsigned char>(c)))
            return false;
    }
    return true;
}
}  // namespace

TEST_F(EntrustSessionTest, AlgorithmNamesGiveTheirCodes)
{
    const struct {
        const char* pszName;
        int nCode;
    } aCases[] = {{"MD2", 2},      {"MD2WITHRSA", 2}, {"MD5", 1},       {"MD5WITHRSA", 1},
                  {"SHA1", 0},     {"SHA1WITH_ECDSA", 4}, {"SHA1WITHDSA", 3}, {"SSHA256WITHRSA", 5},
                  {"CAST", 0},     {"CAST_128", 2},   {"CAST_40", 5},   {"CAST_64", 4},
                  {"CAST_80", 3},  {"DEFAULT", 15},   {"DES", 1},       {"IDEA_128", 10},
                  {"RC2", 7},      {"RC2_128", 8},    {"RC2_40", 9},    {"TRIPLE_DES", 6},
                  {"AES", 11},     {"AES_256", 12},   {"AES_128", 14},  {"AES_192", 13},
                  {"sha1", 6},     {"", 6},           {"SHA256", 6},    {"MD5 ", 6}};
    for (const auto& c : aCases)
        EXPECT_EQ(CEntrustSession::AlgorithmCode(c.pszName), c.nCode) << c.pszName;
}

TEST_F(EntrustSessionTest, RandomPasswordShape)
{
    std::string str;
    for (int i = 0; i < 500; ++i) {
        CEntrustSession::MakeRandomPassword(8, str);
        ASSERT_TRUE(IsPasswordShape(str)) << str;
    }
    // The passwords do not follow from the C library's generator, which is
    // seeded with the time.
    std::string strOther;
    srand(7);
    CEntrustSession::MakeRandomPassword(8, str);
    srand(7);
    CEntrustSession::MakeRandomPassword(8, strOther);
    EXPECT_NE(str, strOther);
    CEntrustSession::MakeRandomPassword(1, str);
    EXPECT_TRUE(str.size() == 1 && isdigit(static_cast<unsigned char>(str[0])));
    CEntrustSession::MakeRandomPassword(3, str);
    EXPECT_TRUE(str.size() == 3 && isupper(static_cast<unsigned char>(str[2])));
    CEntrustSession::MakeRandomPassword(0, str);
    EXPECT_EQ(str, "");
}

// A file signed through the session passes the library's check with an
// accepted signer, alone and inside the signing pipeline with its layers.
TEST_F(EntrustSessionTest, SignedFilesPassTheLibrarysCheck)
{
    std::string strData;
    for (int i = 0; i < 20000; ++i)
        strData += "l\xEDnea " + std::to_string(i) + "\r\n";
    tvltest::WriteAll(m_strDir + "doc.txt", strData);
    CEntrustSession* pSession = OpenOk(Profile("user")).release();
    ASSERT_NE(pSession->GetEntFile(), nullptr);
    GetTarvoselApp().AdoptSession(pSession);

    const struct {
        const char* pszAlgorithm;
        const char* pszDigest;
    } aCases[] = {{"SHA1", "1.3.14.3.2.26"}, {"MD5WITHRSA", "1.2.840.113549.2.5"},
                  {"sha1", "2.16.840.1.101.3.4.2.1"}, {"SSHA256WITHRSA", "2.16.840.1.101.3.4.2.1"}};
    for (const auto& c : aCases) {
        SCOPED_TRACE(c.pszAlgorithm);
        tvltest::LogCapture log("sign");
        ASSERT_EQ(tvltest::ResultOf([&] {
                      pSession->SignFile(m_strDir + "doc.txt", m_strDir + "doc.p7", c.pszAlgorithm);
                  }),
                  0);
        EXPECT_EQ(log.Count("Firmando fichero en '" + m_strDir + "doc.p7'..."), 1);
        std::vector<BYTE> message = tvltest::ReadBytes(m_strDir + "doc.p7");
        CWincryptPkcs7Crypto crypto;
        CPkcs7Reader reader(crypto, [](const uint8_t*, size_t) { return true; });
        ASSERT_EQ(reader.Update(message.data(), message.size()), EPkcs7Error::Ok);
        ASSERT_EQ(reader.Finish(), EPkcs7Error::Ok);
        EXPECT_EQ(reader.Signer(0).DigestOid(), c.pszDigest);
        ASSERT_EQ(tvltest::ResultOf([&] {
                      GetTarvoselApp().CheckSignedFile(m_strDir + "doc.p7", m_strDir + "back.txt", 0, 0);
                  }),
                  0)
            << log.Text();
        EXPECT_EQ(tvltest::ReadAll(m_strDir + "back.txt"), strData);
    }
    for (int nLayers = 0; nLayers < 4; ++nLayers) {
        SCOPED_TRACE(nLayers);
        int bBase64 = nLayers & 1, bGzip = nLayers >> 1;
        ASSERT_EQ(tvltest::ResultOf([&] {
                      GetTarvoselApp().SignFile(m_strDir + "doc.txt", m_strDir + "doc.sig", "SHA1",
                                                bBase64, bGzip);
                      GetTarvoselApp().CheckSignedFile(m_strDir + "doc.sig", m_strDir + "back.txt",
                                                       bBase64, bGzip);
                  }),
                  0);
        EXPECT_EQ(tvltest::ReadAll(m_strDir + "back.txt"), strData);
    }
    EXPECT_TRUE(epftest::FilesIn(m_strTemp).empty());
    // A refused signing leaves the document and no output.
    tvltest::CaughtFailure r = tvltest::Capture(
        [&] { pSession->SignFile(m_strDir + "doc.txt", m_strDir + "doc.txt", "SHA1"); });
    EXPECT_EQ(r.nCode, ERR_FILE_WRITE);
    EXPECT_EQ(r.strContext, "CEntrustSession::SignFile");
    EXPECT_EQ(tvltest::ReadAll(m_strDir + "doc.txt"), strData);
    r = tvltest::Capture([&] { pSession->SignFile(m_strDir + "none.txt", m_strDir + "x.p7", "SHA1"); });
    EXPECT_EQ(r.nCode, ERR_FILE_READ);
    EXPECT_FALSE(tvltest::Exists(m_strDir + "x.p7"));
    GetTarvoselApp().CloseSession();
}

// Selection 0 writes the user's certificates (making the address book); 1, 2
// and 3 a PKCS#12 file of the encryption, signing or all key pairs, under the
// profile's password when one was given, else under a new random one.
TEST_F(EntrustSessionTest, ExportSelections)
{
    std::unique_ptr<CEntrustSession> pSession = OpenOk(Profile("user"));
    std::string strOut = m_strDir + "out.key", strPassword = "algo";
    tvltest::LogCapture log("export");
    ASSERT_EQ(tvltest::ResultOf([&] { pSession->ExportCertificates(strOut, 0, strPassword); }), 0);
    EXPECT_EQ(log.Count("No tiene PAB, se intenta crear uno"), 1);
    EXPECT_TRUE(tvltest::Exists(m_strDir + "user.pab"));
    std::vector<std::shared_ptr<const EntX509>> certs =
        EntX509::ParseAll(reinterpret_cast<const uint8_t*>(tvltest::ReadAll(strOut).data()),
                          tvltest::ReadAll(strOut).size());
    ASSERT_EQ(certs.size(), 2u);
    EXPECT_EQ(certs[0]->Der(), Der("user-enc.der"));
    EXPECT_EQ(certs[1]->Der(), Der("user-sign.der"));
    CCertStore* pStore = pSession->GetCertStore();
    ASSERT_EQ(tvltest::ResultOf([&] { pSession->ExportCertificates(strOut, 0, strPassword); }), 0);
    EXPECT_EQ(log.Count("No tiene PAB"), 1);
    EXPECT_EQ(pSession->GetCertStore(), pStore);

    const struct {
        const char* pszProfile;
        int nSelection;
        const char* pszPassword;
        std::vector<const char*> certs;
    } aCases[] = {
        {"user", 1, "cualquiera", {"user-enc.der"}},
        {"user", 2, "", {"user-sign.der"}},
        {"user", 3, "", {"user-sign.der", "user-enc.der"}},
        {"user", 7, "", {}},
        {"signonly", 1, "", {}},
        {"signonly", 2, "", {"signonly-cert.der"}},
        {"single", 1, "", {"single-cert.der"}},
    };
    for (const auto& c : aCases) {
        SCOPED_TRACE(testing::Message() << c.pszProfile << " selection " << c.nSelection);
        std::unique_ptr<CEntrustSession> p = c.pszProfile == std::string("user") ? nullptr : OpenOk(Profile(c.pszProfile));
        CEntrustSession* pUse = p ? p.get() : pSession.get();
        strOut = m_strDir + "out.pfx";
        strPassword = c.pszPassword;
        ASSERT_EQ(tvltest::ResultOf([&] { pUse->ExportCertificates(strOut, c.nSelection, strPassword); }), 0);
        if (*c.pszPassword != '\0')
            EXPECT_EQ(strPassword, epftest::kPassword);
        else
            EXPECT_TRUE(IsPasswordShape(strPassword)) << strPassword;
        bool bRead = false;
        auto entries = epftest::Pkcs12Entries(strOut, strPassword, &bRead);
        ASSERT_TRUE(bRead);
        ASSERT_EQ(entries.size(), c.certs.size());
        for (size_t i = 0; i < entries.size(); ++i) {
            EXPECT_EQ(entries[i].first, Der(c.certs[i])) << i;
            EXPECT_TRUE(entries[i].second) << i;
        }
    }
    // Without a valid policy certificate the toolkit refuses the export.
    DeleteFileA((m_strDir + "user.pch").c_str());
    strPassword.clear();
    tvltest::CaughtFailure r = tvltest::Capture([&] { pSession->ExportCertificates(strOut, 2, strPassword); });
    EXPECT_EQ(r.nCode, ERR_EXPORT_CERT);
    EXPECT_EQ(r.strContext, "CEntrustSession::ExportCertificates");
}

// The application's export of an Entrust session: a ".pfx" path and a password.
TEST_F(EntrustSessionTest, ApplicationExportGivesAPfxAndItsPassword)
{
    GetTarvoselApp().AdoptSession(OpenOk(Profile("user")).release());
    std::string strPath, strPassword;
    ASSERT_EQ(tvltest::ResultOf([&] { GetTarvoselApp().ExportCertificate("", strPath, strPassword); }), 0);
    EXPECT_TRUE(strPath.size() > 4 && strPath.compare(strPath.size() - 4, 4, ".pfx") == 0) << strPath;
    EXPECT_TRUE(IsPasswordShape(strPassword));
    auto entries = epftest::Pkcs12Entries(strPath, strPassword);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].first, Der("user-sign.der"));
    // A policy certificate given with the call replaces the profile's first.
    std::string strSecond;
    DeleteFileA((m_strDir + "user.pch").c_str());
    ASSERT_EQ(tvltest::ResultOf([&] {
                  GetTarvoselApp().ExportCertificate(epftest::Fixture("user.pch"), strSecond, strPassword);
              }),
              0);
    EXPECT_NE(strSecond, strPath);
    EXPECT_TRUE(tvltest::Exists(m_strDir + "user.pch"));
    GetTarvoselApp().CloseSession();
}

// The handle is the component's context of the signing certificate, with its
// key; no temporary file stays, also when the export or the component fails.
TEST_F(EntrustSessionTest, SslHandleLeavesNoTemporaryFile)
{
    std::unique_ptr<CEntrustSession> pSession = OpenOk(Profile("user"));
    INT_PTR nHandle = 0;
    ASSERT_EQ(tvltest::ResultOf([&] { nHandle = pSession->GetSSLHandle(); }), 0);
    PCCERT_CONTEXT pCert = reinterpret_cast<PCCERT_CONTEXT>(static_cast<intptr_t>(nHandle));
    ASSERT_NE(pCert, nullptr);
    EXPECT_EQ(std::vector<uint8_t>(pCert->pbCertEncoded, pCert->pbCertEncoded + pCert->cbCertEncoded),
              Der("user-sign.der"));
    DWORD cb = 0;
    EXPECT_TRUE(CertGetCertificateContextProperty(pCert, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &cb));
    EXPECT_TRUE(epftest::FilesIn(m_strTemp).empty());
    HWND hWnd = pSession->GetHTTPSWindow();
    ASSERT_NE(hWnd, nullptr);
    ASSERT_EQ(tvltest::ResultOf([&] { nHandle = pSession->GetSSLHandle(); }), 0);
    EXPECT_EQ(pSession->GetHTTPSWindow(), hWnd);
    EXPECT_TRUE(epftest::FilesIn(m_strTemp).empty());

    // The component finds no certificate for the encryption certificate's NIF.
    std::unique_ptr<CEntrustSession> pMismatch = OpenOk(Profile("mismatch"));
    tvltest::CaughtFailure r = tvltest::Capture([&] { pMismatch->GetSSLHandle(); });
    EXPECT_EQ(r.nCode, ERR_SSL_OBJECT);
    EXPECT_EQ(r.strContext, "CHTTPS::GetSSLCertHandle");
    EXPECT_TRUE(epftest::FilesIn(m_strTemp).empty());
    // The export is refused (no policy certificate).
    DeleteFileA((m_strDir + "user.pch").c_str());
    r = tvltest::Capture([&] { pSession->GetSSLHandle(); });
    EXPECT_EQ(r.nCode, ERR_EXPORT_CERT);
    EXPECT_TRUE(epftest::FilesIn(m_strTemp).empty());
}

// The address book as the session's certificate store.
TEST_F(EntrustSessionTest, AddressBookStore)
{
    std::unique_ptr<CEntrustSession> pSession = OpenOk(Profile("user"));
    CCertStore* pStore = pSession->GetCertStore();
    ASSERT_NE(pStore, nullptr);
    EXPECT_TRUE(tvltest::Exists(m_strDir + "user.pab"));
    CCertificateArray list;
    pStore->GetCertificates(list);
    EXPECT_TRUE(list.empty());

    // Only entries without an encryption certificate: nothing to list.
    std::string strLuis;
    ASSERT_EQ(tvltest::ResultOf([&] { strLuis = pStore->ImportCertificate(epftest::Fixture("ab-luis.der")); }), 0);
    EXPECT_EQ(strLuis, "CN=NOMBRE SANZ VIDAL LUIS - NIE X1234567L, O=Ormavia, C=ES");
    pStore->GetCertificates(list);
    EXPECT_TRUE(list.empty());

    for (const char* pszName : {"ab-ana.der", "ab-eva.pem", "ab-jose.der", "ab-nocn.der"})
        ASSERT_EQ(tvltest::ResultOf([&] { pStore->ImportCertificate(epftest::Fixture(pszName)); }), 0) << pszName;
    pStore->GetCertificates(list);
    ASSERT_EQ(list.size(), 4u);
    std::vector<std::string> names;
    for (CCertificate* p : list) {
        names.push_back(p->GetOwnerName());
        delete p;
    }
    EXPECT_EQ(names, (std::vector<std::string>{"PEREZ GOMEZ ANA", "ROS PONS EVA", "MU\xD1OZ PE\xD1" "A JOS\xC9", "No disponible"}));

    tvltest::LogCapture log("pab");
    const struct {
        const char* pszName;
        int nFound;
    } aChecks[] = {
        {"NOMBRE PEREZ GOMEZ ANA - NIF 11111111H", 1},
        {"nombre perez gomez ana - nif 11111111h", 1},
        {"nombre mu\xF1oz pe\xF1" "a jos\xE9 - nif 66666666q", 1},
        {"NOMBRE PEREZ GOMEZ ANA", 0},
        {"", 0},
    };
    for (const auto& c : aChecks)
        EXPECT_EQ(pStore->CheckCertificate(c.pszName), c.nFound) << c.pszName;
    // The entry without a common name is passed over with a log line.
    EXPECT_GE(log.Count("No se ha podido recuperar el cn de la entrada del PAB 'OU=Sin nombre, O=Ormavia, C=ES'"), 1);

    tvltest::CaughtFailure r = tvltest::Capture([&] { pStore->ImportCertificate(epftest::Fixture("user.epf")); });
    EXPECT_EQ(r.nKind, EXC_ENTRUST);
    EXPECT_EQ(r.strContext, "CPAB::ImportCertificate");
    r = tvltest::Capture([&] { pStore->DeleteCertificate("CN=nadie"); });
    EXPECT_EQ(r.strContext, "CPAB::DeleteCertificate");
    ASSERT_EQ(tvltest::ResultOf([&] { pStore->DeleteCertificate(strLuis); }), 0);
    // A listed certificate names its entry by its subject, in upper case.
    pStore->GetCertificates(list);
    ASSERT_EQ(list.size(), 4u);
    std::string strAna = list[0]->GetSubject();
    for (CCertificate* p : list)
        delete p;
    EXPECT_EQ(strAna, "CN=NOMBRE PEREZ GOMEZ ANA - NIF 11111111H, OU=PERSONAL, O=ORMAVIA, C=ES");
    ASSERT_EQ(tvltest::ResultOf([&] { pStore->DeleteCertificate(strAna); }), 0);
    EXPECT_EQ(pStore->CheckCertificate("NOMBRE PEREZ GOMEZ ANA - NIF 11111111H"), 0);

    // Without an address book nothing is searched and nothing is found.
    DeleteFileA((m_strDir + "user.pab").c_str());
    EXPECT_EQ(tvltest::ResultOf([&] { EXPECT_EQ(pStore->CheckCertificate("NOMBRE PEREZ GOMEZ ANA - NIF 11111111H"), 0); }), 0);
    pStore->GetCertificates(list);
    EXPECT_TRUE(list.empty());
}
