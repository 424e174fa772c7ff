// The kernel handle holder closes what it holds when it goes, and takes
// CreateFile's failure value for empty.
#include <gtest/gtest.h>

#include <string>

#include "platform/framework/Win32Handles.h"

namespace {
HANDLE OpenExclusive(const std::string& strPath)
{
    return CreateFileA(strPath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}
}  // namespace

TEST(Win32Handles, FileIsClosedWhenItsHolderGoes)
{
    char szTemp[MAX_PATH];
    ASSERT_NE(0u, GetTempPathA(MAX_PATH, szTemp));
    const std::string strPath = std::string(szTemp) + "tvl_win32handles.bin";
    {
        CHandlePtr file = OwnFile(OpenExclusive(strPath));
        ASSERT_TRUE(file);
        // Not shared: a second open fails while the holder lives.
        EXPECT_FALSE(OwnFile(OpenExclusive(strPath)));
    }
    CHandlePtr again = OwnFile(OpenExclusive(strPath));
    EXPECT_TRUE(again);
    again.reset();
    DeleteFileA(strPath.c_str());
}

TEST(Win32Handles, FailedCreateFileIsEmpty)
{
    CHandlePtr file = OwnFile(CreateFileA("Z:\\no\\such\\folder\\file.bin", GENERIC_READ, 0,
                                          nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_FALSE(file);
    EXPECT_EQ(nullptr, file.get());
}
