#include "tests/https/HttpsTestSupport.h"
#include "https/CHTTPSDlg.h"
#include "platform/framework/CWinApp.h"
#include "res/resource.h"
#include <memory>

namespace {

bool ComponentClassRegistered()
{
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    return GetClassInfoExW(CWinApp::GetInstanceHandle(), L"TvlHttpsComponent", &wc) != FALSE;
}

}  // namespace

using CHTTPSDlgTest = HttpsTest;

TEST_F(CHTTPSDlgTest, CreatesHiddenCaptionlessDialogHoldingTheComponent)
{
    CHTTPSDlg dlg;
    ASSERT_TRUE(dlg.Create(NULL));
    HWND hDlg = dlg.GetSafeHwnd();
    ASSERT_TRUE(IsWindow(hDlg));
    EXPECT_FALSE(IsWindowVisible(hDlg));
    EXPECT_EQ(GetParent(hDlg), (HWND)NULL);
    LONG nStyle = GetWindowLongA(hDlg, GWL_STYLE);
    EXPECT_EQ(nStyle & WS_CAPTION, 0);
    EXPECT_EQ(nStyle & WS_VISIBLE, 0);

    // 57 by 47 dialog units.
    RECT rcUnits = { 0, 0, 57, 47 };
    ASSERT_TRUE(MapDialogRect(hDlg, &rcUnits));
    RECT rcClient;
    ASSERT_TRUE(GetClientRect(hDlg, &rcClient));
    EXPECT_EQ(rcClient.right, rcUnits.right);
    EXPECT_EQ(rcClient.bottom, rcUnits.bottom);

    HWND hControl = GetDlgItem(hDlg, IDC_HTTPS_CONTROL);
    ASSERT_NE(hControl, (HWND)NULL);
    EXPECT_EQ(dlg.GetHTTPS().GetSafeHwnd(), hControl);
    char szClass[64] = "";
    GetClassNameA(hControl, szClass, sizeof(szClass));
    EXPECT_STREQ(szClass, "TvlHttpsComponent");

    // Hiding it, as a session does, keeps everything in place.
    dlg.ShowWindow(SW_HIDE);
    EXPECT_TRUE(IsWindow(hControl));
}

TEST_F(CHTTPSDlgTest, SecondCreateKeepsTheWindowAndDestructionRemovesIt)
{
    HWND hDlg = NULL;
    HWND hControl = NULL;
    {
        CHTTPSDlg dlg;
        ASSERT_TRUE(dlg.Create(NULL));
        hDlg = dlg.GetSafeHwnd();
        hControl = dlg.GetHTTPS().GetSafeHwnd();
        ASSERT_TRUE(dlg.Create(NULL));
        EXPECT_EQ(dlg.GetSafeHwnd(), hDlg);
        EXPECT_EQ(dlg.GetHTTPS().GetSafeHwnd(), hControl);
    }
    EXPECT_FALSE(IsWindow(hDlg));
    EXPECT_FALSE(IsWindow(hControl));
    // The last dialog out takes the component's window class with it.
    EXPECT_FALSE(ComponentClassRegistered());
}

TEST_F(CHTTPSDlgTest, WindowClassStaysWhileAnyDialogLives)
{
    auto pFirst = std::make_unique<CHTTPSDlg>();
    CHTTPSDlg second;
    ASSERT_TRUE(pFirst->Create(NULL));
    ASSERT_TRUE(second.Create(NULL));
    EXPECT_NE(pFirst->GetSafeHwnd(), second.GetSafeHwnd());
    pFirst.reset();
    EXPECT_TRUE(ComponentClassRegistered());
    // A dialog created after another one went still finds the class.
    CHTTPSDlg third;
    ASSERT_TRUE(third.Create(NULL));
    third.DestroyWindow();
    EXPECT_EQ(third.GetSafeHwnd(), (HWND)NULL);
    EXPECT_EQ(third.GetHTTPS().GetSafeHwnd(), (HWND)NULL);
    second.DestroyWindow();
    EXPECT_FALSE(ComponentClassRegistered());
}

TEST_F(CHTTPSDlgTest, WindowDestroyedFromOutsideLeavesTheObjectUnbound)
{
    CHTTPSDlg dlg;
    ASSERT_TRUE(dlg.Create(NULL));
    ASSERT_TRUE(DestroyWindow(dlg.GetSafeHwnd()));
    EXPECT_EQ(dlg.GetSafeHwnd(), (HWND)NULL);
    EXPECT_EQ(dlg.GetHTTPS().GetSafeHwnd(), (HWND)NULL);
    // No window, no component: a clean ERR_SSL_OBJECT, not a crash.
    ExpectSslObjectError([&] { dlg.GetHTTPS().SetSSLCertStore("MY"); }, "CHTTPS::SetSSLCertStore");
    ExpectSslObjectError([&] { dlg.GetHTTPS().GetSSLCertHandle(); }, "CHTTPS::GetSSLCertHandle");
    EXPECT_NE(ReadLog().find("The control window does not exist"), std::string::npos) << ReadLog();
    // And it can be made again.
    ASSERT_TRUE(dlg.Create(NULL));
    EXPECT_TRUE(IsWindow(dlg.GetHTTPS().GetSafeHwnd()));
}

TEST_F(CHTTPSDlgTest, UnboundWrapperFailsWithItsContext)
{
    CHTTPS https;
    ExpectSslObjectError([&] { https.SetSSLCertSubject("X"); }, "CHTTPS::SetSSLCertSubject");
    // A window that is not the component has no dispatch interface.
    HWND hOther = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 10, 10, NULL, NULL, NULL, NULL);
    ASSERT_NE(hOther, (HWND)NULL);
    https.Attach(hOther);
    ExpectSslObjectError([&] { https.SetSSLCertStore("MY"); }, "CHTTPS::SetSSLCertStore");
    https.Detach();
    DestroyWindow(hOther);
    EXPECT_NE(ReadLog().find("not a control with a dispatch interface"), std::string::npos) << ReadLog();
}
