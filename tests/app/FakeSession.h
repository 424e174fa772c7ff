#pragma once
// A stand-in session: records what the application asks of it.
#include <windows.h>

#include "api/CTarvoselException.h"
#include "cert/CSession.h"
#include "cert/wincrypt/WincryptRecords.h"

class FakeSession : public CSession {
public:
    explicit FakeSession(int nReader, volatile LONG* pnDeleted = nullptr) : m_pnDeleted(pnDeleted)
    {
        m_card.nReader = nReader;
        m_card.strAuthSubject = "CN=AUTH";
    }
    ~FakeSession() override
    {
        if (m_pnDeleted != nullptr)
            InterlockedIncrement(m_pnDeleted);
    }
    int Open(void*) override { m_nState = SESSION_OPEN; return 0; }
    void Close() override { m_nState = SESSION_CLOSED; InterlockedIncrement(&m_nCloses); }
    void Invalidate() override { m_nState |= SESSION_INVALID; }
    void Reopen() override
    {
        InterlockedIncrement(&m_nReopens);
        if (m_bFailReopen)
            throw new CTarvoselException(EXC_WINDOWS, static_cast<long>(0x80090016), "FakeSession::Reopen");
        m_nState = SESSION_OPEN;
    }
    void GetSessionData(CS_SESSIONINFO* pInfo) override
    {
        InterlockedIncrement(&m_nDataReads);
        if (pInfo == nullptr)
            return;
        pInfo->nType = 1;
        pInfo->strName = "JUAN GARCIA LOPEZ";
        pInfo->strNIF = "12345678Z";
        pInfo->strIssuer = "CN=ISSUER";
        pInfo->pDetails = &m_card;
    }
    int GetState() override { return m_nState; }
    void GetCertificates(CCertificateList& l) override { l.clear(); }
    void SignFile(std::string, std::string, std::string) override {}
    void SignFileC2(std::string, std::string, std::string) override {}
    void SignFileC2BANER(std::string, std::string, std::string) override {}
    CCertStore* GetCertStore() override { return nullptr; }
    void ExportCertificates(std::string&, int, std::string& p) override { p.clear(); }
    int GetSSLHandle() override { return 0; }
    void ChangePolicyCertificate(std::string) override {}

    volatile LONG m_nState = SESSION_OPEN;
    volatile LONG m_nDataReads = 0;
    volatile LONG m_nCloses = 0;
    volatile LONG m_nReopens = 0;
    bool m_bFailReopen = false;

private:
    CS_CARDINFO m_card;
    volatile LONG* m_pnDeleted;
};
