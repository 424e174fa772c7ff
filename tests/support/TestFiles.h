#pragma once
// Files, scratch folders and the library's log, for the Windows test executables
// and the bench drivers (no GoogleTest here: the drivers do not link it).
#include <windows.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

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

// Deletes the files directly in the folder, then the folder (with or without a
// trailing backslash).
inline void RemoveFolder(const std::string& strFolder)
{
    std::string strDir = strFolder;
    if (!strDir.empty() && (strDir.back() == '\\' || strDir.back() == '/'))
        strDir.pop_back();
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((strDir + "\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                DeleteFileA((strDir + "\\" + fd.cFileName).c_str());
        } while (FindNextFileA(h, &fd));
        FindClose(h);
    }
    RemoveDirectoryA(strDir.c_str());
}

// The whole file; empty when it cannot be opened, which pbOpened tells apart
// from an empty file.
inline std::string ReadAll(const std::string& strPath, bool* pbOpened = nullptr)
{
    std::ifstream f(strPath, std::ios::binary);
    if (pbOpened != nullptr)
        *pbOpened = f.is_open();
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

inline std::vector<BYTE> ReadBytes(const std::string& strPath, bool* pbOpened = nullptr)
{
    std::string s = ReadAll(strPath, pbOpened);
    return std::vector<BYTE>(s.begin(), s.end());
}

// Replaces the file with strData; false when it could not be written whole.
inline bool WriteAll(const std::string& strPath, const std::string& strData)
{
    std::ofstream f(strPath, std::ios::binary | std::ios::trunc);
    f << strData;
    f.close();
    return !f.fail();
}

inline bool Exists(const std::string& strPath)
{
    return GetFileAttributesA(strPath.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// How many times strPart occurs in strText, overlaps included.
inline int CountOf(const std::string& strText, const std::string& strPart)
{
    int n = 0;
    for (size_t i = strText.find(strPart); i != std::string::npos; i = strText.find(strPart, i + 1))
        ++n;
    return n;
}

// Sends the library's log to a file of its own for the life of the object:
// "log-<name>-<pid>-<n>.txt" beside the executable, or a path of the caller's.
class LogCapture {
public:
    explicit LogCapture(const std::string& strName = "test")
        : LogCapture(ExeFolder(), "log-" + strName + "-" + std::to_string(GetCurrentProcessId()) +
                                      "-" + std::to_string(NextNumber()) + ".txt")
    {
    }
    LogCapture(const std::string& strFolder, const std::string& strFile)
        : m_strPath(strFolder + strFile)
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
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    // Empty while nothing has been logged.
    std::string Text() const { return ReadAll(m_strPath); }
    const std::string& Path() const { return m_strPath; }
    bool Contains(const std::string& strPart) const
    {
        return Text().find(strPart) != std::string::npos;
    }
    int Count(const std::string& strPart) const { return CountOf(Text(), strPart); }
    // The message part of every entry ("  hh:mm:ss(ms) - message").
    std::vector<std::string> Lines() const
    {
        std::vector<std::string> lines;
        std::string strText = Text();
        size_t nPos = 0;
        while (nPos < strText.size()) {
            size_t nEnd = strText.find("\r\n", nPos);
            if (nEnd == std::string::npos)
                nEnd = strText.size();
            std::string strLine = strText.substr(nPos, nEnd - nPos);
            size_t nDash = strLine.find(") - ");
            if (nDash != std::string::npos)
                lines.push_back(strLine.substr(nDash + 4));
            nPos = nEnd + 2;
        }
        return lines;
    }
    // Starts the file afresh; logging goes on into it.
    void Clear() const { DeleteFileA(m_strPath.c_str()); }

private:
    static int NextNumber()
    {
        static int s_n = 0;
        return ++s_n;
    }

    std::string m_strPath;
    int m_bWasEnabled;
};

}  // namespace tvltest
