#include "platform/pkcs12/CRsaPrivateKey.h"

#include "cert/pkcs7/CDerWriter.h"
#include "platform/pkcs12/CAsn1Util.h"
#include "platform/pkcs12/CCryptoPrimitives.h"

namespace {
const char kRsaEncryption[] = "1.2.840.113549.1.1.1";

// Little-endian, zero-padded to nSize bytes; false when the value does not fit.
bool AppendLittleEndian(Bytes& out, const Bytes& magnitude, size_t nSize)
{
    if (magnitude.size() > nSize)
        return false;
    for (size_t i = 0; i < nSize; ++i)
        out.push_back(i < magnitude.size() ? magnitude[magnitude.size() - 1 - i] : 0);
    return true;
}
}  // namespace

void CRsaPrivateKey::Clear()
{
    for (Bytes* p : {&m_modulus, &m_publicExponent, &m_privateExponent, &m_prime1, &m_prime2,
                     &m_exponent1, &m_exponent2, &m_coefficient})
        WipeBytes(*p);
}

size_t CRsaPrivateKey::BitLength() const
{
    if (m_modulus.empty())
        return 0;
    size_t nBits = m_modulus.size() * 8;
    for (uint8_t b = m_modulus[0]; (b & 0x80) == 0 && nBits > 0; b <<= 1)
        --nBits;
    return nBits;
}

bool CRsaPrivateKey::Parse(const uint8_t* pDer, size_t nDer)
{
    Clear();
    CBerElement outer;
    std::vector<CBerElement> fields;
    if (!CAsn1Util::ParseWhole(pDer, nDer, 0x30, outer) || !CAsn1Util::Children(outer, 0x30, fields))
        return false;
    // PrivateKeyInfo: version, AlgorithmIdentifier, OCTET STRING holding RSAPrivateKey.
    if (fields.size() >= 3 && fields[1].Tag() == 0x30 && fields[2].Tag() == 0x04) {
        std::vector<CBerElement> algorithm;
        if (!CAsn1Util::Children(fields[1], 0x30, algorithm) || algorithm.empty() ||
            !CAsn1Util::IsOid(algorithm[0], kRsaEncryption))
            return false;
        return ParsePkcs1(fields[2].Content(), fields[2].ContentSize());
    }
    return ParsePkcs1(pDer, nDer);
}

bool CRsaPrivateKey::ParsePkcs1(const uint8_t* pDer, size_t nDer)
{
    CBerElement outer;
    std::vector<CBerElement> fields;
    long nVersion = -1;
    if (!CAsn1Util::ParseWhole(pDer, nDer, 0x30, outer) ||
        !CAsn1Util::Children(outer, 0x30, fields) || fields.size() < 9 ||
        !CAsn1Util::SmallInt(fields[0], nVersion) || nVersion != 0)
        return false;
    Bytes* targets[] = {&m_modulus, &m_publicExponent, &m_privateExponent, &m_prime1,
                        &m_prime2,  &m_exponent1,      &m_exponent2,       &m_coefficient};
    for (size_t i = 0; i < 8; ++i) {
        if (!CAsn1Util::Unsigned(fields[i + 1], *targets[i])) {
            Clear();
            return false;
        }
    }
    if (BitLength() < 512 || BitLength() > 16384) {
        Clear();
        return false;
    }
    return true;
}

CRsaPrivateKey::Bytes CRsaPrivateKey::ToPkcs8() const
{
    Bytes rsa;
    CAsn1Util::AppendSmallInt(rsa, 0);
    for (const Bytes* p : {&m_modulus, &m_publicExponent, &m_privateExponent, &m_prime1, &m_prime2,
                           &m_exponent1, &m_exponent2, &m_coefficient})
        CAsn1Util::AppendUnsigned(rsa, *p);
    Bytes rsaKey = CAsn1Util::Wrap(0x30, rsa);
    Bytes info;
    CAsn1Util::AppendSmallInt(info, 0);
    CAsn1Util::AppendAlgorithm(info, kRsaEncryption);
    CAsn1Util::AppendOctetString(info, rsaKey);
    WipeBytes(rsa);
    WipeBytes(rsaKey);
    return CAsn1Util::Wrap(0x30, info);
}

bool CRsaPrivateKey::ToPrivateKeyBlob(ALG_ID algId, Bytes& blob) const
{
    WipeBytes(blob);
    size_t nBits = (BitLength() + 15) / 16 * 16;
    size_t nFull = nBits / 8, nHalf = nBits / 16;
    Bytes e = m_publicExponent;
    if (nBits == 0 || e.size() > 4)
        return false;
    DWORD dwExponent = 0;
    for (uint8_t b : e)
        dwExponent = (dwExponent << 8) | b;

    BLOBHEADER header = {PRIVATEKEYBLOB, CUR_BLOB_VERSION, 0, algId};
    RSAPUBKEY pub = {0x32415352 /* "RSA2" */, static_cast<DWORD>(nBits), dwExponent};
    const uint8_t* pHeader = reinterpret_cast<const uint8_t*>(&header);
    const uint8_t* pPub = reinterpret_cast<const uint8_t*>(&pub);
    blob.assign(pHeader, pHeader + sizeof(header));
    blob.insert(blob.end(), pPub, pPub + sizeof(pub));
    if (AppendLittleEndian(blob, m_modulus, nFull) && AppendLittleEndian(blob, m_prime1, nHalf) &&
        AppendLittleEndian(blob, m_prime2, nHalf) && AppendLittleEndian(blob, m_exponent1, nHalf) &&
        AppendLittleEndian(blob, m_exponent2, nHalf) &&
        AppendLittleEndian(blob, m_coefficient, nHalf) &&
        AppendLittleEndian(blob, m_privateExponent, nFull))
        return true;
    WipeBytes(blob);
    return false;
}
