#pragma once
// One provider context of the bench's card key provider: a key container on a
// card (or no container, for a verification context) and the platform's own
// provider, to which hashing and public-key work are handed.
#include <windows.h>
#include <wincrypt.h>
#include <winscard.h>

#include <string>
#include <vector>

class CSigningCard;

// What the platform hands a provider when it acquires a context (the headers
// declare it only for old Windows versions).
struct CspVTable {
    DWORD Version;
    FARPROC FuncVerifyImage;
    FARPROC FuncReturnhWnd;
    DWORD dwProvType;
    BYTE* pbContextInfo;
    DWORD cbContextInfo;
    LPSTR pszProvName;
};

class CCspContext {
public:
    // 0 and a new context, or the provider error.
    static DWORD Create(const char* pszContainer, DWORD dwFlags, CspVTable* pVTable,
                        CCspContext** ppContext);
    ~CCspContext();

    HCRYPTPROV Delegate() const { return m_hDelegate; }
    bool HasContainer() const { return !m_strContainer.empty(); }
    const std::string& Container() const { return m_strContainer; }
    const std::string& ProviderName() const { return m_strProvider; }
    DWORD KeyBytes() const { return static_cast<DWORD>(m_modulus.size()); }
    void SetWindow(HWND hWnd) { m_hWnd = hWnd; }
    // The container's public key as a PUBLICKEYBLOB of the exchange slot.
    std::vector<BYTE> PublicKeyBlob() const;

    // The card's signature of a DigestInfo (most significant byte first),
    // asking for the PIN when this card's is not known yet.
    DWORD Sign(const std::vector<BYTE>& digestInfo, std::vector<BYTE>& signature);

private:
    CCspContext() {}
    CCspContext(const CCspContext&) = delete;
    CCspContext& operator=(const CCspContext&) = delete;

    DWORD Locate(SCARDCONTEXT hContext, CSigningCard& card, BYTE& nRef);
    DWORD EnsurePin(SCARDCONTEXT hContext, CSigningCard& card, std::string& strPin);

    DWORD m_dwFlags = 0;
    HCRYPTPROV m_hDelegate = 0;
    HWND m_hWnd = nullptr;
    std::string m_strProvider;
    std::string m_strContainer;
    std::string m_strReader;       // where the container was found last
    std::vector<BYTE> m_modulus;   // most significant byte first
    std::vector<BYTE> m_exponent;  // likewise
};

// The module of the provider (its dialog template lives there).
extern HINSTANCE g_hCspInstance;
