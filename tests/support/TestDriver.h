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

namespace tvltest {

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

inline std::string TextOf(HWND hWnd)
{
    if (hWnd == nullptr)
        return std::string();
    // WM_GETTEXT through SendMessageTimeout: a window whose thread is stuck
    // does not stop the driver.
    char sz[4096] = {0};
    DWORD_PTR n = 0;
    SendMessageTimeoutA(hWnd, WM_GETTEXT, sizeof(sz), reinterpret_cast<LPARAM>(sz), SMTO_NORMAL,
                        5000, &n);
    return std::string(sz);
}

inline std::string ClassOf(HWND hWnd)
{
    char sz[256] = {0};
    GetClassNameA(hWnd, sz, sizeof(sz));
    return sz;
}

inline BOOL CALLBACK CollectWindow(HWND hWnd, LPARAM lParam)
{
    reinterpret_cast<std::vector<HWND>*>(lParam)->push_back(hWnd);
    return TRUE;
}

// The top-level windows of a thread.
inline std::vector<HWND> ThreadWindows(DWORD dwThreadId)
{
    std::vector<HWND> windows;
    EnumThreadWindows(dwThreadId, CollectWindow, reinterpret_cast<LPARAM>(&windows));
    return windows;
}

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

// The child windows of a window (all levels).
inline std::vector<HWND> ChildWindows(HWND hParent)
{
    std::vector<HWND> windows;
    EnumChildWindows(hParent, CollectWindow, reinterpret_cast<LPARAM>(&windows));
    return windows;
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

// List views, read and worked from another thread. Texts go through the
// other process's memory in general; here the control lives in our process,
// so the item records can be passed directly.
inline int ListCount(HWND hList)
{
    return static_cast<int>(SendMessageA(hList, LVM_GETITEMCOUNT, 0, 0));
}

inline std::string ListText(HWND hList, int nItem, int nSubItem)
{
    char sz[1024] = {0};
    LVITEMA item = {};
    item.iSubItem = nSubItem;
    item.pszText = sz;
    item.cchTextMax = sizeof(sz);
    SendMessageA(hList, LVM_GETITEMTEXTA, static_cast<WPARAM>(nItem),
                 reinterpret_cast<LPARAM>(&item));
    return sz;
}

inline int ListImage(HWND hList, int nItem)
{
    LVITEMA item = {};
    item.mask = LVIF_IMAGE;
    item.iItem = nItem;
    if (!SendMessageA(hList, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item)))
        return -1;
    return item.iImage;
}

// Selects the row as a click would (focus, selection, selection mark).
inline void ListSelect(HWND hList, int nItem)
{
    LVITEMA item = {};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    item.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageA(hList, LVM_SETITEMSTATE, static_cast<WPARAM>(nItem),
                 reinterpret_cast<LPARAM>(&item));
    SendMessageA(hList, LVM_SETSELECTIONMARK, 0, nItem);
}

// The row whose label contains strText; -1 when none.
inline int ListFind(HWND hList, const std::string& strText)
{
    for (int i = 0; i < ListCount(hList); ++i) {
        if (ListText(hList, i, 0).find(strText) != std::string::npos)
            return i;
    }
    return -1;
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
