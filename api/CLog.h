#pragma once
#include <stdarg.h>

// Class-wide log state. The file is opened and closed for every entry, so the
// host may move or read it between calls. Entries never fail and never throw.
class CLog {
public:
    virtual ~CLog() {}
    static void SetEnabled(int bEnabled);
    static void SetPath(const char* pszPath);
    static int IsEnabled() { return m_bEnabled; }
    static const char* GetPath() { return m_szPath; }

    enum EntryKind { ENTRY_BANNER, ENTRY_INFO, ENTRY_RESULT };
    static void Write(EntryKind eKind, const char* pszFormat, va_list args);

    // Entries of the thread dwThreadId are kept back, in order, from here on
    // until ReleaseThread writes them (with the time of the release) or, with
    // bWrite false, forgets them. Work that runs alongside other work keeps
    // its entries in the order they would have had, one after the other.
    static void HoldThread(unsigned long dwThreadId);
    static void ReleaseThread(unsigned long dwThreadId, bool bWrite);

private:
    static void WriteEntry(EntryKind eKind, const char* pszMessage);

    static char m_szPath[256];
    static int m_bEnabled;
};

void LogSetEnabled(int bEnabled);
void LogSetPath(const char* pszPath);
void LogBanner(const char* pszFormat, ...) __attribute__((format(printf, 1, 2)));
void LogInfo(const char* pszFormat, ...) __attribute__((format(printf, 1, 2)));
void LogResult(const char* pszFormat, ...) __attribute__((format(printf, 1, 2)));
