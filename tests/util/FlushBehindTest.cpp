// The flushing of a file behind its writer: a thread only past one step, gone
// after Finish; a failed flush reaches the writer through Finish, since the
// system may report a lost write to that flush alone.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/support/ProcessCounts.h"
#include "util/CFlushBehind.h"

namespace {
const uint64_t kStep = 64 * 1024;
}  // namespace

TEST(FlushBehind, FlushesOnAThreadOnlyPastAStepAndEndsIt)
{
    char szDir[MAX_PATH], szPath[MAX_PATH];
    ASSERT_NE(0u, GetTempPathA(MAX_PATH, szDir));
    ASSERT_NE(0u, GetTempFileNameA(szDir, "tfb", 0, szPath));
    HANDLE hFile = CreateFileA(szPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, hFile);
    const std::vector<char> block(4096, 'x');
    for (uint64_t nSize : {kStep - 1, 5 * kStep + 3}) {
        SCOPED_TRACE(std::to_string(nSize) + " bytes");
        const int nThreads = tvltest::CountProcessThreads();
        CFlushBehind flush(hFile, kStep);
        int nMost = nThreads;
        for (uint64_t nDone = 0; nDone < nSize; nDone += block.size()) {
            DWORD dwPiece = static_cast<DWORD>(std::min<uint64_t>(block.size(), nSize - nDone));
            DWORD dwWritten = 0;
            ASSERT_TRUE(WriteFile(hFile, block.data(), dwPiece, &dwWritten, nullptr));
            flush.Written(dwPiece);
            nMost = std::max(nMost, tvltest::CountProcessThreads());
        }
        EXPECT_EQ(nSize >= kStep ? nThreads + 1 : nThreads, nMost);
        EXPECT_TRUE(flush.Finish());
        EXPECT_EQ(nThreads, tvltest::SettledThreads(nThreads));
    }
    CloseHandle(hFile);
    DeleteFileA(szPath);
}

TEST(FlushBehind, AFailedFlushComesBackThroughFinish)
{
    // A handle the platform cannot flush.
    HANDLE hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(nullptr, hEvent);
    ASSERT_FALSE(FlushFileBuffers(hEvent));
    const DWORD dwExpected = GetLastError();
    ASSERT_NE(0u, dwExpected);
    {
        CFlushBehind flush(hEvent, kStep);
        flush.Written(kStep);
        SetLastError(0);
        EXPECT_FALSE(flush.Finish());
        EXPECT_EQ(dwExpected, GetLastError());
    }
    {
        // Below a step nothing is flushed: nothing to report.
        CFlushBehind flush(hEvent, kStep);
        flush.Written(kStep - 1);
        EXPECT_TRUE(flush.Finish());
    }
    CloseHandle(hEvent);
}
