#pragma once
#include <windows.h>
#include <wincrypt.h>

// Every CryptoAPI function the library calls, resolved by name at run time.
// Callers write CAPIWincrypt::CertOpenStore(...). The list gives the loading
// order: module, name.
#define TVL_WINCRYPT_ENTRIES(X)                        \
    X(crypt32, CertCreateCertificateContext)           \
    X(crypt32, CertNameToStrA)                         \
    X(crypt32, CertFreeCertificateContext)             \
    X(crypt32, CertGetCertificateContextProperty)      \
    X(crypt32, CertSetCertificateContextProperty)      \
    X(crypt32, CertGetIntendedKeyUsage)                \
    X(crypt32, CertGetEnhancedKeyUsage)                \
    X(crypt32, CertFindExtension)                      \
    X(crypt32, CryptDecodeObject)                      \
    X(crypt32, CertOpenStore)                          \
    X(crypt32, CertCloseStore)                         \
    X(crypt32, CertAddCertificateContextToStore)       \
    X(crypt32, CryptEncodeObject)                      \
    X(crypt32, CertGetCertificateChain)                \
    X(crypt32, CertCreateCertificateChainEngine)       \
    X(crypt32, CertFreeCertificateChainEngine)         \
    X(crypt32, CertFreeCertificateChain)               \
    X(crypt32, CryptAcquireCertificatePrivateKey)      \
    X(crypt32, CertFindCertificateInStore)             \
    X(crypt32, CertGetNameStringW)                     \
    X(crypt32, CertVerifyTimeValidity)                 \
    X(crypt32, CertGetNameStringA)                     \
    X(crypt32, CertDuplicateCertificateContext)        \
    X(crypt32, CertEnumCertificatesInStore)            \
    X(crypt32, CertOpenSystemStoreW)                   \
    X(crypt32, CertGetSubjectCertificateFromStore)     \
    X(crypt32, CryptVerifyDetachedMessageSignature)    \
    X(crypt32, CryptVerifyMessageSignature)            \
    X(crypt32, CryptMsgClose)                          \
    X(crypt32, CryptMsgUpdate)                         \
    X(crypt32, CryptMsgOpenToEncode)                   \
    X(crypt32, CryptMsgOpenToDecode)                   \
    X(crypt32, CertVerifySubjectCertificateContext)    \
    X(crypt32, CryptMsgGetAndVerifySigner)             \
    X(crypt32, CryptMsgGetParam)                       \
    X(crypt32, CryptFindOIDInfo)                       \
    X(advapi32, CryptAcquireContextA)                  \
    X(advapi32, CryptReleaseContext)                   \
    X(advapi32, CryptGetKeyParam)                      \
    X(advapi32, CryptGetProvParam)                     \
    X(advapi32, CryptGetUserKey)                       \
    X(advapi32, CryptSetProvParam)

// Resolved after CryptMsgControl: the primitives of the library's own
// signed-message code (hashing, signing, verifying with an imported key).
#define TVL_WINCRYPT_PRIMITIVES(X)                     \
    X(advapi32, CryptCreateHash)                       \
    X(advapi32, CryptHashData)                         \
    X(advapi32, CryptGetHashParam)                     \
    X(advapi32, CryptDestroyHash)                      \
    X(advapi32, CryptSetHashParam)                     \
    X(advapi32, CryptSignHashA)                        \
    X(advapi32, CryptVerifySignatureA)                 \
    X(advapi32, CryptDestroyKey)                       \
    X(crypt32, CryptImportPublicKeyInfo)

class CAPIWincrypt {
public:
    CAPIWincrypt() {}
    virtual ~CAPIWincrypt();

    // Fills the table; a second call while loaded does nothing. Throws kind Windows.
    static void Load();
    // Frees both libraries; the pointers are left as they are.
    static void Unload();
    static FARPROC LoadFunction(HMODULE hModule, const char* pszName);
    static bool IsLoaded() { return m_hCrypt32 != nullptr || m_hAdvapi32 != nullptr; }

#define TVL_DECLARE_ENTRY(module, name) static decltype(&::name) name;
    TVL_WINCRYPT_ENTRIES(TVL_DECLARE_ENTRY)
    static decltype(&::CryptEnumProvidersA) CryptEnumProvidersA;  // not on NT 4.0
    static decltype(&::CryptMsgControl) CryptMsgControl;
    TVL_WINCRYPT_PRIMITIVES(TVL_DECLARE_ENTRY)
#undef TVL_DECLARE_ENTRY

private:
    static HMODULE m_hCrypt32;
    static HMODULE m_hAdvapi32;
};
