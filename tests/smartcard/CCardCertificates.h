#pragma once
// What the platform's certificate propagation does when a card comes: the
// card's certificates in the user's "MY" store, each pointing at the card's key
// provider and at its container on the card (no key leaves the card). Talks to
// CryptoAPI directly, not through the code under test.
#include <windows.h>

#include <string>
#include <vector>

class CCardCertificates {
public:
    struct Entry {
        const char* pszPkiName;   // certificate of the test PKI; also the container
        const char* pszProvider;  // provider name
    };

    // The certificates of the bench's two signing cards.
    static std::vector<Entry> BenchCards();

    // Adds the certificates (replacing copies already there); false with a
    // message in *pstrError on failure.
    static bool Propagate(const std::string& strPkiDir, const std::vector<Entry>& entries,
                          std::string* pstrError);
    // Takes out every certificate that Propagate put in.
    static bool RemoveAll(std::string* pstrError);
};
