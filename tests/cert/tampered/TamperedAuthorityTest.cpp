// This executable carries the embedded authorities with one byte of the production
// subordinate (index 2) changed. Its key is untouched, so only the fingerprint
// check keeps it from being taken as the issuer of what the real one issued.
#include "tests/cert/CertTestSupport.h"

#include "util/CHiddenStrings.h"
#include "cert/wincrypt/CAuthorityStore.h"
#include "platform/framework/CWinApp.h"
#include "util/CUtil.h"

using namespace certtest;

namespace
{

const char MANIPULATED[] = "Certificado en tarvosel manipulado";

class TamperedAuthority : public CertTest
{
};

int Count(const std::vector<std::string>& lines, const std::string& line)
{
    return (int)std::count(lines.begin(), lines.end(), line);
}

TEST_F(TamperedAuthority, TheChangedResourceStillHoldsTheSubordinateKey)
{
    HMODULE module = CWinApp::GetInstanceHandle();
    HRSRC res = FindResourceExA(module, "CERTIFICATE", MAKEINTRESOURCEA(1041),
                                MAKELANGID(LANG_SPANISH, SUBLANG_SPANISH_MODERN));
    ASSERT_NE(res, nullptr);
    const BYTE* data = (const BYTE*)LockResource(LoadResource(module, res));
    DWORD size = SizeofResource(module, res);
    Bytes der(4 * size);
    unsigned long derSize = (unsigned long)der.size();
    CUtil::UnzipBuffer(der.data(), &derSize, data, size);
    der.resize(derSize);

    CWincryptCertificate tampered;
    tampered.Create2(der.data(), (DWORD)der.size());
    EXPECT_NE(tampered.GetThumbprint(), CHiddenStrings::GetString(4));
    EXPECT_EQ(tampered.GetSubject().find("CN=Ormavia CA Rubordinada Produccion G2"), 0u) << tampered.GetSubject();

    // Left unchecked, it would pass for the issuer of dni-auth.
    DWORD flags = CERT_STORE_SIGNATURE_FLAG;
    ASSERT_TRUE(CAPIWincrypt::CertVerifySubjectCertificateContext(PkiCertificate("dni-auth")->GetContext(),
                                                                   tampered.GetContext(), &flags));
    EXPECT_EQ(flags & CERT_STORE_SIGNATURE_FLAG, 0u);
}

TEST_F(TamperedAuthority, LoadingItGivesNothingAndIsLogged)
{
    LogCapture log;
    EXPECT_EQ(CAuthorityStore::LoadAuthorityCertificate(1041, CHiddenStrings::GetString(4)), nullptr);
    EXPECT_EQ(log.Lines(), std::vector<std::string>{MANIPULATED});
    // The untouched ones load as before.
    std::unique_ptr<CWincryptCertificate> root(CAuthorityStore::LoadAuthorityCertificate(1039, CHiddenStrings::GetString(3)));
    EXPECT_TRUE(root);
}

TEST_F(TamperedAuthority, ItIsNeverTakenAsTheIssuer)
{
    for (const TestPkiCert& rec : g_aTestPki)
    {
        SCOPED_TRACE(rec.pszName);
        LogCapture log;
        int index = CAuthorityStore::FindIssuingAuthority(PkiCertificate(rec.pszName).get());
        // What index 2 issued is recognised by nobody; the others still are.
        int expected = rec.nAuthority == 2 ? -1 : rec.nAuthority;
        EXPECT_EQ(index, expected);
        std::vector<std::string> lines = log.Lines();
        // The search reaches index 2 unless an earlier authority matched.
        bool passedIndex2 = expected < 0 || expected > 2;
        EXPECT_EQ(Count(lines, MANIPULATED), passedIndex2 ? 1 : 0) << log.Text();
        EXPECT_EQ(Count(lines, "Emisor reconocido. Entorno: " + AuthorityLabel(expected)), expected >= 0 ? 1 : 0);
    }
}

}  // namespace
