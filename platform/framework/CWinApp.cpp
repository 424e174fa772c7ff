#include "platform/framework/CWinApp.h"

HINSTANCE CWinApp::m_hInstance = nullptr;

CWinApp::CWinApp() {}

CWinApp::~CWinApp() {}

HINSTANCE CWinApp::GetInstanceHandle()
{
    return m_hInstance != nullptr ? m_hInstance : GetModuleHandleA(nullptr);
}

void CWinApp::SetInstanceHandle(HINSTANCE hInstance)
{
    m_hInstance = hInstance;
}

HMODULE CWinApp::PinModule()
{
    if (m_hInstance == nullptr || m_hInstance == GetModuleHandleA(nullptr))
        return nullptr;
    HMODULE hModule = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<LPCSTR>(&CWinApp::PinModule), &hModule))
        return nullptr;
    return hModule;
}
