#pragma once
// A real session for the application tests: opened on two certificates of the
// test PKI and handed to the application object.
#include <gtest/gtest.h>

#include "app/CTarvoselApp.h"
#include "cert/wincrypt/CWincryptSession.h"
#include "tests/session/SessionTestSupport.h"
#include "tests/support/TestCapture.h"

namespace apptest {

inline void AdoptRealSession(const char* pszSign, const char* pszAuth)
{
    sessiontest::Choice c(pszSign, pszAuth);
    ASSERT_TRUE(c.IsComplete());
    CWincryptSession* pSession = new CWincryptSession;
    ASSERT_EQ(0, tvltest::ResultOf([&] { pSession->Open(&c.login); }));
    c.choice.lstCertificates.clear();
    GetTarvoselApp().AdoptSession(pSession);
}

}  // namespace apptest
