#pragma once
#include <string>

// Texts that decide whom the library trusts are kept XOR-scrambled in a table
// of fixed slots, and unscrambled only when needed.
class CHiddenStrings {
public:
    enum { ENTRY_COUNT = 15, SLOT_SIZE = 256 };
    // What each slot holds (tools/trustdata writes them in this order).
    enum class ESlot : int {
        AcceptedSigner = 0,         // a subject attribute of a signer whose files are accepted
        IssuersAlways = 1,          // issuer list recognised in every environment
        AuthorityFingerprint = 2,   // first of the seven embedded authorities' fingerprints
        IssuersProduction = 9,      // issuer lists of one environment
        IssuersPreproduction = 10,
        IssuersIntegration = 11,
        IssuersAlso = 12,           // two more issuer lists recognised in every environment
        IssuersAlsoSecond = 13,
        AcceptedSignerSecond = 14,  // the other accepted signer attribute
    };
    enum { FINGERPRINT_COUNT = 7 };

    virtual ~CHiddenStrings() {}

    static std::string GetString(int nIndex);
    static std::string GetString(ESlot eSlot) { return GetString(static_cast<int>(eSlot)); }
    // The fingerprint of embedded authority i (0 to FINGERPRINT_COUNT - 1).
    static std::string Fingerprint(int i)
    {
        return i >= 0 && i < FINGERPRINT_COUNT
                   ? GetString(static_cast<int>(ESlot::AuthorityFingerprint) + i)
                   : std::string();
    }
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
