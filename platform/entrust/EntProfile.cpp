#include "platform/entrust/EntProfile.h"

#include <windows.h>

#include "platform/entrust/EntrustToolkit.h"
#include "platform/pkcs12/CPkcs12Reader.h"

namespace {
bool CanSign(const EntX509& cert)
{
    return cert.HasKeyUsage(KEY_USAGE_DIGITAL_SIGNATURE) || cert.HasKeyUsage(KEY_USAGE_NON_REPUDIATION);
}

bool CanEncrypt(const EntX509& cert)
{
    return cert.HasKeyUsage(KEY_USAGE_KEY_ENCIPHERMENT) || cert.HasKeyUsage(KEY_USAGE_DATA_ENCIPHERMENT);
}

bool SameName(const std::wstring& strName, const wchar_t* pszRole)
{
    return !strName.empty() && _wcsicmp(strName.c_str(), pszRole) == 0;
}
}  // namespace

void EntProfile::WipeBags(std::vector<CPkcs12Bag>& bags)
{
    for (CPkcs12Bag& bag : bags) {
        if (bag.eType == CPkcs12Bag::BAG_KEY)
            WipeBytes(bag.data);
    }
    bags.clear();
}

short EntProfile::Load(const uint8_t* pData, size_t nSize, const std::wstring& strPassword,
                       CCryptoPrimitives& crypto)
{
    std::vector<CPkcs12Bag> bags;
    CPkcs12Reader reader(crypto);
    switch (reader.Read(pData, nSize, strPassword, bags)) {
    case EPkcs12Error::Ok: break;
    case EPkcs12Error::BadPassword: return ENT_ERR_BAD_PASSWORD;
    case EPkcs12Error::Unsupported: return ENT_ERR_UNSUPPORTED_PROFILE;
    case EPkcs12Error::Crypto: return ENT_ERR_NO_MEMORY;
    // Opened with any password, such a file is no profile.
    case EPkcs12Error::Unprotected: return ENT_ERR_PROFILE_FORMAT;
    default: return ENT_ERR_PROFILE_FORMAT;
    }

    struct CCertBag {
        std::shared_ptr<const EntX509> pCert;
        std::vector<uint8_t> localKeyId;
        bool bUsed;
    };
    std::vector<CCertBag> certs;
    for (const CPkcs12Bag& bag : bags) {
        if (bag.eType != CPkcs12Bag::BAG_CERTIFICATE)
            continue;
        std::shared_ptr<const EntX509> pCert = EntX509::Parse(bag.data.data(), bag.data.size());
        if (!pCert) {
            WipeBags(bags);
            return ENT_ERR_PROFILE_FORMAT;
        }
        certs.push_back(CCertBag{pCert, bag.localKeyId, false});
    }
    // Each key with its certificate: by local key id, else by public key.
    short nResult = ENT_OK;
    for (const CPkcs12Bag& bag : bags) {
        if (bag.eType != CPkcs12Bag::BAG_KEY || nResult != ENT_OK)
            continue;
        CKeyPair pair;
        if (!pair.key.Parse(bag.data.data(), bag.data.size())) {
            nResult = ENT_ERR_UNSUPPORTED_PROFILE;
            continue;
        }
        pair.strFriendlyName = bag.strFriendlyName;
        CCertBag* pMatch = nullptr;
        for (CCertBag& c : certs) {
            if (!c.bUsed && !bag.localKeyId.empty() && c.localKeyId == bag.localKeyId)
                pMatch = &c;
        }
        for (CCertBag& c : certs) {
            if (pMatch == nullptr && !c.bUsed && c.pCert->Modulus() == pair.key.Modulus())
                pMatch = &c;
        }
        if (pMatch == nullptr || pMatch->pCert->Modulus() != pair.key.Modulus() ||
            pMatch->pCert->PublicExponent() != pair.key.PublicExponent()) {
            nResult = pMatch == nullptr ? ENT_ERR_USER_CERTIFICATES : ENT_ERR_KEY_MISMATCH;
            continue;
        }
        pMatch->bUsed = true;
        pair.pCert = pMatch->pCert;
        m_pairs.push_back(pair);
    }
    WipeBags(bags);
    if (nResult == ENT_OK && m_pairs.empty())
        nResult = ENT_ERR_USER_CERTIFICATES;
    if (nResult != ENT_OK) {
        m_pairs.clear();
        return nResult;
    }

    for (size_t i = 0; i < m_pairs.size(); ++i) {
        if (m_nSigning < 0 && SameName(m_pairs[i].strFriendlyName, L"signing"))
            m_nSigning = static_cast<int>(i);
        if (m_nEncryption < 0 && SameName(m_pairs[i].strFriendlyName, L"encryption"))
            m_nEncryption = static_cast<int>(i);
    }
    for (size_t i = 0; i < m_pairs.size(); ++i) {
        int n = static_cast<int>(i);
        if (m_nSigning < 0 && n != m_nEncryption && CanSign(*m_pairs[i].pCert))
            m_nSigning = n;
        if (m_nEncryption < 0 && n != m_nSigning && CanEncrypt(*m_pairs[i].pCert))
            m_nEncryption = n;
    }
    if (m_nSigning < 0 && m_nEncryption < 0)
        m_nSigning = 0;
    if (m_nSigning < 0)
        m_nSigning = m_nEncryption;
    if (m_nEncryption < 0)
        m_nEncryption = m_nSigning;

    const EntX509& signing = *m_pairs[m_nSigning].pCert;
    for (const CCertBag& c : certs) {
        if (!c.bUsed && signing.IssuerName() == c.pCert->SubjectName())
            m_pIssuer = c.pCert;
    }
    return ENT_OK;
}

const EntProfile::CKeyPair* EntProfile::PairOf(const EntX509& cert) const
{
    for (const CKeyPair& pair : m_pairs) {
        if (pair.pCert->Der() == cert.Der())
            return &pair;
    }
    return nullptr;
}

std::vector<const EntProfile::CKeyPair*> EntProfile::Pairs() const
{
    std::vector<const CKeyPair*> pairs;
    if (Signing() != nullptr)
        pairs.push_back(Signing());
    if (Encryption() != nullptr && Encryption() != Signing())
        pairs.push_back(Encryption());
    return pairs;
}

bool EntProfile::MakeBags(const std::vector<const CKeyPair*>& pairs,
                          const std::vector<std::shared_ptr<const EntX509>>& others,
                          CCryptoPrimitives& crypto, std::vector<CPkcs12Bag>& bags)
{
    WipeBags(bags);
    for (const CKeyPair* pPair : pairs) {
        // The local key id is the certificate's SHA-1, as OpenSSL makes it.
        std::vector<uint8_t> id;
        if (!crypto.Hash(CCryptoPrimitives::HASH_SHA1, pPair->pCert->Der().data(),
                         pPair->pCert->Der().size(), id)) {
            WipeBags(bags);
            return false;
        }
        CPkcs12Bag key;
        key.eType = CPkcs12Bag::BAG_KEY;
        key.data = pPair->key.ToPkcs8();
        key.localKeyId = id;
        key.strFriendlyName = pPair->strFriendlyName;
        bags.push_back(key);
        WipeBytes(key.data);
        CPkcs12Bag cert;
        cert.eType = CPkcs12Bag::BAG_CERTIFICATE;
        cert.data = pPair->pCert->Der();
        cert.localKeyId = id;
        cert.strFriendlyName = pPair->strFriendlyName;
        bags.push_back(cert);
    }
    for (const std::shared_ptr<const EntX509>& pCert : others) {
        CPkcs12Bag cert;
        cert.eType = CPkcs12Bag::BAG_CERTIFICATE;
        cert.data = pCert->Der();
        bags.push_back(cert);
    }
    return true;
}
