#pragma once
#include <memory>
#include <string>
#include <vector>

#include "platform/entrust/EntX509.h"
#include "platform/pkcs12/CCryptoPrimitives.h"
#include "platform/pkcs12/CPkcs12Bag.h"
#include "platform/pkcs12/CRsaPrivateKey.h"

// The contents of a profile file: a PKCS#12 file protected by the profile
// password that holds the user's key pairs with their certificates and the
// issuer's certificate.
//
// Roles: a key whose friendly name is "signing" or "encryption" takes that
// role; otherwise a certificate with key or data encipherment makes its key the
// encryption key, one with digital signature or non-repudiation the signing
// key. A profile with a single key pair uses it for both. The issuer's
// certificate is the one whose subject names the signing certificate's issuer.
class EntProfile {
public:
    struct CKeyPair {
        std::shared_ptr<const EntX509> pCert;
        CRsaPrivateKey key;
        std::wstring strFriendlyName;
    };

    // Largest profile file read; anything bigger is not a profile.
    static constexpr size_t MAX_SIZE = 1024 * 1024;

    // A toolkit code: ENT_OK, ENT_ERR_BAD_PASSWORD, ENT_ERR_PROFILE_FORMAT,
    // ENT_ERR_UNSUPPORTED_PROFILE, ENT_ERR_USER_CERTIFICATES, ENT_ERR_KEY_MISMATCH.
    short Load(const uint8_t* pData, size_t nSize, const std::wstring& strPassword,
               CCryptoPrimitives& crypto);

    const CKeyPair* Signing() const { return m_nSigning >= 0 ? &m_pairs[m_nSigning] : nullptr; }
    const CKeyPair* Encryption() const
    {
        return m_nEncryption >= 0 ? &m_pairs[m_nEncryption] : nullptr;
    }
    const std::shared_ptr<const EntX509>& Issuer() const { return m_pIssuer; }
    // The pair that holds this certificate (DER equality), or null.
    const CKeyPair* PairOf(const EntX509& cert) const;
    // The distinct key pairs, signing first.
    std::vector<const CKeyPair*> Pairs() const;

    // Builds the bags of a profile (or of an export): each pair's key and
    // certificate tied by a local key id, then the other certificates.
    static bool MakeBags(const std::vector<const CKeyPair*>& pairs,
                         const std::vector<std::shared_ptr<const EntX509>>& others,
                         CCryptoPrimitives& crypto, std::vector<CPkcs12Bag>& bags);
    static void WipeBags(std::vector<CPkcs12Bag>& bags);

private:
    std::vector<CKeyPair> m_pairs;
    int m_nSigning = -1;
    int m_nEncryption = -1;
    std::shared_ptr<const EntX509> m_pIssuer;
};
