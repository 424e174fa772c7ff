#pragma once
#include <string>

#include "platform/framework/CCriticalSection.h"

// What the host set up for the library: the folder of its temporary files and
// its configuration file, whose entries are in one section. Any thread may read
// them while the host's thread sets them (each under the object's lock).
//
// The application object fills the loaded library's instance (Process());
// session objects, made in many places, read the temporary folder there, and
// the dialogs get the instance through their constructors. A test makes its
// own instance for a second application object.
class CHostSettings {
public:
    // The section of the configuration file that holds every entry of the library.
    static const char kIniSection[];

    CHostSettings();

    // The loaded library's settings.
    static CHostSettings& Process();

    // Ends with its separator once the application object has set it.
    std::string GetTempDir() const;
    void SetTempDir(const std::string& strDir);
    // The next free temporary name in the temporary folder.
    std::string MakeTempFileName(const std::string& strExtension) const;

    std::string GetIniFile() const;
    void SetIniFile(const std::string& strPath);
    // An entry of the configuration file (the default when it has none).
    int GetIniInt(const char* pszKey, int nDefault) const;

    // The same entries in a named configuration file.
    static int GetIniInt(const std::string& strIniFile, const char* pszKey, int nDefault);
    // At most 255 characters, as the library always read them.
    static std::string GetIniString(const std::string& strIniFile, const char* pszKey);
    static void WriteIniString(const std::string& strIniFile, const char* pszKey,
                               const std::string& strValue);
    // "tarvosel.ini" beside the host's executable; empty when its path is unknown.
    static std::string HostIniPath();

private:
    CHostSettings(const CHostSettings&) = delete;
    CHostSettings& operator=(const CHostSettings&) = delete;

    mutable CCriticalSection m_cs;
    std::string m_strTempDir;  // under m_cs
    std::string m_strIniFile;  // under m_cs
};
