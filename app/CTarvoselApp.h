#pragma once
#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/CInterfaceThread.h"
#include "app/CSignRetryPolicy.h"
#include "app/SignInfo.h"
#include "cert/CSessionRef.h"
#include "cert/CertTypes.h"
#include "host/CHostSettings.h"
#include "platform/framework/CCriticalSection.h"
#include "platform/framework/CMutex.h"
#include "platform/framework/CWinApp.h"
#include "ui/ISessionLender.h"

class CLoginSheet;
class CSession;
class CWincryptSession;

// The library's application object: its configuration, the interface thread
// and the current session, with the host's operations on it (signing,
// checking, export, SSL). GetTarvoselApp() is the loaded library's; a test may
// make another over settings of its own.
class CTarvoselApp : public CWinApp, public ISessionLender {
public:
    // The settings are filled here (temporary folder, configuration file) and
    // outlive the object.
    explicit CTarvoselApp(CHostSettings& settings = CHostSettings::Process());
    ~CTarvoselApp() override;

    BOOL InitInstance() override;
    int ExitInstance() override;

    void Initialize(int nFlags);
    void Finalize();
    void SetTempDir(std::string strDir);

    // Session management.
    int OpenSession(CS_SESSIONINFO* pInfo);
    void CloseSession();
    int SessionOpened();
    void GetSessionInfo(CS_SESSIONINFO* pInfo);
    void ReopenInvalidSession();
    // Takes over a session opened by the login flow (replaces none: the caller
    // has checked that no session exists).
    void AdoptSession(CSession* pSession);
    // Makes the session object of each login attempt (a plain CWincryptSession
    // unless set; tests put a stand-in here).
    void SetSessionFactory(std::function<CWincryptSession*()> fnNewSession);
    // Runs on the login sheet just before it is made (tests reach the sheet
    // here; nothing unless set).
    void SetLoginSheetHook(std::function<void(CLoginSheet&)> fnBeforeRun);

    // The recent profile paths of the configuration file: "UltimoEPF", then
    // "UltimoEPF1" to "UltimoEPF4"; read keeps the paths of existing files,
    // once each.
    static void ReadRecentProfiles(const std::string& strIniFile,
                                   std::vector<std::string>& lstProfiles);
    static void WriteRecentProfiles(const std::string& strIniFile,
                                    const std::vector<std::string>& lstProfiles);
    // The current session, lent (null when there is none). The pointer lock is
    // held only to copy it: nothing waits for whoever uses the session. Any
    // thread may read the state and the data, copy the certificates and
    // invalidate through it; the other operations belong to the host's
    // operations, which run one at a time under the operation lock
    // (COperation), or to a COperationAttempt that got it.
    CSessionRef LendSession() override;
    // The operation lock for what the person at the keyboard asks of the
    // session through the library's own windows (COperationAttempt): taken
    // only when no host operation holds it, never waited for, so that the
    // interface thread keeps answering during a long signing.
    bool TryLockOperation() override { return m_operationLock.TryLock(); }
    void UnlockOperation() override { m_operationLock.Unlock(); }

    // Pipelines.
    void SignFile(std::string strSource, std::string strDestination, std::string strAlgorithm,
                  int bBase64, int bCompress);
    void CheckSignedFile(std::string strSource, std::string strDestination, int bBase64,
                         int bDecompress);
    void ExportCertificate(std::string strPolicyPath, std::string& strExportedPath,
                           std::string& strPassword);
    INT_PTR GetSSLHandle(std::string strPolicyPath);

    // The decoding and signer report of CheckSignedFile (CSignedFileChecker).
    void CheckSignedFile_(std::string strIn, std::string strOut, CSignInfoList& lstSigners);

    // How the signing pipeline waits between retries (Sleep unless replaced).
    void SetRetryWait(std::function<void(DWORD)> fnWait);

    int IsInitialized() const { return m_bInitialized; }
    int GetEnvironment() const { return m_nEnvironment; }
    std::string GetIniFile() const { return m_settings.GetIniFile(); }
    const std::string& GetVersion() const { return m_strVersion; }
    DWORD GetInterfaceThreadId() const { return m_interface.GetThreadId(); }
    HWND GetTrayWindow() const { return m_interface.GetTrayWindow(); }
    void SetCardDialog(HWND hWnd) { m_interface.SetCardDialog(hWnd); }
    HWND GetCardDialog() const { return m_interface.GetCardDialog(); }
    // What the insert-card dialog is given to register itself here.
    std::function<void(HWND)> CardDialogRegistration();

    // The loaded library's host services (CHostSettings::Process() and host/).
    static std::string GetTempDir();
    static std::string MakeTempFileName(std::string strExtension);
    static bool FileExists(const std::string& strPath);
    static HWND FindHostWindow();
    static std::string GetProductVersion();
    static std::string GetHostIniPath();

private:
    // Held by the host's operations on the session (open, close, reopen,
    // signing, checking, export, SSL) and by Finalize for their whole length,
    // so that two host threads never use or close the session, or unload what
    // an operation uses, at the same time. The interface thread never waits
    // for it (COperationAttempt).
    class COperation {
    public:
        explicit COperation(CTarvoselApp& app) : m_lock(app.m_operationLock) { m_lock.Lock(); }
        ~COperation() { m_lock.Unlock(); }

    private:
        COperation(const COperation&) = delete;
        COperation& operator=(const COperation&) = delete;
        CMutex& m_lock;
    };
    // The opening steps of a host operation on the session: the operation
    // lock, an open session, its kind in the log (then fnLog's lines), an
    // invalid session reopened; then the session to go on with.
    class CSessionOperation {
    public:
        CSessionOperation(CTarvoselApp& app, const char* pszContext,
                          const std::function<void()>& fnLog = nullptr);
        CS_SESSIONINFO info;
        CSessionRef pSession;

    private:
        COperation m_operation;
    };

    // The signing of SignFile with a Base64 layer (and a compression layer
    // when bCompress) running beside it; the names of the temporary files it
    // made come back for the caller to delete. fnSigned runs once the session
    // has signed.
    void SignLayersTogether(CSession& session, CSession::ESignVariant eVariant,
                            const std::string& strSource, const std::string& strDestination,
                            const std::string& strAlgorithm, int bCompress,
                            std::string& strInputTemp, std::string& strOutputTemp,
                            const std::function<void()>& fnSigned);
    void StartSmartCards();
    // Destroys the library's windows that this thread made and other threads
    // left behind.
    void DestroyThreadWindows();
    void RequireSession(const char* pszContext);
    // Puts pNew in place of the current session and returns the one it
    // replaced, which goes with the caller's last reference to it.
    CSessionRef ReplaceSession(CSessionRef pNew);
    // Tells the notification-area window that the session changed.
    void RefreshTray();

    CHostSettings& m_settings;
    int m_nEnvironment = 0;
    std::string m_strVersion;
    // The current session; m_csSession guards the pointer only (LendSession).
    CSessionRef m_pSession;
    CCriticalSection m_csSession;
    // A mutex: Finalize must get it back from an interface thread it had to
    // kill inside one of the dialog's operations.
    CMutex m_operationLock;
    // Initialize and Finalize run one at a time, whatever threads call them.
    CCriticalSection m_csLifetime;
    CInterfaceThread m_interface;
    volatile int m_bInitialized = 0;
    bool m_bComInitialized = false;
    // A reference on the library that is never given back (DestroyThreadWindows).
    bool m_bModulePinned = false;
    std::function<void(DWORD)> m_fnRetryWait;
    std::function<CWincryptSession*()> m_fnNewSession;
    std::function<void(CLoginSheet&)> m_fnLoginSheetHook;
};

// The application object of the loaded library.
CTarvoselApp& GetTarvoselApp();
