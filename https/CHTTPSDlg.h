#pragma once
#include "https/CHTTPS.h"
#include <windows.h>

// The hidden modeless dialog (template IDD_HTTPS) that hosts the HTTP/S
// component as control IDC_HTTPS_CONTROL. A session creates one on first need
// and keeps it; the window goes with the object, on the thread that created
// it even when the object goes on another (CThreadBoundWindows). Use it from
// the thread that created it.
class CHTTPSDlg {
public:
    CHTTPSDlg() : m_hWnd(NULL) {}
    ~CHTTPSDlg() { DestroyWindow(); }

    // Makes the window, not shown; true when it exists with its control bound
    // to GetHTTPS(). A second call keeps the existing window.
    bool Create(HWND hParent = NULL);
    void DestroyWindow();
    BOOL ShowWindow(int nCmdShow) { return m_hWnd != NULL ? ::ShowWindow(m_hWnd, nCmdShow) : FALSE; }
    HWND GetSafeHwnd() const { return m_hWnd; }
    CHTTPS& GetHTTPS() { return m_HTTPS; }

private:
    CHTTPSDlg(const CHTTPSDlg&) = delete;
    CHTTPSDlg& operator=(const CHTTPSDlg&) = delete;

    static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
    void DoDataExchange();
    void OnNcDestroy();

    HWND m_hWnd;
    CHTTPS m_HTTPS;
};
