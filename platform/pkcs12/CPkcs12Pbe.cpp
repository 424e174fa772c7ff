#include "platform/pkcs12/CPkcs12Pbe.h"

#include <windows.h>

#include "asn1/Asn1Oids.h"
#include "asn1/Asn1Tags.h"
#include "asn1/CAsn1Util.h"
#include "asn1/CDerWriter.h"

namespace {

struct CPrf {
    const char* pszOid;
    CCryptoPrimitives::EHash eHash;
};
const CPrf kPrfs[] = {{Asn1Oids::kHmacSha1, CCryptoPrimitives::HASH_SHA1},
                      {Asn1Oids::kHmacSha256, CCryptoPrimitives::HASH_SHA256},
                      {Asn1Oids::kHmacSha384, CCryptoPrimitives::HASH_SHA384},
                      {Asn1Oids::kHmacSha512, CCryptoPrimitives::HASH_SHA512}};

struct CScheme {
    const char* pszOid;
    CCryptoPrimitives::ECipher eCipher;
};
const CScheme kSchemes[] = {{Asn1Oids::kAes128Cbc, CCryptoPrimitives::CIPHER_AES128},
                            {Asn1Oids::kAes192Cbc, CCryptoPrimitives::CIPHER_AES192},
                            {Asn1Oids::kAes256Cbc, CCryptoPrimitives::CIPHER_AES256},
                            {Asn1Oids::kDesEde3Cbc, CCryptoPrimitives::CIPHER_DES3}};

EPkcs12Error CryptoError(CCryptoPrimitives& crypto)
{
    // A bad padding after decryption is the mark of a wrong key.
    DWORD dwError = crypto.GetError();
    return dwError == static_cast<DWORD>(NTE_BAD_DATA) ? EPkcs12Error::BadPassword
                                                         : EPkcs12Error::Crypto;
}
}  // namespace

const char* Pkcs12ErrorText(EPkcs12Error e)
{
    switch (e) {
    case EPkcs12Error::Ok: return "ok";
    case EPkcs12Error::NotPkcs12: return "not a PKCS#12 file or damaged";
    case EPkcs12Error::BadPassword: return "wrong password";
    case EPkcs12Error::Unsupported: return "unsupported algorithm";
    case EPkcs12Error::Crypto: return "cryptographic provider failure";
    case EPkcs12Error::LimitExceeded: return "limit exceeded";
    case EPkcs12Error::Unprotected: return "not protected by its password";
    }
    return "unknown";
}

Bytes CPkcs12Pbe::Utf8Password(const std::wstring& strPassword)
{
    Bytes out;
    if (strPassword.empty())
        return out;
    int n = WideCharToMultiByte(CP_UTF8, 0, strPassword.data(), static_cast<int>(strPassword.size()),
                                nullptr, 0, nullptr, nullptr);
    out.resize(n > 0 ? n : 0);
    if (n > 0)
        WideCharToMultiByte(CP_UTF8, 0, strPassword.data(), static_cast<int>(strPassword.size()),
                            reinterpret_cast<char*>(out.data()), n, nullptr, nullptr);
    return out;
}

Bytes CPkcs12Pbe::BmpPassword(const std::wstring& strPassword)
{
    Bytes out;
    out.reserve(strPassword.size() * 2 + 2);  // growing would leave copies behind
    for (wchar_t c : strPassword) {
        out.push_back(static_cast<uint8_t>(c >> 8));
        out.push_back(static_cast<uint8_t>(c));
    }
    out.push_back(0);
    out.push_back(0);
    return out;
}

EPkcs12Error CPkcs12Pbe::Decrypt(const CBerElement& algorithm, const std::wstring& strPassword,
                                 const Bytes& encrypted, Bytes& plain)
{
    std::vector<CBerElement> parts;
    if (!CAsn1Util::Children(algorithm, Asn1Tag::kSequence, parts) || parts.size() != 2)
        return EPkcs12Error::NotPkcs12;
    std::string strOid = CAsn1Util::Oid(parts[0]);
    if (strOid == Asn1Oids::kPbes2)
        return DecryptPbes2(parts[1], strPassword, encrypted, plain);
    return DecryptPkcs12(strOid, parts[1], strPassword, encrypted, plain);
}

EPkcs12Error CPkcs12Pbe::DecryptPbes2(const CBerElement& parameters,
                                      const std::wstring& strPassword, const Bytes& encrypted,
                                      Bytes& plain)
{
    std::vector<CBerElement> params, kdf, kdfParams, scheme;
    if (!CAsn1Util::Children(parameters, Asn1Tag::kSequence, params) || params.size() != 2 ||
        !CAsn1Util::Children(params[0], Asn1Tag::kSequence, kdf) || kdf.size() != 2 ||
        !CAsn1Util::Children(params[1], Asn1Tag::kSequence, scheme) || scheme.size() != 2)
        return EPkcs12Error::NotPkcs12;
    if (!CAsn1Util::IsOid(kdf[0], Asn1Oids::kPbkdf2))
        return EPkcs12Error::Unsupported;
    if (!CAsn1Util::Children(kdf[1], Asn1Tag::kSequence, kdfParams) || kdfParams.size() < 2)
        return EPkcs12Error::NotPkcs12;
    Bytes salt;
    long nIterations = 0, nKeySize = 0;
    if (kdfParams[0].Tag() != Asn1Tag::kOctetString)
        return EPkcs12Error::Unsupported;  // a salt from another source
    if (!CAsn1Util::OctetString(kdfParams[0], salt) ||
        !CAsn1Util::SmallInt(kdfParams[1], nIterations) || nIterations < 1)
        return EPkcs12Error::NotPkcs12;
    if (nIterations > MAX_ITERATIONS)
        return EPkcs12Error::LimitExceeded;
    CCryptoPrimitives::EHash eHash = CCryptoPrimitives::HASH_SHA1;
    for (size_t i = 2; i < kdfParams.size(); ++i) {
        if (kdfParams[i].Tag() == Asn1Tag::kInteger) {
            if (!CAsn1Util::SmallInt(kdfParams[i], nKeySize))
                return EPkcs12Error::NotPkcs12;
        } else if (kdfParams[i].Tag() == Asn1Tag::kSequence) {
            std::vector<CBerElement> prf;
            if (!CAsn1Util::Children(kdfParams[i], Asn1Tag::kSequence, prf) || prf.empty())
                return EPkcs12Error::NotPkcs12;
            bool bKnown = false;
            for (const CPrf& p : kPrfs) {
                if (CAsn1Util::IsOid(prf[0], p.pszOid)) {
                    eHash = p.eHash;
                    bKnown = true;
                }
            }
            if (!bKnown)
                return EPkcs12Error::Unsupported;
        }
    }
    const CScheme* pScheme = nullptr;
    for (const CScheme& s : kSchemes) {
        if (CAsn1Util::IsOid(scheme[0], s.pszOid))
            pScheme = &s;
    }
    if (pScheme == nullptr)
        return EPkcs12Error::Unsupported;
    Bytes iv;
    if (scheme[1].Tag() != Asn1Tag::kOctetString || !CAsn1Util::OctetString(scheme[1], iv))
        return EPkcs12Error::NotPkcs12;
    size_t nCipherKey = CCryptoPrimitives::CipherKeySize(pScheme->eCipher);
    if (nKeySize != 0 && static_cast<size_t>(nKeySize) != nCipherKey)
        return EPkcs12Error::NotPkcs12;
    if (iv.size() != CCryptoPrimitives::CipherBlockSize(pScheme->eCipher))
        return EPkcs12Error::NotPkcs12;

    Bytes password = Utf8Password(strPassword), key;
    bool bKey = m_crypto.Pbkdf2(eHash, password, salt, static_cast<unsigned>(nIterations), nCipherKey,
                                key);
    WipeBytes(password);
    if (!bKey)
        return EPkcs12Error::Crypto;
    bool bOk = m_crypto.Decrypt(pScheme->eCipher, key, iv, encrypted, plain);
    WipeBytes(key);
    return bOk ? EPkcs12Error::Ok : CryptoError(m_crypto);
}

EPkcs12Error CPkcs12Pbe::DecryptPkcs12(const std::string& strOid, const CBerElement& parameters,
                                       const std::wstring& strPassword, const Bytes& encrypted,
                                       Bytes& plain)
{
    CCryptoPrimitives::ECipher eCipher;
    size_t nKey;
    unsigned nEffectiveBits = 0;
    if (strOid == Asn1Oids::kPbeSha1Des3) {
        eCipher = CCryptoPrimitives::CIPHER_DES3;
        nKey = 24;
    } else if (strOid == Asn1Oids::kPbeSha1Rc2_128) {
        eCipher = CCryptoPrimitives::CIPHER_RC2;
        nKey = 16;
        nEffectiveBits = 128;
    } else if (strOid == Asn1Oids::kPbeSha1Rc2_40) {
        eCipher = CCryptoPrimitives::CIPHER_RC2;
        nKey = 5;
        nEffectiveBits = 40;
    } else {
        return EPkcs12Error::Unsupported;
    }
    std::vector<CBerElement> params;
    Bytes salt;
    long nIterations = 0;
    if (!CAsn1Util::Children(parameters, Asn1Tag::kSequence, params) || params.size() != 2 ||
        !CAsn1Util::OctetString(params[0], salt) || !CAsn1Util::SmallInt(params[1], nIterations) ||
        nIterations < 1)
        return EPkcs12Error::NotPkcs12;
    if (nIterations > MAX_ITERATIONS)
        return EPkcs12Error::LimitExceeded;
    Bytes password = BmpPassword(strPassword), key, iv;
    bool bKey = m_crypto.Pkcs12Kdf(CCryptoPrimitives::HASH_SHA1, password, salt,
                                   static_cast<unsigned>(nIterations), 1, nKey, key) &&
                m_crypto.Pkcs12Kdf(CCryptoPrimitives::HASH_SHA1, password, salt,
                                   static_cast<unsigned>(nIterations), 2, 8, iv);
    WipeBytes(password);
    if (!bKey) {
        WipeBytes(key);
        return EPkcs12Error::Crypto;
    }
    bool bOk = m_crypto.Decrypt(eCipher, key, iv, encrypted, plain, nEffectiveBits);
    WipeBytes(key);
    return bOk ? EPkcs12Error::Ok : CryptoError(m_crypto);
}

EPkcs12Error CPkcs12Pbe::Encrypt(const std::wstring& strPassword, unsigned nIterations,
                                 const Bytes& plain, Bytes& algorithm, Bytes& encrypted)
{
    for (wchar_t c : strPassword) {
        if (c < 0x20 || c > 0x7E)
            return EncryptPkcs12(strPassword, nIterations, plain, algorithm, encrypted);
    }
    return EncryptPbes2(strPassword, nIterations, plain, algorithm, encrypted);
}

EPkcs12Error CPkcs12Pbe::EncryptPkcs12(const std::wstring& strPassword, unsigned nIterations,
                                       const Bytes& plain, Bytes& algorithm, Bytes& encrypted)
{
    Bytes salt(8);
    if (!m_crypto.Random(salt.data(), salt.size()))
        return EPkcs12Error::Crypto;
    Bytes password = BmpPassword(strPassword), key, iv;
    bool bOk = m_crypto.Pkcs12Kdf(CCryptoPrimitives::HASH_SHA1, password, salt, nIterations, 1, 24, key) &&
               m_crypto.Pkcs12Kdf(CCryptoPrimitives::HASH_SHA1, password, salt, nIterations, 2, 8, iv) &&
               m_crypto.Encrypt(CCryptoPrimitives::CIPHER_DES3, key, iv, plain, encrypted);
    WipeBytes(password);
    WipeBytes(key);
    if (!bOk)
        return EPkcs12Error::Crypto;
    Bytes parameters;
    CAsn1Util::AppendOctetString(parameters, salt);
    CAsn1Util::AppendSmallInt(parameters, static_cast<long>(nIterations));
    algorithm.clear();
    CAsn1Util::AppendAlgorithm(algorithm, Asn1Oids::kPbeSha1Des3,
                               CAsn1Util::Wrap(Asn1Tag::kSequence, parameters));
    return EPkcs12Error::Ok;
}

EPkcs12Error CPkcs12Pbe::EncryptPbes2(const std::wstring& strPassword, unsigned nIterations,
                                      const Bytes& plain, Bytes& algorithm, Bytes& encrypted)
{
    Bytes salt(16), iv(16);
    if (!m_crypto.Random(salt.data(), salt.size()) || !m_crypto.Random(iv.data(), iv.size()))
        return EPkcs12Error::Crypto;
    Bytes password = Utf8Password(strPassword), key;
    bool bKey = m_crypto.Pbkdf2(CCryptoPrimitives::HASH_SHA256, password, salt, nIterations, 32, key);
    WipeBytes(password);
    if (!bKey)
        return EPkcs12Error::Crypto;
    bool bOk = m_crypto.Encrypt(CCryptoPrimitives::CIPHER_AES256, key, iv, plain, encrypted);
    WipeBytes(key);
    if (!bOk)
        return EPkcs12Error::Crypto;

    Bytes kdfParams;
    CAsn1Util::AppendOctetString(kdfParams, salt);
    CAsn1Util::AppendSmallInt(kdfParams, static_cast<long>(nIterations));
    CAsn1Util::AppendAlgorithm(kdfParams, Asn1Oids::kHmacSha256);
    // PBES2-params: the key derivation, then the encryption scheme.
    Bytes pbes2;
    CAsn1Util::AppendAlgorithm(pbes2, Asn1Oids::kPbkdf2,
                               CAsn1Util::Wrap(Asn1Tag::kSequence, kdfParams));
    Bytes ivElement;
    CAsn1Util::AppendOctetString(ivElement, iv);
    CAsn1Util::AppendAlgorithm(pbes2, Asn1Oids::kAes256Cbc, ivElement);
    algorithm.clear();
    CAsn1Util::AppendAlgorithm(algorithm, Asn1Oids::kPbes2,
                               CAsn1Util::Wrap(Asn1Tag::kSequence, pbes2));
    return EPkcs12Error::Ok;
}
