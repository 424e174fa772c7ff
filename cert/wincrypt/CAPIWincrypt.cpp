#include "cert/wincrypt/CAPIWincrypt.h"

#include "api/CLog.h"
#include "api/CTarvoselException.h"

HMODULE CAPIWincrypt::m_hCrypt32 = nullptr;
HMODULE CAPIWincrypt::m_hAdvapi32 = nullptr;

#define TVL_DEFINE_ENTRY(module, name) decltype(&::name) CAPIWincrypt::name = nullptr;
TVL_WINCRYPT_ENTRIES(TVL_DEFINE_ENTRY)
TVL_WINCRYPT_PRIMITIVES(TVL_DEFINE_ENTRY)
#undef TVL_DEFINE_ENTRY
decltype(&::CryptEnumProvidersA) CAPIWincrypt::CryptEnumProvidersA = nullptr;
decltype(&::CryptMsgControl) CAPIWincrypt::CryptMsgControl = nullptr;

// Frees the libraries if the library is unloaded while the table is loaded.
static CAPIWincrypt g_APIWincrypt;

CAPIWincrypt::~CAPIWincrypt()
{
    if (m_hAdvapi32 != nullptr) {
        FreeLibrary(m_hAdvapi32);
        m_hAdvapi32 = nullptr;
    }
    if (m_hCrypt32 != nullptr) {
        FreeLibrary(m_hCrypt32);
        m_hCrypt32 = nullptr;
    }
}

FARPROC CAPIWincrypt::LoadFunction(HMODULE hModule, const char* pszName)
{
    FARPROC pfn = GetProcAddress(hModule, pszName);
    if (pfn != nullptr)
        return pfn;
    CTarvoselException* e = new CTarvoselException(EXC_WINDOWS, GetLastError(),
                                                   "CAPIWinSCard::LoadFunction");
    LogInfo("No se ha cargado la funcion: %s", pszName);
    throw e;
}

template <typename T>
static void Resolve(T& pfn, HMODULE hModule, const char* pszName)
{
    pfn = reinterpret_cast<T>(reinterpret_cast<void*>(CAPIWincrypt::LoadFunction(hModule, pszName)));
}

void CAPIWincrypt::Load()
{
    if (IsLoaded())
        return;
    m_hCrypt32 = LoadLibraryA("crypt32.dll");
    if (m_hCrypt32 == nullptr)
        throw new CTarvoselException(EXC_WINDOWS, GetLastError(), "CAPIWincrypt::Load");
    m_hAdvapi32 = LoadLibraryA("advapi32.dll");
    if (m_hAdvapi32 == nullptr)
        throw new CTarvoselException(EXC_WINDOWS, GetLastError(), "CAPIWincrypt::Load");

    HMODULE crypt32 = m_hCrypt32;
    HMODULE advapi32 = m_hAdvapi32;
#define TVL_LOAD_ENTRY(module, name) Resolve(name, module, #name);
    TVL_WINCRYPT_ENTRIES(TVL_LOAD_ENTRY)

    // NT 4.0 has no provider enumeration; the session does not ask for it there.
    DWORD dwVersion = GetVersion();
    bool bNT4 = (dwVersion & 0x80000000) == 0 && LOBYTE(LOWORD(dwVersion)) == 4;
    if (!bNT4)
        Resolve(CryptEnumProvidersA, advapi32, "CryptEnumProvidersA");
    Resolve(CryptMsgControl, crypt32, "CryptMsgControl");
    TVL_WINCRYPT_PRIMITIVES(TVL_LOAD_ENTRY)
#undef TVL_LOAD_ENTRY
    LogInfo("CryptoAPI cargada correctamente");
}

void CAPIWincrypt::Unload()
{
    if (m_hCrypt32 != nullptr) {
        if (!FreeLibrary(m_hCrypt32))
            throw new CTarvoselException(EXC_WINDOWS, GetLastError(), "CAPIWincrypt::Unload");
        m_hCrypt32 = nullptr;
    }
    if (m_hAdvapi32 != nullptr) {
        if (!FreeLibrary(m_hAdvapi32))
            throw new CTarvoselException(EXC_WINDOWS, GetLastError(), "CAPIWincrypt::Unload");
        m_hAdvapi32 = nullptr;
    }
}
