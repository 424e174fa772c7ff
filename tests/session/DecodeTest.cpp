#include <gtest/gtest.h>

#include <algorithm>

#include "api/ResultCodes.h"
#include "app/CTarvoselApp.h"
#include "cert/wincrypt/CAPIWincrypt.h"
#include "cert/wincrypt/CWincryptSession.h"
#include "tests/session/SessionTestSupport.h"
#include "tests/support/TestCapture.h"
#include "tests/support/TestFiles.h"

using tvltest::ResultOf;

namespace {
class DecodeTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { CAPIWincrypt::Load(); }
    void SetUp() override { m_strDir = tvltest::MakeScratchFolder("decode"); }
    void TearDown() override { tvltest::RemoveFolder(m_strDir); }
    std::string Path(const char* pszName) const { return m_strDir + pszName; }
    // Decodes and returns the result code; the signer list is cleaned up.
    int Decode(const std::string& strIn, const std::string& strOut, size_t* pnSigners = nullptr)
    {
        CSignInfoList signers;
        int n = ResultOf([&] { GetTarvoselApp().CheckSignedFile_(strIn, strOut, signers); });
        if (pnSigners != nullptr)
            *pnSigners = signers.size();
        DeleteSignInfoList(signers);
        return n;
    }
    std::string SignSample()
    {
        sessiontest::Choice c("soft-ds", "soft-ds");
        CWincryptSession session;
        session.Open(&c.login);
        c.choice.lstCertificates.clear();
        tvltest::WriteAll(Path("in"), std::string(10000, 'A') + "contenido firmado");
        session.SignFileC2(Path("in"), Path("signed"), "MD5WITHRSA");
        return tvltest::ReadAll(Path("signed"));
    }
    std::string m_strDir;
};
}  // namespace

TEST_F(DecodeTest, FileErrors)
{
    EXPECT_EQ(ERR_FILE_READ, Decode(Path("missing"), Path("content")));
    tvltest::WriteAll(Path("in"), "x");
    EXPECT_EQ(ERR_FILE_READ, Decode(Path("in"), Path("no-folder\\content")));
    // Decoding a file onto itself would empty it before reading it.
    std::string strSigned = SignSample();
    EXPECT_EQ(ERR_FILE_READ, Decode(Path("signed"), Path("signed")));
    EXPECT_EQ(strSigned, tvltest::ReadAll(Path("signed")));
}

TEST_F(DecodeTest, DamagedMessagesAreRejected)
{
    std::string strSigned = SignSample();
    ASSERT_GT(strSigned.size(), 10100u);
    size_t nContent = strSigned.find("contenido firmado");
    ASSERT_NE(std::string::npos, nContent);

    // Everything of the message up to its certificates is sound: what follows
    // decides.
    const std::string strCertificates("\0\0\0\0\0\0\xA0\x82", 8);
    size_t nCertificates = strSigned.find(strCertificates);
    ASSERT_NE(std::string::npos, nCertificates);
    const std::string strPrefix = strSigned.substr(0, nCertificates + 6);

    struct Case {
        const char* pszWhat;
        std::string strData;
        const char* pszCause;  // what the log says is wrong
    };
    std::string strDeep;
    for (int i = 0; i < 40; ++i)
        strDeep += "\x30\x80";
    const char* const kLimit = "se ha superado un l\xEDmite de tama\xF1o";
    std::vector<Case> cases = {
        {"empty", "", "mensaje incompleto"},
        {"garbage", std::string(5000, '\x5A'), "no es un mensaje PKCS#7"},
        {"text", "esto no es un mensaje firmado\r\n", "no es un mensaje PKCS#7"},
        {"truncated", strSigned.substr(0, strSigned.size() - 7), "mensaje incompleto"},
        {"half", strSigned.substr(0, strSigned.size() / 2), "mensaje incompleto"},
        {"length beyond the data", std::string("\x30\x84\x7F\xFF\xFF\xFF\x06\x09", 8),
         "mensaje incompleto"},
        // Refused when declared, not after a gigabyte has been read.
        {"absurd length: a certificate of 1 GiB",
         strPrefix + std::string("\xA0\x84\x40\x00\x00\x06\x30\x84\x40\x00\x00\x00", 12),
         kLimit},
        {"deep nesting: 40 levels in the certificates", strPrefix + "\xA0\x80" + strDeep, kLimit},
    };
    std::string strContent = strSigned;
    strContent[nContent] ^= 0x01;
    cases.push_back({"content byte", strContent, "el contenido no coincide con el resumen firmado"});
    std::string strSignature = strSigned;
    // The signature's last byte: the writer ends with three end-of-contents marks.
    ASSERT_EQ(std::string(6, '\0'), strSigned.substr(strSigned.size() - 6));
    strSignature[strSigned.size() - 7] ^= 0x01;
    cases.push_back({"signature byte", strSignature, "la firma no es correcta"});

    for (const Case& c : cases) {
        tvltest::WriteAll(Path("bad"), c.strData);
        tvltest::LogCapture log("damaged");
        DWORD dwStart = GetTickCount();
        int nResult = Decode(Path("bad"), Path("content"));
        EXPECT_LT(nResult, 0) << c.pszWhat;
        EXPECT_NE(ERR_FILE_READ, nResult) << c.pszWhat;
        EXPECT_LT(GetTickCount() - dwStart, 5000u) << c.pszWhat;
        EXPECT_NE(std::string::npos, log.Text().find(std::string(c.pszCause) + "\r\n"))
            << c.pszWhat << ": " << log.Text();
    }
    tvltest::WriteAll(Path("bad"), strSigned);
    size_t nSigners = 0;
    EXPECT_EQ(0, Decode(Path("bad"), Path("content"), &nSigners));
    EXPECT_EQ(1u, nSigners);
}

TEST_F(DecodeTest, ReadFailureIsLoggedAsOne)
{
    // Wine maps Z: to the Unix root; the process's own memory file opens, and
    // reading it from offset 0 (never mapped) fails.
    const std::string strUnreadable = "Z:\\proc\\self\\mem";
    tvltest::LogCapture log("readfailure");
    EXPECT_EQ(ERR_FILE_READ, Decode(strUnreadable, Path("content")));
    std::string s = log.Text();
    EXPECT_NE(std::string::npos, s.find(" - Error al leer fichero '" + strUnreadable + "': ")) << s;
    EXPECT_EQ(std::string::npos, s.find("error al escribir el contenido")) << s;
}

TEST_F(DecodeTest, WriteFailureOfTheContentIsLoggedAsOne)
{
    SignSample();
    // Wine maps Z: to the Unix root; /dev/full takes the open and fails every write.
    const std::string strFull = "Z:\\dev\\full";
    tvltest::LogCapture log("writefailure");
    EXPECT_LT(Decode(Path("signed"), strFull), 0);
    std::string s = log.Text();
    EXPECT_NE(std::string::npos, s.find(" - Error al escribir en fichero '" + strFull + "': ")) << s;
    EXPECT_EQ(std::string::npos, s.find("Mensaje firmado no v\xE1lido")) << s;
}

// A message cut short fails, and the content extracted before the cut is in
// the output, every byte of it, wherever the cut falls among the reads and
// writes of the decoding.
TEST_F(DecodeTest, AMessageCutShortLeavesTheContentBeforeTheCut)
{
    sessiontest::Choice c("soft-ds", "soft-ds");
    CWincryptSession session;
    ASSERT_EQ(0, ResultOf([&] { session.Open(&c.login); }));
    c.choice.lstCertificates.clear();
    std::string strData(3 * 1024 * 1024 + 777, '\0');
    for (size_t i = 0; i < strData.size(); ++i)
        strData[i] = static_cast<char>(i * 13 + i / 5000);
    tvltest::WriteAll(Path("in"), strData);
    ASSERT_EQ(0, ResultOf([&] { session.SignFileC2(Path("in"), Path("signed"), "MD5WITHRSA"); }));
    const std::string strSigned = tvltest::ReadAll(Path("signed"));
    // The content comes in segments of 4096 bytes, each after a 4-byte header.
    const size_t nFirst = strSigned.find(std::string("\x24\x80\x04\x82\x10\x00", 6));
    ASSERT_NE(std::string::npos, nFirst);
    for (size_t nCut : {size_t(1024 * 1024), size_t(2 * 1024 * 1024 + 4097), strSigned.size() / 2}) {
        SCOPED_TRACE(nCut);
        tvltest::WriteAll(Path("cut"), strSigned.substr(0, nCut));
        tvltest::LogCapture log("cut");
        EXPECT_LT(Decode(Path("cut"), Path("content")), 0);
        EXPECT_TRUE(log.Contains("mensaje incompleto"));
        size_t nContent = 0;
        for (size_t nAt = nFirst + 2 + 4; nAt < nCut; nAt += 4096 + 4)
            nContent += std::min<size_t>(4096, nCut - nAt);
        EXPECT_TRUE(strData.substr(0, nContent) == tvltest::ReadAll(Path("content")));
    }
}
