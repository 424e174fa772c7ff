// Signing, export and the SSL handle of an Entrust session.
#include "cert/entrust/CEntrustSession.h"

#include <windows.h>
#include <ntsecapi.h>

#include <stdio.h>
#include <stdlib.h>

#include <memory>

#include "api/CLog.h"
#include "api/CTarvoselException.h"
#include "api/ResultCodes.h"
#include "cert/entrust/CPAB.h"
#include "cert/entrust/EntrustCode.h"
#include "host/CHostSettings.h"
#include "https/CHTTPSDlg.h"
#include "platform/entrust/EntFile.h"

namespace {
const char kAlphabet[] = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";

struct CAlgorithm {
    const char* pszName;
    int nCode;
};
// Left column of the table first, then the right one; the first match wins.
const CAlgorithm kAlgorithms[] = {
    {"MD2", 2},        {"MD2WITHRSA", 2},  {"MD5", 1},        {"MD5WITHRSA", 1},
    {"SHA1", 0},       {"SHA1WITH_ECDSA", 4}, {"SHA1WITHDSA", 3}, {"SSHA256WITHRSA", 5},
    {"CAST", 0},       {"CAST_128", 2},    {"CAST_40", 5},    {"CAST_64", 4},
    {"CAST_80", 3},    {"DEFAULT", 15},    {"DES", 1},        {"IDEA_128", 10},
    {"RC2", 7},        {"RC2_128", 8},     {"RC2_40", 9},     {"TRIPLE_DES", 6},
    {"AES", 11},       {"AES_256", 12},    {"AES_128", 14},   {"AES_192", 13}};
const int kDefaultAlgorithm = 6;
const int kExportIterations = 2000;

// A number from 0 to 32767 like rand()'s, but from the platform's generator: a
// password that protects private keys must not follow from the time of day.
int Random15()
{
    unsigned short nValue = 0;
    if (!RtlGenRandom(&nValue, sizeof(nValue)))
        return rand();
    return nValue & 0x7FFF;
}

void Wipe(std::string& str)
{
    if (!str.empty())
        SecureZeroMemory(&str[0], str.size());
    str.clear();
}
}  // namespace

int CEntrustSession::AlgorithmCode(const std::string& strName)
{
    for (const CAlgorithm& a : kAlgorithms) {
        if (strName == a.pszName)
            return a.nCode;
    }
    return kDefaultAlgorithm;
}

void CEntrustSession::MakeRandomPassword(int nLength, std::string& strPassword)
{
    strPassword.clear();
    if (nLength < 1)
        return;
    strPassword += kAlphabet[Random15() * 9 / 32767];
    if (nLength > 1)
        strPassword += kAlphabet[Random15() * 25 / 32767 + 10];
    if (nLength > 2)
        strPassword += kAlphabet[Random15() * 25 / 32767 + 36];
    for (int i = 3; i < nLength; ++i)
        strPassword += kAlphabet[Random15() * 61 / 32767];
}

void CEntrustSession::SignFile(std::string strIn, std::string strOut, std::string strAlgorithm)
{
    static const char kContext[] = "CEntrustSession::SignFile";
    EntrustNameList recipients, readers;
    PROTECT_OPTIONS options;
    options.nOperation = 0;
    options.nReserved = 0;
    options.nDigest = AlgorithmCode(strAlgorithm);
    options.pszContentType = "text/plain";
    options.nFormat = 7;
    LogInfo("Firmando fichero en '%s'...", strOut.c_str());
    if (m_pEntFile == nullptr)
        throw new CTarvoselException(EXC_OWN, ERR_NO_SESSION, kContext);
    CheckEntrustCode(m_pEntFile->FileProtect(options, recipients, readers, strIn.c_str(),
                                             strOut.c_str()),
                     kContext);
    LogInfo("...OK");
}

void CEntrustSession::ExportCertificates(std::string& strPath, int nSelection,
                                         std::string& strPassword)
{
    static const char kContext[] = "CEntrustSession::ExportCertificates";
    if (m_pEntFile == nullptr)
        throw new CTarvoselException(EXC_OWN, ERR_NO_SESSION, kContext);
    if (nSelection == 0) {
        if (m_pAddressBook == nullptr) {
            LogInfo("No tiene PAB, se intenta crear uno");
            CreateAddressBook();
        }
        GString strText;
        CheckEntrustCode(m_pEntFile->ExportMyCertificate(strPath.c_str(), strText), kContext);
        return;
    }

    std::string strProfilePassword = Password();
    try {
        m_pEntFile->CacheOperation(1, 1);
        EntCertificateList all, selected;
        CheckEntrustCode(m_pEntFile->GetPKCS12ExportableCertificates(all), kContext);
        for (int i = 0; i < all.GetNumberOfEntries(); ++i) {
            EntCertificate cert(m_pEntFile);
            all.GetEntry(i, cert);
            int bSignature = 0, bEncipherment = 0;
            cert.GetKeyUsage(KEY_USAGE_DIGITAL_SIGNATURE, bSignature);
            cert.GetKeyUsage(KEY_USAGE_KEY_ENCIPHERMENT, bEncipherment);
            if ((nSelection == 1 && bEncipherment) || (nSelection == 2 && bSignature) ||
                nSelection == 3)
                selected.AddEntry(cert);
        }
        if (!strPassword.empty()) {
            Wipe(strPassword);
            strPassword = strProfilePassword;
        } else {
            MakeRandomPassword(8, strPassword);
        }
        CheckEntrustCode(m_pEntFile->ExportCertificateListPKCS12(strProfilePassword.c_str(),
                                                                 strPath.c_str(),
                                                                 strPassword.c_str(), selected,
                                                                 kExportIterations),
                         kContext);
    } catch (CTarvoselException*) {
        Wipe(strProfilePassword);
        throw;
    }
    Wipe(strProfilePassword);
}

INT_PTR CEntrustSession::GetSSLHandle()
{
    static const char kContext[] = "CEntrustSession::GetSSLHandle";
    if (m_pHTTPSDlg == nullptr) {
        std::unique_ptr<CHTTPSDlg> pDlg(new CHTTPSDlg);
        if (pDlg->Create(nullptr) && pDlg->GetSafeHwnd() != nullptr) {
            pDlg->ShowWindow(SW_HIDE);
            m_pHTTPSDlg = pDlg.release();
        }
    }
    if (m_pHTTPSDlg == nullptr)
        throw new CTarvoselException(EXC_OWN, ERR_SSL_OBJECT, kContext);

    std::string strTemp = CHostSettings::Process().MakeTempFileName("tmp");
    std::string strPassword, strStore;
    try {
        ExportCertificates(strTemp, 2, strPassword);
        strStore = "PFX\\" + strTemp + "*" + strPassword;
        Wipe(strPassword);
        m_pHTTPSDlg->GetHTTPS().SetSSLCertStore(strStore.c_str());
        Wipe(strStore);
        CS_SESSIONINFO info;
        GetSessionData(&info);
        m_pHTTPSDlg->GetHTTPS().SetSSLCertSubject(info.strNIF.c_str());
        INT_PTR nHandle = m_pHTTPSDlg->GetHTTPS().GetSSLCertHandle();
        DeleteFileA(strTemp.c_str());
        return nHandle;
    } catch (CTarvoselException*) {
        Wipe(strPassword);
        Wipe(strStore);
        if (!strTemp.empty())
            DeleteFileA(strTemp.c_str());
        throw;
    }
}

HWND CEntrustSession::GetHTTPSWindow() const
{
    return m_pHTTPSDlg != nullptr ? m_pHTTPSDlg->GetSafeHwnd() : nullptr;
}
