// Streaming writer of a PKCS#7 signed-data message (BER, indefinite lengths)
// with the content inside, one signer, the signer's certificate and the
// authenticated attributes contentType, signingTime and messageDigest.
//
// Use: Begin, any number of Update (one OCTET STRING segment per non-empty
// block), Finish. Output goes to the callback as it is produced. Callbacks may
// throw; the writer is then unusable (BadState).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cert/pkcs7/CPkcs7Crypto.h"
#include "cert/pkcs7/Pkcs7Error.h"

class CPkcs7Writer {
public:
    // Appends bytes to the output; false stops the writer with EPkcs7Error::Output.
    typedef std::function<bool(const uint8_t* pData, size_t nSize)> FOutput;
    // Signs pToBeSigned (the DER SET of authenticated attributes) with the signer's
    // RSA key and digest strDigestOid; the signature is returned big-endian.
    // False stops the writer with EPkcs7Error::Crypto.
    typedef std::function<bool(const std::string& strDigestOid, const uint8_t* pToBeSigned,
                               size_t nToBeSigned, std::vector<uint8_t>& signature)>
        FSign;

    CPkcs7Writer(CPkcs7Crypto& crypto, FOutput output);

    // pCert: the signer's certificate (DER). strDigestOid: dotted digest OID.
    // pSigningTime: the encoded signing-time value (UTCTime or GeneralizedTime).
    // Nothing is written when the digest is unknown or an argument is malformed.
    EPkcs7Error Begin(const uint8_t* pCert, size_t nCert, const std::string& strDigestOid,
                      const uint8_t* pSigningTime, size_t nSigningTime);
    EPkcs7Error Update(const uint8_t* pData, size_t nSize);
    EPkcs7Error Finish(const FSign& sign);

private:
    enum EState { STATE_IDLE, STATE_OPEN, STATE_DONE, STATE_FAILED };

    EPkcs7Error Write(const std::vector<uint8_t>& bytes);
    EPkcs7Error Fail(EPkcs7Error e);

    CPkcs7Crypto& m_crypto;
    FOutput m_output;
    EState m_state;
    std::unique_ptr<CPkcs7Digest> m_pDigest;
    std::string m_strDigestOid;
    std::vector<uint8_t> m_cert;
    std::vector<uint8_t> m_issuer;       // Name element
    std::vector<uint8_t> m_serial;       // INTEGER element
    std::vector<uint8_t> m_signingTime;  // time element
};
