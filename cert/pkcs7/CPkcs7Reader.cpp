#include "cert/pkcs7/CPkcs7Reader.h"

#include <algorithm>

#include "asn1/Asn1Oids.h"
#include "asn1/Asn1Tags.h"
#include "asn1/CAsn1Oid.h"
#include "asn1/CBerElement.h"
#include "cert/pkcs7/CPkcs7CertId.h"

namespace {

const size_t MAX_SMALL_CAPTURE = 256;  // OIDs and the version
const size_t MAX_DIGEST_ALGS_SIZE = 4096;

}  // namespace

CPkcs7Reader::CPkcs7Reader(CPkcs7Crypto& crypto, FContent content)
    : m_crypto(crypto),
      m_content(std::move(content)),
      m_ber(*this),
      m_state(STATE_OPEN),
      m_error(EPkcs7Error::Ok),
      m_nSignedDataStage(0),
      m_bSignedDataSeen(false),
      m_nCaptureLimit(0),
      m_nMetadata(0),
      m_nContentSize(0)
{
    m_nodes.reserve(CBerReader::MAX_DEPTH);
}

EPkcs7Error CPkcs7Reader::Update(const uint8_t* pData, size_t nSize)
{
    if (m_state != STATE_OPEN)
        return m_state == STATE_FAILED ? m_error : EPkcs7Error::BadState;
    m_state = STATE_FAILED;  // stays so if a callback throws
    m_error = EPkcs7Error::BadState;
    EPkcs7Error e = m_ber.Feed(pData, nSize);
    if (e == EPkcs7Error::Ok)
        m_state = STATE_OPEN;
    m_error = e;
    return e;
}

EPkcs7Error CPkcs7Reader::Finish()
{
    EPkcs7Error e = Update(nullptr, 0);
    if (e != EPkcs7Error::Ok)
        return e;
    e = m_ber.Finish();
    if (e == EPkcs7Error::Ok && !m_bSignedDataSeen)
        e = EPkcs7Error::BadEncoding;
    if (e != EPkcs7Error::Ok) {
        m_state = STATE_FAILED;
        m_error = e;
        return e;
    }
    for (CS_DIGEST& d : m_digests) {
        if (d.pDigest && !d.pDigest->Final(d.value)) {
            m_state = STATE_FAILED;
            m_error = EPkcs7Error::Crypto;
            return m_error;
        }
        d.bDone = d.pDigest != nullptr;
    }
    m_state = STATE_FINISHED;
    return EPkcs7Error::Ok;
}

bool CPkcs7Reader::IsCaptureRoot(ERole role)
{
    return role == R_OUTER_TYPE || role == R_VERSION || role == R_DIGEST_ALGS ||
           role == R_INNER_TYPE || role == R_CERT || role == R_SIGNER;
}

EPkcs7Error CPkcs7Reader::ChildRole(CS_NODE& parent, const CS_BERHEADER& h, ERole& role)
{
    unsigned index = parent.nChildren++;
    switch (parent.role) {
        case R_CONTENT_INFO:
            if (index == 0) {
                if (h.nTag != Asn1Tag::kOid)
                    return EPkcs7Error::NotPkcs7;
                role = R_OUTER_TYPE;
            } else if (index == 1 && h.nTag == Asn1Tag::ContextConstructed(0)) {
                role = R_OUTER_CONTENT;
            } else {
                return EPkcs7Error::BadEncoding;
            }
            return EPkcs7Error::Ok;
        case R_OUTER_CONTENT:
            if (index != 0 || h.nTag != Asn1Tag::kSequence)
                return EPkcs7Error::BadEncoding;
            role = R_SIGNED_DATA;
            return EPkcs7Error::Ok;
        case R_SIGNED_DATA:
            if (m_nSignedDataStage == 0 && h.nTag == Asn1Tag::kInteger) {
                role = R_VERSION;
                m_nSignedDataStage = 1;
            } else if (m_nSignedDataStage == 1 && h.nTag == Asn1Tag::kSet) {
                role = R_DIGEST_ALGS;
                m_nSignedDataStage = 2;
            } else if (m_nSignedDataStage == 2 && h.nTag == Asn1Tag::kSequence) {
                role = R_INNER_INFO;
                m_nSignedDataStage = 3;
            } else if (m_nSignedDataStage == 3 && h.nTag == Asn1Tag::ContextConstructed(0)) {
                role = R_CERTS;
                m_nSignedDataStage = 4;
            } else if (m_nSignedDataStage >= 3 && m_nSignedDataStage <= 4 &&
                       h.nTag == Asn1Tag::ContextConstructed(1)) {
                role = R_CRLS;
                m_nSignedDataStage = 5;
            } else if (m_nSignedDataStage >= 3 && m_nSignedDataStage <= 5 &&
                       h.nTag == Asn1Tag::kSet) {
                role = R_SIGNERS;
                m_nSignedDataStage = 6;
            } else {
                return EPkcs7Error::BadEncoding;
            }
            return EPkcs7Error::Ok;
        case R_INNER_INFO:
            if (index == 0 && h.nTag == Asn1Tag::kOid)
                role = R_INNER_TYPE;
            else if (index == 1 && h.nTag == Asn1Tag::ContextConstructed(0))
                role = R_INNER_CONTENT;
            else
                return EPkcs7Error::BadEncoding;
            return EPkcs7Error::Ok;
        case R_INNER_CONTENT:
            if (index != 0)
                return EPkcs7Error::BadEncoding;
            if (h.nTag != Asn1Tag::kOctetString && h.nTag != Asn1Tag::kOctetStringConstructed)
                return EPkcs7Error::Unsupported;  // content that is not an OCTET STRING
            role = R_OCTETS;
            return EPkcs7Error::Ok;
        case R_OCTETS:
            if (h.nTag != Asn1Tag::kOctetString && h.nTag != Asn1Tag::kOctetStringConstructed)
                return EPkcs7Error::BadEncoding;
            role = R_OCTETS;
            return EPkcs7Error::Ok;
        case R_CERTS:
            if (h.nTag != Asn1Tag::kSequence) {
                role = R_SKIPPED;  // other certificate formats are of no use here
                return EPkcs7Error::Ok;
            }
            if (m_certs.size() >= MAX_CERTS)
                return EPkcs7Error::LimitExceeded;
            role = R_CERT;
            return EPkcs7Error::Ok;
        case R_SIGNERS:
            if (h.nTag != Asn1Tag::kSequence)
                return EPkcs7Error::BadEncoding;
            if (m_signers.size() >= MAX_SIGNERS)
                return EPkcs7Error::LimitExceeded;
            role = R_SIGNER;
            return EPkcs7Error::Ok;
        case R_CRLS:
        case R_SKIPPED:
            role = R_SKIPPED;
            return EPkcs7Error::Ok;
        default:
            // Inside a kept element.
            role = R_CAPTURED;
            return EPkcs7Error::Ok;
    }
}

EPkcs7Error CPkcs7Reader::StartCapture(const CS_BERHEADER& h, size_t nLimit)
{
    if (!h.bIndefinite) {
        // Refuse oversized elements before any byte of them is stored.
        uint64_t need = static_cast<uint64_t>(h.nRawSize) + h.nLength;
        if (need > nLimit || need > MAX_METADATA - m_nMetadata)
            return EPkcs7Error::LimitExceeded;
    }
    m_capture.clear();
    m_nCaptureLimit = nLimit;
    return Capture(h.raw, h.nRawSize);
}

EPkcs7Error CPkcs7Reader::Capture(const uint8_t* pData, size_t nSize)
{
    if (nSize > m_nCaptureLimit - m_capture.size() || nSize > MAX_METADATA - m_nMetadata)
        return EPkcs7Error::LimitExceeded;
    m_capture.insert(m_capture.end(), pData, pData + nSize);
    m_nMetadata += nSize;
    return EPkcs7Error::Ok;
}

EPkcs7Error CPkcs7Reader::OnBegin(const CS_BERHEADER& h)
{
    CS_NODE node;
    node.bIndefinite = h.bIndefinite;
    node.nChildren = 0;
    if (m_nodes.empty()) {
        if (h.nTag != Asn1Tag::kSequence)
            return EPkcs7Error::NotPkcs7;
        node.role = R_CONTENT_INFO;
        m_nodes.push_back(node);
        return EPkcs7Error::Ok;
    }
    EPkcs7Error e = ChildRole(m_nodes.back(), h, node.role);
    if (e != EPkcs7Error::Ok)
        return e;
    switch (node.role) {
        case R_OUTER_TYPE:
        case R_INNER_TYPE:
        case R_VERSION:
            e = StartCapture(h, MAX_SMALL_CAPTURE);
            break;
        case R_DIGEST_ALGS:
            e = StartCapture(h, MAX_DIGEST_ALGS_SIZE);
            break;
        case R_CERT:
            e = StartCapture(h, MAX_CERT_SIZE);
            break;
        case R_SIGNER:
            e = StartCapture(h, MAX_SIGNER_SIZE);
            break;
        case R_CAPTURED:
            e = Capture(h.raw, h.nRawSize);
            break;
        default:
            break;
    }
    if (e != EPkcs7Error::Ok)
        return e;
    m_nodes.push_back(node);
    return EPkcs7Error::Ok;
}

EPkcs7Error CPkcs7Reader::OnData(const uint8_t* pData, size_t nSize)
{
    ERole role = m_nodes.back().role;
    if (role == R_OCTETS)
        return Content(pData, nSize);
    if (role == R_CAPTURED || IsCaptureRoot(role))
        return Capture(pData, nSize);
    return EPkcs7Error::Ok;
}

EPkcs7Error CPkcs7Reader::Content(const uint8_t* pData, size_t nSize)
{
    for (CS_DIGEST& d : m_digests)
        if (d.pDigest && !d.pDigest->Update(pData, nSize))
            return EPkcs7Error::Crypto;
    m_nContentSize += nSize;
    if (m_content && !m_content(pData, nSize))
        return EPkcs7Error::Output;
    return EPkcs7Error::Ok;
}

EPkcs7Error CPkcs7Reader::OnEnd(const uint8_t* pEndMark, size_t nEndMark)
{
    CS_NODE node = m_nodes.back();
    m_nodes.pop_back();
    EPkcs7Error e = EPkcs7Error::Ok;
    if (node.role == R_CAPTURED || IsCaptureRoot(node.role)) {
        // What is kept, and later hashed, is what arrived.
        if (nEndMark > 0)
            e = Capture(pEndMark, nEndMark);
        if (e == EPkcs7Error::Ok && IsCaptureRoot(node.role))
            e = EndCapture(node.role);
        return e;
    }
    switch (node.role) {
        case R_SIGNED_DATA:
            if (m_nSignedDataStage != 6)
                return EPkcs7Error::BadEncoding;  // no signerInfos
            m_bSignedDataSeen = true;
            break;
        case R_INNER_INFO:
            if (node.nChildren < 1)
                return EPkcs7Error::BadEncoding;
            if (node.nChildren < 2)
                return EPkcs7Error::Detached;  // the checker has nothing to check against
            break;
        case R_CONTENT_INFO:
            if (!m_bSignedDataSeen)
                return EPkcs7Error::BadEncoding;
            break;
        case R_OUTER_CONTENT:
        case R_INNER_CONTENT:
            if (node.nChildren != 1)
                return EPkcs7Error::BadEncoding;
            break;
        default:
            break;
    }
    return EPkcs7Error::Ok;
}

EPkcs7Error CPkcs7Reader::EndCapture(ERole role)
{
    CBerElement el;
    EPkcs7Error e = Pkcs7ErrorOf(el.ParseAll(m_capture.data(), m_capture.size()));
    if (e != EPkcs7Error::Ok)
        return e == EPkcs7Error::Truncated ? EPkcs7Error::BadEncoding : e;
    switch (role) {
        case R_OUTER_TYPE: {
            std::string oid = CAsn1Oid::Decode(el.Content(), el.ContentSize());
            if (oid.empty())
                return EPkcs7Error::NotPkcs7;
            if (oid != Asn1Oids::kSignedData)
                return EPkcs7Error::NotSignedData;
            break;
        }
        case R_INNER_TYPE:
            m_strContentType = CAsn1Oid::Decode(el.Content(), el.ContentSize());
            if (m_strContentType.empty())
                return EPkcs7Error::BadEncoding;
            // Nothing is signed here but data: other content is refused before a
            // byte of it reaches the output.
            if (m_strContentType != Asn1Oids::kData)
                return EPkcs7Error::NotData;
            break;
        case R_DIGEST_ALGS: {
            std::vector<CBerElement> algs;
            if (el.Children(algs) != EAsn1Error::Ok)
                return EPkcs7Error::BadEncoding;
            if (algs.size() > MAX_DIGEST_ALGS)
                return EPkcs7Error::LimitExceeded;
            for (const CBerElement& alg : algs) {
                std::vector<CBerElement> parts;
                if (alg.Tag() != Asn1Tag::kSequence || alg.Children(parts) != EAsn1Error::Ok ||
                    parts.empty() || parts[0].Tag() != Asn1Tag::kOid)
                    return EPkcs7Error::BadEncoding;
                std::string oid = CAsn1Oid::Decode(parts[0].Content(), parts[0].ContentSize());
                if (oid.empty())
                    return EPkcs7Error::BadEncoding;
                bool known = false;
                for (const CS_DIGEST& d : m_digests)
                    known = known || d.strOid == oid;
                if (known)
                    continue;
                CS_DIGEST d;
                d.strOid = oid;
                d.pDigest = m_crypto.CreateDigest(oid);
                d.bDone = false;
                m_digests.push_back(std::move(d));
            }
            break;
        }
        case R_CERT:
            m_certs.push_back(m_capture);
            break;
        case R_SIGNER: {
            CPkcs7SignerInfo si;
            e = si.Parse(m_capture.data(), m_capture.size());
            if (e != EPkcs7Error::Ok)
                return e;
            m_signers.push_back(si);
            break;
        }
        default:
            break;
    }
    m_capture.clear();
    return EPkcs7Error::Ok;
}

std::vector<std::string> CPkcs7Reader::DigestAlgorithms() const
{
    std::vector<std::string> oids;
    for (const CS_DIGEST& d : m_digests)
        oids.push_back(d.strOid);
    return oids;
}

const std::vector<uint8_t>* CPkcs7Reader::ContentDigest(const std::string& strDigestOid) const
{
    for (const CS_DIGEST& d : m_digests)
        if (d.strOid == strDigestOid && d.bDone)
            return &d.value;
    return nullptr;
}

const std::vector<uint8_t>& CPkcs7Reader::Certificate(size_t nIndex) const
{
    static const std::vector<uint8_t> none;
    return nIndex < m_certs.size() ? m_certs[nIndex] : none;
}

const CPkcs7SignerInfo& CPkcs7Reader::Signer(size_t nIndex) const
{
    static const CPkcs7SignerInfo none;
    return nIndex < m_signers.size() ? m_signers[nIndex] : none;
}

EPkcs7Error CPkcs7Reader::FindSignerCertificate(size_t nSigner, size_t& nCert) const
{
    if (nSigner >= m_signers.size())
        return EPkcs7Error::BadIndex;
    const CPkcs7SignerInfo& si = m_signers[nSigner];
    bool bFound = false;
    for (size_t i = 0; i < m_certs.size(); ++i) {
        CPkcs7CertId id;
        if (id.FromCertificate(m_certs[i].data(), m_certs[i].size()) != EPkcs7Error::Ok ||
            !id.Matches(si.Issuer(), si.Serial()))
            continue;
        if (!bFound) {
            nCert = i;
            bFound = true;
        } else if (m_certs[i] != m_certs[nCert]) {
            // Which key signed would then depend on the order of the certificates.
            return EPkcs7Error::AmbiguousSigner;
        }
    }
    return bFound ? EPkcs7Error::Ok : EPkcs7Error::SignerNotFound;
}

EPkcs7Error CPkcs7Reader::CheckSignatureAlgorithm(const std::string& strSignatureOid,
                                                  const std::string& strDigestOid)
{
    if (strSignatureOid == Asn1Oids::kRsaEncryption)
        return EPkcs7Error::Ok;
    // The hash-with-RSA identifiers, each with the digest it names.
    static const struct {
        const char* pszSignature;
        const char* pszDigest;
    } kRsa[] = {{Asn1Oids::kMd2WithRsa, Asn1Oids::kMd2},
                {Asn1Oids::kMd5WithRsa, Asn1Oids::kMd5},
                {Asn1Oids::kSha1WithRsa, Asn1Oids::kSha1},
                {Asn1Oids::kSha256WithRsa, Asn1Oids::kSha256},
                {Asn1Oids::kSha384WithRsa, Asn1Oids::kSha384},
                {Asn1Oids::kSha512WithRsa, Asn1Oids::kSha512},
                {Asn1Oids::kSha224WithRsa, Asn1Oids::kSha224}};
    for (const auto& k : kRsa) {
        if (strSignatureOid == k.pszSignature)
            return strDigestOid == k.pszDigest ? EPkcs7Error::Ok : EPkcs7Error::AlgorithmMismatch;
    }
    return EPkcs7Error::UnsupportedSignature;
}

EPkcs7Error CPkcs7Reader::CheckAttributes(const CPkcs7SignerInfo& si,
                                          const std::vector<uint8_t>& contentDigest) const
{
    const CPkcs7SignerInfo::CS_ATTRIBUTE* md = nullptr;
    for (const CPkcs7SignerInfo::CS_ATTRIBUTE& a : si.AuthAttributes()) {
        if (a.strOid == Asn1Oids::kMessageDigest) {
            // One value only: with two, which one was meant is anyone's guess.
            if (md || a.values.size() != 1)
                return EPkcs7Error::AmbiguousDigest;
            md = &a;
        } else if (a.strOid == Asn1Oids::kContentType) {
            // Outside the signature but named by an attribute: every value must agree.
            CBerElement value;
            if (a.values.size() != 1 ||
                value.ParseAll(a.values[0].data(), a.values[0].size()) != EAsn1Error::Ok ||
                value.Tag() != Asn1Tag::kOid ||
                CAsn1Oid::Decode(value.Content(), value.ContentSize()) != m_strContentType)
                return EPkcs7Error::ContentTypeMismatch;
        }
    }
    if (!md)
        return EPkcs7Error::MissingDigest;
    CBerElement value;
    if (value.ParseAll(md->values[0].data(), md->values[0].size()) != EAsn1Error::Ok ||
        value.Tag() != Asn1Tag::kOctetString || value.ContentSize() != contentDigest.size() ||
        !std::equal(contentDigest.begin(), contentDigest.end(), value.Content()))
        return EPkcs7Error::HashMismatch;
    return EPkcs7Error::Ok;
}

EPkcs7Error CPkcs7Reader::Verify(size_t nSigner, const uint8_t* pCert, size_t nCert) const
{
    if (m_state != STATE_FINISHED)
        return EPkcs7Error::BadState;
    if (nSigner >= m_signers.size())
        return EPkcs7Error::BadIndex;
    const CPkcs7SignerInfo& si = m_signers[nSigner];
    CPkcs7CertId id;
    EPkcs7Error e = id.FromCertificate(pCert, nCert);
    if (e != EPkcs7Error::Ok)
        return e;
    if (!id.Matches(si.Issuer(), si.Serial()))
        return EPkcs7Error::SignerMismatch;
    e = CheckSignatureAlgorithm(si.SignatureOid(), si.DigestOid());
    if (e != EPkcs7Error::Ok)
        return e;
    const std::vector<std::string> announced = DigestAlgorithms();
    if (std::find(announced.begin(), announced.end(), si.DigestOid()) == announced.end())
        return EPkcs7Error::DigestNotAnnounced;
    const std::vector<uint8_t>* contentDigest = ContentDigest(si.DigestOid());
    if (!contentDigest)
        return EPkcs7Error::Unsupported;

    std::vector<uint8_t> signedDigest;
    if (si.HasAuthAttributes()) {
        e = CheckAttributes(si, *contentDigest);
        if (e != EPkcs7Error::Ok)
            return e;
        // The signature covers the attributes encoded as a SET.
        std::vector<uint8_t> toBeSigned(si.AuthAttributesRaw());
        toBeSigned[0] = Asn1Tag::kSet;
        std::unique_ptr<CPkcs7Digest> digest = m_crypto.CreateDigest(si.DigestOid());
        if (!digest)
            return EPkcs7Error::Unsupported;
        if (!digest->Update(toBeSigned.data(), toBeSigned.size()) || !digest->Final(signedDigest))
            return EPkcs7Error::Crypto;
    } else {
        signedDigest = *contentDigest;
    }
    const std::vector<uint8_t>& sig = si.Signature();
    if (!m_crypto.VerifyDigestSignature(pCert, nCert, si.DigestOid(), signedDigest.data(),
                                        signedDigest.size(), sig.data(), sig.size()))
        return EPkcs7Error::BadSignature;
    return EPkcs7Error::Ok;
}
