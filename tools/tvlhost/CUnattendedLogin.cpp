#include "CUnattendedLogin.h"

#include <commctrl.h>
#include <stdio.h>

#include <vector>

#include "tools/shared/WindowDriving.h"
#include "tools/shared/WindowShot.h"

using namespace tvldrive;

namespace {
const char kSheetCaption[] = "Selecci\xF3n de certificado";
const int kListId = 1037;
const int kRefreshId = 1023;

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
            if (!IsPropertySheet(hWnd)) {
                // Neither a sheet nor a box: a sheet being destroyed.
                if (!IsMessageBox(hWnd))
                    continue;
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
        [&] { return IsWindowEnabled(GetDlgItem(hPage, kRefreshId)) && ListCount(hList) > 0; },
        30000);
    int nRows = ListCount(hList);
    printf("  [unattended] the login sheet shows %d row(s):\n", nRows);
    int nPick = -1;
    for (int i = 0; i < nRows; ++i) {
        std::string strLabel = ListText(hList, i, 0);
        printf("  [unattended]   %s | %s | %s | %s\n", strLabel.c_str(),
               ListText(hList, i, 1).c_str(), ListText(hList, i, 2).c_str(),
               ListText(hList, i, 3).c_str());
        if (nPick < 0 && strLabel.find(m_strRowText) != std::string::npos)
            nPick = i;
    }
    fflush(stdout);
    if (!bReady || nPick < 0) {
        Say("no row contains \"%s\": pressing Cancelar", m_strRowText);
        PostMessageA(GetDlgItem(hSheet, IDCANCEL), BM_CLICK, 0, 0);
        return;
    }
    ListSelect(hList, nPick);
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
    Say("selecting \"%s\" and pressing Aceptar", ListText(hList, nPick, 0));
    PostMessageA(hOk, BM_CLICK, 0, 0);
}
