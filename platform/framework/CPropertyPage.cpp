#include "platform/framework/CPropertyPage.h"

#include "platform/framework/CWinApp.h"

CPropertyPage::CPropertyPage(UINT nIDTemplate, const char* pszCaption)
    : CDialog(nIDTemplate), m_psp()
{
    if (pszCaption != nullptr)
        m_strCaption = pszCaption;
    m_psp.dwSize = sizeof(m_psp);
    m_psp.dwFlags = PSP_DEFAULT;
    m_psp.pszTemplate = MAKEINTRESOURCEA(nIDTemplate);
    m_psp.pfnDlgProc = PageProc;
    m_psp.lParam = reinterpret_cast<LPARAM>(this);
}

INT_PTR CALLBACK CPropertyPage::PageProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    CPropertyPage* pThis = static_cast<CPropertyPage*>(FromHandlePermanent(hWnd));
    if (pThis == nullptr && uMsg == WM_INITDIALOG) {
        pThis = reinterpret_cast<CPropertyPage*>(reinterpret_cast<PROPSHEETPAGEA*>(lParam)->lParam);
        pThis->BindDialog(hWnd);
    }
    if (pThis == nullptr)
        return FALSE;
    return pThis->DispatchDialogMessage(hWnd, uMsg, wParam, lParam);
}

INT_PTR CPropertyPage::DispatchDialogMessage(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    INT_PTR nResult = CDialog::DispatchDialogMessage(hWnd, uMsg, wParam, lParam);
    if (nResult != FALSE || uMsg != WM_NOTIFY)
        return nResult;
    // The sheet's notifications that the page's map left alone.
    switch (reinterpret_cast<LPNMHDR>(lParam)->code) {
        case PSN_SETACTIVE:
            ::SetWindowLongPtrA(hWnd, DWLP_MSGRESULT, OnSetActive() ? 0 : -1);
            return TRUE;
        case PSN_KILLACTIVE:
            ::SetWindowLongPtrA(hWnd, DWLP_MSGRESULT, OnKillActive() ? FALSE : TRUE);
            return TRUE;
        case PSN_APPLY:
            ::SetWindowLongPtrA(hWnd, DWLP_MSGRESULT, PSNRET_NOERROR);
            return TRUE;
        default:
            return FALSE;
    }
}
