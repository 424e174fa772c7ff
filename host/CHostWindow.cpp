#include "host/CHostWindow.h"

namespace {
BOOL CALLBACK FindHostWindowProc(HWND hWnd, LPARAM lParam)
{
    DWORD dwProcess = 0;
    GetWindowThreadProcessId(hWnd, &dwProcess);
    if (dwProcess == GetCurrentProcessId() && GetParent(hWnd) == nullptr && IsWindowVisible(hWnd)) {
        *reinterpret_cast<HWND*>(lParam) = hWnd;
        return FALSE;
    }
    return TRUE;
}
}  // namespace

HWND CHostWindow::Find()
{
    HWND hWnd = nullptr;
    EnumWindows(FindHostWindowProc, reinterpret_cast<LPARAM>(&hWnd));
    return hWnd != nullptr ? GetLastActivePopup(hWnd) : nullptr;
}
