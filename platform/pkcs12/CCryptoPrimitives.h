#pragma once
#include <windows.h>
#include <wincrypt.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "asn1/Bytes.h"

class CRsaPrivateKey;

// Overwrites a buffer that held a secret, then empties it.
void WipeBytes(Bytes& bytes);

// The cryptography our PKCS#12 files, profiles and signatures need, on the
// platform's RSA and AES provider (an ephemeral context: nothing is stored):
// digests, HMAC and the two password key derivations built on them, block
// ciphers in CBC mode with PKCS#5 padding, random bytes and RSA PKCS#1 v1.5
// signatures. Every call returns false with GetError() set on failure.
class CCryptoPrimitives {
public:
    enum EHash { HASH_MD2, HASH_MD5, HASH_SHA1, HASH_SHA256, HASH_SHA384, HASH_SHA512 };
    enum ECipher { CIPHER_AES128, CIPHER_AES192, CIPHER_AES256, CIPHER_DES3, CIPHER_RC2 };

    // A running digest.
    class CHashStream {
    public:
        ~CHashStream();
        bool Update(const uint8_t* pData, size_t nSize);
        // Ends the digest; no Update may follow.
        bool Final(Bytes& value);

    private:
        friend class CCryptoPrimitives;
        explicit CHashStream(HCRYPTHASH hHash) : m_hHash(hHash) {}
        CHashStream(const CHashStream&) = delete;
        CHashStream& operator=(const CHashStream&) = delete;
        HCRYPTHASH m_hHash;
    };

    CCryptoPrimitives();
    ~CCryptoPrimitives();

    bool IsReady() const { return m_hProv != 0; }
    DWORD GetError() const { return m_dwError; }

    // The digest of a dotted algorithm identifier; false for one it does not know.
    static bool HashOfOid(const std::string& strOid, EHash& eHash);
    static size_t HashSize(EHash eHash);
    static size_t HashBlockSize(EHash eHash);
    static size_t CipherKeySize(ECipher eCipher);  // 0 for RC2: the caller chooses
    static size_t CipherBlockSize(ECipher eCipher);

    std::unique_ptr<CHashStream> CreateHash(EHash eHash);
    bool Hash(EHash eHash, const uint8_t* pData, size_t nData, Bytes& value);
    bool Hmac(EHash eHash, const Bytes& key, const uint8_t* pData, size_t nData, Bytes& mac);
    // PBKDF2 with HMAC over eHash.
    bool Pbkdf2(EHash eHash, const Bytes& password, const Bytes& salt, unsigned nIterations,
                size_t nKeySize, Bytes& key);
    // The PKCS#12 key derivation; password as a BMPString with its terminating zero.
    bool Pkcs12Kdf(EHash eHash, const Bytes& bmpPassword, const Bytes& salt, unsigned nIterations,
                   uint8_t nId, size_t nSize, Bytes& out);
    // CBC with PKCS#5 padding. nEffectiveBits: RC2's effective key length.
    bool Encrypt(ECipher eCipher, const Bytes& key, const Bytes& iv, const Bytes& input,
                 Bytes& output, unsigned nEffectiveBits = 0);
    bool Decrypt(ECipher eCipher, const Bytes& key, const Bytes& iv, const Bytes& input,
                 Bytes& output, unsigned nEffectiveBits = 0);
    bool Random(uint8_t* pData, size_t nSize);
    // Signature over the data, big-endian as PKCS#1 carries it.
    bool RsaSign(const CRsaPrivateKey& key, EHash eHash, const uint8_t* pData, size_t nData,
                 Bytes& signature);
    // Checks a big-endian signature over the data with the public key (n, e).
    bool RsaVerify(const Bytes& modulus, const Bytes& exponent, EHash eHash, const uint8_t* pData,
                   size_t nData, const Bytes& signature);

private:
    CCryptoPrimitives(const CCryptoPrimitives&) = delete;
    CCryptoPrimitives& operator=(const CCryptoPrimitives&) = delete;

    bool Fail();
    bool Fail(DWORD dwError);
    bool Crypt(bool bEncrypt, ECipher eCipher, const Bytes& key, const Bytes& iv,
               const Bytes& input, Bytes& output, unsigned nEffectiveBits);
    HCRYPTKEY ImportSymmetricKey(ECipher eCipher, const Bytes& key);

    HCRYPTPROV m_hProv;
    DWORD m_dwError;
};
