#include "CPinCache.h"

#include <map>
#include <mutex>

namespace {
struct CEntry {
    DWORD dwCount;
    std::string strPin;
};

std::mutex& Lock()
{
    static std::mutex m;
    return m;
}

std::map<std::string, CEntry>& Entries()
{
    static std::map<std::string, CEntry> entries;
    return entries;
}
}  // namespace

bool CPinCache::EventCount(SCARDCONTEXT hContext, const std::string& strReader, DWORD& dwCount)
{
    SCARD_READERSTATEA state = {};
    state.szReader = strReader.c_str();
    state.dwCurrentState = SCARD_STATE_UNAWARE;
    if (SCardGetStatusChangeA(hContext, 0, &state, 1) != SCARD_S_SUCCESS)
        return false;
    // The service counts insertions and removals in the upper half.
    dwCount = state.dwEventState >> 16;
    return true;
}

bool CPinCache::Lookup(const std::string& strReader, DWORD dwCount, std::string& strPin)
{
    std::lock_guard<std::mutex> lock(Lock());
    auto it = Entries().find(strReader);
    if (it == Entries().end())
        return false;
    if (it->second.dwCount != dwCount) {
        // The card left the reader since: its PIN goes with it.
        SecureZeroMemory(&it->second.strPin[0], it->second.strPin.size());
        Entries().erase(it);
        return false;
    }
    strPin = it->second.strPin;
    return true;
}

void CPinCache::Store(const std::string& strReader, DWORD dwCount, const std::string& strPin)
{
    std::lock_guard<std::mutex> lock(Lock());
    Entries()[strReader] = CEntry{dwCount, strPin};
}

void CPinCache::Forget(const std::string& strReader)
{
    std::lock_guard<std::mutex> lock(Lock());
    auto it = Entries().find(strReader);
    if (it != Entries().end()) {
        if (!it->second.strPin.empty())
            SecureZeroMemory(&it->second.strPin[0], it->second.strPin.size());
        Entries().erase(it);
    }
}
