#pragma once
#include <windows.h>
#include <oaidl.h>
#include <string>

// The HTTP/S component's window inside the hidden dialog. Everything goes
// through the component's dispatch interface; the wrapper keeps only the window.
class CHTTPS {
public:
    CHTTPS() : m_hWnd(NULL) {}

    void Attach(HWND hWnd) { m_hWnd = hWnd; }
    HWND Detach();
    HWND GetSafeHwnd() const { return m_hWnd; }

    // The three operations the library uses. A failure of the component is
    // logged with its message and thrown as ERR_SSL_OBJECT.
    void SetSSLCertStore(const char* pszStore);
    void SetSSLCertSubject(const char* pszSubject);
    INT_PTR GetSSLCertHandle();

    // Any other property by dispatch id; these throw the component's own
    // exception (CComponentException*).
    std::string GetTextProperty(DISPID dispid);
    void SetTextProperty(DISPID dispid, const char* pszValue);
    long GetLongProperty(DISPID dispid);
    void SetLongProperty(DISPID dispid, long nValue);

private:
    CHTTPS(const CHTTPS&) = delete;
    CHTTPS& operator=(const CHTTPS&) = delete;

    HWND m_hWnd;
};
