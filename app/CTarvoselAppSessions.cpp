// The application object's session: login, the recent profiles, lending,
// closing and reopening.
#include "app/CTarvoselApp.h"

#include <stdio.h>

#include <algorithm>
#include <vector>

#include "api/CLog.h"
#include "api/CTarvoselException.h"
#include "api/ResultCodes.h"
#include "cert/CSession.h"
#include "cert/wincrypt/CWincryptSession.h"
#include "cert/wincrypt/WincryptRecords.h"
#include "host/Messages.h"
#include "platform/framework/SystemErrorText.h"
#include "smartcard/CCardManager.h"
#include "smartcard/CSCardDlg.h"
#include "ui/CLoginSheet.h"
#include "ui/CLoginWincryptPage.h"

namespace {

// The system's text for an error, or its number when the system has none.
std::string ErrorText(DWORD dwError)
{
    std::string strText = SystemErrorText(dwError);
    return strText.empty() ? std::to_string(dwError) : strText;
}
}  // namespace

int CTarvoselApp::OpenSession(CS_SESSIONINFO* pInfo)
{
    if (pInfo != nullptr)
        pInfo->nType = -1;
    COperation operation(*this);
    CLoginSheet sheet("Selecci\xF3n de certificado");
    CLoginWincryptPage page;
    if (!m_bInitialized)
        throw new CTarvoselException(EXC_OWN, ERR_NOT_INITIALISED, "CTarvoselApp::OpenSession");
    if (SessionOpened())
        throw new CTarvoselException(EXC_OWN, ERR_SESSION_ALREADY_OPEN, "CTarvoselApp::OpenSession");

    sheet.AddPage(&page);
    sheet.m_psh.dwFlags |= PSH_NOAPPLYNOW;
    const std::string strIniFile = m_settings.GetIniFile();
    int nStartPage = CHostSettings::GetIniInt(strIniFile, "TipoUltimaSesion", 0);
    sheet.m_psh.nStartPage = nStartPage >= 0 ? static_cast<UINT>(nStartPage) : 0;
    sheet.m_strIniFile = strIniFile;
    ReadRecentProfiles(sheet.m_strIniFile, sheet.m_lstRecentProfiles);
    sheet.m_fnNewSession = m_fnNewSession;
    // A session object that is not open (none should be left) goes before the run.
    ReplaceSession(nullptr);

    if (m_fnLoginSheetHook)
        m_fnLoginSheetHook(sheet);

    INT_PTR nRun = sheet.DoModal();
    if (nRun == -1) {
        // The user never saw the sheet: no cancel, a failure.
        DWORD dwError = GetLastError();
        LogInfo("No se ha podido crear la ventana de selecci\xF3n de certificado: (0x%08X) %s",
                static_cast<unsigned>(dwError), ErrorText(dwError).c_str());
        if (dwError == 0)
            throw new CTarvoselException(EXC_OWN, ERR_WINDOWS_UNKNOWN, "CTarvoselApp::OpenSession");
        throw new CTarvoselException(EXC_WINDOWS, static_cast<long>(dwError),
                                     "CTarvoselApp::OpenSession");
    }
    int nResult = 0;
    CSessionRef pSession;
    if (nRun == IDOK) {
        pSession.reset(sheet.m_pSession);
        sheet.m_pSession = nullptr;
        ReplaceSession(pSession);
        if (sheet.m_nActivePage == 0)
            WriteRecentProfiles(sheet.m_strIniFile, sheet.m_lstRecentProfiles);
        char szPage[16];
        snprintf(szPage, sizeof(szPage), "%i", sheet.m_nActivePage);
        CHostSettings::WriteIniString(strIniFile, "TipoUltimaSesion", szPage);
        if (pInfo != nullptr)
            pInfo->nType = sheet.m_nActivePage != 0 ? 1 : 0;
        if (sheet.m_pLoginError != nullptr) {
            CTarvoselException* e = sheet.m_pLoginError;
            sheet.m_pLoginError = nullptr;
            throw e;
        }
        // Confirmed without a session is no login: never report one.
        if (pSession) {
            nResult = sheet.m_nLoginResult != 0 ? sheet.m_nLoginResult : 1;
            if (pInfo != nullptr) {
                pSession->GetSessionData(pInfo);
                pInfo->pDetailsOwner = pSession;
            }
        }
    }
    if (pSession)
        RefreshTray();
    return nResult;
}

void CTarvoselApp::SetSessionFactory(std::function<CWincryptSession*()> fnNewSession)
{
    m_fnNewSession = fnNewSession;
}

void CTarvoselApp::SetLoginSheetHook(std::function<void(CLoginSheet&)> fnBeforeRun)
{
    m_fnLoginSheetHook = fnBeforeRun;
}

namespace {
// "UltimoEPF", then "UltimoEPF1" to "UltimoEPF4".
std::string RecentProfileKey(int i)
{
    if (i == 0)
        return "UltimoEPF";
    char szKey[32];
    snprintf(szKey, sizeof(szKey), "UltimoEPF%i", i);
    return szKey;
}
const int kRecentProfiles = 5;
}  // namespace

void CTarvoselApp::ReadRecentProfiles(const std::string& strIniFile,
                                      std::vector<std::string>& lstProfiles)
{
    lstProfiles.clear();
    if (strIniFile.empty())
        return;
    for (int i = 0; i < kRecentProfiles; ++i) {
        std::string strPath = CHostSettings::GetIniString(strIniFile, RecentProfileKey(i).c_str());
        if (FileExists(strPath) &&
            std::find(lstProfiles.begin(), lstProfiles.end(), strPath) == lstProfiles.end())
            lstProfiles.push_back(strPath);
    }
}

void CTarvoselApp::WriteRecentProfiles(const std::string& strIniFile,
                                       const std::vector<std::string>& lstProfiles)
{
    if (strIniFile.empty())
        return;
    for (int i = 0; i < kRecentProfiles; ++i) {
        std::string strPath = static_cast<size_t>(i) < lstProfiles.size()
                                  ? lstProfiles[static_cast<size_t>(i)]
                                  : std::string();
        CHostSettings::WriteIniString(strIniFile, RecentProfileKey(i).c_str(), strPath);
    }
}

CSessionRef CTarvoselApp::LendSession()
{
    CCriticalSection::CGuard guard(m_csSession);
    return m_pSession;
}

CSessionRef CTarvoselApp::ReplaceSession(CSessionRef pNew)
{
    CCriticalSection::CGuard guard(m_csSession);
    m_pSession.swap(pNew);
    return pNew;
}

void CTarvoselApp::AdoptSession(CSession* pSession)
{
    ReplaceSession(CSessionRef(pSession));
    if (pSession != nullptr)
        RefreshTray();
}

void CTarvoselApp::RefreshTray()
{
    HWND hWndTray = m_interface.GetTrayWindow();
    if (hWndTray != nullptr)
        PostMessageA(hWndTray, WM_REFRESH, 0, 0);
}

std::function<void(HWND)> CTarvoselApp::CardDialogRegistration()
{
    return [this](HWND hWnd) { m_interface.SetCardDialog(hWnd); };
}

void CTarvoselApp::CloseSession()
{
    if (!m_bInitialized)
        throw new CTarvoselException(EXC_OWN, ERR_NOT_INITIALISED, "CTarvoselApp::CloseSession");
    COperation operation(*this);
    // Taken out first: from here on nobody else can lend it.
    CSessionRef pSession = ReplaceSession(nullptr);
    if (!pSession)
        return;
    // The user is logged out even when the back-end fails to close.
    CTarvoselException* pFailure = nullptr;
    try {
        pSession->Close();
    } catch (CTarvoselException* e) {
        pFailure = e;
    }
    // Deleted here, or by the last thread still using it.
    pSession.reset();
    RefreshTray();
    if (pFailure != nullptr)
        throw pFailure;
}

int CTarvoselApp::SessionOpened()
{
    if (!m_bInitialized)
        throw new CTarvoselException(EXC_OWN, ERR_NOT_INITIALISED, "CTarvoselApp::SessionOpened");
    CSessionRef pSession = LendSession();
    return pSession && (pSession->GetState() & SESSION_OPEN) ? 1 : 0;
}

void CTarvoselApp::GetSessionInfo(CS_SESSIONINFO* pInfo)
{
    if (!m_bInitialized)
        throw new CTarvoselException(EXC_OWN, ERR_NOT_INITIALISED, "CTarvoselApp::GetSessionInfo");
    CSessionRef pSession = LendSession();
    if (!pSession || !(pSession->GetState() & SESSION_OPEN))
        throw new CTarvoselException(EXC_OWN, ERR_NO_SESSION, "CTarvoselApp::GetSessionInfo");
    pSession->GetSessionData(pInfo);
    // The details belong to the session: the record keeps it alive.
    if (pInfo != nullptr)
        pInfo->pDetailsOwner = pSession;
}

void CTarvoselApp::ReopenInvalidSession()
{
    COperation operation(*this);
    CSessionRef pSession = LendSession();
    if (!pSession || !(pSession->GetState() & SESSION_INVALID))
        return;
    LogInfo("La sesi\xF3n es inv\xE1lida. Reabriendo...");
    // A card session whose card is in no reader asks for it first. The
    // interface thread, which forwards the card events to the dialog, never
    // takes the operation lock.
    CS_SESSIONINFO info;
    pSession->GetSessionData(&info);
    const CS_CARDINFO* pCard = info.Details<CS_CARDINFO>();
    if (pCard != nullptr && pCard->nReader != -1) {
        char szCardName[256] = {0}, szProvider[256] = {0};
        if (CCardManager::FindCardReader(szCardName, szProvider) == -1) {
            CSCardDlg dialog(CardDialogRegistration());
            dialog.DoModal(FindHostWindow());
        }
    }
    try {
        pSession->Reopen();
        LogInfo("...OK");
    } catch (CTarvoselException*) {
        pSession.reset();
        try {
            CloseSession();
        } catch (CTarvoselException* e) {
            delete e;
        }
        LogInfo("Se cerr\xF3 la sesi\xF3n...");
        throw;
    }
}
