#include <gtest/gtest.h>

#include <regex>

#include "api/CLog.h"
#include "api/LogEscape.h"
#include "tests/support/TestFiles.h"
#include "tests/support/TestThreads.h"

using tvltest::LogCapture;

TEST(CLog, BlockLooksLikeTheExample)
{
    LogCapture log("block");
    LogBanner("Tarvosel FirmarFichero [Ver: %s]", "6.0.0.25");
    LogInfo("Excepci\xF3n Tarvosel en %s: %i -> '%s'", "CTarvoselApp::SignFile", -1002,
            "No existe una sesi\xF3n de usuario abierta");
    LogResult("Resultado: %i", -1002);

    std::regex block(
        "Tarvosel FirmarFichero \\[Ver: 6\\.0\\.0\\.25\\]\r\n"
        "\\{\r\n"
        "  [0-2][0-9]:[0-5][0-9]:[0-5][0-9]\\((0|[1-9][0-9]{0,2})\\) - Excepci\xF3n Tarvosel en "
        "CTarvoselApp::SignFile: -1002 -> 'No existe una sesi\xF3n de usuario abierta'\r\n"
        "  [0-2][0-9]:[0-5][0-9]:[0-5][0-9]\\((0|[1-9][0-9]{0,2})\\) - Resultado: -1002\r\n"
        "\\}\r\n"
        "\r\n");
    EXPECT_TRUE(std::regex_match(log.Text(), block)) << log.Text();
}

TEST(CLog, TwoBlocksFollowEachOther)
{
    LogCapture log("twoblocks");
    for (int i = 0; i < 2; ++i) {
        LogBanner("Tarvosel Logout [Ver: %s]", "6.0.0.25");
        LogResult("Resultado: %i", 0);
    }
    std::string s = log.Text();
    std::regex twice("(Tarvosel Logout \\[Ver: 6\\.0\\.0\\.25\\]\r\n\\{\r\n  [0-9:]{8}\\([0-9]+\\) - "
                     "Resultado: 0\r\n\\}\r\n\r\n){2}");
    EXPECT_TRUE(std::regex_match(s, twice)) << s;
}

TEST(CLog, NothingWrittenWhenOffOrWithoutPath)
{
    std::string strPath = tvltest::ExeFolder() + "log-off.txt";
    DeleteFileA(strPath.c_str());

    CLog::SetPath(strPath.c_str());
    CLog::SetEnabled(0);
    LogInfo("off");
    EXPECT_FALSE(tvltest::Exists(strPath));

    CLog::SetEnabled(1);
    CLog::SetPath("");
    LogInfo("no path");
    EXPECT_FALSE(tvltest::Exists(strPath));

    // A folder that does not exist: dropped silently.
    std::string strMissing = tvltest::ExeFolder() + "no-such-folder\\log.txt";
    CLog::SetPath(strMissing.c_str());
    LogInfo("missing folder");
    EXPECT_FALSE(tvltest::Exists(strMissing));
    CLog::SetEnabled(0);
    CLog::SetPath("");
}

TEST(CLog, OversizedInputStaysInsideItsBuffers)
{
    // A path of 300 characters does not fit: it is dropped, never cut into another name.
    std::string strLong = tvltest::ExeFolder() + std::string(300, 'x') + ".txt";
    CLog::SetPath(strLong.c_str());
    EXPECT_STREQ("", CLog::GetPath());

    LogCapture log("oversized");
    std::string strHuge(10000, 'm');
    LogInfo("%s", strHuge.c_str());
    LogBanner("%s", strHuge.c_str());
    LogResult("%s", strHuge.c_str());
    std::string s = log.Text();
    ASSERT_FALSE(s.empty());
    EXPECT_LT(s.size(), 3u * 4096u);
    // Each entry keeps its line structure: info, banner, closing.
    size_t nInfoEnd = s.find("\r\n");
    ASSERT_NE(std::string::npos, nInfoEnd);
    EXPECT_EQ(0u, s.find("  "));
    size_t nBannerEnd = s.find("\r\n{\r\n", nInfoEnd + 2);
    ASSERT_NE(std::string::npos, nBannerEnd);
    EXPECT_EQ(std::string(nBannerEnd - nInfoEnd - 2, 'm'),
              s.substr(nInfoEnd + 2, nBannerEnd - nInfoEnd - 2));
    EXPECT_EQ("\r\n}\r\n\r\n", s.substr(s.size() - 7));
    EXPECT_EQ(std::string::npos, s.find('\0'));
}

TEST(CLog, NullFormatIsHarmless)
{
    LogCapture log("nullformat");
    LogInfo(nullptr);
    EXPECT_NE(std::string::npos, log.Text().find(" - \r\n"));
}

namespace {
DWORD WINAPI WriteEntries(LPVOID pParam)
{
    int nThread = static_cast<int>(reinterpret_cast<INT_PTR>(pParam));
    for (int i = 0; i < 50; ++i)
        LogInfo("hilo %i entrada %i", nThread, i);
    return 0;
}
}  // namespace

// An entry written while another writer has the file open waits for it
// instead of being lost: the library's threads write while an export writes.
TEST(CLog, EntriesOfSeveralThreadsAreAllWritten)
{
    LogCapture log("threads");
    // Held open by someone else for a moment, as another entry's writer does.
    HANDLE hHeld = CreateFileA(log.Path().c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                               OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, hHeld);
    HANDLE hWriter = CreateThread(nullptr, 0, WriteEntries, reinterpret_cast<LPVOID>(99), 0,
                                  nullptr);
    ASSERT_NE(nullptr, hWriter);
    Sleep(50);
    CloseHandle(hHeld);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(hWriter, 10000));
    CloseHandle(hWriter);
    EXPECT_EQ(50, log.Count("hilo 99 entrada "));

    const int kThreads = 4;
    HANDLE hThreads[kThreads];
    for (int i = 0; i < kThreads; ++i) {
        hThreads[i] = CreateThread(nullptr, 0, WriteEntries, reinterpret_cast<LPVOID>(INT_PTR(i)),
                                   0, nullptr);
        ASSERT_NE(nullptr, hThreads[i]);
    }
    EXPECT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(kThreads, hThreads, TRUE, 30000));
    for (HANDLE h : hThreads)
        CloseHandle(h);
    std::string s = log.Text();
    for (int i = 0; i < kThreads; ++i)
        EXPECT_EQ(50, tvltest::CountOf(s, "hilo " + std::to_string(i) + " entrada ")) << i;
    // Whole lines only: no entry was cut into another.
    EXPECT_EQ(50 * (kThreads + 1), tvltest::CountOf(s, "\r\n"));
}

// A held thread's entries wait, in order, and come after what others wrote
// meanwhile when released; dropped, they never come.
TEST(CLog, HeldEntriesComeInOrderWhenReleasedAndNeverWhenDropped)
{
    for (bool bWrite : {true, false}) {
        SCOPED_TRACE(bWrite);
        LogCapture log("held");
        LogInfo("antes");
        CLog::HoldThread(GetCurrentThreadId());
        LogInfo("retenida 1");
        LogInfo("retenida 2");
        tvltest::TestThread other([] { LogInfo("de otro hilo"); });
        ASSERT_TRUE(other.Join(10000));
        CLog::ReleaseThread(GetCurrentThreadId(), bWrite);
        LogInfo("despu\xE9s");
        std::vector<std::string> expected = {"antes", "de otro hilo"};
        if (bWrite) {
            expected.push_back("retenida 1");
            expected.push_back("retenida 2");
        }
        expected.push_back("despu\xE9s");
        EXPECT_EQ(expected, log.Lines());
    }
}

TEST(LogEscape, ControlCharactersAndBackslashesAreWrittenOut)
{
    static const struct {
        std::string in, out;
    } cases[] = {
        {"CN=Ana\r\n  10:42:07(518) - Emisor reconocido",
         "CN=Ana\\x0D\\x0A  10:42:07(518) - Emisor reconocido"},
        {std::string("a\0b", 3), "a\\x00b"},
        {"\t\x1F\x7F", "\\x09\\x1F\\x7F"},
        // A backslash of the value cannot pass for an escape.
        {"O=x\\x0D", "O=x\\\\x0D"},
        // Accents (cp1252) and the rest of the printable text stay as they are.
        {"CN=Jos\xE9 \xD1\xFA\xF1" "ez \x80; O=\"A, B\"", "CN=Jos\xE9 \xD1\xFA\xF1" "ez \x80; O=\"A, B\""},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(LogEscape(c.in), c.out) << c.in;
}
