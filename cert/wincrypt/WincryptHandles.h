#pragma once
#include <memory>

#include "cert/wincrypt/CAPIWincrypt.h"

// Owning holders for CryptoAPI handles; each frees through the entry-point table.

struct CCertContextFree {
    void operator()(PCCERT_CONTEXT pContext) const
    {
        if (pContext != nullptr)
            CAPIWincrypt::CertFreeCertificateContext(pContext);
    }
};
typedef std::unique_ptr<const CERT_CONTEXT, CCertContextFree> CCertContextPtr;

struct CCertChainFree {
    void operator()(PCCERT_CHAIN_CONTEXT pChain) const
    {
        if (pChain != nullptr)
            CAPIWincrypt::CertFreeCertificateChain(pChain);
    }
};
typedef std::unique_ptr<const CERT_CHAIN_CONTEXT, CCertChainFree> CCertChainPtr;

struct CCertChainEngineFree {
    void operator()(HCERTCHAINENGINE hEngine) const
    {
        if (hEngine != nullptr)
            CAPIWincrypt::CertFreeCertificateChainEngine(hEngine);
    }
};
typedef std::unique_ptr<void, CCertChainEngineFree> CCertChainEnginePtr;

struct CCertStoreClose {
    void operator()(HCERTSTORE hStore) const
    {
        if (hStore != nullptr)
            CAPIWincrypt::CertCloseStore(hStore, 0);
    }
};
typedef std::unique_ptr<void, CCertStoreClose> CCertStorePtr;
