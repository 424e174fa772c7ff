#include "cert/pkcs7/CPkcs7SignerInfo.h"

#include "asn1/Asn1Oids.h"
#include "asn1/Asn1Tags.h"
#include "asn1/CAsn1Oid.h"
#include "asn1/CBerElement.h"

namespace {

// AlgorithmIdentifier: OID and optional parameters.
EPkcs7Error ParseAlgorithm(const CBerElement& alg, std::string& oid, std::vector<uint8_t>* params)
{
    std::vector<CBerElement> parts;
    if (alg.Tag() != Asn1Tag::kSequence || alg.Children(parts) != EAsn1Error::Ok || parts.empty() ||
        parts.size() > 2 || parts[0].Tag() != Asn1Tag::kOid)
        return EPkcs7Error::BadEncoding;
    oid = CAsn1Oid::Decode(parts[0].Content(), parts[0].ContentSize());
    if (oid.empty())
        return EPkcs7Error::BadEncoding;
    if (params) {
        params->clear();
        if (parts.size() == 2)
            *params = parts[1].Bytes();
    }
    return EPkcs7Error::Ok;
}

}  // namespace

EPkcs7Error CPkcs7SignerInfo::Parse(const uint8_t* pData, size_t nSize)
{
    CBerElement si;
    EPkcs7Error e = Pkcs7ErrorOf(si.ParseAll(pData, nSize));
    if (e != EPkcs7Error::Ok)
        return e == EPkcs7Error::Truncated ? EPkcs7Error::BadEncoding : e;
    std::vector<CBerElement> parts;
    if (si.Tag() != Asn1Tag::kSequence || si.Children(parts) != EAsn1Error::Ok || parts.size() < 5)
        return EPkcs7Error::BadEncoding;

    size_t i = 0;
    const CBerElement& version = parts[i++];
    if (version.Tag() != Asn1Tag::kInteger || version.ContentSize() != 1)
        return EPkcs7Error::BadEncoding;
    m_nVersion = version.Content()[0];

    const CBerElement& sid = parts[i++];
    if (sid.Tag() != Asn1Tag::kSequence)
        return EPkcs7Error::Unsupported;  // subjectKeyIdentifier form
    std::vector<CBerElement> ias;
    if (sid.Children(ias) != EAsn1Error::Ok || ias.size() != 2 ||
        ias[0].Tag() != Asn1Tag::kSequence || ias[1].Tag() != Asn1Tag::kInteger)
        return EPkcs7Error::BadEncoding;
    m_issuer = ias[0].Bytes();
    m_serial.assign(ias[1].Content(), ias[1].Content() + ias[1].ContentSize());

    if (ParseAlgorithm(parts[i++], m_strDigestOid, &m_digestParams) != EPkcs7Error::Ok)
        return EPkcs7Error::BadEncoding;

    m_bHasAuthAttributes = false;
    m_auth.clear();
    m_authRaw.clear();
    if (parts[i].Tag() == Asn1Tag::ContextConstructed(0)) {
        const CBerElement& attrs = parts[i++];
        if (attrs.Size() > MAX_ATTRIBUTES_SIZE)
            return EPkcs7Error::LimitExceeded;
        m_bHasAuthAttributes = true;
        m_authRaw = attrs.Bytes();
        std::vector<CBerElement> list;
        if (attrs.Children(list) != EAsn1Error::Ok)
            return EPkcs7Error::BadEncoding;
        for (const CBerElement& attr : list) {
            std::vector<CBerElement> av;
            std::vector<CBerElement> values;
            if (attr.Tag() != Asn1Tag::kSequence || attr.Children(av) != EAsn1Error::Ok ||
                av.size() != 2 || av[0].Tag() != Asn1Tag::kOid || av[1].Tag() != Asn1Tag::kSet ||
                av[1].Children(values) != EAsn1Error::Ok)
                return EPkcs7Error::BadEncoding;
            CS_ATTRIBUTE a;
            a.strOid = CAsn1Oid::Decode(av[0].Content(), av[0].ContentSize());
            if (a.strOid.empty())
                return EPkcs7Error::BadEncoding;
            for (const CBerElement& v : values)
                a.values.push_back(v.Bytes());
            m_auth.push_back(a);
        }
    }
    if (parts.size() < i + 2)
        return EPkcs7Error::BadEncoding;
    if (ParseAlgorithm(parts[i++], m_strSignatureOid, nullptr) != EPkcs7Error::Ok)
        return EPkcs7Error::BadEncoding;
    m_signature.clear();
    if (parts[i++].OctetString(m_signature) != EAsn1Error::Ok)
        return EPkcs7Error::BadEncoding;
    if (i < parts.size() && parts[i].Tag() == Asn1Tag::ContextConstructed(1))
        ++i;  // unauthenticated attributes are not used
    if (i != parts.size())
        return EPkcs7Error::BadEncoding;
    return EPkcs7Error::Ok;
}

const CPkcs7SignerInfo::CS_ATTRIBUTE* CPkcs7SignerInfo::FindAttribute(
    const std::string& strOid) const
{
    for (const CS_ATTRIBUTE& a : m_auth)
        if (a.strOid == strOid)
            return &a;
    return nullptr;
}

std::vector<uint8_t> CPkcs7SignerInfo::SigningTime() const
{
    std::vector<uint8_t> value;
    for (const CS_ATTRIBUTE& a : m_auth)
        if (a.strOid == Asn1Oids::kSigningTime && !a.values.empty())
            value = a.values[0];
    return value;
}
