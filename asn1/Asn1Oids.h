// The object identifiers the codecs and the toolkit stand-in name, in dotted
// text, each in this one place. Callers compare decoded OIDs against these.
// Includes nothing; constants only.
#pragma once

namespace Asn1Oids {

// PKCS#7 content types and PKCS#9 attributes.
inline constexpr char kData[] = "1.2.840.113549.1.7.1";
inline constexpr char kSignedData[] = "1.2.840.113549.1.7.2";
inline constexpr char kEncryptedData[] = "1.2.840.113549.1.7.6";
inline constexpr char kEmailAddress[] = "1.2.840.113549.1.9.1";
inline constexpr char kContentType[] = "1.2.840.113549.1.9.3";
inline constexpr char kMessageDigest[] = "1.2.840.113549.1.9.4";
inline constexpr char kSigningTime[] = "1.2.840.113549.1.9.5";
inline constexpr char kFriendlyName[] = "1.2.840.113549.1.9.20";
inline constexpr char kLocalKeyId[] = "1.2.840.113549.1.9.21";
inline constexpr char kX509Certificate[] = "1.2.840.113549.1.9.22.1";

// RSA and the hash-with-RSA signatures.
inline constexpr char kRsaEncryption[] = "1.2.840.113549.1.1.1";
inline constexpr char kMd2WithRsa[] = "1.2.840.113549.1.1.2";
inline constexpr char kMd5WithRsa[] = "1.2.840.113549.1.1.4";
inline constexpr char kSha1WithRsa[] = "1.2.840.113549.1.1.5";
inline constexpr char kSha256WithRsa[] = "1.2.840.113549.1.1.11";
inline constexpr char kSha384WithRsa[] = "1.2.840.113549.1.1.12";
inline constexpr char kSha512WithRsa[] = "1.2.840.113549.1.1.13";
inline constexpr char kSha224WithRsa[] = "1.2.840.113549.1.1.14";

// Digests.
inline constexpr char kMd2[] = "1.2.840.113549.2.2";
inline constexpr char kMd5[] = "1.2.840.113549.2.5";
inline constexpr char kSha1[] = "1.3.14.3.2.26";
inline constexpr char kSha256[] = "2.16.840.1.101.3.4.2.1";
inline constexpr char kSha384[] = "2.16.840.1.101.3.4.2.2";
inline constexpr char kSha512[] = "2.16.840.1.101.3.4.2.3";
inline constexpr char kSha224[] = "2.16.840.1.101.3.4.2.4";

// HMACs (PBKDF2 pseudo-random functions).
inline constexpr char kHmacSha1[] = "1.2.840.113549.2.7";
inline constexpr char kHmacSha256[] = "1.2.840.113549.2.9";
inline constexpr char kHmacSha384[] = "1.2.840.113549.2.10";
inline constexpr char kHmacSha512[] = "1.2.840.113549.2.11";

// Password-based encryption and ciphers.
inline constexpr char kPbkdf2[] = "1.2.840.113549.1.5.12";
inline constexpr char kPbes2[] = "1.2.840.113549.1.5.13";
inline constexpr char kPbeSha1Des3[] = "1.2.840.113549.1.12.1.3";
inline constexpr char kPbeSha1Rc2_128[] = "1.2.840.113549.1.12.1.5";
inline constexpr char kPbeSha1Rc2_40[] = "1.2.840.113549.1.12.1.6";
inline constexpr char kAes128Cbc[] = "2.16.840.1.101.3.4.1.2";
inline constexpr char kAes192Cbc[] = "2.16.840.1.101.3.4.1.22";
inline constexpr char kAes256Cbc[] = "2.16.840.1.101.3.4.1.42";
inline constexpr char kDesEde3Cbc[] = "1.2.840.113549.3.7";

// PKCS#12 bags.
inline constexpr char kKeyBag[] = "1.2.840.113549.1.12.10.1.1";
inline constexpr char kShroudedKeyBag[] = "1.2.840.113549.1.12.10.1.2";
inline constexpr char kCertBag[] = "1.2.840.113549.1.12.10.1.3";
inline constexpr char kSafeContentsBag[] = "1.2.840.113549.1.12.10.1.6";

// X.509 name attributes and extensions.
inline constexpr char kCommonName[] = "2.5.4.3";
inline constexpr char kSurname[] = "2.5.4.4";
inline constexpr char kSerialNumber[] = "2.5.4.5";
inline constexpr char kCountryName[] = "2.5.4.6";
inline constexpr char kLocalityName[] = "2.5.4.7";
inline constexpr char kStateOrProvinceName[] = "2.5.4.8";
inline constexpr char kStreetAddress[] = "2.5.4.9";
inline constexpr char kOrganizationName[] = "2.5.4.10";
inline constexpr char kOrganizationalUnitName[] = "2.5.4.11";
inline constexpr char kTitle[] = "2.5.4.12";
inline constexpr char kGivenName[] = "2.5.4.42";
inline constexpr char kDomainComponent[] = "0.9.2342.19200300.100.1.25";
inline constexpr char kKeyUsage[] = "2.5.29.15";
inline constexpr char kPrivateKeyUsagePeriod[] = "2.5.29.16";
inline constexpr char kExtendedKeyUsage[] = "2.5.29.37";

}  // namespace Asn1Oids
