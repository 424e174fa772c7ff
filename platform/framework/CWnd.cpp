#include "platform/framework/CWnd.h"

#include <commctrl.h>

#include <vector>

#include "platform/framework/CWinApp.h"

namespace {
// The window property that leads from a window to its CWnd.
const char kWndProperty[] = "TvlCWnd";
}  // namespace

CWnd::~CWnd()
{
    // The window may live on (a control of a dialog that is not destroyed
    // yet): it gets its own procedure back.
    if (m_pfnSuperWindowProc != nullptr && m_hWnd != nullptr && ::IsWindow(m_hWnd))
        UnsubclassWindow();
}

HWND CWnd::Detach()
{
    HWND hWnd = m_hWnd;
    m_hWnd = nullptr;
    return hWnd;
}

CWnd* CWnd::FromHandlePermanent(HWND hWnd)
{
    return hWnd != nullptr ? static_cast<CWnd*>(::GetPropA(hWnd, kWndProperty)) : nullptr;
}

void CWnd::SetPermanent(HWND hWnd)
{
    m_hWnd = hWnd;
    ::SetPropA(hWnd, kWndProperty, this);
}

void CWnd::ClearPermanent()
{
    if (m_hWnd != nullptr)
        ::RemovePropA(m_hWnd, kWndProperty);
}

bool CWnd::RegisterWndClass(HINSTANCE hInstance, const char* pszClassName, HICON hIcon, UINT nStyle)
{
    WNDCLASSA wc = {};
    if (::GetClassInfoA(hInstance, pszClassName, &wc))
        return wc.lpfnWndProc == StaticWindowProc;
    wc.style = nStyle;
    wc.lpfnWndProc = StaticWindowProc;
    wc.hInstance = hInstance;
    wc.hIcon = hIcon;
    wc.hCursor = ::LoadCursorA(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = pszClassName;
    return ::RegisterClassA(&wc) != 0;
}

HWND CWnd::CreateEx(DWORD dwExStyle, const char* pszClassName, const char* pszWindowName,
                    DWORD dwStyle, int x, int y, int cx, int cy, HWND hWndParent, HMENU hMenu,
                    HINSTANCE hInstance)
{
    if (hInstance == nullptr)
        hInstance = CWinApp::GetInstanceHandle();
    m_pfnSuperWindowProc = ::DefWindowProcA;
    HWND hWnd = ::CreateWindowExA(dwExStyle, pszClassName, pszWindowName, dwStyle, x, y, cx, cy,
                                  hWndParent, hMenu, hInstance, this);
    if (hWnd == nullptr)
        m_pfnSuperWindowProc = nullptr;
    return hWnd;
}

bool CWnd::SubclassWindow(HWND hWnd)
{
    if (hWnd == nullptr || m_hWnd != nullptr || FromHandlePermanent(hWnd) != nullptr)
        return false;
    SetPermanent(hWnd);
    m_pfnSuperWindowProc = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrA(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(StaticWindowProc)));
    if (m_pfnSuperWindowProc == nullptr) {
        ClearPermanent();
        m_hWnd = nullptr;
        return false;
    }
    return true;
}

HWND CWnd::UnsubclassWindow()
{
    HWND hWnd = m_hWnd;
    if (hWnd == nullptr || m_pfnSuperWindowProc == nullptr)
        return nullptr;
    // Only when nobody subclassed the window after us.
    if (reinterpret_cast<WNDPROC>(::GetWindowLongPtrA(hWnd, GWLP_WNDPROC)) == StaticWindowProc)
        ::SetWindowLongPtrA(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_pfnSuperWindowProc));
    ClearPermanent();
    m_pfnSuperWindowProc = nullptr;
    m_hWnd = nullptr;
    return hWnd;
}

BOOL CWnd::DestroyWindow()
{
    if (m_hWnd == nullptr)
        return FALSE;
    HWND hWnd = m_hWnd;
    BOOL bDone = ::DestroyWindow(hWnd);
    // A window whose map ran is forgotten at WM_NCDESTROY; a wrapped one here.
    if (bDone && m_hWnd == hWnd)
        m_hWnd = nullptr;
    return bDone;
}

LRESULT CWnd::DefWindowProc()
{
    if (m_pCurrentMsg == nullptr)
        return 0;
    return DefWindowProc(m_pCurrentMsg->message, m_pCurrentMsg->wParam, m_pCurrentMsg->lParam);
}

LRESULT CWnd::DefWindowProc(UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    if (m_pfnSuperWindowProc == nullptr)
        return ::DefWindowProcA(m_hWnd, uMsg, wParam, lParam);
    return ::CallWindowProcA(m_pfnSuperWindowProc, m_hWnd, uMsg, wParam, lParam);
}

LRESULT CALLBACK CWnd::StaticWindowProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    CWnd* pThis = FromHandlePermanent(hWnd);
    if (pThis == nullptr && uMsg == WM_NCCREATE) {
        pThis = static_cast<CWnd*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
        if (pThis != nullptr)
            pThis->SetPermanent(hWnd);
    }
    if (pThis == nullptr)
        return ::DefWindowProcA(hWnd, uMsg, wParam, lParam);

    MSG msg = {hWnd, uMsg, wParam, lParam, 0, {0, 0}};
    const MSG* pOldMsg = pThis->m_pCurrentMsg;
    pThis->m_pCurrentMsg = &msg;
    LRESULT lResult = 0;
    BOOL bHandled = pThis->ProcessWindowMessage(hWnd, uMsg, wParam, lParam, lResult);
    pThis->m_pCurrentMsg = pOldMsg;
    if (uMsg == WM_NCDESTROY) {
        WNDPROC pfnSuper = pThis->m_pfnSuperWindowProc;
        if (pfnSuper != nullptr && pfnSuper != ::DefWindowProcA &&
            reinterpret_cast<WNDPROC>(::GetWindowLongPtrA(hWnd, GWLP_WNDPROC)) == StaticWindowProc)
            ::SetWindowLongPtrA(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(pfnSuper));
        pThis->ClearPermanent();
        pThis->m_pfnSuperWindowProc = nullptr;
        pThis->m_hWnd = nullptr;
        if (!bHandled)
            lResult = pfnSuper != nullptr ? ::CallWindowProcA(pfnSuper, hWnd, uMsg, wParam, lParam)
                                          : ::DefWindowProcA(hWnd, uMsg, wParam, lParam);
        pThis->OnFinalMessage(hWnd);
        return lResult;
    }
    if (!bHandled)
        lResult = pThis->DefWindowProc(uMsg, wParam, lParam);
    return lResult;
}

BOOL CWnd::ModifyStyle(DWORD dwRemove, DWORD dwAdd, UINT nFlags) const
{
    DWORD dwStyle = GetStyle();
    DWORD dwNew = (dwStyle & ~dwRemove) | dwAdd;
    if (dwStyle == dwNew)
        return FALSE;
    ::SetWindowLongA(m_hWnd, GWL_STYLE, static_cast<LONG>(dwNew));
    if (nFlags != 0)
        ::SetWindowPos(
            m_hWnd, nullptr, 0, 0, 0, 0,
            SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED | nFlags);
    return TRUE;
}

void CWnd::CenterWindow() const
{
    RECT rc, rcArea;
    ::GetWindowRect(m_hWnd, &rc);
    HWND hOwner = ::GetWindow(m_hWnd, GW_OWNER);
    if (hOwner != nullptr && ::IsWindowVisible(hOwner) && !::IsIconic(hOwner))
        ::GetWindowRect(hOwner, &rcArea);
    else
        ::SystemParametersInfoA(SPI_GETWORKAREA, 0, &rcArea, 0);
    int cx = rc.right - rc.left, cy = rc.bottom - rc.top;
    int x = rcArea.left + ((rcArea.right - rcArea.left) - cx) / 2;
    int y = rcArea.top + ((rcArea.bottom - rcArea.top) - cy) / 2;
    ::SetWindowPos(m_hWnd, nullptr, x < 0 ? 0 : x, y < 0 ? 0 : y, 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CWnd::OffsetChild(HWND hChild, int dx, int dy)
{
    if (hChild == nullptr)
        return;
    RECT rc;
    ::GetWindowRect(hChild, &rc);
    ::MapWindowPoints(nullptr, ::GetParent(hChild), reinterpret_cast<POINT*>(&rc), 2);
    ::SetWindowPos(hChild, nullptr, rc.left + dx, rc.top + dy, 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

std::string CWnd::GetWindowText(HWND hWnd)
{
    if (hWnd == nullptr)
        return std::string();
    int n = ::GetWindowTextLengthA(hWnd);
    std::vector<char> text(static_cast<size_t>(n > 0 ? n : 0) + 1, '\0');
    int nGot = ::GetWindowTextA(hWnd, text.data(), static_cast<int>(text.size()));
    return std::string(text.data(), nGot > 0 ? static_cast<size_t>(nGot) : 0);
}

void CWnd::InitCommonControls()
{
    INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_WIN95_CLASSES | ICC_USEREX_CLASSES};
    ::InitCommonControlsEx(&icc);
}

BOOL ReflectOwnerDraw(HWND hParent, UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lResult)
{
    HWND hChild = nullptr;
    switch (uMsg) {
        case WM_DRAWITEM:
            hChild = reinterpret_cast<LPDRAWITEMSTRUCT>(lParam)->hwndItem;
            break;
        case WM_MEASUREITEM:
            hChild = ::GetDlgItem(hParent, reinterpret_cast<LPMEASUREITEMSTRUCT>(lParam)->CtlID);
            break;
        case WM_COMPAREITEM:
            hChild = reinterpret_cast<LPCOMPAREITEMSTRUCT>(lParam)->hwndItem;
            break;
        case WM_DELETEITEM:
            hChild = reinterpret_cast<LPDELETEITEMSTRUCT>(lParam)->hwndItem;
            break;
        default:
            return FALSE;
    }
    CWnd* pChild = CWnd::FromHandlePermanent(hChild);
    if (pChild == nullptr)
        return FALSE;
    return pChild->ProcessWindowMessage(hChild, OCM_BASE + uMsg, wParam, lParam, lResult);
}
