#pragma once
// Scratch directory, file helpers and exception capture for the CUtil tests.
#include <gtest/gtest.h>

#include <windows.h>

#include <functional>
#include <string>

#include "api/CLog.h"
#include "api/CTarvoselException.h"

struct CaughtFailure {
    bool bThrown = false;
    int nCode = 0;
    std::string strContext;
};

inline CaughtFailure Capture(const std::function<void()>& fn)
{
    CaughtFailure r;
    try {
        fn();
    } catch (CTarvoselException* e) {
        r.bThrown = true;
        r.nCode = e->GetResultCode();
        r.strContext = e->GetContext();
        delete e;
    }
    return r;
}

class UtilFilesTest : public testing::Test {
protected:
    void SetUp() override
    {
        char szTemp[MAX_PATH];
        ASSERT_NE(GetTempPathA(MAX_PATH, szTemp), 0u);
        char szName[64];
        wsprintfA(szName, "tvlutil_%lu_%lu", GetCurrentProcessId(), GetTickCount());
        m_strDir = std::string(szTemp) + szName;
        ASSERT_TRUE(CreateDirectoryA(m_strDir.c_str(), NULL)) << GetLastError();
        LogSetPath(Path("util.log").c_str());
        LogSetEnabled(1);
    }

    void TearDown() override
    {
        LogSetEnabled(0);
        LogSetPath("");
        WIN32_FIND_DATAA fd;
        HANDLE h = FindFirstFileA(Path("*").c_str(), &fd);
        if (h != INVALID_HANDLE_VALUE) {
            do {
                if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                    DeleteFileA(Path(fd.cFileName).c_str());
            } while (FindNextFileA(h, &fd));
            FindClose(h);
        }
        RemoveDirectoryA(m_strDir.c_str());
    }

    std::string Path(const std::string& strName) const { return m_strDir + "\\" + strName; }

    static void SaveFile(const std::string& strPath, const std::string& strData)
    {
        FILE* f = fopen(strPath.c_str(), "wb");
        ASSERT_TRUE(f != NULL) << strPath;
        ASSERT_EQ(fwrite(strData.data(), 1, strData.size(), f), strData.size());
        ASSERT_EQ(fclose(f), 0);
    }

    static std::string LoadFile(const std::string& strPath)
    {
        std::string strData;
        FILE* f = fopen(strPath.c_str(), "rb");
        EXPECT_TRUE(f != NULL) << strPath;
        if (!f)
            return strData;
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof(buf), f)) > 0)
            strData.append(buf, n);
        fclose(f);
        return strData;
    }

    static bool Exists(const std::string& strPath)
    {
        return GetFileAttributesA(strPath.c_str()) != INVALID_FILE_ATTRIBUTES;
    }

    std::string LogText() const { return Exists(Path("util.log")) ? LoadFile(Path("util.log")) : ""; }

    // Bytes that a text-mode stream would mangle (CR LF, Ctrl-Z) included.
    static std::string Binary(size_t nBytes)
    {
        std::string s(nBytes, '\0');
        unsigned int x = 12345;
        for (size_t i = 0; i < nBytes; i++) {
            x = x * 1103515245u + 12345u;
            s[i] = static_cast<char>(x >> 24);
            if (i % 97 == 0)
                s[i] = (i % 2) ? '\x1A' : '\r';
            if (i % 97 == 1)
                s[i] = '\n';
        }
        return s;
    }

    std::string m_strDir;
};
