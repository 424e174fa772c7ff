// The whole pipeline of the application object (gzip inside, the signed
// message, Base64 outside) makes the pinned file (tests/fixtures/pinned) and
// the pinned log, and checks it back to the document with the pinned log.
#include <gtest/gtest.h>

#include "cert/wincrypt/CWincryptSession.h"
#include "tests/app/AppTestSupport.h"
#include "tests/app/RealSession.h"
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

class PinnedPipelineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        apptest::WriteIni("Log=1\r\n");
        ASSERT_EQ(0, ResultOf([] { GetTarvoselApp().Initialize(0); }));
        m_strDir = tvltest::MakeScratchFolder("pinned");
        m_strTemp = tvltest::MakeScratchFolder("pinned-temp");
        GetTarvoselApp().SetTempDir(m_strTemp);
        CWincryptSession::SetSigningClock(PinnedClock);
        ASSERT_NO_FATAL_FAILURE(apptest::AdoptRealSession("dni-sign", "dni-auth"));
    }
    void TearDown() override
    {
        CWincryptSession::SetSigningClock(nullptr);
        ResultOf([] { GetTarvoselApp().Finalize(); });
        tvltest::RemoveFolder(m_strDir);
        tvltest::RemoveFolder(m_strTemp);
        DeleteFileA(apptest::IniPath().c_str());
    }
    std::string Path(const char* pszName) const { return m_strDir + pszName; }
    std::string LogText(const tvltest::LogCapture& log) const
    {
        return tvltest::PinnedLogText(log.Lines(), {{m_strDir, "<dir>\\"},
                                                    {m_strTemp, "<temp>\\"},
                                                    {TVL_PINNED_DIR, "<pinned>"}});
    }
    std::string m_strDir, m_strTemp;
};
}  // namespace

TEST_F(PinnedPipelineTest, SigningAndCheckingWithBothLayersGiveThePinnedFilesAndLogs)
{
    const std::string strData = tvltest::PinnedDocument(200000);
    ASSERT_TRUE(tvltest::WriteAll(Path("doc.bin"), strData));
    {
        tvltest::LogCapture log("pinned-sign");
        ASSERT_EQ(0, ResultOf([&] {
                      GetTarvoselApp().SignFile(Path("doc.bin"), Path("doc.b64"), "MD5WITHRSA", 1, 1);
                  }));
        const std::string strSigned = tvltest::ReadAll(Path("doc.b64"));
        EXPECT_TRUE(strSigned == tvltest::Pinned("pipeline.b64", strSigned)) << "pipeline.b64 differs";
        const std::string strLog = LogText(log);
        EXPECT_EQ(tvltest::Pinned("pipeline-sign.log", strLog), strLog);
    }
    {
        tvltest::LogCapture log("pinned-check");
        ASSERT_EQ(0, ResultOf([&] {
                      GetTarvoselApp().CheckSignedFile(tvltest::PinnedPath("pipeline.b64"),
                                                       Path("back.bin"), 1, 1);
                  }));
        EXPECT_TRUE(strData == tvltest::ReadAll(Path("back.bin")));
        const std::string strLog = LogText(log);
        EXPECT_EQ(tvltest::Pinned("pipeline-check.log", strLog), strLog);
    }
}

// Every other combination of layers: the signed message and the Base64 text
// are the ones inside the pinned files.
TEST_F(PinnedPipelineTest, OtherLayerCombinationsMatchThePinnedLayers)
{
    struct Case {
        size_t nSize;
        int bBase64, bCompress;
        std::string strExpected;
    } cases[] = {
        {14000, 0, 0, tvltest::ReadAll(tvltest::PinnedPath("sign-14000.p7"))},
        {14000, 1, 0, tvltest::EncodeBase64(tvltest::ReadAll(tvltest::PinnedPath("sign-14000.p7")))},
        {200000, 0, 1, tvltest::DecodeBase64(tvltest::ReadAll(tvltest::PinnedPath("pipeline.b64")))},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.nSize) + " base64 " + std::to_string(c.bBase64) + " gzip " +
                     std::to_string(c.bCompress));
        ASSERT_FALSE(c.strExpected.empty());
        ASSERT_TRUE(tvltest::WriteAll(Path("doc.bin"), tvltest::PinnedDocument(c.nSize)));
        ASSERT_EQ(0, ResultOf([&] {
                      GetTarvoselApp().SignFile(Path("doc.bin"), Path("doc.out"), "MD5WITHRSA",
                                                c.bBase64, c.bCompress);
                  }));
        EXPECT_TRUE(c.strExpected == tvltest::ReadAll(Path("doc.out")));
    }
}
