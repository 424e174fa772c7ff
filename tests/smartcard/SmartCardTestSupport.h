#pragma once
// Shared pieces of the smart-card tests and the soak driver: ATR text to bytes,
// the service's own view of a reader.
#include <windows.h>

#include <stdlib.h>
#include <vector>

#include "smartcard/CAPIWinSCard.h"
#include "tests/support/TestCapture.h"
#include "tests/support/TestFiles.h"
#include "tests/support/TestWait.h"

using tvltest::Capture;
using tvltest::CaughtFailure;

// pcscd polls vpcd about every 400 ms: a card state must last longer than
// that to be seen.
const DWORD HOLD_MS = 600;

// The test script sets TVL_PCSC_REQUIRED once it has started the bench: then a
// bench that cannot be reached is a failure, not a reason to skip.
inline bool PcscBenchRequired()
{
    return getenv("TVL_PCSC_REQUIRED") != nullptr;
}

inline std::vector<BYTE> AtrBytes(const char* pszHex)
{
    std::vector<BYTE> bytes;
    for (const char* p = pszHex; p[0] && p[1]; p += 2) {
        char sz[3] = {p[0], p[1], 0};
        bytes.push_back(static_cast<BYTE>(strtoul(sz, nullptr, 16)));
    }
    return bytes;
}

// Asks the service directly, on a context of the caller's own, whether the
// bench reader holds a card; waits up to dwTimeoutMs for it to settle so.
inline bool ServiceSees(int nReader, bool bPresent, DWORD dwTimeoutMs)
{
    SCARDCONTEXT hContext = 0;
    if (CAPIWinSCard::SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &hContext))
        return false;
    const char* pszNames[2] = {"Virtual PCD 00 00", "Virtual PCD 00 01"};
    SCARD_READERSTATEA state = {};
    state.szReader = pszNames[nReader];
    bool bSeen = false;
    DWORD dwStart = GetTickCount();
    while (GetTickCount() - dwStart < dwTimeoutMs) {
        LONG r = CAPIWinSCard::SCardGetStatusChangeA(hContext, 500, &state, 1);
        if (r == SCARD_S_SUCCESS || r == static_cast<LONG>(SCARD_E_TIMEOUT)) {
            bool bPresentNow = (state.dwEventState & SCARD_STATE_PRESENT) != 0;
            bool bSettled = (state.dwEventState & (SCARD_STATE_PRESENT | SCARD_STATE_EMPTY));
            if (bSettled && bPresentNow == bPresent) {
                bSeen = true;
                break;
            }
            state.dwCurrentState = state.dwEventState;
        } else {
            Sleep(100);
        }
    }
    CAPIWinSCard::SCardReleaseContext(hContext);
    return bSeen;
}
