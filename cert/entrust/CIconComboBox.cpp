#include "cert/entrust/CIconComboBox.h"

#include <commctrl.h>

#include <algorithm>

#include "platform/framework/CDC.h"
#include "platform/framework/CWinApp.h"

CIconComboBox::CIconComboBox() : m_hToolTip(nullptr), m_hIcon(nullptr), m_bTimer(false) {}

CIconComboBox::~CIconComboBox()
{
    if (m_hToolTip != nullptr && ::IsWindow(m_hToolTip))
        ::DestroyWindow(m_hToolTip);
    if (m_hIcon != nullptr)
        DestroyIcon(m_hIcon);
}

void CIconComboBox::Init()
{
    m_hIcon = static_cast<HICON>(LoadImageA(CWinApp::GetInstanceHandle(), MAKEINTRESOURCEA(ICON_ID),
                                            IMAGE_ICON, 16, 16, LR_DEFAULTCOLOR));
    // Room for the icon and for the text of the box's font.
    TEXTMETRICA tm = {};
    {
        CClientDC dc(m_hWnd);
        CSelectObject font(dc, GetFont());
        GetTextMetricsA(dc, &tm);
    }
    int nHeight = std::max<int>(16, tm.tmHeight) + 2;
    SetItemHeight(-1, static_cast<UINT>(nHeight));
    SetItemHeight(0, static_cast<UINT>(nHeight));

    m_hToolTip = CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr,
                                 WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT,
                                 CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, m_hWnd, nullptr,
                                 CWinApp::GetInstanceHandle(), nullptr);
    if (m_hToolTip == nullptr)
        return;
    ::SendMessageA(m_hToolTip, TTM_SETMAXTIPWIDTH, 0, 32767);
    TOOLINFOA ti = {};
    ti.cbSize = sizeof(ti);
    ti.uFlags = TTF_TRACK | TTF_ABSOLUTE | TTF_IDISHWND;
    ti.hwnd = m_hWnd;
    ti.uId = reinterpret_cast<UINT_PTR>(m_hWnd);
    ti.lpszText = const_cast<char*>("");
    ::SendMessageA(m_hToolTip, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&ti));
}

void CIconComboBox::Fill(const std::vector<std::string>& paths)
{
    ResetContent();
    for (const std::string& strPath : paths)
        AddString(strPath);
    if (!paths.empty())
        SetCurSel(0);
}

LRESULT CIconComboBox::OnDrawItem(UINT, WPARAM, LPARAM lParam, BOOL&)
{
    const DRAWITEMSTRUCT* pDraw = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
    if (GetCount() == 0 || pDraw->itemID == static_cast<UINT>(-1))
        return TRUE;
    HDC hDC = pDraw->hDC;
    bool bSelected = (pDraw->itemState & ODS_SELECTED) != 0;
    COLORREF crText = SetTextColor(hDC, GetSysColor(bSelected ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
    COLORREF crBack = SetBkColor(hDC, GetSysColor(bSelected ? COLOR_HIGHLIGHT : COLOR_WINDOW));
    RECT rc = pDraw->rcItem;
    ExtTextOutA(hDC, 0, 0, ETO_OPAQUE, &rc, nullptr, 0, nullptr);
    rc.left += 1;
    rc.right -= 1;
    if (m_hIcon != nullptr)
        DrawIconEx(hDC, rc.left, rc.top, m_hIcon, 16, 16, 0, nullptr, DI_NORMAL);
    rc.left += 17;
    std::string strText = GetLBText(static_cast<int>(pDraw->itemID));
    DrawTextA(hDC, strText.c_str(), static_cast<int>(strText.size()), &rc,
              DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
    SetTextColor(hDC, crText);
    SetBkColor(hDC, crBack);
    return TRUE;
}

void CIconComboBox::OnDropDown()
{
    int nWidest = 0;
    for (int i = 0; i < GetCount(); ++i)
        nWidest = std::max(nWidest, TextWidth(GetLBText(i)));
    int nWidth = nWidest + GetSystemMetrics(SM_CXVSCROLL) + TextWidth("0");
    SendMessage(CB_SETDROPPEDWIDTH, static_cast<WPARAM>(nWidth));
}

int CIconComboBox::TextWidth(const std::string& strText) const
{
    CClientDC dc(m_hWnd);
    CSelectObject font(dc, GetFont());
    SIZE size = {};
    GetTextExtentPoint32A(dc, strText.c_str(), static_cast<int>(strText.size()), &size);
    return size.cx;
}

RECT CIconComboBox::TextArea() const
{
    RECT rc;
    GetClientRect(&rc);
    rc.right -= GetSystemMetrics(SM_CXHTHUMB) + 2;
    return rc;
}

void CIconComboBox::HideTip()
{
    if (m_hToolTip == nullptr)
        return;
    TOOLINFOA ti = {};
    ti.cbSize = sizeof(ti);
    ti.hwnd = m_hWnd;
    ti.uId = reinterpret_cast<UINT_PTR>(m_hWnd);
    ::SendMessageA(m_hToolTip, TTM_TRACKACTIVATE, FALSE, reinterpret_cast<LPARAM>(&ti));
}

LRESULT CIconComboBox::OnMouseMove(UINT, WPARAM, LPARAM lParam, BOOL& bHandled)
{
    bHandled = FALSE;  // the box goes on with its own handling
    if (m_hToolTip == nullptr)
        return 0;
    RECT rc = TextArea();
    POINT pt = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
    std::string strText = GetWindowText();
    if (!PtInRect(&rc, pt) || TextWidth(strText) <= (rc.right - rc.left) - 6) {
        HideTip();
        return 0;
    }
    TOOLINFOA ti = {};
    ti.cbSize = sizeof(ti);
    ti.hwnd = m_hWnd;
    ti.uId = reinterpret_cast<UINT_PTR>(m_hWnd);
    ti.lpszText = &strText[0];
    ::SendMessageA(m_hToolTip, TTM_UPDATETIPTEXTA, 0, reinterpret_cast<LPARAM>(&ti));
    ::SendMessageA(m_hToolTip, TTM_SETTIPBKCOLOR, GetSysColor(COLOR_WINDOW), 0);
    ::SendMessageA(m_hToolTip, TTM_SETTIPTEXTCOLOR, GetSysColor(COLOR_WINDOWTEXT), 0);
    RECT rcWindow;
    GetWindowRect(&rcWindow);
    ::SendMessageA(m_hToolTip, TTM_TRACKPOSITION, 0, MAKELPARAM(rcWindow.left + 1, rcWindow.top + 3));
    ::SendMessageA(m_hToolTip, TTM_TRACKACTIVATE, TRUE, reinterpret_cast<LPARAM>(&ti));
    if (!m_bTimer)
        m_bTimer = ::SetTimer(m_hWnd, TIMER_ID, TIMER_MS, nullptr) != 0;
    return 0;
}

LRESULT CIconComboBox::OnTimer(UINT, WPARAM wParam, LPARAM, BOOL& bHandled)
{
    if (wParam != TIMER_ID) {
        bHandled = FALSE;
        return 0;
    }
    POINT pt;
    GetCursorPos(&pt);
    ::ScreenToClient(m_hWnd, &pt);
    RECT rc = TextArea();
    if (!PtInRect(&rc, pt)) {
        HideTip();
        ::KillTimer(m_hWnd, TIMER_ID);
        m_bTimer = false;
    }
    return 0;
}

LRESULT CIconComboBox::OnDestroy(UINT, WPARAM, LPARAM, BOOL& bHandled)
{
    bHandled = FALSE;
    if (m_bTimer)
        ::KillTimer(m_hWnd, TIMER_ID);
    m_bTimer = false;
    if (m_hToolTip != nullptr && ::IsWindow(m_hToolTip))
        ::DestroyWindow(m_hToolTip);
    m_hToolTip = nullptr;
    return 0;
}
