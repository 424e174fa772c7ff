#include "CCspContext.h"

#include <algorithm>

#include "CCardChannel.h"
#include "CPinCache.h"
#include "CPinDialog.h"
#include "CSigningCard.h"
#include "CspTrace.h"

namespace {
// A resource-manager context for one operation.
class CScardContext {
public:
    CScardContext()
    {
        if (SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &m_h) != SCARD_S_SUCCESS)
            m_h = 0;
    }
    ~CScardContext()
    {
        if (m_h != 0)
            SCardReleaseContext(m_h);
    }
    operator SCARDCONTEXT() const { return m_h; }

private:
    CScardContext(const CScardContext&) = delete;
    CScardContext& operator=(const CScardContext&) = delete;
    SCARDCONTEXT m_h = 0;
};

std::vector<std::string> Readers(SCARDCONTEXT hContext)
{
    std::vector<std::string> readers;
    DWORD cch = 0;
    if (SCardListReadersA(hContext, nullptr, nullptr, &cch) != SCARD_S_SUCCESS || cch == 0)
        return readers;
    std::vector<char> names(cch + 1, '\0');
    if (SCardListReadersA(hContext, nullptr, names.data(), &cch) != SCARD_S_SUCCESS)
        return readers;
    for (const char* p = names.data(); *p; p += strlen(p) + 1)
        readers.push_back(p);
    return readers;
}
}  // namespace

DWORD CCspContext::Create(const char* pszContainer, DWORD dwFlags, CspVTable* pVTable,
                          CCspContext** ppContext)
{
    *ppContext = nullptr;
    // Keys are made when the card is issued, never here.
    if (dwFlags & (CRYPT_NEWKEYSET | CRYPT_DELETEKEYSET))
        return static_cast<DWORD>(NTE_BAD_FLAGS);
    CCspContext* p = new CCspContext;
    p->m_dwFlags = dwFlags;
    if (pVTable != nullptr) {
        if (pVTable->Version >= 3 && pVTable->pszProvName != nullptr)
            p->m_strProvider = pVTable->pszProvName;
        // The window the platform wants provider dialogs owned by.
        if (pVTable->FuncReturnhWnd != nullptr) {
            void(WINAPI * pfnReturnWindow)(HWND*);
            memcpy(&pfnReturnWindow, &pVTable->FuncReturnhWnd, sizeof(pfnReturnWindow));
            pfnReturnWindow(&p->m_hWnd);
        }
    }
    if (!CryptAcquireContextA(&p->m_hDelegate, nullptr, MS_ENH_RSA_AES_PROV_A, PROV_RSA_AES,
                              CRYPT_VERIFYCONTEXT)) {
        DWORD dwError = GetLastError();
        delete p;
        return dwError;
    }
    if (dwFlags & CRYPT_VERIFYCONTEXT) {
        *ppContext = p;
        return 0;
    }

    p->m_strContainer = pszContainer != nullptr ? pszContainer : "";
    CScardContext hContext;
    DWORD dwError = hContext != 0 ? 0 : static_cast<DWORD>(SCARD_E_NO_SERVICE);
    if (dwError == 0) {
        CCardChannel channel;
        CSigningCard card(channel);
        BYTE nRef = 0;
        dwError = p->Locate(hContext, card, nRef);
        if (dwError == 0)
            dwError = card.ReadPublicKey(nRef, p->m_modulus, p->m_exponent);
        // The PIN goes with the key: asked now unless the caller wants silence.
        std::string strPin;
        if (dwError == 0 && !(dwFlags & CRYPT_SILENT))
            dwError = p->EnsurePin(hContext, card, strPin);
        if (!strPin.empty())
            SecureZeroMemory(&strPin[0], strPin.size());
    }
    if (dwError != 0) {
        delete p;
        return dwError;
    }
    *ppContext = p;
    return 0;
}

CCspContext::~CCspContext()
{
    if (m_hDelegate != 0)
        CryptReleaseContext(m_hDelegate, 0);
}

DWORD CCspContext::Locate(SCARDCONTEXT hContext, CSigningCard& card, BYTE& nRef)
{
    std::vector<std::string> readers = Readers(hContext);
    // The reader where the container was last seen comes first.
    auto it = std::find(readers.begin(), readers.end(), m_strReader);
    if (it != readers.end())
        std::rotate(readers.begin(), it, it + 1);
    CCardChannel& channel = card.Channel();
    bool bAnyCard = false;
    for (const std::string& strReader : readers) {
        DWORD dwOpen = channel.Open(hContext, strReader);
        if (dwOpen != 0) {
            CspTrace("%s: 0x%08lx", strReader.c_str(), dwOpen);
            continue;
        }
        bAnyCard = true;
        std::vector<CSigningCard::KeyEntry> keys;
        if (card.Select() == 0 && card.ReadDirectory(keys) == 0) {
            for (const CSigningCard::KeyEntry& k : keys) {
                // No name: the card's first container.
                if (m_strContainer.empty() || k.strLabel == m_strContainer) {
                    m_strContainer = k.strLabel;
                    m_strReader = strReader;
                    nRef = k.nRef;
                    return 0;
                }
            }
        }
        channel.Close();
    }
    CspTrace("container '%s' not found (%s)", m_strContainer.c_str(),
             bAnyCard ? "cards present" : "no card");
    return static_cast<DWORD>(bAnyCard ? NTE_BAD_KEYSET : SCARD_E_NO_SMARTCARD);
}

DWORD CCspContext::EnsurePin(SCARDCONTEXT hContext, CSigningCard& card, std::string& strPin)
{
    const std::string& strReader = card.Channel().Reader();
    DWORD dwCount = 0;
    bool bCounted = CPinCache::EventCount(hContext, strReader, dwCount);
    if (bCounted && CPinCache::Lookup(strReader, dwCount, strPin))
        return 0;
    if (m_dwFlags & CRYPT_SILENT)
        return static_cast<DWORD>(NTE_SILENT_CONTEXT);
    bool bVerified = false;
    int nTries = -1;
    DWORD dwError = card.PinStatus(bVerified, &nTries);
    if (dwError != 0)
        return dwError;
    if (CPinDialog::Run(g_hCspInstance, m_hWnd, strReader, nTries, strPin) != IDOK) {
        CspTrace("PIN prompt cancelled");
        return static_cast<DWORD>(SCARD_W_CANCELLED_BY_USER);
    }
    dwError = card.VerifyPin(strPin, nullptr);
    if (dwError != 0) {
        SecureZeroMemory(&strPin[0], strPin.size());
        strPin.clear();
        return dwError;
    }
    if (bCounted)
        CPinCache::Store(strReader, dwCount, strPin);
    return 0;
}

std::vector<BYTE> CCspContext::PublicKeyBlob() const
{
    std::vector<BYTE> blob(sizeof(BLOBHEADER) + sizeof(RSAPUBKEY) + m_modulus.size());
    BLOBHEADER* pHeader = reinterpret_cast<BLOBHEADER*>(blob.data());
    pHeader->bType = PUBLICKEYBLOB;
    pHeader->bVersion = CUR_BLOB_VERSION;
    pHeader->reserved = 0;
    pHeader->aiKeyAlg = CALG_RSA_KEYX;
    RSAPUBKEY* pKey = reinterpret_cast<RSAPUBKEY*>(blob.data() + sizeof(BLOBHEADER));
    pKey->magic = 0x31415352;  // "RSA1"
    pKey->bitlen = static_cast<DWORD>(m_modulus.size() * 8);
    pKey->pubexp = 0;
    for (BYTE b : m_exponent)
        pKey->pubexp = (pKey->pubexp << 8) | b;
    // The platform's blobs are little-endian.
    std::reverse_copy(m_modulus.begin(), m_modulus.end(),
                      blob.begin() + sizeof(BLOBHEADER) + sizeof(RSAPUBKEY));
    return blob;
}

DWORD CCspContext::Sign(const std::vector<BYTE>& digestInfo, std::vector<BYTE>& signature)
{
    signature.clear();
    if (!HasContainer())
        return static_cast<DWORD>(NTE_NO_KEY);
    CScardContext hContext;
    if (hContext == 0)
        return static_cast<DWORD>(SCARD_E_NO_SERVICE);
    CCardChannel channel;
    CSigningCard card(channel);
    BYTE nRef = 0;
    DWORD dwError = Locate(hContext, card, nRef);
    std::string strPin;
    if (dwError == 0)
        dwError = EnsurePin(hContext, card, strPin);
    // The card forgets a verified PIN when it is reset: present it again.
    bool bVerified = false;
    if (dwError == 0)
        dwError = card.PinStatus(bVerified, nullptr);
    if (dwError == 0 && !bVerified) {
        dwError = card.VerifyPin(strPin, nullptr);
        if (dwError != 0)
            CPinCache::Forget(channel.Reader());
    }
    if (!strPin.empty())
        SecureZeroMemory(&strPin[0], strPin.size());
    if (dwError == 0)
        dwError = card.SelectKey(nRef);
    if (dwError == 0)
        dwError = card.Sign(digestInfo, signature);
    return dwError;
}
