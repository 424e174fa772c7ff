#pragma once
#include <string>

#include "asn1/CBerElement.h"
#include "platform/pkcs12/CCryptoPrimitives.h"
#include "platform/pkcs12/CPkcs12Bag.h"

// Password-based encryption as PKCS#12 files use it: PBES2 (PBKDF2 with an
// HMAC, then AES or triple DES in CBC mode) and the older PKCS#12 schemes
// (SHA-1 with triple DES or RC2). Also the password forms both need.
class CPkcs12Pbe {
public:
    // More iterations than this are refused: a damaged or hostile file must not
    // keep the caller busy. Real files use 2000 to 10000; at this cap a file is
    // refused for a wrong password after about a third of a second here
    // (bench/epf_bench.sh).
    static constexpr long MAX_ITERATIONS = 100000;

    explicit CPkcs12Pbe(CCryptoPrimitives& crypto) : m_crypto(crypto) {}

    // Decrypts with the scheme named by the AlgorithmIdentifier element.
    EPkcs12Error Decrypt(const CBerElement& algorithm, const std::wstring& strPassword,
                         const Bytes& encrypted, Bytes& plain);
    // PBES2 with PBKDF2-HMAC-SHA256 and AES-256-CBC for a password in plain
    // ASCII. PBES2 feeds the password's bytes to the key derivation, and readers
    // disagree on the bytes of other characters (OpenSSL takes UTF-8, the
    // platform's import its code page), so any other password gets the PKCS#12
    // scheme with triple DES, whose derivation takes the password as Unicode.
    // Returns the AlgorithmIdentifier used (DER) in algorithm.
    EPkcs12Error Encrypt(const std::wstring& strPassword, unsigned nIterations, const Bytes& plain,
                         Bytes& algorithm, Bytes& encrypted);

    // pbeWithSHAAnd3-KeyTripleDES-CBC whatever the password: what every Windows
    // and OpenSSL without its legacy provider read.
    EPkcs12Error EncryptTripleDes(const std::wstring& strPassword, unsigned nIterations,
                                  const Bytes& plain, Bytes& algorithm, Bytes& encrypted)
    {
        return EncryptPkcs12(strPassword, nIterations, plain, algorithm, encrypted);
    }

    // The password as UTF-8 bytes (PBES2) and as a BMPString with its terminating zero.
    static Bytes Utf8Password(const std::wstring& strPassword);
    static Bytes BmpPassword(const std::wstring& strPassword);

private:
    EPkcs12Error EncryptPbes2(const std::wstring& strPassword, unsigned nIterations,
                              const Bytes& plain, Bytes& algorithm, Bytes& encrypted);
    EPkcs12Error EncryptPkcs12(const std::wstring& strPassword, unsigned nIterations,
                               const Bytes& plain, Bytes& algorithm, Bytes& encrypted);
    EPkcs12Error DecryptPbes2(const CBerElement& parameters, const std::wstring& strPassword,
                              const Bytes& encrypted, Bytes& plain);
    EPkcs12Error DecryptPkcs12(const std::string& strOid, const CBerElement& parameters,
                               const std::wstring& strPassword, const Bytes& encrypted,
                               Bytes& plain);

    CCryptoPrimitives& m_crypto;
};
