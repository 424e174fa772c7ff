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
