#pragma once
// Hand-made PKCS#7 signed-data messages for the attack tests, natively and
// under Wine: every part the library's writer fixes can be chosen here, and the
// signature is still made with a real key, so that only the chosen fault is
// wrong. Portable: the crypto comes in as two callbacks.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "asn1/CAsn1Oid.h"
#include "asn1/CBerElement.h"
#include "asn1/CDerWriter.h"
#include "cert/pkcs7/CPkcs7CertId.h"

namespace pkcs7forge {

typedef std::vector<uint8_t> Bytes;

const char OID_DATA[] = "1.2.840.113549.1.7.1";
const char OID_SIGNED_DATA[] = "1.2.840.113549.1.7.2";
const char OID_ENVELOPED_DATA[] = "1.2.840.113549.1.7.3";
const char OID_CONTENT_TYPE[] = "1.2.840.113549.1.9.3";
const char OID_MESSAGE_DIGEST[] = "1.2.840.113549.1.9.4";
const char OID_SIGNING_TIME[] = "1.2.840.113549.1.9.5";
const char OID_MD5[] = "1.2.840.113549.2.5";
const char OID_SHA1[] = "1.3.14.3.2.26";
const char OID_SHA256[] = "2.16.840.1.101.3.4.2.1";
const char OID_RSA[] = "1.2.840.113549.1.1.1";
const char OID_MD5_RSA[] = "1.2.840.113549.1.1.4";
const char OID_SHA256_RSA[] = "1.2.840.113549.1.1.11";
const char OID_DSA_SHA1[] = "1.2.840.10040.4.3";
const char OID_ECDSA_SHA256[] = "1.2.840.10045.4.3.2";

// Digest of data with the dotted digest OID.
typedef std::function<Bytes(const std::string& strDigestOid, const Bytes& data)> FDigest;
// RSA PKCS#1 v1.5 signature (big-endian) of data hashed with the digest OID.
typedef std::function<Bytes(const std::string& strDigestOid, const Bytes& data)> FSign;

struct CS_ATTRIBUTE {
    std::string strOid;
    std::vector<Bytes> values;  // whole value elements
};

struct CS_FORGE {
    Bytes content;
    std::string strContentType = OID_DATA;
    bool bDetached = false;
    std::string strDigestOid = OID_MD5;
    std::vector<std::string> announced;  // digestAlgorithms; empty: the signer's digest
    std::string strSignatureOid = OID_RSA;
    Bytes signerCert;          // names the signer (issuer and serial)
    std::vector<Bytes> certs;  // carried, in order; empty: the signer's
    bool bAttributes = true;
    // Indefinite lengths, ended by "00 00": for the message, the signed data,
    // the signer infos and the signer info; for the signed attributes, which are
    // then signed in that form too.
    bool bIndefinite = false;
    bool bIndefiniteAttributes = false;
    // Changes the attributes the writer would put (contentType, signingTime,
    // messageDigest, in that order) before they are signed.
    std::function<void(std::vector<CS_ATTRIBUTE>& attrs, const Bytes& digest)> edit;
};

inline Bytes Tlv(uint8_t nTag, const Bytes& content)
{
    Bytes out;
    CDerWriter::Append(out, nTag, content);
    return out;
}

inline Bytes Oid(const std::string& strDotted)
{
    Bytes content;
    CAsn1Oid::Encode(strDotted, content);
    return Tlv(0x06, content);
}

inline Bytes Cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

inline Bytes Element(uint8_t nTag, const Bytes& content, bool bIndefinite)
{
    if (!bIndefinite)
        return Tlv(nTag, content);
    return Cat({Bytes{nTag, 0x80}, content, Bytes{0x00, 0x00}});
}

inline Bytes Algorithm(const std::string& strOid)
{
    return Tlv(0x30, Cat({Oid(strOid), Bytes{0x05, 0x00}}));
}

inline Bytes SigningTime()
{
    const std::string t = "260314101520Z";
    return Tlv(0x17, Bytes(t.begin(), t.end()));
}

inline Bytes AttributeSet(const std::vector<CS_ATTRIBUTE>& attrs)
{
    Bytes body;
    for (const CS_ATTRIBUTE& a : attrs) {
        Bytes values;
        for (const Bytes& v : a.values)
            values.insert(values.end(), v.begin(), v.end());
        body = Cat({body, Tlv(0x30, Cat({Oid(a.strOid), Tlv(0x31, values)}))});
    }
    return body;
}

inline Bytes Forge(const CS_FORGE& f, const FDigest& digest, const FSign& sign)
{
    CPkcs7CertId id;
    if (id.FromCertificate(f.signerCert.data(), f.signerCert.size()) != EPkcs7Error::Ok)
        return Bytes();
    const Bytes contentDigest = digest(f.strDigestOid, f.content);

    Bytes signerInfo =
        Cat({Bytes{0x02, 0x01, 0x01}, Tlv(0x30, Cat({id.Issuer(), id.SerialElement()})),
             Algorithm(f.strDigestOid)});
    Bytes signature;
    if (f.bAttributes) {
        std::vector<CS_ATTRIBUTE> attrs = {{OID_CONTENT_TYPE, {Oid(f.strContentType)}},
                                           {OID_SIGNING_TIME, {SigningTime()}},
                                           {OID_MESSAGE_DIGEST, {Tlv(0x04, contentDigest)}}};
        if (f.edit)
            f.edit(attrs, contentDigest);
        Bytes body = AttributeSet(attrs);
        signature = sign(f.strDigestOid, Element(0x31, body, f.bIndefiniteAttributes));
        signerInfo = Cat({signerInfo, Element(0xA0, body, f.bIndefiniteAttributes)});
    } else {
        signature = sign(f.strDigestOid, f.content);
    }
    signerInfo = Element(
        0x30, Cat({signerInfo, Algorithm(f.strSignatureOid), Tlv(0x04, signature)}), f.bIndefinite);

    Bytes algs;
    for (const std::string& oid :
         f.announced.empty() ? std::vector<std::string>{f.strDigestOid} : f.announced)
        algs = Cat({algs, Algorithm(oid)});
    Bytes inner = Oid(f.strContentType);
    if (!f.bDetached)
        inner = Cat({inner, Tlv(0xA0, Tlv(0x04, f.content))});
    Bytes certs;
    for (const Bytes& c : f.certs.empty() ? std::vector<Bytes>{f.signerCert} : f.certs)
        certs = Cat({certs, c});
    const bool bIndef = f.bIndefinite;
    Bytes signedData = Element(0x30,
                               Cat({Bytes{0x02, 0x01, 0x01}, Tlv(0x31, algs), Tlv(0x30, inner),
                                    Tlv(0xA0, certs), Element(0x31, signerInfo, bIndef)}),
                               bIndef);
    return Element(0x30, Cat({Oid(OID_SIGNED_DATA), Element(0xA0, signedData, bIndef)}), bIndef);
}

// The certificate cert with the public key of other: same issuer and serial
// number, another key (its own signature no longer verifies).
inline Bytes WithKeyOf(const Bytes& cert, const Bytes& other)
{
    auto tbsParts = [](const Bytes& der, std::vector<CBerElement>& outer,
                       std::vector<CBerElement>& tbs) {
        CBerElement el;
        return el.ParseAll(der.data(), der.size()) == EAsn1Error::Ok &&
               el.Children(outer) == EAsn1Error::Ok && outer.size() == 3 &&
               outer[0].Children(tbs) == EAsn1Error::Ok && tbs.size() >= 7;
    };
    std::vector<CBerElement> outer, tbs, otherOuter, otherTbs;
    if (!tbsParts(cert, outer, tbs) || !tbsParts(other, otherOuter, otherTbs))
        return Bytes();
    // [0] version, serial, signature, issuer, validity, subject, subjectPublicKeyInfo
    const size_t nKey = tbs[0].Tag() == 0xA0 ? 6 : 5;
    const size_t nOtherKey = otherTbs[0].Tag() == 0xA0 ? 6 : 5;
    Bytes body;
    for (size_t i = 0; i < tbs.size(); ++i) {
        Bytes part = i == nKey ? otherTbs[nOtherKey].Bytes() : tbs[i].Bytes();
        body.insert(body.end(), part.begin(), part.end());
    }
    return Tlv(0x30, Cat({Tlv(0x30, body), outer[1].Bytes(), outer[2].Bytes()}));
}

}  // namespace pkcs7forge
