#pragma once
#include <windows.h>
#include <string>

// What a hosted control's dispatch call raises when it fails: the control's own
// description, or the system's text for the failing HRESULT. Thrown by pointer
// (throw new CComponentException(...)); the handler calls Delete().
class CComponentException {
public:
    CComponentException(const char* pszMessage, HRESULT hr);
    virtual ~CComponentException() {}

    // Copies the message, cut to nMaxError - 1 characters and always terminated.
    // FALSE (and an empty buffer) when there is no message.
    virtual BOOL GetErrorMessage(LPSTR pszError, UINT nMaxError, PUINT pnHelpContext = NULL) const;
    HRESULT GetResult() const { return m_hr; }
    void Delete() { delete this; }

private:
    CComponentException(const CComponentException&) = delete;
    CComponentException& operator=(const CComponentException&) = delete;

    std::string m_strMessage;
    HRESULT m_hr;
};
