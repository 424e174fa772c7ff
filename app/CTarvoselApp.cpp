// The application object's life: start and stop, configuration, the host's
// services and the product version.
#include "app/CTarvoselApp.h"

#include <objbase.h>
#include <stdio.h>

#include <vector>

#include "api/CLog.h"
#include "api/CTarvoselException.h"
#include "api/ResultCodes.h"
#include "cert/wincrypt/CAPIWincrypt.h"
#include "cert/wincrypt/CAuthorityStore.h"
#include "host/CHostFiles.h"
#include "host/CHostWindow.h"
#include "host/Messages.h"
#include "platform/framework/CThreadBoundWindows.h"
#include "smartcard/CAPIWinSCard.h"
#include "smartcard/CCardManager.h"

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
