#include "platform/pkcs12/CRsaPrivateKey.h"

#include "asn1/Asn1Oids.h"
#include "asn1/Asn1Tags.h"
#include "asn1/CAsn1Util.h"
#include "asn1/CDerWriter.h"
#include "platform/pkcs12/CCryptoPrimitives.h"

namespace {

// Little-endian, zero-padded to nSize bytes; false when the value does not fit.
bool AppendLittleEndian(Bytes& out, const Bytes& magnitude, size_t nSize)
{
    if (magnitude.size() > nSize)
        return false;
    for (size_t i = 0; i < nSize; ++i)
        out.push_back(i < magnitude.size() ? magnitude[magnitude.size() - 1 - i] : 0);
    return true;
}

// Tag and length octets of an element of nLength content bytes.
size_t HeaderSize(size_t nLength)
{
    if (nLength < 0x80)
        return 2;
    size_t n = 2;
    for (size_t v = nLength; v != 0; v >>= 8)
        ++n;
    return n;
}

// An INTEGER's magnitude without its leading zeros, and whether it needs a zero
// byte in front to stay positive.
void IntegerParts(const Bytes& magnitude, size_t& nSkip, bool& bZero)
{
    nSkip = 0;
    while (nSkip + 1 < magnitude.size() && magnitude[nSkip] == 0)
        ++nSkip;
    bZero = magnitude.empty() || (magnitude[nSkip] & 0x80) != 0;
}

size_t IntegerSize(const Bytes& magnitude)
{
    size_t nSkip;
    bool bZero;
    IntegerParts(magnitude, nSkip, bZero);
    size_t nContent = magnitude.size() - nSkip + (bZero ? 1 : 0);
    return HeaderSize(nContent) + nContent;
}

// Straight into out, which has the room: no temporary copy of a secret.
void AppendInteger(Bytes& out, const Bytes& magnitude)
{
    size_t nSkip;
    bool bZero;
    IntegerParts(magnitude, nSkip, bZero);
    CDerWriter::AppendHeader(out, Asn1Tag::kInteger, magnitude.size() - nSkip + (bZero ? 1 : 0));
    if (bZero)
        out.push_back(0);
    out.insert(out.end(), magnitude.begin() + nSkip, magnitude.end());
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
    if (!CAsn1Util::ParseWhole(pDer, nDer, Asn1Tag::kSequence, outer) ||
        !CAsn1Util::Children(outer, Asn1Tag::kSequence, fields))
        return false;
    // PrivateKeyInfo: version, AlgorithmIdentifier, OCTET STRING holding RSAPrivateKey.
    if (fields.size() >= 3 && fields[1].Tag() == Asn1Tag::kSequence &&
        fields[2].Tag() == Asn1Tag::kOctetString) {
        std::vector<CBerElement> algorithm;
        if (!CAsn1Util::Children(fields[1], Asn1Tag::kSequence, algorithm) || algorithm.empty() ||
            !CAsn1Util::IsOid(algorithm[0], Asn1Oids::kRsaEncryption))
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
    if (!CAsn1Util::ParseWhole(pDer, nDer, Asn1Tag::kSequence, outer) ||
        !CAsn1Util::Children(outer, Asn1Tag::kSequence, fields) || fields.size() < 9 ||
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

Bytes CRsaPrivateKey::ToPkcs8() const
{
    // The whole encoding is measured first and written into one buffer of that
    // size, so that the key's numbers are never copied into buffers that are
    // then freed unwiped.
    const Bytes* fields[] = {&m_modulus,   &m_publicExponent, &m_privateExponent, &m_prime1,
                             &m_prime2,    &m_exponent1,      &m_exponent2,       &m_coefficient};
    Bytes version;
    CAsn1Util::AppendSmallInt(version, 0);
    Bytes algorithm;
    CAsn1Util::AppendAlgorithm(algorithm, Asn1Oids::kRsaEncryption);
    size_t nRsa = version.size();
    for (const Bytes* p : fields)
        nRsa += IntegerSize(*p);
    size_t nRsaKey = HeaderSize(nRsa) + nRsa;
    size_t nInfo = version.size() + algorithm.size() + HeaderSize(nRsaKey) + nRsaKey;
    Bytes out;
    out.reserve(HeaderSize(nInfo) + nInfo);
    // PrivateKeyInfo { 0, rsaEncryption, OCTET STRING { RSAPrivateKey } }
    CDerWriter::AppendHeader(out, Asn1Tag::kSequence, nInfo);
    out.insert(out.end(), version.begin(), version.end());
    out.insert(out.end(), algorithm.begin(), algorithm.end());
    CDerWriter::AppendHeader(out, Asn1Tag::kOctetString, nRsaKey);
    CDerWriter::AppendHeader(out, Asn1Tag::kSequence, nRsa);
    out.insert(out.end(), version.begin(), version.end());
    for (const Bytes* p : fields)
        AppendInteger(out, *p);
    return out;
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
    // The whole size first: growing byte by byte would leave copies of the key behind.
    blob.reserve(sizeof(header) + sizeof(pub) + 2 * nFull + 5 * nHalf);
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
