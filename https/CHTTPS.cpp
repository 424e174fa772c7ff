#include "https/CHTTPS.h"
#include "api/CLog.h"
#include "api/CTarvoselException.h"
#include "api/ResultCodes.h"
#include "platform/httpscomp/CComponentDispatch.h"
#include "platform/httpscomp/CComponentException.h"

namespace {

const DISPID DISPID_SSLCERTHANDLE = 36;
const DISPID DISPID_SSLCERTSTORE = 37;
const DISPID DISPID_SSLCERTSUBJECT = 38;

// The component's message goes to the log; the caller sees ERR_SSL_OBJECT.
[[noreturn]] void ThrowSSLObjectError(CComponentException* e, const char* pszContext)
{
    char szMessage[1024];
    e->GetErrorMessage(szMessage, sizeof(szMessage));
    LogInfo("%s", szMessage);
    e->Delete();
    throw new CTarvoselException(EXC_OWN, ERR_SSL_OBJECT, pszContext);
}

}  // namespace

HWND CHTTPS::Detach()
{
    HWND hWnd = m_hWnd;
    m_hWnd = NULL;
    return hWnd;
}

void CHTTPS::SetSSLCertStore(const char* pszStore)
{
    try {
        SetTextProperty(DISPID_SSLCERTSTORE, pszStore);
    } catch (CComponentException* e) {
        ThrowSSLObjectError(e, "CHTTPS::SetSSLCertStore");
    }
}

void CHTTPS::SetSSLCertSubject(const char* pszSubject)
{
    try {
        SetTextProperty(DISPID_SSLCERTSUBJECT, pszSubject);
    } catch (CComponentException* e) {
        ThrowSSLObjectError(e, "CHTTPS::SetSSLCertSubject");
    }
}

INT_PTR CHTTPS::GetSSLCertHandle()
{
    try {
        return CComponentDispatch(m_hWnd).GetHandle(DISPID_SSLCERTHANDLE);
    } catch (CComponentException* e) {
        ThrowSSLObjectError(e, "CHTTPS::GetSSLCertHandle");
    }
}

std::string CHTTPS::GetTextProperty(DISPID dispid)
{
    return CComponentDispatch(m_hWnd).GetText(dispid);
}

void CHTTPS::SetTextProperty(DISPID dispid, const char* pszValue)
{
    CComponentDispatch(m_hWnd).PutText(dispid, pszValue);
}

long CHTTPS::GetLongProperty(DISPID dispid)
{
    return CComponentDispatch(m_hWnd).GetLong(dispid);
}

void CHTTPS::SetLongProperty(DISPID dispid, long nValue)
{
    CComponentDispatch(m_hWnd).PutLong(dispid, nValue);
}
