#pragma once
// An initialised application (for its temporary folder and the checks) and
// Entrust sessions opened on scratch copies of the profile material.
#include <gtest/gtest.h>

#include <memory>

#include "app/CTarvoselApp.h"
#include "cert/entrust/CEntrustSession.h"
#include "tests/entrust/EntrustTestSupport.h"
#include "tests/support/TestCapture.h"

class EntrustSessionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // The same text from every test process: they may run side by side.
        tvltest::WriteAll(tvltest::ExeFolder() + "tarvosel.ini", "[Configuracion tarvosel]\r\nLog=1\r\n");
        ASSERT_EQ(0, tvltest::ResultOf([] { GetTarvoselApp().Initialize(0); }));
        std::string strName = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        m_strDir = tvltest::MakeScratchFolder(strName);
        m_strTemp = tvltest::MakeScratchFolder(strName + "-temp");
        GetTarvoselApp().SetTempDir(m_strTemp);
    }
    void TearDown() override
    {
        tvltest::ResultOf([] { GetTarvoselApp().Finalize(); });
        for (const std::string& strName : epftest::FilesIn(m_strDir))
            SetFileAttributesA((m_strDir + strName).c_str(), FILE_ATTRIBUTE_NORMAL);
        tvltest::RemoveFolder(m_strDir);
        tvltest::RemoveFolder(m_strTemp);
    }

    std::string Profile(const char* pszName, bool bPolicy = true)
    {
        return epftest::CopyProfile(m_strDir, pszName, std::string(), bPolicy);
    }

    // A login as the profile dialog makes it, with the details wanted.
    CS_EPFLOGIN Login(const std::string& strProfile, int bOnline = 0,
                      const std::string& strPassword = epftest::kPassword)
    {
        CS_EPFLOGIN login;
        login.strProfilePath = strProfile;
        login.strPassword = strPassword;
        login.bOnline = bOnline;
        login.bLogDetails = 1;
        return login;
    }

    // Opens a session; the result code of Open, or of its failure, in nResult.
    std::unique_ptr<CEntrustSession> Open(CS_EPFLOGIN login, int& nResult)
    {
        std::unique_ptr<CEntrustSession> pSession(new CEntrustSession);
        CS_EPFREQUEST request;
        request.pLogin = &login;
        nResult = -1;
        tvltest::CaughtFailure r = tvltest::Capture([&] { nResult = pSession->Open(&request); });
        if (r.bThrown) {
            nResult = r.nCode;
            m_lastFailure = r;
        }
        return pSession;
    }
    std::unique_ptr<CEntrustSession> OpenOk(const std::string& strProfile)
    {
        int nResult = -1;
        std::unique_ptr<CEntrustSession> p = Open(Login(strProfile), nResult);
        EXPECT_EQ(nResult, 0);
        return p;
    }

    std::string m_strDir, m_strTemp;
    tvltest::CaughtFailure m_lastFailure;
};
