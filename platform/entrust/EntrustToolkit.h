#pragma once
// The profile toolkit's return codes, their texts and the small types its calls
// share. Codes are signed 16-bit: 0 success, positive warnings (the call did
// its work), negative failures. The library maps some failures onto its own
// result codes; the others read as an unknown toolkit error there.

enum EntCode : short {
    ENT_OK = 0,
    // Warnings.
    ENT_WARN_DIRECTORY_UNAVAILABLE = 1,  // online login asked, directory did not answer
    ENT_WARN_REVOCATION_UNKNOWN = 2,     // the directory had no usable revocation list
    // Failures the library knows.
    ENT_ERR_PROFILE_OPEN = -138,         // missing, unreadable or in use by another process
    ENT_ERR_PROFILE_FORMAT = -141,       // not a profile, or a damaged one
    ENT_ERR_SIGN_ALGORITHM = -193,       // signing algorithm this toolkit does not offer
    ENT_ERR_SIGN = -195,                 // signing failed
    ENT_ERR_USER_CERTIFICATES = -596,    // no usable user certificate in the profile
    ENT_ERR_KEY_MISMATCH = -597,         // a private key does not belong to its certificate
    ENT_ERR_READ_ONLY = -1055,           // the profile cannot be written
    ENT_ERR_CERT_EXPIRED = -1072,        // a user certificate has expired
    ENT_ERR_CERT_REVOKED = -1073,        // a user certificate is on the issuer's revocation list
    ENT_ERR_BAD_PASSWORD = -1086,        // wrong profile password
    ENT_ERR_INI_FILE = -1093,            // initialisation file missing or unreadable
    ENT_ERR_SERIAL_TOO_LONG = -3957,     // serial number longer than 32 bits
    ENT_ERR_FILE_READ = -4059,
    ENT_ERR_FILE_WRITE = -4060,
    ENT_ERR_NO_MEMORY = -8599,
    ENT_ERR_EXPORT_POLICY = -13095,      // export refused: no valid policy certificate
    // Failures of the toolkit's own.
    ENT_ERR_INVALID_ARGUMENT = -1601,
    ENT_ERR_NOT_LOGGED_IN = -1602,       // the profile was not opened
    ENT_ERR_NO_CERTIFICATE = -1603,      // an empty certificate object
    ENT_ERR_POLICY_MISSING = -1610,
    ENT_ERR_POLICY_INVALID = -1611,      // not a certificate of the profile's issuer
    ENT_ERR_POLICY_EXPIRED = -1612,
    ENT_ERR_NO_PAB = -1620,
    ENT_ERR_PAB_DAMAGED = -1621,
    ENT_ERR_ENTRY_NOT_FOUND = -1622,
    ENT_ERR_NOT_A_CERTIFICATE = -1623,
    ENT_ERR_BAD_OPTIONS = -1640,         // protection options this toolkit does not offer
    ENT_ERR_UNSUPPORTED_PROFILE = -1641  // a profile made with algorithms this toolkit lacks
};

// Key usages of a certificate, in X.509 order.
enum KEY_USAGE {
    KEY_USAGE_DIGITAL_SIGNATURE = 0,
    KEY_USAGE_NON_REPUDIATION = 1,
    KEY_USAGE_KEY_ENCIPHERMENT = 2,
    KEY_USAGE_DATA_ENCIPHERMENT = 3,
    KEY_USAGE_KEY_AGREEMENT = 4,
    KEY_USAGE_CERT_SIGN = 5,
    KEY_USAGE_CRL_SIGN = 6
};

// How FileProtect protects a file. Only signing is offered: nOperation 0,
// nFormat PROTECT_FORMAT_SIGNED (the content, the signer's certificate and the
// signing time inside one binary signed message); nDigest picks the digest:
// 0 SHA-1, 1 MD5, 2 MD2, 5 SHA-256, 6 or 15 the default (SHA-256).
struct PROTECT_OPTIONS {
    long nOperation;
    long nReserved;
    long nDigest;
    const char* pszContentType;
    short nFormat;
};
const short PROTECT_FORMAT_SIGNED = 7;

// The policy certificate beside a profile is a certificate of the profile's
// issuer with this extended key usage; exports need one that is valid.
#define POLICY_CERTIFICATE_USAGE "1.3.6.1.4.1.99999.7.2"

// Selector of GetPolicyCertificateInformation: days of validity left.
const int POLICY_INFO_DAYS_LEFT = 35;

// Text of a toolkit return code; NULL when the toolkit has none.
const char* EntLogToString(short nCode);
// Non-zero when the code is a warning rather than a failure.
int QueryEntLogWarning(short nCode);
// Strips the warning part of a code in place.
void RemoveWarning(short* pnCode);
