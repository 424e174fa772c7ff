#include "host/CHostSettings.h"

#include <windows.h>

#include "host/CHostFiles.h"

const char CHostSettings::kIniSection[] = "Configuracion tarvosel";

CHostSettings::CHostSettings() {}

CHostSettings& CHostSettings::Process()
{
    static CHostSettings settings;
    return settings;
}

std::string CHostSettings::GetTempDir() const
{
    CCriticalSection::CGuard guard(m_cs);
    return m_strTempDir;
}

void CHostSettings::SetTempDir(const std::string& strDir)
{
    CCriticalSection::CGuard guard(m_cs);
    m_strTempDir = strDir;
}

std::string CHostSettings::MakeTempFileName(const std::string& strExtension) const
{
    return CHostFiles::MakeTempFileName(GetTempDir(), strExtension);
}

std::string CHostSettings::GetIniFile() const
{
    CCriticalSection::CGuard guard(m_cs);
    return m_strIniFile;
}

void CHostSettings::SetIniFile(const std::string& strPath)
{
    CCriticalSection::CGuard guard(m_cs);
    m_strIniFile = strPath;
}

int CHostSettings::GetIniInt(const char* pszKey, int nDefault) const
{
    return GetIniInt(GetIniFile(), pszKey, nDefault);
}

int CHostSettings::GetIniInt(const std::string& strIniFile, const char* pszKey, int nDefault)
{
    return static_cast<int>(
        GetPrivateProfileIntA(kIniSection, pszKey, nDefault, strIniFile.c_str()));
}

std::string CHostSettings::GetIniString(const std::string& strIniFile, const char* pszKey)
{
    char szValue[256] = {0};
    GetPrivateProfileStringA(kIniSection, pszKey, "", szValue, sizeof(szValue), strIniFile.c_str());
    return szValue;
}

void CHostSettings::WriteIniString(const std::string& strIniFile, const char* pszKey,
                                   const std::string& strValue)
{
    WritePrivateProfileStringA(kIniSection, pszKey, strValue.c_str(), strIniFile.c_str());
}

std::string CHostSettings::HostIniPath()
{
    char szPath[MAX_PATH + 1] = {0};
    DWORD n = GetModuleFileNameA(nullptr, szPath, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return std::string();
    std::string strPath(szPath, n);
    size_t nSlash = strPath.find_last_of("\\/");
    std::string strFolder =
        nSlash == std::string::npos ? std::string() : strPath.substr(0, nSlash + 1);
    return strFolder + "tarvosel.ini";
}
