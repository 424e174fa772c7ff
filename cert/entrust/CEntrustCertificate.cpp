#include "cert/entrust/CEntrustCertificate.h"

#include <stdio.h>
#include <time.h>

#include "api/CLog.h"
#include "api/LogEscape.h"
#include "api/CTarvoselException.h"
#include "api/ResultCodes.h"
#include "cert/entrust/EntrustCode.h"
#include "cert/CertificateText.h"
#include "platform/entrust/EntCertificate.h"
#include "platform/entrust/EntFile.h"
#include "platform/framework/SystemErrorText.h"
#include "platform/framework/Win32Handles.h"

namespace {
const char kNotAvailable[] = "No disponible";
const char kDateFormat[] = "%d/%m/%Y, a las %H:%M";

std::string Upper(std::string strText)
{
    if (!strText.empty())
        CharUpperBuffA(&strText[0], static_cast<DWORD>(strText.size()));
    return strText;
}

// A toolkit time (seconds since 1970, UTC) as local wall-clock text.
std::string LocalDate(TIME64 tUtc)
{
    ULARGE_INTEGER u;
    u.QuadPart = static_cast<ULONGLONG>(tUtc * 10000000LL + 116444736000000000LL);
    FILETIME ft;
    ft.dwLowDateTime = u.LowPart;
    ft.dwHighDateTime = u.HighPart;
    return FormatTime64(tUtc >= 0 ? FileTimeToLocalTime64(ft) : tUtc, kDateFormat);
}

struct CUsageFlag {
    KEY_USAGE eUsage;
    int nFlag;
};
const CUsageFlag kUsageFlags[] = {
    {KEY_USAGE_DIGITAL_SIGNATURE, KU_DIGITAL_SIGNATURE}, {KEY_USAGE_NON_REPUDIATION, KU_NON_REPUDIATION},
    {KEY_USAGE_KEY_ENCIPHERMENT, KU_KEY_ENCIPHERMENT},   {KEY_USAGE_DATA_ENCIPHERMENT, KU_DATA_ENCIPHERMENT},
    {KEY_USAGE_KEY_AGREEMENT, KU_KEY_AGREEMENT},         {KEY_USAGE_CERT_SIGN, KU_KEY_CERT_SIGN},
    {KEY_USAGE_CRL_SIGN, KU_CRL_SIGN}};
}  // namespace

CEntrustCertificate::CEntrustCertificate()
    : m_pEntCert(nullptr), m_pEntFileRef(nullptr), m_tNotBefore(0), m_tNotAfter(0), m_tKeyEnd(0),
      m_tRenewal(0), m_nKeyUsage(0), m_nStatus(0)
{
}

CEntrustCertificate::~CEntrustCertificate()
{
    delete m_pEntCert;
}

void CEntrustCertificate::CutOwner(const std::string& strCommonName, std::string& strName,
                                   std::string& strId)
{
    size_t nStart = strCommonName.find("NOMBRE ");
    nStart = nStart == std::string::npos ? 0 : nStart + 7;
    size_t nEnd = strCommonName.find(" -", nStart);
    strName = Trim(strCommonName.substr(nStart, nEnd == std::string::npos ? std::string::npos
                                                                          : nEnd - nStart));
    strId.clear();
    size_t nId = strCommonName.find(" - NIF ");
    if (nId == std::string::npos)
        nId = strCommonName.find(" - NIE ");
    if (nId != std::string::npos) {
        nStart = nId + 7;
        nEnd = strCommonName.find(' ', nStart);
        strId = Trim(strCommonName.substr(nStart, nEnd == std::string::npos ? std::string::npos
                                                                            : nEnd - nStart));
    }
}

TIME64 CEntrustCertificate::RenewalDate(TIME64 tNotBefore, TIME64 tNotAfter, TIME64 tKeyEnd)
{
    if (tKeyEnd == 0)
        return 0;
    TIME64 tRenewal = tKeyEnd - static_cast<TIME64>(RENEWAL_PERIOD_DAYS) * 86400;
    TIME64 tMid = tNotBefore + (tNotAfter - tNotBefore) / 2;
    // Never before the middle of the validity, unless the key ends before it;
    // never before the validity starts.
    TIME64 tFloor = tKeyEnd >= tMid ? tMid : tNotBefore;
    return tRenewal < tFloor ? tFloor : tRenewal;
}

int CEntrustCertificate::Status(TIME64 tNow, TIME64 tNotBefore, TIME64 tNotAfter, TIME64 tKeyEnd,
                                TIME64 tRenewal)
{
    if (tNotAfter < tNow)
        return VALIDITY_EXPIRED;
    if (tKeyEnd < tNow)
        return VALIDITY_KEY_EXPIRED;
    if (tRenewal < tNow)
        return VALIDITY_RENEWAL;
    if (tNotBefore < tNow)
        return VALIDITY_VALID;
    return VALIDITY_NOT_YET_VALID;
}

void CEntrustCertificate::Create(const BinData& encoded, EntFile* pEntFile)
{
    TIME64 tNow = time(nullptr);
    delete m_pEntCert;
    m_pEntCert = new EntCertificate(pEntFile, encoded, 1);
    m_pEntFileRef = pEntFile;

    m_nKeyUsage = 0;
    bool bEncryption = false;
    for (const CUsageFlag& u : kUsageFlags) {
        int bSet = 0;
        m_pEntCert->GetKeyUsage(u.eUsage, bSet);
        if (bSet) {
            m_nKeyUsage |= u.nFlag;
            bEncryption = bEncryption || u.eUsage == KEY_USAGE_KEY_ENCIPHERMENT ||
                          u.eUsage == KEY_USAGE_DATA_ENCIPHERMENT;
        }
    }

    GString strText;
    m_strSubject.clear();
    if (m_pEntCert->GetSubject(strText) == 0)
        m_strSubject = Upper(strText.str());
    m_strCommonName = kNotAvailable;
    if (m_pEntCert->GetSubjectCommonName(strText) == 0)
        m_strCommonName = Upper(strText.str());
    CutOwner(m_strCommonName, m_strOwnerName, m_strOwnerId);
    m_strIssuer = kNotAvailable;
    if (m_pEntCert->GetIssuer(strText) == 0)
        m_strIssuer = Upper(strText.str());

    EntTime tFrom = 0, tTo = 0, tKeyEnd = 0;
    m_pEntCert->GetValidity(tFrom, tTo);
    m_tNotBefore = tFrom;
    m_tNotAfter = tTo;
    if (bEncryption)
        tKeyEnd = tTo;
    else
        m_pEntCert->GetPrivateKeyEndValidity(tKeyEnd);
    m_tKeyEnd = tKeyEnd;
    m_tRenewal = RenewalDate(m_tNotBefore, m_tNotAfter, m_tKeyEnd);
    m_nStatus = Status(tNow, m_tNotBefore, m_tNotAfter, m_tKeyEnd, m_tRenewal);

    m_strThumbprint = kNotAvailable;
    if (m_pEntCert->GetSHA1Fingerprint(strText) == 0)
        m_strThumbprint = strText.str();
    int nVersion = 0;
    m_pEntCert->GetVersion(nVersion);
    char szText[32];
    snprintf(szText, sizeof(szText), "V%i", nVersion + 1);
    m_strVersion = szText;

    unsigned long nSerial = 0;
    if (m_pEntCert->GetSerialNumber(nSerial) == ENT_ERR_SERIAL_TOO_LONG) {
        BinData serial;
        m_pEntCert->GetLongSerialNumber(serial);
        m_strSerial = serial.ToHEX().str();
    } else {
        snprintf(szText, sizeof(szText), "%08lX", nSerial);
        m_strSerial = szText;
    }
}

void CEntrustCertificate::ExportCertificate(std::string strPath)
{
    static const char kContext[] = "CEntrustCertificate::ExportCertificate";
    BinData encoded;
    short nCode = m_pEntCert != nullptr ? m_pEntCert->GetCertificate(encoded, 0)
                                        : static_cast<short>(ENT_ERR_NO_CERTIFICATE);
    CheckEntrustCode(nCode, kContext);
    CHandlePtr file = OwnFile(CreateFileA(strPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                          CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD dwError = GetLastError();
    const bool bCreated = file != nullptr;
    DWORD dwWritten = 0;
    bool bWritten = bCreated &&
                    WriteFile(file.get(), encoded.m_pData, encoded.m_nLength, &dwWritten, nullptr) &&
                    dwWritten == encoded.m_nLength;
    if (bCreated) {
        dwError = GetLastError();
        file.reset();
    }
    if (!bWritten) {
        // This entry always carried the system's line end too.
        std::string strMessage = SystemErrorText(dwError);
        LogInfo("%s", strMessage.empty() ? "" : (strMessage + "\r\n").c_str());
        // A short file must not pass for the certificate.
        if (bCreated)
            DeleteFileA(strPath.c_str());
        throw new CTarvoselException(EXC_OWN, ERR_FILE_WRITE, kContext);
    }
}

void CEntrustCertificate::GetProviderData(std::string& strProvider, std::string& strContainer)
{
    strProvider = "Entrust";
    strContainer.clear();
}

void CEntrustCertificate::LogDetails()
{
    LogInfo("N. serie: %s", LogEscape(m_strSerial).c_str());
    LogInfo("Válido desde %s, hasta %s", LocalDate(m_tNotBefore).c_str(),
            LocalDate(m_tNotAfter).c_str());
    LogInfo("Expiración clave: %s", LocalDate(m_tKeyEnd).c_str());
    LogInfo("Entrada en periodo de renovación: %s", LocalDate(m_tRenewal).c_str());
}
