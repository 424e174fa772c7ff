#pragma once
#include <string>
#include <vector>

#include "cert/CertTypes.h"

class CWincryptCertificate;

// What the check of a signed file found about one signer.
struct CS_SIGNINFO {
    CWincryptCertificate* pCertificate = nullptr;  // owned by the record
    int bTrusted = 0;
    TIME64 tSigningTime = 0;  // local time
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
