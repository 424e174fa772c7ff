/*
 * winscard.dll for Wine that forwards to the host's pcsc-lite, so that programs
 * running under Wine see the real readers of pcscd. Built with winegcc as an
 * ELF builtin; placed next to the executable it replaces Wine's stub.
 *
 * pcsc-lite is opened with dlopen so that no 32-bit development package is
 * needed: its i386 ABI is declared here by hand (DWORD and LONG are 32-bit
 * "unsigned long"/"long", SCARDCONTEXT a 32-bit long, the ATR field 33 bytes).
 */
#include <stdarg.h>
#include <string.h>
#include <dlfcn.h>

#include "windef.h"
#include "winbase.h"
#include "winscard.h"

#define PCSC_MAX_ATR 33
#define PCSC_MAX_READERS 16

typedef long pcsc_long;
typedef unsigned long pcsc_dword;
typedef long pcsc_context;

typedef struct
{
    const char *szReader;
    void *pvUserData;
    pcsc_dword dwCurrentState;
    pcsc_dword dwEventState;
    pcsc_dword cbAtr;
    unsigned char rgbAtr[PCSC_MAX_ATR];
} pcsc_readerstate;

static pcsc_long (*p_establish)(pcsc_dword, const void *, const void *, pcsc_context *);
static pcsc_long (*p_release)(pcsc_context);
static pcsc_long (*p_list_readers)(pcsc_context, const char *, char *, pcsc_dword *);
static pcsc_long (*p_free_memory)(pcsc_context, const void *);
static pcsc_long (*p_status_change)(pcsc_context, pcsc_dword, pcsc_readerstate *, pcsc_dword);
static pcsc_long (*p_cancel)(pcsc_context);

static void *pcsc_lib;
static HANDLE started_event;

static BOOL load_pcsclite(void)
{
    void *lib;
    if (pcsc_lib) return TRUE;
    if (!(lib = dlopen("libpcsclite.so.1", RTLD_NOW))) return FALSE;
    p_establish = dlsym(lib, "SCardEstablishContext");
    p_release = dlsym(lib, "SCardReleaseContext");
    p_list_readers = dlsym(lib, "SCardListReaders");
    p_free_memory = dlsym(lib, "SCardFreeMemory");
    p_status_change = dlsym(lib, "SCardGetStatusChange");
    p_cancel = dlsym(lib, "SCardCancel");
    if (!p_establish || !p_release || !p_list_readers || !p_free_memory
        || !p_status_change || !p_cancel)
    {
        dlclose(lib);
        return FALSE;
    }
    pcsc_lib = lib;
    return TRUE;
}

BOOL WINAPI DllMain(HINSTANCE inst, DWORD reason, LPVOID reserved)
{
    switch (reason)
    {
    case DLL_PROCESS_ATTACH:
        DisableThreadLibraryCalls(inst);
        /* pcscd has no started-event: ours is always signalled */
        started_event = CreateEventW(NULL, TRUE, TRUE, NULL);
        if (!started_event) return FALSE;
        break;
    case DLL_PROCESS_DETACH:
        if (reserved) break; /* process exit: leave the library alone */
        CloseHandle(started_event);
        if (pcsc_lib) dlclose(pcsc_lib);
        pcsc_lib = NULL;
        break;
    }
    return TRUE;
}

LONG WINAPI SCardEstablishContext(DWORD scope, LPCVOID reserved1, LPCVOID reserved2,
                                  LPSCARDCONTEXT context)
{
    pcsc_context ctx = 0;
    LONG ret;
    if (!context) return SCARD_E_INVALID_PARAMETER;
    if (!load_pcsclite()) return SCARD_E_NO_SERVICE;
    ret = p_establish(scope, reserved1, reserved2, &ctx);
    *context = (SCARDCONTEXT)ctx;
    return ret;
}

LONG WINAPI SCardReleaseContext(SCARDCONTEXT context)
{
    if (!pcsc_lib) return SCARD_E_INVALID_HANDLE;
    return p_release((pcsc_context)context);
}

LONG WINAPI SCardListReadersA(SCARDCONTEXT context, LPCSTR groups, LPSTR readers, LPDWORD len)
{
    pcsc_dword n;
    LONG ret;
    if (!pcsc_lib) return SCARD_E_INVALID_HANDLE;
    if (!len) return SCARD_E_INVALID_PARAMETER;
    n = *len;
    /* with SCARD_AUTOALLOCATE pcsc-lite stores its own buffer through readers,
     * which SCardFreeMemory below hands back to it */
    ret = p_list_readers((pcsc_context)context, groups, readers, &n);
    *len = n;
    return ret;
}

LONG WINAPI SCardFreeMemory(SCARDCONTEXT context, LPCVOID mem)
{
    if (!pcsc_lib) return SCARD_E_INVALID_HANDLE;
    return p_free_memory((pcsc_context)context, mem);
}

LONG WINAPI SCardGetStatusChangeA(SCARDCONTEXT context, DWORD timeout,
                                  LPSCARD_READERSTATEA states, DWORD count)
{
    pcsc_readerstate rs[PCSC_MAX_READERS];
    DWORD i;
    LONG ret;

    if (!pcsc_lib) return SCARD_E_INVALID_HANDLE;
    if (count > PCSC_MAX_READERS) return SCARD_E_INVALID_VALUE;
    if (count && !states) return SCARD_E_INVALID_PARAMETER;
    for (i = 0; i < count; i++)
    {
        rs[i].szReader = states[i].szReader;
        rs[i].pvUserData = states[i].pvUserData;
        rs[i].dwCurrentState = states[i].dwCurrentState;
        rs[i].dwEventState = states[i].dwEventState;
        rs[i].cbAtr = states[i].cbAtr > PCSC_MAX_ATR ? PCSC_MAX_ATR : states[i].cbAtr;
        memcpy(rs[i].rgbAtr, states[i].rgbAtr, PCSC_MAX_ATR);
    }
    ret = p_status_change((pcsc_context)context, timeout, rs, count);
    for (i = 0; i < count; i++)
    {
        states[i].dwEventState = rs[i].dwEventState;
        states[i].cbAtr = rs[i].cbAtr > PCSC_MAX_ATR ? PCSC_MAX_ATR : rs[i].cbAtr;
        memcpy(states[i].rgbAtr, rs[i].rgbAtr, PCSC_MAX_ATR);
        memset(states[i].rgbAtr + PCSC_MAX_ATR, 0, sizeof(states[i].rgbAtr) - PCSC_MAX_ATR);
    }
    return ret;
}

LONG WINAPI SCardCancel(SCARDCONTEXT context)
{
    if (!pcsc_lib) return SCARD_E_INVALID_HANDLE;
    return p_cancel((pcsc_context)context);
}

HANDLE WINAPI SCardAccessStartedEvent(void)
{
    return started_event;
}

void WINAPI SCardReleaseStartedEvent(void)
{
}
