#include "CPinDialog.h"

#include <stdio.h>

#include "resource.h"

namespace {
const int kMaxPin = 16;
}

INT_PTR CPinDialog::Run(HINSTANCE hInstance, HWND hParent, const std::string& strReader, int nTries,
                        std::string& strPin)
{
    CPinDialog dialog(strReader, nTries);
    INT_PTR nResult = DialogBoxParamA(hInstance, MAKEINTRESOURCEA(IDD_PIN), hParent, DialogProc,
                                      reinterpret_cast<LPARAM>(&dialog));
    if (nResult == IDOK)
        strPin = dialog.m_strPin;
    if (!dialog.m_strPin.empty())
        SecureZeroMemory(&dialog.m_strPin[0], dialog.m_strPin.size());
    return nResult == IDOK ? IDOK : IDCANCEL;
}

INT_PTR CALLBACK CPinDialog::DialogProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    if (uMsg == WM_INITDIALOG) {
        SetWindowLongPtrA(hWnd, DWLP_USER, lParam);
        return reinterpret_cast<CPinDialog*>(lParam)->OnInitDialog(hWnd);
    }
    CPinDialog* pThis = reinterpret_cast<CPinDialog*>(GetWindowLongPtrA(hWnd, DWLP_USER));
    if (pThis != nullptr && uMsg == WM_COMMAND)
        return pThis->OnCommand(hWnd, LOWORD(wParam), HIWORD(wParam));
    return FALSE;
}

BOOL CPinDialog::OnInitDialog(HWND hWnd)
{
    char szText[512];
    _snprintf(szText, sizeof(szText) - 1,
              "Introduzca el PIN de la tarjeta criptográfica del lector '%s'.",
              m_strReader.c_str());
    szText[sizeof(szText) - 1] = '\0';
    SetDlgItemTextA(hWnd, IDC_PIN_TEXT, szText);
    szText[0] = '\0';
    if (m_nTries == 1)
        lstrcpyA(szText, "Queda 1 intento antes de que la tarjeta se bloquee.");
    else if (m_nTries >= 0 && m_nTries < 3)
        _snprintf(szText, sizeof(szText) - 1,
                  "Quedan %d intentos antes de que la tarjeta se bloquee.", m_nTries);
    SetDlgItemTextA(hWnd, IDC_PIN_TRIES, szText);
    SendDlgItemMessageA(hWnd, IDC_PIN_EDIT, EM_LIMITTEXT, kMaxPin, 0);
    SetFocus(GetDlgItem(hWnd, IDC_PIN_EDIT));
    return FALSE;  // the focus is set
}

BOOL CPinDialog::OnCommand(HWND hWnd, WORD wId, WORD wNotify)
{
    switch (wId) {
        case IDC_PIN_EDIT:
            // An empty PIN would only ask the card whether it is verified.
            if (wNotify == EN_CHANGE)
                EnableWindow(GetDlgItem(hWnd, IDOK),
                             GetWindowTextLengthA(GetDlgItem(hWnd, IDC_PIN_EDIT)) > 0);
            return TRUE;
        case IDOK: {
            char szPin[kMaxPin + 1] = "";
            GetDlgItemTextA(hWnd, IDC_PIN_EDIT, szPin, sizeof(szPin));
            m_strPin = szPin;
            SecureZeroMemory(szPin, sizeof(szPin));
            if (m_strPin.empty())
                return TRUE;
            EndDialog(hWnd, IDOK);
            return TRUE;
        }
        case IDCANCEL:
            EndDialog(hWnd, IDCANCEL);
            return TRUE;
    }
    return FALSE;
}
