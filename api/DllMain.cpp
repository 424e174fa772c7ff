#include <windows.h>

#include "app/CTarvoselApp.h"

BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID pReserved)
{
    switch (dwReason) {
    case DLL_PROCESS_ATTACH:
        DisableThreadLibraryCalls(hInstance);
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
