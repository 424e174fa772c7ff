#include "tests/https/HttpsTestSupport.h"
#include <stdint.h>
#include <vector>

// The platform's own PFX import puts every key into the user's default
// container; the component imports into containers of its own. These tests
// look at the user's containers, so they run alone (SERIAL).

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
    INT_PTR nHandle = Handle(PfxStoreText("dni-auth", TESTPKI_PFX_PASSWORD), auth.pszDisplayName);
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

// The public key blob of a container's exchange key; empty when it has none.
static std::vector<BYTE> ExchangeKeyBlob(const wchar_t* pszContainer)
{
    std::vector<BYTE> blob;
    HCRYPTPROV hProv = 0;
    HCRYPTKEY hKey = 0;
    DWORD cb = 0;
    if (!CryptAcquireContextW(&hProv, pszContainer, MS_ENHANCED_PROV_W, PROV_RSA_FULL, 0))
        return blob;
    if (CryptGetUserKey(hProv, AT_KEYEXCHANGE, &hKey) &&
        CryptExportKey(hKey, 0, PUBLICKEYBLOB, 0, NULL, &cb)) {
        blob.resize(cb);
        if (!CryptExportKey(hKey, 0, PUBLICKEYBLOB, 0, blob.data(), &cb))
            blob.clear();
    }
    if (hKey != 0)
        CryptDestroyKey(hKey);
    CryptReleaseContext(hProv, 0);
    return blob;
}

// The user's default container (where the platform's own import would land)
// keeps its key through imports and the component's end.
TEST_F(CHTTPSPfxTest, PfxImportLeavesTheUsersDefaultContainerAlone)
{
    HCRYPTPROV hProv = 0;
    HCRYPTKEY hKey = 0;
    if (!CryptAcquireContextW(&hProv, NULL, MS_ENHANCED_PROV_W, PROV_RSA_FULL, 0)) {
        ASSERT_TRUE(CryptAcquireContextW(&hProv, NULL, MS_ENHANCED_PROV_W, PROV_RSA_FULL, CRYPT_NEWKEYSET))
            << std::hex << GetLastError();
    }
    ASSERT_TRUE(CryptGenKey(hProv, AT_KEYEXCHANGE, 1024 << 16, &hKey));
    CryptDestroyKey(hKey);
    CryptReleaseContext(hProv, 0);
    std::vector<BYTE> before = ExchangeKeyBlob(NULL);
    ASSERT_FALSE(before.empty());

    INT_PTR nFirst = Handle(PfxStoreText("dni-auth", TESTPKI_PFX_PASSWORD), "*");
    INT_PTR nSecond = Handle(PfxStoreText("fam2", TESTPKI_PFX_PASSWORD), "*");
    EXPECT_EQ(ExchangeKeyBlob(NULL), before);
    // Each import has its own key: the first one's still signs.
    for (INT_PTR nHandle : {nFirst, nSecond}) {
        HCRYPTPROV hKeyProv = 0;
        DWORD dwSpec = 0;
        BOOL bFree = FALSE;
        ASSERT_TRUE(CryptAcquireCertificatePrivateKey(AsCertificate(nHandle), 0, NULL, &hKeyProv,
                                                      &dwSpec, &bFree))
            << std::hex << GetLastError();
        HCRYPTHASH hHash = 0;
        BYTE abSignature[512];
        DWORD cb = sizeof(abSignature);
        ASSERT_TRUE(CryptCreateHash(hKeyProv, CALG_SHA1, 0, 0, &hHash));
        ASSERT_TRUE(CryptHashData(hHash, reinterpret_cast<const BYTE*>("x"), 1, 0));
        EXPECT_TRUE(CryptSignHashA(hHash, dwSpec, NULL, 0, abSignature, &cb)) << std::hex << GetLastError();
        CryptDestroyHash(hHash);
        if (bFree)
            CryptReleaseContext(hKeyProv, 0);
    }
    m_Dlg.DestroyWindow();
    EXPECT_EQ(ExchangeKeyBlob(NULL), before);
    CryptAcquireContextW(&hProv, NULL, MS_ENHANCED_PROV_W, PROV_RSA_FULL, CRYPT_DELETEKEYSET);
}

// The store text reads back without its password.
TEST_F(CHTTPSPfxTest, PfxPasswordIsNotKept)
{
    std::string strStore = PfxStoreText("dni-auth", TESTPKI_PFX_PASSWORD);
    Handle(strStore, "*");
    std::string strKept = m_Dlg.GetHTTPS().GetTextProperty(37);
    EXPECT_EQ(strKept, strStore.substr(0, strStore.find('*')));
    EXPECT_EQ(strKept.find(TESTPKI_PFX_PASSWORD), std::string::npos);
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
