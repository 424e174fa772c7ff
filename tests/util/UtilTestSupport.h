#pragma once
// Scratch folder with its own log for the CUtil tests.
#include <gtest/gtest.h>

#include <windows.h>

#include <memory>
#include <string>

#include "tests/support/TestCapture.h"
#include "tests/support/TestFiles.h"

using tvltest::Capture;
using tvltest::CaughtFailure;
using tvltest::Exists;

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
        m_pLog = std::make_unique<tvltest::LogCapture>(m_strDir + "\\", "util.log");
    }

    void TearDown() override
    {
        m_pLog.reset();
        tvltest::RemoveFolder(m_strDir);
    }

    std::string Path(const std::string& strName) const { return m_strDir + "\\" + strName; }

    static void SaveFile(const std::string& strPath, const std::string& strData)
    {
        ASSERT_TRUE(tvltest::WriteAll(strPath, strData)) << strPath;
    }

    static std::string LoadFile(const std::string& strPath)
    {
        bool bOpened = false;
        std::string strData = tvltest::ReadAll(strPath, &bOpened);
        EXPECT_TRUE(bOpened) << strPath;
        return strData;
    }

    std::string LogText() const { return m_pLog->Text(); }

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
    std::unique_ptr<tvltest::LogCapture> m_pLog;
};
