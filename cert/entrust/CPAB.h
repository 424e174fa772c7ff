#pragma once
#include <string>

#include "cert/CCertStore.h"

class EntFile;
class EntrustName;

// The personal address book of an Entrust session: other people's certificates.
class CPAB : public CCertStore {
public:
    CPAB() : m_pEntFile(nullptr) {}

    // Binds the book to the session's profile and asks the toolkit to create it.
    void Bind(EntFile* pEntFile);

    void GetCertificates(CCertificateArray& lstCertificates) override;
    std::string ImportCertificate(std::string strPath) override;
    void DeleteCertificate(std::string strName) override;
    int CheckCertificate(std::string strName) override;

    // The first value of an entry's attribute; false when the entry lacks it.
    static bool GetAttributeByName(const EntrustName& entry, const char* pszAttribute,
                                   std::string& strText);

private:
    CPAB(const CPAB&) = delete;
    CPAB& operator=(const CPAB&) = delete;

    EntFile* m_pEntFile;
};
