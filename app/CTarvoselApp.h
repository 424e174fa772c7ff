#pragma once
#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/SignInfo.h"
#include "cert/CertTypes.h"
#include "platform/framework/CCriticalSection.h"
#include "platform/framework/CMutex.h"
#include "platform/framework/CWinApp.h"

class CLoginSheet;
class CPkcs7Reader;
class CSession;
class CWincryptSession;

// A session lent by the application object: whoever holds the reference may
// use the session, even if it is closed or replaced meanwhile; it is deleted
// with the last reference.
typedef std::shared_ptr<CSession> CSessionRef;

// The library's single application object: configuration, temporary directory,
// interface thread and the current session.
class CTarvoselApp : public CWinApp {
public:
    CTarvoselApp();
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
    CSessionRef LendSession();

    // The operation lock for what the person at the keyboard asks of the
    // session through the library's own windows (export, import and delete in
    // the session information dialog): taken only when no host operation holds
    // it, never waited for, so that the interface thread keeps answering
    // during a long signing. Held() tells whether it was taken.
    class COperationAttempt {
    public:
        explicit COperationAttempt(CTarvoselApp& app)
            : m_lock(app.m_operationLock), m_bHeld(app.m_operationLock.TryLock())
        {
        }
        ~COperationAttempt()
        {
            if (m_bHeld)
                m_lock.Unlock();
        }
        bool Held() const { return m_bHeld; }

    private:
        COperationAttempt(const COperationAttempt&) = delete;
        COperationAttempt& operator=(const COperationAttempt&) = delete;
        CMutex& m_lock;
        bool m_bHeld;
    };

    // Pipelines.
    void SignFile(std::string strSource, std::string strDestination, std::string strAlgorithm,
                  int bBase64, int bCompress);
    void CheckSignedFile(std::string strSource, std::string strDestination, int bBase64,
                         int bDecompress);
    void ExportCertificate(std::string strPolicyPath, std::string& strExportedPath,
                           std::string& strPassword);
    INT_PTR GetSSLHandle(std::string strPolicyPath);

    // Decodes the signed message of strIn into strOut, streaming, and checks its
    // signers into lstSigners (one record per signer that passed).
    void CheckSignedFile_(std::string strIn, std::string strOut, CSignInfoList& lstSigners);
    // The per-signer report over a completely decoded message.
    void VerifySign(const CPkcs7Reader& message, CSignInfoList& lstSigners);

    // How the signing pipeline waits between retries (Sleep unless replaced).
    void SetRetryWait(std::function<void(DWORD)> fnWait);

    int IsInitialized() const { return m_bInitialized; }
    int GetEnvironment() const { return m_nEnvironment; }
    const std::string& GetIniFile() const { return m_strIniFile; }
    const std::string& GetVersion() const { return m_strVersion; }
    DWORD GetInterfaceThreadId() const;
    HWND GetTrayWindow() const { return m_hWndTray; }
    void SetCardDialog(HWND hWnd) { m_hWndCardDialog = hWnd; }
    HWND GetCardDialog() const { return m_hWndCardDialog; }

    // A copy: the host's thread may set the folder while the interface thread
    // reads it.
    static std::string GetTempDir();
    static std::string MakeTempFileName(std::string strExtension);
    static bool FileExists(const std::string& strPath);
    static HWND FindHostWindow();
    static std::string GetProductVersion();
    static std::string GetHostIniPath();

private:
    struct InterfaceThread;
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

    // The signing of SignFile with a Base64 layer (and a compression layer
    // when bCompress) running beside it; the names of the temporary files it
    // made come back for the caller to delete. fnSigned runs once the session
    // has signed.
    void SignLayersTogether(CSession& session, int nVariant, const std::string& strSource,
                            const std::string& strDestination, const std::string& strAlgorithm,
                            int bCompress, std::string& strInputTemp, std::string& strOutputTemp,
                            const std::function<void()>& fnSigned);
    static DWORD InterfaceThreadProc(void* pParam);
    void RunInterfaceThread(InterfaceThread* pThread, int nFlags);
    // The stop and the card events; false for any other message.
    bool HandleThreadMessage(InterfaceThread* pThread, const MSG& msg);
    static LRESULT CALLBACK ModalFilterProc(int nCode, WPARAM wParam, LPARAM lParam);
    // The interface thread whose dialogs' loops the filter watches.
    static InterfaceThread* s_pModalFilterThread;
    void OnCardEvent(WPARAM wParam, LPARAM lParam);
    void StartSmartCards();
    void StopInterfaceThread();
    // Destroys the library's windows that this thread made and other threads
    // left behind.
    void DestroyThreadWindows();
    void RequireSession(const char* pszContext);
    // Puts pNew in place of the current session and returns the one it
    // replaced, which goes with the caller's last reference to it.
    CSessionRef ReplaceSession(CSessionRef pNew);

    int m_nEnvironment = 0;
    std::string m_strIniFile;
    std::string m_strVersion;
    volatile HWND m_hWndTray = nullptr;
    volatile HWND m_hWndCardDialog = nullptr;
    // The current session; m_csSession guards the pointer only (LendSession).
    CSessionRef m_pSession;
    CCriticalSection m_csSession;
    // A mutex: Finalize must get it back from an interface thread it had to
    // kill inside one of the dialog's operations.
    CMutex m_operationLock;
    // Initialize and Finalize run one at a time, whatever threads call them.
    CCriticalSection m_csLifetime;
    std::unique_ptr<InterfaceThread> m_pUIThread;
    volatile int m_bInitialized = 0;
    bool m_bComInitialized = false;
    // A reference on the library that is never given back (DestroyThreadWindows).
    bool m_bModulePinned = false;
    std::function<void(DWORD)> m_fnRetryWait;
    std::function<CWincryptSession*()> m_fnNewSession;
    std::function<void(CLoginSheet&)> m_fnLoginSheetHook;

    static void SetTempDirText(const std::string& strDir);
    static CCriticalSection s_csTempDir;
    static std::string m_strTempDir;  // under s_csTempDir
};

// The application object of the loaded library.
CTarvoselApp& GetTarvoselApp();
