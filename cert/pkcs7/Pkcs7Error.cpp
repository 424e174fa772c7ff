#include "cert/pkcs7/Pkcs7Error.h"

const char* Pkcs7ErrorText(EPkcs7Error e)
{
    switch (e) {
        case EPkcs7Error::Ok:
            return "ok";
        case EPkcs7Error::NotPkcs7:
            return "not a PKCS#7 message";
        case EPkcs7Error::NotSignedData:
            return "not a PKCS#7 signed-data message";
        case EPkcs7Error::Truncated:
            return "message truncated";
        case EPkcs7Error::BadEncoding:
            return "bad encoding";
        case EPkcs7Error::LimitExceeded:
            return "size limit exceeded";
        case EPkcs7Error::Unsupported:
            return "unsupported algorithm or form";
        case EPkcs7Error::BadState:
            return "operation out of order";
        case EPkcs7Error::Output:
            return "output callback failed";
        case EPkcs7Error::Crypto:
            return "crypto provider failed";
        case EPkcs7Error::BadIndex:
            return "index out of range";
        case EPkcs7Error::SignerMismatch:
            return "certificate does not match the signer";
        case EPkcs7Error::MissingDigest:
            return "messageDigest attribute missing";
        case EPkcs7Error::HashMismatch:
            return "content digest mismatch";
        case EPkcs7Error::BadSignature:
            return "bad signature";
        case EPkcs7Error::NotData:
            return "signed content is not data";
        case EPkcs7Error::Detached:
            return "signed content missing";
        case EPkcs7Error::SignerNotFound:
            return "signer certificate missing";
        case EPkcs7Error::AmbiguousSigner:
            return "several certificates name the signer";
        case EPkcs7Error::AmbiguousDigest:
            return "messageDigest attribute not unique";
        case EPkcs7Error::ContentTypeMismatch:
            return "contentType attribute mismatch";
        case EPkcs7Error::DigestNotAnnounced:
            return "digest algorithm not announced";
        case EPkcs7Error::AlgorithmMismatch:
            return "signature and digest algorithms disagree";
        case EPkcs7Error::UnsupportedSignature:
            return "unsupported signature algorithm";
    }
    return "unknown error";
}

uint32_t Pkcs7ErrorToWinError(EPkcs7Error e)
{
    switch (e) {
        case EPkcs7Error::Ok:
            return 0;
        case EPkcs7Error::NotPkcs7:
            return 0x8009310Bu;  // CRYPT_E_ASN1_BADTAG
        case EPkcs7Error::NotSignedData:
            return 0x80091004u;  // CRYPT_E_INVALID_MSG_TYPE
        case EPkcs7Error::Truncated:
            return 0x80091001u;  // CRYPT_E_MSG_ERROR
        case EPkcs7Error::BadEncoding:
            return 0x8009310Bu;  // CRYPT_E_ASN1_BADTAG
        case EPkcs7Error::LimitExceeded:
            return 0x80091001u;  // CRYPT_E_MSG_ERROR
        case EPkcs7Error::Unsupported:
            return 0x80091002u;  // CRYPT_E_UNKNOWN_ALGO
        case EPkcs7Error::BadState:
            return 0x80091001u;  // CRYPT_E_MSG_ERROR
        case EPkcs7Error::Output:
            return 0x80091001u;  // CRYPT_E_MSG_ERROR
        case EPkcs7Error::Crypto:
            return 0x80090020u;  // NTE_FAIL
        case EPkcs7Error::BadIndex:
            return 0x80091008u;  // CRYPT_E_INVALID_INDEX
        case EPkcs7Error::SignerMismatch:
            return 0x8009100Eu;  // CRYPT_E_SIGNER_NOT_FOUND
        case EPkcs7Error::MissingDigest:
            return 0x80091006u;  // CRYPT_E_AUTH_ATTR_MISSING
        case EPkcs7Error::HashMismatch:
            return 0x80091007u;  // CRYPT_E_HASH_VALUE
        case EPkcs7Error::BadSignature:
            return 0x80090006u;  // NTE_BAD_SIGNATURE
        case EPkcs7Error::NotData:
            return 0x80091004u;  // CRYPT_E_INVALID_MSG_TYPE
        case EPkcs7Error::SignerNotFound:
            return 0x8009100Eu;  // CRYPT_E_SIGNER_NOT_FOUND
        case EPkcs7Error::Detached:
        case EPkcs7Error::AmbiguousSigner:
        case EPkcs7Error::AmbiguousDigest:
        case EPkcs7Error::ContentTypeMismatch:
        case EPkcs7Error::DigestNotAnnounced:
        case EPkcs7Error::AlgorithmMismatch:
        case EPkcs7Error::UnsupportedSignature:
            return 0x80091001u;  // CRYPT_E_MSG_ERROR: a message that is not signed as it must be
    }
    return 0x80091001u;
}

EPkcs7Error Pkcs7ErrorOf(EAsn1Error e)
{
    switch (e) {
        case EAsn1Error::Ok:
            return EPkcs7Error::Ok;
        case EAsn1Error::Truncated:
            return EPkcs7Error::Truncated;
        case EAsn1Error::BadEncoding:
            return EPkcs7Error::BadEncoding;
        case EAsn1Error::LimitExceeded:
            return EPkcs7Error::LimitExceeded;
        case EAsn1Error::Unsupported:
            return EPkcs7Error::Unsupported;
    }
    return EPkcs7Error::BadEncoding;
}
