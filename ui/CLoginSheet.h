#pragma once
#include <functional>
#include <string>
#include <vector>

#include "platform/framework/CGdiObject.h"
#include "platform/framework/CPropertySheet.h"

class CLoginWincryptPage;
class CTarvoselException;
class CWincryptSession;

// The modal login sheet: a banner with the explanation above the pages, and
// the Windows-certificate page. "Aceptar" opens a CWincryptSession on the
// selected row (on a worker thread, the sheet still painting); a wrong PIN or
// a cancelled PIN prompt keeps the sheet open for another attempt; any other
// outcome closes it. After the run the owner reads m_pSession (takes it over),
// m_pLoginError, m_nLoginResult and m_nActivePage.
class CLoginSheet : public CPropertySheet {
public:
    explicit CLoginSheet(const char* pszCaption);
    ~CLoginSheet() override;

    int m_bBusy = 0;
    int m_nActivePage = 0;
    int m_nLoginResult = 0;
    CTarvoselException* m_pLoginError = nullptr;
    CWincryptSession* m_pSession = nullptr;
    CLoginWincryptPage* m_pCertificatePage = nullptr;
    // The configuration file and the recent profile paths, for profile pages.
    std::string m_strIniFile;
    std::vector<std::string> m_lstRecentProfiles;
    // Makes the session object of a login attempt (a plain CWincryptSession
    // unless set).
    std::function<CWincryptSession*()> m_fnNewSession;

    BEGIN_MSG_MAP(CLoginSheet)
    MESSAGE_HANDLER(WM_COMMAND, OnCommand)
    MESSAGE_HANDLER(WM_SETCURSOR, OnSetCursor)
    MESSAGE_HANDLER(WM_CONTEXTMENU, OnContextMenu)
    MESSAGE_HANDLER(WM_CTLCOLORSTATIC, OnCtlColorStatic)
    MESSAGE_HANDLER(WM_CLOSE, OnClose)
    MESSAGE_HANDLER(WM_DESTROY, OnDestroy)
    END_MSG_MAP()

    void UpdateButtons();
    // A login attempt with the selected row; false when no row is selected.
    bool DoLogin();
    // Busy: every button, the tab control and the page disabled, the wait
    // cursor. A refresh asked for meanwhile runs once the sheet is idle again.
    void SetBusy(int bBusy);
    void DeferRefresh() { m_bRefreshPending = true; }

    // The bitmap resource nId at nWidth x nHeight (negative: the bitmap's own),
    // stretched, or centred with the margins in the colours of its top corners.
    // The caller owns the result; nullptr when the resource is missing.
    static HBITMAP ScaleBitmap(UINT nId, int nWidth, int nHeight, bool bStretch);

protected:
    BOOL OnInitDialog() override;

    LRESULT OnCommand(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
    LRESULT OnSetCursor(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
    LRESULT OnContextMenu(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
    LRESULT OnCtlColorStatic(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
    LRESULT OnClose(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
    LRESULT OnDestroy(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);

private:
    void RunOpen(void* pRequest);

    HWND m_hWndBanner = nullptr;
    HWND m_hWndBannerText = nullptr;
    HWND m_hWndSeparator = nullptr;
    CBitmap m_Banner;
    CBitmap m_Separator;
    // Paints the text's background with the banner itself.
    CBrush m_BannerBrush;
    bool m_bRefreshPending = false;
};
