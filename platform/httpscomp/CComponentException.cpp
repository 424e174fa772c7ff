#include "platform/httpscomp/CComponentException.h"

CComponentException::CComponentException(const char* pszMessage, HRESULT hr)
    : m_strMessage(pszMessage != NULL ? pszMessage : ""), m_hr(hr)
{
}

BOOL CComponentException::GetErrorMessage(LPSTR pszError, UINT nMaxError, PUINT pnHelpContext) const
{
    if (pnHelpContext != NULL)
        *pnHelpContext = 0;
    if (pszError == NULL || nMaxError == 0)
        return FALSE;
    size_t nCopy = m_strMessage.size() < nMaxError - 1 ? m_strMessage.size() : nMaxError - 1;
    m_strMessage.copy(pszError, nCopy);
    pszError[nCopy] = '\0';
    return m_strMessage.empty() ? FALSE : TRUE;
}
