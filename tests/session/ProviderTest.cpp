// The contexts that digest, sign and check: on systems whose AES provider goes
// by another name, or that have no AES provider at all, MD5 files still sign
// and check.
#include <gtest/gtest.h>

#include <string.h>

#include "api/ResultCodes.h"
#include "app/CTarvoselApp.h"
#include "cert/wincrypt/CAPIWincrypt.h"
#include "cert/wincrypt/CWincryptPkcs7Crypto.h"
#include "cert/wincrypt/CWincryptSession.h"
#include "tests/session/SessionTestSupport.h"
#include "tests/support/TestCapture.h"
#include "tests/support/TestFiles.h"

using tvltest::ResultOf;

namespace {

enum ERefusal { REFUSE_NOTHING, REFUSE_AES_NAME, REFUSE_AES_TYPE };
ERefusal g_eRefusal = REFUSE_NOTHING;
decltype(CAPIWincrypt::CryptAcquireContextA) g_pfnRealAcquire = nullptr;

// A provider that is not there, as the platform reports it.
BOOL WINAPI AcquireWithout(HCRYPTPROV* phProv, LPCSTR pszContainer, LPCSTR pszProvider,
                           DWORD dwProvType, DWORD dwFlags)
{
    bool bRefused =
        (g_eRefusal == REFUSE_AES_NAME && pszProvider != nullptr &&
         strcmp(pszProvider, "Microsoft Enhanced RSA and AES Cryptographic Provider") == 0) ||
        (g_eRefusal == REFUSE_AES_TYPE && dwProvType == PROV_RSA_AES);
    if (bRefused) {
        SetLastError(static_cast<DWORD>(NTE_PROV_TYPE_NOT_DEF));
        return FALSE;
    }
    return g_pfnRealAcquire(phProv, pszContainer, pszProvider, dwProvType, dwFlags);
}

class ProviderTest : public ::testing::TestWithParam<ERefusal> {
protected:
    static void SetUpTestSuite() { CAPIWincrypt::Load(); }
    void SetUp() override
    {
        m_strDir = tvltest::MakeScratchFolder("provider");
        g_pfnRealAcquire = CAPIWincrypt::CryptAcquireContextA;
        g_eRefusal = GetParam();
        CAPIWincrypt::CryptAcquireContextA = AcquireWithout;
    }
    void TearDown() override
    {
        CAPIWincrypt::CryptAcquireContextA = g_pfnRealAcquire;
        g_eRefusal = REFUSE_NOTHING;
        tvltest::RemoveFolder(m_strDir);
    }
    std::string Path(const char* pszName) const { return m_strDir + pszName; }
    std::string m_strDir;
};

std::string Name(const ::testing::TestParamInfo<ERefusal>& info)
{
    return info.param == REFUSE_AES_NAME ? "AesProviderRenamed" : "NoAesProvider";
}

}  // namespace

TEST_P(ProviderTest, DigestsComeFromTheProviderType)
{
    CWincryptPkcs7Crypto crypto;
    ASSERT_TRUE(crypto.IsReady()) << GetLastError();
    for (const char* pszOid : {"1.2.840.113549.2.5", "1.2.840.113549.2.2", "1.3.14.3.2.26"})
        EXPECT_TRUE(crypto.CreateDigest(pszOid) != nullptr) << pszOid;
    // SHA-256 needs the AES type, under whatever name it is installed.
    EXPECT_EQ(GetParam() == REFUSE_AES_NAME,
              crypto.CreateDigest("2.16.840.1.101.3.4.2.1") != nullptr);
}

TEST_P(ProviderTest, Md5FilesSignAndCheck)
{
    sessiontest::Choice c("soft-ds", "soft-ds");
    ASSERT_TRUE(c.IsComplete());
    CWincryptSession session;
    ASSERT_EQ(0, ResultOf([&] { session.Open(&c.login); }));
    c.choice.lstCertificates.clear();
    tvltest::WriteAll(Path("in"), std::string(5000, 'x') + "fin");
    ASSERT_EQ(0, ResultOf([&] { session.SignFileC2(Path("in"), Path("signed"), "MD5WITHRSA"); }));
    ASSERT_EQ(0, ResultOf([&] { session.SignFile(Path("in"), Path("signed1"), "MD5WITHRSA"); }));
    for (const char* pszSigned : {"signed", "signed1"}) {
        CSignInfoList signers;
        EXPECT_EQ(0, ResultOf([&] {
                      GetTarvoselApp().CheckSignedFile_(Path(pszSigned), Path("content"), signers);
                  }))
            << pszSigned;
        EXPECT_EQ(1u, signers.size());
        DeleteSignInfoList(signers);
        EXPECT_EQ(std::string(5000, 'x') + "fin", tvltest::ReadAll(Path("content")));
    }
}

INSTANTIATE_TEST_SUITE_P(Systems, ProviderTest, ::testing::Values(REFUSE_AES_NAME, REFUSE_AES_TYPE),
                         Name);
