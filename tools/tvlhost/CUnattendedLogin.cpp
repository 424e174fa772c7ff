#include "CUnattendedLogin.h"

#include <commctrl.h>
#include <stdio.h>

#include <vector>

#include "tools/shared/WindowShot.h"

namespace {
const char kSheetCaption[] = "Selecci\xF3n de certificado";
const int kListId = 1037;
const int kRefreshId = 1023;

std::string TextOf(HWND hWnd)
{
    char sz[1024] = {0};
    DWORD_PTR n = 0;
    SendMessageTimeoutA(hWnd, WM_GETTEXT, sizeof(sz), reinterpret_cast<LPARAM>(sz), SMTO_NORMAL,
                        5000, &n);
    return sz;
}

std::string ClassOf(HWND hWnd)
{
    char sz[64] = {0};
    GetClassNameA(hWnd, sz, sizeof(sz));
    return sz;
}

BOOL CALLBACK Collect(HWND hWnd, LPARAM lParam)
{
    reinterpret_cast<std::vector<HWND>*>(lParam)->push_back(hWnd);
    return TRUE;
}

std::vector<HWND> ThreadWindows(DWORD dwThread)
{
    std::vector<HWND> windows;
    EnumThreadWindows(dwThread, Collect, reinterpret_cast<LPARAM>(&windows));
    return windows;
}

bool IsSheet(HWND hWnd)
{
    return reinterpret_cast<HWND>(SendMessageA(hWnd, PSM_GETTABCONTROL, 0, 0)) != nullptr;
}

std::string RowText(HWND hList, int nItem, int nSubItem)
{
    char sz[512] = {0};
    LVITEMA item = {};
    item.iSubItem = nSubItem;
    item.pszText = sz;
    item.cchTextMax = sizeof(sz);
    SendMessageA(hList, LVM_GETITEMTEXTA, static_cast<WPARAM>(nItem),
                 reinterpret_cast<LPARAM>(&item));
    return sz;
}

template <typename F>
bool WaitUntil(F cond, DWORD dwMs)
{
    DWORD dwStart = GetTickCount();
    while (!cond()) {
        if (GetTickCount() - dwStart > dwMs)
            return false;
        Sleep(50);
    }
    return true;
}

void Say(const char* pszFormat, const std::string& str = std::string())
{
    printf("  [unattended] ");
    printf(pszFormat, str.c_str());
    printf("\n");
    fflush(stdout);
}
}  // namespace

CUnattendedLogin::CUnattendedLogin(DWORD dwHostThread, const std::string& strRowText,
                                   const std::string& strShotPath)
    : m_dwHostThread(dwHostThread), m_strRowText(strRowText), m_strShotPath(strShotPath)
{
    m_hStop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    m_hThread = CreateThread(nullptr, 0, ThreadProc, this, 0, nullptr);
}

CUnattendedLogin::~CUnattendedLogin()
{
    SetEvent(m_hStop);
    if (m_hThread != nullptr) {
        WaitForSingleObject(m_hThread, 5000);
        CloseHandle(m_hThread);
    }
    CloseHandle(m_hStop);
}

DWORD WINAPI CUnattendedLogin::ThreadProc(LPVOID pParam)
{
    static_cast<CUnattendedLogin*>(pParam)->Run();
    return 0;
}

void CUnattendedLogin::Run()
{
    HWND hLastSheet = nullptr;
    while (WaitForSingleObject(m_hStop, 100) == WAIT_TIMEOUT) {
        for (HWND hWnd : ThreadWindows(m_dwHostThread)) {
            if (!IsWindowVisible(hWnd) || ClassOf(hWnd) != "#32770" ||
                TextOf(hWnd) != kSheetCaption)
                continue;
            if (!IsSheet(hWnd)) {
                // The box of a refused attempt: read it, close it, give up.
                HWND hText = nullptr;
                for (HWND h = GetWindow(hWnd, GW_CHILD); h; h = GetWindow(h, GW_HWNDNEXT)) {
                    if (ClassOf(h) == "Static" && !TextOf(h).empty())
                        hText = h;
                }
                Say("message box \"%s\": pressing its button, then Cancelar", TextOf(hText));
                PostMessageA(hWnd, WM_COMMAND, IDOK, 0);
                WaitUntil([&] { return !IsWindowVisible(hWnd); }, 5000);
                if (hLastSheet != nullptr && IsWindow(hLastSheet))
                    PostMessageA(GetDlgItem(hLastSheet, IDCANCEL), BM_CLICK, 0, 0);
                continue;
            }
            if (hWnd != hLastSheet) {
                hLastSheet = hWnd;
                WorkSheet(hWnd);
            }
        }
    }
}

void CUnattendedLogin::WorkSheet(HWND hSheet)
{
    HWND hPage = reinterpret_cast<HWND>(SendMessageA(hSheet, PSM_GETCURRENTPAGEHWND, 0, 0));
    HWND hList = GetDlgItem(hPage, kListId);
    // The sheet is idle once its list has been read ("Actualizar" enabled again).
    bool bReady = WaitUntil(
        [&] {
            return IsWindowEnabled(GetDlgItem(hPage, kRefreshId)) &&
                   SendMessageA(hList, LVM_GETITEMCOUNT, 0, 0) > 0;
        },
        30000);
    int nRows = static_cast<int>(SendMessageA(hList, LVM_GETITEMCOUNT, 0, 0));
    printf("  [unattended] the login sheet shows %d row(s):\n", nRows);
    int nPick = -1;
    for (int i = 0; i < nRows; ++i) {
        std::string strLabel = RowText(hList, i, 0);
        printf("  [unattended]   %s | %s | %s | %s\n", strLabel.c_str(),
               RowText(hList, i, 1).c_str(), RowText(hList, i, 2).c_str(),
               RowText(hList, i, 3).c_str());
        if (nPick < 0 && strLabel.find(m_strRowText) != std::string::npos)
            nPick = i;
    }
    fflush(stdout);
    if (!bReady || nPick < 0) {
        Say("no row contains \"%s\": pressing Cancelar", m_strRowText);
        PostMessageA(GetDlgItem(hSheet, IDCANCEL), BM_CLICK, 0, 0);
        return;
    }
    LVITEMA item = {};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    item.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageA(hList, LVM_SETITEMSTATE, static_cast<WPARAM>(nPick),
                 reinterpret_cast<LPARAM>(&item));
    SendMessageA(hList, LVM_SETSELECTIONMARK, 0, nPick);
    SendMessageA(hList, LVM_ENSUREVISIBLE, static_cast<WPARAM>(nPick), FALSE);
    HWND hOk = GetDlgItem(hSheet, IDOK);
    if (!WaitUntil([&] { return IsWindowEnabled(hOk) != FALSE; }, 5000)) {
        Say("\"Aceptar\" stays disabled: pressing Cancelar");
        PostMessageA(GetDlgItem(hSheet, IDCANCEL), BM_CLICK, 0, 0);
        return;
    }
    if (!m_strShotPath.empty()) {
        RedrawWindow(hSheet, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
        Sleep(300);
        if (SaveWindowShot(hSheet, m_strShotPath.c_str()))
            Say("picture of the sheet saved as %s", m_strShotPath);
        else
            Say("could not save a picture of the sheet as %s", m_strShotPath);
    }
    Say("selecting \"%s\" and pressing Aceptar", RowText(hList, nPick, 0));
    PostMessageA(hOk, BM_CLICK, 0, 0);
}
