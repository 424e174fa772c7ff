#pragma once
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "cert/entrust/CIconComboBox.h"
#include "platform/framework/CPropertyPage.h"
#include "res/resource.h"

// The login sheet's page for a profile file and its password. It only
// collects them: the owner reads the selected path, m_strPassword and
// m_bOffline after the run.
class CLoginEntrustPage : public CPropertyPage {
public:
    // Sent to the page: the focus goes to the password.
    static const UINT WM_FOCUS_PASSWORD = WM_USER + 509;

    CLoginEntrustPage();

    BEGIN_MSG_MAP(CLoginEntrustPage)
    COMMAND_HANDLER(IDC_EPF_BROWSE, BN_CLICKED, OnBrowse)
    COMMAND_HANDLER(IDC_EPF_PASSWORD, EN_CHANGE, OnChange)
    COMMAND_HANDLER(IDC_EPF_PROFILE, CBN_SELCHANGE, OnChange)
    COMMAND_HANDLER(IDC_EPF_PROFILE, CBN_DROPDOWN, OnDropDown)
    MESSAGE_HANDLER(WM_FOCUS_PASSWORD, OnFocusPassword)
    REFLECT_OWNERDRAW()
    END_MSG_MAP()

    std::vector<std::string> m_RecentProfiles;
    int m_bOffline;
    std::string m_strPassword;
    int m_bShowOffline;
    // How the sheet re-evaluates its buttons when the page's data change.
    std::function<void()> m_fnUpdateSheetButtons;

    // The path chosen in the profile box (as last read from the controls);
    // empty when none.
    std::string GetSelectedPath() const { return m_strSelectedPath; }
    CIconComboBox& GetProfileBox() { return m_Profiles; }

protected:
    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnSetActive() override;

private:
    LRESULT OnBrowse(WORD wNotifyCode, WORD wID, HWND hWndCtl, BOOL& bHandled);
    LRESULT OnChange(WORD wNotifyCode, WORD wID, HWND hWndCtl, BOOL& bHandled);
    LRESULT OnDropDown(WORD wNotifyCode, WORD wID, HWND hWndCtl, BOOL& bHandled);
    LRESULT OnFocusPassword(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
    void UpdateSheetButtons();

    CIconComboBox m_Profiles;
    std::string m_strSelectedPath;
};
