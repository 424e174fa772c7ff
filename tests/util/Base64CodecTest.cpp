// Streaming Base64 codec: exact texts, line splitting, tolerant decoding and the
// 3000-byte output buffer hand-over.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/support/TestFiles.h"
#include "util/CBase64Decoder.h"
#include "util/CBase64Encoder.h"

namespace {

std::string Encode(const std::string& strData, int nLineLength)
{
    CBase64Encoder encoder;
    encoder.OpenString(nLineLength);
    for (unsigned char c : strData)
        encoder.Put(c);
    EXPECT_TRUE(encoder.Finish());
    return encoder.Text();
}

std::string Decode(const std::string& strText)
{
    CBase64Decoder decoder;
    std::string strOut;
    for (char c : strText) {
        if (!decoder.Put(c))
            strOut.append(reinterpret_cast<const char*>(decoder.Data()), decoder.Count());
    }
    decoder.Finish();
    strOut.append(reinterpret_cast<const char*>(decoder.Data()), decoder.Count());
    return strOut;
}

std::string Pattern(size_t nBytes)
{
    std::string s(nBytes, '\0');
    for (size_t i = 0; i < nBytes; i++)
        s[i] = static_cast<char>((i * 131 + i / 7) & 0xFF);
    return s;
}

struct EncodeCase {
    const char* pszName;
    std::string strData;
    int nLineLength;
    std::string strText;
};

}  // namespace

TEST(Base64Encoder, ProducesExactText)
{
    std::string strX64;  // 48 bytes of 'x' encode to 64 characters
    for (int i = 0; i < 16; i++)
        strX64 += "eHh4";
    const EncodeCase cases[] = {
        {"empty", "", 0, ""},
        {"one byte", "a", 0, "YQ=="},
        {"two bytes", "ab", 0, "YWI="},
        {"three bytes", "abc", 0, "YWJj"},
        {"four bytes", "abcd", 0, "YWJjZA=="},
        {"high bytes", std::string("\xFB\xFF\xBF", 3), 0, "+/+/"},
        {"zero bytes", std::string("\0\0\0\0", 4), 0, "AAAAAA=="},
        {"48 bytes, line 64: no line feed", std::string(48, 'x'), 64, strX64},
        {"49 bytes, line 64", std::string(49, 'x'), 64, strX64 + "\neA=="},
        {"line multiple, no final LF", "abcdef", 4, "YWJj\nZGVm"},
        {"short lines", "abcdefg", 4, "YWJj\nZGVm\nZw=="},
        {"line length 0: one line", std::string(96, 'x'), 0, strX64 + strX64},
        {"negative line length: one line", std::string(96, 'x'), -1, strX64 + strX64},
    };
    for (const EncodeCase& c : cases)
        EXPECT_EQ(Encode(c.strData, c.nLineLength), c.strText) << c.pszName;
}

TEST(Base64Encoder, FileModeWritesSameTextAsStringMode)
{
    char szDir[MAX_PATH], szPath[MAX_PATH];
    ASSERT_NE(GetTempPathA(MAX_PATH, szDir), 0u);
    ASSERT_NE(GetTempFileNameA(szDir, "b64", 0, szPath), 0u);
    // Longer than the encoder's internal block, with and without line breaks.
    const std::string strData = Pattern(10000);
    for (int nLineLength : {0, 64, 76}) {
        CBase64Encoder encoder;
        ASSERT_TRUE(encoder.OpenFile(szPath, nLineLength));
        for (unsigned char c : strData)
            encoder.Put(c);
        ASSERT_TRUE(encoder.Finish());
        EXPECT_TRUE(encoder.Text().empty());

        bool bOpened = false;
        std::string strFile = tvltest::ReadAll(szPath, &bOpened);
        ASSERT_TRUE(bOpened);
        EXPECT_EQ(strFile, Encode(strData, nLineLength)) << "line length " << nLineLength;
        EXPECT_EQ(Decode(strFile), strData);
    }
    DeleteFileA(szPath);
}

TEST(Base64Encoder, ReportsWriteFailure)
{
    // Wine maps Z: to the Unix root; /dev/full takes the open but fails every write.
    CBase64Encoder encoder;
    if (!encoder.OpenFile("Z:\\dev\\full", 0))
        GTEST_SKIP() << "no full device";
    for (int i = 0; i < 20000; i++)
        encoder.Put(static_cast<unsigned char>(i));
    EXPECT_FALSE(encoder.Finish());
}

TEST(Base64Encoder, ClosesFileWhenLeftUnfinished)
{
    char szDir[MAX_PATH], szPath[MAX_PATH];
    ASSERT_NE(GetTempPathA(MAX_PATH, szDir), 0u);
    ASSERT_NE(GetTempFileNameA(szDir, "b64", 0, szPath), 0u);
    {
        CBase64Encoder encoder;
        ASSERT_TRUE(encoder.OpenFile(szPath, 0));
        encoder.Put('a');
    }
    // An open CRT file cannot be deleted.
    EXPECT_TRUE(DeleteFileA(szPath)) << GetLastError();
}

TEST(Base64Decoder, DecodesTolerantly)
{
    const struct {
        const char* pszText;
        std::string strBytes;
    } cases[] = {
        {"", ""},
        {"YWJj", "abc"},
        {"YW Jj\r\n", "abc"},
        {"Y\tW\nJ\rj", "abc"},
        {"YWI=", "ab"},
        {"YWI", "ab"},
        {"YQ==", "a"},
        {"YQ", "a"},
        {"=Y=W=J=j=", "abc"},
        {"YW*Jj-_.", "abc"},
        {"===\r\n \t", ""},
        {"+/+/", std::string("\xFB\xFF\xBF", 3)},
        // A lone last character still gives a byte: its value shifted left by 2.
        {"YWJjZ", std::string("abc\x64", 4)},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Decode(c.pszText), c.strBytes) << "text '" << c.pszText << "'";
}

TEST(Base64Decoder, HandsOverFullBuffers)
{
    const struct {
        size_t nBytes;
        int nLineLength;
        const char* pszTail;
    } cases[] = {
        {3000, 0, ""},  {3000, 76, ""}, {3000, 0, "\r\n="}, {6000, 0, ""},
        {6000, 64, ""}, {2999, 0, ""},  {3001, 0, ""},      {9002, 76, "\r\n"},
    };
    for (const auto& c : cases) {
        const std::string strData = Pattern(c.nBytes);
        const std::string strText = Encode(strData, c.nLineLength) + c.pszTail;
        size_t nLastSignificant = strText.find_last_not_of("=\r\n");

        CBase64Decoder decoder;
        std::string strOut;
        std::vector<size_t> full;
        for (size_t i = 0; i < strText.size(); i++) {
            if (!decoder.Put(strText[i])) {
                full.push_back(i);
                ASSERT_EQ(decoder.Count(), CBase64Decoder::BUFFER_SIZE);
                strOut.append(reinterpret_cast<const char*>(decoder.Data()), decoder.Count());
            }
        }
        decoder.Finish();
        strOut.append(reinterpret_cast<const char*>(decoder.Data()), decoder.Count());

        SCOPED_TRACE(testing::Message() << c.nBytes << " bytes, line " << c.nLineLength);
        EXPECT_EQ(strOut.size(), c.nBytes);
        EXPECT_TRUE(strOut == strData);
        EXPECT_EQ(full.size(), c.nBytes / CBase64Decoder::BUFFER_SIZE);
        if (c.nBytes % CBase64Decoder::BUFFER_SIZE == 0) {
            // The last full buffer comes with the last significant character,
            // and nothing is left for Finish.
            ASSERT_FALSE(full.empty());
            EXPECT_EQ(full.back(), nLastSignificant);
            EXPECT_EQ(decoder.Count(), 0);
        }
    }
}

TEST(Base64Decoder, ResetDropsPendingInput)
{
    CBase64Decoder decoder;
    decoder.Put('Y');
    decoder.Put('W');
    decoder.Reset();
    for (char c : std::string("YWJj"))
        decoder.Put(c);
    decoder.Finish();
    ASSERT_EQ(decoder.Count(), 3);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(decoder.Data()), 3), "abc");
}

TEST(Base64Decoder, FeedingAfterFinishStartsAnEmptyBuffer)
{
    // 2997 bytes in whole quads and an incomplete quad of two: Finish leaves 2999
    // bytes, one short of a full buffer. What the caller feeds next goes into an
    // empty buffer, as after a full one, and never past the end.
    CBase64Decoder decoder;
    for (char c : Encode(Pattern(2999), 0))
        ASSERT_TRUE(decoder.Put(c));
    decoder.Finish();
    ASSERT_EQ(decoder.Count(), 2999);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(decoder.Data()), 2999), Pattern(2999));
    for (char c : std::string("YWJj"))
        EXPECT_TRUE(decoder.Put(c));
    decoder.Finish();
    ASSERT_EQ(decoder.Count(), 3);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(decoder.Data()), 3), "abc");
}

// The block forms give the bytes the one-at-a-time forms give, however the
// input is cut, with and without line breaks and characters to skip.
TEST(Base64Codec, BlocksGiveWhatSingleBytesGive)
{
    char szDir[MAX_PATH], szPath[MAX_PATH];
    ASSERT_NE(GetTempPathA(MAX_PATH, szDir), 0u);
    ASSERT_NE(GetTempFileNameA(szDir, "b64", 0, szPath), 0u);
    const std::string strData = Pattern(70001);
    for (int nLineLength : {0, 64}) {
        for (size_t nCut : {size_t(1), size_t(2), size_t(7), size_t(4096), size_t(65537)}) {
            SCOPED_TRACE("line " + std::to_string(nLineLength) + " cut " + std::to_string(nCut));
            CBase64Encoder encoder;
            ASSERT_TRUE(encoder.OpenFile(szPath, nLineLength));
            // One stray byte first, so that the blocks start inside a group.
            encoder.Put(static_cast<unsigned char>(strData[0]));
            for (size_t i = 1; i < strData.size(); i += nCut)
                encoder.Put(reinterpret_cast<const unsigned char*>(strData.data()) + i,
                            std::min(nCut, strData.size() - i));
            ASSERT_TRUE(encoder.Finish());
            const std::string strText = tvltest::ReadAll(szPath);
            ASSERT_EQ(Encode(strData, nLineLength), strText);

            // Text with blanks, line ends and stray characters, and a last
            // incomplete quad.
            std::string strMessy;
            for (size_t i = 0; i < strText.size(); ++i) {
                strMessy += strText[i];
                if (i % 97 == 5)
                    strMessy += (i % 2) ? " \r\n" : "=*";
            }
            strMessy += "Zg";
            CBase64Decoder decoder;
            std::string strOut;
            std::vector<unsigned char> out(nCut / 4 * 3 + 3);
            for (size_t i = 0; i < strMessy.size(); i += nCut) {
                size_t n = decoder.Decode(strMessy.data() + i, std::min(nCut, strMessy.size() - i),
                                          out.data());
                strOut.append(reinterpret_cast<const char*>(out.data()), n);
            }
            decoder.Finish();
            strOut.append(reinterpret_cast<const char*>(decoder.Data()), decoder.Count());
            EXPECT_TRUE(Decode(strMessy) == strOut);
        }
    }
    DeleteFileA(szPath);
}
