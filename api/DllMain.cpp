#include <windows.h>

#include "app/CTarvoselApp.h"

BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID pReserved)
{
    switch (dwReason) {
    case DLL_PROCESS_ATTACH:
        // Thread notifications stay on: an ending thread hands its runtime
        // record back (DllRuntime.cpp).
        CWinApp::SetInstanceHandle(hInstance);
        return GetTarvoselApp().InitInstance();
    case DLL_PROCESS_DETACH:
        // At process exit (pReserved set) other DLLs may already be gone.
        if (pReserved == nullptr)
            GetTarvoselApp().ExitInstance();
        break;
    default:
        break;
    }
    return TRUE;
}
