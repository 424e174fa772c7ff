// gzip and Base64 files are byte for byte the pinned ones (tests/fixtures/pinned),
// and the pinned ones decode to what they were made from.
#include "tests/support/PinnedFiles.h"
#include "util/CByteStream.h"
#include "tests/util/UtilTestSupport.h"
#include "util/CUtil.h"

#include <zlib.h>

#include <algorithm>

using tvltest::ResultOf;

namespace {
struct Case {
    const char* pszPinned;
    size_t nSize;
    void (*pfnEncode)(const char*, const char*);
    void (*pfnDecode)(const char*, const char*);
};
const Case kCases[] = {
    {"empty.gz", 0, CUtil::ZipFile, CUtil::UnzipFile},
    {"document.gz", 200000, CUtil::ZipFile, CUtil::UnzipFile},
    {"empty.b64", 0, CUtil::Base64EncodeFile, CUtil::Base64DecodeFile},
    // Past several input chunks and decoder buffers, and not a multiple of 3.
    {"document.b64", 10001, CUtil::Base64EncodeFile, CUtil::Base64DecodeFile},
};
}  // namespace

TEST_F(UtilFilesTest, OutputsAreThePinnedOnesAndDecodeBack)
{
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.pszPinned);
        const std::string strData = tvltest::PinnedDocument(c.nSize);
        SaveFile(Path("doc.bin"), strData);
        ASSERT_EQ(0, ResultOf([&] { c.pfnEncode(Path("doc.bin").c_str(), Path("doc.out").c_str()); }));
        const std::string strOut = LoadFile(Path("doc.out"));
        EXPECT_TRUE(strOut == tvltest::Pinned(c.pszPinned, strOut)) << c.pszPinned << " differs";

        ASSERT_EQ(0, ResultOf([&] {
                      c.pfnDecode(tvltest::PinnedPath(c.pszPinned).c_str(), Path("back.bin").c_str());
                  }));
        EXPECT_TRUE(strData == LoadFile(Path("back.bin")));
    }
}

// Over several megabytes (many reads, deflate blocks and output blocks), ZipFile
// writes what zlib's gzip writer writes when fed 4096 bytes at a time.
TEST_F(UtilFilesTest, ZipFileWritesWhatTheWriterFedInSmallBlocksWrites)
{
    const std::string strData = tvltest::PinnedDocument(5 * 1024 * 1024 + 1234);
    SaveFile(Path("doc.bin"), strData);
    ASSERT_EQ(0, ResultOf([&] { CUtil::ZipFile(Path("doc.bin").c_str(), Path("doc.gz").c_str()); }));
    gzFile gz = gzopen(Path("ref.gz").c_str(), "wb");
    ASSERT_NE(nullptr, gz);
    for (size_t i = 0; i < strData.size(); i += 4096) {
        unsigned n = static_cast<unsigned>(std::min<size_t>(4096, strData.size() - i));
        ASSERT_EQ(static_cast<int>(n), gzwrite(gz, strData.data() + i, n));
    }
    ASSERT_EQ(Z_OK, gzclose(gz));
    EXPECT_TRUE(LoadFile(Path("ref.gz")) == LoadFile(Path("doc.gz")));
}

// The compression that hands its bytes on instead of writing them gives the
// bytes of ZipFile, and leaves its file created and empty.
TEST_F(UtilFilesTest, ZipFileToGivesTheBytesOfZipFile)
{
    struct CStringSink : public CByteSink {
        std::string str;
        bool Write(const uint8_t* p, size_t n, DWORD&) override
        {
            str.append(reinterpret_cast<const char*>(p), n);
            return true;
        }
    };
    for (size_t nSize : {size_t(0), size_t(4096), size_t(3 * 1024 * 1024 + 77)}) {
        SCOPED_TRACE(nSize);
        SaveFile(Path("doc.bin"), tvltest::PinnedDocument(nSize));
        ASSERT_EQ(0, ResultOf([&] { CUtil::ZipFile(Path("doc.bin").c_str(), Path("doc.gz").c_str()); }));
        CStringSink sink;
        ASSERT_EQ(0, ResultOf([&] {
                      CUtil::ZipFileTo(Path("doc.bin").c_str(), Path("to.gz").c_str(), sink);
                  }));
        EXPECT_TRUE(LoadFile(Path("doc.gz")) == sink.str);
        EXPECT_EQ("", LoadFile(Path("to.gz")));
    }
}
