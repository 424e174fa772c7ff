#include "https/CHTTPSDlg.h"
#include "api/CLog.h"
#include "platform/framework/CThreadBoundWindows.h"
#include "platform/framework/CWinApp.h"
#include "platform/httpscomp/CHttpsComponent.h"
#include "res/resource.h"

bool CHTTPSDlg::Create(HWND hParent)
{
    if (m_hWnd != NULL)
        return true;
    HINSTANCE hInstance = CWinApp::GetInstanceHandle();
    if (!CHttpsComponent::RegisterWindowClass(hInstance)) {
        LogInfo("CHTTPSDlg::Create: no se ha podido registrar la clase del componente HTTPS (%lu)",
                GetLastError());
        return false;
    }
    HWND hWnd = CreateDialogParamA(hInstance, MAKEINTRESOURCEA(IDD_HTTPS), hParent, DialogProc,
                                   reinterpret_cast<LPARAM>(this));
    if (hWnd == NULL) {
        LogInfo("CHTTPSDlg::Create: no se ha podido crear el diálogo del componente HTTPS (%lu)",
                GetLastError());
        CHttpsComponent::UnregisterWindowClass(hInstance);
        return false;
    }
    CThreadBoundWindows::Add(hWnd);
    if (m_HTTPS.GetSafeHwnd() == NULL) {
        LogInfo("CHTTPSDlg::Create: el diálogo no contiene el componente HTTPS");
        DestroyWindow();
        return false;
    }
    return true;
}

void CHTTPSDlg::DestroyWindow()
{
    if (m_hWnd == NULL)
        return;
    HWND hWnd = m_hWnd;
    if (GetWindowThreadProcessId(hWnd, NULL) == GetCurrentThreadId()) {
        ::DestroyWindow(hWnd);  // WM_NCDESTROY clears m_hWnd
        if (m_hWnd == NULL)
            return;
    }
    // Another thread's window (the object goes with a session deleted on
    // the interface thread): unbound from the object, it goes on its own
    // thread.
    OnNcDestroy();
    CThreadBoundWindows::Destroy(hWnd);
}

void CHTTPSDlg::DoDataExchange()
{
    m_HTTPS.Attach(GetDlgItem(m_hWnd, IDC_HTTPS_CONTROL));
}

void CHTTPSDlg::OnNcDestroy()
{
    SetWindowLongPtrA(m_hWnd, DWLP_USER, 0);
    m_HTTPS.Detach();
    m_hWnd = NULL;
}

INT_PTR CALLBACK CHTTPSDlg::DialogProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    CHTTPSDlg* pThis = reinterpret_cast<CHTTPSDlg*>(GetWindowLongPtrA(hWnd, DWLP_USER));
    switch (uMsg) {
    case WM_INITDIALOG:
        pThis = reinterpret_cast<CHTTPSDlg*>(lParam);
        SetWindowLongPtrA(hWnd, DWLP_USER, lParam);
        pThis->m_hWnd = hWnd;
        pThis->DoDataExchange();
        return FALSE;
    case WM_NCDESTROY:
        if (pThis != NULL)
            pThis->OnNcDestroy();
        CThreadBoundWindows::Remove(hWnd);
        // The component's window has gone before this one: the last dialog
        // out takes its class with it.
        CHttpsComponent::UnregisterWindowClass(CWinApp::GetInstanceHandle());
        return FALSE;
    case CThreadBoundWindows::WM_DESTROY_REQUEST:
        ::DestroyWindow(hWnd);
        return TRUE;
    case WM_COMMAND:
        // Enter and Escape must not end a modeless dialog.
        return LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL;
    }
    return FALSE;
}
