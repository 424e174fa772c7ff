#pragma once
// The notification area that Wine provides: a "Wine System Tray" window
// (explorer's process) with one child window per entry. An entry's icon is
// read back from the screen where the entry's window shows it, its tip from
// the tray's tooltip when the pointer rests on it, and a click on that
// window reaches the entry's owner as the callback message, as a mouse click
// would.
#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "tests/support/TestWait.h"

namespace tvltest {

const char kTrayWindowClass[] = "__winex11_standalone_tray";
const char kTrayIconClass[] = "__winex11_tray_icon";

inline HWND SystemTrayWindow()
{
    return FindWindowA(kTrayWindowClass, nullptr);
}

inline BOOL CALLBACK CollectTrayIcon(HWND hWnd, LPARAM lParam)
{
    char sz[64] = {0};
    GetClassNameA(hWnd, sz, sizeof(sz));
    if (strcmp(sz, kTrayIconClass) == 0 && IsWindowVisible(hWnd))
        reinterpret_cast<std::vector<HWND>*>(lParam)->push_back(hWnd);
    return TRUE;
}

// The entries' windows the tray shows.
inline std::vector<HWND> TrayIconWindows()
{
    std::vector<HWND> icons;
    HWND hTray = SystemTrayWindow();
    if (hTray != nullptr && IsWindowVisible(hTray))
        EnumChildWindows(hTray, CollectTrayIcon, reinterpret_cast<LPARAM>(&icons));
    return icons;
}

// 32-bit pixels (0x00RRGGBB) of a w x h DIB drawn by fn.
template <typename Fn>
std::vector<DWORD> DrawPixels(int w, int h, Fn fn)
{
    std::vector<DWORD> pixels;
    HDC hScreen = GetDC(nullptr);
    HDC hMem = CreateCompatibleDC(hScreen);
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = -h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    void* pBits = nullptr;
    HBITMAP hBitmap = CreateDIBSection(hMem, &bi, DIB_RGB_COLORS, &pBits, nullptr, 0);
    if (hBitmap != nullptr) {
        HGDIOBJ hOld = SelectObject(hMem, hBitmap);
        fn(hMem, hScreen, static_cast<DWORD*>(pBits));
        GdiFlush();
        const DWORD* p = static_cast<const DWORD*>(pBits);
        for (int i = 0; i < w * h; ++i)
            pixels.push_back(p[i] & 0xFFFFFF);
        SelectObject(hMem, hOld);
        DeleteObject(hBitmap);
    }
    DeleteDC(hMem);
    ReleaseDC(nullptr, hScreen);
    return pixels;
}

// What an entry's window shows on the screen.
inline std::vector<DWORD> TrayIconPixels(HWND hIconWindow)
{
    RECT rc;
    GetWindowRect(hIconWindow, &rc);
    return DrawPixels(rc.right - rc.left, rc.bottom - rc.top, [&](HDC hMem, HDC hScreen, DWORD*) {
        BitBlt(hMem, 0, 0, rc.right - rc.left, rc.bottom - rc.top, hScreen, rc.left, rc.top,
               SRCCOPY);
    });
}

// The icon drawn the way the tray draws it (16 x 16, centred) on the
// background of an entry's window of that size.
inline std::vector<DWORD> ExpectedIconPixels(HICON hIcon, int w, int h, DWORD dwBackground)
{
    return DrawPixels(w, h, [&](HDC hMem, HDC, DWORD* pBits) {
        for (int i = 0; i < w * h; ++i)
            pBits[i] = dwBackground;
        DrawIconEx(hMem, (w - 16) / 2, (h - 16) / 2, hIcon, 16, 16, 0, nullptr, DI_NORMAL);
    });
}

// Whether the entry's window shows the icon: every pixel the icon covers
// fully is the icon's (the tray draws a new icon over the old one, so the
// half-covered pixels at the edges may keep some of the old picture).
inline bool TrayIconShows(HWND hIconWindow, HICON hIcon)
{
    RECT rc;
    if (!GetWindowRect(hIconWindow, &rc))
        return false;
    int w = rc.right - rc.left, h = rc.bottom - rc.top;
    std::vector<DWORD> shown = TrayIconPixels(hIconWindow);
    std::vector<DWORD> onWhite = ExpectedIconPixels(hIcon, w, h, 0xFFFFFF);
    std::vector<DWORD> onBlack = ExpectedIconPixels(hIcon, w, h, 0x000000);
    if (shown.size() != onWhite.size() || onWhite.size() != onBlack.size())
        return false;
    int nCovered = 0;
    for (size_t i = 0; i < shown.size(); ++i) {
        if (onWhite[i] != onBlack[i])
            continue;
        if (shown[i] != onWhite[i])
            return false;
        ++nCovered;
    }
    return nCovered > 0;
}

// The entry's window that shows the icon; null when none does within dwMs.
inline HWND WaitForTrayIcon(HICON hIcon, DWORD dwMs = 5000)
{
    HWND hFound = nullptr;
    WaitFor(
        [&] {
            for (HWND h : TrayIconWindows()) {
                if (TrayIconShows(h, hIcon)) {
                    hFound = h;
                    return true;
                }
            }
            return false;
        },
        dwMs);
    return hFound;
}

// The tip the tray shows for an entry's window, as a person sees it: the
// pointer rests on the entry, the tray's tooltip comes up after the hover
// time (half a second), and its text is read from that window. Empty when
// none shows within dwMs.
inline std::string TrayIconTip(HWND hIconWindow, DWORD dwMs = 5000)
{
    RECT rc;
    if (!GetWindowRect(hIconWindow, &rc))
        return std::string();
    struct Tooltips {
        DWORD dwProcess;
        std::vector<HWND> windows;
    } tips = {0, {}};
    GetWindowThreadProcessId(hIconWindow, &tips.dwProcess);
    std::string strTip;
    WaitFor(
        [&] {
            // Each move restarts the hover time: one, then wait.
            SetCursorPos((rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2);
            PostMessageA(hIconWindow, WM_MOUSEMOVE, 0, MAKELPARAM(8, 8));
            return WaitFor(
                [&] {
                    tips.windows.clear();
                    EnumWindows(
                        [](HWND h, LPARAM l) -> BOOL {
                            Tooltips* p = reinterpret_cast<Tooltips*>(l);
                            char sz[64] = {0};
                            DWORD dwProcess = 0;
                            GetWindowThreadProcessId(h, &dwProcess);
                            GetClassNameA(h, sz, sizeof(sz));
                            if (dwProcess == p->dwProcess &&
                                lstrcmpiA(sz, TOOLTIPS_CLASSA) == 0 && IsWindowVisible(h))
                                p->windows.push_back(h);
                            return TRUE;
                        },
                        reinterpret_cast<LPARAM>(&tips));
                    for (HWND h : tips.windows) {
                        // Asked of the window itself: GetWindowText gives the
                        // caption, which a tooltip of another process has not.
                        char szTip[256] = {0};
                        DWORD_PTR nLength = 0;
                        if (SendMessageTimeoutA(h, WM_GETTEXT, sizeof(szTip),
                                                reinterpret_cast<LPARAM>(szTip), SMTO_ABORTIFHUNG,
                                                1000, &nLength) &&
                            nLength > 0) {
                            strTip = szTip;
                            return true;
                        }
                    }
                    return false;
                },
                1500);
        },
        dwMs);
    return strTip;
}

// A left click on an entry's window.
inline void ClickTrayIcon(HWND hIconWindow)
{
    PostMessageA(hIconWindow, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(8, 8));
    PostMessageA(hIconWindow, WM_LBUTTONUP, 0, MAKELPARAM(8, 8));
}

inline void RightClickTrayIcon(HWND hIconWindow)
{
    PostMessageA(hIconWindow, WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(8, 8));
    PostMessageA(hIconWindow, WM_RBUTTONUP, 0, MAKELPARAM(8, 8));
}

}  // namespace tvltest
