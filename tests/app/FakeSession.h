#pragma once
// A stand-in session: records what the application asks of it.
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "api/CLog.h"
#include "api/CTarvoselException.h"
#include "api/ResultCodes.h"
#include "cert/CByteStream.h"
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
        Hook(m_fnOnReopen);
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
    // With m_bStreams, signings with a Base64 layer come here: like the real
    // session it creates strOut empty, logs, and hands on every byte it reads
    // (m_fnSign runs first, m_fnSignEnd after the bytes). With m_bCopies the
    // file slots do the same into strOut.
    bool CanSignStream() override { return m_bStreams; }
    void SignStream(ESignVariant nVariant, CByteSource* pSource, CByteSink* pSink, std::string strIn,
                    std::string strOut, std::string) override
    {
        Sign(nVariant == 2 ? "SignFileC2BANER" : nVariant == 1 ? "SignFileC2" : "SignFile", strIn,
             strOut, false);
        Copy(pSource, pSink, strIn, strOut);
    }
    bool m_bStreams = false, m_bCopies = false;
    std::function<void()> m_fnSignEnd;
    std::function<void(const std::string& strOut)> m_fnOutCreated;  // once strOut exists

    void Copy(CByteSource* pSource, CByteSink* pSink, const std::string& strIn,
              const std::string& strOut)
    {
        HANDLE hOut = CreateFileA(strOut.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (hOut == INVALID_HANDLE_VALUE)
            throw new CTarvoselException(EXC_OWN, ERR_FILE_WRITE, "FakeSession::Sign");
        if (pSink != nullptr) {
            CloseHandle(hOut);
            hOut = INVALID_HANDLE_VALUE;
        }
        if (m_fnOutCreated)
            m_fnOutCreated(strOut);
        LogInfo("Firmando fichero en '%s'...", strOut.c_str());
        HANDLE hIn = INVALID_HANDLE_VALUE;
        if (pSource == nullptr)
            hIn = CreateFileA(strIn.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr);
        std::vector<uint8_t> block(65536);
        for (;;) {
            size_t nRead = 0;
            DWORD dwError = 0, dw = 0;
            bool bOk = pSource != nullptr
                           ? pSource->Read(block.data(), block.size(), nRead, dwError)
                           : ReadFile(hIn, block.data(), static_cast<DWORD>(block.size()), &dw, nullptr);
            if (pSource == nullptr)
                nRead = dw;
            if (!bOk) {
                if (hIn != INVALID_HANDLE_VALUE)
                    CloseHandle(hIn);
                if (hOut != INVALID_HANDLE_VALUE)
                    CloseHandle(hOut);
                throw new CTarvoselException(EXC_WINDOWS, static_cast<long>(dwError), "FakeSession::Sign");
            }
            if (pSink != nullptr)
                pSink->Write(block.data(), nRead, dwError);
            else
                WriteFile(hOut, block.data(), static_cast<DWORD>(nRead), &dw, nullptr);
            if (nRead < block.size())
                break;
        }
        if (hIn != INVALID_HANDLE_VALUE)
            CloseHandle(hIn);
        if (hOut != INVALID_HANDLE_VALUE)
            CloseHandle(hOut);
        if (m_fnSignEnd)
            m_fnSignEnd();
        LogInfo("...OK");
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
    INT_PTR GetSSLHandle() override
    {
        Hook(m_fnOnSSL);
        return m_fnSSLHandle ? m_fnSSLHandle() : 0;
    }
    std::function<int()> m_fnSSLHandle;
    // Run inside those slots before their work: a test makes them block, or
    // counts calls on a session that may be gone by the time it looks.
    std::function<void()> m_fnOnData, m_fnOnInvalidate, m_fnOnExport, m_fnOnSSL, m_fnOnReopen;
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
    void Sign(const char* pszSlot, const std::string& strIn, const std::string& strOut,
              bool bCopy = true)
    {
        m_signCalls.push_back(pszSlot);
        if (m_fnSign)
            m_fnSign(strIn, strOut);
        if (bCopy && m_bCopies)
            Copy(nullptr, nullptr, strIn, strOut);
    }

    CS_CARDINFO m_card;
    volatile LONG* m_pnDeleted;
};
