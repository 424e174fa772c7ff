// The system's text for an error code: what FormatMessage gives, less its line
// end and nothing else; empty for a code the system does not know.
#include <gtest/gtest.h>

#include "platform/framework/SystemErrorText.h"

namespace {
std::string RawText(DWORD dwError)
{
    char szText[2048] = {0};
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             dwError, 0, szText, sizeof(szText), nullptr);
    return std::string(szText, n);
}
}  // namespace

TEST(SystemErrorText, KnownCodesLoseTheLineEndOnly)
{
    const DWORD codes[] = {ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED,
                           ERROR_NOT_ENOUGH_MEMORY, static_cast<DWORD>(E_OUTOFMEMORY)};
    for (DWORD dwError : codes) {
        SCOPED_TRACE(dwError);
        std::string strRaw = RawText(dwError);
        ASSERT_GE(strRaw.size(), 3u);
        ASSERT_EQ("\r\n", strRaw.substr(strRaw.size() - 2));
        std::string strText = SystemErrorText(dwError);
        EXPECT_EQ(strRaw.substr(0, strRaw.size() - 2), strText);
        std::wstring strWide = SystemErrorTextW(dwError);
        EXPECT_EQ(std::wstring(strText.begin(), strText.end()), strWide);
    }
}

TEST(SystemErrorText, UnknownCodeIsEmpty)
{
    EXPECT_EQ("", SystemErrorText(0xDEADBEEF));
    EXPECT_EQ(L"", SystemErrorTextW(0xDEADBEEF));
}
