#include "app/CTarvoselWnd.h"

#include <shellapi.h>
#include <stddef.h>
#include <string.h>

#include "cert/CSession.h"
#include "cert/entrust/CEntrustSession.h"
#include "cert/entrust/EntrustRecords.h"
#include "cert/wincrypt/CAuthorityStore.h"
#include "host/CHostSettings.h"
#include "platform/framework/CCriticalSection.h"
#include "platform/framework/CWinApp.h"
#include "res/resource.h"
#include "ui/CSessionInfoDlg.h"
#include "ui/ISessionLender.h"

namespace {
const char kClassName[] = "TarvoselTrayWnd";
// The entry's record as the oldest shells that show a tip and an info balloon
// know it (504 bytes for a 32-bit process).
const DWORD kNotifyDataSize = offsetof(NOTIFYICONDATAA, guidItem) + sizeof(GUID);
const size_t kTipLength = 63;

static_assert(sizeof(void*) == 8 || kNotifyDataSize == 504, "the entry record's size");

// Process-wide: the last icon the shell accepted, and what it was given.
CCriticalSection& EntryLock()
{
    static CCriticalSection cs;
    return cs;
}
CTarvoselWnd::CEntryRecord s_record;
CTarvoselWnd::PFN_NOTIFY volatile s_pfnNotify = Shell_NotifyIconA;

HICON LoadTrayIcon(int nId)
{
    return static_cast<HICON>(::LoadImageA(CWinApp::GetInstanceHandle(), MAKEINTRESOURCEA(nId),
                                           IMAGE_ICON, 16, 16, LR_SHARED | LR_VGACOLOR));
}
}  // namespace

CTarvoselWnd::CTarvoselWnd(ISessionLender& lender, const CHostSettings& settings)
    : m_lender(lender), m_settings(settings)
{
}

CTarvoselWnd::~CTarvoselWnd()
{
    if (m_hWnd != nullptr && ::IsWindow(m_hWnd))
        DestroyWindow();
    DestroyDialog();
    // The thread's loop has ended: no dialog is inside a loop any more.
    m_lstRetired.clear();
}

bool CTarvoselWnd::IsOlderThanXP(const OSVERSIONINFOA& version)
{
    if (version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS)
        return true;
    return version.dwMajorVersion < 5 || (version.dwMajorVersion == 5 && version.dwMinorVersion == 0);
}

bool CTarvoselWnd::Create()
{
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    bool bOlder = ::GetVersionExA(&version) && IsOlderThanXP(version);
    m_hIconNoSession = LoadTrayIcon(bOlder ? IDI_TRAY_NO_SESSION_VGA : IDI_TRAY_NO_SESSION);
    m_hIconSession = LoadTrayIcon(bOlder ? IDI_TRAY_SESSION_VGA : IDI_TRAY_SESSION);
    m_hIconClass = LoadTrayIcon(bOlder ? IDI_TRAY_WINDOW_VGA : IDI_TRAY_WINDOW);
    HINSTANCE hInstance = CWinApp::GetInstanceHandle();
    if (!RegisterWndClass(hInstance, kClassName, m_hIconClass))
        return false;
    return CreateEx(WS_EX_TOOLWINDOW, kClassName, "TrayIconHandler", 0, 0, 0, 0, 0, nullptr) !=
           nullptr;
}

void CTarvoselWnd::UnregisterWindowClass()
{
    ::UnregisterClassA(kClassName, CWinApp::GetInstanceHandle());
}

void CTarvoselWnd::SetShellCall(PFN_NOTIFY pfnNotify)
{
    s_pfnNotify = pfnNotify != nullptr ? pfnNotify : Shell_NotifyIconA;
}

CTarvoselWnd::CEntryRecord CTarvoselWnd::GetEntryRecord()
{
    CCriticalSection::CGuard guard(EntryLock());
    return s_record;
}

bool CTarvoselWnd::NotifyEntry(DWORD dwMessage, HICON hIcon, const char* pszTip)
{
    NOTIFYICONDATAA nid;
    memset(&nid, 0, sizeof(nid));
    nid.cbSize = kNotifyDataSize;
    nid.hWnd = m_hWnd;
    nid.uID = ICON_ID;
    nid.uFlags = NIF_MESSAGE;
    nid.uCallbackMessage = WM_TRAY_NOTIFY;
    {
        CCriticalSection::CGuard guard(EntryLock());
        // A new entry always gets its icon: the shell has none for it yet,
        // whatever an earlier entry of this process showed.
        if (hIcon != nullptr && (dwMessage == NIM_ADD || hIcon != s_record.hIcon)) {
            nid.uFlags |= NIF_ICON;
            nid.hIcon = hIcon;
        }
    }
    std::string strTip;
    if (pszTip != nullptr) {
        strTip.assign(pszTip, strnlen(pszTip, kTipLength));
        nid.uFlags |= NIF_TIP;
        memcpy(nid.szTip, strTip.c_str(), strTip.size() + 1);
    }
    // The shell call sends to another process and may take seconds: never
    // under the lock, or a thread stopped inside it would leave the lock owned.
    if (!s_pfnNotify(dwMessage, &nid))
        return false;
    CCriticalSection::CGuard guard(EntryLock());
    s_record.hWnd = m_hWnd;
    s_record.uCallbackMessage = WM_TRAY_NOTIFY;
    if (nid.uFlags & NIF_ICON) {
        s_record.hIcon = hIcon;
        ++s_record.nIconsPassed;
    }
    if (nid.uFlags & NIF_TIP)
        s_record.strTip = strTip;
    switch (dwMessage) {
        case NIM_ADD: ++s_record.nAdds; break;
        case NIM_MODIFY: ++s_record.nModifies; break;
        default: break;
    }
    return true;
}

void CTarvoselWnd::RemoveEntry(HWND hWnd)
{
    NOTIFYICONDATAA nid;
    memset(&nid, 0, sizeof(nid));
    nid.cbSize = kNotifyDataSize;
    nid.hWnd = hWnd;
    nid.uID = ICON_ID;
    bool bDeleted = s_pfnNotify(NIM_DELETE, &nid) != FALSE;
    CCriticalSection::CGuard guard(EntryLock());
    if (bDeleted)
        ++s_record.nDeletes;
    // The next entry starts without an icon in the shell.
    s_record.hWnd = nullptr;
    s_record.hIcon = nullptr;
    s_record.strTip.clear();
}

std::string CTarvoselWnd::SessionTip(const CS_SESSIONINFO& info, int nIssuerIndex)
{
    std::string strTip = info.strName;
    if (info.nType == SESSION_KIND_ENTRUST) {
        std::string strLabel = AuthorityLabel(nIssuerIndex);
        if (strLabel.find("prod") == std::string::npos)
            strTip += " (" + strLabel + ")";
        const CS_EPFPROFILE* pProfile = info.Details<CS_EPFPROFILE>();
        if (pProfile != nullptr && pProfile->bOnline)
            strTip += " (online)";
    }
    return strTip.substr(0, kTipLength);
}

bool CTarvoselWnd::PreTranslateMessage(MSG* pMsg)
{
    return m_hWndDialog != nullptr && ::IsWindow(m_hWndDialog) &&
           ::IsDialogMessageA(m_hWndDialog, pMsg);
}

LRESULT CTarvoselWnd::OnCreate(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled)
{
    LRESULT lResult = DefWindowProc();
    if (lResult == -1)
        return -1;
    NotifyEntry(NIM_ADD, m_hIconNoSession, "No hay sesi\xF3n activa");
    SetWindowText("Tarvosel Wnd");
    return lResult;
}

LRESULT CTarvoselWnd::OnDestroy(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled)
{
    RemoveEntry(m_hWnd);
    DestroyDialog();
    bHandled = FALSE;
    return 0;
}

LRESULT CTarvoselWnd::OnNotify(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled)
{
    if (wParam != ICON_ID)
        return 0;
    switch (static_cast<UINT>(lParam)) {
        case WM_LBUTTONDOWN:
        case WM_LBUTTONUP:
        case WM_LBUTTONDBLCLK:
        case WM_RBUTTONUP:
            PostMessage(static_cast<UINT>(lParam));
            break;
        default:
            break;
    }
    return 0;
}

LRESULT CTarvoselWnd::OnRButtonUp(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled)
{
    return 0;
}

// Lent: the host's thread may be signing with it meanwhile, and only its state
// and data are read here.
CSessionRef CTarvoselWnd::OpenSession()
{
    CSessionRef pSession = m_lender.LendSession();
    if (pSession && (pSession->GetState() & SESSION_OPEN))
        return pSession;
    return CSessionRef();
}

LRESULT CTarvoselWnd::OnLButtonUp(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled)
{
    DeleteRetiredDialogs();
    int nMode = m_settings.GetIniInt("ModoInterfaz", 0);
    ::SetForegroundWindow(m_hWnd);
    if (m_pDialog) {
        if (::IsWindowVisible(m_hWndDialog)) {
            ::SetForegroundWindow(m_hWndDialog);
            ::BringWindowToTop(m_hWndDialog);
        } else {
            DestroyDialog();
        }
    }
    if (nMode != 1 || m_pDialog)
        return 0;
    CSessionRef pSession = OpenSession();
    if (!pSession)
        return 0;
    std::unique_ptr<CSessionInfoDlg> pDialog(new CSessionInfoDlg(m_lender, m_settings));
    pDialog->m_pSession = pSession;
    if (!pDialog->Create(nullptr))
        return 0;
    m_hWndDialog = pDialog->m_hWnd;
    m_pDialog = std::move(pDialog);
    ::ShowWindow(m_hWndDialog, SW_SHOWNORMAL);
    ::SetForegroundWindow(m_hWndDialog);
    return 0;
}

LRESULT CTarvoselWnd::OnRefresh(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled)
{
    DeleteRetiredDialogs();
    CSessionRef pSession = OpenSession();
    if (pSession) {
        CS_SESSIONINFO info;
        pSession->GetSessionData(&info);
        CEntrustSession* pEntrust = dynamic_cast<CEntrustSession*>(pSession.get());
        int nIssuerIndex = pEntrust != nullptr ? pEntrust->GetIssuerIndex() : -1;
        NotifyEntry(NIM_MODIFY, m_hIconSession, SessionTip(info, nIssuerIndex).c_str());
        // A dialog of a session that was replaced meanwhile shows another user.
        if (m_pDialog && m_pDialog->m_pSession != pSession)
            DestroyDialog();
    } else {
        NotifyEntry(NIM_MODIFY, m_hIconNoSession, "No hay sesi\xF3n de usuario");
        DestroyDialog();
    }
    return 0;
}

void CTarvoselWnd::DestroyDialog()
{
    if (m_pDialog) {
        m_pDialog->DestroyWindow();
        if (m_pDialog->IsInModalRun())
            m_lstRetired.push_back(std::move(m_pDialog));
        m_pDialog.reset();
    }
    m_hWndDialog = nullptr;
}

void CTarvoselWnd::DeleteRetiredDialogs()
{
    for (size_t i = m_lstRetired.size(); i-- > 0;) {
        if (!m_lstRetired[i]->IsInModalRun())
            m_lstRetired.erase(m_lstRetired.begin() + static_cast<std::ptrdiff_t>(i));
    }
}
