#pragma once
// The library's own dialogs as a driver thread sees them: the login sheet, its
// page and list, message boxes, the insert-card dialog.
#include <windows.h>
#include <commctrl.h>

#include <string>

#include "res/resource.h"
#include "tests/support/TestDriver.h"

namespace tvltest {

const char kLoginCaption[] = "Selecci\xF3n de certificado";

struct LoginSheet {
    HWND hSheet = nullptr;
    HWND hPage = nullptr;
    HWND hList = nullptr;

    HWND Ok() const { return GetDlgItem(hSheet, IDOK); }
    HWND Cancel() const { return GetDlgItem(hSheet, IDCANCEL); }
    HWND Tab() const
    {
        return reinterpret_cast<HWND>(SendMessageA(hSheet, PSM_GETTABCONTROL, 0, 0));
    }
    HWND View() const { return GetDlgItem(hPage, IDC_VIEW); }
    HWND Refresh() const { return GetDlgItem(hPage, IDC_REFRESH); }
    bool IsOpen() const { return hSheet != nullptr && IsWindow(hSheet) && IsWindowVisible(hSheet); }
    // Idle with rows read: "Actualizar" is enabled again once a refresh ends.
    bool WaitIdle(DWORD dwMs = 20000) const
    {
        return WaitFor(
            [&] {
                return IsWindowEnabled(Refresh()) && IsWindowEnabled(Cancel()) &&
                       ListCount(hList) > 0;
            },
            dwMs);
    }
    // Selects the row whose label contains strLabel; false without one.
    bool Select(const std::string& strLabel) const
    {
        int nRow = ListFind(hList, strLabel);
        if (nRow < 0)
            return false;
        ListSelect(hList, nRow);
        return true;
    }
};

// Waits for the login sheet of the thread, with its page and list.
inline LoginSheet WaitForLoginSheet(DWORD dwThreadId, DWORD dwMs = 20000)
{
    LoginSheet sheet;
    sheet.hSheet = WaitForWindow(
        dwThreadId, [](HWND h) { return TextOf(h) == kLoginCaption && IsPropertySheet(h); }, dwMs);
    if (sheet.hSheet != nullptr) {
        sheet.hPage =
            reinterpret_cast<HWND>(SendMessageA(sheet.hSheet, PSM_GETCURRENTPAGEHWND, 0, 0));
        sheet.hList = GetDlgItem(sheet.hPage, IDC_CERT_LIST);
    }
    return sheet;
}

// A message box of the login flow (the sheet's caption, no tab control).
inline HWND WaitForLoginMessageBox(DWORD dwThreadId, DWORD dwMs = 10000)
{
    return WaitForWindow(
        dwThreadId,
        [](HWND h) {
            return TextOf(h) == kLoginCaption && !IsPropertySheet(h) && IsMessageBox(h);
        },
        dwMs);
}

// The insert-card dialog: the dialog whose text asks for the card.
inline bool IsCardDialog(HWND hWnd)
{
    return ClassOf(hWnd) == "#32770" && GetDlgItem(hWnd, IDC_SCARD_TEXT) != nullptr &&
           GetDlgItem(hWnd, IDC_SCARD_ANIMATION) != nullptr;
}

inline HWND WaitForCardDialog(DWORD dwThreadId, DWORD dwMs = 10000)
{
    return WaitForWindow(dwThreadId, IsCardDialog, dwMs);
}

}  // namespace tvltest

namespace tvltest {

// Cancels the login sheet as a person would once it shows ("Cancelar" is
// pressed again until the sheet goes: a press during its first listing is
// not taken). False when no sheet showed or it stayed.
inline bool CancelLoginSheet(DWORD dwThreadId, DWORD dwMs = 20000)
{
    LoginSheet sheet = WaitForLoginSheet(dwThreadId, dwMs);
    if (!sheet.IsOpen())
        return false;
    return WaitFor(
        [&] {
            if (!sheet.IsOpen())
                return true;
            if (IsWindowEnabled(sheet.Cancel()))
                Click(sheet.Cancel());
            Sleep(200);
            return !sheet.IsOpen();
        },
        dwMs);
}

}  // namespace tvltest
