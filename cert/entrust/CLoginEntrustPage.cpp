#include "cert/entrust/CLoginEntrustPage.h"

#include "cert/entrust/ProfileBrowse.h"

CLoginEntrustPage::CLoginEntrustPage()
    : CPropertyPage(IDD_LOGIN_EPF), m_bOffline(0), m_bShowOffline(0)
{
}

void CLoginEntrustPage::DoDataExchange(CDataExchange* pDX)
{
    DDX_Control(pDX, IDC_EPF_PROFILE, m_Profiles);
    DDX_Text(pDX, IDC_EPF_PASSWORD, m_strPassword);
    DDX_Check(pDX, IDC_EPF_OFFLINE, m_bOffline);
    if (pDX->m_bSaveAndValidate) {
        int n = m_Profiles.GetCurSel();
        m_strSelectedPath = n >= 0 ? m_Profiles.GetLBText(n) : std::string();
    }
}

BOOL CLoginEntrustPage::OnInitDialog()
{
    m_bShowOffline = 0;
    CPropertyPage::OnInitDialog();
    m_Profiles.Init();
    m_Profiles.Fill(m_RecentProfiles);
    if (!m_bShowOffline)
        ::ShowWindow(GetDlgItem(IDC_EPF_OFFLINE), SW_HIDE);
    UpdateSheetButtons();
    return TRUE;
}

void CLoginEntrustPage::UpdateSheetButtons()
{
    if (m_fnUpdateSheetButtons)
        m_fnUpdateSheetButtons();
}

BOOL CLoginEntrustPage::OnSetActive()
{
    UpdateSheetButtons();
    return CPropertyPage::OnSetActive();
}

LRESULT CLoginEntrustPage::OnBrowse(WORD, WORD, HWND, BOOL&)
{
    if (BrowseForProfile(m_hWnd, m_Profiles))
        UpdateSheetButtons();
    return 0;
}

LRESULT CLoginEntrustPage::OnChange(WORD, WORD, HWND, BOOL&)
{
    UpdateSheetButtons();
    return 0;
}

LRESULT CLoginEntrustPage::OnDropDown(WORD, WORD, HWND, BOOL&)
{
    m_Profiles.OnDropDown();
    return 0;
}

LRESULT CLoginEntrustPage::OnFocusPassword(UINT, WPARAM, LPARAM, BOOL&)
{
    ::SetFocus(GetDlgItem(IDC_EPF_PASSWORD));
    return 0;
}
