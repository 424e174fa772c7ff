// CUtil buffer functions: zlib stream decompression and Base64 into a caller's buffer.
#include "UtilTestSupport.h"

#include <string>
#include <vector>

#include <zlib.h>

#include "api/ResultCodes.h"
#include "util/CUtil.h"

class UtilBuffers : public UtilFilesTest {};

TEST_F(UtilBuffers, UnzipBufferRestoresZlibStream)
{
    const std::string strData = Binary(20000);
    std::vector<BYTE> packed(compressBound(strData.size()));
    uLongf cbPacked = packed.size();
    ASSERT_EQ(compress(packed.data(), &cbPacked, reinterpret_cast<const Bytef*>(strData.data()),
                       strData.size()),
              Z_OK);

    std::vector<BYTE> out(strData.size() + 100);
    unsigned long cbOut = out.size();
    CUtil::UnzipBuffer(out.data(), &cbOut, packed.data(), cbPacked);
    ASSERT_EQ(cbOut, strData.size());
    EXPECT_TRUE(std::string(reinterpret_cast<char*>(out.data()), cbOut) == strData);
}

TEST_F(UtilBuffers, UnzipBufferFailuresAreLogged)
{
    const std::string strData = Binary(1000);
    BYTE packed[2000];
    uLongf cbPacked = sizeof(packed);
    ASSERT_EQ(compress(packed, &cbPacked, reinterpret_cast<const Bytef*>(strData.data()),
                       strData.size()),
              Z_OK);
    const std::string strGarbage = Binary(500);
    BYTE out[2000];
    const struct {
        const char* pszCase;
        const BYTE* pSrc;
        unsigned long cbSrc;
        BYTE* pDest;
        unsigned long cbDest;
    } cases[] = {
        {"garbage", reinterpret_cast<const BYTE*>(strGarbage.data()), 500, out, sizeof(out)},
        {"truncated", packed, cbPacked / 2, out, sizeof(out)},
        {"destination too small", packed, cbPacked, out, 999},
        {"empty source", packed, 0, out, sizeof(out)},
        {"null source", NULL, 100, out, sizeof(out)},
        {"null destination", packed, cbPacked, NULL, sizeof(out)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszCase);
        DeleteFileA(Path("util.log").c_str());
        unsigned long cbDest = c.cbDest;
        CaughtFailure r = Capture([&] { CUtil::UnzipBuffer(c.pDest, &cbDest, c.pSrc, c.cbSrc); });
        EXPECT_TRUE(r.bThrown);
        EXPECT_EQ(r.nCode, ERR_DECOMPRESS);
        EXPECT_EQ(r.strContext, "CUtil::UnzipBuffer");
        EXPECT_NE(LogText().find(" - Error al descomprimir certificado\r\n"), std::string::npos);
    }
    CaughtFailure r = Capture([&] { CUtil::UnzipBuffer(out, NULL, packed, cbPacked); });
    EXPECT_EQ(r.nCode, ERR_DECOMPRESS);
}

TEST_F(UtilBuffers, Base64EncodeBufferFitsTheAnnouncedSize)
{
    const struct {
        size_t nBytes;
        int nLineLength;
    } cases[] = {{0, 0}, {0, 64}, {1, 0}, {2, 64}, {3, 64}, {48, 64}, {49, 64},
                 {96, 64}, {1000, 64}, {1000, 76}, {1000, 0}, {1000, -1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.nBytes << " bytes, line " << c.nLineLength);
        const std::string strData = Binary(c.nBytes);
        const DWORD cbNeeded = CUtil::Base64EncodedSize((DWORD)c.nBytes, c.nLineLength);
        std::string strBuffer(cbNeeded + 8, '#');
        DWORD cch = cbNeeded;
        CUtil::Base64EncodeBuffer(reinterpret_cast<const BYTE*>(strData.data()), (DWORD)c.nBytes,
                                  c.nLineLength, &strBuffer[0], &cch);
        // Text, zero, and nothing touched behind it.
        EXPECT_EQ(cch + 1, cbNeeded);
        EXPECT_EQ(strBuffer[cch], '\0');
        EXPECT_EQ(strBuffer.substr(cbNeeded), std::string(8, '#'));
        const std::string strText = strBuffer.substr(0, cch);
        EXPECT_EQ(strText.find('\0'), std::string::npos);

        // Full lines of exactly the line length, LF only, none after the last.
        size_t nStart = 0;
        for (size_t nEnd; (nEnd = strText.find('\n', nStart)) != std::string::npos; nStart = nEnd + 1)
            EXPECT_EQ((int)(nEnd - nStart), c.nLineLength);
        if (c.nBytes) {
            EXPECT_GT(strText.size() - nStart, 0u);
        }
        if (c.nLineLength > 0) {
            EXPECT_LE((int)(strText.size() - nStart), c.nLineLength);
        }
        EXPECT_EQ(strText.find('\r'), std::string::npos);
    }
}

TEST_F(UtilBuffers, Base64EncodeBufferKnownText)
{
    char sz[16];
    DWORD cch = sizeof(sz);
    CUtil::Base64EncodeBuffer(reinterpret_cast<const BYTE*>("abcd"), 4, 64, sz, &cch);
    EXPECT_EQ(cch, 8u);
    EXPECT_STREQ(sz, "YWJjZA==");
}

TEST_F(UtilBuffers, Base64EncodeBufferNeverWritesPastTheBuffer)
{
    // The length in is the buffer's size: a buffer one character short of the
    // text and its zero is refused, and nothing is written into it or behind it.
    const std::string strData = Binary(30);
    const DWORD cbNeeded = CUtil::Base64EncodedSize(30, 64);
    ASSERT_EQ(cbNeeded, 41u);
    for (DWORD cbBuffer : {cbNeeded - 1, DWORD(10), DWORD(0)}) {
        SCOPED_TRACE(cbBuffer);
        std::string strBuffer(cbBuffer + 16, '#');
        DWORD cch = cbBuffer;
        CaughtFailure r = Capture([&] {
            CUtil::Base64EncodeBuffer(reinterpret_cast<const BYTE*>(strData.data()), 30, 64,
                                      &strBuffer[0], &cch);
        });
        EXPECT_TRUE(r.bThrown);
        EXPECT_EQ(r.nCode, ERR_BASE64_ENCODE);
        EXPECT_EQ(r.strContext, "CUtil::Base64EncodeBuffer");
        EXPECT_EQ(strBuffer, std::string(cbBuffer + 16, '#'));
    }
    std::string strBuffer(cbNeeded, '#');
    DWORD cch = cbNeeded;
    CUtil::Base64EncodeBuffer(reinterpret_cast<const BYTE*>(strData.data()), 30, 64, &strBuffer[0],
                              &cch);
    EXPECT_EQ(cch, 40u);
    EXPECT_EQ(strBuffer[40], '\0');
}
