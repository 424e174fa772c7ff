#pragma once
#include <windows.h>

#include <string>

// A temporary file of a pipeline, deleted when the pipeline leaves, whatever
// the way out.
class CTempFile {
public:
    CTempFile() {}
    ~CTempFile() { Delete(); }
    void Take(const std::string& strPath) { m_strPath = strPath; }
    const std::string& Path() const { return m_strPath; }
    void Delete()
    {
        if (!m_strPath.empty())
            DeleteFileA(m_strPath.c_str());
        m_strPath.clear();
    }

private:
    CTempFile(const CTempFile&) = delete;
    CTempFile& operator=(const CTempFile&) = delete;
    std::string m_strPath;
};
