// The profile selection dialog, the login sheet's profile page and their
// icon box, worked by a driver thread as a person would.
#include "tests/entrust/EntrustSessionTestSupport.h"

#include <commctrl.h>

#include <cstdlib>

#include "api/ResultCodes.h"
#include "cert/entrust/CEntrustCertSelectionDlg.h"
#include "cert/entrust/CLoginEntrustPage.h"
#include "platform/framework/CPropertySheet.h"
#include "tests/support/TestDriver.h"

using namespace tvltest;

namespace {
const char kCaption[] = "Selecci\xF3n de certificado";

bool IsEnabled(HWND hDlg, int nId)
{
    return IsWindowEnabled(GetDlgItem(hDlg, nId)) != FALSE;
}

void Type(HWND hEdit, const std::string& strText)
{
    SendMessageA(hEdit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(strText.c_str()));
}

int ComboCount(HWND hDlg)
{
    return static_cast<int>(SendMessageA(GetDlgItem(hDlg, IDC_EPF_PROFILE), CB_GETCOUNT, 0, 0));
}

int ComboSelection(HWND hDlg)
{
    return static_cast<int>(SendMessageA(GetDlgItem(hDlg, IDC_EPF_PROFILE), CB_GETCURSEL, 0, 0));
}

// Picks a file in the open-file dialog that "Examinar..." shows.
bool ChooseFile(DWORD dwThread, const std::string& strPath)
{
    HWND hOpen = WaitForDialog(dwThread, "Seleccione el archivo del perfil");
    if (hOpen == nullptr)
        return false;
    // The file name box: a combo box (cmb13) or an edit field (edt1).
    HWND hName = GetDlgItem(hOpen, 0x47C);
    if (hName == nullptr)
        hName = GetDlgItem(hOpen, 0x480);
    if (hName == nullptr)
        return false;
    Type(hName, strPath);
    Click(GetDlgItem(hOpen, IDOK));
    return WaitFor([&] { return !IsWindow(hOpen) || !IsWindowVisible(hOpen); });
}

// The focused window of a thread's queue.
HWND FocusOf(DWORD dwThread)
{
    GUITHREADINFO info = {};
    info.cbSize = sizeof(info);
    GetGUIThreadInfo(dwThread, &info);
    return info.hwndFocus;
}

std::string ToolTipText(HWND hTip, HWND hOwner)
{
    char sz[2048] = {0};
    TOOLINFOA ti = {};
    ti.cbSize = sizeof(ti);
    ti.hwnd = hOwner;
    ti.uId = reinterpret_cast<UINT_PTR>(hOwner);
    ti.lpszText = sz;
    SendMessageA(hTip, TTM_GETTEXTA, sizeof(sz), reinterpret_cast<LPARAM>(&ti));
    return sz;
}
}  // namespace

// With no recent profile nothing is selected and "Aceptar" waits for a browsed
// file and a password; browsing the same file again selects the same entry.
TEST_F(EntrustSessionTest, SelectionDialogWaitsForAFileAndAPassword)
{
    std::string strProfile = Profile("user");
    CEntrustCertSelectionDlg dlg;
    DWORD dwThread = GetCurrentThreadId();
    CDriver driver([&] {
        HWND hDlg = WaitForDialog(dwThread, kCaption);
        ASSERT_NE(hDlg, nullptr);
        EXPECT_EQ(ComboCount(hDlg), 0);
        EXPECT_EQ(ComboSelection(hDlg), -1);
        // The explanation is written on the banner.
        HWND hText = nullptr;
        for (HWND h : ChildWindows(hDlg)) {
            if (TextOf(h).rfind("Seleccione el certificado KERVAL que se utilizar\xE1", 0) == 0)
                hText = h;
        }
        ASSERT_NE(hText, nullptr);
        EXPECT_TRUE(IsWindowVisible(hText));
        RECT rcText, rcBanner, rcCommon;
        GetWindowRect(hText, &rcText);
        GetWindowRect(GetDlgItem(hDlg, IDC_EPF_BANNER), &rcBanner);
        EXPECT_TRUE(IntersectRect(&rcCommon, &rcText, &rcBanner) && EqualRect(&rcCommon, &rcText))
            << rcText.left << "," << rcText.top << "," << rcText.right << "," << rcText.bottom << " in "
            << rcBanner.left << "," << rcBanner.top << "," << rcBanner.right << "," << rcBanner.bottom;
        EXPECT_FALSE(IsEnabled(hDlg, IDOK));
        // The dialog takes the focus when the display activates it, which
        // may come after it is found.
        EXPECT_TRUE(WaitFor([&] { return FocusOf(dwThread) == GetDlgItem(hDlg, IDC_EPF_PASSWORD); }))
            << FocusOf(dwThread);
        Type(GetDlgItem(hDlg, IDC_EPF_PASSWORD), epftest::kPassword);
        EXPECT_FALSE(IsEnabled(hDlg, IDOK));
        for (int i = 0; i < 2; ++i) {
            Click(GetDlgItem(hDlg, IDC_EPF_BROWSE));
            ASSERT_TRUE(ChooseFile(dwThread, strProfile));
            ASSERT_TRUE(WaitFor([&] { return ComboSelection(hDlg) == 0; }));
            EXPECT_EQ(ComboCount(hDlg), 1);
            EXPECT_TRUE(IsEnabled(hDlg, IDOK));
        }
        Type(GetDlgItem(hDlg, IDC_EPF_PASSWORD), "");
        EXPECT_FALSE(IsEnabled(hDlg, IDOK));
        Click(GetDlgItem(hDlg, IDCANCEL));
    });
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    driver.Join();
    EXPECT_EQ(dlg.m_pSession, nullptr);
    EXPECT_EQ(dlg.m_pLoginError, nullptr);
}

// A wrong password is told in a message box and leaves the dialog open with the
// password emptied and the path at the head of the recent list; the right one
// then logs in and closes it.
TEST_F(EntrustSessionTest, SelectionDialogWrongPasswordKeepsItOpen)
{
    std::string strOther = Profile("single"), strProfile = Profile("user");
    CEntrustCertSelectionDlg dlg;
    dlg.m_RecentProfiles = {strOther, strProfile};
    tvltest::LogCapture log("dialog");
    DWORD dwThread = GetCurrentThreadId();
    std::string strBox;
    std::vector<std::string> recentWhileOpen;
    CDriver driver([&] {
        HWND hDlg = WaitForDialog(dwThread, kCaption);
        ASSERT_NE(hDlg, nullptr);
        EXPECT_EQ(ComboCount(hDlg), 2);
        EXPECT_EQ(ComboSelection(hDlg), 0);
        SendMessageA(GetDlgItem(hDlg, IDC_EPF_PROFILE), CB_SETCURSEL, 1, 0);
        Type(GetDlgItem(hDlg, IDC_EPF_PASSWORD), "mala");
        ASSERT_TRUE(IsEnabled(hDlg, IDOK));
        Click(GetDlgItem(hDlg, IDOK));
        HWND hBox = WaitForWindow(dwThread, [&](HWND h) { return h != hDlg && TextOf(h) == kCaption; });
        ASSERT_NE(hBox, nullptr);
        strBox = MessageBoxText(hBox);
        Click(GetDlgItem(hBox, IDOK));
        ASSERT_TRUE(WaitFor([&] { return !IsWindow(hBox); }));
        EXPECT_TRUE(IsWindowVisible(hDlg));
        EXPECT_EQ(TextOf(GetDlgItem(hDlg, IDC_EPF_PASSWORD)), "");
        EXPECT_FALSE(IsEnabled(hDlg, IDOK));
        EXPECT_TRUE(WaitFor([&] { return FocusOf(dwThread) == GetDlgItem(hDlg, IDC_EPF_PASSWORD); }));
        recentWhileOpen = dlg.m_RecentProfiles;
        Type(GetDlgItem(hDlg, IDC_EPF_PASSWORD), epftest::kPassword);
        Click(GetDlgItem(hDlg, IDOK));
    });
    EXPECT_EQ(dlg.DoModal(), IDOK);
    driver.Join();
    EXPECT_EQ(strBox, "Contrase\xF1" "a incorrecta");
    EXPECT_EQ(recentWhileOpen, (std::vector<std::string>{strProfile, strOther}));
    EXPECT_EQ(dlg.m_RecentProfiles, (std::vector<std::string>{strProfile, strOther}));
    EXPECT_EQ(log.Count("Excepci\xF3n Entrust en CEntrustSession::Login"), 1);
    EXPECT_EQ(dlg.m_pLoginError, nullptr);
    ASSERT_NE(dlg.m_pSession, nullptr);
    EXPECT_EQ(dlg.m_nLoginResult, 0);
    EXPECT_EQ(dlg.m_pSession->GetState(), SESSION_OPEN);
    delete dlg.m_pSession;
}

// Any other failure closes the dialog and hands the failure to the owner.
TEST_F(EntrustSessionTest, SelectionDialogOtherFailuresCloseIt)
{
    tvltest::WriteAll(m_strDir + "garbage.epf", std::string(4000, 'g'));
    CEntrustCertSelectionDlg dlg;
    dlg.m_RecentProfiles = {m_strDir + "garbage.epf"};
    DWORD dwThread = GetCurrentThreadId();
    CDriver driver([&] {
        HWND hDlg = WaitForDialog(dwThread, kCaption);
        ASSERT_NE(hDlg, nullptr);
        Type(GetDlgItem(hDlg, IDC_EPF_PASSWORD), "x");
        Click(GetDlgItem(hDlg, IDOK));
    });
    EXPECT_EQ(dlg.DoModal(), IDOK);
    driver.Join();
    EXPECT_EQ(dlg.m_pSession, nullptr);
    ASSERT_NE(dlg.m_pLoginError, nullptr);
    EXPECT_EQ(dlg.m_pLoginError->GetResultCode(), ERR_EPF_OPEN);
    delete dlg.m_pLoginError;
    EXPECT_TRUE(epftest::FilesIn(m_strTemp).empty());
}

// The box draws the certificate icon before each path, opens its list as wide
// as the widest path, and shows a path too long for it in a tooltip that goes
// once the pointer is elsewhere.
TEST_F(EntrustSessionTest, IconBoxIconWidthAndTooltip)
{
    std::string strLong = "C:\\" + std::string(40, 'a') + "\\" + std::string(60, 'b') + "\\perfil.epf";
    CEntrustCertSelectionDlg dlg;
    dlg.m_RecentProfiles = {strLong, "C:\\p.epf"};
    DWORD dwThread = GetCurrentThreadId();
    CDriver driver([&] {
        HWND hDlg = WaitForDialog(dwThread, kCaption);
        ASSERT_NE(hDlg, nullptr);
        HWND hBox = GetDlgItem(hDlg, IDC_EPF_PROFILE);
        HWND hTip = dlg.GetProfileBox().GetToolTip();
        ASSERT_NE(hTip, nullptr);

        // Some pixel of the icon's place is drawn in neither background colour.
        RedrawWindow(hBox, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
        bool bIcon = false;
        {
            HDC hDC = GetDC(hBox);
            for (int x = 2; x < 18 && !bIcon; ++x)
                for (int y = 2; y < 18 && !bIcon; ++y) {
                    COLORREF c = GetPixel(hDC, x, y);
                    bIcon = c != CLR_INVALID && c != GetSysColor(COLOR_WINDOW) &&
                            c != GetSysColor(COLOR_HIGHLIGHT) && c != GetSysColor(COLOR_BTNFACE);
                }
            ReleaseDC(hBox, hDC);
        }
        EXPECT_TRUE(bIcon);

        SendMessageA(hBox, CB_SHOWDROPDOWN, TRUE, 0);
        LRESULT nWidth = SendMessageA(hBox, CB_GETDROPPEDWIDTH, 0, 0);
        SendMessageA(hBox, CB_SHOWDROPDOWN, FALSE, 0);
        RECT rcBox;
        GetWindowRect(hBox, &rcBox);
        EXPECT_GT(nWidth, rcBox.right - rcBox.left);

        PostMessageA(hBox, WM_MOUSEMOVE, 0, MAKELPARAM(6, 6));
        ASSERT_TRUE(WaitFor([&] { return IsWindowVisible(hTip) != FALSE; }));
        // The tip's text reads back cut at 80 characters; its window holds it all.
        std::string strTip = ToolTipText(hTip, hBox);
        EXPECT_FALSE(strTip.empty());
        EXPECT_EQ(strLong.compare(0, strTip.size(), strTip), 0) << strTip;
        RECT rcTip;
        GetWindowRect(hTip, &rcTip);
        EXPECT_GT(rcTip.right - rcTip.left, rcBox.right - rcBox.left);
        // At the box, a pixel right and three down (the platform may take one off for its border).
        EXPECT_LE(std::abs(rcTip.left - (rcBox.left + 1)), 1);
        EXPECT_LE(std::abs(rcTip.top - (rcBox.top + 3)), 1);
        // The pointer is not really over the box: the timer hides the tip.
        SetCursorPos(0, 0);
        EXPECT_TRUE(WaitFor([&] { return !IsWindowVisible(hTip); }));

        // A short path: no tip. The pointer stays over the box, so that the
        // timer would leave a wrong tip in place.
        SendMessageA(hBox, CB_SETCURSEL, 1, 0);
        POINT pt = {6, 6};
        ClientToScreen(hBox, &pt);
        SetCursorPos(pt.x, pt.y);
        PostMessageA(hBox, WM_MOUSEMOVE, 0, MAKELPARAM(6, 6));
        Sleep(300);
        EXPECT_FALSE(IsWindowVisible(hTip));
        SetCursorPos(0, 0);
        Click(GetDlgItem(hDlg, IDCANCEL));
    });
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    driver.Join();
}

namespace {
class CPageSheet : public CPropertySheet {
public:
    CPageSheet() : CPropertySheet("Hoja del perfil") {}

    BEGIN_MSG_MAP(CPageSheet)
    MESSAGE_HANDLER(WM_COMMAND, OnCommand)
    END_MSG_MAP()

private:
    LRESULT OnCommand(UINT, WPARAM wParam, LPARAM lParam, BOOL& bHandled)
    {
        if (HIWORD(wParam) == BN_CLICKED && lParam != 0)
            SetModalResult(LOWORD(wParam));
        bHandled = FALSE;
        return 0;
    }
};
}  // namespace

// The page collects a path and a password; every change makes the sheet look
// at its buttons again; the "Offline" box stays hidden.
TEST_F(EntrustSessionTest, LoginPageCollectsPathAndPassword)
{
    CLoginEntrustPage page;
    page.m_RecentProfiles = {"C:\\uno.epf", "C:\\dos.epf"};
    volatile LONG nUpdates = 0;
    page.m_fnUpdateSheetButtons = [&] { InterlockedIncrement(&nUpdates); };
    CPageSheet sheet;
    sheet.m_psh.dwFlags |= PSH_NOAPPLYNOW;
    sheet.AddPage(&page);
    DWORD dwThread = GetCurrentThreadId();
    CDriver driver([&] {
        HWND hSheet = WaitForWindow(dwThread, [](HWND h) { return TextOf(h) == "Hoja del perfil"; });
        ASSERT_NE(hSheet, nullptr);
        HWND hPage = reinterpret_cast<HWND>(SendMessageA(hSheet, PSM_GETCURRENTPAGEHWND, 0, 0));
        ASSERT_NE(hPage, nullptr);
        EXPECT_GE(nUpdates, 1);
        EXPECT_EQ(ComboCount(hPage), 2);
        EXPECT_EQ(ComboSelection(hPage), 0);
        EXPECT_FALSE(IsWindowVisible(GetDlgItem(hPage, IDC_EPF_OFFLINE)));
        LONG nBefore = nUpdates;
        Type(GetDlgItem(hPage, IDC_EPF_PASSWORD), "clave");
        EXPECT_GT(nUpdates, nBefore);
        nBefore = nUpdates;
        HWND hBox = GetDlgItem(hPage, IDC_EPF_PROFILE);
        SendMessageA(hBox, CB_SETCURSEL, 1, 0);
        SendMessageA(hPage, WM_COMMAND, MAKEWPARAM(IDC_EPF_PROFILE, CBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(hBox));
        EXPECT_GT(nUpdates, nBefore);
        SendMessageA(hPage, CLoginEntrustPage::WM_FOCUS_PASSWORD, 0, 0);
        EXPECT_EQ(FocusOf(dwThread), GetDlgItem(hPage, IDC_EPF_PASSWORD));
        Click(GetDlgItem(hSheet, IDOK));
    });
    EXPECT_EQ(sheet.DoModal(), IDOK);
    driver.Join();
    EXPECT_EQ(page.GetSelectedPath(), "C:\\dos.epf");
    EXPECT_EQ(page.m_strPassword, "clave");
    EXPECT_EQ(page.m_bOffline, 0);
    EXPECT_EQ(page.m_bShowOffline, 0);
}
