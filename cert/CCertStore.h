#pragma once
#include <string>

#include "cert/CertTypes.h"

// Other people's certificates belonging to a session.
class CCertStore {
public:
    virtual ~CCertStore() {}
    // Empties the list, then appends new objects the caller deletes.
    virtual void GetCertificates(CCertificateArray& lstCertificates) = 0;
    virtual std::string ImportCertificate(std::string strPath) = 0;
    virtual void DeleteCertificate(std::string strName) = 0;
    virtual int CheckCertificate(std::string strName) = 0;
};
