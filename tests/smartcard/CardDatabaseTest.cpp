// GetCardType against the card types that carddb.sh registers in the test
// prefix (CTest fixture "pcsc").
#include <gtest/gtest.h>

#include "CardTestData.h"
#include "SmartCardTestSupport.h"
#include "smartcard/CardDatabase.h"

namespace {

struct CardTypeCase {
    const char* pszAtr;
    const char* pszName;
    const char* pszProvider;
};

const CardTypeCase CASES[] = {
    // both registrations match: the one enumerated first wins
    {ATR_BOTH_TYPES, "Tarvosel Prueba 1", "Tarvosel CSP Uno"},
    // only the masked one matches
    {ATR_MASKED_ONLY, "Tarvosel Prueba 1", "Tarvosel CSP Uno"},
    // a registration after others is found
    {ATR_OTHER, "Tarvosel Otra", "Tarvosel CSP Otra"},
    // the eight-byte registration matches an eight-byte ATR...
    {"3B0854564C434F52", "Tarvosel Corta", "Tarvosel CSP Corta"},
    // ...but not a longer one that starts the same
    {ATR_LONGER_THAN_MASK, "", ""},
    {ATR_UNKNOWN, "", ""},
    // shorter than every mask
    {"3B02", "", ""},
};

}  // namespace

TEST(GetCardType, RegisteredTypes)
{
    tvltest::LogCapture log("smartcard");
    for (const CardTypeCase& c : CASES) {
        SCOPED_TRACE(c.pszAtr);
        std::vector<BYTE> atr = AtrBytes(c.pszAtr);
        char szName[256] = "stale name";
        char szProvider[256] = "stale provider";
        GetCardType(atr.data(), static_cast<DWORD>(atr.size()), szName, szProvider);
        EXPECT_STREQ(szName, c.pszName);
        EXPECT_STREQ(szProvider, c.pszProvider);
    }
    // Nothing here is a registry failure.
    EXPECT_FALSE(log.Contains("GetCardType"));
}

TEST(GetCardType, EmptyAtrGivesEmptyNames)
{
    BYTE atr[1] = {0x3B};
    char szName[256] = "stale";
    char szProvider[256] = "stale";
    GetCardType(atr, 0, szName, szProvider);
    EXPECT_STREQ(szName, "");
    EXPECT_STREQ(szProvider, "");
}

TEST(GetCardType, MissingDatabaseIsLoggedAndGivesEmptyNames)
{
    // Point this process's HKEY_LOCAL_MACHINE at an empty key of its own.
    HKEY hEmpty = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\TarvoselTest\\EmptyMachine", 0,
                              nullptr, 0, KEY_ALL_ACCESS, nullptr, &hEmpty, nullptr),
              ERROR_SUCCESS);
    LONG nOverride = RegOverridePredefKey(HKEY_LOCAL_MACHINE, hEmpty);
    if (nOverride != ERROR_SUCCESS) {
        RegCloseKey(hEmpty);
        GTEST_SKIP() << "RegOverridePredefKey not available: " << nOverride;
    }

    tvltest::LogCapture log("smartcard");
    std::vector<BYTE> atr = AtrBytes(ATR_BOTH_TYPES);
    char szName[256] = "stale";
    char szProvider[256] = "stale";
    GetCardType(atr.data(), static_cast<DWORD>(atr.size()), szName, szProvider);

    RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
    RegCloseKey(hEmpty);
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\TarvoselTest\\EmptyMachine");
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\TarvoselTest");

    EXPECT_STREQ(szName, "");
    EXPECT_STREQ(szProvider, "");
    EXPECT_TRUE(log.Contains("Sistema en GetCardType")) << log.Text();
}
