#include "platform/framework/SystemErrorText.h"

namespace {
const DWORD kFlags =
    FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;

template <typename Char>
std::basic_string<Char> Trimmed(const Char* pText, DWORD n)
{
    while (n > 0 && (pText[n - 1] == '\r' || pText[n - 1] == '\n'))
        --n;
    return std::basic_string<Char>(pText, n);
}
}  // namespace

std::string SystemErrorText(DWORD dwError, DWORD dwLanguage)
{
    char* pText = nullptr;
    DWORD n = FormatMessageA(kFlags, nullptr, dwError, dwLanguage, reinterpret_cast<char*>(&pText),
                             0, nullptr);
    if (pText == nullptr)
        return std::string();
    std::string str = Trimmed(pText, n);
    LocalFree(pText);
    return str;
}

std::wstring SystemErrorTextW(DWORD dwError, DWORD dwLanguage)
{
    wchar_t* pText = nullptr;
    DWORD n = FormatMessageW(kFlags, nullptr, dwError, dwLanguage,
                             reinterpret_cast<wchar_t*>(&pText), 0, nullptr);
    if (pText == nullptr)
        return std::wstring();
    std::wstring str = Trimmed(pText, n);
    LocalFree(pText);
    return str;
}
