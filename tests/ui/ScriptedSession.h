#pragma once
// A real CryptoAPI session whose login the test scripts: attempts that fail
// with a chosen code, or wait for the test first. What the login page handed
// to Open is recorded.
#include <windows.h>

#include <deque>
#include <string>

#include "api/CTarvoselException.h"
#include "cert/wincrypt/CWincryptCertificate.h"
#include "cert/wincrypt/CWincryptSession.h"
#include "cert/wincrypt/WincryptRecords.h"

struct LoginScript {
    std::deque<int> failures;  // result codes of the next attempts; 0 opens for real
    HANDLE hBlock = nullptr;   // when set, Open waits for it first
    volatile LONG nCreated = 0;
    volatile LONG nDeleted = 0;
    volatile LONG nOpening = 0;  // inside Open now
    // The last choice handed to Open.
    int nReader = -2;
    std::string strCardName;
    int nCertificates = 0;
    std::string strSignSubject, strAuthSubject;
    bool bSameCertificate = false;
};

class CScriptedSession : public CWincryptSession {
public:
    explicit CScriptedSession(LoginScript& script) : m_script(script)
    {
        InterlockedIncrement(&m_script.nCreated);
    }
    ~CScriptedSession() override { InterlockedIncrement(&m_script.nDeleted); }

    int Open(void* pRequest) override
    {
        const CS_CERTCHOICE* pChoice = static_cast<CS_CAPILOGIN*>(pRequest)->pChoice;
        m_script.nReader = pChoice->nReader;
        m_script.strCardName = pChoice->strCardName;
        m_script.nCertificates = static_cast<int>(pChoice->lstCertificates.size());
        m_script.strSignSubject =
            pChoice->pSignCertificate ? pChoice->pSignCertificate->GetSubject() : "";
        m_script.strAuthSubject =
            pChoice->pAuthCertificate ? pChoice->pAuthCertificate->GetSubject() : "";
        m_script.bSameCertificate = pChoice->pSignCertificate == pChoice->pAuthCertificate;
        InterlockedIncrement(&m_script.nOpening);
        if (m_script.hBlock != nullptr)
            WaitForSingleObject(m_script.hBlock, 30000);
        InterlockedDecrement(&m_script.nOpening);
        int nCode = 0;
        if (!m_script.failures.empty()) {
            nCode = m_script.failures.front();
            m_script.failures.pop_front();
        }
        if (nCode != 0)
            throw new CTarvoselException(EXC_OWN, nCode, "CScriptedSession::Open");
        return CWincryptSession::Open(pRequest);
    }

private:
    LoginScript& m_script;
};
