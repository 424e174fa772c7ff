#pragma once
#include "platform/httpscomp/CHttpsCertSource.h"
#include <windows.h>
#include <oaidl.h>

// Window class of the component; a dialog template names it as a custom control.
#define TVL_HTTPS_COMPONENT_CLASS L"TvlHttpsComponent"

// The HTTP/S component: a window that carries a dispatch object. Each window of
// the class owns one object; WM_COMPONENT_GETDISPATCH hands it out. Failures of
// a dispatch call come back as DISP_E_EXCEPTION with a description.
//
// Dispatch ids: 37 SSLCertStore and 38 SSLCertSubject (text, get and put),
// 36 SSLCertHandle (32-bit integer, get only): the PCCERT_CONTEXT of the
// selected certificate, owned by the component and valid until its window is
// destroyed (see CHttpsCertSource for store texts and subject matching). Other
// ids are unknown members.
class CHttpsComponent : public IDispatch {
public:
    enum {
        DISPID_SSLCERTHANDLE = 36,
        DISPID_SSLCERTSTORE = 37,
        DISPID_SSLCERTSUBJECT = 38
    };

    // Registers the window class in hInstance; true when it is registered.
    // Registration is process-wide: call it from the thread that makes the windows.
    // Registering is the component's start-up: it sweeps the key containers that
    // crashed processes left (CKeyContainerSweeper).
    static bool RegisterWindowClass(HINSTANCE hInstance);
    // Unregisters the class unless windows of it still exist (then it is kept).
    static void UnregisterWindowClass(HINSTANCE hInstance);

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    // IDispatch
    STDMETHODIMP GetTypeInfoCount(UINT* pctinfo) override;
    STDMETHODIMP GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) override;
    STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid,
                               DISPID* rgDispId) override;
    STDMETHODIMP Invoke(DISPID dispid, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pParams,
                        VARIANT* pResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) override;

private:
    CHttpsComponent();
    virtual ~CHttpsComponent();
    CHttpsComponent(const CHttpsComponent&) = delete;
    CHttpsComponent& operator=(const CHttpsComponent&) = delete;

    static LRESULT CALLBACK WindowProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
    // The window is gone: the certificate and the store go with it.
    void OnWindowDestroyed();
    HRESULT PutText(DISPID dispid, DISPPARAMS* pParams, EXCEPINFO* pExcepInfo, UINT* puArgErr);
    HRESULT GetText(DISPID dispid, VARIANT* pResult);
    HRESULT GetHandle(VARIANT* pResult, EXCEPINFO* pExcepInfo);
    static HRESULT Raise(EXCEPINFO* pExcepInfo, const std::wstring& strMessage, HRESULT hr);

    LONG m_cRef;
    bool m_bDestroyed;
    CHttpsCertSource m_Source;
};
