#include "platform/httpscomp/CComponentDispatch.h"
#include "platform/httpscomp/CComponentException.h"
#include "platform/framework/SystemErrorText.h"
#include <oleauto.h>
#include <stdio.h>
#include <vector>

namespace {

// A VARIANT that clears itself.
struct CVariant : VARIANT {
    CVariant() { VariantInit(this); }
    ~CVariant() { VariantClear(this); }
    CVariant(const CVariant&) = delete;
    CVariant& operator=(const CVariant&) = delete;
};

std::string WideToAnsi(const wchar_t* psz, UINT cch)
{
    if (psz == NULL || cch == 0)
        return std::string();
    int n = WideCharToMultiByte(CP_ACP, 0, psz, (int)cch, NULL, 0, NULL, NULL);
    if (n <= 0)
        return std::string();
    std::string str(n, '\0');
    WideCharToMultiByte(CP_ACP, 0, psz, (int)cch, &str[0], n, NULL, NULL);
    return str;
}

BSTR AnsiToBstr(const char* psz)
{
    if (psz == NULL)
        psz = "";
    int n = MultiByteToWideChar(CP_ACP, 0, psz, -1, NULL, 0);
    if (n <= 0)
        throw new CComponentException("Cannot convert a text for the control", HRESULT_FROM_WIN32(GetLastError()));
    BSTR bstr = SysAllocStringLen(NULL, n - 1);
    if (bstr == NULL)
        throw new CComponentException("Out of memory", E_OUTOFMEMORY);
    MultiByteToWideChar(CP_ACP, 0, psz, -1, bstr, n);
    return bstr;
}

std::string HresultText(HRESULT hr)
{
    std::string strText = SystemErrorText((DWORD)hr);
    char szLine[64];
    snprintf(szLine, sizeof(szLine), "Dispatch call failed (0x%08lX)", (unsigned long)hr);
    return strText.empty() ? szLine : szLine + (": " + strText);
}

}  // namespace

CComponentDispatch::CComponentDispatch(HWND hControl) : m_pDispatch(NULL)
{
    if (hControl == NULL || !IsWindow(hControl))
        throw new CComponentException("The control window does not exist", E_HANDLE);
    m_pDispatch = reinterpret_cast<IDispatch*>(SendMessageW(hControl, WM_COMPONENT_GETDISPATCH, 0, 0));
    if (m_pDispatch == NULL)
        throw new CComponentException("The window is not a control with a dispatch interface", E_NOINTERFACE);
}

CComponentDispatch::~CComponentDispatch()
{
    if (m_pDispatch != NULL)
        m_pDispatch->Release();
}

void CComponentDispatch::Invoke(DISPID dispid, WORD wFlags, VARIANT* pArg, VARIANT* pResult)
{
    DISPID dispidNamed = DISPID_PROPERTYPUT;
    DISPPARAMS params = {};
    if (pArg != NULL) {
        params.rgvarg = pArg;
        params.cArgs = 1;
        if (wFlags & DISPATCH_PROPERTYPUT) {
            params.rgdispidNamedArgs = &dispidNamed;
            params.cNamedArgs = 1;
        }
    }
    EXCEPINFO excep = {};
    UINT nArgErr = 0;
    HRESULT hr = m_pDispatch->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, wFlags, &params, pResult,
                                     &excep, &nArgErr);
    if (hr == DISP_E_EXCEPTION) {
        if (excep.pfnDeferredFillIn != NULL)
            excep.pfnDeferredFillIn(&excep);
        std::string strMessage = WideToAnsi(excep.bstrDescription, SysStringLen(excep.bstrDescription));
        HRESULT hrControl = excep.scode != 0 ? excep.scode : (HRESULT)excep.wCode;
        SysFreeString(excep.bstrSource);
        SysFreeString(excep.bstrDescription);
        SysFreeString(excep.bstrHelpFile);
        if (strMessage.empty())
            strMessage = HresultText(hrControl);
        throw new CComponentException(strMessage.c_str(), hrControl);
    }
    if (FAILED(hr))
        throw new CComponentException(HresultText(hr).c_str(), hr);
}

void CComponentDispatch::PutText(DISPID dispid, const char* pszValue)
{
    CVariant arg;
    arg.bstrVal = AnsiToBstr(pszValue);
    arg.vt = VT_BSTR;
    // Texts may carry a password: the copy is overwritten before it is freed
    // (freed strings can stay in the string cache).
    struct CWipe {
        BSTR bstr;
        ~CWipe() { SecureZeroMemory(bstr, SysStringByteLen(bstr)); }
    } wipe{arg.bstrVal};
    Invoke(dispid, DISPATCH_PROPERTYPUT, &arg, NULL);
}

std::string CComponentDispatch::GetText(DISPID dispid)
{
    CVariant result;
    Invoke(dispid, DISPATCH_PROPERTYGET, NULL, &result);
    HRESULT hr = VariantChangeType(&result, &result, 0, VT_BSTR);
    if (FAILED(hr))
        throw new CComponentException(HresultText(hr).c_str(), hr);
    return WideToAnsi(result.bstrVal, SysStringLen(result.bstrVal));
}

void CComponentDispatch::PutLong(DISPID dispid, long nValue)
{
    CVariant arg;
    arg.vt = VT_I4;
    arg.lVal = nValue;
    Invoke(dispid, DISPATCH_PROPERTYPUT, &arg, NULL);
}

long CComponentDispatch::GetLong(DISPID dispid)
{
    CVariant result;
    Invoke(dispid, DISPATCH_PROPERTYGET, NULL, &result);
    HRESULT hr = VariantChangeType(&result, &result, 0, VT_I4);
    if (FAILED(hr))
        throw new CComponentException(HresultText(hr).c_str(), hr);
    return result.lVal;
}

INT_PTR CComponentDispatch::GetHandle(DISPID dispid)
{
    const VARTYPE vt = sizeof(INT_PTR) == 8 ? VT_I8 : VT_I4;
    CVariant result;
    Invoke(dispid, DISPATCH_PROPERTYGET, NULL, &result);
    HRESULT hr = VariantChangeType(&result, &result, 0, vt);
    if (FAILED(hr))
        throw new CComponentException(HresultText(hr).c_str(), hr);
    return vt == VT_I8 ? static_cast<INT_PTR>(result.llVal) : static_cast<INT_PTR>(result.lVal);
}

void CComponentDispatch::CallMethod(DISPID dispid)
{
    Invoke(dispid, DISPATCH_METHOD, NULL, NULL);
}
