#include "platform/httpscomp/CKeyContainerSweeper.h"

#include <wincrypt.h>
#include <wchar.h>

namespace {
const wchar_t PREFIX[] = L"tvlhttps-";
const size_t PREFIX_LEN = 9;

// A field of exactly nDigits hexadecimal digits.
bool ParseHex(const std::wstring& str, size_t nDigits, ULONGLONG& ullValue)
{
    if (str.size() != nDigits)
        return false;
    ullValue = 0;
    for (wchar_t c : str) {
        int n = c >= L'0' && c <= L'9' ? c - L'0'
                : c >= L'a' && c <= L'f' ? c - L'a' + 10
                : c >= L'A' && c <= L'F' ? c - L'A' + 10
                                         : -1;
        if (n < 0)
            return false;
        ullValue = (ullValue << 4) | static_cast<unsigned>(n);
    }
    return true;
}
}  // namespace

std::wstring CKeyContainerSweeper::NameFor(DWORD dwProcessId, ULONGLONG ullStartTime, DWORD dwCounter)
{
    wchar_t szName[64];
    swprintf(szName, sizeof(szName) / sizeof(szName[0]), L"tvlhttps-%08lx-%08lx%08lx-%08lx",
             static_cast<unsigned long>(dwProcessId), static_cast<unsigned long>(ullStartTime >> 32),
             static_cast<unsigned long>(ullStartTime & 0xFFFFFFFFu), static_cast<unsigned long>(dwCounter));
    return szName;
}

bool CKeyContainerSweeper::StartTime(HANDLE hProcess, ULONGLONG& ullStartTime)
{
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(hProcess, &created, &exited, &kernel, &user))
        return false;
    ullStartTime = (static_cast<ULONGLONG>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
    return true;
}

std::wstring CKeyContainerSweeper::NewName()
{
    static LONG s_nCounter = 0;
    ULONGLONG ullStart = 0;
    StartTime(GetCurrentProcess(), ullStart);
    return NameFor(GetCurrentProcessId(), ullStart, static_cast<DWORD>(InterlockedIncrement(&s_nCounter)));
}

bool CKeyContainerSweeper::IsStale(const std::wstring& strName)
{
    if (strName.compare(0, PREFIX_LEN, PREFIX) != 0)
        return false;
    std::wstring strRest = strName.substr(PREFIX_LEN);
    size_t nFirst = strRest.find(L'-');
    size_t nSecond = nFirst == std::wstring::npos ? nFirst : strRest.find(L'-', nFirst + 1);
    if (nSecond == std::wstring::npos)
        return false;
    ULONGLONG ullId = 0, ullStart = 0, ullCounter = 0;
    std::wstring strStart = strRest.substr(nFirst + 1, nSecond - nFirst - 1);
    bool bHasStart = strStart.size() == 16;
    if (!ParseHex(strRest.substr(0, nFirst), 8, ullId) ||
        !ParseHex(strStart, bHasStart ? 16 : 8, ullStart) ||
        !ParseHex(strRest.substr(nSecond + 1), 8, ullCounter))
        return false;
    HANDLE hProcess = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE,
                                  static_cast<DWORD>(ullId));
    if (hProcess == NULL) {
        // No such process; any other refusal (access) leaves the container alone.
        return GetLastError() == ERROR_INVALID_PARAMETER;
    }
    bool bStale = WaitForSingleObject(hProcess, 0) == WAIT_OBJECT_0;
    ULONGLONG ullRunning = 0;
    if (!bStale && bHasStart && StartTime(hProcess, ullRunning))
        bStale = ullRunning != ullStart;
    CloseHandle(hProcess);
    return bStale;
}

bool CKeyContainerSweeper::ListContainers(std::vector<std::string>& names)
{
    names.clear();
    HCRYPTPROV hProv = 0;
    if (!CryptAcquireContextW(&hProv, NULL, MS_ENHANCED_PROV_W, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT))
        return false;
    DWORD cbMax = 0;
    bool bOk = CryptGetProvParam(hProv, PP_ENUMCONTAINERS, NULL, &cbMax, CRYPT_FIRST) != FALSE;
    std::vector<BYTE> buffer(bOk ? cbMax + 1 : 0);
    for (DWORD dwFlags = CRYPT_FIRST; bOk; dwFlags = CRYPT_NEXT) {
        DWORD cb = cbMax;
        if (!CryptGetProvParam(hProv, PP_ENUMCONTAINERS, buffer.data(), &cb, dwFlags)) {
            bOk = GetLastError() == ERROR_NO_MORE_ITEMS;
            break;
        }
        buffer[cb < buffer.size() ? cb : buffer.size() - 1] = 0;
        names.push_back(reinterpret_cast<const char*>(buffer.data()));
    }
    CryptReleaseContext(hProv, 0);
    return bOk;
}

int CKeyContainerSweeper::Sweep()
{
    std::vector<std::string> names;
    ListContainers(names);
    int nDeleted = 0;
    for (const std::string& strName : names) {
        // Our names are plain ASCII.
        std::wstring strWide(strName.begin(), strName.end());
        if (!IsStale(strWide))
            continue;
        HCRYPTPROV hProv = 0;
        if (CryptAcquireContextW(&hProv, strWide.c_str(), MS_ENHANCED_PROV_W, PROV_RSA_FULL,
                                 CRYPT_DELETEKEYSET))
            ++nDeleted;
    }
    return nDeleted;
}
