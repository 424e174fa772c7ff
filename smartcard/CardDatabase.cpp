#include "smartcard/CardDatabase.h"

#include <stdio.h>
#include <string.h>

#include "api/CLog.h"
#include "api/CTarvoselException.h"
#include "platform/framework/Win32Handles.h"

namespace {

const char CARDS_KEY[] = "SOFTWARE\\Microsoft\\Cryptography\\Calais\\SmartCards";
const DWORD VALUE_SIZE = 256;

// Opens a key for reading; the key is left empty on failure.
LONG OpenForReading(HKEY hParent, const char* pszPath, CRegKeyPtr& key)
{
    HKEY hKey = nullptr;
    LONG nResult = RegOpenKeyExA(hParent, pszPath, 0, KEY_READ, &hKey);
    key.reset(nResult == ERROR_SUCCESS ? hKey : nullptr);
    return nResult;
}

// Reads a value into a zero-filled buffer of VALUE_SIZE bytes.
bool Query(HKEY hKey, const char* pszName, BYTE* pbData, DWORD* pcbData, DWORD* pdwType)
{
    memset(pbData, 0, VALUE_SIZE);
    *pcbData = VALUE_SIZE;
    return RegQueryValueExA(hKey, pszName, nullptr, pdwType, pbData, pcbData) == ERROR_SUCCESS;
}

// True when the registration under pszCardKey matches the ATR; its provider
// goes to szProvider.
bool MatchCardType(const char* pszCardKey, const BYTE* pbAtr, DWORD cbAtr,
                   char (&szProvider)[VALUE_SIZE])
{
    CRegKeyPtr card;
    if (OpenForReading(HKEY_LOCAL_MACHINE, pszCardKey, card) != ERROR_SUCCESS)
        return false;

    BYTE provider[VALUE_SIZE];
    BYTE atr[VALUE_SIZE];
    BYTE mask[VALUE_SIZE];
    DWORD cb = 0;
    DWORD dwType = 0;
    if (!Query(card.get(), "Crypto Provider", provider, &cb, &dwType) || dwType != REG_SZ)
        return false;
    if (!Query(card.get(), "ATR", atr, &cb, &dwType))
        return false;
    if (!Query(card.get(), "ATRMask", mask, &cb, &dwType) || cb != cbAtr)
        return false;

    for (DWORD k = 0; k < cbAtr; ++k) {
        if ((pbAtr[k] & mask[k]) != atr[k])
            return false;
    }
    // A REG_SZ value need not carry its terminating zero.
    provider[VALUE_SIZE - 1] = '\0';
    memcpy(szProvider, provider, VALUE_SIZE);
    return true;
}

}  // namespace

void GetCardType(const BYTE* pbAtr, DWORD cbAtr, char* pszCardName, char* pszProvider)
{
    pszCardName[0] = '\0';
    pszProvider[0] = '\0';
    // Mask values are read into 256 bytes: no longer ATR can match.
    if (pbAtr == nullptr || cbAtr == 0 || cbAtr > VALUE_SIZE)
        return;

    CRegKeyPtr cards;
    try {
        LONG nResult = OpenForReading(HKEY_LOCAL_MACHINE, CARDS_KEY, cards);
        if (nResult != ERROR_SUCCESS)
            throw new CTarvoselException(EXC_WINDOWS, nResult, "GetCardType");

        for (DWORD dwIndex = 0;; ++dwIndex) {
            char szName[256];
            DWORD cchName = sizeof(szName);
            nResult = RegEnumKeyExA(cards.get(), dwIndex, szName, &cchName, nullptr, nullptr,
                                    nullptr, nullptr);
            if (nResult == ERROR_NO_MORE_ITEMS)
                return;
            if (nResult != ERROR_SUCCESS)
                throw new CTarvoselException(EXC_WINDOWS, nResult, "GetCardType");

            char szPath[sizeof(CARDS_KEY) + 1 + sizeof(szName)];
            snprintf(szPath, sizeof(szPath), "%s\\%s", CARDS_KEY, szName);
            char szProvider[VALUE_SIZE];
            if (MatchCardType(szPath, pbAtr, cbAtr, szProvider)) {
                lstrcpynA(pszCardName, szName, VALUE_SIZE);
                lstrcpynA(pszProvider, szProvider, VALUE_SIZE);
                return;
            }
        }
    } catch (CTarvoselException* e) {
        LogInfo("%s", e->GetDescription().c_str());
        delete e;
        pszCardName[0] = '\0';
        pszProvider[0] = '\0';
    }
}
