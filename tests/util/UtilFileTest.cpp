// CUtil file functions: gzip and Base64 of files, their failures and what they
// leave behind.
#include "UtilTestSupport.h"

#include <functional>
#include <string>

#include "api/ResultCodes.h"
#include "util/CUtil.h"

namespace {

typedef void (*FileFunction)(const char*, const char*);

struct NamedFunction {
    const char* pszContext;
    FileFunction pfn;
};

const NamedFunction g_functions[] = {
    {"CUtil::ZipFile", CUtil::ZipFile},
    {"CUtil::UnzipFile", CUtil::UnzipFile},
    {"CUtil::Base64EncodeFile", CUtil::Base64EncodeFile},
    {"CUtil::Base64DecodeFile", CUtil::Base64DecodeFile},
};

std::string Base64(const std::string& strData, int nLineLength)
{
    std::string strOut(CUtil::Base64EncodedSize((DWORD)strData.size(), nLineLength), '\0');
    DWORD cch = static_cast<DWORD>(strOut.size());
    CUtil::Base64EncodeBuffer(reinterpret_cast<const BYTE*>(strData.data()), (DWORD)strData.size(),
                              nLineLength, &strOut[0], &cch);
    strOut.resize(cch);
    return strOut;
}

std::string Replace(std::string s, const std::string& strFrom, const std::string& strTo)
{
    for (size_t i = 0; (i = s.find(strFrom, i)) != std::string::npos; i += strTo.size())
        s.replace(i, strFrom.size(), strTo);
    return s;
}

}  // namespace

class UtilFileFunctions : public UtilFilesTest {
protected:
    // A source each function accepts.
    std::string ValidSource(const NamedFunction& f)
    {
        const std::string strPlain = Path("plain.bin");
        SaveFile(strPlain, Binary(5000));
        if (f.pfn == CUtil::UnzipFile) {
            CUtil::ZipFile(strPlain.c_str(), Path("valid.gz").c_str());
            return Path("valid.gz");
        }
        if (f.pfn == CUtil::Base64DecodeFile) {
            SaveFile(Path("valid.b64"), Base64(Binary(5000), 76));
            return Path("valid.b64");
        }
        return strPlain;
    }
};

TEST_F(UtilFileFunctions, ZipAndUnzipRoundTrip)
{
    for (size_t nBytes : {0u, 1u, 4095u, 4096u, 4097u, 100000u}) {
        SCOPED_TRACE(testing::Message() << nBytes << " bytes");
        const std::string strData = Binary(nBytes);
        SaveFile(Path("in.bin"), strData);
        CUtil::ZipFile(Path("in.bin").c_str(), Path("in.gz").c_str());

        // gzip member without a stored file name (flags byte 0).
        const std::string strGz = LoadFile(Path("in.gz"));
        ASSERT_GE(strGz.size(), 18u);
        EXPECT_EQ(strGz.substr(0, 4), std::string("\x1F\x8B\x08\x00", 4));

        CUtil::UnzipFile(Path("in.gz").c_str(), Path("out.bin").c_str());
        EXPECT_TRUE(LoadFile(Path("out.bin")) == strData);
    }
}

TEST_F(UtilFileFunctions, ZipFileWithMissingSourceDeletesDestination)
{
    SaveFile(Path("old.gz"), "left over");
    CaughtFailure r = Capture([&] {
        CUtil::ZipFile(Path("missing.bin").c_str(), Path("old.gz").c_str());
    });
    EXPECT_TRUE(r.bThrown);
    EXPECT_EQ(r.nCode, ERR_FILE_READ);
    EXPECT_EQ(r.strContext, "CUtil::ZipFile");
    EXPECT_FALSE(Exists(Path("old.gz")));
    EXPECT_NE(LogText().find("Error al abrir fichero '" + Path("missing.bin") + "'"),
              std::string::npos);
}

TEST_F(UtilFileFunctions, OpenFailuresNameTheFunction)
{
    for (const NamedFunction& f : g_functions) {
        const std::string strSource = ValidSource(f);
        DeleteFileA(Path("util.log").c_str());
        const std::string strDest = Path("dest.out");
        const std::string strMissing = Path("missing.bin");
        const std::string strNoDir = Path("no such folder\\dest.out");
        const struct {
            const char* pszCase;
            const char* pszSource;
            const char* pszDest;
            int nCode;
        } cases[] = {
            {"null source", NULL, strDest.c_str(), ERR_FILE_READ},
            {"empty source", "", strDest.c_str(), ERR_FILE_READ},
            {"missing source", strMissing.c_str(), strDest.c_str(), ERR_FILE_READ},
            {"source is a folder", m_strDir.c_str(), strDest.c_str(), ERR_FILE_READ},
            {"null destination", strSource.c_str(), NULL, ERR_FILE_WRITE},
            {"empty destination", strSource.c_str(), "", ERR_FILE_WRITE},
            {"destination in a missing folder", strSource.c_str(), strNoDir.c_str(), ERR_FILE_WRITE},
            {"destination is a folder", strSource.c_str(), m_strDir.c_str(), ERR_FILE_WRITE},
        };
        for (const auto& c : cases) {
            SCOPED_TRACE(testing::Message() << f.pszContext << ": " << c.pszCase);
            CaughtFailure r = Capture([&] { f.pfn(c.pszSource, c.pszDest); });
            EXPECT_TRUE(r.bThrown);
            EXPECT_EQ(r.nCode, c.nCode);
            EXPECT_EQ(r.strContext, f.pszContext);
            EXPECT_FALSE(Exists(strNoDir));
            EXPECT_TRUE(Exists(m_strDir));
            DeleteFileA(strDest.c_str());
        }
        // The open failures are logged with the path.
        const std::string strLog = LogText();
        EXPECT_NE(strLog.find("fichero '" + strMissing + "'"), std::string::npos);
        EXPECT_NE(strLog.find("Error al escribir en fichero '" + strNoDir + "'"), std::string::npos);
    }
}

TEST_F(UtilFileFunctions, DestinationIsTruncated)
{
    for (const NamedFunction& f : g_functions) {
        SCOPED_TRACE(f.pszContext);
        const std::string strSource = ValidSource(f);
        SaveFile(Path("dest.out"), Binary(200000));
        f.pfn(strSource.c_str(), Path("dest.out").c_str());
        EXPECT_LT(LoadFile(Path("dest.out")).size(), 10000u);
    }
}

TEST_F(UtilFileFunctions, DestinationSameAsSourceKeepsSource)
{
    for (const NamedFunction& f : g_functions) {
        const std::string strSource = ValidSource(f);
        const std::string strBefore = LoadFile(strSource);
        const size_t nSlash = strSource.rfind('\\');
        const std::string strOtherSpelling =
            strSource.substr(0, nSlash) + "\\.\\" + strSource.substr(nSlash + 1);
        for (const std::string& strDest : {strSource, strOtherSpelling}) {
            SCOPED_TRACE(testing::Message() << f.pszContext << " to " << strDest);
            CaughtFailure r = Capture([&] { f.pfn(strSource.c_str(), strDest.c_str()); });
            EXPECT_TRUE(r.bThrown);
            EXPECT_EQ(r.nCode, ERR_FILE_WRITE);
            ASSERT_TRUE(Exists(strSource));
            EXPECT_TRUE(LoadFile(strSource) == strBefore);
        }
    }
}

TEST_F(UtilFileFunctions, UnzipFileCopiesUncompressedData)
{
    const std::string inputs[] = {"", "hola", std::string("\x1F", 1), std::string("\x1F\x8C", 2),
                                  Binary(10000)};
    for (const std::string& strData : inputs) {
        SCOPED_TRACE(testing::Message() << strData.size() << " bytes");
        SaveFile(Path("plain.txt"), strData);
        CUtil::UnzipFile(Path("plain.txt").c_str(), Path("copy.txt").c_str());
        EXPECT_TRUE(LoadFile(Path("copy.txt")) == strData);
    }
}

TEST_F(UtilFileFunctions, CorruptGzipFailsAndDeletesDestination)
{
    SaveFile(Path("in.bin"), Binary(100000));
    CUtil::ZipFile(Path("in.bin").c_str(), Path("good.gz").c_str());
    const std::string strGood = LoadFile(Path("good.gz"));
    const size_t n = strGood.size();

    std::string strFlipped = strGood;
    strFlipped[n / 2] ^= 0x55;
    std::string strBadCrc = strGood;
    strBadCrc[n - 6] ^= 0x01;
    std::string strBadLength = strGood;
    strBadLength[n - 2] ^= 0x01;
    const struct {
        const char* pszCase;
        std::string strData;
    } cases[] = {
        {"flipped deflate byte", strFlipped},
        {"wrong CRC", strBadCrc},
        {"wrong length", strBadLength},
        // zlib ends a truncated stream quietly; the copy must still fail.
        {"cut in the middle", strGood.substr(0, n / 2)},
        {"trailer missing", strGood.substr(0, n - 8)},
        {"header only", strGood.substr(0, 10)},
        {"gzip magic then garbage", std::string("\x1F\x8B\x08\x00", 4) + Binary(3000)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszCase);
        SaveFile(Path("bad.gz"), c.strData);
        SaveFile(Path("out.bin"), "previous");
        CaughtFailure r = Capture([&] {
            CUtil::UnzipFile(Path("bad.gz").c_str(), Path("out.bin").c_str());
        });
        EXPECT_TRUE(r.bThrown);
        EXPECT_EQ(r.nCode, ERR_DECOMPRESS);
        EXPECT_EQ(r.strContext, "CUtil::UnzipFile");
        EXPECT_FALSE(Exists(Path("out.bin")));
        EXPECT_TRUE(Exists(Path("bad.gz")));
    }
}

TEST_F(UtilFileFunctions, Base64EncodeFileWritesOneLine)
{
    const struct {
        std::string strData;
        std::string strText;
    } cases[] = {
        {"abc", "YWJj"}, {"ab", "YWI="}, {"a", "YQ=="}, {"", ""},
        {std::string(49, 'x'), Replace(std::string(16, '.'), ".", "eHh4") + "eA=="},
    };
    for (const auto& c : cases) {
        SaveFile(Path("in.bin"), c.strData);
        CUtil::Base64EncodeFile(Path("in.bin").c_str(), Path("out.b64").c_str());
        EXPECT_EQ(LoadFile(Path("out.b64")), c.strText);
    }
    // Several read blocks: no line feed anywhere, and it decodes back.
    const std::string strData = Binary(10001);
    SaveFile(Path("in.bin"), strData);
    CUtil::Base64EncodeFile(Path("in.bin").c_str(), Path("out.b64").c_str());
    const std::string strText = LoadFile(Path("out.b64"));
    EXPECT_EQ(strText.size(), (10001u + 2) / 3 * 4);
    EXPECT_EQ(strText.find_first_of("\r\n"), std::string::npos);
    CUtil::Base64DecodeFile(Path("out.b64").c_str(), Path("back.bin").c_str());
    EXPECT_TRUE(LoadFile(Path("back.bin")) == strData);
}

TEST_F(UtilFileFunctions, Base64DecodeFileIgnoresLayout)
{
    const struct {
        const char* pszCase;
        size_t nBytes;
        int nLineLength;
        bool bCrLf;
        const char* pszTail;
    } cases[] = {
        {"one line", 5000, 0, false, ""},
        {"LF lines", 5000, 64, false, "\n"},
        {"CRLF lines", 5000, 76, true, "\r\n"},
        {"blanks and padding", 4, 3, false, " = \t="},
        {"exactly 3000", 3000, 0, false, ""},
        {"exactly 3000, lines", 3000, 76, true, "\r\n"},
        {"exactly 6000", 6000, 0, false, ""},
        {"exactly 6000, lines", 6000, 64, false, "\n"},
        {"one block of text", 3072, 0, false, ""},
        {"empty", 0, 0, false, ""},
        {"only blanks", 0, 0, false, " \r\n=\t"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszCase);
        const std::string strData = Binary(c.nBytes);
        std::string strText = Base64(strData, c.nLineLength);
        if (c.bCrLf)
            strText = Replace(strText, "\n", "\r\n");
        SaveFile(Path("in.b64"), strText + c.pszTail);
        CUtil::Base64DecodeFile(Path("in.b64").c_str(), Path("out.bin").c_str());
        const std::string strOut = LoadFile(Path("out.bin"));
        EXPECT_EQ(strOut.size(), c.nBytes);
        EXPECT_TRUE(strOut == strData);
    }
}

TEST_F(UtilFileFunctions, Base64WriteFailureIsReported)
{
    // Wine maps Z: to the Unix root; /dev/full accepts the open and fails every write.
    const char* pszFull = "Z:\\dev\\full";
    HANDLE hFull = CreateFileA(pszFull, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                               OPEN_EXISTING, 0, NULL);
    if (hFull == INVALID_HANDLE_VALUE)
        GTEST_SKIP() << "no full device";
    CloseHandle(hFull);
    SaveFile(Path("in.bin"), Binary(20000));
    SaveFile(Path("in.b64"), Base64(Binary(20000), 0));
    const struct {
        const char* pszContext;
        FileFunction pfn;
        std::string strSource;
    } cases[] = {
        {"CUtil::Base64EncodeFile", CUtil::Base64EncodeFile, Path("in.bin")},
        {"CUtil::Base64DecodeFile", CUtil::Base64DecodeFile, Path("in.b64")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszContext);
        CaughtFailure r = Capture([&] { c.pfn(c.strSource.c_str(), pszFull); });
        EXPECT_TRUE(r.bThrown);
        EXPECT_EQ(r.nCode, ERR_FILE_WRITE);
        EXPECT_EQ(r.strContext, c.pszContext);
    }
}

TEST_F(UtilFileFunctions, PathsAreAnsiTexts)
{
    // "ñ" and "é" are single cp1252 bytes; the files must carry those characters.
    ASSERT_EQ(GetACP(), 1252u);
    for (const NamedFunction& f : g_functions) {
        SCOPED_TRACE(f.pszContext);
        const std::string strSource = Path("origen a\xF1o.in");
        SaveFile(strSource, LoadFile(ValidSource(f)));
        f.pfn(strSource.c_str(), Path("destino caf\xE9.out").c_str());

        wchar_t wszDir[MAX_PATH];
        ASSERT_GT(MultiByteToWideChar(CP_ACP, 0, m_strDir.c_str(), -1, wszDir, MAX_PATH), 0);
        const std::wstring strWide = std::wstring(wszDir) + L"\\destino caf\u00E9.out";
        EXPECT_NE(GetFileAttributesW(strWide.c_str()), INVALID_FILE_ATTRIBUTES);
        DeleteFileW(strWide.c_str());
    }
}

// The functions read and write in blocks of a mebibyte: sizes at and around a
// block's end must come back whole.
TEST_F(UtilFileFunctions, RoundTripsAcrossBlockEnds)
{
    const size_t kBlock = 1024 * 1024;
    for (size_t nBytes : {kBlock - 1, kBlock, kBlock + 1, 2 * kBlock}) {
        SCOPED_TRACE(testing::Message() << nBytes << " bytes");
        const std::string strData = Binary(nBytes);
        SaveFile(Path("in.bin"), strData);
        CUtil::ZipFile(Path("in.bin").c_str(), Path("in.gz").c_str());
        CUtil::UnzipFile(Path("in.gz").c_str(), Path("unzipped.bin").c_str());
        EXPECT_TRUE(LoadFile(Path("unzipped.bin")) == strData);
        CUtil::Base64EncodeFile(Path("in.bin").c_str(), Path("in.b64").c_str());
        CUtil::Base64DecodeFile(Path("in.b64").c_str(), Path("decoded.bin").c_str());
        EXPECT_TRUE(LoadFile(Path("decoded.bin")) == strData);
        CUtil::Base64WriteText(Path("in.b64").c_str(), Path("copy.b64").c_str());
        EXPECT_TRUE(LoadFile(Path("copy.b64")) == LoadFile(Path("in.b64")));
    }
}
