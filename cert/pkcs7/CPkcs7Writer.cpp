#include "cert/pkcs7/CPkcs7Writer.h"

#include <algorithm>

#include "asn1/Asn1Oids.h"
#include "asn1/Asn1Tags.h"
#include "asn1/CAsn1Oid.h"
#include "asn1/CAsn1Util.h"
#include "asn1/CBerElement.h"
#include "asn1/CDerWriter.h"
#include "cert/pkcs7/CPkcs7CertId.h"

namespace {

std::vector<uint8_t> Attribute(const char* oid, const std::vector<uint8_t>& value)
{
    std::vector<uint8_t> body;
    CAsn1Util::AppendOid(body, oid);
    CDerWriter::Append(body, Asn1Tag::kSet, value);
    std::vector<uint8_t> attr;
    CDerWriter::Append(attr, Asn1Tag::kSequence, body);
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
    Bytes digestOid;
    if (!CAsn1Oid::Encode(strDigestOid, digestOid))
        return EPkcs7Error::Unsupported;
    m_pDigest = m_crypto.CreateDigest(strDigestOid);
    if (!m_pDigest)
        return EPkcs7Error::Unsupported;
    CPkcs7CertId id;
    EPkcs7Error e = id.FromCertificate(pCert, nCert);
    if (e != EPkcs7Error::Ok)
        return e;
    CBerElement time;
    if (pSigningTime == nullptr || time.ParseAll(pSigningTime, nSigningTime) != EAsn1Error::Ok ||
        time.IsConstructed())
        return EPkcs7Error::BadEncoding;

    m_strDigestOid = strDigestOid;
    m_cert.assign(pCert, pCert + nCert);
    m_issuer = id.Issuer();
    m_serial = id.SerialElement();
    m_signingTime.assign(pSigningTime, pSigningTime + nSigningTime);
    m_state = STATE_OPEN;

    std::vector<uint8_t> out;
    CDerWriter::AppendIndefinite(out, Asn1Tag::kSequence);  // ContentInfo
    CAsn1Util::AppendOid(out, Asn1Oids::kSignedData);
    CDerWriter::AppendIndefinite(out, Asn1Tag::ContextConstructed(0));
    CDerWriter::AppendIndefinite(out, Asn1Tag::kSequence);  // SignedData
    out.insert(out.end(), {Asn1Tag::kInteger, 0x01, 0x01});
    std::vector<uint8_t> alg;
    CAsn1Util::AppendAlgorithm(alg, m_strDigestOid.c_str());
    CDerWriter::Append(out, Asn1Tag::kSet, alg);            // digestAlgorithms
    CDerWriter::AppendIndefinite(out, Asn1Tag::kSequence);  // contentInfo
    CAsn1Util::AppendOid(out, Asn1Oids::kData);
    CDerWriter::AppendIndefinite(out, Asn1Tag::ContextConstructed(0));
    CDerWriter::AppendIndefinite(out, Asn1Tag::kOctetStringConstructed);  // content in segments
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
    CDerWriter::AppendHeader(header, Asn1Tag::kOctetString, nSize);
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
    CAsn1Util::AppendOid(contentType, Asn1Oids::kData);
    std::vector<uint8_t> messageDigest;
    CDerWriter::Append(messageDigest, Asn1Tag::kOctetString, digest);
    std::vector<std::vector<uint8_t>> attrs;
    attrs.push_back(Attribute(Asn1Oids::kContentType, contentType));
    attrs.push_back(Attribute(Asn1Oids::kSigningTime, m_signingTime));
    attrs.push_back(Attribute(Asn1Oids::kMessageDigest, messageDigest));
    std::sort(attrs.begin(), attrs.end(), CDerWriter::SetOfLess);
    std::vector<uint8_t> attrBody;
    for (const std::vector<uint8_t>& a : attrs)
        CDerWriter::AppendRaw(attrBody, a);

    std::vector<uint8_t> toBeSigned;
    CDerWriter::Append(toBeSigned, Asn1Tag::kSet, attrBody);
    std::vector<uint8_t> signature;
    m_state = STATE_FAILED;
    if (!sign || !sign(m_strDigestOid, toBeSigned.data(), toBeSigned.size(), signature) ||
        signature.empty())
        return EPkcs7Error::Crypto;
    m_state = STATE_OPEN;

    std::vector<uint8_t> si;
    si.insert(si.end(), {Asn1Tag::kInteger, 0x01, 0x01});
    std::vector<uint8_t> ias(m_issuer);
    CDerWriter::AppendRaw(ias, m_serial);
    CDerWriter::Append(si, Asn1Tag::kSequence, ias);
    CAsn1Util::AppendAlgorithm(si, m_strDigestOid.c_str());
    CDerWriter::Append(si, Asn1Tag::ContextConstructed(0), attrBody);
    CAsn1Util::AppendAlgorithm(si, Asn1Oids::kRsaEncryption);
    CDerWriter::Append(si, Asn1Tag::kOctetString, signature);
    std::vector<uint8_t> signerInfo;
    CDerWriter::Append(signerInfo, Asn1Tag::kSequence, si);

    std::vector<uint8_t> out;
    CDerWriter::AppendEnd(out);                 // OCTET STRING segments
    CDerWriter::AppendEnd(out);                 // [0] content
    CDerWriter::AppendEnd(out);                 // contentInfo
    CDerWriter::Append(out, Asn1Tag::ContextConstructed(0), m_cert);  // certificates
    CDerWriter::Append(out, Asn1Tag::kSet, signerInfo);               // signerInfos
    CDerWriter::AppendEnd(out);                 // SignedData
    CDerWriter::AppendEnd(out);                 // [0]
    CDerWriter::AppendEnd(out);                 // ContentInfo
    EPkcs7Error e = Write(out);
    if (e != EPkcs7Error::Ok)
        return Fail(e);
    m_state = STATE_DONE;
    return EPkcs7Error::Ok;
}
