#include "cert/CertificateText.h"

#include <string.h>
#include <time.h>

#include "api/CLog.h"
#include "api/CTarvoselException.h"
#include "cert/CCertificate.h"

namespace {

struct FlagText {
    DWORD dwFlag;
    const char* pszText;
};

const FlagText s_aKeyUsage[] = {
    {KU_DATA_ENCIPHERMENT, "Cifrado de datos"}, {KU_DIGITAL_SIGNATURE, "; Firma digital"},
    {KU_KEY_AGREEMENT, "; Acuerdo de clave"},   {KU_KEY_CERT_SIGN, "; Firma de certificado"},
    {KU_KEY_ENCIPHERMENT, "; Cifrado de clave"}, {KU_NON_REPUDIATION, "; No repudio"},
    {KU_CRL_SIGN, "; Firma de CRL"}};

// "OID.2.5.4.3" and "2.5.4.3" name the same attribute.
std::string WithoutOidPrefix(const std::string& strKey)
{
    if (strKey.size() >= 4 && _strnicmp(strKey.c_str(), "OID.", 4) == 0)
        return strKey.substr(4);
    return strKey;
}

const ULONGLONG FILETIME_UNIX_EPOCH = 116444736000000000ULL;
const ULONGLONG FILETIME_TICKS_PER_SECOND = 10000000ULL;

}  // namespace

std::string Trim(const std::string& strText)
{
    static const char kBlanks[] = " \t\r\n";
    size_t nFirst = strText.find_first_not_of(kBlanks);
    if (nFirst == std::string::npos)
        return std::string();
    size_t nLast = strText.find_last_not_of(kBlanks);
    return strText.substr(nFirst, nLast - nFirst + 1);
}

std::string KeyUsageText(int nKeyUsage)
{
    std::string strText;
    for (const FlagText& f : s_aKeyUsage) {
        if (nKeyUsage & f.dwFlag)
            strText += f.pszText;
    }
    if (strText.compare(0, 2, "; ") == 0)
        strText.erase(0, 2);
    return strText;
}

int GetCertificateCardType(CCertificate* pCertificate)
{
    if (pCertificate == nullptr)
        return 0;
    std::string strProvider, strContainer;
    try {
        pCertificate->GetProviderData(strProvider, strContainer);
    } catch (CTarvoselException* e) {
        LogInfo("%s", e->GetDescription().c_str());
        pCertificate->LogDetails();
        delete e;
        return 0;
    }
    if (pCertificate->GetIssuer().find("DIRECCION GENERAL DE LA POLICIA") != std::string::npos)
        return 1;
    if (_stricmp(strProvider.c_str(), "TEMD_CSP") == 0)
        return 3;
    return 0;
}

std::string GetNameAttribute(const std::string& strName, const std::string& strOid)
{
    // Each relative name is "KEY=VALUE" between semicolons. Pairing key and value
    // inside one relative name keeps an empty value, or a value holding "=" or ";",
    // from shifting every later attribute onto the wrong key.
    std::string strWanted = WithoutOidPrefix(Trim(strOid));
    size_t nPos = 0;
    while (nPos <= strName.size()) {
        size_t nEnd = strName.find(';', nPos);
        if (nEnd == std::string::npos)
            nEnd = strName.size();
        std::string strPart = strName.substr(nPos, nEnd - nPos);
        size_t nEquals = strPart.find('=');
        if (nEquals != std::string::npos) {
            std::string strKey = WithoutOidPrefix(Trim(strPart.substr(0, nEquals)));
            if (!strKey.empty() && _stricmp(strKey.c_str(), strWanted.c_str()) == 0) {
                std::string strValue = strPart.substr(nEquals + 1);
                return Trim(strValue.substr(0, strValue.find('=')));
            }
        }
        nPos = nEnd + 1;
    }
    return std::string();
}

namespace {
// Only the blanks the platform puts around separators: any other character at
// an end is part of the value.
std::string WithoutBlanks(const std::string& strText)
{
    size_t nFirst = strText.find_first_not_of(' ');
    if (nFirst == std::string::npos)
        return std::string();
    return strText.substr(nFirst, strText.find_last_not_of(' ') - nFirst + 1);
}

std::string UnquotedUpper(std::string strValue)
{
    strValue = WithoutBlanks(strValue);
    if (strValue.size() >= 2 && strValue.front() == '"' && strValue.back() == '"') {
        std::string strInner;
        for (size_t i = 1; i + 1 < strValue.size(); ++i) {
            strInner += strValue[i];
            if (strValue[i] == '"' && i + 2 < strValue.size() && strValue[i + 1] == '"')
                ++i;
        }
        strValue = strInner;
    }
    if (!strValue.empty())
        CharUpperBuffA(&strValue[0], static_cast<DWORD>(strValue.size()));
    return strValue;
}

// Splits "KEY=VALUE" into its key (without an "OID." prefix) and its value, both
// upper case and unquoted. False without "=".
bool SplitAttribute(const std::string& strPart, std::string& strKey, std::string& strValue)
{
    size_t nEquals = strPart.find('=');
    if (nEquals == std::string::npos)
        return false;
    strKey = UnquotedUpper(WithoutOidPrefix(WithoutBlanks(strPart.substr(0, nEquals))));
    strValue = UnquotedUpper(strPart.substr(nEquals + 1));
    return true;
}
}  // namespace

bool NameHasAttributeValue(const std::string& strName, const std::string& strAttribute)
{
    std::string strWantedKey, strWantedValue;
    if (!SplitAttribute(strAttribute, strWantedKey, strWantedValue) || strWantedKey.empty() ||
        strWantedValue.empty())
        return false;
    size_t nPos = 0;
    while (nPos < strName.size()) {
        // One attribute: up to the next separator outside double quotes.
        size_t nEnd = nPos;
        bool bQuoted = false;
        while (nEnd < strName.size() &&
               (bQuoted || (strName[nEnd] != ';' && strName[nEnd] != ',' && strName[nEnd] != '+'))) {
            if (strName[nEnd] == '"')
                bQuoted = !bQuoted;
            ++nEnd;
        }
        std::string strKey, strValue;
        if (SplitAttribute(strName.substr(nPos, nEnd - nPos), strKey, strValue) &&
            strKey == strWantedKey && strValue == strWantedValue)
            return true;
        nPos = nEnd + 1;
    }
    return false;
}

TIME64 FileTimeToLocalTime64(const FILETIME& ftUtc)
{
    SYSTEMTIME stUtc, stLocal;
    FILETIME ftLocal;
    if (!FileTimeToSystemTime(&ftUtc, &stUtc) ||
        !SystemTimeToTzSpecificLocalTime(nullptr, &stUtc, &stLocal) ||
        !SystemTimeToFileTime(&stLocal, &ftLocal))
        return 0;
    ULARGE_INTEGER u;
    u.LowPart = ftLocal.dwLowDateTime;
    u.HighPart = ftLocal.dwHighDateTime;
    return (static_cast<TIME64>(u.QuadPart) - static_cast<TIME64>(FILETIME_UNIX_EPOCH)) /
           static_cast<TIME64>(FILETIME_TICKS_PER_SECOND);
}

std::string FormatTime64(TIME64 tTime, const char* pszFormat)
{
    // Before 1601 there is no file time; the upper bound keeps the ticks in 64 bits.
    if (tTime < -static_cast<TIME64>(FILETIME_UNIX_EPOCH / FILETIME_TICKS_PER_SECOND) ||
        tTime > 0x7FFFFFFFFFLL)
        return std::string();
    TIME64 nTicks = tTime * static_cast<TIME64>(FILETIME_TICKS_PER_SECOND) +
                    static_cast<TIME64>(FILETIME_UNIX_EPOCH);
    ULARGE_INTEGER u;
    u.QuadPart = static_cast<ULONGLONG>(nTicks);
    FILETIME ft;
    ft.dwLowDateTime = u.LowPart;
    ft.dwHighDateTime = u.HighPart;
    SYSTEMTIME st;
    if (!FileTimeToSystemTime(&ft, &st))
        return std::string();

    struct tm t;
    memset(&t, 0, sizeof(t));
    t.tm_year = st.wYear - 1900;
    t.tm_mon = st.wMonth - 1;
    t.tm_mday = st.wDay;
    t.tm_hour = st.wHour;
    t.tm_min = st.wMinute;
    t.tm_sec = st.wSecond;
    t.tm_wday = st.wDayOfWeek;
    t.tm_isdst = 0;
    char szText[256];
    size_t n = strftime(szText, sizeof(szText), pszFormat, &t);
    return std::string(szText, n);
}
