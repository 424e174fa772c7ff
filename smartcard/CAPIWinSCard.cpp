#include "smartcard/CAPIWinSCard.h"

#include "api/CLog.h"
#include "api/CTarvoselException.h"

HMODULE CAPIWinSCard::m_hModule = nullptr;
CAPIWinSCard::PFN_SCardListReadersA CAPIWinSCard::SCardListReadersA = nullptr;
CAPIWinSCard::PFN_SCardEstablishContext CAPIWinSCard::SCardEstablishContext = nullptr;
CAPIWinSCard::PFN_SCardReleaseContext CAPIWinSCard::SCardReleaseContext = nullptr;
CAPIWinSCard::PFN_SCardFreeMemory CAPIWinSCard::SCardFreeMemory = nullptr;
CAPIWinSCard::PFN_SCardGetStatusChangeA CAPIWinSCard::SCardGetStatusChangeA = nullptr;
CAPIWinSCard::PFN_SCardCancel CAPIWinSCard::SCardCancel = nullptr;
CAPIWinSCard::PFN_SCardAccessStartedEvent CAPIWinSCard::SCardAccessStartedEvent = nullptr;
CAPIWinSCard::PFN_SCardReleaseStartedEvent CAPIWinSCard::SCardReleaseStartedEvent = nullptr;

CAPIWinSCard::~CAPIWinSCard()
{
    if (m_hModule != nullptr) {
        FreeLibrary(m_hModule);
        m_hModule = nullptr;
        ClearEntryPoints();
    }
}

void CAPIWinSCard::ClearEntryPoints()
{
    SCardListReadersA = nullptr;
    SCardEstablishContext = nullptr;
    SCardReleaseContext = nullptr;
    SCardFreeMemory = nullptr;
    SCardGetStatusChangeA = nullptr;
    SCardCancel = nullptr;
    SCardAccessStartedEvent = nullptr;
    SCardReleaseStartedEvent = nullptr;
}

FARPROC CAPIWinSCard::LoadFunction(const char* pszName, bool bRequired)
{
    FARPROC pfn = GetProcAddress(m_hModule, pszName);
    if (pfn != nullptr || !bRequired)
        return pfn;
    try {
        throw new CTarvoselException(EXC_WINDOWS, GetLastError(), "CAPIWinSCard::LoadFunction");
    } catch (CTarvoselException*) {
        LogInfo("No se ha cargado la funcion: %s", pszName);
        throw;
    }
}

namespace {
template <class PFN>
void Bind(PFN& pfn, const char* pszName, bool bRequired)
{
    // Through the generic function type, which -Wcast-function-type accepts.
    pfn = reinterpret_cast<PFN>(
        reinterpret_cast<void (*)(void)>(CAPIWinSCard::LoadFunction(pszName, bRequired)));
}
}  // namespace

// The table stays all-or-nothing: a failure leaves no module and no pointer.
void CAPIWinSCard::Load()
{
    if (m_hModule != nullptr)
        return;
    m_hModule = LoadLibraryA("winscard.dll");
    if (m_hModule == nullptr)
        throw new CTarvoselException(EXC_WINDOWS, GetLastError(), "CAPIWinSCard::Load");
    try {
        Bind(SCardListReadersA, "SCardListReadersA", true);
        Bind(SCardEstablishContext, "SCardEstablishContext", true);
        Bind(SCardReleaseContext, "SCardReleaseContext", true);
        Bind(SCardFreeMemory, "SCardFreeMemory", true);
        Bind(SCardGetStatusChangeA, "SCardGetStatusChangeA", true);
        Bind(SCardCancel, "SCardCancel", true);
        Bind(SCardAccessStartedEvent, "SCardAccessStartedEvent", false);
        Bind(SCardReleaseStartedEvent, "SCardReleaseStartedEvent", false);
    } catch (CTarvoselException*) {
        FreeLibrary(m_hModule);
        m_hModule = nullptr;
        ClearEntryPoints();
        throw;
    }
    LogInfo("API WinSCard cargada correctamente");
}

void CAPIWinSCard::Unload()
{
    if (m_hModule == nullptr)
        return;
    if (!FreeLibrary(m_hModule))
        throw new CTarvoselException(EXC_WINDOWS, GetLastError(), "CAPIWinSCard::Unload");
    m_hModule = nullptr;
    ClearEntryPoints();
}
