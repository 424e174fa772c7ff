#pragma once
#include <functional>
#include <string>

#include "cert/CSessionRef.h"
#include "cert/CertTypes.h"
#include "host/Messages.h"
#include "platform/framework/CDialog.h"
#include "res/resource.h"
#include "ui/CCertificateList.h"
#include "ui/ISessionLender.h"

class CHostSettings;

class CSession;
class CTarvoselException;

// Who is logged in, the session's own certificates with their export, and the
// certificates of the session's store (the address book of a profile session)
// with import and delete. Opened modeless by the notification-area window on
// the interface thread, while the host's thread may be using the session: the
// dialog shows copies of the certificates, and the store and export work runs
// only when no host operation holds the session (otherwise the user is told to
// try again, and the address book fills in once the operation is over).
class CSessionInfoDlg : public CDialog {
public:
    // The lender and the settings outlive the dialog.
    CSessionInfoDlg(ISessionLender& lender, const CHostSettings& settings);
    ~CSessionInfoDlg() override;

    CSessionRef m_pSession;  // set before Create; the session it shows
    std::string m_strUserLine;
    int m_nExportChoice = -1;  // radio index: 0 public, 1 all, 2 encryption, 3 signing
    CCertificateArray m_UserCertificates;     // copies of the session's own, owned
    CCertificateArray m_AddressCertificates;  // copies of the store's, owned
    CCertificateList m_UserList;
    CCertificateList m_AddressList;

    // True while one of its own loops runs (a message box, the properties or
    // the file dialog): the object must outlive it, even when the window is
    // destroyed meanwhile.
    bool IsInModalRun() const { return m_nModalRuns > 0; }

    BEGIN_MSG_MAP(CSessionInfoDlg)
    COMMAND_ID_HANDLER(IDC_INFO_EXPORT, OnExport)
    COMMAND_ID_HANDLER(IDC_INFO_IMPORT, OnImport)
    COMMAND_ID_HANDLER(IDC_INFO_DELETE, OnDeleteSelected)
    COMMAND_ID_HANDLER(IDC_INFO_VIEW_USER, OnViewUser)
    COMMAND_ID_HANDLER(IDC_INFO_VIEW_BOOK, OnViewBook)
    NOTIFY_HANDLER(IDC_INFO_USER_LIST, LVN_ITEMCHANGED, OnItemChanged)
    NOTIFY_HANDLER(IDC_INFO_BOOK_LIST, LVN_ITEMCHANGED, OnItemChanged)
    MESSAGE_HANDLER(WM_REFRESH, OnRefresh)
    MESSAGE_HANDLER(WM_TIMER, OnTimer)
    MESSAGE_HANDLER(WM_DESTROY, OnDestroy)
    END_MSG_MAP()

    // The selection ExportCertificates gets for an export choice.
    static int ExportSelection(int nChoice);

protected:
    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange* pDX) override;

    LRESULT OnExport(WORD wNotifyCode, WORD wID, HWND hWndCtl, BOOL& bHandled);
    LRESULT OnImport(WORD wNotifyCode, WORD wID, HWND hWndCtl, BOOL& bHandled);
    LRESULT OnDeleteSelected(WORD wNotifyCode, WORD wID, HWND hWndCtl, BOOL& bHandled);
    LRESULT OnViewUser(WORD wNotifyCode, WORD wID, HWND hWndCtl, BOOL& bHandled);
    LRESULT OnViewBook(WORD wNotifyCode, WORD wID, HWND hWndCtl, BOOL& bHandled);
    LRESULT OnItemChanged(int idCtrl, LPNMHDR pnmh, BOOL& bHandled);
    LRESULT OnRefresh(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
    LRESULT OnTimer(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
    LRESULT OnDestroy(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);

    void UpdateButtons();
    // Reloads the address book; when a host operation holds the session it
    // tries again a little later.
    void RefreshAddressBook();
    void ShowCertificates(CERTGROUP_INFO* pGroup);
    // The export's file for the chosen row.
    std::string ExportPath(int nChoice);
    // The session, when it is still the application's open session; otherwise
    // throws ERR_NO_SESSION with the context.
    CSession& RequireSession(const char* pszContext);
    // Runs fn under the operation lock. False when a host operation holds the
    // lock or fn failed: the user has been told (try again, or the failure).
    bool WithSession(const std::function<void()>& fn);
    void ShowMessage(const std::string& strText);
    void ShowFailure(CTarvoselException* e);
    static void DeleteCertificates(CCertificateArray& lstCertificates);

    int m_nModalRuns = 0;
    ISessionLender& m_lender;
    const CHostSettings& m_settings;

    // Counts a loop of the dialog's own while it runs.
    class CModalRun {
    public:
        explicit CModalRun(CSessionInfoDlg& dlg) : m_dlg(dlg) { ++m_dlg.m_nModalRuns; }
        ~CModalRun() { --m_dlg.m_nModalRuns; }

    private:
        CSessionInfoDlg& m_dlg;
    };
};
