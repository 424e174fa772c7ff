// One SignerInfo of a PKCS#7 signed-data message, taken apart.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "cert/pkcs7/Pkcs7Error.h"

class CPkcs7SignerInfo {
public:
    static constexpr size_t MAX_ATTRIBUTES_SIZE = 64 * 1024;

    struct CS_ATTRIBUTE {
        std::string strOid;                        // dotted
        std::vector<std::vector<uint8_t>> values;  // each value element as received
    };

    // Parses the whole SignerInfo element (BER).
    EPkcs7Error Parse(const uint8_t* pData, size_t nSize);

    int Version() const { return m_nVersion; }
    const std::vector<uint8_t>& Issuer() const { return m_issuer; }  // Name element
    const std::vector<uint8_t>& Serial() const { return m_serial; }  // INTEGER content
    const std::string& DigestOid() const { return m_strDigestOid; }
    const std::vector<uint8_t>& DigestParams() const { return m_digestParams; }  // element or empty
    bool HasAuthAttributes() const { return m_bHasAuthAttributes; }
    // The [0] element as received; the signature covers it with its tag set to SET.
    const std::vector<uint8_t>& AuthAttributesRaw() const { return m_authRaw; }
    const std::vector<CS_ATTRIBUTE>& AuthAttributes() const { return m_auth; }
    const std::string& SignatureOid() const { return m_strSignatureOid; }
    const std::vector<uint8_t>& Signature() const { return m_signature; }  // big-endian

    // The values of the first attribute with this OID, or null.
    const CS_ATTRIBUTE* FindAttribute(const std::string& strOid) const;
    // The value of the last signingTime attribute (UTCTime or GeneralizedTime
    // element), empty when there is none.
    std::vector<uint8_t> SigningTime() const;

private:
    int m_nVersion = 0;
    std::vector<uint8_t> m_issuer;
    std::vector<uint8_t> m_serial;
    std::string m_strDigestOid;
    std::vector<uint8_t> m_digestParams;
    bool m_bHasAuthAttributes = false;
    std::vector<uint8_t> m_authRaw;
    std::vector<CS_ATTRIBUTE> m_auth;
    std::string m_strSignatureOid;
    std::vector<uint8_t> m_signature;
};
