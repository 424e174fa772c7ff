#pragma once
#include <string>

#include "cert/AuthorityLabel.h"

class CWincryptCertificate;

// The certificate authorities the library carries as compressed resources, in
// the order they are tried: 0-2 production (first-generation root, second-
// generation root, its subordinate), 3-4 pre-production, 5-6 development.
// Nothing is cached: each check loads the authorities afresh.
class CAuthorityStore {
public:
    enum { AUTHORITY_COUNT = kAuthorityCount, NO_AUTHORITY = -1 };

    virtual ~CAuthorityStore() {}

    // Resource id of an authority index, 0 outside 0-6.
    static int GetResourceId(int nIndex);

    // The authority certificate of a resource, or nullptr (logged "Certificado en
    // tarvosel manipulado") when its SHA-1 thumbprint differs from strFingerprint.
    // The caller deletes it. Throws kind Windows when the resource is missing or is
    // not a certificate, own ERR_DECOMPRESS when it cannot be decompressed.
    static CWincryptCertificate* LoadAuthorityCertificate(int nResourceId,
                                                          const std::string& strFingerprint);

    // Index of the first authority whose key verifies the signer's certificate
    // (its validity period is not looked at), or NO_AUTHORITY. An authority that
    // fails its fingerprint check is never taken as the issuer.
    static int FindIssuingAuthority(CWincryptCertificate* pSigner);

    // Fallback when no embedded authority issued the certificate: the platform
    // trusts its chain and its issuer is on the issuer lists of the environment
    // (0 production, 1 integration, 2 pre-production, other values production).
    static bool IsRecognisedIssuer(CWincryptCertificate* pSigner, int nEnvironment);

    // True when the authorities are the test ones, whose private keys anyone with
    // the sources has: such a build must never be used for real signatures.
    static bool IsTestTrust() { return s_bTestTrust; }

private:
    CAuthorityStore();

    // Resource id of each authority, in table order: data of the deployment,
    // generated with the rest of its trust data (tools/trustdata).
    static const int s_anResourceIds[AUTHORITY_COUNT];
    static const bool s_bTestTrust;
};

// True when an issuer name is one whole entry of an issuer list: the entries are
// separated by "|" with blanks around them, letter case does not count.
bool IssuerListHasEntry(const std::string& strList, const std::string& strIssuer);
