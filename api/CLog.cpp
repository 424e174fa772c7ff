#include "api/CLog.h"

#include <windows.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/framework/CCriticalSection.h"

char CLog::m_szPath[256] = "";
int CLog::m_bEnabled = 0;

void CLog::SetEnabled(int bEnabled)
{
    m_bEnabled = bEnabled;
}

void CLog::SetPath(const char* pszPath)
{
    // A path that does not fit is dropped rather than cut: a cut path would name
    // some other file. Entries are then lost, as with no path at all.
    if (pszPath == nullptr || strlen(pszPath) >= sizeof(m_szPath))
        pszPath = "";
    lstrcpynA(m_szPath, pszPath, sizeof(m_szPath));
}

namespace {
// How long an entry waits for the file while another writer has it open (the
// library's threads write entries of their own while an export writes its).
const DWORD kShareRetryMs = 250;

// Writes one entry; the file is opened for this entry only, so a crash loses at
// most this entry and the host may move or read the file between entries.
void AppendToFile(const char* pszPath, const char* pszText, size_t nLength)
{
    HANDLE hFile;
    DWORD dwStart = GetTickCount();
    for (;;) {
        hFile = CreateFileA(pszPath, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr);
        if (hFile != INVALID_HANDLE_VALUE || GetLastError() != ERROR_SHARING_VIOLATION ||
            GetTickCount() - dwStart >= kShareRetryMs)
            break;
        Sleep(1);
    }
    if (hFile == INVALID_HANDLE_VALUE)
        return;
    if (SetFilePointer(hFile, 0, nullptr, FILE_END) != INVALID_SET_FILE_POINTER ||
        GetLastError() == NO_ERROR) {
        DWORD dwWritten = 0;
        WriteFile(hFile, pszText, static_cast<DWORD>(nLength), &dwWritten, nullptr);
        FlushFileBuffers(hFile);
    }
    CloseHandle(hFile);
}
}  // namespace

namespace {
struct CS_HELD {
    DWORD dwThreadId;
    std::vector<std::pair<CLog::EntryKind, std::string>> entries;
};
CCriticalSection& HoldLock()
{
    static CCriticalSection s_cs;
    return s_cs;
}
// Threads whose entries are kept back; a short list, most often empty.
std::vector<CS_HELD>& HeldThreads()
{
    static std::vector<CS_HELD> s_held;
    return s_held;
}
volatile LONG s_nHeld = 0;
}  // namespace

void CLog::HoldThread(unsigned long dwThreadId)
{
    CCriticalSection::CGuard guard(HoldLock());
    for (const CS_HELD& h : HeldThreads()) {
        if (h.dwThreadId == dwThreadId)
            return;
    }
    HeldThreads().push_back(CS_HELD{dwThreadId, {}});
    InterlockedIncrement(&s_nHeld);
}

void CLog::ReleaseThread(unsigned long dwThreadId, bool bWrite)
{
    // Written under the lock: an entry the thread makes meanwhile comes after.
    CCriticalSection::CGuard guard(HoldLock());
    std::vector<CS_HELD>& held = HeldThreads();
    for (size_t i = 0; i < held.size(); ++i) {
        if (held[i].dwThreadId != dwThreadId)
            continue;
        std::vector<std::pair<EntryKind, std::string>> entries;
        entries.swap(held[i].entries);
        held.erase(held.begin() + static_cast<std::ptrdiff_t>(i));
        InterlockedDecrement(&s_nHeld);
        if (bWrite) {
            for (const auto& entry : entries)
                WriteEntry(entry.first, entry.second.c_str());
        }
        return;
    }
}

void CLog::Write(EntryKind eKind, const char* pszFormat, va_list args)
{
    char szMessage[4096];
    memset(szMessage, 0, sizeof(szMessage));
    if (pszFormat != nullptr)
        vsnprintf(szMessage, sizeof(szMessage) - 1, pszFormat, args);

    if (!m_bEnabled)
        return;
    if (s_nHeld != 0) {
        CCriticalSection::CGuard guard(HoldLock());
        for (CS_HELD& h : HeldThreads()) {
            if (h.dwThreadId == GetCurrentThreadId()) {
                h.entries.emplace_back(eKind, szMessage);
                return;
            }
        }
    }
    WriteEntry(eKind, szMessage);
}

void CLog::WriteEntry(EntryKind eKind, const char* szMessage)
{
    SYSTEMTIME st;
    GetLocalTime(&st);
    char szEntry[4096];
    int n;
    switch (eKind) {
    case ENTRY_BANNER:
        n = snprintf(szEntry, sizeof(szEntry), "%s\r\n{\r\n", szMessage);
        break;
    case ENTRY_RESULT:
        n = snprintf(szEntry, sizeof(szEntry), "  %02d:%02d:%02d(%i) - %s\r\n}\r\n\r\n", st.wHour,
                     st.wMinute, st.wSecond, st.wMilliseconds, szMessage);
        break;
    default:
        n = snprintf(szEntry, sizeof(szEntry), "  %02d:%02d:%02d(%i) - %s\r\n", st.wHour,
                     st.wMinute, st.wSecond, st.wMilliseconds, szMessage);
        break;
    }
    if (n < 0)
        return;
    size_t nLength = static_cast<size_t>(n);
    if (nLength >= sizeof(szEntry)) {
        // Too long: keep the entry's line structure by ending it properly.
        static const char kTail[][8] = {"\r\n{\r\n", "\r\n", "\r\n}\r\n\r\n"};
        const char* pszTail = eKind == ENTRY_BANNER   ? kTail[0]
                              : eKind == ENTRY_RESULT ? kTail[2]
                                                      : kTail[1];
        size_t nTail = strlen(pszTail);
        nLength = sizeof(szEntry) - 1;
        memcpy(szEntry + nLength - nTail, pszTail, nTail);
        szEntry[nLength] = '\0';
    }

    char szPath[sizeof(m_szPath)];
    lstrcpynA(szPath, m_szPath, sizeof(szPath));
    if (szPath[0] == '\0')
        return;
    AppendToFile(szPath, szEntry, nLength);
}

void LogSetEnabled(int bEnabled)
{
    CLog::SetEnabled(bEnabled);
}

void LogSetPath(const char* pszPath)
{
    CLog::SetPath(pszPath);
}

#define TVL_LOG_ENTRY(kind)                  \
    va_list args;                            \
    va_start(args, pszFormat);               \
    CLog::Write(CLog::kind, pszFormat, args); \
    va_end(args)

void LogBanner(const char* pszFormat, ...)
{
    TVL_LOG_ENTRY(ENTRY_BANNER);
}

void LogInfo(const char* pszFormat, ...)
{
    TVL_LOG_ENTRY(ENTRY_INFO);
}

void LogResult(const char* pszFormat, ...)
{
    TVL_LOG_ENTRY(ENTRY_RESULT);
}
