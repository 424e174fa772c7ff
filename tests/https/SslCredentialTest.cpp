#include "tests/https/HttpsTestSupport.h"
#include "https/CHTTPSDlg.h"
#define SECURITY_WIN32
#include <security.h>
#include <schannel.h>

using SslCredentialTest = HttpsTest;

// What a host does with the handle: an SSL client credential on it.
TEST_F(SslCredentialTest, HandleMakesAnSchannelClientCredential)
{
    CHTTPSDlg dlg;
    ASSERT_TRUE(dlg.Create(NULL));
    dlg.GetHTTPS().SetSSLCertStore("MY");
    dlg.GetHTTPS().SetSSLCertSubject(PkiCert("dni-auth").pszDisplayName);
    PCCERT_CONTEXT pCert = AsCertificate(dlg.GetHTTPS().GetSSLCertHandle());

    SCHANNEL_CRED cred = {};
    cred.dwVersion = SCHANNEL_CRED_VERSION;
    cred.cCreds = 1;
    cred.paCred = &pCert;
    cred.dwFlags = SCH_CRED_NO_DEFAULT_CREDS | SCH_CRED_MANUAL_CRED_VALIDATION;
    CredHandle hCred;
    TimeStamp tsExpiry;
    SECURITY_STATUS status = AcquireCredentialsHandleA(NULL, const_cast<SEC_CHAR*>(UNISP_NAME_A),
                                                       SECPKG_CRED_OUTBOUND, NULL, &cred, NULL, NULL, &hCred,
                                                       &tsExpiry);
    // The credential needs the certificate's private key: a handle without it is refused.
    ASSERT_EQ(status, SEC_E_OK) << "schannel refuses the client credential: 0x" << std::hex
                                << (unsigned long)status;
    EXPECT_EQ(FreeCredentialsHandle(&hCred), SEC_E_OK);
}
