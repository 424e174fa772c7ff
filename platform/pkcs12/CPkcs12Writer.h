#pragma once
#include <string>
#include <vector>

#include "platform/pkcs12/CCryptoPrimitives.h"
#include "platform/pkcs12/CPkcs12Bag.h"

// Writes a PKCS#12 file the way current OpenSSL does by default, so that
// OpenSSL and the platform's import both read it: the certificates in one
// PBES2-encrypted part, the keys as PBES2-shrouded key bags in a plain part
// (PBKDF2 with HMAC-SHA-256, AES-256-CBC), an HMAC-SHA-256 integrity MAC.
// A password beyond plain ASCII takes the PKCS#12 triple-DES scheme instead
// (see CPkcs12Pbe::Encrypt).
class CPkcs12Writer {
public:
    explicit CPkcs12Writer(CCryptoPrimitives& crypto) : m_crypto(crypto) {}

    // nIterations: for the key derivations and the MAC.
    EPkcs12Error Write(const std::vector<CPkcs12Bag>& bags, const std::wstring& strPassword,
                       unsigned nIterations, Bytes& out);

private:
    static void AppendAttributes(Bytes& bag, const CPkcs12Bag& entry);

    CCryptoPrimitives& m_crypto;
};
