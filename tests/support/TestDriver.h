#pragma once
// Driving real windows from a test: a driver thread works the windows of the
// thread that runs a modal loop, the way a person would (clicks, keys, rows),
// and reads what the controls show.
#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/TestWait.h"
#include "tools/shared/WindowDriving.h"

namespace tvltest {

using namespace tvldrive;

void CloseThreadDialogs(DWORD dwThreadId);

// Runs fn on a thread of its own from construction; Join waits for it (the
// destructor too, with a bound: a driver stuck for a minute is abandoned).
// With dwRescueThread, a driver whose test failed closes the dialogs that it
// left on that thread, so that the thread's modal loop ends.
class CDriver {
public:
    explicit CDriver(std::function<void()> fn, DWORD dwRescueThread = 0)
        : m_fn(std::move(fn)), m_dwRescueThread(dwRescueThread)
    {
        m_hThread = CreateThread(nullptr, 0, Proc, this, 0, nullptr);
    }
    ~CDriver() { Join(60000); }
    bool Join(DWORD dwMs = 60000)
    {
        if (m_hThread == nullptr)
            return true;
        bool bEnded = WaitForSingleObject(m_hThread, dwMs) == WAIT_OBJECT_0;
        if (!bEnded)
            TerminateThread(m_hThread, 1);
        CloseHandle(m_hThread);
        m_hThread = nullptr;
        return bEnded;
    }

private:
    CDriver(const CDriver&) = delete;
    CDriver& operator=(const CDriver&) = delete;
    static DWORD WINAPI Proc(LPVOID p)
    {
        CDriver* pThis = static_cast<CDriver*>(p);
        pThis->m_fn();
        if (pThis->m_dwRescueThread != 0 && ::testing::Test::HasFailure())
            CloseThreadDialogs(pThis->m_dwRescueThread);
        return 0;
    }
    std::function<void()> m_fn;
    DWORD m_dwRescueThread;
    HANDLE m_hThread = nullptr;
};

// Waits for a visible top-level window of the thread that satisfies pred.
inline HWND WaitForWindow(DWORD dwThreadId, const std::function<bool(HWND)>& pred,
                          DWORD dwMs = 10000)
{
    HWND hFound = nullptr;
    WaitFor(
        [&] {
            for (HWND h : ThreadWindows(dwThreadId)) {
                if (IsWindowVisible(h) && pred(h)) {
                    hFound = h;
                    return true;
                }
            }
            return false;
        },
        dwMs);
    return hFound;
}

// A visible dialog of the thread whose caption is strCaption.
inline HWND WaitForDialog(DWORD dwThreadId, const std::string& strCaption, DWORD dwMs = 10000)
{
    return WaitForWindow(
        dwThreadId, [&](HWND h) { return ClassOf(h) == "#32770" && TextOf(h) == strCaption; },
        dwMs);
}

// The message-box text: the static control of the box that carries text.
inline std::string MessageBoxText(HWND hBox)
{
    for (HWND h : ChildWindows(hBox)) {
        if (ClassOf(h) == "Static" && !TextOf(h).empty())
            return TextOf(h);
    }
    return std::string();
}

// A click on a button, posted: the driver does not wait for what the click
// starts (a modal dialog, a login attempt).
inline void Click(HWND hButton)
{
    PostMessageA(hButton, BM_CLICK, 0, 0);
}

// A key as the keyboard gives it to the window (the dialog manager of the
// window's loop sees it).
inline void PressKey(HWND hWnd, UINT nVirtualKey)
{
    PostMessageA(hWnd, WM_KEYDOWN, nVirtualKey, 1);
    PostMessageA(hWnd, WM_KEYUP, nVirtualKey, 0xC0000001);
}

// The image index of a list row; -1 when the row does not exist.
inline int ListImage(HWND hList, int nItem)
{
    LVITEMA item = {};
    item.mask = LVIF_IMAGE;
    item.iItem = nItem;
    if (!SendMessageA(hList, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item)))
        return -1;
    return item.iImage;
}

// Ends every dialog of the thread as Escape would, message boxes and property
// sheets included, until none is left (or five seconds have passed).
inline void CloseThreadDialogs(DWORD dwThreadId)
{
    WaitFor(
        [&] {
            bool bAny = false;
            for (HWND h : ThreadWindows(dwThreadId)) {
                if (!IsWindowVisible(h) || ClassOf(h) != "#32770")
                    continue;
                bAny = true;
                if (SendMessageA(h, PSM_GETTABCONTROL, 0, 0) != 0)
                    PostMessageA(GetDlgItem(h, IDCANCEL), BM_CLICK, 0, 0);
                else
                    PostMessageA(h, WM_COMMAND, IDCANCEL, 0);
            }
            if (bAny)
                Sleep(200);
            return !bAny;
        },
        5000);
}

inline std::string ListColumnHeading(HWND hList, int nCol)
{
    char sz[256] = {0};
    LVCOLUMNA column = {};
    column.mask = LVCF_TEXT;
    column.pszText = sz;
    column.cchTextMax = sizeof(sz);
    SendMessageA(hList, LVM_GETCOLUMNA, static_cast<WPARAM>(nCol),
                 reinterpret_cast<LPARAM>(&column));
    return sz;
}

}  // namespace tvltest
