#include "platform/httpscomp/CHttpsComponent.h"
#include "platform/httpscomp/CComponentDispatch.h"
#include "platform/httpscomp/CKeyContainerSweeper.h"
#include <new>
#include <oleauto.h>
#include <stdint.h>


bool CHttpsComponent::RegisterWindowClass(HINSTANCE hInstance)
{
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    if (GetClassInfoExW(hInstance, TVL_HTTPS_COMPONENT_CLASS, &wc))
        return true;
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = hInstance;
    wc.hCursor = LoadCursor(NULL, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = TVL_HTTPS_COMPONENT_CLASS;
    if (RegisterClassExW(&wc) == 0)
        return GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
    // The component starts: keys that a crashed process left on disk go now.
    CKeyContainerSweeper::Sweep();
    return true;
}

void CHttpsComponent::UnregisterWindowClass(HINSTANCE hInstance)
{
    // Fails with ERROR_CLASS_HAS_WINDOWS while another window still uses it:
    // the last one out unregisters.
    UnregisterClassW(TVL_HTTPS_COMPONENT_CLASS, hInstance);
}

LRESULT CALLBACK CHttpsComponent::WindowProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    CHttpsComponent* pThis = reinterpret_cast<CHttpsComponent*>(GetWindowLongPtrW(hWnd, GWLP_USERDATA));
    switch (uMsg) {
    case WM_NCCREATE:
        pThis = new (std::nothrow) CHttpsComponent;
        if (pThis == NULL)
            return FALSE;
        SetWindowLongPtrW(hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(pThis));
        break;
    case WM_NCDESTROY:
        if (pThis != NULL) {
            SetWindowLongPtrW(hWnd, GWLP_USERDATA, 0);
            pThis->OnWindowDestroyed();
            pThis->Release();
        }
        break;
    case WM_COMPONENT_GETDISPATCH:
        if (pThis == NULL)
            return 0;
        pThis->AddRef();
        return reinterpret_cast<LRESULT>(static_cast<IDispatch*>(pThis));
    }
    return DefWindowProcW(hWnd, uMsg, wParam, lParam);
}

CHttpsComponent::CHttpsComponent() : m_cRef(1), m_bDestroyed(false) {}

CHttpsComponent::~CHttpsComponent() {}

void CHttpsComponent::OnWindowDestroyed()
{
    m_bDestroyed = true;
    m_Source.Close();
}

STDMETHODIMP CHttpsComponent::QueryInterface(REFIID riid, void** ppv)
{
    if (ppv == NULL)
        return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch)) {
        *ppv = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = NULL;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) CHttpsComponent::AddRef()
{
    return (ULONG)InterlockedIncrement(&m_cRef);
}

STDMETHODIMP_(ULONG) CHttpsComponent::Release()
{
    LONG n = InterlockedDecrement(&m_cRef);
    if (n == 0)
        delete this;
    return (ULONG)n;
}

STDMETHODIMP CHttpsComponent::GetTypeInfoCount(UINT* pctinfo)
{
    if (pctinfo == NULL)
        return E_POINTER;
    *pctinfo = 0;
    return S_OK;
}

STDMETHODIMP CHttpsComponent::GetTypeInfo(UINT, LCID, ITypeInfo** ppTInfo)
{
    if (ppTInfo != NULL)
        *ppTInfo = NULL;
    return DISP_E_BADINDEX;
}

STDMETHODIMP CHttpsComponent::GetIDsOfNames(REFIID, LPOLESTR* rgszNames, UINT cNames, LCID, DISPID* rgDispId)
{
    static const struct {
        const wchar_t* pszName;
        DISPID dispid;
    } s_aNames[] = {
        { L"SSLCertHandle", DISPID_SSLCERTHANDLE },
        { L"SSLCertStore", DISPID_SSLCERTSTORE },
        { L"SSLCertSubject", DISPID_SSLCERTSUBJECT },
    };
    if (rgszNames == NULL || rgDispId == NULL)
        return E_POINTER;
    HRESULT hr = S_OK;
    for (UINT i = 0; i < cNames; i++) {
        rgDispId[i] = DISPID_UNKNOWN;
        for (const auto& name : s_aNames)
            if (rgszNames[i] != NULL && _wcsicmp(rgszNames[i], name.pszName) == 0)
                rgDispId[i] = name.dispid;
        if (rgDispId[i] == DISPID_UNKNOWN)
            hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
}

HRESULT CHttpsComponent::Raise(EXCEPINFO* pExcepInfo, const std::wstring& strMessage, HRESULT hr)
{
    if (pExcepInfo != NULL) {
        ZeroMemory(pExcepInfo, sizeof(*pExcepInfo));
        pExcepInfo->bstrSource = SysAllocString(TVL_HTTPS_COMPONENT_CLASS);
        pExcepInfo->bstrDescription = SysAllocStringLen(strMessage.data(), (UINT)strMessage.size());
        pExcepInfo->scode = hr;
    }
    return DISP_E_EXCEPTION;
}

STDMETHODIMP CHttpsComponent::Invoke(DISPID dispid, REFIID riid, LCID, WORD wFlags, DISPPARAMS* pParams,
                                     VARIANT* pResult, EXCEPINFO* pExcepInfo, UINT* puArgErr)
{
    if (!IsEqualIID(riid, IID_NULL))
        return DISP_E_UNKNOWNINTERFACE;
    bool bPut = (wFlags & DISPATCH_PROPERTYPUT) != 0;
    bool bGet = (wFlags & DISPATCH_PROPERTYGET) != 0;
    switch (dispid) {
    case DISPID_SSLCERTSTORE:
    case DISPID_SSLCERTSUBJECT:
        if (bPut)
            return PutText(dispid, pParams, pExcepInfo, puArgErr);
        if (bGet)
            return GetText(dispid, pResult);
        break;
    case DISPID_SSLCERTHANDLE:
        if (bGet)
            return GetHandle(pResult, pExcepInfo);
        break;
    }
    return DISP_E_MEMBERNOTFOUND;
}

HRESULT CHttpsComponent::PutText(DISPID dispid, DISPPARAMS* pParams, EXCEPINFO* pExcepInfo, UINT* puArgErr)
{
    if (pParams == NULL || pParams->cArgs != 1)
        return DISP_E_BADPARAMCOUNT;
    if (m_bDestroyed)
        return Raise(pExcepInfo, L"The component's window has been destroyed", E_UNEXPECTED);
    VARIANT value;
    VariantInit(&value);
    if (FAILED(VariantChangeType(&value, &pParams->rgvarg[0], 0, VT_BSTR))) {
        if (puArgErr != NULL)
            *puArgErr = 0;
        return DISP_E_TYPEMISMATCH;
    }
    std::wstring strValue(value.bstrVal, SysStringLen(value.bstrVal));
    // A store text carries the PFX password: no copy of it outlives the call.
    SecureZeroMemory(value.bstrVal, SysStringByteLen(value.bstrVal));
    VariantClear(&value);
    bool bOk = true;
    if (dispid == DISPID_SSLCERTSUBJECT)
        m_Source.SetSubject(strValue);
    else
        bOk = m_Source.SetStore(strValue);
    if (!strValue.empty())
        SecureZeroMemory(&strValue[0], strValue.size() * sizeof(wchar_t));
    if (!bOk)
        return Raise(pExcepInfo, m_Source.GetError(), E_FAIL);
    return S_OK;
}

HRESULT CHttpsComponent::GetText(DISPID dispid, VARIANT* pResult)
{
    if (pResult == NULL)
        return E_POINTER;
    const std::wstring& str = dispid == DISPID_SSLCERTSTORE ? m_Source.GetStoreText() : m_Source.GetSubject();
    BSTR bstr = SysAllocStringLen(str.data(), (UINT)str.size());
    if (bstr == NULL)
        return E_OUTOFMEMORY;
    VariantInit(pResult);
    pResult->vt = VT_BSTR;
    pResult->bstrVal = bstr;
    return S_OK;
}

HRESULT CHttpsComponent::GetHandle(VARIANT* pResult, EXCEPINFO* pExcepInfo)
{
    if (pResult == NULL)
        return E_POINTER;
    if (m_bDestroyed)
        return Raise(pExcepInfo, L"The component's window has been destroyed", E_UNEXPECTED);
    PCCERT_CONTEXT pCert = NULL;
    if (!m_Source.GetCertificate(pCert))
        return Raise(pExcepInfo, m_Source.GetError(), CRYPT_E_NOT_FOUND);
    VariantInit(pResult);
    // The handle is the context's address: it must reach a 64-bit host whole.
#ifdef _WIN64
    pResult->vt = VT_I8;
    pResult->llVal = reinterpret_cast<intptr_t>(pCert);
#else
    pResult->vt = VT_I4;
    pResult->lVal = reinterpret_cast<intptr_t>(pCert);
#endif
    return S_OK;
}
