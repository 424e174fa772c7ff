#pragma once
#include <windows.h>
#include <wincrypt.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "asn1/Bytes.h"

// An RSA private key read from PKCS#8 (PrivateKeyInfo) or PKCS#1 (RSAPrivateKey)
// DER, kept as big-endian magnitudes and wiped when the object goes.
class CRsaPrivateKey {
public:
    CRsaPrivateKey() {}
    ~CRsaPrivateKey() { Clear(); }
    CRsaPrivateKey(const CRsaPrivateKey& other) = default;
    CRsaPrivateKey& operator=(const CRsaPrivateKey& other) = default;

    // Either form; false for anything that is not a two-prime RSA key.
    bool Parse(const uint8_t* pDer, size_t nDer);
    void Clear();
    bool IsEmpty() const { return m_modulus.empty(); }

    const Bytes& Modulus() const { return m_modulus; }
    const Bytes& PublicExponent() const { return m_publicExponent; }
    size_t BitLength() const;

    // PrivateKeyInfo DER (unencrypted PKCS#8).
    Bytes ToPkcs8() const;
    // The platform's PRIVATEKEYBLOB for the algorithm (CALG_RSA_KEYX or CALG_RSA_SIGN).
    bool ToPrivateKeyBlob(ALG_ID algId, Bytes& blob) const;

private:
    bool ParsePkcs1(const uint8_t* pDer, size_t nDer);

    Bytes m_modulus, m_publicExponent, m_privateExponent, m_prime1, m_prime2, m_exponent1,
        m_exponent2, m_coefficient;
};
