#include "cert/pkcs7/CPkcs7Writer.h"

#include <algorithm>

#include "cert/pkcs7/CAsn1Oid.h"
#include "cert/pkcs7/CBerElement.h"
#include "cert/pkcs7/CDerWriter.h"
#include "cert/pkcs7/CPkcs7CertId.h"

namespace {

const char OID_SIGNED_DATA[] = "1.2.840.113549.1.7.2";
const char OID_DATA[] = "1.2.840.113549.1.7.1";
const char OID_CONTENT_TYPE[] = "1.2.840.113549.1.9.3";
const char OID_MESSAGE_DIGEST[] = "1.2.840.113549.1.9.4";
const char OID_SIGNING_TIME[] = "1.2.840.113549.1.9.5";
const char OID_RSA_ENCRYPTION[] = "1.2.840.113549.1.1.1";

std::vector<uint8_t> OidContent(const char* dotted)
{
    std::vector<uint8_t> content;
    CAsn1Oid::Encode(dotted, content);
    return content;
}

std::vector<uint8_t> Attribute(const char* oid, const std::vector<uint8_t>& value)
{
    std::vector<uint8_t> body;
    CDerWriter::Append(body, 0x06, OidContent(oid));
    CDerWriter::Append(body, 0x31, value);
    std::vector<uint8_t> attr;
    CDerWriter::Append(attr, 0x30, body);
    return attr;
}

}  // namespace

CPkcs7Writer::CPkcs7Writer(CPkcs7Crypto& crypto, FOutput output)
    : m_crypto(crypto), m_output(std::move(output)), m_state(STATE_IDLE)
{
}

EPkcs7Error CPkcs7Writer::Fail(EPkcs7Error e)
{
    m_state = STATE_FAILED;
    return e;
}

EPkcs7Error CPkcs7Writer::Write(const std::vector<uint8_t>& bytes)
{
    if (bytes.empty())
        return EPkcs7Error::Ok;
    EState state = m_state;
    m_state = STATE_FAILED;  // stays so if the callback throws
    if (!m_output(bytes.data(), bytes.size()))
        return EPkcs7Error::Output;
    m_state = state;
    return EPkcs7Error::Ok;
}

EPkcs7Error CPkcs7Writer::Begin(const uint8_t* pCert, size_t nCert, const std::string& strDigestOid,
                                const uint8_t* pSigningTime, size_t nSigningTime)
{
    if (m_state != STATE_IDLE)
        return EPkcs7Error::BadState;
    if (!CAsn1Oid::Encode(strDigestOid, m_digestOid))
        return EPkcs7Error::Unsupported;
    m_pDigest = m_crypto.CreateDigest(strDigestOid);
    if (!m_pDigest)
        return EPkcs7Error::Unsupported;
    CPkcs7CertId id;
    EPkcs7Error e = id.FromCertificate(pCert, nCert);
    if (e != EPkcs7Error::Ok)
        return e;
    CBerElement time;
    if (pSigningTime == nullptr || time.ParseAll(pSigningTime, nSigningTime) != EPkcs7Error::Ok ||
        time.IsConstructed())
        return EPkcs7Error::BadEncoding;

    m_strDigestOid = strDigestOid;
    m_cert.assign(pCert, pCert + nCert);
    m_issuer = id.Issuer();
    m_serial = id.SerialElement();
    m_signingTime.assign(pSigningTime, pSigningTime + nSigningTime);
    m_state = STATE_OPEN;

    std::vector<uint8_t> out;
    CDerWriter::AppendIndefinite(out, 0x30);  // ContentInfo
    CDerWriter::Append(out, 0x06, OidContent(OID_SIGNED_DATA));
    CDerWriter::AppendIndefinite(out, 0xA0);
    CDerWriter::AppendIndefinite(out, 0x30);  // SignedData
    out.insert(out.end(), {0x02, 0x01, 0x01});
    std::vector<uint8_t> alg;
    CDerWriter::AppendAlgorithm(alg, m_digestOid);
    CDerWriter::Append(out, 0x31, alg);       // digestAlgorithms
    CDerWriter::AppendIndefinite(out, 0x30);  // contentInfo
    CDerWriter::Append(out, 0x06, OidContent(OID_DATA));
    CDerWriter::AppendIndefinite(out, 0xA0);
    CDerWriter::AppendIndefinite(out, 0x24);  // content in segments
    e = Write(out);
    return e == EPkcs7Error::Ok ? e : Fail(e);
}

EPkcs7Error CPkcs7Writer::Update(const uint8_t* pData, size_t nSize)
{
    if (m_state != STATE_OPEN)
        return EPkcs7Error::BadState;
    if (nSize == 0)
        return EPkcs7Error::Ok;
    if (!m_pDigest->Update(pData, nSize))
        return Fail(EPkcs7Error::Crypto);
    std::vector<uint8_t> header;
    CDerWriter::AppendHeader(header, 0x04, nSize);
    EPkcs7Error e = Write(header);
    if (e != EPkcs7Error::Ok)
        return Fail(e);
    m_state = STATE_FAILED;
    if (!m_output(pData, nSize))
        return EPkcs7Error::Output;
    m_state = STATE_OPEN;
    return EPkcs7Error::Ok;
}

EPkcs7Error CPkcs7Writer::Finish(const FSign& sign)
{
    if (m_state != STATE_OPEN)
        return EPkcs7Error::BadState;
    std::vector<uint8_t> digest;
    if (!m_pDigest->Final(digest))
        return Fail(EPkcs7Error::Crypto);

    std::vector<uint8_t> contentType;
    CDerWriter::Append(contentType, 0x06, OidContent(OID_DATA));
    std::vector<uint8_t> messageDigest;
    CDerWriter::Append(messageDigest, 0x04, digest);
    std::vector<std::vector<uint8_t>> attrs;
    attrs.push_back(Attribute(OID_CONTENT_TYPE, contentType));
    attrs.push_back(Attribute(OID_SIGNING_TIME, m_signingTime));
    attrs.push_back(Attribute(OID_MESSAGE_DIGEST, messageDigest));
    std::sort(attrs.begin(), attrs.end(), CDerWriter::SetOfLess);
    std::vector<uint8_t> attrBody;
    for (const std::vector<uint8_t>& a : attrs)
        CDerWriter::AppendRaw(attrBody, a);

    std::vector<uint8_t> toBeSigned;
    CDerWriter::Append(toBeSigned, 0x31, attrBody);
    std::vector<uint8_t> signature;
    m_state = STATE_FAILED;
    if (!sign || !sign(m_strDigestOid, toBeSigned.data(), toBeSigned.size(), signature) ||
        signature.empty())
        return EPkcs7Error::Crypto;
    m_state = STATE_OPEN;

    std::vector<uint8_t> si;
    si.insert(si.end(), {0x02, 0x01, 0x01});
    std::vector<uint8_t> ias(m_issuer);
    CDerWriter::AppendRaw(ias, m_serial);
    CDerWriter::Append(si, 0x30, ias);
    CDerWriter::AppendAlgorithm(si, m_digestOid);
    CDerWriter::Append(si, 0xA0, attrBody);
    CDerWriter::AppendAlgorithm(si, OidContent(OID_RSA_ENCRYPTION));
    CDerWriter::Append(si, 0x04, signature);
    std::vector<uint8_t> signerInfo;
    CDerWriter::Append(signerInfo, 0x30, si);

    std::vector<uint8_t> out;
    CDerWriter::AppendEnd(out);                 // OCTET STRING segments
    CDerWriter::AppendEnd(out);                 // [0] content
    CDerWriter::AppendEnd(out);                 // contentInfo
    CDerWriter::Append(out, 0xA0, m_cert);      // certificates
    CDerWriter::Append(out, 0x31, signerInfo);  // signerInfos
    CDerWriter::AppendEnd(out);                 // SignedData
    CDerWriter::AppendEnd(out);                 // [0]
    CDerWriter::AppendEnd(out);                 // ContentInfo
    EPkcs7Error e = Write(out);
    if (e != EPkcs7Error::Ok)
        return Fail(e);
    m_state = STATE_DONE;
    return EPkcs7Error::Ok;
}
