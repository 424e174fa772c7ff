/*
 * winscard.dll for Wine that forwards to the host's pcsc-lite, so that programs
 * running under Wine see the real readers of pcscd. Built with winegcc as an
 * ELF builtin; placed next to the executable it replaces Wine's stub.
 *
 * pcsc-lite is opened with dlopen so that no development package of the
 * other width is needed: its ABI is declared here by hand (DWORD and LONG are
 * "unsigned long"/"long", 32-bit on i386 and 64-bit on x86_64, where Windows'
 * stay 32-bit; SCARDCONTEXT and SCARDHANDLE longs; the ATR field 33 bytes). Besides the reader monitor's calls it carries what a card's
 * key provider needs to talk to the card: connect, transactions, transmit, status.
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

typedef struct
{
    pcsc_dword dwProtocol;
    pcsc_dword cbPciLength;
} pcsc_io_request;

/* pcsc-lite's card states are bits; Windows' are the values of one ladder */
#define PCSC_STATE_ABSENT 0x0002
#define PCSC_STATE_PRESENT 0x0004
#define PCSC_STATE_SWALLOWED 0x0008
#define PCSC_STATE_POWERED 0x0010
#define PCSC_STATE_NEGOTIABLE 0x0020
#define PCSC_STATE_SPECIFIC 0x0040
#define PCSC_PROTOCOL_RAW 0x0004

/* Windows' card states (winsmcrd.h, which Wine's headers lack) */
#ifndef SCARD_SPECIFIC
#define SCARD_UNKNOWN 0
#define SCARD_ABSENT 1
#define SCARD_PRESENT 2
#define SCARD_SWALLOWED 3
#define SCARD_POWERED 4
#define SCARD_NEGOTIABLE 5
#define SCARD_SPECIFIC 6
#endif

static pcsc_long (*p_establish)(pcsc_dword, const void *, const void *, pcsc_context *);
static pcsc_long (*p_release)(pcsc_context);
static pcsc_long (*p_list_readers)(pcsc_context, const char *, char *, pcsc_dword *);
static pcsc_long (*p_free_memory)(pcsc_context, const void *);
static pcsc_long (*p_status_change)(pcsc_context, pcsc_dword, pcsc_readerstate *, pcsc_dword);
static pcsc_long (*p_cancel)(pcsc_context);
static pcsc_long (*p_connect)(pcsc_context, const char *, pcsc_dword, pcsc_dword, pcsc_long *,
                              pcsc_dword *);
static pcsc_long (*p_reconnect)(pcsc_long, pcsc_dword, pcsc_dword, pcsc_dword, pcsc_dword *);
static pcsc_long (*p_disconnect)(pcsc_long, pcsc_dword);
static pcsc_long (*p_begin)(pcsc_long);
static pcsc_long (*p_end)(pcsc_long, pcsc_dword);
static pcsc_long (*p_status)(pcsc_long, char *, pcsc_dword *, pcsc_dword *, pcsc_dword *,
                             unsigned char *, pcsc_dword *);
static pcsc_long (*p_transmit)(pcsc_long, const pcsc_io_request *, const unsigned char *,
                               pcsc_dword, pcsc_io_request *, unsigned char *, pcsc_dword *);

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
    p_connect = dlsym(lib, "SCardConnect");
    p_reconnect = dlsym(lib, "SCardReconnect");
    p_disconnect = dlsym(lib, "SCardDisconnect");
    p_begin = dlsym(lib, "SCardBeginTransaction");
    p_end = dlsym(lib, "SCardEndTransaction");
    p_status = dlsym(lib, "SCardStatus");
    p_transmit = dlsym(lib, "SCardTransmit");
    if (!p_establish || !p_release || !p_list_readers || !p_free_memory
        || !p_status_change || !p_cancel || !p_connect || !p_reconnect || !p_disconnect
        || !p_begin || !p_end || !p_status || !p_transmit)
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
    /* with SCARD_AUTOALLOCATE pcsc-lite stores its own buffer through readers,
     * which SCardFreeMemory below hands back to it; its marker is all ones of
     * its own width (64 bits on x86_64), Windows' of 32 bits */
    n = *len == (DWORD)-1 ? (pcsc_dword)-1 : *len;
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

static pcsc_dword protocols_to_pcsc(DWORD protocols)
{
    pcsc_dword p = protocols & (SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1);
    if (protocols & SCARD_PROTOCOL_RAW) p |= PCSC_PROTOCOL_RAW;
    return p;
}

static DWORD protocol_from_pcsc(pcsc_dword protocol)
{
    DWORD p = protocol & (SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1);
    if (protocol & PCSC_PROTOCOL_RAW) p |= SCARD_PROTOCOL_RAW;
    return p;
}

LONG WINAPI SCardConnectA(SCARDCONTEXT context, LPCSTR reader, DWORD share, DWORD protocols,
                          LPSCARDHANDLE card, LPDWORD active)
{
    pcsc_long h = 0;
    pcsc_dword p = 0;
    LONG ret;
    if (!pcsc_lib) return SCARD_E_INVALID_HANDLE;
    if (!card || !reader) return SCARD_E_INVALID_PARAMETER;
    ret = p_connect((pcsc_context)context, reader, share, protocols_to_pcsc(protocols), &h, &p);
    *card = (SCARDHANDLE)h;
    if (active) *active = protocol_from_pcsc(p);
    return ret;
}

LONG WINAPI SCardReconnect(SCARDHANDLE card, DWORD share, DWORD protocols, DWORD init,
                           LPDWORD active)
{
    pcsc_dword p = 0;
    LONG ret;
    if (!pcsc_lib) return SCARD_E_INVALID_HANDLE;
    ret = p_reconnect((pcsc_long)card, share, protocols_to_pcsc(protocols), init, &p);
    if (active) *active = protocol_from_pcsc(p);
    return ret;
}

LONG WINAPI SCardDisconnect(SCARDHANDLE card, DWORD disposition)
{
    if (!pcsc_lib) return SCARD_E_INVALID_HANDLE;
    return p_disconnect((pcsc_long)card, disposition);
}

LONG WINAPI SCardBeginTransaction(SCARDHANDLE card)
{
    if (!pcsc_lib) return SCARD_E_INVALID_HANDLE;
    return p_begin((pcsc_long)card);
}

LONG WINAPI SCardEndTransaction(SCARDHANDLE card, DWORD disposition)
{
    if (!pcsc_lib) return SCARD_E_INVALID_HANDLE;
    return p_end((pcsc_long)card, disposition);
}

/* No SCARD_AUTOALLOCATE here: the caller gives the buffers. */
LONG WINAPI SCardStatusA(SCARDHANDLE card, LPSTR reader, LPDWORD reader_len, LPDWORD state,
                         LPDWORD protocol, LPBYTE atr, LPDWORD atr_len)
{
    char name[256];
    unsigned char atr_buf[PCSC_MAX_ATR];
    pcsc_dword n = sizeof(name), s = 0, p = 0, a = sizeof(atr_buf);
    LONG ret;
    if (!pcsc_lib) return SCARD_E_INVALID_HANDLE;
    ret = p_status((pcsc_long)card, name, &n, &s, &p, atr_buf, &a);
    if (ret != SCARD_S_SUCCESS) return ret;
    if (state)
    {
        if (s & PCSC_STATE_SPECIFIC) *state = SCARD_SPECIFIC;
        else if (s & PCSC_STATE_NEGOTIABLE) *state = SCARD_NEGOTIABLE;
        else if (s & PCSC_STATE_POWERED) *state = SCARD_POWERED;
        else if (s & PCSC_STATE_SWALLOWED) *state = SCARD_SWALLOWED;
        else if (s & PCSC_STATE_PRESENT) *state = SCARD_PRESENT;
        else if (s & PCSC_STATE_ABSENT) *state = SCARD_ABSENT;
        else *state = SCARD_UNKNOWN;
    }
    if (protocol) *protocol = protocol_from_pcsc(p);
    if (reader_len)
    {
        if (reader && *reader_len < n) { *reader_len = n; return SCARD_E_INSUFFICIENT_BUFFER; }
        if (reader) memcpy(reader, name, n);
        *reader_len = n;
    }
    if (atr_len)
    {
        if (atr && *atr_len < a) { *atr_len = a; return SCARD_E_INSUFFICIENT_BUFFER; }
        if (atr) memcpy(atr, atr_buf, a);
        *atr_len = a;
    }
    return ret;
}

LONG WINAPI SCardTransmit(SCARDHANDLE card, const SCARD_IO_REQUEST *send_pci, LPCBYTE send,
                          DWORD send_len, SCARD_IO_REQUEST *recv_pci, LPBYTE recv,
                          LPDWORD recv_len)
{
    pcsc_io_request pci, rpci;
    pcsc_dword n;
    LONG ret;
    if (!pcsc_lib) return SCARD_E_INVALID_HANDLE;
    if (!send_pci || !recv_len) return SCARD_E_INVALID_PARAMETER;
    /* only the header: no protocol-specific data follows in what we are sent */
    pci.dwProtocol = protocols_to_pcsc(send_pci->dwProtocol);
    pci.cbPciLength = sizeof(pci);
    rpci = pci;
    n = *recv_len;
    ret = p_transmit((pcsc_long)card, &pci, send, send_len, recv_pci ? &rpci : NULL, recv, &n);
    *recv_len = n;
    if (recv_pci) recv_pci->dwProtocol = protocol_from_pcsc(rpci.dwProtocol);
    return ret;
}

HANDLE WINAPI SCardAccessStartedEvent(void)
{
    return started_event;
}

void WINAPI SCardReleaseStartedEvent(void)
{
}
