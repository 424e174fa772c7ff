#include "app/CTarvoselApp.h"

#include <objbase.h>
#include <stdio.h>

#include <vector>

#include "api/CLog.h"
#include "api/CTarvoselException.h"
#include "api/ResultCodes.h"
#include "app/Messages.h"
#include "cert/CSession.h"
#include "cert/wincrypt/CAPIWincrypt.h"
#include "cert/wincrypt/WincryptRecords.h"
#include "smartcard/CAPIWinSCard.h"
#include "smartcard/CCardManager.h"

namespace {
const char kIniSection[] = "Configuracion tarvosel";
const DWORD kStopWaitMs = 500;

// Runs a cleanup when leaving scope, whatever the way out.
template <typename F>
class ScopeExit {
public:
    explicit ScopeExit(F f) : m_f(f) {}
    ~ScopeExit() { m_f(); }
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;

private:
    F m_f;
};
}  // namespace

// The interface thread's record; owned by the application object so that it
// outlives the wait in Finalize whatever the thread does.
struct CTarvoselApp::InterfaceThread {
    CTarvoselApp* pApp = nullptr;
    int nFlags = 0;
    HANDLE hThread = nullptr;
    DWORD dwThreadId = 0;
    HANDLE hQueueReady = nullptr;  // set once the thread has a message queue

    ~InterfaceThread()
    {
        if (hThread != nullptr)
            CloseHandle(hThread);
        if (hQueueReady != nullptr)
            CloseHandle(hQueueReady);
    }
};

std::string CTarvoselApp::m_strTempDir;

CTarvoselApp& GetTarvoselApp()
{
    static CTarvoselApp theApp;
    return theApp;
}

CTarvoselApp::CTarvoselApp() {}

CTarvoselApp::~CTarvoselApp() {}

BOOL CTarvoselApp::InitInstance()
{
    CoInitialize(nullptr);
    m_strVersion = GetProductVersion();
    return CWinApp::InitInstance();
}

int CTarvoselApp::ExitInstance()
{
    CoUninitialize();
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
    if (m_bInitialized)
        return;
    m_pSession = nullptr;
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
        pThread->hThread = CreateThread(nullptr, 0, InterfaceThreadProc, pThread.get(), 0,
                                        &pThread->dwThreadId);
        if (pThread->hThread == nullptr)
            throw new CTarvoselException(EXC_WINDOWS, GetLastError(), "CTarvoselApp::Initialize");
        // Card events are posted to this thread: it must have its queue first.
        WaitForSingleObject(pThread->hQueueReady, 5000);
        m_pUIThread = std::move(pThread);

        m_strTempDir = "C:\\";
        LogSetEnabled(GetPrivateProfileIntA(kIniSection, "Log", 1, m_strIniFile.c_str()));
        m_nEnvironment = GetPrivateProfileIntA(kIniSection, "Intpreepro", 0, m_strIniFile.c_str());
        switch (m_nEnvironment) {
        case 0: LogInfo("Tarvosel entorno de Producción."); break;
        case 1: LogInfo("Tarvosel entorno de Integración."); break;
        case 2: LogInfo("Tarvosel entorno de Pre-explotación."); break;
        default: LogInfo("Tarvosel entorno de _Producción_"); break;
        }
        CAPIWincrypt::Load();
    } catch (CTarvoselException*) {
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
    return m_pUIThread ? m_pUIThread->dwThreadId : 0;
}

void CTarvoselApp::Finalize()
{
    if (!m_bInitialized)
        return;
    try {
        CloseSession();
    } catch (CTarvoselException* e) {
        delete e;
    }
    if (m_pUIThread) {
        PostThreadMessageA(m_pUIThread->dwThreadId, WM_STOP_INTERFACE, 0, 0);
        if (WaitForSingleObject(m_pUIThread->hThread, kStopWaitMs) != WAIT_OBJECT_0)
            TerminateThread(m_pUIThread->hThread, 0);
        m_pUIThread.reset();
        m_hWndTray = nullptr;
    }
    CCardManager::StopMonitor();
    CCardManager::Terminate();
    CAPIWincrypt::Unload();
    CAPIWinSCard::Unload();
    m_bInitialized = 0;
}

DWORD WINAPI CTarvoselApp::InterfaceThreadProc(LPVOID pParam)
{
    InterfaceThread* pThread = static_cast<InterfaceThread*>(pParam);
    pThread->pApp->RunInterfaceThread(pThread, pThread->nFlags);
    return 0;
}

void CTarvoselApp::RunInterfaceThread(InterfaceThread* pThread, int nFlags)
{
    MSG msg;
    PeekMessageA(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
    SetEvent(pThread->hQueueReady);

    // The notification-area window is created here when nFlags asks for it.
    (void)nFlags;

    bool bStop = false;
    while (!bStop) {
        WaitMessage();
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.hwnd == nullptr && msg.message == WM_STOP_INTERFACE) {
                if (m_hWndTray != nullptr)
                    SendMessageA(m_hWndTray, WM_CLOSE, 0, 0);
                bStop = true;
            } else if (msg.hwnd == nullptr && msg.message == WM_CARD_EVENT) {
                OnCardEvent(msg.wParam, msg.lParam);
            } else {
                TranslateMessage(&msg);
                DispatchMessageA(&msg);
            }
        }
    }
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
    std::lock_guard<std::recursive_mutex> lock(m_mtxSession);
    if (m_pSession == nullptr || !(m_pSession->GetState() & SESSION_OPEN))
        return;
    CS_SESSIONINFO info;
    m_pSession->GetSessionData(&info);
    const CS_CARDINFO* pCard = static_cast<const CS_CARDINFO*>(info.pDetails);
    if (info.nType == SESSION_KIND_CAPI && pCard != nullptr &&
        pCard->nReader == static_cast<int>(lParam))
        m_pSession->Invalidate();
}

void CTarvoselApp::SetTempDir(std::string strDir)
{
    if (!m_bInitialized)
        throw new CTarvoselException(EXC_OWN, ERR_NOT_INITIALISED, "CTarvoselApp::SetTempDir");
    if (strDir.empty())
        strDir = "C:\\";
    else if (strDir.back() != '\\')
        strDir += '\\';
    m_strTempDir = strDir;
}

std::string CTarvoselApp::MakeTempFileName(std::string strExtension)
{
    char szName[MAX_PATH * 2];
    for (int i = 0; i <= 9999; ++i) {
        snprintf(szName, sizeof(szName), "%stvl%.4i.%s", m_strTempDir.c_str(), i,
                 strExtension.c_str());
        if (!FileExists(szName))
            break;
    }
    return szName;
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
    if (!m_bInitialized)
        throw new CTarvoselException(EXC_OWN, ERR_NOT_INITIALISED, "CTarvoselApp::OpenSession");
    if (SessionOpened())
        throw new CTarvoselException(EXC_OWN, ERR_SESSION_ALREADY_OPEN, "CTarvoselApp::OpenSession");
    // No login dialog in this build: the login counts as cancelled.
    return 0;
}

void CTarvoselApp::AdoptSession(CSession* pSession)
{
    std::lock_guard<std::recursive_mutex> lock(m_mtxSession);
    m_pSession = pSession;
    if (m_pSession != nullptr && m_hWndTray != nullptr)
        PostMessageA(m_hWndTray, WM_REFRESH, 0, 0);
}

void CTarvoselApp::DestroySession()
{
    std::lock_guard<std::recursive_mutex> lock(m_mtxSession);
    delete m_pSession;
    m_pSession = nullptr;
}

void CTarvoselApp::CloseSession()
{
    if (!m_bInitialized)
        throw new CTarvoselException(EXC_OWN, ERR_NOT_INITIALISED, "CTarvoselApp::CloseSession");
    std::lock_guard<std::recursive_mutex> lock(m_mtxSession);
    if (m_pSession == nullptr)
        return;
    m_pSession->Close();
    DestroySession();
    if (m_hWndTray != nullptr)
        PostMessageA(m_hWndTray, WM_REFRESH, 0, 0);
}

int CTarvoselApp::SessionOpened()
{
    if (!m_bInitialized)
        throw new CTarvoselException(EXC_OWN, ERR_NOT_INITIALISED, "CTarvoselApp::SessionOpened");
    std::lock_guard<std::recursive_mutex> lock(m_mtxSession);
    return m_pSession != nullptr && (m_pSession->GetState() & SESSION_OPEN) ? 1 : 0;
}

void CTarvoselApp::GetSessionInfo(CS_SESSIONINFO* pInfo)
{
    if (!m_bInitialized)
        throw new CTarvoselException(EXC_OWN, ERR_NOT_INITIALISED, "CTarvoselApp::GetSessionInfo");
    if (!SessionOpened())
        throw new CTarvoselException(EXC_OWN, ERR_NO_SESSION, "CTarvoselApp::GetSessionInfo");
    std::lock_guard<std::recursive_mutex> lock(m_mtxSession);
    m_pSession->GetSessionData(pInfo);
}

void CTarvoselApp::ReopenInvalidSession()
{
    std::lock_guard<std::recursive_mutex> lock(m_mtxSession);
    if (m_pSession == nullptr || !(m_pSession->GetState() & SESSION_INVALID))
        return;
    LogInfo("La sesión es inválida. Reabriendo...");
    try {
        m_pSession->Reopen();
        LogInfo("...OK");
    } catch (CTarvoselException*) {
        try {
            CloseSession();
        } catch (CTarvoselException* e) {
            delete e;
        }
        LogInfo("Se cerró la sesión...");
        throw;
    }
}

// ---- pipelines -------------------------------------------------------------

void CTarvoselApp::SignFile(std::string strSource, std::string strDestination,
                            std::string strAlgorithm, int bBase64, int bCompress)
{
    if (!m_bInitialized)
        throw new CTarvoselException(EXC_OWN, ERR_NOT_INITIALISED, "CTarvoselApp::SignFile");
    if (!SessionOpened())
        throw new CTarvoselException(EXC_OWN, ERR_NO_SESSION, "CTarvoselApp::SignFile");
    throw new CTarvoselException(EXC_OWN, ERR_SIGN, "CTarvoselApp::SignFile");
}

void CTarvoselApp::CheckSignedFile(std::string strSource, std::string strDestination,
                                   int bBase64, int bDecompress)
{
    if (!m_bInitialized)
        throw new CTarvoselException(EXC_OWN, ERR_NOT_INITIALISED, "CTarvoselApp::CheckSignedFile");
    if (!SessionOpened())
        throw new CTarvoselException(EXC_OWN, ERR_NO_SESSION, "CTarvoselApp::CheckSignedFile");
    throw new CTarvoselException(EXC_OWN, ERR_BAD_SIGNATURE, "CTarvoselApp::CheckSignedFile");
}

void CTarvoselApp::ExportCertificate(std::string strPolicyPath, std::string& strExportedPath,
                                     std::string& strPassword)
{
    if (!m_bInitialized)
        throw new CTarvoselException(EXC_OWN, ERR_NOT_INITIALISED, "CTarvoselApp::ExportCertificate");
    if (!SessionOpened())
        throw new CTarvoselException(EXC_OWN, ERR_NO_SESSION, "CTarvoselApp::ExportCertificate");
    throw new CTarvoselException(EXC_OWN, ERR_EXPORT_CERT, "CTarvoselApp::ExportCertificate");
}

int CTarvoselApp::GetSSLHandle(std::string strPolicyPath)
{
    if (!m_bInitialized)
        throw new CTarvoselException(EXC_OWN, ERR_NOT_INITIALISED, "CTarvoselApp::GetSSLHandle");
    if (!SessionOpened())
        throw new CTarvoselException(EXC_OWN, ERR_NO_SESSION, "CTarvoselApp::GetSSLHandle");
    throw new CTarvoselException(EXC_OWN, ERR_SSL_OBJECT, "CTarvoselApp::GetSSLHandle");
}
