#include "smartcard/CCardManager.h"

#include <string.h>

#include "api/CLog.h"
#include "api/LogEscape.h"
#include "api/CTarvoselException.h"
#include "smartcard/CAPIWinSCard.h"
#include "smartcard/CardDatabase.h"
#include "platform/framework/CWinApp.h"

namespace {
// Pause between failed status queries: doubles from the first to the last.
const DWORD RETRY_FIRST_MS = 200;
const DWORD RETRY_MAX_MS = 2000;
// StopMonitor's bound, and how often it repeats the cancel within it: a cancel
// that arrives just before the monitor blocks again would otherwise be lost.
const DWORD STOP_WAIT_MS = 1000;
const DWORD STOP_CANCEL_EVERY_MS = 100;
}  // namespace

UINT CCardManager::m_nEventMessage = 0;
SCARDCONTEXT CCardManager::m_hContext = 0;
int CCardManager::m_nReaders = 0;
volatile LONG CCardManager::m_nSelectedReader = -1;
volatile LONG CCardManager::m_bMonitorRunning = 0;
CLibraryThread CCardManager::m_monitorThread;
DWORD CCardManager::m_dwTargetThreadId = 0;
LPSTR CCardManager::m_szReadersName = nullptr;
SCARD_READERSTATEA CCardManager::m_ReaderStates[MAX_READERS];
SCARD_READERSTATEA CCardManager::m_RecordedStates[MAX_READERS];
CCriticalSection CCardManager::m_lock;
CHandlePtr CCardManager::m_hStopEvent;
std::vector<char> CCardManager::m_ownNames;
bool CCardManager::m_bContextAbandoned = false;

void CCardManager::Initialize()
{
    // A second initialisation must not leave the first context or monitor behind.
    if (m_hContext != 0 || m_bMonitorRunning)
        Terminate();

    m_hContext = 0;
    m_nReaders = 0;
    m_bMonitorRunning = 0;
    m_monitorThread.Close();
    m_dwTargetThreadId = 0;
    m_szReadersName = nullptr;
    m_nEventMessage = 0;
    m_nSelectedReader = -1;
    m_ownNames.clear();
    m_bContextAbandoned = false;
    {
        CCriticalSection::CGuard guard(m_lock);
        memset(m_ReaderStates, 0, sizeof(m_ReaderStates));
        memset(m_RecordedStates, 0, sizeof(m_RecordedStates));
    }

    try {
        LONG nResult = CAPIWinSCard::SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr,
                                                           &m_hContext);
        if (nResult != SCARD_S_SUCCESS) {
            // Some stubs leave garbage behind: never hand it to the service again.
            m_hContext = 0;
            throw new CTarvoselException(EXC_WINDOWS, GetLastError(), "CCardManager::Initialize");
        }
        if (m_hContext == 0)
            return;

        DWORD cchReaders = SCARD_AUTOALLOCATE;
        nResult = CAPIWinSCard::SCardListReadersA(m_hContext, nullptr,
                                                  reinterpret_cast<LPSTR>(&m_szReadersName),
                                                  &cchReaders);
        if (nResult != SCARD_S_SUCCESS) {
            m_szReadersName = nullptr;
            if (static_cast<DWORD>(nResult) != static_cast<DWORD>(SCARD_E_NO_READERS_AVAILABLE))
                throw new CTarvoselException(EXC_WINDOWS, GetLastError(),
                                             "CCardManager::Initialize");
        }
    } catch (CTarvoselException*) {
        if (m_hContext != 0)
            CAPIWinSCard::SCardReleaseContext(m_hContext);
        m_hContext = 0;
        throw;
    }

    int nReaders = 0;
    if (m_szReadersName != nullptr && *m_szReadersName != '\0') {
        for (LPSTR pszName = m_szReadersName; *pszName != '\0' && nReaders < MAX_READERS;
             pszName += strlen(pszName) + 1) {
            m_ReaderStates[nReaders].szReader = pszName;
            LogInfo("Lector detectado: (%s)", LogEscape(pszName).c_str());
            ++nReaders;
        }
    } else {
        LogInfo("m_szReadersName NULL o SCARD_E_NO_READERS_AVAILABLE");
    }
    m_nReaders = nReaders;
    CCriticalSection::CGuard guard(m_lock);
    for (int i = 0; i < nReaders; ++i)
        m_RecordedStates[i].szReader = m_ReaderStates[i].szReader;
}

void CCardManager::StartMonitor(DWORD dwTargetThreadId, int nReader, UINT nMessage)
{
    if (m_hContext == 0)
        return;
    if (nReader < -2 || nReader >= m_nReaders)
        LogInfo("Numero lector no válido, no se cambia: (%i)", nReader);
    else
        InterlockedExchange(&m_nSelectedReader, nReader);
    if (m_bMonitorRunning)
        return;

    m_dwTargetThreadId = dwTargetThreadId;
    {
        CCriticalSection::CGuard guard(m_lock);
        for (int i = 0; i < m_nReaders; ++i) {
            m_ReaderStates[i].dwCurrentState = SCARD_STATE_UNAWARE;
            m_ReaderStates[i].dwEventState = SCARD_STATE_UNAWARE;
            m_RecordedStates[i].dwCurrentState = SCARD_STATE_UNAWARE;
            m_RecordedStates[i].dwEventState = SCARD_STATE_UNAWARE;
        }
    }
    m_nEventMessage = nMessage;

    if (!m_hStopEvent)
        m_hStopEvent.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!m_hStopEvent || !ResetEvent(m_hStopEvent.get()))
        throw new CTarvoselException(EXC_WINDOWS, GetLastError(), "CCardManager::StartMonitor");

    // The mark must be set before the thread first looks at it.
    InterlockedExchange(&m_bMonitorRunning, 1);
    DWORD dwError = m_monitorThread.Start(MonitorLoop, nullptr, CWinApp::PinModule());
    if (dwError != 0) {
        InterlockedExchange(&m_bMonitorRunning, 0);
        throw new CTarvoselException(EXC_WINDOWS, dwError, "CCardManager::StartMonitor");
    }
}

bool CCardManager::IsServiceLost(LONG nResult)
{
    switch (static_cast<DWORD>(nResult)) {
    case static_cast<DWORD>(SCARD_E_NO_SERVICE):
    case static_cast<DWORD>(SCARD_E_SERVICE_STOPPED):
    case static_cast<DWORD>(SCARD_F_COMM_ERROR):
    case static_cast<DWORD>(SCARD_E_INVALID_HANDLE):
        return true;
    default:
        return false;
    }
}

// A context of a service that stopped stays dead when the service comes
// back: the monitor swaps in a new one. The reader names listed by the old
// context are copied first, as they go with it.
bool CCardManager::ReopenContext()
{
    SCARDCONTEXT hNew = 0;
    if (CAPIWinSCard::SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &hNew) !=
            SCARD_S_SUCCESS ||
        hNew == 0)
        return false;

    SCARDCONTEXT hOld = 0;
    LPSTR szOldNames = nullptr;
    {
        CCriticalSection::CGuard guard(m_lock);
        if (!m_bMonitorRunning) {
            // StopMonitor is cancelling the current context: leave it in place.
            CAPIWinSCard::SCardReleaseContext(hNew);
            return false;
        }
        hOld = m_hContext;
        szOldNames = SwapInOwnNames();
        m_hContext = hNew;
    }
    // A wedged service may block these: never while holding the lock that
    // StopMonitor and IsCardPresent take.
    if (szOldNames != nullptr)
        CAPIWinSCard::SCardFreeMemory(hOld, szOldNames);
    CAPIWinSCard::SCardReleaseContext(hOld);
    return true;
}

// Moves the reader names into the library's own storage (the service's copy
// dies with its context) and returns the service's copy for freeing. Called
// with the lock held.
LPSTR CCardManager::SwapInOwnNames()
{
    LPSTR szOld = m_szReadersName;
    if (m_szReadersName != nullptr) {
        const char* pszBegin = m_szReadersName;
        const char* pszEnd = pszBegin;
        while (*pszEnd != '\0')
            pszEnd += strlen(pszEnd) + 1;
        std::vector<char> names(pszBegin, pszEnd + 1);
        for (int i = 0; i < m_nReaders; ++i) {
            size_t nOffset = m_ReaderStates[i].szReader - m_szReadersName;
            m_ReaderStates[i].szReader = names.data() + nOffset;
            m_RecordedStates[i].szReader = names.data() + nOffset;
        }
        m_ownNames.swap(names);
        m_szReadersName = nullptr;
    }
    return szOld;
}

void CCardManager::RecordStates()
{
    CCriticalSection::CGuard guard(m_lock);
    memcpy(m_RecordedStates, m_ReaderStates, sizeof(SCARD_READERSTATEA) * m_nReaders);
}

DWORD CCardManager::MonitorLoop(void*)
{
    if (!m_bMonitorRunning)
        return 0;
    bool bFirstPass = true;
    bool bFailing = false;
    DWORD dwRetryMs = RETRY_FIRST_MS;

    while (m_bMonitorRunning) {
        LONG nResult = CAPIWinSCard::SCardGetStatusChangeA(m_hContext, INFINITE, m_ReaderStates,
                                                           m_nReaders);
        if (!m_bMonitorRunning)
            return 0;

        if (nResult != SCARD_S_SUCCESS) {
            // A failed query says nothing about the cards: keep what was recorded
            // and pause, or a stopped service would make this loop spin.
            if (!bFailing) {
                LogInfo("Monitor de tarjetas: error del servicio (0x%08lX), se reintenta",
                        static_cast<unsigned long>(nResult));
                bFailing = true;
                dwRetryMs = RETRY_FIRST_MS;
            }
            if (WaitForSingleObject(m_hStopEvent.get(), dwRetryMs) != WAIT_TIMEOUT)
                return 0;
            dwRetryMs = dwRetryMs * 2 > RETRY_MAX_MS ? RETRY_MAX_MS : dwRetryMs * 2;
            if (IsServiceLost(nResult) && m_bMonitorRunning)
                ReopenContext();
            continue;
        }
        if (bFailing) {
            LogInfo("Monitor de tarjetas: servicio disponible de nuevo");
            bFailing = false;
        }

        // Recorded before anyone hears of the change: a host that answers an
        // insertion with FindCardReader must find the card.
        enum { NONE, INSERTED, REMOVED } change[MAX_READERS] = {};
        for (int i = 0; i < m_nReaders; ++i) {
            DWORD dwEvent = m_ReaderStates[i].dwEventState;
            DWORD dwCurrent = m_ReaderStates[i].dwCurrentState;
            if (bFirstPass) {
                if (dwEvent & SCARD_STATE_PRESENT)
                    change[i] = INSERTED;
            } else if ((dwEvent & SCARD_STATE_PRESENT) && (dwCurrent & SCARD_STATE_EMPTY)) {
                change[i] = INSERTED;
            } else if ((dwEvent & SCARD_STATE_EMPTY) && (dwCurrent & SCARD_STATE_PRESENT)) {
                change[i] = REMOVED;
            }
            m_ReaderStates[i].dwCurrentState = dwEvent;
        }
        RecordStates();
        for (int i = 0; i < m_nReaders; ++i) {
            if (change[i] != NONE)
                NotifyCardEvent(i, change[i] == INSERTED);
        }
        bFirstPass = false;
    }
    return 0;
}

void CCardManager::NotifyCardEvent(int nReader, bool bPresent)
{
    LONG nFilter = m_nSelectedReader;
    if (nFilter != -1 && nFilter != nReader)
        return;
    PostThreadMessageA(m_dwTargetThreadId, m_nEventMessage, bPresent ? 1 : 0, nReader);
}

void CCardManager::StopMonitor()
{
    if (!m_monitorThread.IsStarted() || !m_bMonitorRunning || m_hContext == 0)
        return;
    try {
        InterlockedExchange(&m_bMonitorRunning, 0);
        SetEvent(m_hStopEvent.get());
        // With the mark cleared the monitor swaps contexts no more: the one
        // read here is the one it blocks on. The service may block the cancel
        // itself, so it is made outside the lock, which IsCardPresent and
        // GetCardATR take.
        SCARDCONTEXT hContext;
        {
            CCriticalSection::CGuard guard(m_lock);
            hContext = m_hContext;
        }
        LONG nCancel = CAPIWinSCard::SCardCancel(hContext);
        if (nCancel != SCARD_S_SUCCESS) {
            // Normal while the service is down: the monitor then waits on the
            // stop event, not in the service, and ends all the same.
            LogInfo("Monitor de tarjetas: SCardCancel ha fallado (0x%08lX)",
                    static_cast<unsigned long>(nCancel));
        }

        DWORD dwWaited = 0;
        bool bEnded = false;
        while (dwWaited < STOP_WAIT_MS) {
            bEnded = m_monitorThread.Wait(STOP_CANCEL_EVERY_MS);
            if (bEnded)
                break;
            dwWaited += STOP_CANCEL_EVERY_MS;
            CAPIWinSCard::SCardCancel(hContext);
        }
        if (bEnded) {
            m_monitorThread.Close();
            return;
        }

        LogInfo("Terminando el monitor manualmente...");
        // Also gives back the library reference that the killed thread held.
        if (!m_monitorThread.Terminate())
            throw new CTarvoselException(EXC_WINDOWS, GetLastError(), "CCardManager::StopMonitor");
        // The thread may have died inside the service library holding the
        // context's own lock: further calls on the context could hang.
        m_bContextAbandoned = true;
        m_monitorThread.Close();
    } catch (CTarvoselException*) {
        InterlockedExchange(&m_bMonitorRunning, 1);
        throw;
    }
}

void CCardManager::Terminate()
{
    try {
        if (m_bMonitorRunning)
            StopMonitor();
    } catch (CTarvoselException* e) {
        delete e;
        return;
    }
    if (!m_bContextAbandoned) {
        if (m_szReadersName != nullptr) {
            CAPIWinSCard::SCardFreeMemory(m_hContext, m_szReadersName);
            m_szReadersName = nullptr;
        }
        if (m_hContext != 0) {
            CAPIWinSCard::SCardReleaseContext(m_hContext);
            m_hContext = 0;
        }
    } else {
        // Leaked on purpose: see StopMonitor.
        m_szReadersName = nullptr;
        m_hContext = 0;
    }
    // The records point into the names just freed.
    CCriticalSection::CGuard guard(m_lock);
    m_nReaders = 0;
    memset(m_ReaderStates, 0, sizeof(m_ReaderStates));
    memset(m_RecordedStates, 0, sizeof(m_RecordedStates));
    m_ownNames.clear();
}

// The monitor may be blocked in its own status query on the shared context,
// and the service serialises the calls on one context (pcsc-lite makes a
// second query wait for the first), so while it runs the answer and the ATR
// come from what it last recorded. Without a monitor a zero-timeout query over
// a copy of the records refreshes the ATR; the answer is still the recorded
// state.
int CCardManager::IsCardPresent(int nReader)
{
    if (nReader < 0 || nReader >= m_nReaders)
        return 0;

    SCARD_READERSTATEA states[MAX_READERS];
    int nReaders;
    {
        CCriticalSection::CGuard guard(m_lock);
        nReaders = m_nReaders;
        memcpy(states, m_RecordedStates, sizeof(states));
    }
    DWORD dwRecorded = states[nReader].dwCurrentState;

    if (!m_bMonitorRunning && m_hContext != 0 && !m_bContextAbandoned && nReaders > 0) {
        if (CAPIWinSCard::SCardGetStatusChangeA(m_hContext, 0, states, nReaders) ==
            SCARD_S_SUCCESS) {
            CCriticalSection::CGuard guard(m_lock);
            if (nReader < m_nReaders) {
                m_RecordedStates[nReader].dwEventState = states[nReader].dwEventState;
                m_RecordedStates[nReader].cbAtr = states[nReader].cbAtr;
                memcpy(m_RecordedStates[nReader].rgbAtr, states[nReader].rgbAtr,
                       sizeof(states[nReader].rgbAtr));
            }
        }
    }
    return (dwRecorded & SCARD_STATE_PRESENT) != 0;
}

void CCardManager::GetCardATR(int nReader, BYTE* pbAtr, DWORD* pcbAtr)
{
    *pcbAtr = 0;
    if (nReader < 0 || nReader >= MAX_READERS)
        return;
    CCriticalSection::CGuard guard(m_lock);
    DWORD cbAtr = m_RecordedStates[nReader].cbAtr;
    if (cbAtr > sizeof(m_RecordedStates[nReader].rgbAtr))
        cbAtr = sizeof(m_RecordedStates[nReader].rgbAtr);
    if (cbAtr != 0) {
        memcpy(pbAtr, m_RecordedStates[nReader].rgbAtr, cbAtr);
        *pcbAtr = cbAtr;
    }
}

int CCardManager::FindCardReader(char* pszCardName, char* pszProvider)
{
    pszCardName[0] = '\0';
    pszProvider[0] = '\0';
    for (int i = 0; i < m_nReaders; ++i) {
        if (!IsCardPresent(i))
            continue;
        BYTE atr[256];
        DWORD cbAtr = 0;
        GetCardATR(i, atr, &cbAtr);
        GetCardType(atr, cbAtr, pszCardName, pszProvider);
        return i;
    }
    return -1;
}
