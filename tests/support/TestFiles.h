#pragma once
// Small helpers shared by the Windows test executables.
#include <windows.h>

#include <fstream>
#include <iterator>
#include <string>

#include "api/CLog.h"

namespace tvltest {

// Folder of the running test executable, with a trailing backslash.
inline std::string ExeFolder()
{
    char sz[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, sz, MAX_PATH);
    std::string s(sz, n);
    return s.substr(0, s.find_last_of("\\/") + 1);
}

// A fresh, empty folder for one test, named after it; removed by the caller when wanted.
inline std::string MakeScratchFolder(const std::string& strName)
{
    std::string strFolder = ExeFolder() + "scratch-" + strName + "-" +
                            std::to_string(GetCurrentProcessId()) + "\\";
    CreateDirectoryA(strFolder.c_str(), nullptr);
    return strFolder;
}

inline std::string ReadAll(const std::string& strPath)
{
    std::ifstream f(strPath, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

inline void WriteAll(const std::string& strPath, const std::string& strData)
{
    std::ofstream f(strPath, std::ios::binary | std::ios::trunc);
    f << strData;
}

inline bool Exists(const std::string& strPath)
{
    return GetFileAttributesA(strPath.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Sends the library's log to a file of its own for the life of the object.
class LogCapture {
public:
    explicit LogCapture(const std::string& strName)
        : m_strPath(ExeFolder() + "log-" + strName + "-" + std::to_string(GetCurrentProcessId()) +
                    ".txt")
    {
        DeleteFileA(m_strPath.c_str());
        m_bWasEnabled = CLog::IsEnabled();
        CLog::SetEnabled(1);
        CLog::SetPath(m_strPath.c_str());
    }
    ~LogCapture()
    {
        CLog::SetPath("");
        CLog::SetEnabled(m_bWasEnabled);
        DeleteFileA(m_strPath.c_str());
    }
    std::string Text() const { return ReadAll(m_strPath); }
    const std::string& Path() const { return m_strPath; }

private:
    std::string m_strPath;
    int m_bWasEnabled;
};

}  // namespace tvltest
