#pragma once
// A stand-in session: records what the application asks of it.
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "api/CTarvoselException.h"
#include "cert/CSession.h"
#include "cert/entrust/EntrustRecords.h"
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
    void Invalidate() override
    {
        Hook(m_fnOnInvalidate);
        InterlockedOr(&m_nState, SESSION_INVALID);
    }
    void Reopen() override
    {
        InterlockedIncrement(&m_nReopens);
        if (m_bFailReopen)
            throw new CTarvoselException(EXC_WINDOWS, static_cast<long>(0x80090016), "FakeSession::Reopen");
        m_nState = SESSION_OPEN;
    }
    void GetSessionData(CS_SESSIONINFO* pInfo) override
    {
        Hook(m_fnOnData);
        InterlockedIncrement(&m_nDataReads);
        if (pInfo == nullptr)
            return;
        pInfo->nType = m_nType;
        pInfo->strName = "JUAN GARCIA LOPEZ";
        pInfo->strNIF = "12345678Z";
        pInfo->strIssuer = "CN=ISSUER";
        pInfo->pDetails = m_nType == 0 ? static_cast<void*>(&m_profile) : &m_card;
    }
    int GetState() override { return m_nState; }
    void GetCertificates(CCertificateArray& l) override { l.clear(); }
    void SignFile(std::string strIn, std::string strOut, std::string) override
    {
        Sign("SignFile", strIn, strOut);
    }
    void SignFileC2(std::string strIn, std::string strOut, std::string) override
    {
        Sign("SignFileC2", strIn, strOut);
    }
    void SignFileC2BANER(std::string strIn, std::string strOut, std::string) override
    {
        Sign("SignFileC2BANER", strIn, strOut);
    }
    // Every signing call in order; m_fnSign decides what it does (it may throw).
    std::vector<std::string> m_signCalls;
    std::function<void(const std::string& strIn, const std::string& strOut)> m_fnSign;
    CCertStore* GetCertStore() override { return nullptr; }
    void ExportCertificates(std::string&, int, std::string& p) override
    {
        Hook(m_fnOnExport);
        p.clear();
    }
    int GetSSLHandle() override
    {
        Hook(m_fnOnSSL);
        return m_fnSSLHandle ? m_fnSSLHandle() : 0;
    }
    std::function<int()> m_fnSSLHandle;
    // Run inside those slots before their work: a test makes them block.
    std::function<void()> m_fnOnData, m_fnOnInvalidate, m_fnOnExport, m_fnOnSSL;
    void ChangePolicyCertificate(std::string) override {}

    int m_nType = 1;  // 0 Entrust (details: m_profile), 1 CryptoAPI (m_card)
    CS_EPFPROFILE m_profile;
    volatile LONG m_nState = SESSION_OPEN;
    volatile LONG m_nDataReads = 0;
    volatile LONG m_nCloses = 0;
    volatile LONG m_nReopens = 0;
    bool m_bFailReopen = false;

private:
    static void Hook(const std::function<void()>& fn)
    {
        if (fn)
            fn();
    }
    void Sign(const char* pszSlot, const std::string& strIn, const std::string& strOut)
    {
        m_signCalls.push_back(pszSlot);
        if (m_fnSign)
            m_fnSign(strIn, strOut);
    }

    CS_CARDINFO m_card;
    volatile LONG* m_pnDeleted;
};
