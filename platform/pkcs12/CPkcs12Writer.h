#pragma once
#include <string>
#include <vector>

#include "platform/pkcs12/CCryptoPrimitives.h"
#include "platform/pkcs12/CPkcs12Bag.h"

// Writes a PKCS#12 file: the certificates in one encrypted part, the keys as
// shrouded key bags in a plain part, an integrity MAC over both.
//
// Two forms:
//  - FORMAT_COMPATIBLE (the default), for every file handed to a user or to the
//    platform's import: both parts with pbeWithSHAAnd3-KeyTripleDES-CBC and an
//    HMAC-SHA-1 MAC. Every Windows from XP on imports it, and OpenSSL 3 reads
//    it without its legacy provider (RC2, the other classic choice for the
//    certificates, would need that provider).
//  - FORMAT_AES: what current OpenSSL writes by default, PBES2 (PBKDF2 with
//    HMAC-SHA-256, AES-256-CBC) and an HMAC-SHA-256 MAC; the platform's import
//    reads it only from recent Windows 10 on. A password beyond plain ASCII
//    takes the triple-DES scheme even here (see CPkcs12Pbe::Encrypt).
class CPkcs12Writer {
public:
    enum EFormat { FORMAT_COMPATIBLE, FORMAT_AES };

    explicit CPkcs12Writer(CCryptoPrimitives& crypto) : m_crypto(crypto) {}

    // nIterations: for the key derivations and the MAC.
    EPkcs12Error Write(const std::vector<CPkcs12Bag>& bags, const std::wstring& strPassword,
                       unsigned nIterations, Bytes& out, EFormat eFormat = FORMAT_COMPATIBLE);

private:
    static void AppendAttributes(Bytes& bag, const CPkcs12Bag& entry);

    CCryptoPrimitives& m_crypto;
};
