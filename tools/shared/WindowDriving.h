#pragma once
// Working another thread's windows the way a person would, from a thread of
// the same process: finding them, reading texts and list rows, selecting a
// row. Shared by the host's unattended login, the screenshot tool and the
// tests' drivers.
#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

namespace tvldrive {

inline std::string TextOf(HWND hWnd)
{
    if (hWnd == nullptr)
        return std::string();
    // A window whose thread is stuck does not stop the caller.
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

// The child windows of a window (all levels).
inline std::vector<HWND> ChildWindows(HWND hParent)
{
    std::vector<HWND> windows;
    EnumChildWindows(hParent, CollectWindow, reinterpret_cast<LPARAM>(&windows));
    return windows;
}

// Waits, with a bound, until cond holds.
template <typename F>
bool WaitUntil(F cond, DWORD dwMs)
{
    DWORD dwStart = GetTickCount();
    while (!cond()) {
        if (GetTickCount() - dwStart > dwMs)
            return false;
        Sleep(20);
    }
    return true;
}

inline bool IsPropertySheet(HWND hWnd)
{
    return reinterpret_cast<HWND>(SendMessageA(hWnd, PSM_GETTABCONTROL, 0, 0)) != nullptr;
}

// A message box: a dialog with its text in a static control of its own. A
// property sheet's texts are in its pages, and a sheet being destroyed may no
// longer answer for its tab control: without its own text it is no box.
inline bool IsMessageBox(HWND hWnd)
{
    if (ClassOf(hWnd) != "#32770")
        return false;
    for (HWND h = GetWindow(hWnd, GW_CHILD); h != nullptr; h = GetWindow(h, GW_HWNDNEXT)) {
        if (ClassOf(h) == "Static" && !TextOf(h).empty())
            return true;
    }
    return false;
}

// List views of this process: the item records can be passed directly.
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

// Selects the row as a click would (focus, selection, selection mark).
inline void ListSelect(HWND hList, int nItem)
{
    LVITEMA item = {};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    item.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageA(hList, LVM_SETITEMSTATE, static_cast<WPARAM>(nItem),
                 reinterpret_cast<LPARAM>(&item));
    SendMessageA(hList, LVM_SETSELECTIONMARK, 0, nItem);
    SendMessageA(hList, LVM_ENSUREVISIBLE, static_cast<WPARAM>(nItem), FALSE);
}

// The first row whose label contains strText; -1 when none.
inline int ListFind(HWND hList, const std::string& strText)
{
    for (int i = 0; i < ListCount(hList); ++i) {
        if (ListText(hList, i, 0).find(strText) != std::string::npos)
            return i;
    }
    return -1;
}

}  // namespace tvldrive
