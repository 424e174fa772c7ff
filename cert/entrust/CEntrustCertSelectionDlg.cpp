#include "cert/entrust/CEntrustCertSelectionDlg.h"

#include <algorithm>

#include "api/CLog.h"
#include "api/CTarvoselException.h"
#include "api/ResultCodes.h"
#include "cert/entrust/CEntrustSession.h"
#include "cert/entrust/ProfileBrowse.h"
#include "platform/framework/CDC.h"
#include "platform/framework/CWaitCursor.h"
#include "platform/framework/CWinApp.h"

namespace {
const char kCaption[] = "Selecci\xF3n de certificado";
const char kExplanation[] =
    "Seleccione el certificado KERVAL que se utilizar\xE1 para la autenticaci\xF3n y la firma de "
    "los datos. Los certificados KERVAL se encuentran almacenados en archivos EPF.";

// The control's text read straight into a buffer of its size: a secret read
// this way leaves no copies in freed memory.
void ReadSecretText(HWND hCtrl, std::string& strText)
{
    if (!strText.empty())
        SecureZeroMemory(&strText[0], strText.size());
    strText.clear();
    int nLength = hCtrl != nullptr ? GetWindowTextLengthA(hCtrl) : 0;
    if (nLength <= 0)
        return;
    strText.resize(static_cast<size_t>(nLength) + 1);
    int nRead = GetWindowTextA(hCtrl, &strText[0], nLength + 1);
    strText.resize(nRead > 0 ? static_cast<size_t>(nRead) : 0);
}
}  // namespace

CEntrustCertSelectionDlg::CEntrustCertSelectionDlg()
    : CDialog(IDD_EPF_SELECTION), m_nLoginResult(0), m_pLoginError(nullptr), m_pSession(nullptr),
      m_hExplanation(nullptr), m_ptExplanation()
{
}

void CEntrustCertSelectionDlg::DoDataExchange(CDataExchange* pDX)
{
    // The password is read only when it is used (OnOK), never kept.
    DDX_Control(pDX, IDC_EPF_PROFILE, m_Profiles);
}

BOOL CEntrustCertSelectionDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    m_Profiles.Init();
    m_Profiles.Fill(m_RecentProfiles);
    // The explanation written on the banner (left of its seal), where a reader
    // of the dialog looks first.
    RECT rc = {0, 0, 0, 0};
    HWND hBanner = GetDlgItem(IDC_EPF_BANNER);
    if (hBanner != nullptr) {
        StretchBanner(hBanner);
        ::GetWindowRect(hBanner, &rc);
        ::MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&rc), 2);
        InflateRect(&rc, -8, -6);
        rc.right = rc.left + (rc.right - rc.left) * 3 / 4;
        if (m_Banner)
            m_BannerBrush.Attach(CreatePatternBrush(m_Banner));
    }
    m_ptExplanation.x = rc.left;
    m_ptExplanation.y = rc.top;
    m_hExplanation = CreateWindowExA(0, "STATIC", kExplanation, WS_CHILD | WS_VISIBLE | SS_LEFT,
                                     rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top, m_hWnd,
                                     nullptr, CWinApp::GetInstanceHandle(), nullptr);
    if (m_hExplanation != nullptr) {
        ::SendMessageA(m_hExplanation, WM_SETFONT, reinterpret_cast<WPARAM>(GetFont()), FALSE);
        ::SetWindowPos(m_hExplanation, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    }
    ::SetFocus(GetDlgItem(IDC_EPF_PASSWORD));
    UpdateOKButton();
    return FALSE;  // the focus is set
}

void CEntrustCertSelectionDlg::StretchBanner(HWND hBanner)
{
    // The banner picture stretched over the dialog's whole width.
    CBitmap picture(static_cast<HBITMAP>(LoadImageA(CWinApp::GetInstanceHandle(),
                                                    MAKEINTRESOURCEA(IDB_LOGIN_BANNER), IMAGE_BITMAP,
                                                    0, 0, 0)));
    BITMAP bm = {};
    RECT rcClient;
    GetClientRect(&rcClient);
    if (!picture || !GetObjectA(picture, sizeof(bm), &bm))
        return;
    CClientDC screen(nullptr);
    m_Banner.Attach(CreateCompatibleBitmap(screen, rcClient.right, bm.bmHeight));
    if (!m_Banner)
        return;
    {
        CMemoryDC source(screen), target(screen);
        CSelectObject keepSource(source, picture), keepTarget(target, m_Banner);
        SetStretchBltMode(target, HALFTONE);
        StretchBlt(target, 0, 0, rcClient.right, bm.bmHeight, source, 0, 0, bm.bmWidth, bm.bmHeight,
                   SRCCOPY);
    }
    HBITMAP hOld = reinterpret_cast<HBITMAP>(::SendMessageA(
        hBanner, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(m_Banner.Get())));
    if (hOld != nullptr && hOld != m_Banner.Get())
        DeleteObject(hOld);
}

LRESULT CEntrustCertSelectionDlg::OnCtlColorStatic(UINT, WPARAM wParam, LPARAM lParam, BOOL& bHandled)
{
    // The explanation shows the banner behind its text.
    if (reinterpret_cast<HWND>(lParam) != m_hExplanation || m_hExplanation == nullptr ||
        !m_BannerBrush) {
        bHandled = FALSE;
        return 0;
    }
    HDC hDC = reinterpret_cast<HDC>(wParam);
    SetBkMode(hDC, TRANSPARENT);
    SetTextColor(hDC, RGB(0, 0, 0));
    SetBrushOrgEx(hDC, -m_ptExplanation.x, -m_ptExplanation.y, nullptr);
    return reinterpret_cast<LRESULT>(m_BannerBrush.Get());
}

std::string CEntrustCertSelectionDlg::SelectedPath() const
{
    int n = m_Profiles.GetCurSel();
    return n >= 0 ? m_Profiles.GetLBText(n) : std::string();
}

void CEntrustCertSelectionDlg::UpdateOKButton()
{
    UpdateData(TRUE);
    ::EnableWindow(GetDlgItem(IDOK), ::GetWindowTextLengthA(GetDlgItem(IDC_EPF_PASSWORD)) > 0 &&
                                         m_Profiles.GetCurSel() >= 0);
}

LRESULT CEntrustCertSelectionDlg::OnBrowse(WORD, WORD, HWND, BOOL&)
{
    if (BrowseForProfile(m_hWnd, m_Profiles)) {
        ::SetFocus(GetDlgItem(IDC_EPF_PASSWORD));
        UpdateOKButton();
    }
    return 0;
}

LRESULT CEntrustCertSelectionDlg::OnPasswordChange(WORD, WORD, HWND, BOOL&)
{
    UpdateOKButton();
    return 0;
}

LRESULT CEntrustCertSelectionDlg::OnDropDown(WORD, WORD, HWND, BOOL&)
{
    m_Profiles.OnDropDown();
    return 0;
}

void CEntrustCertSelectionDlg::OnOK()
{
    UpdateData(TRUE);
    std::string strPath = SelectedPath();
    CS_EPFLOGIN login;
    login.strIniFile = m_strIniFile;
    login.strProfilePath = strPath;
    ReadSecretText(GetDlgItem(IDC_EPF_PASSWORD), login.strPassword);
    login.bOnline = 1;
    login.bLogDetails = 1;
    CS_EPFREQUEST request;
    request.pLogin = &login;

    bool bClose = true;
    {
        CWaitCursor wait;
        m_pLoginError = nullptr;
        m_pSession = new CEntrustSession;
        try {
            m_nLoginResult = m_pSession->Open(&request);
        } catch (CTarvoselException* e) {
            delete m_pSession;
            m_pSession = nullptr;
            m_pLoginError = e;
        }
    }
    if (!login.strPassword.empty())
        SecureZeroMemory(&login.strPassword[0], login.strPassword.size());
    if (m_pLoginError != nullptr && m_pLoginError->GetResultCode() == ERR_WRONG_PASSWORD) {
        MessageBox(ResultCodeMessage(ERR_WRONG_PASSWORD), kCaption, MB_OK | MB_ICONERROR);
        ::SetDlgItemTextA(m_hWnd, IDC_EPF_PASSWORD, "");
        UpdateOKButton();
        ::SetFocus(GetDlgItem(IDC_EPF_PASSWORD));
        LogInfo("%s", m_pLoginError->GetDescription().c_str());
        delete m_pLoginError;
        m_pLoginError = nullptr;
        bClose = false;
    }
    m_RecentProfiles.erase(std::remove(m_RecentProfiles.begin(), m_RecentProfiles.end(), strPath),
                           m_RecentProfiles.end());
    m_RecentProfiles.insert(m_RecentProfiles.begin(), strPath);
    UpdateOKButton();
    if (bClose)
        EndDialog(IDOK);
}
