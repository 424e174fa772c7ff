#pragma once
#include <string>

// Texts that decide whom the library trusts are kept XOR-scrambled in a table
// of fixed slots, and unscrambled only when needed.
class CHiddenStrings {
public:
    enum { ENTRY_COUNT = 15, SLOT_SIZE = 256 };

    virtual ~CHiddenStrings() {}

    static std::string GetString(int nIndex);
    static std::string Unscramble(const unsigned char* pData, int nLength, unsigned char bKey);
    // Copies pszText with its zero into pBuffer and scrambles the first nLength bytes.
    // With bStoredKey the table's key is used and the bytes are logged, which is how
    // a new table entry is prepared.
    static void Scramble(const char* pszText, unsigned char* pBuffer, int nLength,
                         unsigned char* pbKey, int bStoredKey);

private:
    static const unsigned char s_abTable[ENTRY_COUNT * SLOT_SIZE];
    static const unsigned char s_bKey;
};
