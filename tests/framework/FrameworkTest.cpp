// The dialog framework with real windows: a driver thread works the dialogs
// that the test's thread runs, as a person would.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include "FrameworkTestIds.h"
#include "platform/framework/CComboBox.h"
#include "platform/framework/CDialog.h"
#include "platform/framework/CListCtrl.h"
#include "platform/framework/CPropertyPage.h"
#include "platform/framework/CPropertySheet.h"
#include "tests/support/TestDriver.h"

using namespace tvltest;

namespace {

const char kDialogCaption[] = "Prueba de di\xE1logo";

class COwnerDrawnCombo : public CComboBox {
public:
    BEGIN_MSG_MAP(COwnerDrawnCombo)
    MESSAGE_HANDLER(OCM_DRAWITEM, OnDrawItem)
    END_MSG_MAP()
    LRESULT OnDrawItem(UINT, WPARAM, LPARAM lParam, BOOL&)
    {
        InterlockedIncrement(&m_nDrawn);
        const DRAWITEMSTRUCT* pDraw = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        FillRect(pDraw->hDC, &pDraw->rcItem, GetSysColorBrush(COLOR_WINDOW));
        return TRUE;
    }
    volatile LONG m_nDrawn = 0;
};

class CTestDialog : public CDialog {
public:
    CTestDialog() : CDialog(IDD_TEST_DIALOG) {}

    BEGIN_MSG_MAP(CTestDialog)
    COMMAND_HANDLER(IDC_TEST_COUNT, BN_CLICKED, OnCount)
    REFLECT_OWNERDRAW()
    END_MSG_MAP()

    std::string m_strName;
    int m_bCheck = 0;
    volatile LONG m_nCount = 0;
    COwnerDrawnCombo m_Combo;
    CListCtrl m_List;
    std::string m_strLongText;

protected:
    BOOL OnInitDialog() override
    {
        CDialog::OnInitDialog();
        m_Combo.AddString("uno");
        m_Combo.AddString("dos");
        m_Combo.SetCurSel(1);
        m_List.InsertColumn(0, "Texto", LVCFMT_LEFT, 100);
        m_List.InsertItem(0, std::string(600, 'x') + "fin", 0);
        m_strLongText = m_List.GetItemText(0, 0);
        return TRUE;
    }
    void DoDataExchange(CDataExchange* pDX) override
    {
        DDX_Control(pDX, IDC_TEST_COMBO, m_Combo);
        DDX_Control(pDX, IDC_TEST_LIST, m_List);
        DDX_Text(pDX, IDC_TEST_NAME, m_strName);
        DDX_Check(pDX, IDC_TEST_CHECK, m_bCheck);
    }
    LRESULT OnCount(WORD, WORD, HWND, BOOL&)
    {
        InterlockedIncrement(&m_nCount);
        return 0;
    }
};

}  // namespace

TEST(Dialog, ExchangesDataRunsItsMapAndEndsWithItsButtons)
{
    CTestDialog dialog;
    dialog.m_strName = "Ana";
    dialog.m_bCheck = 1;
    DWORD dwThread = GetCurrentThreadId();
    std::string strShownName;
    LRESULT nShownCheck = -1;
    CDriver driver([&] {
        HWND hDlg = WaitForDialog(dwThread, kDialogCaption);
        ASSERT_NE(nullptr, hDlg);
        strShownName = TextOf(GetDlgItem(hDlg, IDC_TEST_NAME));
        nShownCheck = SendMessageA(GetDlgItem(hDlg, IDC_TEST_CHECK), BM_GETCHECK, 0, 0);
        SendMessageA(GetDlgItem(hDlg, IDC_TEST_NAME), WM_SETTEXT, 0,
                     reinterpret_cast<LPARAM>("Luis"));
        SendMessageA(GetDlgItem(hDlg, IDC_TEST_CHECK), BM_CLICK, 0, 0);
        SendMessageA(GetDlgItem(hDlg, IDC_TEST_COUNT), BM_CLICK, 0, 0);
        SendMessageA(GetDlgItem(hDlg, IDC_TEST_COUNT), BM_CLICK, 0, 0);
        EXPECT_TRUE(WaitFor([&] { return dialog.m_Combo.m_nDrawn > 0; }))
            << "the owner-drawn box never got its drawing";
        Click(GetDlgItem(hDlg, IDOK));
    });
    EXPECT_EQ(IDOK, dialog.DoModal());
    driver.Join();
    EXPECT_EQ("Ana", strShownName);
    EXPECT_EQ(BST_CHECKED, nShownCheck);
    EXPECT_EQ("Luis", dialog.m_strName);
    EXPECT_EQ(0, dialog.m_bCheck);
    EXPECT_EQ(2, dialog.m_nCount);
    EXPECT_EQ(std::string(600, 'x') + "fin", dialog.m_strLongText);
    EXPECT_EQ(nullptr, dialog.m_hWnd);
    EXPECT_EQ(nullptr, dialog.m_Combo.m_hWnd) << "the control's binding outlived its window";

    // Escape cancels: nothing is read back.
    CTestDialog second;
    second.m_strName = "Ana";
    CDriver escape([&] {
        HWND hDlg = WaitForDialog(dwThread, kDialogCaption);
        ASSERT_NE(nullptr, hDlg);
        SendMessageA(GetDlgItem(hDlg, IDC_TEST_NAME), WM_SETTEXT, 0,
                     reinterpret_cast<LPARAM>("Luis"));
        PressKey(GetDlgItem(hDlg, IDC_TEST_NAME), VK_ESCAPE);
    });
    EXPECT_EQ(IDCANCEL, second.DoModal());
    escape.Join();
    EXPECT_EQ("Ana", second.m_strName);
}

TEST(Dialog, ModelessEndsHiddenAndGoesWithItsObject)
{
    CTestDialog* pDialog = new CTestDialog;
    ASSERT_TRUE(pDialog->Create(nullptr));
    HWND hDlg = pDialog->m_hWnd;
    ASSERT_NE(nullptr, hDlg);
    pDialog->ShowWindow(SW_SHOW);
    EXPECT_TRUE(IsWindowVisible(hDlg));
    // The owner's loop passes the dialog's messages through IsDialogMessage.
    PostMessageA(GetDlgItem(hDlg, IDOK), BM_CLICK, 0, 0);
    DWORD dwStart = GetTickCount();
    MSG msg;
    while (IsWindowVisible(hDlg) && GetTickCount() - dwStart < 5000) {
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (!pDialog->IsDialogMessage(&msg)) {
                TranslateMessage(&msg);
                DispatchMessageA(&msg);
            }
        }
        Sleep(5);
    }
    EXPECT_FALSE(IsWindowVisible(hDlg));
    EXPECT_TRUE(IsWindow(hDlg)) << "ending a modeless dialog hides it";
    delete pDialog;
    EXPECT_FALSE(IsWindow(hDlg));
}

namespace {

class CTestPage : public CPropertyPage {
public:
    explicit CTestPage(UINT nId) : CPropertyPage(nId) {}
    volatile LONG m_nActivations = 0;
    std::string m_strName;

protected:
    BOOL OnSetActive() override
    {
        InterlockedIncrement(&m_nActivations);
        return CPropertyPage::OnSetActive();
    }
    void DoDataExchange(CDataExchange* pDX) override { DDX_Text(pDX, IDC_TEST_NAME, m_strName); }
};

class CTestSheet : public CPropertySheet {
public:
    CTestSheet() : CPropertySheet("Hoja de prueba") {}

    BEGIN_MSG_MAP(CTestSheet)
    MESSAGE_HANDLER(WM_COMMAND, OnCommand)
    END_MSG_MAP()

    bool m_bHiddenAtInit = false;
    bool m_bPageAtInit = false;
    bool m_bTabAtInit = false;
    int m_nActiveAtInit = -1;

protected:
    BOOL OnInitDialog() override
    {
        m_bHiddenAtInit = !IsWindowVisible();
        m_bPageAtInit = GetPage(0)->m_hWnd != nullptr;
        m_bTabAtInit = GetTabControl() != nullptr;
        m_nActiveAtInit = GetActiveIndex();
        return TRUE;
    }
    LRESULT OnCommand(UINT, WPARAM wParam, LPARAM lParam, BOOL& bHandled)
    {
        if (HIWORD(wParam) == BN_CLICKED && lParam != 0)
            SetModalResult(LOWORD(wParam));
        bHandled = FALSE;
        return 0;
    }
};

}  // namespace

TEST(Sheet, RunsModallyWithItsPagesLaidOutBeforeShowing)
{
    struct Case {
        UINT nStartPage;
        int nExpectedStart;
        int nButton;
    } cases[] = {{1, 1, IDOK}, {7, 0, IDCANCEL}};
    for (const Case& c : cases) {
        CTestPage one(IDD_TEST_PAGE1), two(IDD_TEST_PAGE2);
        one.m_strName = "primera";
        CTestSheet sheet;
        sheet.AddPage(&one);
        sheet.AddPage(&two);
        sheet.m_psh.dwFlags |= PSH_NOAPPLYNOW;
        sheet.m_psh.nStartPage = c.nStartPage;
        DWORD dwThread = GetCurrentThreadId();
        int nTabs = 0;
        std::string strFirstTab;
        HWND hSecondPage = nullptr;
        CDriver driver([&] {
            HWND hSheet =
                WaitForWindow(dwThread, [](HWND h) { return TextOf(h) == "Hoja de prueba"; });
            ASSERT_NE(nullptr, hSheet);
            HWND hTab = reinterpret_cast<HWND>(SendMessageA(hSheet, PSM_GETTABCONTROL, 0, 0));
            nTabs = static_cast<int>(SendMessageA(hTab, TCM_GETITEMCOUNT, 0, 0));
            char sz[64] = {0};
            TCITEMA item = {};
            item.mask = TCIF_TEXT;
            item.pszText = sz;
            item.cchTextMax = sizeof(sz);
            SendMessageA(hTab, TCM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item));
            strFirstTab = sz;
            // A person picks the other tab, and back.
            SendMessageA(hSheet, PSM_SETCURSEL, 1 - c.nExpectedStart, 0);
            SendMessageA(hSheet, PSM_SETCURSEL, c.nExpectedStart, 0);
            hSecondPage = two.m_hWnd;
            Click(GetDlgItem(hSheet, c.nButton));
        });
        EXPECT_EQ(c.nButton, sheet.DoModal());
        driver.Join();
        EXPECT_TRUE(sheet.m_bHiddenAtInit);
        EXPECT_TRUE(sheet.m_bTabAtInit);
        EXPECT_EQ(c.nExpectedStart, sheet.m_nActiveAtInit);
        EXPECT_EQ(c.nExpectedStart == 0, sheet.m_bPageAtInit);
        EXPECT_EQ(2, nTabs);
        EXPECT_EQ("P\xE1gina uno", strFirstTab);
        EXPECT_NE(nullptr, hSecondPage);
        EXPECT_GE(one.m_nActivations, 1);
        EXPECT_GE(two.m_nActivations, 1);
        // The run ended: the windows are gone, the objects are free again.
        EXPECT_EQ(nullptr, sheet.m_hWnd);
        EXPECT_EQ(nullptr, one.m_hWnd);
        EXPECT_EQ(nullptr, two.m_hWnd);
        EXPECT_FALSE(IsWindow(hSecondPage));
    }
}

namespace {
const UINT WM_TEST_ASK = WM_USER + 1;

class CCountingWnd : public CWnd {
public:
    BEGIN_MSG_MAP(CCountingWnd)
    MESSAGE_HANDLER(WM_TEST_ASK, OnAsk)
    END_MSG_MAP()
    LRESULT OnAsk(UINT, WPARAM wParam, LPARAM, BOOL&) { return static_cast<LRESULT>(wParam) * 2; }
    int m_nFinal = 0;

protected:
    void OnFinalMessage(HWND) override { ++m_nFinal; }
};
}  // namespace

TEST(Window, RegisteredClassAndSubclassedControlRunTheirMaps)
{
    ASSERT_TRUE(CWnd::RegisterWndClass(GetModuleHandleA(nullptr), "TvlTestWindow"));
    ASSERT_TRUE(CWnd::RegisterWndClass(GetModuleHandleA(nullptr), "TvlTestWindow"));
    CCountingWnd window;
    HWND hWnd =
        window.CreateEx(WS_EX_TOOLWINDOW, "TvlTestWindow", "ventana", 0, 0, 0, 0, 0, nullptr);
    ASSERT_NE(nullptr, hWnd);
    EXPECT_EQ(&window, CWnd::FromHandlePermanent(hWnd));
    EXPECT_EQ(42, SendMessageA(hWnd, WM_TEST_ASK, 21, 0));
    EXPECT_EQ("ventana", CWnd::GetWindowText(hWnd));
    EXPECT_TRUE(window.DestroyWindow());
    EXPECT_EQ(nullptr, window.m_hWnd);
    EXPECT_EQ(1, window.m_nFinal);

    // An existing control: unhandled messages reach its own procedure.
    HWND hStatic =
        CreateWindowA("STATIC", "antes", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, hStatic);
    CCountingWnd control;
    ASSERT_TRUE(control.SubclassWindow(hStatic));
    EXPECT_FALSE(CCountingWnd().SubclassWindow(hStatic)) << "one map per window";
    EXPECT_EQ(8, SendMessageA(hStatic, WM_TEST_ASK, 4, 0));
    SetWindowTextA(hStatic, "despu\xE9s");
    EXPECT_EQ("despu\xE9s", control.GetWindowText());
    DestroyWindow(hStatic);
    EXPECT_EQ(nullptr, control.m_hWnd);
    EXPECT_EQ(nullptr, CWnd::FromHandlePermanent(hStatic));

    // Given back before the window goes: the map no longer runs.
    hStatic = CreateWindowA("STATIC", "", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    {
        CCountingWnd scoped;
        ASSERT_TRUE(scoped.SubclassWindow(hStatic));
    }
    EXPECT_EQ(0, SendMessageA(hStatic, WM_TEST_ASK, 4, 0));
    DestroyWindow(hStatic);
}
