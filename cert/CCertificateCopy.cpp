#include "cert/CCertificateCopy.h"

#include "api/CLog.h"
#include "api/LogEscape.h"
#include "api/CTarvoselException.h"
#include "api/ResultCodes.h"
#include "cert/CertificateText.h"

CCertificateCopy::CCertificateCopy(CCertificate& original)
    : m_strOwnerName(original.GetOwnerName()),
      m_strOwnerId(original.GetOwnerId()),
      m_strIssuer(original.GetIssuer()),
      m_strDisplayName(original.GetDisplayName()),
      m_strSubject(original.GetSubject()),
      m_strSerial(original.GetSerialNumber()),
      m_strVersion(original.GetVersion()),
      m_strThumbprint(original.GetThumbprint()),
      m_strEnhancedKeyUsage(original.GetEnhancedKeyUsage()),
      m_nSignatureUsage(original.GetSignatureUsage()),
      m_nStatus(original.GetValidityStatus()),
      m_nKeyUsage(original.GetKeyUsage()),
      m_tNotBefore(original.GetNotBefore()),
      m_tNotAfter(original.GetNotAfter()),
      m_tRenewal(original.GetRenewalDate()),
      m_tKeyEnd(original.GetKeyExpiryDate())
{
    try {
        original.GetProviderData(m_strProvider, m_strContainer);
    } catch (CTarvoselException* e) {
        m_bProviderFailed = true;
        m_nProviderKind = e->GetKind();
        m_nProviderValue = e->GetSubCode();
        m_strProviderContext = e->GetContext();
        delete e;
    }
}

void CCertificateCopy::CopyList(const CCertificateArray& lstOriginals, CCertificateArray& lstCopies)
{
    for (CCertificate* pOriginal : lstOriginals) {
        if (pOriginal != nullptr)
            lstCopies.push_back(new CCertificateCopy(*pOriginal));
    }
}

void CCertificateCopy::ExportCertificate(std::string strPath)
{
    throw new CTarvoselException(EXC_OWN, ERR_EXPORT_CERT, "CCertificateCopy::ExportCertificate");
}

void CCertificateCopy::GetProviderData(std::string& strProvider, std::string& strContainer)
{
    if (m_bProviderFailed)
        throw new CTarvoselException(m_nProviderKind, m_nProviderValue,
                                     m_strProviderContext.c_str());
    strProvider = m_strProvider;
    strContainer = m_strContainer;
}

void CCertificateCopy::LogDetails()
{
    static const char kDateFormat[] = "%d/%m/%Y, a las %H:%M";
    LogInfo("DN: %s", LogEscape(m_strSubject).c_str());
    LogInfo("N. serie: %s", LogEscape(m_strSerial).c_str());
    LogInfo("Uso: %s\tUso mejorado: %s", KeyUsageText(m_nKeyUsage).c_str(),
            LogEscape(m_strEnhancedKeyUsage).c_str());
    LogInfo("Válido desde %s, hasta %s", FormatTime64(m_tNotBefore, kDateFormat).c_str(),
            FormatTime64(m_tNotAfter, kDateFormat).c_str());
    LogInfo("Emitido por: %s", LogEscape(m_strIssuer).c_str());
}
