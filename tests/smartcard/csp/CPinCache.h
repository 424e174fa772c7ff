#pragma once
// The PINs this process has had verified, one per card: a card is its reader
// and the reader's card-event count, so a card that was pulled and put back
// (or swapped) is a new card whose PIN is asked again. Process-wide, locked.
#include <windows.h>
#include <winscard.h>

#include <string>

class CPinCache {
public:
    // The reader's card-event count now; false when the service does not say.
    static bool EventCount(SCARDCONTEXT hContext, const std::string& strReader, DWORD& dwCount);

    static bool Lookup(const std::string& strReader, DWORD dwCount, std::string& strPin);
    static void Store(const std::string& strReader, DWORD dwCount, const std::string& strPin);
    static void Forget(const std::string& strReader);
};
