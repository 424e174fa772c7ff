#pragma once
// A test over the bench's signing cards (vcard.py) behind the bench's own card
// key provider (tvlcardcsp.dll): the cards fresh, their certificates propagated
// into "MY" pointing at the provider, the provider's PIN dialog answered by a
// driver thread, the cards' journals read through the control port.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "CCardCertificates.h"
#include "CPinDialogDriver.h"
#include "CardTestData.h"
#include "SmartCardTestSupport.h"
#include "VirtualCardTest.h"
#include "api/ResultCodes.h"
#include "app/CTarvoselApp.h"
#include "app/SignInfo.h"
#include "cert/wincrypt/CAPIWincrypt.h"
#include "cert/wincrypt/CWincryptCertificate.h"
#include "cert/wincrypt/CWincryptSession.h"
#include "smartcard/CCardManager.h"
#include "tests/app/AppTestSupport.h"
#include "tests/session/SessionTestSupport.h"

namespace cardtest {

const DWORD EVENT_TIMEOUT_MS = 5000;

inline std::vector<std::string> Words(const std::string& s)
{
    std::istringstream in(s);
    std::vector<std::string> words;
    std::string w;
    while (in >> w)
        words.push_back(w);
    return words;
}

inline bool Has(const std::vector<std::string>& v, const std::string& s)
{
    return std::find(v.begin(), v.end(), s) != v.end();
}

// How many journal entries are of the command (its name before the colon).
inline int CountOf(const std::vector<std::string>& journal, const std::string& strCommand)
{
    return static_cast<int>(
        std::count_if(journal.begin(), journal.end(), [&](const std::string& s) {
            return s.compare(0, strCommand.size(), strCommand) == 0 &&
                   (s.size() == strCommand.size() || s[strCommand.size()] == ':' ||
                    s[strCommand.size()] == '(');
        }));
}

inline std::string Joined(const std::vector<std::string>& v)
{
    std::string s;
    for (const std::string& w : v)
        s += (s.empty() ? "" : " ") + w;
    return s;
}

}  // namespace cardtest

class SigningCardTest : public VirtualCardTest {
protected:
    void SetUp() override
    {
        VirtualCardTest::SetUp();
        if (!Ready())
            return;
        // The certificate classes reach CryptoAPI through the library's table,
        // and the tests ask the service about the readers through winscard's.
        ASSERT_FALSE(Capture([] { CAPIWincrypt::Load(); }).bThrown);
        ASSERT_FALSE(Capture([] { CAPIWinSCard::Load(); }).bThrown);
        for (const char* pszApp : {APP_DNIE, APP_TEMD})
            ASSERT_TRUE(m_cards.Command(std::string("fresh ") + pszApp));
        std::string strError;
        ASSERT_TRUE(CCardCertificates::RemoveAll(&strError)) << strError;
        ASSERT_TRUE(
            CCardCertificates::Propagate(TVL_PKI_DIR, CCardCertificates::BenchCards(), &strError))
            << strError;
        m_bPropagated = true;
        m_strDir = tvltest::MakeScratchFolder("card");
    }

    void TearDown() override
    {
        if (m_bApp) {
            GetTarvoselApp().SetRetryWait(nullptr);
            tvltest::ResultOf([] { GetTarvoselApp().Finalize(); });
            DeleteFileA(apptest::IniPath().c_str());
        }
        if (m_bPropagated) {
            EXPECT_TRUE(CCardCertificates::RemoveAll(nullptr));
            EXPECT_EQ(0, m_pin.Unexpected()) << "a PIN dialog nobody expected";
            EXPECT_EQ(0u, m_pin.Pending()) << "a PIN dialog that never came";
        }
        if (!m_strDir.empty())
            tvltest::RemoveFolder(m_strDir);
        VirtualCardTest::TearDown();
    }

    std::string Path(const char* pszName) const { return m_strDir + pszName; }

    // A signing card in the reader, once the service has seen it there.
    void InsertCard(int nReader, const char* pszAtr, const char* pszApp)
    {
        ASSERT_NO_FATAL_FAILURE(Insert(nReader, pszAtr, pszApp));
        ASSERT_TRUE(ServiceSees(nReader, true, cardtest::EVENT_TIMEOUT_MS));
    }

    void RemoveCard(int nReader)
    {
        ASSERT_NO_FATAL_FAILURE(Remove(nReader));
        ASSERT_TRUE(ServiceSees(nReader, false, cardtest::EVENT_TIMEOUT_MS));
    }

    // The commands the application handled since the last call.
    std::vector<std::string> Journal(const char* pszApp)
    {
        std::string strReply;
        EXPECT_TRUE(m_cards.Command(std::string("journal ") + pszApp, &strReply)) << strReply;
        std::vector<std::string> words = cardtest::Words(strReply);
        if (!words.empty())
            words.erase(words.begin());  // "OK"
        return words;
    }

    int Tries(const char* pszApp)
    {
        std::string strReply;
        EXPECT_TRUE(m_cards.Command(std::string("tries ") + pszApp, &strReply));
        return atoi(strReply.c_str() + 2);
    }

    void Fault(const std::string& strFault)
    {
        std::string strReply;
        ASSERT_TRUE(m_cards.Command("fault " + strFault, &strReply)) << strReply;
    }

    // A session opened as the login page would, on card certificates from MY.
    CaughtFailure OpenSession(CWincryptSession& session, const char* pszSign, const char* pszAuth,
                              int nReader, const char* pszCard)
    {
        sessiontest::Choice c(pszSign, pszAuth, nReader, pszCard);
        EXPECT_TRUE(c.IsComplete()) << "card certificates not in MY";
        CaughtFailure f = Capture([&] { session.Open(&c.login); });
        c.choice.lstCertificates.clear();
        return f;
    }

    // The application initialised over the bench (monitor running), with the
    // waits of the retry policy recorded instead of slept.
    void StartApp()
    {
        apptest::WriteIni("Log=1\r\n");
        Hold();
        ASSERT_EQ(0, tvltest::ResultOf([] { GetTarvoselApp().Initialize(0); }));
        m_bApp = true;
        GetTarvoselApp().SetTempDir(m_strDir);
        GetTarvoselApp().SetRetryWait([this](DWORD dwMs) { m_waits.push_back(dwMs); });
        ASSERT_EQ(2, CCardManager::GetReaderCount());
    }

    // The card of the "TEMD_CSP" provider in reader 0, the application started
    // and a session on the card's certificate handed to it.
    CWincryptSession* StartTemdSession()
    {
        InsertCard(0, ATR_TEMD_CARD, APP_TEMD);
        if (HasFatalFailure())
            return nullptr;
        StartApp();
        if (HasFatalFailure())
            return nullptr;
        return AdoptCardSession("card-temd", "card-temd", PIN_TEMD, 0, CARD_NAME_TEMD);
    }

    // A card session handed to the application, the PIN typed once.
    CWincryptSession* AdoptCardSession(const char* pszSign, const char* pszAuth, const char* pszPin,
                                       int nReader, const char* pszCard)
    {
        CWincryptSession* pSession = new CWincryptSession;
        m_pin.Type(pszPin);
        CaughtFailure f = OpenSession(*pSession, pszSign, pszAuth, nReader, pszCard);
        EXPECT_FALSE(f.bThrown) << f.strDescription;
        if (f.bThrown) {
            delete pSession;
            return nullptr;
        }
        GetTarvoselApp().AdoptSession(pSession);
        return pSession;
    }

    // Checks a signed file with the library: integrity, content; whether the
    // signer is one the library trusts.
    void ExpectSignedBy(const std::string& strSigned, const std::string& strContent,
                        const char* pszSigner, bool bTrusted)
    {
        CSignInfoList signers;
        std::string strBack = strSigned + ".back";
        CaughtFailure f =
            Capture([&] { GetTarvoselApp().CheckSignedFile_(strSigned, strBack, signers); });
        ASSERT_FALSE(f.bThrown) << f.strDescription;
        ASSERT_EQ(1u, signers.size());
        EXPECT_EQ(FindTestPkiCert(pszSigner)->pszThumbprint,
                  signers[0]->pCertificate->GetThumbprint());
        EXPECT_EQ(bTrusted ? 1 : 0, signers[0]->bTrusted);
        DeleteSignInfoList(signers);
        EXPECT_EQ(strContent, tvltest::ReadAll(strBack));
        DeleteFileA(strBack.c_str());
    }

    // A copy for the OpenSSL check of card_openssl.sh, when it asked for one.
    void KeepForOpenSsl(const std::string& strFile, const char* pszName)
    {
        char szDir[MAX_PATH];
        DWORD n = GetEnvironmentVariableA("TVL_CARD_INTEROP_DIR", szDir, sizeof(szDir));
        if (n > 0 && n < sizeof(szDir)) {
            ASSERT_TRUE(
                CopyFileA(strFile.c_str(), (std::string(szDir) + "\\" + pszName).c_str(), FALSE));
        }
    }

    CPinDialogDriver m_pin;
    std::string m_strDir;
    std::vector<DWORD> m_waits;
    bool m_bPropagated = false;
    bool m_bApp = false;
};
