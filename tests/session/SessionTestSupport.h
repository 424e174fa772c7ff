#pragma once
// Certificates of the test PKI as the login page would hand them over: read
// from the user's "MY" store (where the pki fixture installed them).
#include <string>
#include <vector>

#include "cert/wincrypt/CWincryptCertStore.h"
#include "cert/wincrypt/CWincryptCertificate.h"
#include "cert/wincrypt/WincryptRecords.h"
#include "tests/fixtures/pki/TestPki.h"

namespace sessiontest {

// A certificate of the test PKI, those of the bench's cards included.
inline const TestPkiCert* FindPki(const char* pszName)
{
    return FindTestPkiCert(pszName);
}

// A new certificate object for the named test certificate, from "MY"; null when absent.
inline CWincryptCertificate* LoadFromMy(const char* pszName)
{
    const TestPkiCert* pPki = FindPki(pszName);
    if (pPki == nullptr)
        return nullptr;
    CWincryptCertStore store;
    store.Open(0, "MY");
    CCertificateArray list;
    store.GetCertificates(list);
    CWincryptCertificate* pFound = nullptr;
    for (CCertificate* p : list) {
        if (pFound == nullptr && p->GetThumbprint() == pPki->pszThumbprint)
            pFound = static_cast<CWincryptCertificate*>(p);
        else
            delete p;
    }
    return pFound;
}

// A choice of a signing and an authentication certificate (the same one when the
// names are equal). The choice owns the objects until Open takes them.
struct Choice {
    CS_CERTCHOICE choice;
    CS_CAPILOGIN login;

    Choice(const char* pszSign, const char* pszAuth, int nReader = -1, const char* pszCard = "")
    {
        choice.nReader = nReader;
        choice.strCardName = pszCard;
        choice.pSignCertificate = LoadFromMy(pszSign);
        choice.pAuthCertificate = strcmp(pszSign, pszAuth) == 0 ? choice.pSignCertificate
                                                                 : LoadFromMy(pszAuth);
        for (CWincryptCertificate* p : {choice.pSignCertificate, choice.pAuthCertificate}) {
            if (p != nullptr && (choice.lstCertificates.empty() || choice.lstCertificates[0] != p))
                choice.lstCertificates.push_back(p);
        }
        login.pChoice = &choice;
    }
    ~Choice()
    {
        for (CWincryptCertificate* p : choice.lstCertificates)
            delete p;
    }
    bool IsComplete() const
    {
        return choice.pSignCertificate != nullptr && choice.pAuthCertificate != nullptr;
    }
};

}  // namespace sessiontest
