#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "asn1/Bytes.h"
#include "asn1/CBerElement.h"

// Seconds since 1970, UTC, as time() counts them, wide enough for 2038 and later.
typedef int64_t EntTime;

// An X.509 certificate taken apart once: the facts the toolkit reports and the
// parts it needs to check signatures. Names are given as text in the
// "CN=..., OU=..., O=..., C=..." form (most specific first), cp1252.
class EntX509 {
public:
    // Key usage bits in X.509 order (bit 0 digitalSignature ... bit 6 cRLSign).
    enum { KU_BITS = 7 };

    // A certificate from DER, or from PEM text (the first certificate in it);
    // null when the bytes hold no certificate this code can read.
    static std::shared_ptr<const EntX509> Parse(const uint8_t* pData, size_t nSize);
    // Every certificate of a DER file (one) or a PEM file (any number).
    static std::vector<std::shared_ptr<const EntX509>> ParseAll(const uint8_t* pData, size_t nSize);

    const Bytes& Der() const { return m_der; }
    const Bytes& Tbs() const { return m_tbs; }
    int Version() const { return m_nVersion; }  // 0 for v1 ... 2 for v3
    const Bytes& Serial() const { return m_serial; }  // magnitude, big-endian
    const Bytes& IssuerName() const { return m_issuerName; }  // Name element DER
    const Bytes& SubjectName() const { return m_subjectName; }
    const std::string& IssuerText() const { return m_strIssuer; }
    const std::string& SubjectText() const { return m_strSubject; }
    const std::string& CommonName() const { return m_strCommonName; }  // empty when none
    EntTime NotBefore() const { return m_tNotBefore; }
    EntTime NotAfter() const { return m_tNotAfter; }
    // Without the extension every usage is allowed.
    bool HasKeyUsage(int nBit) const;
    // Without the extension no extended usage is named.
    bool HasExtendedKeyUsage(const std::string& strOid) const;
    // The private key usage period's end; 0 when the extension has none.
    bool HasKeyPeriod() const { return m_bKeyPeriod; }
    EntTime KeyPeriodEnd() const { return m_tKeyPeriodEnd; }
    const Bytes& Modulus() const { return m_modulus; }
    const Bytes& PublicExponent() const { return m_exponent; }
    // Digest of the signature algorithm ("" when it is not RSA with a known digest).
    const std::string& SignatureDigestOid() const { return m_strSignatureDigest; }
    const Bytes& Signature() const { return m_signature; }
    // Upper-case hexadecimal SHA-1 of the DER, pairs separated by ':'.
    std::string Sha1Text() const;
    bool IsIssuedBy(const EntX509& issuer) const { return m_issuerName == issuer.m_subjectName; }

    // Name element DER to text, as above; pszSeparator goes between the parts.
    static std::string NameText(const CBerElement& name, std::string* pCommonName = nullptr,
                                const char* pszSeparator = ", ");
    // Digest OID of an RSA signature algorithm OID; empty when unknown.
    static std::string SignatureDigest(const std::string& strSignatureOid);
    // UTCTime or GeneralizedTime element to seconds; false when malformed.
    static bool ParseTime(const CBerElement& element, EntTime& t);
    static bool ParseTimeText(const std::string& strText, bool bGeneralized, EntTime& t);
    // Certificates in PEM text; the DER of each.
    static std::vector<Bytes> PemBlocks(const uint8_t* pData, size_t nSize, const char* pszLabel);

private:
    EntX509() {}
    bool Load(const uint8_t* pDer, size_t nDer);
    bool LoadExtensions(const CBerElement& extensions);

    Bytes m_der, m_tbs, m_serial, m_issuerName, m_subjectName, m_modulus, m_exponent, m_signature;
    int m_nVersion = 0;
    std::string m_strIssuer, m_strSubject, m_strCommonName, m_strSignatureDigest;
    EntTime m_tNotBefore = 0, m_tNotAfter = 0, m_tKeyPeriodEnd = 0;
    std::vector<std::string> m_extendedKeyUsages;
    bool m_bKeyUsage = false, m_bKeyPeriod = false;
    unsigned m_nKeyUsage = 0;
};
