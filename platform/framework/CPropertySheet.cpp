#include "platform/framework/CPropertySheet.h"

#include <commctrl.h>

#include "platform/framework/CPropertyPage.h"
#include "platform/framework/CWinApp.h"

namespace {
// The two layouts of a dialog template in memory.
struct DialogTemplateEx {
    WORD dlgVer;
    WORD signature;
    DWORD helpID;
    DWORD exStyle;
    DWORD style;
};
}  // namespace

CPropertySheet::CPropertySheet(const char* pszCaption, HWND hWndParent, UINT nSelectPage) : m_psh()
{
    if (pszCaption != nullptr)
        m_strCaption = pszCaption;
    m_psh.dwSize = sizeof(m_psh);
    m_psh.dwFlags = PSH_PROPSHEETPAGE;
    m_psh.hwndParent = hWndParent;
    m_psh.nStartPage = nSelectPage;
}

CPropertySheet::~CPropertySheet()
{
    if (m_hWnd != nullptr && ::IsWindow(m_hWnd))
        ::DestroyWindow(m_hWnd);
}

void CPropertySheet::AddPage(CPropertyPage* pPage)
{
    pPage->m_pSheet = this;
    m_pages.push_back(pPage);
}

CPropertyPage* CPropertySheet::GetPage(int nPage) const
{
    if (nPage < 0 || nPage >= GetPageCount())
        return nullptr;
    return m_pages[static_cast<size_t>(nPage)];
}

int CPropertySheet::GetActiveIndex() const
{
    if (m_hWnd == nullptr)
        return static_cast<int>(m_psh.nStartPage);
    HWND hPage = PropSheet_GetCurrentPageHwnd(m_hWnd);
    for (int i = 0; i < GetPageCount(); ++i) {
        if (m_pages[static_cast<size_t>(i)]->m_hWnd == hPage && hPage != nullptr)
            return i;
    }
    return static_cast<int>(m_psh.nStartPage);
}

HWND CPropertySheet::GetTabControl() const
{
    return m_hWnd != nullptr ? PropSheet_GetTabControl(m_hWnd) : nullptr;
}

int CALLBACK CPropertySheet::SheetCallback(HWND hWnd, UINT uMsg, LPARAM lParam)
{
    // The sheet is made hidden: it shows once this object has laid it out.
    if (uMsg == PSCB_PRECREATE && lParam != 0) {
        DialogTemplateEx* pEx = reinterpret_cast<DialogTemplateEx*>(lParam);
        if (pEx->signature == 0xFFFF)
            pEx->style &= ~WS_VISIBLE;
        else
            reinterpret_cast<DLGTEMPLATE*>(lParam)->style &= ~WS_VISIBLE;
    }
    return 0;
}

void CPropertySheet::EndDialog(int nResult)
{
    m_nModalResult = nResult;
    m_bEndRun = true;
    // Wakes the run's loop.
    if (m_hWnd != nullptr)
        PostMessage(WM_NULL);
}

bool CPropertySheet::IsRunEnded() const
{
    // The platform closes a modeless sheet by leaving it without a current page.
    return m_bEndRun || m_hWnd == nullptr || PropSheet_GetCurrentPageHwnd(m_hWnd) == nullptr;
}

INT_PTR CPropertySheet::DoModal()
{
    if (m_pages.empty() || m_hWnd != nullptr) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    InitCommonControls();
    // The sheet runs as a modeless window under a loop of ours, so that it can
    // be laid out before it shows and its map runs from its first message.
    std::vector<PROPSHEETPAGEA> pages;
    for (CPropertyPage* pPage : m_pages) {
        PROPSHEETPAGEA psp = pPage->m_psp;
        psp.hInstance = CWinApp::GetInstanceHandle();
        if (!pPage->m_strCaption.empty()) {
            psp.dwFlags |= PSP_USETITLE;
            psp.pszTitle = pPage->m_strCaption.c_str();
        }
        pages.push_back(psp);
    }
    PROPSHEETHEADERA psh = m_psh;
    psh.dwFlags |= PSH_PROPSHEETPAGE | PSH_MODELESS | PSH_USECALLBACK;
    psh.dwFlags &= ~static_cast<DWORD>(PSH_WIZARD);
    psh.hInstance = CWinApp::GetInstanceHandle();
    psh.pszCaption = m_strCaption.c_str();
    psh.nPages = static_cast<UINT>(pages.size());
    if (psh.nStartPage >= psh.nPages)
        psh.nStartPage = 0;
    m_psh.nStartPage = psh.nStartPage;
    psh.ppsp = pages.data();
    psh.pfnCallback = SheetCallback;

    m_nModalResult = IDCANCEL;
    m_bEndRun = false;
    // An error left by an earlier call must not pass for the sheet's.
    ::SetLastError(0);
    HWND hWnd = reinterpret_cast<HWND>(::PropertySheetA(&psh));
    if (hWnd == nullptr || reinterpret_cast<INT_PTR>(hWnd) == -1)
        return -1;
    if (!SubclassWindow(hWnd)) {
        DWORD dwError = ::GetLastError();
        ::DestroyWindow(hWnd);
        ::SetLastError(dwError);
        return -1;
    }
    OnInitDialog();

    HWND hOwner = psh.hwndParent;
    bool bOwnerDisabled = false;
    if (hOwner != nullptr && ::IsWindowEnabled(hOwner)) {
        ::EnableWindow(hOwner, FALSE);
        bOwnerDisabled = true;
    }
    ShowWindow(SW_SHOW);

    MSG msg;
    while (!IsRunEnded()) {
        BOOL bGot = ::GetMessageA(&msg, nullptr, 0, 0);
        if (bGot == 0) {
            // WM_QUIT belongs to the thread's own loop.
            ::PostQuitMessage(static_cast<int>(msg.wParam));
            break;
        }
        if (bGot == -1)
            break;
        if (m_hWnd != nullptr && PropSheet_IsDialogMessage(m_hWnd, &msg))
            continue;
        ::TranslateMessage(&msg);
        ::DispatchMessageA(&msg);
    }

    if (bOwnerDisabled)
        ::EnableWindow(hOwner, TRUE);
    if (m_hWnd != nullptr) {
        // Hide first, so that the owner gets the activation back.
        ::SetWindowPos(m_hWnd, nullptr, 0, 0, 0, 0,
                       SWP_HIDEWINDOW | SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE | SWP_NOZORDER);
        if (hOwner != nullptr)
            ::SetActiveWindow(hOwner);
        ::DestroyWindow(m_hWnd);
    }
    return m_nModalResult;
}
