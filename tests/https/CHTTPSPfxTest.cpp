#include "tests/https/HttpsTestSupport.h"
#include <stdint.h>
#include <vector>

// Wine puts every PFX import's key into one container named after the user, so
// the tests that import run alone (SERIAL).

namespace {

std::wstring KeyContainer(PCCERT_CONTEXT pCert, std::wstring* pProvider, DWORD* pType)
{
    DWORD cb = 0;
    if (!CertGetCertificateContextProperty(pCert, CERT_KEY_PROV_INFO_PROP_ID, NULL, &cb))
        return std::wstring();
    std::vector<BYTE> buffer(cb);
    if (!CertGetCertificateContextProperty(pCert, CERT_KEY_PROV_INFO_PROP_ID, buffer.data(), &cb))
        return std::wstring();
    const CRYPT_KEY_PROV_INFO* pInfo = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(buffer.data());
    *pProvider = pInfo->pwszProvName != NULL ? pInfo->pwszProvName : L"";
    *pType = pInfo->dwProvType;
    return pInfo->pwszContainerName != NULL ? pInfo->pwszContainerName : L"";
}

}  // namespace

using CHTTPSPfxTest = CHTTPSTest;

TEST_F(CHTTPSPfxTest, PfxFileWithItsPasswordGivesItsCertificate)
{
    const TestPkiCert& auth = PkiCert("dni-auth");
    int nHandle = Handle(PfxStoreText("dni-auth", TESTPKI_PFX_PASSWORD), auth.pszDisplayName);
    PCCERT_CONTEXT pCert = AsCertificate(nHandle);
    EXPECT_EQ(Thumbprint(pCert), auth.pszThumbprint);
    ASSERT_TRUE(HasKeyProvider(pCert));
    // The handle is not one from the "MY" store.
    EXPECT_NE(nHandle, Handle("MY", auth.pszDisplayName));

    // The import's key container belongs to the component and goes with it.
    std::wstring strProvider;
    DWORD dwType = 0;
    std::wstring strContainer = KeyContainer(pCert, &strProvider, &dwType);
    ASSERT_FALSE(strContainer.empty());
    HCRYPTPROV hProv = 0;
    ASSERT_TRUE(CryptAcquireContextW(&hProv, strContainer.c_str(), strProvider.c_str(), dwType, 0))
        << std::hex << GetLastError();
    CryptReleaseContext(hProv, 0);
    m_Dlg.DestroyWindow();
    EXPECT_FALSE(CryptAcquireContextW(&hProv, strContainer.c_str(), strProvider.c_str(), dwType, 0));
}

// Handles are given out lowest free slot first, so a fresh handle's value shows
// whether handles piled up (Wine's GetProcessHandleCount is a stub that says 0).
static uintptr_t NextHandleValue()
{
    HANDLE h = CreateEventA(NULL, TRUE, FALSE, NULL);
    EXPECT_NE(h, (HANDLE)NULL);
    CloseHandle(h);
    return reinterpret_cast<uintptr_t>(h);
}

// Dialogs made and destroyed over and over, each with a store open and a
// handle given out, leave no system handles behind.
TEST_F(CHTTPSPfxTest, RepeatedDialogsDoNotLeakHandles)
{
    const TestPkiCert& auth = PkiCert("dni-auth");
    auto cycle = [&] {
        CHTTPSDlg dlg;
        ASSERT_TRUE(dlg.Create(NULL));
        dlg.GetHTTPS().SetSSLCertStore("MY");
        dlg.GetHTTPS().SetSSLCertSubject(auth.pszDisplayName);
        EXPECT_EQ(Thumbprint(AsCertificate(dlg.GetHTTPS().GetSSLCertHandle())), auth.pszThumbprint);
        dlg.GetHTTPS().SetSSLCertStore("MY");
        dlg.GetHTTPS().SetSSLCertStore(PfxStoreText("fam2", TESTPKI_PFX_PASSWORD).c_str());
        dlg.GetHTTPS().SetSSLCertSubject("*");
        EXPECT_EQ(Thumbprint(AsCertificate(dlg.GetHTTPS().GetSSLCertHandle())), PkiCert("fam2").pszThumbprint);
    };
    for (int i = 0; i < 3; i++)
        cycle();
    uintptr_t nBefore = NextHandleValue();
    for (int i = 0; i < 50; i++)
        cycle();
    uintptr_t nAfter = NextHandleValue();
    EXPECT_LE(nAfter, nBefore + 4 * 8) << "before " << nBefore << ", after " << nAfter;

}
