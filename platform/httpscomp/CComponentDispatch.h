#pragma once
#include <windows.h>
#include <oaidl.h>
#include <string>

// A hosted control's window answers this with its IDispatch, already AddRef'ed
// for the caller (0 when it has none).
const UINT WM_COMPONENT_GETDISPATCH = WM_USER + 0x0200;

// Host side of a control's dispatch interface (the framework's dispatch driver):
// property get/put and method calls by dispatch id. Texts go in and out as
// 8-bit ANSI strings. Every failure is thrown as new CComponentException.
class CComponentDispatch {
public:
    // Takes the dispatch interface of the control window hControl.
    explicit CComponentDispatch(HWND hControl);
    ~CComponentDispatch();

    void PutText(DISPID dispid, const char* pszValue);
    std::string GetText(DISPID dispid);
    void PutLong(DISPID dispid, long nValue);
    long GetLong(DISPID dispid);
    // A pointer-sized value (a handle), whole on either width.
    INT_PTR GetHandle(DISPID dispid);
    void CallMethod(DISPID dispid);

private:
    CComponentDispatch(const CComponentDispatch&) = delete;
    CComponentDispatch& operator=(const CComponentDispatch&) = delete;

    // pArg: the one argument of a put, or NULL; pResult: receives a get's value.
    void Invoke(DISPID dispid, WORD wFlags, VARIANT* pArg, VARIANT* pResult);

    IDispatch* m_pDispatch;
};
