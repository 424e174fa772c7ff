#pragma once
#include <windows.h>
#include <winscard.h>
#include <vector>

#include "platform/framework/CCriticalSection.h"
#include "platform/framework/CLibraryThread.h"
#include "platform/framework/Win32Handles.h"

// The process's smart-card context, the readers present when it was opened
// (at most ten) and the monitor thread that posts card insertions and removals
// to a thread as a message (WM_CARD_EVENT: wParam 1 present, 0 removed;
// lParam reader index). Class-wide: one context, one monitor per process.
class CCardManager {
public:
    enum { MAX_READERS = 10 };

    virtual ~CCardManager() {}

    // Opens the context and records the readers; throws CTarvoselException
    // (kind Windows) with no context left open when the service fails.
    static void Initialize();
    static int GetReaderCount() { return m_nReaders; }
    // nReader: -1 every reader, -2 none, k only reader k. A second call only
    // changes the filter. Throws when the thread cannot be created.
    static void StartMonitor(DWORD dwTargetThreadId, int nReader, UINT nMessage);
    static void StopMonitor();
    // Stops the monitor and releases the context; never throws.
    static void Terminate();
    // Non-zero when the monitor last recorded a card in reader nReader.
    static int IsCardPresent(int nReader);
    static void GetCardATR(int nReader, BYTE* pbAtr, DWORD* pcbAtr);
    // First reader holding a card, with the card's registered name and
    // provider (256-byte buffers, empty when unknown); -1 without a card.
    static int FindCardReader(char* pszCardName, char* pszProvider);

private:
    static DWORD MonitorLoop(void* pParam);
    static void NotifyCardEvent(int nReader, bool bPresent);
    static void RecordStates();
    static bool ReopenContext();
    static LPSTR SwapInOwnNames();
    static bool IsServiceLost(LONG nResult);

    static UINT m_nEventMessage;
    static SCARDCONTEXT m_hContext;
    static int m_nReaders;
    static volatile LONG m_nSelectedReader;
    static volatile LONG m_bMonitorRunning;
    static CLibraryThread m_monitorThread;
    static DWORD m_dwTargetThreadId;
    static LPSTR m_szReadersName;
    // The records the monitor blocks on; only the monitor thread touches them
    // while it runs.
    static SCARD_READERSTATEA m_ReaderStates[MAX_READERS];

    // What the monitor last recorded, for the callers' thread (under m_lock).
    static SCARD_READERSTATEA m_RecordedStates[MAX_READERS];
    // Guards the recorded states and the context handle between the monitor
    // and the callers' thread; never held across a call into the service.
    static CCriticalSection m_lock;
    // Wakes the monitor from its pause between failed status queries.
    static CHandlePtr m_hStopEvent;
    // Reader names kept by the library once the context that listed them
    // was replaced after the service came back.
    static std::vector<char> m_ownNames;
    // The monitor was killed, possibly inside the service library: its
    // context must not be used again.
    static bool m_bContextAbandoned;
};
