#include "platform/httpscomp/CComponentCrypt32.h"

CComponentCrypt32::CComponentCrypt32() : m_hModule(NULL), m_dwError(0), m_pszMissing("crypt32.dll")
{
#define TVL_CLEAR_ENTRY(name) name = NULL;
    TVL_COMPONENT_CRYPT32_ENTRIES(TVL_CLEAR_ENTRY)
#undef TVL_CLEAR_ENTRY
    HMODULE hModule = LoadLibraryA("crypt32.dll");
    if (hModule == NULL) {
        m_dwError = GetLastError();
        return;
    }
#define TVL_LOAD_ENTRY(name)                                                          \
    name = reinterpret_cast<decltype(&::name)>(                                     \
        reinterpret_cast<void*>(GetProcAddress(hModule, #name)));                     \
    if (name == NULL) {                                                               \
        m_dwError = GetLastError();                                                   \
        m_pszMissing = #name;                                                         \
        FreeLibrary(hModule);                                                         \
        return;                                                                       \
    }
    TVL_COMPONENT_CRYPT32_ENTRIES(TVL_LOAD_ENTRY)
#undef TVL_LOAD_ENTRY
    m_hModule = hModule;
    m_pszMissing = "";
}

CComponentCrypt32::~CComponentCrypt32()
{
    if (m_hModule != NULL)
        FreeLibrary(m_hModule);
}
