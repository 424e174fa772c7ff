#pragma once
#include <string>
#include <vector>

#include "asn1/CBerElement.h"
#include "platform/pkcs12/CCryptoPrimitives.h"
#include "platform/pkcs12/CPkcs12Bag.h"

// Reads a whole PKCS#12 file held in memory: checks its integrity MAC with the
// password, decrypts the encrypted parts and the shrouded keys, and gives back
// every certificate and key. Other bag kinds are skipped. A file without a MAC,
// or with a key that is not encrypted, is refused (Unprotected): the password
// would protect nothing in it.
class CPkcs12Reader {
public:
    // A profile or an exported file holds a handful of entries.
    static constexpr size_t MAX_BAGS = 64;

    explicit CPkcs12Reader(CCryptoPrimitives& crypto) : m_crypto(crypto) {}

    // The keys in bags are secrets: the caller wipes them.
    EPkcs12Error Read(const uint8_t* pData, size_t nSize, const std::wstring& strPassword,
                      std::vector<CPkcs12Bag>& bags);

private:
    EPkcs12Error CheckMac(const CBerElement& macData, const Bytes& authSafe,
                          const std::wstring& strPassword);
    EPkcs12Error ReadSafeContents(const Bytes& der, const std::wstring& strPassword,
                                  std::vector<CPkcs12Bag>& bags, unsigned nDepth);
    EPkcs12Error ReadBag(const CBerElement& bag, const std::wstring& strPassword,
                         std::vector<CPkcs12Bag>& bags, unsigned nDepth);

    CCryptoPrimitives& m_crypto;
};
