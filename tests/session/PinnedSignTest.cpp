// Signed files are byte for byte those of the pinned files (tests/fixtures/pinned):
// the message's layout, one content segment per 4096 bytes read, included.
#include <gtest/gtest.h>

#include "app/CTarvoselApp.h"
#include "cert/wincrypt/CAPIWincrypt.h"
#include "cert/wincrypt/CWincryptSession.h"
#include "tests/session/SessionTestSupport.h"
#include "tests/support/PinnedFiles.h"
#include "tests/support/TestCapture.h"

using tvltest::ResultOf;

namespace {
void WINAPI PinnedClock(LPSYSTEMTIME pst)
{
    const SYSTEMTIME st = {2025, 6, 0, 15, 8, 30, 0, 0};
    *pst = st;
}

class PinnedSignTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { CAPIWincrypt::Load(); }
    void SetUp() override
    {
        m_strDir = tvltest::MakeScratchFolder("pinned-sign");
        CWincryptSession::SetSigningClock(PinnedClock);
    }
    void TearDown() override
    {
        CWincryptSession::SetSigningClock(nullptr);
        tvltest::RemoveFolder(m_strDir);
    }
    std::string Path(const char* pszName) const { return m_strDir + pszName; }
    std::string m_strDir;
};
}  // namespace

TEST_F(PinnedSignTest, SignedFilesAreThePinnedOnesAndDecodeToTheirContent)
{
    sessiontest::Choice c("dni-sign", "dni-auth");
    ASSERT_TRUE(c.IsComplete());
    CWincryptSession session;
    ASSERT_EQ(0, ResultOf([&] { session.Open(&c.login); }));
    c.choice.lstCertificates.clear();
    // Empty, a whole number of blocks (an empty last read), and a short last block.
    for (size_t nSize : {size_t(0), size_t(8192), size_t(14000)}) {
        SCOPED_TRACE(nSize);
        const std::string strData = tvltest::PinnedDocument(nSize);
        ASSERT_TRUE(tvltest::WriteAll(Path("doc.bin"), strData));
        ASSERT_EQ(0, ResultOf([&] { session.SignFile(Path("doc.bin"), Path("doc.p7"), "MD5WITHRSA"); }));
        const std::string strSigned = tvltest::ReadAll(Path("doc.p7"));
        const std::string strName = "sign-" + std::to_string(nSize) + ".p7";
        EXPECT_TRUE(strSigned == tvltest::Pinned(strName, strSigned)) << strName << " differs";

        CSignInfoList signers;
        ASSERT_EQ(0, ResultOf([&] {
                      GetTarvoselApp().CheckSignedFile_(tvltest::PinnedPath(strName),
                                                        Path("back.bin"), signers);
                  }));
        EXPECT_EQ(1u, signers.size());
        DeleteSignInfoList(signers);
        EXPECT_TRUE(strData == tvltest::ReadAll(Path("back.bin")));
    }
}
