#pragma once
#include <windows.h>
#include <winscard.h>

// winscard.dll entry points, loaded by name at run time so that the library
// also runs where the smart-card service is missing. Class-wide: one table
// per process.
class CAPIWinSCard {
public:
    typedef LONG(WINAPI* PFN_SCardListReadersA)(SCARDCONTEXT, LPCSTR, LPSTR, LPDWORD);
    typedef LONG(WINAPI* PFN_SCardEstablishContext)(DWORD, LPCVOID, LPCVOID, LPSCARDCONTEXT);
    typedef LONG(WINAPI* PFN_SCardReleaseContext)(SCARDCONTEXT);
    typedef LONG(WINAPI* PFN_SCardFreeMemory)(SCARDCONTEXT, LPCVOID);
    typedef LONG(WINAPI* PFN_SCardGetStatusChangeA)(SCARDCONTEXT, DWORD, LPSCARD_READERSTATEA,
                                                    DWORD);
    typedef LONG(WINAPI* PFN_SCardCancel)(SCARDCONTEXT);
    typedef HANDLE(WINAPI* PFN_SCardAccessStartedEvent)(void);
    typedef void(WINAPI* PFN_SCardReleaseStartedEvent)(void);

    virtual ~CAPIWinSCard();

    // Throws CTarvoselException (kind Windows) when the module or a required
    // entry point is missing; a second call while loaded does nothing.
    static void Load();
    // Throws when the module cannot be freed; the handle then stays.
    static void Unload();
    static bool IsLoaded() { return m_hModule != nullptr; }
    // Address of an entry point, or null for a missing optional one; a missing
    // required one is logged and thrown.
    static FARPROC LoadFunction(const char* pszName, bool bRequired);

    static PFN_SCardListReadersA SCardListReadersA;
    static PFN_SCardEstablishContext SCardEstablishContext;
    static PFN_SCardReleaseContext SCardReleaseContext;
    static PFN_SCardFreeMemory SCardFreeMemory;
    static PFN_SCardGetStatusChangeA SCardGetStatusChangeA;
    static PFN_SCardCancel SCardCancel;
    static PFN_SCardAccessStartedEvent SCardAccessStartedEvent;
    static PFN_SCardReleaseStartedEvent SCardReleaseStartedEvent;

private:
    static void ClearEntryPoints();

    static HMODULE m_hModule;
};
