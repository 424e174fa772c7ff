#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "cert/entrust/CIconComboBox.h"
#include "platform/framework/CGdiObject.h"
#include "platform/framework/CDialog.h"
#include "res/resource.h"

class CEntrustSession;
class CTarvoselException;

// Picks a profile file and its password and logs in with them. The owner sets
// the recent profiles (and the initialisation file) before the run and, after
// it, takes the session or the failure of the login.
class CEntrustCertSelectionDlg : public CDialog {
public:
    CEntrustCertSelectionDlg();

    BEGIN_MSG_MAP(CEntrustCertSelectionDlg)
    COMMAND_HANDLER(IDC_EPF_BROWSE, BN_CLICKED, OnBrowse)
    COMMAND_HANDLER(IDC_EPF_PASSWORD, EN_CHANGE, OnPasswordChange)
    COMMAND_HANDLER(IDC_EPF_PROFILE, CBN_DROPDOWN, OnDropDown)
    MESSAGE_HANDLER(WM_CTLCOLORSTATIC, OnCtlColorStatic)
    REFLECT_OWNERDRAW()
    END_MSG_MAP()

    // Recent profile paths, most recent first; OK moves the chosen one to the head.
    std::vector<std::string> m_RecentProfiles;
    std::string m_strIniFile;
    int m_nLoginResult;
    // The failure that closed the dialog; the owner handles (and deletes) it.
    CTarvoselException* m_pLoginError;
    // The opened session; the owner takes it.
    CEntrustSession* m_pSession;

    // The profile box, for the owner and for tests.
    CIconComboBox& GetProfileBox() { return m_Profiles; }

protected:
    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange* pDX) override;
    void OnOK() override;

private:
    LRESULT OnBrowse(WORD wNotifyCode, WORD wID, HWND hWndCtl, BOOL& bHandled);
    LRESULT OnPasswordChange(WORD wNotifyCode, WORD wID, HWND hWndCtl, BOOL& bHandled);
    LRESULT OnDropDown(WORD wNotifyCode, WORD wID, HWND hWndCtl, BOOL& bHandled);
    LRESULT OnCtlColorStatic(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
    void StretchBanner(HWND hBanner);
    void UpdateOKButton();
    std::string SelectedPath() const;

    CIconComboBox m_Profiles;
    HWND m_hExplanation;
    POINT m_ptExplanation;
    // The banner as the explanation's background.
    CBitmap m_Banner;
    CBrush m_BannerBrush;
};
