#include "tests/https/HttpsTestSupport.h"
#include "api/CTarvoselException.h"
#include "https/CHTTPSDlg.h"
#include <algorithm>
#include <cctype>
#include <vector>

namespace {

std::string Lower(std::string str)
{
    std::transform(str.begin(), str.end(), str.begin(), [](unsigned char c) { return (char)std::tolower(c); });
    return str;
}

}  // namespace

// The CryptoAPI session asks for "MY" and the authentication certificate's
// display name; the host builds its SSL credential from what comes back.
TEST_F(CHTTPSTest, MyStoreAndDisplayNameGiveThatCertificateWithItsKey)
{
    const TestPkiCert& auth = PkiCert("dni-auth");
    INT_PTR nHandle = Handle("MY", auth.pszDisplayName);
    ASSERT_NE(nHandle, 0);
    PCCERT_CONTEXT pCert = AsCertificate(nHandle);
    EXPECT_EQ(Thumbprint(pCert), auth.pszThumbprint);
    EXPECT_TRUE(HasKeyProvider(pCert));

    HCRYPTPROV hProv = 0;
    DWORD dwKeySpec = 0;
    BOOL bFree = FALSE;
    ASSERT_TRUE(CryptAcquireCertificatePrivateKey(pCert, 0, NULL, &hProv, &dwKeySpec, &bFree))
        << std::hex << GetLastError();
    EXPECT_EQ(dwKeySpec, (DWORD)auth.nKeySpec);
    if (bFree)
        CryptReleaseContext(hProv, 0);
}

TEST_F(CHTTPSTest, SubjectMatchesAnySubstringOfTheSubjectInAnyCase)
{
    const TestPkiCert& auth = PkiCert("dni-auth");
    const TestPkiCert& accents = PkiCert("accents");
    struct {
        std::string strSubject;
        const TestPkiCert* pExpected;
    } aCases[] = {
        { auth.pszDisplayName, &auth },
        { Lower(auth.pszDisplayName), &auth },
        { "N (AUTENTICACION)", &auth },
        { accents.pszDisplayName, &accents },  // cp1252 text, through the code page
        { "organismo colaborador", &PkiCert("fam3") },
    };
    for (const auto& c : aCases) {
        SCOPED_TRACE(c.strSubject);
        try {
            INT_PTR nHandle = Handle("MY", c.strSubject.c_str());
            EXPECT_EQ(Thumbprint(AsCertificate(nHandle)), c.pExpected->pszThumbprint);
        } catch (CTarvoselException* e) {
            ADD_FAILURE() << e->GetDescription() << "\n" << ReadLog();
            delete e;
        }
    }
}

// "GARCIA LOPEZ JUAN" is in the subject of dni-auth, dni-sign and cn-only, all
// valid with keys: whichever wins, it is one of them. "PRUEBAS" also matches
// the expired and the not-yet-valid certificates: a current one must win.
TEST_F(CHTTPSTest, AmongSeveralMatchesACurrentCertificateWithAKeyWins)
{
    std::string strGot = Thumbprint(AsCertificate(Handle("MY", "PRUEBAS")));
    EXPECT_NE(strGot, PkiCert("expired").pszThumbprint);
    EXPECT_NE(strGot, PkiCert("notyet").pszThumbprint);
    EXPECT_TRUE(strGot == PkiCert("soft-ds-nr").pszThumbprint || strGot == PkiCert("accents").pszThumbprint)
        << strGot;

    PCCERT_CONTEXT pCert = AsCertificate(Handle("MY", "*"));
    EXPECT_TRUE(HasKeyProvider(pCert));
    EXPECT_EQ(CertVerifyTimeValidity(NULL, pCert->pCertInfo), 0);
    EXPECT_EQ(Handle("MY", ""), Handle("MY", "*"));
}

TEST_F(CHTTPSTest, RejectedStoreTextsFailAtSetSSLCertStoreWithTheComponentsMessage)
{
    std::string strMissing = std::string("PFX\\") + TVL_PKI_DIR + "/pfx/no-such-file.pfx*" TESTPKI_PFX_PASSWORD;
    std::string strNotPfx = std::string("PFX\\") + TVL_PKI_DIR + "/certs/dni-auth.der*" TESTPKI_PFX_PASSWORD;
    struct {
        std::string strStore;
        const char* pszLogged;
    } aCases[] = {
        { PfxStoreText("dni-auth", "Prueba1235"), "wrong password or not a PKCS#12 file" },
        { PfxStoreText("dni-auth", ""), "wrong password or not a PKCS#12 file" },
        { strNotPfx, "wrong password or not a PKCS#12 file" },
        { strMissing, "cannot read the PKCS#12 file" },
        { "PFX\\*" TESTPKI_PFX_PASSWORD, "no PKCS#12 file named" },
        { "garbage", "Cannot open certificate store 'garbage': unknown store" },
        { "", "Cannot open certificate store '': unknown store" },
        { "ROOT", "Cannot open certificate store 'ROOT': unknown store" },
    };
    for (const auto& c : aCases) {
        SCOPED_TRACE(c.strStore);
        ExpectSslObjectError([&] { m_Dlg.GetHTTPS().SetSSLCertStore(c.strStore.c_str()); },
                             "CHTTPS::SetSSLCertStore");
        EXPECT_NE(ReadLog().find(c.pszLogged), std::string::npos) << ReadLog();
        // Nothing is left open to take a certificate from.
        m_Dlg.GetHTTPS().SetSSLCertSubject("*");
        ExpectSslObjectError([&] { m_Dlg.GetHTTPS().GetSSLCertHandle(); }, "CHTTPS::GetSSLCertHandle");
    }
    // The path is named, the password never.
    std::string strLog = ReadLog();
    EXPECT_NE(strLog.find("no-such-file.pfx"), std::string::npos);
    EXPECT_EQ(strLog.find("Prueba123"), std::string::npos) << strLog;
}

TEST_F(CHTTPSTest, SubjectThatMatchesNothingFailsAtGetSSLCertHandle)
{
    m_Dlg.GetHTTPS().SetSSLCertStore("MY");
    m_Dlg.GetHTTPS().SetSSLCertSubject("NADIE SE LLAMA ASI");
    ExpectSslObjectError([&] { m_Dlg.GetHTTPS().GetSSLCertHandle(); }, "CHTTPS::GetSSLCertHandle");
    EXPECT_NE(ReadLog().find("No certificate in store 'MY' matches subject 'NADIE SE LLAMA ASI'"),
              std::string::npos) << ReadLog();

    // No store set at all.
    CHTTPSDlg fresh;
    ASSERT_TRUE(fresh.Create(NULL));
    ExpectSslObjectError([&] { fresh.GetHTTPS().GetSSLCertHandle(); }, "CHTTPS::GetSSLCertHandle");
    EXPECT_NE(ReadLog().find("No certificate store has been set"), std::string::npos) << ReadLog();
}

// A second request on the same session sets store and subject again; a host
// may still hold the first handle, so it stays what it was.
TEST_F(CHTTPSTest, HandlesStayValidWhileTheDialogLivesAndRepeatedRequestsReuseThem)
{
    const TestPkiCert& auth = PkiCert("dni-auth");
    const TestPkiCert& sign = PkiCert("dni-sign");
    INT_PTR nAuth = Handle("MY", auth.pszDisplayName);
    INT_PTR nSign = Handle("MY", sign.pszDisplayName);
    EXPECT_NE(nAuth, nSign);
    for (int i = 0; i < 50; i++) {
        ASSERT_EQ(Handle("MY", auth.pszDisplayName), nAuth);
        ASSERT_EQ(Handle("MY", sign.pszDisplayName), nSign);
    }
    ExpectSslObjectError([&] { m_Dlg.GetHTTPS().SetSSLCertStore("nada"); }, "CHTTPS::SetSSLCertStore");
    EXPECT_EQ(Thumbprint(AsCertificate(nAuth)), auth.pszThumbprint);
    EXPECT_EQ(Thumbprint(AsCertificate(nSign)), sign.pszThumbprint);
    EXPECT_EQ(Handle("MY", auth.pszDisplayName), nAuth);

    // The component's own view of what was set.
    EXPECT_EQ(m_Dlg.GetHTTPS().GetTextProperty(37), "MY");
    EXPECT_EQ(m_Dlg.GetHTTPS().GetTextProperty(38), auth.pszDisplayName);
}

TEST_F(CHTTPSTest, TwoDialogsWorkSideBySide)
{
    const TestPkiCert& auth = PkiCert("dni-auth");
    const TestPkiCert& fam2 = PkiCert("fam2");
    CHTTPSDlg other;
    ASSERT_TRUE(other.Create(NULL));
    other.GetHTTPS().SetSSLCertStore("MY");
    other.GetHTTPS().SetSSLCertSubject(fam2.pszDisplayName);
    INT_PTR nAuth = Handle("MY", auth.pszDisplayName);
    INT_PTR nFam2 = other.GetHTTPS().GetSSLCertHandle();
    EXPECT_EQ(Thumbprint(AsCertificate(nAuth)), auth.pszThumbprint);
    EXPECT_EQ(Thumbprint(AsCertificate(nFam2)), fam2.pszThumbprint);
    other.DestroyWindow();
    // The other dialog's end does not touch this one's handle or component.
    EXPECT_EQ(Thumbprint(AsCertificate(nAuth)), auth.pszThumbprint);
    EXPECT_EQ(Handle("MY", auth.pszDisplayName), nAuth);
}
