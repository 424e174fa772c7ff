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

// Hash and key handles are numbers, not pointers: unique_ptr holds them in this.
template <typename T>
class CNumericHandle {
public:
    CNumericHandle(std::nullptr_t = nullptr) {}
    CNumericHandle(T h) : m_h(h) {}
    operator T() const { return m_h; }
    explicit operator bool() const { return m_h != 0; }
    friend bool operator==(CNumericHandle a, CNumericHandle b) { return a.m_h == b.m_h; }
    friend bool operator!=(CNumericHandle a, CNumericHandle b) { return a.m_h != b.m_h; }

private:
    T m_h = 0;
};

struct CCryptHashDestroy {
    typedef CNumericHandle<HCRYPTHASH> pointer;
    void operator()(pointer hHash) const { CAPIWincrypt::CryptDestroyHash(hHash); }
};
typedef std::unique_ptr<HCRYPTHASH, CCryptHashDestroy> CCryptHashPtr;

struct CCryptKeyDestroy {
    typedef CNumericHandle<HCRYPTKEY> pointer;
    void operator()(pointer hKey) const { CAPIWincrypt::CryptDestroyKey(hKey); }
};
typedef std::unique_ptr<HCRYPTKEY, CCryptKeyDestroy> CCryptKeyPtr;
