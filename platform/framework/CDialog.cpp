#include "platform/framework/CDialog.h"

#include "platform/framework/CWinApp.h"

void DDX_Control(CDataExchange* pDX, int nID, CWnd& wnd)
{
    if (wnd.m_hWnd != nullptr)
        return;
    HWND hCtrl = ::GetDlgItem(pDX->m_hDlg, nID);
    if (hCtrl != nullptr)
        wnd.SubclassWindow(hCtrl);
}

void DDX_Text(CDataExchange* pDX, int nID, std::string& strValue)
{
    HWND hCtrl = ::GetDlgItem(pDX->m_hDlg, nID);
    if (hCtrl == nullptr)
        return;
    if (pDX->m_bSaveAndValidate)
        strValue = CWnd::GetWindowText(hCtrl);
    else
        ::SetWindowTextA(hCtrl, strValue.c_str());
}

void DDX_Check(CDataExchange* pDX, int nID, int& nValue)
{
    HWND hCtrl = ::GetDlgItem(pDX->m_hDlg, nID);
    if (hCtrl == nullptr)
        return;
    if (pDX->m_bSaveAndValidate)
        nValue = static_cast<int>(::SendMessageA(hCtrl, BM_GETCHECK, 0, 0));
    else
        ::SendMessageA(hCtrl, BM_SETCHECK, static_cast<WPARAM>(nValue), 0);
}

void DDX_CBIndex(CDataExchange* pDX, int nID, int& nIndex)
{
    HWND hCtrl = ::GetDlgItem(pDX->m_hDlg, nID);
    if (hCtrl == nullptr)
        return;
    if (pDX->m_bSaveAndValidate)
        nIndex = static_cast<int>(::SendMessageA(hCtrl, CB_GETCURSEL, 0, 0));
    else
        ::SendMessageA(hCtrl, CB_SETCURSEL, static_cast<WPARAM>(nIndex), 0);
}

void DDX_Radio(CDataExchange* pDX, int nID, int& nIndex)
{
    HWND hCtrl = ::GetDlgItem(pDX->m_hDlg, nID);
    if (hCtrl == nullptr)
        return;
    if (pDX->m_bSaveAndValidate)
        nIndex = -1;
    int i = 0;
    for (HWND h = hCtrl; h != nullptr; h = ::GetWindow(h, GW_HWNDNEXT)) {
        if (h != hCtrl && (::GetWindowLongA(h, GWL_STYLE) & WS_GROUP))
            break;
        if (!(::SendMessageA(h, WM_GETDLGCODE, 0, 0) & DLGC_RADIOBUTTON))
            continue;
        if (pDX->m_bSaveAndValidate) {
            if (::SendMessageA(h, BM_GETCHECK, 0, 0) == BST_CHECKED)
                nIndex = i;
        } else {
            ::SendMessageA(h, BM_SETCHECK, i == nIndex ? BST_CHECKED : BST_UNCHECKED, 0);
        }
        ++i;
    }
}

CDialog::CDialog(UINT nIDTemplate) : m_nIDTemplate(nIDTemplate) {}

CDialog::~CDialog()
{
    if (!m_bModal && m_hWnd != nullptr && ::IsWindow(m_hWnd))
        ::DestroyWindow(m_hWnd);
}

INT_PTR CDialog::DoModal(HWND hWndParent)
{
    InitCommonControls();
    m_bModal = true;
    INT_PTR nResult =
        ::DialogBoxParamA(CWinApp::GetInstanceHandle(), MAKEINTRESOURCEA(m_nIDTemplate), hWndParent,
                          DialogProc, reinterpret_cast<LPARAM>(this));
    m_bModal = false;
    return nResult;
}

bool CDialog::Create(HWND hWndParent)
{
    if (m_hWnd != nullptr)
        return true;
    m_bModal = false;
    InitCommonControls();
    HWND hWnd = ::CreateDialogParamA(CWinApp::GetInstanceHandle(), MAKEINTRESOURCEA(m_nIDTemplate),
                                     hWndParent, DialogProc, reinterpret_cast<LPARAM>(this));
    return hWnd != nullptr;
}

void CDialog::EndDialog(int nResult)
{
    if (m_hWnd != nullptr)
        ::EndDialog(m_hWnd, nResult);
}

BOOL CDialog::UpdateData(BOOL bSaveAndValidate)
{
    if (m_hWnd == nullptr)
        return FALSE;
    CDataExchange dx(m_hWnd, bSaveAndValidate != FALSE);
    DoDataExchange(&dx);
    return TRUE;
}

BOOL CDialog::OnInitDialog()
{
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::OnOK()
{
    if (UpdateData(TRUE))
        EndDialog(IDOK);
}

void CDialog::OnCancel()
{
    EndDialog(IDCANCEL);
}

void CDialog::BindDialog(HWND hWnd)
{
    SetPermanent(hWnd);
}

INT_PTR CALLBACK CDialog::DialogProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    CDialog* pThis = static_cast<CDialog*>(FromHandlePermanent(hWnd));
    if (pThis == nullptr && uMsg == WM_INITDIALOG) {
        pThis = reinterpret_cast<CDialog*>(lParam);
        pThis->BindDialog(hWnd);
    }
    if (pThis == nullptr)
        return FALSE;
    return pThis->DispatchDialogMessage(hWnd, uMsg, wParam, lParam);
}

INT_PTR CDialog::DispatchDialogMessage(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    if (uMsg == WM_INITDIALOG)
        return OnInitDialog();

    MSG msg = {hWnd, uMsg, wParam, lParam, 0, {0, 0}};
    const MSG* pOldMsg = m_pCurrentMsg;
    m_pCurrentMsg = &msg;
    LRESULT lResult = 0;
    BOOL bHandled = ProcessWindowMessage(hWnd, uMsg, wParam, lParam, lResult);
    m_pCurrentMsg = pOldMsg;

    if (!bHandled && uMsg == WM_COMMAND && HIWORD(wParam) == BN_CLICKED) {
        if (LOWORD(wParam) == IDOK) {
            OnOK();
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            OnCancel();
            return TRUE;
        }
    }
    if (uMsg == WM_NCDESTROY) {
        ClearPermanent();
        m_hWnd = nullptr;
        OnFinalMessage(hWnd);
        return FALSE;
    }
    if (!bHandled)
        return FALSE;
    switch (uMsg) {
        // These give their result as the procedure's own.
        case WM_COMPAREITEM:
        case WM_VKEYTOITEM:
        case WM_CHARTOITEM:
        case WM_QUERYDRAGICON:
        case WM_CTLCOLORMSGBOX:
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORLISTBOX:
        case WM_CTLCOLORBTN:
        case WM_CTLCOLORDLG:
        case WM_CTLCOLORSCROLLBAR:
        case WM_CTLCOLORSTATIC:
            return static_cast<INT_PTR>(lResult);
        default:
            ::SetWindowLongPtrA(hWnd, DWLP_MSGRESULT, lResult);
            return TRUE;
    }
}
