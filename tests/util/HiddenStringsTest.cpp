#include <gtest/gtest.h>

#include <string.h>

#include <regex>

#include "util/CHiddenStrings.h"
#include "tests/support/TestFiles.h"

TEST(CHiddenStrings, ScrambleUnscrambleRoundTripForEveryKey)
{
    const char* pszText = "CN=Ormavia Ra\xEDz, O=Ormavia, C=ES";
    for (int nKey = 0; nKey < 256; ++nKey) {
        unsigned char buf[CHiddenStrings::SLOT_SIZE];
        memset(buf, 0, sizeof(buf));
        strcpy(reinterpret_cast<char*>(buf), pszText);
        for (unsigned char& b : buf)
            b ^= static_cast<unsigned char>(nKey);
        EXPECT_EQ(pszText, CHiddenStrings::Unscramble(buf, sizeof(buf),
                                                      static_cast<unsigned char>(nKey)));
    }
    // With a fresh key, the reported key undoes the scrambling.
    unsigned char buf[CHiddenStrings::SLOT_SIZE];
    unsigned char bKey = 0;
    CHiddenStrings::Scramble(pszText, buf, sizeof(buf), &bKey, 0);
    EXPECT_EQ(pszText, CHiddenStrings::Unscramble(buf, sizeof(buf), bKey));
}

TEST(CHiddenStrings, LongestTextFillsTheSlot)
{
    std::string strText(255, 'A');
    unsigned char buf[CHiddenStrings::SLOT_SIZE];
    unsigned char bKey = 0;
    CHiddenStrings::Scramble(strText.c_str(), buf, sizeof(buf), &bKey, 0);
    EXPECT_EQ(bKey, buf[255]);  // the zero is the slot's last byte
    EXPECT_EQ(strText, CHiddenStrings::Unscramble(buf, sizeof(buf), bKey));
    // A text without zero inside the slot stops at the slot's end.
    std::string strTooLong(300, 'B');
    CHiddenStrings::Scramble(strTooLong.c_str(), buf, sizeof(buf), &bKey, 0);
    EXPECT_EQ(std::string(255, 'B'), CHiddenStrings::Unscramble(buf, sizeof(buf), bKey));
}

TEST(CHiddenStrings, StoredKeyListsTheScrambledBytes)
{
    tvltest::LogCapture log("hidden");
    unsigned char buf[CHiddenStrings::SLOT_SIZE];
    unsigned char bKey = 0;
    CHiddenStrings::Scramble("abc", buf, sizeof(buf), &bKey, 1);
    char szExpected[64];
    snprintf(szExpected, sizeof(szExpected), " - 0x%02X, 0x%02X, 0x%02X, 0x%02X\r\n", 'a' ^ bKey,
             'b' ^ bKey, 'c' ^ bKey, bKey);
    EXPECT_NE(std::string::npos, log.Text().find(szExpected)) << log.Text();
    EXPECT_EQ("abc", CHiddenStrings::Unscramble(buf, sizeof(buf), bKey));
}

TEST(CHiddenStrings, TableEntries)
{
    EXPECT_EQ("O=ORMAVIA", CHiddenStrings::GetString(0));
    EXPECT_EQ("OU=FIRMA AUTOMATIZADA", CHiddenStrings::GetString(14));
    std::regex fingerprint("([0-9A-F]{2}:){19}[0-9A-F]{2}");
    for (int i = 2; i <= 8; ++i)
        EXPECT_TRUE(std::regex_match(CHiddenStrings::GetString(i), fingerprint)) << i;
    EXPECT_EQ("", CHiddenStrings::GetString(15));
    EXPECT_EQ("", CHiddenStrings::GetString(-1));
}
