#pragma once
#include <windows.h>
#include <wincrypt.h>

#include <string>

#include "cert/CCertStore.h"
#include "cert/wincrypt/WincryptHandles.h"

// One Windows system store of the current user ("MY", "Trust").
class CWincryptCertStore : public CCertStore {
public:
    CWincryptCertStore();
    virtual ~CWincryptCertStore();

    // Opens the named system store, closing the one open before. Throws kind
    // Windows, "CWincryptCertStore::Open".
    void Open(HCRYPTPROV hProvider, std::string strStoreName);

    // One new CWincryptCertificate per certificate, in the store's order; a
    // certificate that cannot be read is logged and left out.
    void GetCertificates(CCertificateArray& lstCertificates) override;
    // Nothing is imported: returns "".
    std::string ImportCertificate(std::string strPath) override;
    void DeleteCertificate(std::string strName) override {}
    // 1 when some certificate's subject equals strName exactly, else 0.
    int CheckCertificate(std::string strName) override;

    HCERTSTORE GetHandle() const { return m_pStore.get(); }

private:
    CWincryptCertStore(const CWincryptCertStore&) = delete;
    CWincryptCertStore& operator=(const CWincryptCertStore&) = delete;

    CCertStorePtr m_pStore;
};
