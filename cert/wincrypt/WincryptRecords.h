#pragma once
#include <string>
#include <vector>

#include "cert/CertTypes.h"

class CWincryptCertificate;

// Card block of a CryptoAPI session (the pDetails of CS_SESSIONINFO), owned by
// the session.
struct CS_CARDINFO {
    static const int kSessionKind = SESSION_KIND_CAPI;
    std::string strCardName;
    int nReader = -1;  // -1: the certificates are not on a card
    std::string strAuthSubject;
};

// The user's certificate choice, built by the login page.
struct CS_CERTCHOICE {
    int nReader = -1;
    std::string strCardName;
    std::vector<CWincryptCertificate*> lstCertificates;  // Open takes them over
    CWincryptCertificate* pAuthCertificate = nullptr;     // one of the list
    CWincryptCertificate* pSignCertificate = nullptr;     // one of the list, may be the same
};

// Login request of a CryptoAPI session.
struct CS_CAPILOGIN {
    CS_CERTCHOICE* pChoice = nullptr;
    void (*pfnCallback)() = nullptr;  // called once the provider handle is acquired
};
