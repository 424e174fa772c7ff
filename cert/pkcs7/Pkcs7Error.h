// Result of the PKCS#7 codec operations, and the CryptoAPI-like error number
// a caller can report for each.
#pragma once

#include <cstdint>

#include "asn1/Asn1Error.h"

enum class EPkcs7Error : int {
    Ok = 0,
    NotPkcs7,             // the data does not start like a PKCS#7 ContentInfo
    NotSignedData,        // a ContentInfo of another type
    Truncated,            // the input ended before the message was complete
    BadEncoding,          // malformed BER or an element out of place
    LimitExceeded,        // a size, count or nesting bound was hit
    Unsupported,          // unknown digest or signature algorithm, unsupported form
    BadState,             // operation called in the wrong order or after a failure
    Output,               // the output or content callback refused the bytes
    Crypto,               // the crypto provider failed (digest or signature creation)
    BadIndex,             // signer or certificate index out of range
    SignerMismatch,       // the certificate is not the one named by the signer
    MissingDigest,        // authenticated attributes without a messageDigest
    HashMismatch,         // messageDigest differs from the content's digest
    BadSignature,         // the RSA signature does not verify
    NotData,              // the signed content is not of type data
    Detached,             // the message does not carry the signed content
    SignerNotFound,       // no certificate of the message names the signer
    AmbiguousSigner,      // different certificates carry the signer's issuer and serial
    AmbiguousDigest,      // messageDigest repeated or with several values
    ContentTypeMismatch,  // contentType attribute differs from the content's type
    DigestNotAnnounced,   // the signer's digest is not among the message's digests
    AlgorithmMismatch,    // the signature algorithm names another hash than the digest
    UnsupportedSignature  // a signature algorithm other than RSA
};

// The codec's error for a failure of the BER element view.
EPkcs7Error Pkcs7ErrorOf(EAsn1Error e);

// Short English text for logs.
const char* Pkcs7ErrorText(EPkcs7Error e);

// Suggested Windows error number (HRESULT-style) for an error; 0 for Ok.
uint32_t Pkcs7ErrorToWinError(EPkcs7Error e);
