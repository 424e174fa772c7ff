#include "cert/wincrypt/CWincryptCertStore.h"

#include <memory>
#include <vector>

#include "api/CLog.h"
#include "api/CTarvoselException.h"
#include "cert/wincrypt/CWincryptCertificate.h"

CWincryptCertStore::CWincryptCertStore() {}

CWincryptCertStore::~CWincryptCertStore() {}

void CWincryptCertStore::Open(HCRYPTPROV hProvider, std::string strStoreName)
{
    m_pStore.reset();
    int cch = MultiByteToWideChar(CP_ACP, 0, strStoreName.c_str(), -1, nullptr, 0);
    std::vector<wchar_t> wide(cch > 0 ? cch : 1, L'\0');
    if (cch > 0)
        MultiByteToWideChar(CP_ACP, 0, strStoreName.c_str(), -1, wide.data(), cch);
    HCERTSTORE hStore = CAPIWincrypt::CertOpenSystemStoreW(hProvider, wide.data());
    if (hStore == nullptr)
        throw new CTarvoselException(EXC_WINDOWS, GetLastError(), "CWincryptCertStore::Open");
    m_pStore.reset(hStore);
}

void CWincryptCertStore::GetCertificates(CCertificateArray& lstCertificates)
{
    lstCertificates.clear();
    if (!m_pStore)
        return;
    // The enumeration frees the previous context itself.
    PCCERT_CONTEXT pContext = nullptr;
    while ((pContext = CAPIWincrypt::CertEnumCertificatesInStore(m_pStore.get(), pContext)) !=
           nullptr) {
        try {
            std::unique_ptr<CWincryptCertificate> pCertificate(new CWincryptCertificate(pContext));
            lstCertificates.push_back(pCertificate.get());
            pCertificate.release();
        } catch (CTarvoselException* e) {
            // One unreadable certificate must not hide the rest of the store.
            LogInfo("%s", e->GetDescription().c_str());
            delete e;
        }
    }
}

std::string CWincryptCertStore::ImportCertificate(std::string strPath)
{
    return std::string();
}

int CWincryptCertStore::CheckCertificate(std::string strName)
{
    CCertificateArray lstCertificates;
    GetCertificates(lstCertificates);
    int bFound = 0;
    for (CCertificate* pCertificate : lstCertificates) {
        if (pCertificate->GetSubject() == strName)
            bFound = 1;
        delete pCertificate;
    }
    return bFound;
}
