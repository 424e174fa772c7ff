#include "platform/pkcs12/CCryptoPrimitives.h"

#include <algorithm>
#include <string.h>

#include "asn1/Asn1Oids.h"
#include "platform/pkcs12/CRsaPrivateKey.h"

// The SHA-2 identifiers are not declared for the Windows versions we target.
#ifndef CALG_SHA_256
#define CALG_SHA_256 (ALG_CLASS_HASH | ALG_TYPE_ANY | 12)
#define CALG_SHA_384 (ALG_CLASS_HASH | ALG_TYPE_ANY | 13)
#define CALG_SHA_512 (ALG_CLASS_HASH | ALG_TYPE_ANY | 14)
#endif
#ifndef CALG_AES_128
#define CALG_AES_128 (ALG_CLASS_DATA_ENCRYPT | ALG_TYPE_BLOCK | 14)
#define CALG_AES_192 (ALG_CLASS_DATA_ENCRYPT | ALG_TYPE_BLOCK | 15)
#define CALG_AES_256 (ALG_CLASS_DATA_ENCRYPT | ALG_TYPE_BLOCK | 16)
#endif

namespace {
const char kAesProvider[] = "Microsoft Enhanced RSA and AES Cryptographic Provider";

ALG_ID HashAlgId(CCryptoPrimitives::EHash eHash)
{
    switch (eHash) {
    case CCryptoPrimitives::HASH_MD2: return CALG_MD2;
    case CCryptoPrimitives::HASH_MD5: return CALG_MD5;
    case CCryptoPrimitives::HASH_SHA1: return CALG_SHA1;
    case CCryptoPrimitives::HASH_SHA256: return CALG_SHA_256;
    case CCryptoPrimitives::HASH_SHA384: return CALG_SHA_384;
    case CCryptoPrimitives::HASH_SHA512: return CALG_SHA_512;
    }
    return 0;
}

ALG_ID CipherAlgId(CCryptoPrimitives::ECipher eCipher)
{
    switch (eCipher) {
    case CCryptoPrimitives::CIPHER_AES128: return CALG_AES_128;
    case CCryptoPrimitives::CIPHER_AES192: return CALG_AES_192;
    case CCryptoPrimitives::CIPHER_AES256: return CALG_AES_256;
    case CCryptoPrimitives::CIPHER_DES3: return CALG_3DES;
    case CCryptoPrimitives::CIPHER_RC2: return CALG_RC2;
    }
    return 0;
}

class CHashHandle {
public:
    CHashHandle() {}
    ~CHashHandle()
    {
        if (m_h != 0)
            CryptDestroyHash(m_h);
    }
    HCRYPTHASH* operator&() { return &m_h; }
    operator HCRYPTHASH() const { return m_h; }
    HCRYPTHASH Release()
    {
        HCRYPTHASH h = m_h;
        m_h = 0;
        return h;
    }

private:
    CHashHandle(const CHashHandle&) = delete;
    CHashHandle& operator=(const CHashHandle&) = delete;
    HCRYPTHASH m_h = 0;
};

class CKeyHandle {
public:
    explicit CKeyHandle(HCRYPTKEY h = 0) : m_h(h) {}
    ~CKeyHandle()
    {
        if (m_h != 0)
            CryptDestroyKey(m_h);
    }
    HCRYPTKEY* operator&() { return &m_h; }
    operator HCRYPTKEY() const { return m_h; }

private:
    CKeyHandle(const CKeyHandle&) = delete;
    CKeyHandle& operator=(const CKeyHandle&) = delete;
    HCRYPTKEY m_h = 0;
};

bool HashData(HCRYPTHASH hHash, const uint8_t* pData, size_t nSize)
{
    // CryptHashData takes a DWORD length.
    while (nSize > 0) {
        DWORD n = static_cast<DWORD>(std::min<size_t>(nSize, 0x40000000));
        if (!CryptHashData(hHash, pData, n, 0))
            return false;
        pData += n;
        nSize -= n;
    }
    return true;
}

bool HashValue(HCRYPTHASH hHash, Bytes& value)
{
    DWORD cb = 0;
    if (!CryptGetHashParam(hHash, HP_HASHVAL, nullptr, &cb, 0))
        return false;
    value.resize(cb);
    if (!CryptGetHashParam(hHash, HP_HASHVAL, value.data(), &cb, 0))
        return false;
    value.resize(cb);
    return true;
}
}  // namespace

void WipeBytes(Bytes& bytes)
{
    // The whole buffer: a secret may lie past the size after a shrink.
    if (bytes.capacity() != 0)
        SecureZeroMemory(bytes.data(), bytes.capacity());
    bytes.clear();
}

CCryptoPrimitives::CHashStream::~CHashStream()
{
    if (m_hHash != 0)
        CryptDestroyHash(m_hHash);
}

bool CCryptoPrimitives::CHashStream::Update(const uint8_t* pData, size_t nSize)
{
    return HashData(m_hHash, pData, nSize);
}

bool CCryptoPrimitives::CHashStream::Final(Bytes& value)
{
    return HashValue(m_hHash, value);
}

CCryptoPrimitives::CCryptoPrimitives() : m_hProv(0), m_dwError(0)
{
    if (!CryptAcquireContextA(&m_hProv, nullptr, kAesProvider, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)) {
        m_dwError = GetLastError();
        m_hProv = 0;
    }
}

CCryptoPrimitives::~CCryptoPrimitives()
{
    if (m_hProv != 0)
        CryptReleaseContext(m_hProv, 0);
}

bool CCryptoPrimitives::Fail()
{
    return Fail(GetLastError());
}

bool CCryptoPrimitives::Fail(DWORD dwError)
{
    m_dwError = dwError != 0 ? dwError : static_cast<DWORD>(NTE_FAIL);
    return false;
}

bool CCryptoPrimitives::HashOfOid(const std::string& strOid, EHash& eHash)
{
    static const struct {
        const char* pszOid;
        EHash eHash;
    } kDigests[] = {{Asn1Oids::kMd2, HASH_MD2},       {Asn1Oids::kMd5, HASH_MD5},
                    {Asn1Oids::kSha1, HASH_SHA1},     {Asn1Oids::kSha256, HASH_SHA256},
                    {Asn1Oids::kSha384, HASH_SHA384}, {Asn1Oids::kSha512, HASH_SHA512}};
    for (const auto& d : kDigests) {
        if (strOid == d.pszOid) {
            eHash = d.eHash;
            return true;
        }
    }
    return false;
}

size_t CCryptoPrimitives::HashSize(EHash eHash)
{
    switch (eHash) {
    case HASH_MD2:
    case HASH_MD5: return 16;
    case HASH_SHA1: return 20;
    case HASH_SHA256: return 32;
    case HASH_SHA384: return 48;
    case HASH_SHA512: return 64;
    }
    return 0;
}

size_t CCryptoPrimitives::HashBlockSize(EHash eHash)
{
    switch (eHash) {
    case HASH_MD2: return 16;
    case HASH_SHA384:
    case HASH_SHA512: return 128;
    default: return 64;
    }
}

size_t CCryptoPrimitives::CipherKeySize(ECipher eCipher)
{
    switch (eCipher) {
    case CIPHER_AES128: return 16;
    case CIPHER_AES192: return 24;
    case CIPHER_AES256: return 32;
    case CIPHER_DES3: return 24;
    case CIPHER_RC2: return 0;
    }
    return 0;
}

size_t CCryptoPrimitives::CipherBlockSize(ECipher eCipher)
{
    return eCipher == CIPHER_DES3 || eCipher == CIPHER_RC2 ? 8 : 16;
}

std::unique_ptr<CCryptoPrimitives::CHashStream> CCryptoPrimitives::CreateHash(EHash eHash)
{
    HCRYPTHASH hHash = 0;
    if (m_hProv == 0 || !CryptCreateHash(m_hProv, HashAlgId(eHash), 0, 0, &hHash)) {
        Fail();
        return nullptr;
    }
    return std::unique_ptr<CHashStream>(new CHashStream(hHash));
}

bool CCryptoPrimitives::Hash(EHash eHash, const uint8_t* pData, size_t nData, Bytes& value)
{
    CHashHandle hHash;
    if (m_hProv == 0 || !CryptCreateHash(m_hProv, HashAlgId(eHash), 0, 0, &hHash) ||
        !HashData(hHash, pData, nData) || !HashValue(hHash, value))
        return Fail();
    return true;
}

bool CCryptoPrimitives::Hmac(EHash eHash, const Bytes& key, const uint8_t* pData, size_t nData,
                             Bytes& mac)
{
    size_t nBlock = HashBlockSize(eHash);
    // Room for the padded key at once: growing would leave copies of it behind.
    Bytes k;
    k.reserve(std::max(nBlock, key.size()));
    k.assign(key.begin(), key.end());
    if (k.size() > nBlock && !Hash(eHash, key.data(), key.size(), k)) {
        WipeBytes(k);
        return false;
    }
    k.resize(nBlock, 0);
    Bytes pad(nBlock);
    for (size_t i = 0; i < nBlock; ++i)
        pad[i] = k[i] ^ 0x36;
    Bytes inner;
    CHashHandle hInner, hOuter;
    bool bOk = m_hProv != 0 && CryptCreateHash(m_hProv, HashAlgId(eHash), 0, 0, &hInner) &&
               HashData(hInner, pad.data(), pad.size()) && HashData(hInner, pData, nData) &&
               HashValue(hInner, inner);
    for (size_t i = 0; bOk && i < nBlock; ++i)
        pad[i] = k[i] ^ 0x5C;
    bOk = bOk && CryptCreateHash(m_hProv, HashAlgId(eHash), 0, 0, &hOuter) &&
          HashData(hOuter, pad.data(), pad.size()) && HashData(hOuter, inner.data(), inner.size()) &&
          HashValue(hOuter, mac);
    WipeBytes(k);
    WipeBytes(pad);
    WipeBytes(inner);
    return bOk ? true : Fail();
}

bool CCryptoPrimitives::Pbkdf2(EHash eHash, const Bytes& password, const Bytes& salt,
                               unsigned nIterations, size_t nKeySize, Bytes& key)
{
    WipeBytes(key);
    if (nIterations == 0)
        return Fail(static_cast<DWORD>(NTE_BAD_DATA));
    key.reserve(nKeySize + HashSize(eHash));
    for (uint32_t nBlock = 1; key.size() < nKeySize; ++nBlock) {
        Bytes u = salt;
        u.push_back(static_cast<uint8_t>(nBlock >> 24));
        u.push_back(static_cast<uint8_t>(nBlock >> 16));
        u.push_back(static_cast<uint8_t>(nBlock >> 8));
        u.push_back(static_cast<uint8_t>(nBlock));
        Bytes next, t;
        for (unsigned i = 0; i < nIterations; ++i) {
            if (!Hmac(eHash, password, u.data(), u.size(), next)) {
                WipeBytes(t);
                WipeBytes(u);
                WipeBytes(next);
                WipeBytes(key);
                return false;
            }
            u.swap(next);
            if (t.empty())
                t = u;
            else
                for (size_t j = 0; j < t.size(); ++j)
                    t[j] ^= u[j];
        }
        key.insert(key.end(), t.begin(), t.end());
        WipeBytes(t);
        WipeBytes(u);
        WipeBytes(next);
    }
    SecureZeroMemory(key.data() + nKeySize, key.size() - nKeySize);
    key.resize(nKeySize);
    return true;
}

bool CCryptoPrimitives::Pkcs12Kdf(EHash eHash, const Bytes& bmpPassword, const Bytes& salt,
                                  unsigned nIterations, uint8_t nId, size_t nSize, Bytes& out)
{
    WipeBytes(out);
    const size_t v = HashBlockSize(eHash);
    if (nIterations == 0)
        return Fail(static_cast<DWORD>(NTE_BAD_DATA));
    Bytes d(v, nId);
    // I = S || P, each repeated to a whole number of v-byte blocks. Every buffer
    // that holds the password or derived bytes gets its full size first, so that
    // no reallocation leaves a copy behind, and is wiped before it goes.
    size_t nSaltLen = salt.empty() ? 0 : v * ((salt.size() + v - 1) / v);
    size_t nPasswordLen = bmpPassword.empty() ? 0 : v * ((bmpPassword.size() + v - 1) / v);
    Bytes I;
    I.reserve(nSaltLen + nPasswordLen);
    for (size_t i = 0; i < nSaltLen; ++i)
        I.push_back(salt[i % salt.size()]);
    for (size_t i = 0; i < nPasswordLen; ++i)
        I.push_back(bmpPassword[i % bmpPassword.size()]);
    const size_t nHash = HashSize(eHash);
    out.reserve(nSize + nHash);
    Bytes a, h, b(v);
    a.reserve(v + I.size());
    h.reserve(nHash);
    bool bOk = true;
    while (bOk && out.size() < nSize) {
        a.assign(d.begin(), d.end());
        a.insert(a.end(), I.begin(), I.end());
        for (unsigned i = 0; bOk && i < nIterations; ++i) {
            bOk = Hash(eHash, a.data(), a.size(), h);
            if (bOk)
                a.assign(h.begin(), h.end());
        }
        if (!bOk)
            break;
        out.insert(out.end(), a.begin(), a.end());
        if (out.size() >= nSize)
            break;
        // I_j = (I_j + B + 1) mod 2^(8v), B = A repeated to v bytes.
        for (size_t i = 0; i < v; ++i)
            b[i] = a[i % a.size()];
        for (size_t j = 0; j < I.size(); j += v) {
            unsigned nCarry = 1;
            for (size_t k = v; k-- > 0;) {
                unsigned nSum = I[j + k] + b[k] + nCarry;
                I[j + k] = static_cast<uint8_t>(nSum);
                nCarry = nSum >> 8;
            }
        }
    }
    WipeBytes(I);
    WipeBytes(a);
    WipeBytes(h);
    WipeBytes(b);
    if (!bOk) {
        WipeBytes(out);
        return false;
    }
    SecureZeroMemory(out.data() + nSize, out.size() - nSize);
    out.resize(nSize);
    return true;
}

HCRYPTKEY CCryptoPrimitives::ImportSymmetricKey(ECipher eCipher, const Bytes& key)
{
    struct {
        BLOBHEADER header;
        DWORD dwKeySize;
        BYTE abKey[64];
    } blob;
    if (key.empty() || key.size() > sizeof(blob.abKey)) {
        Fail(static_cast<DWORD>(NTE_BAD_LEN));
        return 0;
    }
    blob.header = {PLAINTEXTKEYBLOB, CUR_BLOB_VERSION, 0, CipherAlgId(eCipher)};
    blob.dwKeySize = static_cast<DWORD>(key.size());
    memcpy(blob.abKey, key.data(), key.size());
    HCRYPTKEY hKey = 0;
    BOOL bOk = CryptImportKey(m_hProv, reinterpret_cast<const BYTE*>(&blob),
                              sizeof(BLOBHEADER) + sizeof(DWORD) + blob.dwKeySize, 0, 0, &hKey);
    DWORD dwError = GetLastError();
    SecureZeroMemory(&blob, sizeof(blob));
    if (!bOk) {
        Fail(dwError);
        return 0;
    }
    return hKey;
}

bool CCryptoPrimitives::Crypt(bool bEncrypt, ECipher eCipher, const Bytes& key, const Bytes& iv,
                              const Bytes& input, Bytes& output, unsigned nEffectiveBits)
{
    WipeBytes(output);
    size_t nBlock = CipherBlockSize(eCipher);
    if (m_hProv == 0 || iv.size() != nBlock || (!bEncrypt && input.size() % nBlock != 0) ||
        input.size() > 0x10000000)
        return Fail(static_cast<DWORD>(NTE_BAD_DATA));
    CKeyHandle hKey(ImportSymmetricKey(eCipher, key));
    if (hKey == 0)
        return false;
    if (eCipher == CIPHER_RC2) {
        // The provider gives a 40-bit key eleven bytes of salt unless told not to.
        CRYPT_INTEGER_BLOB noSalt = {0, nullptr};
        if (key.size() == 5 &&
            !CryptSetKeyParam(hKey, KP_SALT_EX, reinterpret_cast<const BYTE*>(&noSalt), 0))
            return Fail();
        DWORD dwBits = nEffectiveBits != 0 ? nEffectiveBits : static_cast<DWORD>(key.size() * 8);
        if (!CryptSetKeyParam(hKey, KP_EFFECTIVE_KEYLEN, reinterpret_cast<const BYTE*>(&dwBits), 0))
            return Fail();
    }
    DWORD dwMode = CRYPT_MODE_CBC, dwPadding = PKCS5_PADDING;
    if (!CryptSetKeyParam(hKey, KP_MODE, reinterpret_cast<const BYTE*>(&dwMode), 0) ||
        !CryptSetKeyParam(hKey, KP_PADDING, reinterpret_cast<const BYTE*>(&dwPadding), 0) ||
        !CryptSetKeyParam(hKey, KP_IV, iv.data(), 0))
        return Fail();
    // Encryption works in place on a copy of the plain text: the copy gets the
    // room for the padding at once, so that no reallocation leaves it behind.
    output.reserve(input.size() + nBlock);
    output.assign(input.begin(), input.end());
    DWORD cb = static_cast<DWORD>(input.size());
    BOOL bDone;
    if (bEncrypt) {
        output.resize(input.size() + nBlock);
        bDone = CryptEncrypt(hKey, 0, TRUE, 0, output.data(), &cb, static_cast<DWORD>(output.size()));
    } else {
        bDone = CryptDecrypt(hKey, 0, TRUE, 0, output.data(), &cb);
    }
    if (!bDone) {
        DWORD dwError = GetLastError();
        WipeBytes(output);
        return Fail(dwError);
    }
    output.resize(cb);
    return true;
}

bool CCryptoPrimitives::Encrypt(ECipher eCipher, const Bytes& key, const Bytes& iv,
                                const Bytes& input, Bytes& output, unsigned nEffectiveBits)
{
    return Crypt(true, eCipher, key, iv, input, output, nEffectiveBits);
}

bool CCryptoPrimitives::Decrypt(ECipher eCipher, const Bytes& key, const Bytes& iv,
                                const Bytes& input, Bytes& output, unsigned nEffectiveBits)
{
    return Crypt(false, eCipher, key, iv, input, output, nEffectiveBits);
}

bool CCryptoPrimitives::Random(uint8_t* pData, size_t nSize)
{
    if (m_hProv == 0 || !CryptGenRandom(m_hProv, static_cast<DWORD>(nSize), pData))
        return Fail();
    return true;
}

bool CCryptoPrimitives::RsaSign(const CRsaPrivateKey& key, EHash eHash, const uint8_t* pData,
                                size_t nData, Bytes& signature)
{
    Bytes blob;
    if (m_hProv == 0 || !key.ToPrivateKeyBlob(CALG_RSA_KEYX, blob))
        return Fail(static_cast<DWORD>(NTE_BAD_KEY));
    // The key lives only in this ephemeral context, as its exchange key.
    CKeyHandle hKey;
    BOOL bImported = CryptImportKey(m_hProv, blob.data(), static_cast<DWORD>(blob.size()), 0, 0, &hKey);
    DWORD dwError = GetLastError();
    WipeBytes(blob);
    if (!bImported)
        return Fail(dwError);
    CHashHandle hHash;
    DWORD cb = 0;
    if (!CryptCreateHash(m_hProv, HashAlgId(eHash), 0, 0, &hHash) || !HashData(hHash, pData, nData) ||
        !CryptSignHashA(hHash, AT_KEYEXCHANGE, nullptr, 0, nullptr, &cb))
        return Fail();
    signature.resize(cb);
    if (!CryptSignHashA(hHash, AT_KEYEXCHANGE, nullptr, 0, signature.data(), &cb))
        return Fail();
    signature.resize(cb);
    std::reverse(signature.begin(), signature.end());
    return true;
}

bool CCryptoPrimitives::RsaVerify(const Bytes& modulus, const Bytes& exponent, EHash eHash,
                                  const uint8_t* pData, size_t nData, const Bytes& signature)
{
    size_t nStart = 0;
    while (nStart < modulus.size() && modulus[nStart] == 0)
        ++nStart;
    size_t nModulus = modulus.size() - nStart;
    if (m_hProv == 0 || nModulus == 0 || exponent.empty() || exponent.size() > 4 ||
        signature.size() > nModulus)
        return Fail(static_cast<DWORD>(NTE_BAD_SIGNATURE));
    DWORD dwExponent = 0;
    for (uint8_t b : exponent)
        dwExponent = (dwExponent << 8) | b;
    // As a signature key, so that it does not take the exchange key's place.
    BLOBHEADER header = {PUBLICKEYBLOB, CUR_BLOB_VERSION, 0, CALG_RSA_SIGN};
    RSAPUBKEY pub = {0x31415352 /* "RSA1" */, static_cast<DWORD>(nModulus * 8), dwExponent};
    Bytes blob(reinterpret_cast<const uint8_t*>(&header),
               reinterpret_cast<const uint8_t*>(&header) + sizeof(header));
    blob.insert(blob.end(), reinterpret_cast<const uint8_t*>(&pub),
                reinterpret_cast<const uint8_t*>(&pub) + sizeof(pub));
    blob.insert(blob.end(), modulus.rbegin(), modulus.rbegin() + nModulus);
    CKeyHandle hKey;
    if (!CryptImportKey(m_hProv, blob.data(), static_cast<DWORD>(blob.size()), 0, 0, &hKey))
        return Fail();
    // Little-endian and as long as the modulus.
    Bytes reversed(signature.rbegin(), signature.rend());
    reversed.resize(nModulus, 0);
    CHashHandle hHash;
    if (!CryptCreateHash(m_hProv, HashAlgId(eHash), 0, 0, &hHash) || !HashData(hHash, pData, nData))
        return Fail();
    if (!CryptVerifySignatureA(hHash, reversed.data(), static_cast<DWORD>(reversed.size()), hKey,
                               nullptr, 0))
        return Fail();
    return true;
}
