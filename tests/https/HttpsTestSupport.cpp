#include "tests/https/HttpsTestSupport.h"
#include "api/ResultCodes.h"
#include "tests/support/TestCapture.h"
#include <stdint.h>
#include <stdio.h>

void CHTTPSTest::SetUp()
{
    HttpsTest::SetUp();
    ASSERT_TRUE(m_Dlg.Create(NULL));
    m_Dlg.ShowWindow(SW_HIDE);
}

INT_PTR CHTTPSTest::Handle(const std::string& strStore, const char* pszSubject)
{
    m_Dlg.GetHTTPS().SetSSLCertStore(strStore.c_str());
    m_Dlg.GetHTTPS().SetSSLCertSubject(pszSubject);
    return m_Dlg.GetHTTPS().GetSSLCertHandle();
}

void ExpectSslObjectError(const std::function<void()>& fn, const char* pszContext)
{
    tvltest::CaughtFailure r = tvltest::Capture(fn);
    if (!r.bThrown) {
        ADD_FAILURE() << "no exception, expected one from " << pszContext;
        return;
    }
    EXPECT_EQ(r.nKind, EXC_OWN);
    EXPECT_EQ(r.nCode, ERR_SSL_OBJECT);
    EXPECT_EQ(r.strContext, pszContext);
}

const TestPkiCert& PkiCert(const char* pszName)
{
    const TestPkiCert* pCert = FindTestPkiCert(pszName);
    if (pCert == NULL) {
        ADD_FAILURE() << "no test certificate " << pszName;
        return g_aTestPki[0];
    }
    return *pCert;
}

std::string PfxStoreText(const char* pszName, const char* pszPassword)
{
    return std::string("PFX\\") + TVL_PKI_DIR + "/" + PkiCert(pszName).pszPfxFile + "*" + pszPassword;
}

PCCERT_CONTEXT AsCertificate(INT_PTR nHandle)
{
    return reinterpret_cast<PCCERT_CONTEXT>(nHandle);
}

std::string Thumbprint(PCCERT_CONTEXT pCert)
{
    BYTE hash[20];
    DWORD cb = sizeof(hash);
    if (pCert == NULL || !CertGetCertificateContextProperty(pCert, CERT_SHA1_HASH_PROP_ID, hash, &cb) ||
        cb != sizeof(hash))
        return std::string();
    std::string str;
    char sz[4];
    for (DWORD i = 0; i < cb; i++) {
        snprintf(sz, sizeof(sz), i == 0 ? "%02X" : ":%02X", hash[i]);
        str += sz;
    }
    return str;
}

bool HasKeyProvider(PCCERT_CONTEXT pCert)
{
    DWORD cb = 0;
    return CertGetCertificateContextProperty(pCert, CERT_KEY_PROV_INFO_PROP_ID, NULL, &cb) && cb > 0;
}
