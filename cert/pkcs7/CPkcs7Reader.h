// Streaming reader of a PKCS#7 signed-data message (BER or DER, any block
// sizes) whose content, of type data, is carried inside. The content goes to a
// callback as it arrives and is digested on the fly with every algorithm the
// message announces; certificates and signer infos are kept (bounded); CRLs
// are skipped.
//
// Use: Update for each block, Finish once; when Finish returns Ok, read the
// signers and certificates and check each signer with Verify. Callbacks may
// throw; the reader is then unusable (BadState).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cert/pkcs7/CBerHandler.h"
#include "cert/pkcs7/CBerReader.h"
#include "cert/pkcs7/CPkcs7Crypto.h"
#include "cert/pkcs7/CPkcs7SignerInfo.h"
#include "cert/pkcs7/Pkcs7Error.h"

class CPkcs7Reader : private CBerHandler {
public:
    static constexpr size_t MAX_CERT_SIZE = 64 * 1024;
    static constexpr size_t MAX_CERTS = 32;
    static constexpr size_t MAX_SIGNER_SIZE = 80 * 1024;  // attributes up to 64 KiB and the rest
    static constexpr size_t MAX_SIGNERS = 16;
    static constexpr size_t MAX_DIGEST_ALGS = 8;
    static constexpr size_t MAX_METADATA = 1024 * 1024;  // everything kept but the content

    // Receives the content; false stops the reader with EPkcs7Error::Output.
    typedef std::function<bool(const uint8_t* pData, size_t nSize)> FContent;

    CPkcs7Reader(CPkcs7Crypto& crypto, FContent content);

    // Errors are sticky.
    EPkcs7Error Update(const uint8_t* pData, size_t nSize);
    // Ok when the message was complete and well formed.
    EPkcs7Error Finish();
    bool IsFinished() const { return m_state == STATE_FINISHED; }

    const std::string& ContentTypeOid() const { return m_strContentType; }
    uint64_t ContentSize() const { return m_nContentSize; }
    std::vector<std::string> DigestAlgorithms() const;
    // Content digest for one of the announced algorithms; null when the algorithm
    // was not announced or is not supported, or before Finish.
    const std::vector<uint8_t>* ContentDigest(const std::string& strDigestOid) const;

    // An index out of range gives an empty certificate or signer.
    size_t CertificateCount() const { return m_certs.size(); }
    const std::vector<uint8_t>& Certificate(size_t nIndex) const;
    size_t SignerCount() const { return m_signers.size(); }
    const CPkcs7SignerInfo& Signer(size_t nIndex) const;

    // The message certificate whose issuer and serial number are the signer's:
    // SignerNotFound when there is none, AmbiguousSigner when different
    // certificates carry them (copies of one certificate are one certificate).
    EPkcs7Error FindSignerCertificate(size_t nSigner, size_t& nCert) const;

    // Checks signer nSigner against a certificate (DER): the certificate must be
    // the one the signer names; the signature algorithm must be rsaEncryption or
    // RSA with the signer's own digest, and that digest one the message
    // announces; with authenticated attributes exactly one messageDigest, equal
    // to the content's digest (and every contentType attribute naming data), and
    // the signature covers the attributes, else it covers the content's digest;
    // the RSA signature must verify. Only after Finish returned Ok.
    EPkcs7Error Verify(size_t nSigner, const uint8_t* pCert, size_t nCert) const;

private:
    enum EState { STATE_OPEN, STATE_FINISHED, STATE_FAILED };
    enum ERole {
        R_CONTENT_INFO,
        R_OUTER_TYPE,
        R_OUTER_CONTENT,
        R_SIGNED_DATA,
        R_VERSION,
        R_DIGEST_ALGS,
        R_INNER_INFO,
        R_INNER_TYPE,
        R_INNER_CONTENT,
        R_OCTETS,
        R_CERTS,
        R_CERT,
        R_CRLS,
        R_SIGNERS,
        R_SIGNER,
        R_CAPTURED,
        R_SKIPPED
    };
    struct CS_NODE {
        ERole role;
        bool bIndefinite;
        unsigned nChildren;
    };
    struct CS_DIGEST {
        std::string strOid;
        std::unique_ptr<CPkcs7Digest> pDigest;  // null when unsupported
        std::vector<uint8_t> value;
        bool bDone;
    };

    EPkcs7Error OnBegin(const CS_BERHEADER& header) override;
    EPkcs7Error OnData(const uint8_t* pData, size_t nSize) override;
    EPkcs7Error OnEnd(const uint8_t* pEndMark, size_t nEndMark) override;

    EPkcs7Error ChildRole(CS_NODE& parent, const CS_BERHEADER& h, ERole& role);
    EPkcs7Error StartCapture(const CS_BERHEADER& h, size_t nLimit);
    EPkcs7Error Capture(const uint8_t* pData, size_t nSize);
    EPkcs7Error EndCapture(ERole role);
    EPkcs7Error Content(const uint8_t* pData, size_t nSize);
    static bool IsCaptureRoot(ERole role);
    static EPkcs7Error CheckSignatureAlgorithm(const std::string& strSignatureOid,
                                               const std::string& strDigestOid);
    EPkcs7Error CheckAttributes(const CPkcs7SignerInfo& si,
                                const std::vector<uint8_t>& contentDigest) const;

    CPkcs7Crypto& m_crypto;
    FContent m_content;
    CBerReader m_ber;
    EState m_state;
    EPkcs7Error m_error;
    std::vector<CS_NODE> m_nodes;
    unsigned m_nSignedDataStage;
    bool m_bSignedDataSeen;
    std::vector<uint8_t> m_capture;
    size_t m_nCaptureLimit;
    size_t m_nMetadata;
    std::string m_strContentType;
    uint64_t m_nContentSize;
    std::vector<CS_DIGEST> m_digests;
    std::vector<std::vector<uint8_t>> m_certs;
    std::vector<CPkcs7SignerInfo> m_signers;
};
