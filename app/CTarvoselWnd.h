#pragma once
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "host/Messages.h"
#include "cert/CSessionRef.h"
#include "cert/CertTypes.h"
#include "platform/framework/CWnd.h"

#include <shellapi.h>

class CHostSettings;
class CSessionInfoDlg;
class ISessionLender;

// The invisible window of the interface thread that owns the library's icon in
// the notification area: it shows whether a user is logged in and who, and a
// click on it opens the session information dialog when the configuration
// asks for that ("ModoInterfaz" 1).
class CTarvoselWnd : public CWnd {
public:
    enum { ICON_ID = 100 };
    // What the library last handed to the shell for its entry: the shell keeps
    // the tip to itself, so this is where it can be read back.
    struct CEntryRecord {
        HWND hWnd = nullptr;  // owner of the entry; none once removed
        HICON hIcon = nullptr;
        std::string strTip;
        UINT uCallbackMessage = 0;
        int nAdds = 0, nModifies = 0, nDeletes = 0;  // calls the shell accepted
        int nIconsPassed = 0;                        // of those, the ones that passed an icon
    };

    // The lender and the settings outlive the window.
    CTarvoselWnd(ISessionLender& lender, const CHostSettings& settings);
    ~CTarvoselWnd() override;

    // Loads the icons, registers the window class and creates the window
    // (which adds the entry). False when the window could not be made.
    bool Create();
    // The session information dialog, when one is open: the interface
    // thread's loop passes it the keys of the person at the keyboard.
    bool PreTranslateMessage(MSG* pMsg);
    HWND GetDialogWindow() const { return m_hWndDialog; }

    static CEntryRecord GetEntryRecord();
    // The shell call that adds, changes and removes the entry
    // (Shell_NotifyIconA unless replaced; null restores it): tests put one
    // here that blocks like a shell that does not answer.
    typedef BOOL(WINAPI* PFN_NOTIFY)(DWORD dwMessage, PNOTIFYICONDATAA pData);
    static void SetShellCall(PFN_NOTIFY pfnNotify);
    // Removes the entry of a window whose thread could not remove it (a
    // thread that had to be killed).
    static void RemoveEntry(HWND hWnd);
    // Gives the window class back once no window of it is left, so that a
    // library unloaded and loaded again at another address registers its own.
    static void UnregisterWindowClass();
    // Windows 9x, or a version number of at most 5.0: the VGA icons.
    static bool IsOlderThanXP(const OSVERSIONINFOA& version);
    // The tip for a session: the owner's name, and for a profile session the
    // environment of its issuer (unless production) and whether it is online.
    static std::string SessionTip(const CS_SESSIONINFO& info, int nIssuerIndex);

    BEGIN_MSG_MAP(CTarvoselWnd)
    MESSAGE_HANDLER(WM_CREATE, OnCreate)
    MESSAGE_HANDLER(WM_DESTROY, OnDestroy)
    MESSAGE_HANDLER(WM_TRAY_NOTIFY, OnNotify)
    MESSAGE_HANDLER(WM_LBUTTONUP, OnLButtonUp)
    MESSAGE_HANDLER(WM_RBUTTONUP, OnRButtonUp)
    MESSAGE_HANDLER(WM_REFRESH, OnRefresh)
    END_MSG_MAP()

private:
    CTarvoselWnd(const CTarvoselWnd&) = delete;
    CTarvoselWnd& operator=(const CTarvoselWnd&) = delete;

    LRESULT OnCreate(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
    LRESULT OnDestroy(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
    LRESULT OnNotify(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
    LRESULT OnLButtonUp(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
    LRESULT OnRButtonUp(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
    LRESULT OnRefresh(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);

    // Adds, changes or removes the entry; the icon goes with an update only
    // when it differs from the one the shell has.
    bool NotifyEntry(DWORD dwMessage, HICON hIcon, const char* pszTip);
    // Destroys the dialog's window; the object goes with it, or, when the
    // dialog is inside a loop of its own (a message box, the properties or
    // file dialog), once that loop has returned.
    void DestroyDialog();
    void DeleteRetiredDialogs();

    // The current session when it is open; none otherwise.
    CSessionRef OpenSession();

    ISessionLender& m_lender;
    const CHostSettings& m_settings;
    HICON m_hIconNoSession = nullptr;
    HICON m_hIconSession = nullptr;
    HICON m_hIconClass = nullptr;
    HWND m_hWndDialog = nullptr;
    std::unique_ptr<CSessionInfoDlg> m_pDialog;
    std::vector<std::unique_ptr<CSessionInfoDlg>> m_lstRetired;
};
