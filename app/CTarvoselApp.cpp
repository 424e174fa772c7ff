#include "app/CTarvoselApp.h"

#include <objbase.h>
#include <stdio.h>

#include <algorithm>
#include <vector>

#include "api/CLog.h"
#include "api/CTarvoselException.h"
#include "api/ResultCodes.h"
#include "app/CHiddenStrings.h"
#include "app/CTarvoselWnd.h"
#include "app/Messages.h"
#include "cert/CSession.h"
#include "cert/pkcs7/CPkcs7Reader.h"
#include "cert/wincrypt/CAuthorityStore.h"
#include "cert/wincrypt/CWincryptCertificate.h"
#include "cert/wincrypt/CWincryptPkcs7Crypto.h"
#include "cert/CertificateText.h"
#include "cert/wincrypt/CAPIWincrypt.h"
#include "cert/wincrypt/WincryptRecords.h"
#include "platform/framework/CFileHandle.h"
#include "platform/framework/CFileWriteBuffer.h"
#include "platform/framework/CLibraryThread.h"
#include "platform/framework/SystemErrorText.h"
#include "platform/framework/CThreadBoundWindows.h"
#include "smartcard/CAPIWinSCard.h"
#include "smartcard/CCardManager.h"
#include "cert/wincrypt/CWincryptSession.h"
#include "smartcard/CSCardDlg.h"
#include "ui/CLoginSheet.h"
#include "ui/CLoginWincryptPage.h"
#include "util/CFlushBehind.h"
#include "util/CUtil.h"

namespace {
const char kIniSection[] = "Configuracion tarvosel";
const DWORD kStopWaitMs = 500;

// The system's text for an error, or its number when the system has none.
std::string ErrorText(DWORD dwError)
{
    std::string strText = SystemErrorText(dwError);
    return strText.empty() ? std::to_string(dwError) : strText;
}
}  // namespace

// The interface thread's record; owned by the application object so that it
// outlives the wait in Finalize whatever the thread does.
struct CTarvoselApp::InterfaceThread {
    CTarvoselApp* pApp = nullptr;
    int nFlags = 0;
    CLibraryThread thread;
    HANDLE hQueueReady = nullptr;  // set once the thread has a message queue
    volatile bool bStop = false;   // the stop message was seen

    ~InterfaceThread()
    {
        if (hQueueReady != nullptr)
            CloseHandle(hQueueReady);
    }
};

CCriticalSection CTarvoselApp::s_csTempDir;
std::string CTarvoselApp::m_strTempDir;

CTarvoselApp& GetTarvoselApp()
{
    static CTarvoselApp theApp;
    return theApp;
}

CTarvoselApp::CTarvoselApp()
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
    char szPath[MAX_PATH + 1] = {0};
    DWORD n = GetModuleFileNameA(nullptr, szPath, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return std::string();
    std::string strPath(szPath, n);
    size_t nSlash = strPath.find_last_of("\\/");
    std::string strFolder = nSlash == std::string::npos ? std::string() : strPath.substr(0, nSlash + 1);
    return strFolder + "tarvosel.ini";
}

void CTarvoselApp::Initialize(int nFlags)
{
    // A second thread's call would start a second interface thread and free
    // the first one's record under it.
    CCriticalSection::CGuard lifetime(m_csLifetime);
    if (m_bInitialized)
        return;
    ReplaceSession(nullptr);
    m_hWndTray = nullptr;
    m_pUIThread.reset();
    m_hWndCardDialog = nullptr;
    m_nEnvironment = 0;

    try {
        m_strIniFile = GetHostIniPath();
        if (!FileExists(m_strIniFile))
            throw new CTarvoselException(EXC_OWN, ERR_INI_FILE, "CTarvoselApp::Initialize");

        std::unique_ptr<InterfaceThread> pThread(new InterfaceThread);
        pThread->pApp = this;
        pThread->nFlags = nFlags;
        pThread->hQueueReady = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        if (pThread->hQueueReady == nullptr)
            throw new CTarvoselException(EXC_WINDOWS, GetLastError(), "CTarvoselApp::Initialize");
        DWORD dwError =
            pThread->thread.Start(InterfaceThreadProc, pThread.get(), CWinApp::PinModule());
        if (dwError != 0)
            throw new CTarvoselException(EXC_WINDOWS, dwError, "CTarvoselApp::Initialize");
        // Card events are posted to this thread: it must have its queue first.
        WaitForSingleObject(pThread->hQueueReady, 5000);
        m_pUIThread = std::move(pThread);

        SetTempDirText("C:\\");
        LogSetEnabled(GetPrivateProfileIntA(kIniSection, "Log", 1, m_strIniFile.c_str()));
        m_nEnvironment = GetPrivateProfileIntA(kIniSection, "Intpreepro", 0, m_strIniFile.c_str());
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
        StopInterfaceThread();
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

DWORD CTarvoselApp::GetInterfaceThreadId() const
{
    return m_pUIThread ? m_pUIThread->thread.GetThreadId() : 0;
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
        StopInterfaceThread();
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
    StopInterfaceThread();
    DestroyThreadWindows();
    CCardManager::StopMonitor();
    CCardManager::Terminate();
    CAPIWincrypt::Unload();
    CAPIWinSCard::Unload();
    m_bInitialized = 0;
}

void CTarvoselApp::StopInterfaceThread()
{
    if (!m_pUIThread)
        return;
    CLibraryThread& thread = m_pUIThread->thread;
    PostThreadMessageA(thread.GetThreadId(), WM_STOP_INTERFACE, 0, 0);
    // The wait is bounded whatever the thread does: it never holds a lock of
    // ours for longer than copying the session pointer.
    if (!thread.Wait(kStopWaitMs)) {
        {
            // Never kill it inside that copy: the next export would wait for ever.
            CCriticalSection::CGuard guard(m_csSession);
            thread.Terminate();
        }
        s_pModalFilterThread = nullptr;
        // Its window went with it; its entry in the notification area would not.
        if (m_hWndTray != nullptr)
            CTarvoselWnd::RemoveEntry(m_hWndTray);
    }
    m_pUIThread.reset();
    m_hWndTray = nullptr;
    CTarvoselWnd::UnregisterWindowClass();
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

CTarvoselApp::InterfaceThread* CTarvoselApp::s_pModalFilterThread = nullptr;

DWORD CTarvoselApp::InterfaceThreadProc(void* pParam)
{
    InterfaceThread* pThread = static_cast<InterfaceThread*>(pParam);
    pThread->pApp->RunInterfaceThread(pThread, pThread->nFlags);
    return 0;
}

void CTarvoselApp::RunInterfaceThread(InterfaceThread* pThread, int nFlags)
{
    MSG msg;
    PeekMessageA(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
    // The window exists before Initialize returns, so that a login right after
    // it finds the window to refresh.
    std::unique_ptr<CTarvoselWnd> pTray;
    if (nFlags & 1) {
        pTray.reset(new CTarvoselWnd);
        if (pTray->Create())
            m_hWndTray = pTray->m_hWnd;
    }
    // The dialogs of this thread run loops of their own (message boxes, the
    // properties and file dialogs), which drop messages posted to no window:
    // the stop and card events are taken out of those loops here.
    HHOOK hFilter = nullptr;
    if (pTray) {
        s_pModalFilterThread = pThread;
        hFilter = SetWindowsHookExA(WH_MSGFILTER, ModalFilterProc, nullptr, GetCurrentThreadId());
    }
    SetEvent(pThread->hQueueReady);

    while (!pThread->bStop) {
        WaitMessage();
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.hwnd == nullptr && HandleThreadMessage(pThread, msg))
                continue;
            if (pTray && pTray->PreTranslateMessage(&msg))
                continue;
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    if (hFilter != nullptr)
        UnhookWindowsHookEx(hFilter);
    s_pModalFilterThread = nullptr;
}

bool CTarvoselApp::HandleThreadMessage(InterfaceThread* pThread, const MSG& msg)
{
    if (msg.message == WM_STOP_INTERFACE) {
        if (m_hWndTray != nullptr && IsWindow(m_hWndTray))
            SendMessageA(m_hWndTray, WM_CLOSE, 0, 0);
        pThread->bStop = true;
        return true;
    }
    if (msg.message == WM_CARD_EVENT) {
        OnCardEvent(msg.wParam, msg.lParam);
        return true;
    }
    return false;
}

LRESULT CALLBACK CTarvoselApp::ModalFilterProc(int nCode, WPARAM wParam, LPARAM lParam)
{
    MSG* pMsg = reinterpret_cast<MSG*>(lParam);
    InterfaceThread* pThread = s_pModalFilterThread;
    if (nCode >= 0 && pMsg != nullptr && pMsg->hwnd == nullptr && pThread != nullptr &&
        pThread->pApp->HandleThreadMessage(pThread, *pMsg))
        return TRUE;
    return CallNextHookEx(nullptr, nCode, wParam, lParam);
}

void CTarvoselApp::OnCardEvent(WPARAM wParam, LPARAM lParam)
{
    HWND hDialog = m_hWndCardDialog;
    if (hDialog != nullptr) {
        PostMessageA(hDialog, WM_CARD_EVENT, wParam, lParam);
        return;
    }
    if (wParam != 0)
        return;
    // Lent, not locked: the host's thread may be signing with it meanwhile.
    CSessionRef pSession = LendSession();
    if (!pSession || !(pSession->GetState() & SESSION_OPEN))
        return;
    CS_SESSIONINFO info;
    pSession->GetSessionData(&info);
    const CS_CARDINFO* pCard = static_cast<const CS_CARDINFO*>(info.pDetails);
    if (info.nType == SESSION_KIND_CAPI && pCard != nullptr &&
        pCard->nReader == static_cast<int>(lParam))
        pSession->Invalidate();
}

void CTarvoselApp::SetTempDir(std::string strDir)
{
    if (!m_bInitialized)
        throw new CTarvoselException(EXC_OWN, ERR_NOT_INITIALISED, "CTarvoselApp::SetTempDir");
    if (strDir.empty())
        strDir = "C:\\";
    else if (strDir.back() != '\\')
        strDir += '\\';
    SetTempDirText(strDir);
}

void CTarvoselApp::SetTempDirText(const std::string& strDir)
{
    CCriticalSection::CGuard guard(s_csTempDir);
    m_strTempDir = strDir;
}

std::string CTarvoselApp::GetTempDir()
{
    CCriticalSection::CGuard guard(s_csTempDir);
    return m_strTempDir;
}

std::string CTarvoselApp::MakeTempFileName(std::string strExtension)
{
    const std::string strDir = GetTempDir();
    std::string strName;
    for (int i = 0; i <= 9999; ++i) {
        char szNumber[8];
        snprintf(szNumber, sizeof(szNumber), "%.4i", i);
        strName = strDir + "tvl" + szNumber + "." + strExtension;
        if (!FileExists(strName))
            break;
    }
    return strName;
}

bool CTarvoselApp::FileExists(const std::string& strPath)
{
    if (strPath.empty())
        return false;
    HANDLE h = CreateFileA(strPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(h);
    return true;
}

namespace {
BOOL CALLBACK FindHostWindowProc(HWND hWnd, LPARAM lParam)
{
    DWORD dwProcess = 0;
    GetWindowThreadProcessId(hWnd, &dwProcess);
    if (dwProcess == GetCurrentProcessId() && GetParent(hWnd) == nullptr && IsWindowVisible(hWnd)) {
        *reinterpret_cast<HWND*>(lParam) = hWnd;
        return FALSE;
    }
    return TRUE;
}
}  // namespace

HWND CTarvoselApp::FindHostWindow()
{
    HWND hWnd = nullptr;
    EnumWindows(FindHostWindowProc, reinterpret_cast<LPARAM>(&hWnd));
    return hWnd != nullptr ? GetLastActivePopup(hWnd) : nullptr;
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
    int nStartPage =
        GetPrivateProfileIntA(kIniSection, "TipoUltimaSesion", 0, m_strIniFile.c_str());
    sheet.m_psh.nStartPage = nStartPage >= 0 ? static_cast<UINT>(nStartPage) : 0;
    sheet.m_strIniFile = m_strIniFile;
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
        WritePrivateProfileStringA(kIniSection, "TipoUltimaSesion", szPage, m_strIniFile.c_str());
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
    if (pSession && m_hWndTray != nullptr)
        PostMessageA(m_hWndTray, WM_REFRESH, 0, 0);
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
        char szPath[256] = {0};
        GetPrivateProfileStringA(kIniSection, RecentProfileKey(i).c_str(), "", szPath,
                                 sizeof(szPath), strIniFile.c_str());
        std::string strPath(szPath);
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
        WritePrivateProfileStringA(kIniSection, RecentProfileKey(i).c_str(), strPath.c_str(),
                                   strIniFile.c_str());
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
    if (pSession != nullptr && m_hWndTray != nullptr)
        PostMessageA(m_hWndTray, WM_REFRESH, 0, 0);
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
    if (m_hWndTray != nullptr)
        PostMessageA(m_hWndTray, WM_REFRESH, 0, 0);
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
    const CS_CARDINFO* pCard = static_cast<const CS_CARDINFO*>(info.pDetails);
    if (info.nType == SESSION_KIND_CAPI && pCard != nullptr && pCard->nReader != -1) {
        char szCardName[256] = {0}, szProvider[256] = {0};
        if (CCardManager::FindCardReader(szCardName, szProvider) == -1) {
            CSCardDlg dialog;
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

// A temporary file of the pipeline, deleted when the pipeline leaves, whatever
// the way out.
class CTempFile {
public:
    CTempFile() {}
    ~CTempFile() { Delete(); }
    void Take(const std::string& strPath) { m_strPath = strPath; }
    const std::string& Path() const { return m_strPath; }
    void Delete()
    {
        if (!m_strPath.empty())
            DeleteFileA(m_strPath.c_str());
        m_strPath.clear();
    }

private:
    CTempFile(const CTempFile&) = delete;
    CTempFile& operator=(const CTempFile&) = delete;
    std::string m_strPath;
};
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

namespace {
// The session an operation goes on with, once checked: none left means it was
// closed meanwhile (a failed reopening).
CSessionRef RequireLent(CTarvoselApp& app, const char* pszContext)
{
    CSessionRef pSession = app.LendSession();
    if (!pSession)
        throw new CTarvoselException(EXC_OWN, ERR_NO_SESSION, pszContext);
    return pSession;
}
}  // namespace

void CTarvoselApp::SignFile(std::string strSource, std::string strDestination,
                            std::string strAlgorithm, int bBase64, int bCompress)
{
    const char* pszContext = "CTarvoselApp::SignFile";
    COperation operation(*this);
    int nRetries = 0, bAlternate = 0, nSecurityRetries = 0, bFirstAttempt = 1;
    for (;;) {
        CTempFile input, output;
        try {
            RequireSession(pszContext);
            CS_SESSIONINFO info;
            GetSessionInfo(&info);
            LogInfo("Sesión %s", KindName(info.nType));
            LogInfo("Fichero origen: '%s'", strSource.c_str());
            LogInfo("Fichero destino: '%s'", strDestination.c_str());
            LogInfo("Algoritmo de firma: '%s'", strAlgorithm.c_str());
            LogInfo("Comprimir: %s. Codificar a base64: %s", YesNo(bCompress), YesNo(bBase64));
            ReopenInvalidSession();

            // SignFile first, then for a CryptoAPI session SignFileC2BANER unless
            // the alternate mark says SignFile; the marks move once it has signed.
            int nVariant = !bFirstAttempt && info.nType == SESSION_KIND_CAPI && !bAlternate ? 2 : 0;
            auto signedOnce = [&] {
                if (bFirstAttempt)
                    bFirstAttempt = 0;
                else if (info.nType == SESSION_KIND_CAPI)
                    nRetries = bAlternate = nSecurityRetries = 0;
            };
            if (bBase64) {
                CSessionRef pSession = RequireLent(*this, pszContext);
                if (pSession->CanSignStream()) {
                    std::string strInputTemp, strOutputTemp;
                    try {
                        SignLayersTogether(*pSession, nVariant, strSource, strDestination,
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
            }

            std::string strIn = strSource;
            if (bCompress) {
                input.Take(MakeTempFileName("tmp"));
                LogInfo("Comprimiendo fichero en '%s'...", input.Path().c_str());
                CUtil::ZipFile(strSource.c_str(), input.Path().c_str());
                LogInfo("...OK");
                strIn = input.Path();
            }
            std::string strOut = strDestination;
            if (bBase64) {
                output.Take(MakeTempFileName("tmp"));
                strOut = output.Path();
            }

            CSessionRef pSession = RequireLent(*this, pszContext);
            if (nVariant == 2)
                pSession->SignFileC2BANER(strIn, strOut, strAlgorithm);
            else
                pSession->SignFile(strIn, strOut, strAlgorithm);
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
            // Transient card and provider errors: wait and sign again.
            DWORD dwWait = 0;
            bool bRetry = false;
            switch (static_cast<uint32_t>(e->GetSubCode())) {
            case 0x80090016:  // NTE_BAD_KEYSET
                bRetry = bFirstAttempt != 0;
                bFirstAttempt = 0;
                break;
            case 0x80090006:  // NTE_BAD_SIGNATURE
            case 0x80100013:  // SCARD_F_COMM_ERROR
                if (nRetries < 25) {
                    bRetry = true;
                    ++nRetries;
                    if (nRetries == 4 || nRetries == 8 || nRetries == 16 || nRetries == 20)
                        bAlternate = 1;
                    dwWait = e->GetSubCode() == static_cast<long>(0x80090006) ? 2000 : 0;
                }
                break;
            case 0x8009000D:  // NTE_NO_KEY
                if (nRetries < 25) {
                    bRetry = true;
                    ++nRetries;
                    bAlternate = 1;
                    dwWait = 1500;
                }
                break;
            case 0x8010006A:  // SCARD_W_SECURITY_VIOLATION
                if (nRetries < 25 && nSecurityRetries < 4) {
                    bRetry = true;
                    nRetries = 0;
                    ++nSecurityRetries;
                    bAlternate = 1;
                    dwWait = 1500;
                }
                break;
            default:
                break;
            }
            if (!bRetry)
                throw;
            if (static_cast<uint32_t>(e->GetSubCode()) != 0x80090016)
                LogInfo("0x%08X ", static_cast<unsigned>(e->GetSubCode()));
            delete e;
            if (dwWait != 0)
                m_fnRetryWait(dwWait);
        }
    }
}

void CTarvoselApp::CheckSignedFile(std::string strSource, std::string strDestination,
                                   int bBase64, int bDecompress)
{
    const char* pszContext = "CTarvoselApp::CheckSignedFile";
    // The platform's CryptoAPI table must stay loaded until the check ends.
    COperation operation(*this);
    RequireSession(pszContext);
    CTempFile decoded, content;
    CSignInfoList lstSigners;
    try {
        LogInfo("Fichero origen: '%s'", strSource.c_str());
        LogInfo("Fichero destino: '%s'", strDestination.c_str());
        LogInfo("Descomprimir: %s. Decodificar desde base64: %s", YesNo(bDecompress),
                YesNo(bBase64));
        // The content would overwrite the signed file, before it is checked or
        // after: either way the file is lost.
        if (CUtil::IsSameFile(strSource.c_str(), strDestination.c_str()))
            CUtil::ThrowSameFile(strDestination.c_str(), ERR_FILE_READ, pszContext);
        std::string strMessage = strSource;
        if (bBase64) {
            decoded.Take(MakeTempFileName("tmp"));
            LogInfo("Decodificando (base64) fichero en '%s'...", decoded.Path().c_str());
            CUtil::Base64DecodeFile(strSource.c_str(), decoded.Path().c_str());
            LogInfo("...OK");
            strMessage = decoded.Path();
        }
        std::string strContent = strDestination;
        if (bDecompress) {
            content.Take(MakeTempFileName("tmp"));
            strContent = content.Path();
        }

        CheckSignedFile_(strMessage, strContent, lstSigners);

        // Each accepted text is one whole attribute ("O=ORMAVIA"): a subject that
        // only contains it ("O=ORMAVIA SERVICIOS SL") names someone else.
        const std::string strAccepted[2] = {CHiddenStrings::GetString(0),
                                            CHiddenStrings::GetString(14)};
        bool bAccepted = false;
        for (CS_SIGNINFO* pRecord : lstSigners) {
            if (pRecord->bTrusted) {
                const std::string strSubject = pRecord->pCertificate->GetSubject();
                bool bNamed = false;
                for (const std::string& str : strAccepted)
                    bNamed |= NameHasAttributeValue(strSubject, str);
                if (bNamed)
                    bAccepted = true;
                else
                    LogInfo("El certificado es de una CA de confianza pero no es el esperado");
            }
        }
        DeleteSignInfoList(lstSigners);
        if (!bAccepted)
            throw new CTarvoselException(EXC_OWN, ERR_UNTRUSTED_SIGNER, pszContext);

        if (bDecompress) {
            LogInfo("Descomprimiendo fichero en '%s'...", strDestination.c_str());
            CUtil::UnzipFile(content.Path().c_str(), strDestination.c_str());
            content.Delete();
            LogInfo("...OK");
        }
    } catch (...) {
        DeleteSignInfoList(lstSigners);
        throw;
    }
}

void CTarvoselApp::ExportCertificate(std::string strPolicyPath, std::string& strExportedPath,
                                     std::string& strPassword)
{
    const char* pszContext = "CTarvoselApp::ExportCertificate";
    COperation operation(*this);
    RequireSession(pszContext);
    CS_SESSIONINFO info;
    GetSessionInfo(&info);
    LogInfo("Sesión %s", KindName(info.nType));
    ReopenInvalidSession();
    strPassword.clear();
    strExportedPath.clear();
    CSessionRef pSession = RequireLent(*this, pszContext);
    if (!strPolicyPath.empty())
        pSession->ChangePolicyCertificate(strPolicyPath);
    strExportedPath = MakeTempFileName(info.nType == SESSION_KIND_ENTRUST ? "pfx" : "pem");
    LogInfo("Ruta: %s", strExportedPath.c_str());
    pSession->ExportCertificates(strExportedPath, 2, strPassword);
}

INT_PTR CTarvoselApp::GetSSLHandle(std::string strPolicyPath)
{
    const char* pszContext = "CTarvoselApp::GetSSLHandle";
    COperation operation(*this);
    RequireSession(pszContext);
    CS_SESSIONINFO info;
    GetSessionInfo(&info);
    LogInfo("Sesión %s", KindName(info.nType));
    ReopenInvalidSession();
    CSessionRef pSession = RequireLent(*this, pszContext);
    if (!strPolicyPath.empty())
        pSession->ChangePolicyCertificate(strPolicyPath);
    return pSession->GetSSLHandle();
}

// ---- signed-file decoding and the signer report ------------------------------

CS_SIGNINFO::~CS_SIGNINFO()
{
    delete pCertificate;
}

void DeleteSignInfoList(CSignInfoList& lstSigners)
{
    for (CS_SIGNINFO* p : lstSigners)
        delete p;
    lstSigners.clear();
}

namespace {
// The platform's name of an algorithm OID, in the ANSI code page; "" when unknown.
std::string AlgorithmName(const std::string& strOid)
{
    PCCRYPT_OID_INFO pInfo = CAPIWincrypt::CryptFindOIDInfo(
        CRYPT_OID_INFO_OID_KEY, const_cast<char*>(strOid.c_str()), 0);
    if (pInfo == nullptr || pInfo->pwszName == nullptr)
        return std::string();
    char szName[4096] = {0};
    int n = WideCharToMultiByte(CP_ACP, 0, pInfo->pwszName, -1, szName, sizeof(szName) - 1,
                                nullptr, nullptr);
    return n > 0 ? std::string(szName) : std::string();
}

const char kSigningTimeOid[] = "1.2.840.113549.1.9.5";

// What went wrong with a signed message, for the log.
const char* MessageErrorText(EPkcs7Error e)
{
    switch (e) {
    case EPkcs7Error::Ok: return "correcto";
    case EPkcs7Error::NotPkcs7: return "no es un mensaje PKCS#7";
    case EPkcs7Error::NotSignedData: return "no es un mensaje PKCS#7 firmado";
    case EPkcs7Error::Truncated: return "mensaje incompleto";
    case EPkcs7Error::BadEncoding: return "codificación incorrecta";
    case EPkcs7Error::LimitExceeded: return "se ha superado un límite de tamaño";
    case EPkcs7Error::Unsupported: return "algoritmo o forma no soportados";
    case EPkcs7Error::BadState: return "operación fuera de orden";
    case EPkcs7Error::Output: return "error al escribir el contenido";
    case EPkcs7Error::Crypto: return "error del proveedor criptográfico";
    case EPkcs7Error::BadIndex: return "la firma no existe";
    case EPkcs7Error::SignerMismatch: return "el certificado no es el del firmante";
    case EPkcs7Error::MissingDigest: return "falta el resumen del contenido";
    case EPkcs7Error::HashMismatch: return "el contenido no coincide con el resumen firmado";
    case EPkcs7Error::BadSignature: return "la firma no es correcta";
    case EPkcs7Error::NotData: return "el contenido firmado no es de tipo datos";
    case EPkcs7Error::Detached: return "el mensaje no contiene los datos firmados";
    case EPkcs7Error::SignerNotFound: return "el mensaje no contiene el certificado del firmante";
    case EPkcs7Error::AmbiguousSigner:
        return "el mensaje contiene varios certificados distintos con el emisor y el número de "
               "serie del firmante";
    case EPkcs7Error::AmbiguousDigest:
        return "el resumen del contenido aparece más de una vez en los atributos firmados";
    case EPkcs7Error::ContentTypeMismatch:
        return "el tipo de contenido de los atributos firmados no coincide con el del mensaje";
    case EPkcs7Error::DigestNotAnnounced:
        return "el algoritmo de resumen de la firma no figura entre los del mensaje";
    case EPkcs7Error::AlgorithmMismatch:
        return "el algoritmo de firma no corresponde al algoritmo de resumen";
    case EPkcs7Error::UnsupportedSignature: return "algoritmo de firma no soportado";
    }
    return "error desconocido";
}

// The error a refused message is reported with. A message the checker cannot
// take is not correctly signed; the codec's "unknown algorithm" would read as a
// failure to sign.
DWORD CheckFailureCode(EPkcs7Error e)
{
    return e == EPkcs7Error::Unsupported ? static_cast<DWORD>(CRYPT_E_MSG_ERROR)
                                         : Pkcs7ErrorToWinError(e);
}

// An error the platform gave for part of a message: its number, and its text
// when the system has one.
std::string PlatformReason(DWORD dwError)
{
    char szCode[16];
    snprintf(szCode, sizeof(szCode), "0x%08X", static_cast<unsigned>(dwError));
    std::string strText = ErrorText(dwError);
    return strText == std::to_string(dwError) ? std::string(szCode)
                                              : std::string(szCode) + " (" + strText + ")";
}
const char kDateFormat[] = "%d/%m/%Y, a las %H:%M";

// Whole seconds of a UTC file time: the validity and the signing time are both
// compared in the same clock, to the second as they are written.
uint64_t UtcSeconds(const FILETIME& ft)
{
    ULARGE_INTEGER u;
    u.LowPart = ft.dwLowDateTime;
    u.HighPart = ft.dwHighDateTime;
    return u.QuadPart / 10000000ULL;
}
// The signed file is read, and its content written, in blocks of this size.
const DWORD kCheckIoSize = 1024 * 1024;
}  // namespace

void CTarvoselApp::CheckSignedFile_(std::string strIn, std::string strOut,
                                    CSignInfoList& lstSigners)
{
    const char* pszContext = "CWincryptSession::CheckSignedFile_";
    CFileHandle input(CreateFileA(strIn.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!input.IsValid())
        throw new CTarvoselException(EXC_OWN, ERR_FILE_READ, pszContext);
    // Creating the output would empty the signed file before it is read.
    if (CUtil::IsSameFile(strIn.c_str(), strOut.c_str()))
        CUtil::ThrowSameFile(strOut.c_str(), ERR_FILE_READ, pszContext);
    CFileHandle output(CreateFileA(strOut.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                   CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!output.IsValid())
        throw new CTarvoselException(EXC_OWN, ERR_FILE_READ, pszContext);
    LogInfo("Extrayendo mensaje firmado en '%s'...", strOut.c_str());

    CWincryptPkcs7Crypto crypto;
    if (!crypto.IsReady())
        throw new CTarvoselException(EXC_WINDOWS, GetLastError(), pszContext);
    DWORD dwIoError = 0;
    CFileWriteBuffer outputBuffer(output, kCheckIoSize);
    CFlushBehind flushBehind(output.Get());
    CPkcs7Reader reader(crypto, [&](const uint8_t* pData, size_t nSize) {
        return outputBuffer.Write(pData, nSize, dwIoError);
    });
    auto fail = [&](EPkcs7Error e) {
        // What was extracted before the fault stays in the output, as written.
        if (e != EPkcs7Error::Output)
            outputBuffer.Flush(dwIoError);
        if (e == EPkcs7Error::Output && dwIoError != 0) {
            // The message may be sound: the content could not be written.
            LogInfo("Error al escribir en fichero '%s': %s", strOut.c_str(),
                    ErrorText(dwIoError).c_str());
            throw new CTarvoselException(EXC_WINDOWS, dwIoError, pszContext);
        }
        LogInfo("Mensaje firmado no v\xE1lido: %s", MessageErrorText(e));
        throw new CTarvoselException(EXC_WINDOWS, CheckFailureCode(e), pszContext);
    };
    EPkcs7Error e = EPkcs7Error::Ok;
    DWORD dwReadError = 0;
    bool bRead = input.ReadSlices(kCheckIoSize, 4096, [&](const BYTE* pData, DWORD dwRead) {
        e = reader.Update(pData, dwRead);
        flushBehind.Written(dwRead);
        return e == EPkcs7Error::Ok;
    }, dwReadError);
    if (!bRead) {
        outputBuffer.Flush(dwIoError);
        // The signed file itself could not be read: nothing is known of the message.
        LogInfo("Error al leer fichero '%s': %s", strIn.c_str(), ErrorText(dwReadError).c_str());
        throw new CTarvoselException(EXC_OWN, ERR_FILE_READ, pszContext);
    }
    if (e != EPkcs7Error::Ok)
        fail(e);
    e = reader.Finish();
    if (e != EPkcs7Error::Ok)
        fail(e);
    if (!outputBuffer.Flush(dwIoError))
        fail(EPkcs7Error::Output);
    LogInfo("...OK");
    input.Close();
    if (!flushBehind.Finish() || !FlushFileBuffers(output.Get()))
        throw new CTarvoselException(EXC_WINDOWS, GetLastError(), pszContext);
    output.Close();

    VerifySign(reader, lstSigners);
}


void CTarvoselApp::VerifySign(const CPkcs7Reader& message, CSignInfoList& lstSigners)
{
    const char* pszContext = "CTarvoselApp::VerifySign";
    CS_SIGNINFO* pRecord = nullptr;
    try {
        size_t nSigners = message.SignerCount();
        LogInfo("N\xFAmero de firmas: %i", static_cast<int>(nSigners));
        for (size_t i = 0; i < nSigners; ++i) {
            LogInfo("Firma %i:", static_cast<int>(i + 1));
            pRecord = new CS_SIGNINFO;
            const CPkcs7SignerInfo& signer = message.Signer(i);

            // The signer's certificate is the one its issuer and serial name, not the
            // one at its position: a message may carry them in any order.
            size_t nCert = 0;
            EPkcs7Error eFound = message.FindSignerCertificate(i, nCert);
            if (eFound != EPkcs7Error::Ok) {
                LogInfo("%s", MessageErrorText(eFound));
                throw new CTarvoselException(EXC_WINDOWS, CheckFailureCode(eFound), pszContext);
            }
            const std::vector<uint8_t>& der = message.Certificate(nCert);
            pRecord->pCertificate = new CWincryptCertificate;
            try {
                pRecord->pCertificate->Create2(der.data(), static_cast<DWORD>(der.size()));
            } catch (CTarvoselException* e) {
                LogInfo("Certificado del firmante no v\xE1lido: %s",
                        e->GetKind() == EXC_WINDOWS
                            ? PlatformReason(static_cast<DWORD>(e->GetSubCode())).c_str()
                            : e->GetDescription().c_str());
                throw;
            }
            LogInfo("Certificado:");
            pRecord->pCertificate->LogDetails();

            pRecord->strAlgorithm = AlgorithmName(signer.DigestOid());
            LogInfo("Algoritmo de firma: %s", pRecord->strAlgorithm.c_str());

            for (const auto& attribute : signer.AuthAttributes()) {
                if (attribute.strOid != kSigningTimeOid || attribute.values.empty())
                    continue;
                const std::vector<uint8_t>& value = attribute.values.front();
                FILETIME ft;
                DWORD cb = sizeof(ft);
                if (!CAPIWincrypt::CryptDecodeObject(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING,
                                                     szOID_RSA_signingTime, value.data(),
                                                     static_cast<DWORD>(value.size()),
                                                     CRYPT_DECODE_NOCOPY_FLAG, &ft, &cb)) {
                    DWORD dwError = GetLastError();
                    LogInfo("Fecha de firma no v\xE1lida: %s", PlatformReason(dwError).c_str());
                    throw new CTarvoselException(EXC_WINDOWS, dwError, pszContext);
                }
                pRecord->bHasSigningTime = 1;
                pRecord->tSigningTime = FileTimeToLocalTime64(ft);
                pRecord->nSigningTimeUtc = UtcSeconds(ft);
                LogInfo("Fecha de firma: %s",
                        FormatTime64(pRecord->tSigningTime, kDateFormat).c_str());
            }

            LogInfo("Integridad...");
            EPkcs7Error e = message.Verify(i, der.data(), der.size());
            if (e != EPkcs7Error::Ok) {
                LogInfo("%s", MessageErrorText(e));
                throw new CTarvoselException(EXC_WINDOWS, CheckFailureCode(e), pszContext);
            }
            LogInfo("...OK");

            if (pRecord->pCertificate->GetValidityStatus() & VALIDITY_EXPIRED)
                LogInfo("AVISO: El certificado de firma no est\xE1 en periodo de validez");

            LogInfo("Fecha de firma...");
            if (!pRecord->bHasSigningTime) {
                LogInfo("No existe informaci\xF3n sobre la fecha de la firma");
                throw new CTarvoselException(EXC_OWN, ERR_BAD_SIGNATURE, pszContext);
            }
            const CERT_INFO* pInfo = pRecord->pCertificate->GetContext()->pCertInfo;
            if (pRecord->nSigningTimeUtc > UtcSeconds(pInfo->NotAfter) ||
                pRecord->nSigningTimeUtc < UtcSeconds(pInfo->NotBefore)) {
                LogInfo("La fecha de firma no se encuentra en el intervalo de validez del "
                        "certificado");
                throw new CTarvoselException(EXC_OWN, ERR_BAD_SIGNATURE, pszContext);
            }
            LogInfo("...OK");

            LogInfo("Comprobando si el certificado est\xE1 firmado por alguno de los certificados "
                    "del almac\xE9n de Tarvosel...");
            pRecord->bTrusted = 1;
            if (CAuthorityStore::FindIssuingAuthority(pRecord->pCertificate) ==
                    CAuthorityStore::NO_AUTHORITY &&
                !CAuthorityStore::IsRecognisedIssuer(pRecord->pCertificate, m_nEnvironment))
                pRecord->bTrusted = 0;

            lstSigners.push_back(pRecord);
            pRecord = nullptr;
        }
    } catch (...) {
        delete pRecord;
        DeleteSignInfoList(lstSigners);
        throw;
    }
}
