// The bench's card key provider: the CSP entry points the platform calls. A
// container is a key on a card of the bench's virtual card program; the key
// never leaves the card, which computes every signature. Hashes, random data
// and public-key work go to the platform's own provider.
//
// PIN: asked in the provider's own dialog when a context is acquired on a
// container (unless CRYPT_SILENT) and when a signature is due, in both cases
// only if this process holds no PIN for that card yet. The PIN typed is kept
// for the card while it stays in its reader (CPinCache) and presented again
// whenever the card has forgotten it; a card pulled and put back is asked for
// it anew. "Cancelar" gives SCARD_W_CANCELLED_BY_USER, a PIN the card refuses
// SCARD_W_WRONG_CHV (SCARD_W_CHV_BLOCKED after the third).
#include <windows.h>
#include <wincrypt.h>

#include <algorithm>
#include <mutex>
#include <set>
#include <vector>

#include "CCspContext.h"
#include "CspTrace.h"

// The SHA-2 identifiers are not declared for the Windows versions we target.
#ifndef CALG_SHA_256
#define CALG_SHA_256 (ALG_CLASS_HASH | ALG_TYPE_ANY | 12)
#define CALG_SHA_384 (ALG_CLASS_HASH | ALG_TYPE_ANY | 13)
#define CALG_SHA_512 (ALG_CLASS_HASH | ALG_TYPE_ANY | 14)
#endif

HINSTANCE g_hCspInstance = nullptr;

namespace {
struct CHashObject {
    CCspContext* pContext;
    HCRYPTHASH hHash;
};

struct CKeyObject {
    CCspContext* pContext;
    HCRYPTKEY hPublic;  // in the delegate provider
};

std::mutex& HandleLock()
{
    static std::mutex m;
    return m;
}

template <class T>
std::set<T*>& Live()
{
    static std::set<T*> s;
    return s;
}

template <class T>
void Track(T* p)
{
    std::lock_guard<std::mutex> lock(HandleLock());
    Live<T>().insert(p);
}

template <class T>
bool Untrack(T* p)
{
    std::lock_guard<std::mutex> lock(HandleLock());
    return Live<T>().erase(p) != 0;
}

template <class T>
T* Find(ULONG_PTR h)
{
    std::lock_guard<std::mutex> lock(HandleLock());
    T* p = reinterpret_cast<T*>(h);
    return Live<T>().count(p) ? p : nullptr;
}

BOOL Fail(DWORD dwError)
{
    SetLastError(dwError);
    return FALSE;
}

// Copies a parameter out with the platform's size protocol.
BOOL PutParam(BYTE* pbData, DWORD* pdwLen, const void* pSource, DWORD cb)
{
    if (pdwLen == nullptr)
        return Fail(ERROR_INVALID_PARAMETER);
    if (pbData == nullptr) {
        *pdwLen = cb;
        return TRUE;
    }
    if (*pdwLen < cb) {
        *pdwLen = cb;
        return Fail(ERROR_MORE_DATA);
    }
    memcpy(pbData, pSource, cb);
    *pdwLen = cb;
    return TRUE;
}

BOOL PutText(BYTE* pbData, DWORD* pdwLen, const std::string& s)
{
    return PutParam(pbData, pdwLen, s.c_str(), static_cast<DWORD>(s.size() + 1));
}

// The DER prefix of a PKCS#1 DigestInfo for a hash algorithm; false when the
// algorithm has none that the card could sign.
bool DigestInfoPrefix(ALG_ID algId, std::vector<BYTE>& prefix)
{
    static const struct {
        ALG_ID algId;
        BYTE prefix[19];
        size_t n;
    } kPrefixes[] = {
        {CALG_MD2,
         {0x30, 0x20, 0x30, 0x0c, 0x06, 0x08, 0x2a, 0x86, 0x48, 0x86, 0xf7, 0x0d, 0x02, 0x02, 0x05,
          0x00, 0x04, 0x10},
         18},
        {CALG_MD5,
         {0x30, 0x20, 0x30, 0x0c, 0x06, 0x08, 0x2a, 0x86, 0x48, 0x86, 0xf7, 0x0d, 0x02, 0x05, 0x05,
          0x00, 0x04, 0x10},
         18},
        {CALG_SHA1,
         {0x30, 0x21, 0x30, 0x09, 0x06, 0x05, 0x2b, 0x0e, 0x03, 0x02, 0x1a, 0x05, 0x00, 0x04, 0x14},
         15},
        {CALG_SHA_256,
         {0x30, 0x31, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x01,
          0x05, 0x00, 0x04, 0x20},
         19},
        {CALG_SHA_384,
         {0x30, 0x41, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x02,
          0x05, 0x00, 0x04, 0x30},
         19},
        {CALG_SHA_512,
         {0x30, 0x51, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x03,
          0x05, 0x00, 0x04, 0x40},
         19},
    };
    for (const auto& p : kPrefixes) {
        if (p.algId == algId) {
            prefix.assign(p.prefix, p.prefix + p.n);
            return true;
        }
    }
    return false;
}
}  // namespace

BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID)
{
    if (dwReason == DLL_PROCESS_ATTACH) {
        g_hCspInstance = hInstance;
        DisableThreadLibraryCalls(hInstance);
        // The PIN cache lives as long as the process, not as long as its contexts.
        HMODULE hSelf = nullptr;
        GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                           reinterpret_cast<LPCSTR>(&DllMain), &hSelf);
    }
    return TRUE;
}

extern "C" {

BOOL WINAPI CPAcquireContext(HCRYPTPROV* phProv, LPSTR pszContainer, DWORD dwFlags,
                             CspVTable* pVTable)
{
    CspTrace("CPAcquireContext('%s', 0x%lx)", pszContainer ? pszContainer : "(null)", dwFlags);
    if (phProv == nullptr)
        return Fail(ERROR_INVALID_PARAMETER);
    CCspContext* pContext = nullptr;
    DWORD dwError = CCspContext::Create(pszContainer, dwFlags, pVTable, &pContext);
    CspTrace("CPAcquireContext -> 0x%08lx", dwError);
    if (dwError != 0)
        return Fail(dwError);
    Track(pContext);
    *phProv = reinterpret_cast<HCRYPTPROV>(pContext);
    return TRUE;
}

BOOL WINAPI CPReleaseContext(HCRYPTPROV hProv, DWORD dwFlags)
{
    CCspContext* pContext = reinterpret_cast<CCspContext*>(hProv);
    if (!Untrack(pContext))
        return Fail(static_cast<DWORD>(NTE_BAD_UID));
    delete pContext;
    return TRUE;
}

BOOL WINAPI CPGetProvParam(HCRYPTPROV hProv, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen,
                           DWORD dwFlags)
{
    CCspContext* pContext = Find<CCspContext>(hProv);
    if (pContext == nullptr)
        return Fail(static_cast<DWORD>(NTE_BAD_UID));
    DWORD dw = 0;
    switch (dwParam) {
        case PP_NAME:
            return PutText(pbData, pdwDataLen, pContext->ProviderName());
        case PP_CONTAINER:
        case PP_UNIQUE_CONTAINER:
            return PutText(pbData, pdwDataLen, pContext->Container());
        case PP_PROVTYPE:
            dw = PROV_RSA_FULL;
            return PutParam(pbData, pdwDataLen, &dw, sizeof(dw));
        case PP_IMPTYPE:
            dw = CRYPT_IMPL_HARDWARE | CRYPT_IMPL_REMOVABLE;
            return PutParam(pbData, pdwDataLen, &dw, sizeof(dw));
        case PP_VERSION:
            dw = 0x0200;
            return PutParam(pbData, pdwDataLen, &dw, sizeof(dw));
        case PP_KEYSPEC:
            dw = AT_KEYEXCHANGE;
            return PutParam(pbData, pdwDataLen, &dw, sizeof(dw));
        case PP_ENUMALGS:
        case PP_ENUMALGS_EX:
            return CryptGetProvParam(pContext->Delegate(), dwParam, pbData, pdwDataLen, dwFlags);
        default:
            return Fail(static_cast<DWORD>(NTE_BAD_TYPE));
    }
}

BOOL WINAPI CPSetProvParam(HCRYPTPROV hProv, DWORD dwParam, const BYTE* pbData, DWORD dwFlags)
{
    CCspContext* pContext = Find<CCspContext>(hProv);
    if (pContext == nullptr)
        return Fail(static_cast<DWORD>(NTE_BAD_UID));
    if (dwParam == PP_CLIENT_HWND && pbData != nullptr) {
        pContext->SetWindow(*reinterpret_cast<const HWND*>(pbData));
        return TRUE;
    }
    return Fail(static_cast<DWORD>(NTE_BAD_TYPE));
}

BOOL WINAPI CPGetUserKey(HCRYPTPROV hProv, DWORD dwKeySpec, HCRYPTKEY* phUserKey)
{
    CCspContext* pContext = Find<CCspContext>(hProv);
    if (pContext == nullptr)
        return Fail(static_cast<DWORD>(NTE_BAD_UID));
    // A container holds one key pair, in the exchange slot.
    if (!pContext->HasContainer() || dwKeySpec != AT_KEYEXCHANGE || phUserKey == nullptr)
        return Fail(static_cast<DWORD>(NTE_NO_KEY));
    std::vector<BYTE> blob = pContext->PublicKeyBlob();
    HCRYPTKEY hPublic = 0;
    if (!CryptImportKey(pContext->Delegate(), blob.data(), static_cast<DWORD>(blob.size()), 0, 0,
                        &hPublic))
        return FALSE;
    CKeyObject* pKey = new CKeyObject{pContext, hPublic};
    Track(pKey);
    *phUserKey = reinterpret_cast<HCRYPTKEY>(pKey);
    return TRUE;
}

BOOL WINAPI CPImportKey(HCRYPTPROV hProv, const BYTE* pbData, DWORD dwDataLen, HCRYPTKEY hPubKey,
                        DWORD dwFlags, HCRYPTKEY* phKey)
{
    CCspContext* pContext = Find<CCspContext>(hProv);
    if (pContext == nullptr)
        return Fail(static_cast<DWORD>(NTE_BAD_UID));
    // Only public keys: a card's private keys are made on the card.
    if (pbData == nullptr || dwDataLen < sizeof(BLOBHEADER) ||
        reinterpret_cast<const BLOBHEADER*>(pbData)->bType != PUBLICKEYBLOB)
        return Fail(static_cast<DWORD>(NTE_BAD_TYPE));
    HCRYPTKEY hPublic = 0;
    if (!CryptImportKey(pContext->Delegate(), pbData, dwDataLen, 0, dwFlags, &hPublic))
        return FALSE;
    CKeyObject* pKey = new CKeyObject{pContext, hPublic};
    Track(pKey);
    *phKey = reinterpret_cast<HCRYPTKEY>(pKey);
    return TRUE;
}

BOOL WINAPI CPExportKey(HCRYPTPROV hProv, HCRYPTKEY hKey, HCRYPTKEY hPubKey, DWORD dwBlobType,
                        DWORD dwFlags, BYTE* pbData, DWORD* pdwDataLen)
{
    CKeyObject* pKey = Find<CKeyObject>(hKey);
    if (pKey == nullptr)
        return Fail(static_cast<DWORD>(NTE_BAD_KEY));
    if (dwBlobType != PUBLICKEYBLOB)
        return Fail(static_cast<DWORD>(NTE_BAD_TYPE));
    return CryptExportKey(pKey->hPublic, 0, PUBLICKEYBLOB, dwFlags, pbData, pdwDataLen);
}

BOOL WINAPI CPGetKeyParam(HCRYPTPROV hProv, HCRYPTKEY hKey, DWORD dwParam, BYTE* pbData,
                          DWORD* pdwDataLen, DWORD dwFlags)
{
    CKeyObject* pKey = Find<CKeyObject>(hKey);
    if (pKey == nullptr)
        return Fail(static_cast<DWORD>(NTE_BAD_KEY));
    return CryptGetKeyParam(pKey->hPublic, dwParam, pbData, pdwDataLen, dwFlags);
}

BOOL WINAPI CPDestroyKey(HCRYPTPROV hProv, HCRYPTKEY hKey)
{
    CKeyObject* pKey = reinterpret_cast<CKeyObject*>(hKey);
    if (!Untrack(pKey))
        return Fail(static_cast<DWORD>(NTE_BAD_KEY));
    CryptDestroyKey(pKey->hPublic);
    delete pKey;
    return TRUE;
}

BOOL WINAPI CPCreateHash(HCRYPTPROV hProv, ALG_ID algId, HCRYPTKEY hKey, DWORD dwFlags,
                         HCRYPTHASH* phHash)
{
    CCspContext* pContext = Find<CCspContext>(hProv);
    if (pContext == nullptr)
        return Fail(static_cast<DWORD>(NTE_BAD_UID));
    if (hKey != 0)
        return Fail(static_cast<DWORD>(NTE_BAD_KEY));  // no keyed hashes here
    HCRYPTHASH hHash = 0;
    if (!CryptCreateHash(pContext->Delegate(), algId, 0, dwFlags, &hHash))
        return FALSE;
    CHashObject* pHash = new CHashObject{pContext, hHash};
    Track(pHash);
    *phHash = reinterpret_cast<HCRYPTHASH>(pHash);
    return TRUE;
}

BOOL WINAPI CPHashData(HCRYPTPROV hProv, HCRYPTHASH hHash, const BYTE* pbData, DWORD dwDataLen,
                       DWORD dwFlags)
{
    CHashObject* pHash = Find<CHashObject>(hHash);
    if (pHash == nullptr)
        return Fail(static_cast<DWORD>(NTE_BAD_HASH));
    return CryptHashData(pHash->hHash, pbData, dwDataLen, dwFlags);
}

BOOL WINAPI CPGetHashParam(HCRYPTPROV hProv, HCRYPTHASH hHash, DWORD dwParam, BYTE* pbData,
                           DWORD* pdwDataLen, DWORD dwFlags)
{
    CHashObject* pHash = Find<CHashObject>(hHash);
    if (pHash == nullptr)
        return Fail(static_cast<DWORD>(NTE_BAD_HASH));
    return CryptGetHashParam(pHash->hHash, dwParam, pbData, pdwDataLen, dwFlags);
}

BOOL WINAPI CPSetHashParam(HCRYPTPROV hProv, HCRYPTHASH hHash, DWORD dwParam, const BYTE* pbData,
                           DWORD dwFlags)
{
    CHashObject* pHash = Find<CHashObject>(hHash);
    if (pHash == nullptr)
        return Fail(static_cast<DWORD>(NTE_BAD_HASH));
    return CryptSetHashParam(pHash->hHash, dwParam, pbData, dwFlags);
}

BOOL WINAPI CPDuplicateHash(HCRYPTPROV hProv, HCRYPTHASH hHash, DWORD* pdwReserved, DWORD dwFlags,
                            HCRYPTHASH* phHash)
{
    CHashObject* pHash = Find<CHashObject>(hHash);
    if (pHash == nullptr)
        return Fail(static_cast<DWORD>(NTE_BAD_HASH));
    HCRYPTHASH hCopy = 0;
    if (!CryptDuplicateHash(pHash->hHash, nullptr, 0, &hCopy))
        return FALSE;
    CHashObject* pCopy = new CHashObject{pHash->pContext, hCopy};
    Track(pCopy);
    *phHash = reinterpret_cast<HCRYPTHASH>(pCopy);
    return TRUE;
}

BOOL WINAPI CPDestroyHash(HCRYPTPROV hProv, HCRYPTHASH hHash)
{
    CHashObject* pHash = reinterpret_cast<CHashObject*>(hHash);
    if (!Untrack(pHash))
        return Fail(static_cast<DWORD>(NTE_BAD_HASH));
    CryptDestroyHash(pHash->hHash);
    delete pHash;
    return TRUE;
}

BOOL WINAPI CPSignHash(HCRYPTPROV hProv, HCRYPTHASH hHash, DWORD dwKeySpec, LPCWSTR szDescription,
                       DWORD dwFlags, BYTE* pbSignature, DWORD* pdwSigLen)
{
    CCspContext* pContext = Find<CCspContext>(hProv);
    CHashObject* pHash = Find<CHashObject>(hHash);
    if (pContext == nullptr)
        return Fail(static_cast<DWORD>(NTE_BAD_UID));
    if (pHash == nullptr)
        return Fail(static_cast<DWORD>(NTE_BAD_HASH));
    if (!pContext->HasContainer() || dwKeySpec != AT_KEYEXCHANGE)
        return Fail(static_cast<DWORD>(NTE_NO_KEY));
    if (pdwSigLen == nullptr)
        return Fail(ERROR_INVALID_PARAMETER);
    DWORD cbSignature = pContext->KeyBytes();
    // The size alone needs no card.
    if (pbSignature == nullptr || *pdwSigLen < cbSignature) {
        *pdwSigLen = cbSignature;
        return pbSignature == nullptr ? TRUE : Fail(ERROR_MORE_DATA);
    }

    ALG_ID algId = 0;
    DWORD cb = sizeof(algId);
    if (!CryptGetHashParam(pHash->hHash, HP_ALGID, reinterpret_cast<BYTE*>(&algId), &cb, 0))
        return FALSE;
    std::vector<BYTE> digestInfo;
    if (!(dwFlags & CRYPT_NOHASHOID) && !DigestInfoPrefix(algId, digestInfo))
        return Fail(static_cast<DWORD>(NTE_BAD_ALGID));
    BYTE value[64];
    cb = sizeof(value);
    if (!CryptGetHashParam(pHash->hHash, HP_HASHVAL, value, &cb, 0))
        return FALSE;
    digestInfo.insert(digestInfo.end(), value, value + cb);

    std::vector<BYTE> signature;
    DWORD dwError = pContext->Sign(digestInfo, signature);
    CspTrace("CPSignHash('%s') -> 0x%08lx", pContext->Container().c_str(), dwError);
    if (dwError != 0)
        return Fail(dwError);
    // The platform's signatures are little-endian.
    std::reverse(signature.begin(), signature.end());
    signature.resize(cbSignature, 0);
    // What leaves the card is checked against the certificate's key: a card
    // that signs wrongly must not produce a signed file.
    std::vector<BYTE> blob = pContext->PublicKeyBlob();
    HCRYPTKEY hPublic = 0;
    BOOL bGood = CryptImportKey(pContext->Delegate(), blob.data(), static_cast<DWORD>(blob.size()),
                                0, 0, &hPublic) &&
                 CryptVerifySignatureW(pHash->hHash, signature.data(), cbSignature, hPublic,
                                       nullptr, dwFlags & CRYPT_NOHASHOID);
    if (hPublic != 0)
        CryptDestroyKey(hPublic);
    if (!bGood) {
        CspTrace("CPSignHash: the card's signature does not verify");
        return Fail(static_cast<DWORD>(NTE_BAD_SIGNATURE));
    }
    memcpy(pbSignature, signature.data(), cbSignature);
    *pdwSigLen = cbSignature;
    return TRUE;
}

BOOL WINAPI CPVerifySignature(HCRYPTPROV hProv, HCRYPTHASH hHash, const BYTE* pbSignature,
                              DWORD dwSigLen, HCRYPTKEY hPubKey, LPCWSTR szDescription,
                              DWORD dwFlags)
{
    CHashObject* pHash = Find<CHashObject>(hHash);
    CKeyObject* pKey = Find<CKeyObject>(hPubKey);
    if (pHash == nullptr)
        return Fail(static_cast<DWORD>(NTE_BAD_HASH));
    if (pKey == nullptr)
        return Fail(static_cast<DWORD>(NTE_BAD_KEY));
    return CryptVerifySignatureW(pHash->hHash, pbSignature, dwSigLen, pKey->hPublic, nullptr,
                                 dwFlags);
}

BOOL WINAPI CPGenRandom(HCRYPTPROV hProv, DWORD dwLen, BYTE* pbBuffer)
{
    CCspContext* pContext = Find<CCspContext>(hProv);
    if (pContext == nullptr)
        return Fail(static_cast<DWORD>(NTE_BAD_UID));
    return CryptGenRandom(pContext->Delegate(), dwLen, pbBuffer);
}

// What a signing card does not do.
BOOL WINAPI CPGenKey(HCRYPTPROV, ALG_ID, DWORD, HCRYPTKEY*)
{
    return Fail(static_cast<DWORD>(NTE_NOT_SUPPORTED));
}

BOOL WINAPI CPDeriveKey(HCRYPTPROV, ALG_ID, HCRYPTHASH, DWORD, HCRYPTKEY*)
{
    return Fail(static_cast<DWORD>(NTE_NOT_SUPPORTED));
}

BOOL WINAPI CPSetKeyParam(HCRYPTPROV, HCRYPTKEY, DWORD, const BYTE*, DWORD)
{
    return Fail(static_cast<DWORD>(NTE_NOT_SUPPORTED));
}

BOOL WINAPI CPEncrypt(HCRYPTPROV, HCRYPTKEY, HCRYPTHASH, BOOL, DWORD, BYTE*, DWORD*, DWORD)
{
    return Fail(static_cast<DWORD>(NTE_NOT_SUPPORTED));
}

BOOL WINAPI CPDecrypt(HCRYPTPROV, HCRYPTKEY, HCRYPTHASH, BOOL, DWORD, BYTE*, DWORD*)
{
    return Fail(static_cast<DWORD>(NTE_NOT_SUPPORTED));
}

BOOL WINAPI CPHashSessionKey(HCRYPTPROV, HCRYPTHASH, HCRYPTKEY, DWORD)
{
    return Fail(static_cast<DWORD>(NTE_NOT_SUPPORTED));
}

BOOL WINAPI CPDuplicateKey(HCRYPTPROV, HCRYPTKEY, DWORD*, DWORD, HCRYPTKEY*)
{
    return Fail(static_cast<DWORD>(NTE_NOT_SUPPORTED));
}

}  // extern "C"
