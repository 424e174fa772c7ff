#include "app/CTarvoselApp.h"

#include <objbase.h>
#include <stdio.h>

#include <algorithm>
#include <vector>

#include "api/CLog.h"
#include "api/CTarvoselException.h"
#include "api/ResultCodes.h"
#include "app/CSignedFileChecker.h"
#include "app/CTempFile.h"
#include "app/CTarvoselWnd.h"
#include "cert/CSession.h"
#include "cert/wincrypt/CAPIWincrypt.h"
#include "cert/wincrypt/CAuthorityStore.h"
#include "cert/wincrypt/CWincryptSession.h"
#include "cert/wincrypt/WincryptRecords.h"
#include "host/CHostFiles.h"
#include "host/CHostWindow.h"
#include "host/Messages.h"
#include "platform/framework/CThreadBoundWindows.h"
#include "platform/framework/SystemErrorText.h"
#include "smartcard/CAPIWinSCard.h"
#include "smartcard/CCardManager.h"
#include "smartcard/CSCardDlg.h"
#include "ui/CLoginSheet.h"
#include "ui/CLoginWincryptPage.h"
#include "util/CUtil.h"

namespace {

// The system's text for an error, or its number when the system has none.
std::string ErrorText(DWORD dwError)
{
    std::string strText = SystemErrorText(dwError);
    return strText.empty() ? std::to_string(dwError) : strText;
}
}  // namespace

CTarvoselApp& GetTarvoselApp()
{
    static CTarvoselApp theApp;
    return theApp;
}

CTarvoselApp::CTarvoselApp(CHostSettings& settings)
    : m_settings(settings), m_interface(*this, settings, m_csSession)
{
    SetRetryWait(nullptr);
}

CTarvoselApp::~CTarvoselApp() {}

BOOL CTarvoselApp::InitInstance()
{
    // A thread already in another apartment keeps it: then there is nothing of
    // ours to undo at unload.
    m_bComInitialized = SUCCEEDED(CoInitialize(nullptr));
    m_strVersion = GetProductVersion();
    return CWinApp::InitInstance();
}

int CTarvoselApp::ExitInstance()
{
    if (m_bComInitialized)
        CoUninitialize();
    m_bComInitialized = false;
    return CWinApp::ExitInstance();
}

std::string CTarvoselApp::GetHostIniPath()
{
    return CHostSettings::HostIniPath();
}

void CTarvoselApp::Initialize(int nFlags)
{
    // A second thread's call would start a second interface thread and free
    // the first one's record under it.
    CCriticalSection::CGuard lifetime(m_csLifetime);
    if (m_bInitialized)
        return;
    ReplaceSession(nullptr);
    m_interface.ForgetWindows();
    m_nEnvironment = 0;

    try {
        m_settings.SetIniFile(GetHostIniPath());
        if (!FileExists(m_settings.GetIniFile()))
            throw new CTarvoselException(EXC_OWN, ERR_INI_FILE, "CTarvoselApp::Initialize");
        m_interface.Start(nFlags, "CTarvoselApp::Initialize");

        m_settings.SetTempDir("C:\\");
        LogSetEnabled(m_settings.GetIniInt("Log", 1));
        m_nEnvironment = m_settings.GetIniInt("Intpreepro", 0);
        switch (m_nEnvironment) {
        case 0: LogInfo("Tarvosel entorno de Producción."); break;
        case 1: LogInfo("Tarvosel entorno de Integración."); break;
        case 2: LogInfo("Tarvosel entorno de Pre-explotación."); break;
        default: LogInfo("Tarvosel entorno de _Producción_"); break;
        }
        // A build that forgot its deployment's trust data must not pass unnoticed.
        if (CAuthorityStore::IsTestTrust())
            LogInfo("AVISO: Tarvosel compilado con las autoridades de PRUEBA, cuyas claves "
                    "privadas son públicas: acepta firmas que cualquiera puede hacer. No debe "
                    "usarse en producción");
        CAPIWincrypt::Load();
    } catch (CTarvoselException*) {
        // The library stays uninitialised: nothing of it may keep running.
        m_interface.Stop();
        try {
            CAPIWincrypt::Unload();
        } catch (CTarvoselException* e) {
            delete e;
        }
        throw;
    }

    StartSmartCards();
    m_bInitialized = 1;
}

void CTarvoselApp::StartSmartCards()
{
    try {
        CAPIWinSCard::Load();
        CCardManager::Initialize();
        if (CCardManager::GetReaderCount() != 0)
            CCardManager::StartMonitor(GetInterfaceThreadId(), -1, WM_CARD_EVENT);
    } catch (CTarvoselException* e) {
        // Without the service or readers the library works without card monitoring.
        delete e;
    }
}

void CTarvoselApp::Finalize()
{
    CCriticalSection::CGuard lifetime(m_csLifetime);
    if (!m_bInitialized)
        return;
    // Nothing may be unloaded under an operation. Only the interface thread
    // can hold the lock for as long as a person's export takes: when it does,
    // it is stopped (killed within its bounded wait) before the lock is taken.
    CMutex::ELock eLock = m_operationLock.Lock(0);
    if (eLock == CMutex::TIMED_OUT) {
        m_interface.Stop();
        eLock = m_operationLock.Lock();
    }
    struct CRelease {
        CMutex& lock;
        ~CRelease() { lock.Unlock(); }
    } release{m_operationLock};
    if (eLock == CMutex::ABANDONED) {
        // A thread died inside the session: closing it could wait for what
        // that thread held. The user is logged out all the same.
        LogInfo("Se descarta la sesi\xF3n sin cerrarla: la usaba un hilo detenido");
        ReplaceSession(nullptr);
    } else {
        try {
            CloseSession();
        } catch (CTarvoselException* e) {
            delete e;
        }
    }
    m_interface.Stop();
    DestroyThreadWindows();
    CCardManager::StopMonitor();
    CCardManager::Terminate();
    CAPIWincrypt::Unload();
    CAPIWinSCard::Unload();
    m_bInitialized = 0;
}

void CTarvoselApp::DestroyThreadWindows()
{
    // The windows of sessions deleted on the interface thread, made on this one.
    if (CThreadBoundWindows::DestroyOwn() == 0 || m_bModulePinned)
        return;
    // Windows of another thread, which may never look at its queue again: a
    // message to one of them after an unload would run unloaded code. The
    // library stays loaded instead.
    if (CWinApp::PinModule() != nullptr) {
        m_bModulePinned = true;
        LogInfo("Quedan ventanas de la biblioteca en otro hilo: la biblioteca no se descargar\xE1");
    }
}

void CTarvoselApp::SetTempDir(std::string strDir)
{
    if (!m_bInitialized)
        throw new CTarvoselException(EXC_OWN, ERR_NOT_INITIALISED, "CTarvoselApp::SetTempDir");
    if (strDir.empty())
        strDir = "C:\\";
    else if (strDir.back() != '\\')
        strDir += '\\';
    m_settings.SetTempDir(strDir);
}

std::string CTarvoselApp::GetTempDir()
{
    return CHostSettings::Process().GetTempDir();
}

std::string CTarvoselApp::MakeTempFileName(std::string strExtension)
{
    return CHostSettings::Process().MakeTempFileName(strExtension);
}

bool CTarvoselApp::FileExists(const std::string& strPath)
{
    return CHostFiles::FileExists(strPath);
}

HWND CTarvoselApp::FindHostWindow()
{
    return CHostWindow::Find();
}

std::string CTarvoselApp::GetProductVersion()
{
    char szModule[MAX_PATH + 1] = {0};
    if (GetModuleFileNameA(GetInstanceHandle(), szModule, MAX_PATH) == 0)
        return std::string();
    DWORD dwHandle = 0;
    DWORD dwSize = GetFileVersionInfoSizeA(szModule, &dwHandle);
    if (dwSize == 0)
        return std::string();
    std::vector<char> data(dwSize);
    if (!GetFileVersionInfoA(szModule, 0, dwSize, data.data()))
        return std::string();
    WORD* pTranslation = nullptr;
    UINT nLength = 0;
    if (!VerQueryValueA(data.data(), "\\VarFileInfo\\Translation",
                        reinterpret_cast<void**>(&pTranslation), &nLength) ||
        nLength < 2 * sizeof(WORD))
        return std::string();
    char szKey[64];
    snprintf(szKey, sizeof(szKey), "\\StringFileInfo\\%04x%04x\\ProductVersion",
             pTranslation[0], pTranslation[1]);
    char* pszValue = nullptr;
    if (!VerQueryValueA(data.data(), szKey, reinterpret_cast<void**>(&pszValue), &nLength) ||
        pszValue == nullptr)
        return std::string();
    std::string strVersion;
    for (const char* p = pszValue; *p; ++p) {
        if (*p == ' ')
            continue;
        strVersion += *p == ',' ? '.' : *p;
    }
    return strVersion;
}

// ---- session management --------------------------------------------------

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

// ---- pipelines -------------------------------------------------------------

namespace {
const char* KindName(int nType)
{
    return nType == SESSION_KIND_ENTRUST ? "KERVAL" : "C2";
}

const char* YesNo(int b)
{
    return b ? "si" : "no";
}
}  // namespace

void CTarvoselApp::SetRetryWait(std::function<void(DWORD)> fnWait)
{
    m_fnRetryWait = fnWait ? fnWait : [](DWORD dwMs) { Sleep(dwMs); };
}

void CTarvoselApp::RequireSession(const char* pszContext)
{
    if (!m_bInitialized)
        throw new CTarvoselException(EXC_OWN, ERR_NOT_INITIALISED, pszContext);
    if (!SessionOpened())
        throw new CTarvoselException(EXC_OWN, ERR_NO_SESSION, pszContext);
}

CTarvoselApp::CSessionOperation::CSessionOperation(CTarvoselApp& app, const char* pszContext,
                                                   const std::function<void()>& fnLog)
    : m_operation(app)
{
    app.RequireSession(pszContext);
    app.GetSessionInfo(&info);
    LogInfo("Sesión %s", KindName(info.nType));
    if (fnLog)
        fnLog();
    app.ReopenInvalidSession();
    // None left means it was closed meanwhile (a failed reopening).
    pSession = app.LendSession();
    if (!pSession)
        throw new CTarvoselException(EXC_OWN, ERR_NO_SESSION, pszContext);
}

void CTarvoselApp::SignFile(std::string strSource, std::string strDestination,
                            std::string strAlgorithm, int bBase64, int bCompress)
{
    const char* pszContext = "CTarvoselApp::SignFile";
    // Held across the retries: no other operation slips in between.
    COperation operation(*this);
    CSignRetryPolicy::CState retry;
    for (;;) {
        CTempFile input, output;
        try {
            CSessionOperation op(*this, pszContext, [&] {
                LogInfo("Fichero origen: '%s'", strSource.c_str());
                LogInfo("Fichero destino: '%s'", strDestination.c_str());
                LogInfo("Algoritmo de firma: '%s'", strAlgorithm.c_str());
                LogInfo("Comprimir: %s. Codificar a base64: %s", YesNo(bCompress),
                        YesNo(bBase64));
            });
            const bool bCryptoApi = op.info.nType == SESSION_KIND_CAPI;
            const CSession::ESignVariant eVariant = CSignRetryPolicy::Variant(retry, bCryptoApi);
            auto signedOnce = [&] { retry = CSignRetryPolicy::Signed(retry, bCryptoApi); };
            if (bBase64 && op.pSession->CanSignStream()) {
                std::string strInputTemp, strOutputTemp;
                try {
                    SignLayersTogether(*op.pSession, eVariant, strSource, strDestination,
                                       strAlgorithm, bCompress, strInputTemp, strOutputTemp,
                                       signedOnce);
                } catch (CTarvoselException*) {
                    input.Take(strInputTemp);
                    output.Take(strOutputTemp);
                    throw;
                }
                input.Take(strInputTemp);
                return;
            }

            std::string strIn = strSource;
            if (bCompress) {
                input.Take(m_settings.MakeTempFileName("tmp"));
                LogInfo("Comprimiendo fichero en '%s'...", input.Path().c_str());
                CUtil::ZipFile(strSource.c_str(), input.Path().c_str());
                LogInfo("...OK");
                strIn = input.Path();
            }
            std::string strOut = strDestination;
            if (bBase64) {
                output.Take(m_settings.MakeTempFileName("tmp"));
                strOut = output.Path();
            }

            if (eVariant == CSession::SIGN_SESSION_KEY_BANER)
                op.pSession->SignFileC2BANER(strIn, strOut, strAlgorithm);
            else
                op.pSession->SignFile(strIn, strOut, strAlgorithm);
            signedOnce();

            if (bBase64) {
                LogInfo("Codificando (base64) fichero en '%s'...", strDestination.c_str());
                CUtil::Base64EncodeFile(strOut.c_str(), strDestination.c_str());
                output.Delete();
                LogInfo("...OK");
            }
            return;
        } catch (CTarvoselException* e) {
            input.Delete();
            output.Delete();
            // Transient card and provider failures: wait and sign again.
            const uint32_t dwFailure = static_cast<uint32_t>(e->GetSubCode());
            CSignRetryPolicy::CStep step =
                CSignRetryPolicy::Next(CSignRetryPolicy::Rows(), retry, dwFailure);
            retry = step.next;
            if (!step.bRetry)
                throw;
            if (step.bLogged)
                LogInfo("0x%08X ", static_cast<unsigned>(dwFailure));
            delete e;
            if (step.dwWaitMs != 0)
                m_fnRetryWait(step.dwWaitMs);
        }
    }
}

void CTarvoselApp::CheckSignedFile(std::string strSource, std::string strDestination,
                                   int bBase64, int bDecompress)
{
    // The platform's CryptoAPI table must stay loaded until the check ends.
    COperation operation(*this);
    RequireSession("CTarvoselApp::CheckSignedFile");
    CSignedFileChecker(m_settings, m_nEnvironment)
        .Check(strSource, strDestination, bBase64, bDecompress);
}

void CTarvoselApp::CheckSignedFile_(std::string strIn, std::string strOut,
                                    CSignInfoList& lstSigners)
{
    CSignedFileChecker(m_settings, m_nEnvironment).Decode(strIn, strOut, lstSigners);
}

void CTarvoselApp::ExportCertificate(std::string strPolicyPath, std::string& strExportedPath,
                                     std::string& strPassword)
{
    CSessionOperation op(*this, "CTarvoselApp::ExportCertificate");
    strPassword.clear();
    strExportedPath.clear();
    if (!strPolicyPath.empty())
        op.pSession->ChangePolicyCertificate(strPolicyPath);
    strExportedPath =
        m_settings.MakeTempFileName(op.info.nType == SESSION_KIND_ENTRUST ? "pfx" : "pem");
    LogInfo("Ruta: %s", strExportedPath.c_str());
    op.pSession->ExportCertificates(strExportedPath, 2, strPassword);
}

INT_PTR CTarvoselApp::GetSSLHandle(std::string strPolicyPath)
{
    CSessionOperation op(*this, "CTarvoselApp::GetSSLHandle");
    if (!strPolicyPath.empty())
        op.pSession->ChangePolicyCertificate(strPolicyPath);
    return op.pSession->GetSSLHandle();
}
