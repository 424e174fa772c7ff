#pragma once
// Shared helpers of the smart-card tests: exception capture, ATR text to
// bytes, a scratch log file.
#include <gtest/gtest.h>

#include <windows.h>

#include <stdio.h>
#include <functional>
#include <string>
#include <vector>

#include "api/CLog.h"
#include "api/CTarvoselException.h"

struct CaughtFailure {
    bool bThrown = false;
    int nKind = -1;
    std::string strContext;
};

inline CaughtFailure Capture(const std::function<void()>& fn)
{
    CaughtFailure r;
    try {
        fn();
    } catch (CTarvoselException* e) {
        r.bThrown = true;
        r.nKind = e->GetKind();
        r.strContext = e->GetContext();
        delete e;
    }
    return r;
}

inline std::vector<BYTE> AtrBytes(const char* pszHex)
{
    std::vector<BYTE> bytes;
    for (const char* p = pszHex; p[0] && p[1]; p += 2) {
        char sz[3] = {p[0], p[1], 0};
        bytes.push_back(static_cast<BYTE>(strtoul(sz, nullptr, 16)));
    }
    return bytes;
}

// A log file of its own for the test, removed afterwards.
class CScratchLog {
public:
    CScratchLog()
    {
        char szDir[MAX_PATH];
        GetTempPathA(MAX_PATH, szDir);
        char szName[80];
        wsprintfA(szName, "tvlsmartcard_%lu_%lu.log", GetCurrentProcessId(), GetTickCount());
        m_strPath = std::string(szDir) + szName;
        DeleteFileA(m_strPath.c_str());
        LogSetPath(m_strPath.c_str());
        LogSetEnabled(1);
    }
    ~CScratchLog()
    {
        LogSetEnabled(0);
        LogSetPath("");
        DeleteFileA(m_strPath.c_str());
    }
    CScratchLog(const CScratchLog&) = delete;
    CScratchLog& operator=(const CScratchLog&) = delete;

    std::string Text() const
    {
        std::string strText;
        FILE* f = fopen(m_strPath.c_str(), "rb");
        if (!f)
            return strText;
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof(buf), f)) > 0)
            strText.append(buf, n);
        fclose(f);
        return strText;
    }
    bool Contains(const std::string& strNeedle) const
    {
        return Text().find(strNeedle) != std::string::npos;
    }
    int Count(const std::string& strNeedle) const
    {
        std::string strText = Text();
        int n = 0;
        for (size_t pos = strText.find(strNeedle); pos != std::string::npos;
             pos = strText.find(strNeedle, pos + 1))
            ++n;
        return n;
    }

private:
    std::string m_strPath;
};
