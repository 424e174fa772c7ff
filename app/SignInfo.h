#pragma once
#include <stdint.h>

#include <string>
#include <vector>

#include "cert/CertTypes.h"

class CWincryptCertificate;

// What the check of a signed file found about one signer.
struct CS_SIGNINFO {
    CWincryptCertificate* pCertificate = nullptr;  // owned by the record
    int bTrusted = 0;
    TIME64 tSigningTime = 0;  // local time, for the report
    // The same instant as the certificate's validity is written: local time
    // repeats an hour each autumn, so only this one is compared.
    uint64_t nSigningTimeUtc = 0;  // seconds since 1601, UTC
    int bHasSigningTime = 0;
    std::string strAlgorithm;

    CS_SIGNINFO() {}
    ~CS_SIGNINFO();
    CS_SIGNINFO(const CS_SIGNINFO&) = delete;
    CS_SIGNINFO& operator=(const CS_SIGNINFO&) = delete;
};

typedef std::vector<CS_SIGNINFO*> CSignInfoList;

// Deletes every record (and its certificate) and empties the list.
void DeleteSignInfoList(CSignInfoList& lstSigners);
