// tvlshots: shows each dialog of the library the way a user sees it, with the
// test PKI in the user's store, and saves a picture of each (BMP) into a
// folder. scripts/screenshots.sh runs it under Xvfb and turns the pictures
// into the README's PNG files.
//
//   tvlshots OUTDIR PKIDIR [NAME...]      (default: every shot)
//
// To add a dialog: write a function that runs it modally on this thread and a
// preparation that a driver thread performs once it shows (rows selected, a
// page chosen), and add both to the table in main.
#include <windows.h>
#include <commctrl.h>

#include <stdio.h>

#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "api/CTarvoselException.h"
#include "cert/wincrypt/CAPIWincrypt.h"
#include "cert/wincrypt/CWincryptCertificate.h"
#include "res/resource.h"
#include "smartcard/CSCardDlg.h"
#include "tools/shared/WindowDriving.h"
#include "tools/shared/WindowShot.h"
#include "ui/CCertificatePropDlg.h"
#include "ui/CLoginSheet.h"
#include "ui/CLoginWincryptPage.h"

using namespace tvldrive;

namespace {

struct Shot {
    const char* pszName;
    // Runs the dialog modally on the calling thread.
    std::function<void()> fnShow;
    // On the driver thread: true once the window is ready to be pictured.
    std::function<bool(HWND)> fnPrepare;
};

HWND WaitForDialog(DWORD dwThread, DWORD dwMs)
{
    HWND hFound = nullptr;
    WaitUntil(
        [&] {
            for (HWND h : ThreadWindows(dwThread)) {
                if (IsWindowVisible(h) && ClassOf(h) == "#32770")
                    hFound = h;
            }
            return hFound != nullptr;
        },
        dwMs);
    return hFound;
}

std::vector<BYTE> ReadFileBytes(const std::string& strPath)
{
    std::ifstream f(strPath, std::ios::binary);
    return std::vector<BYTE>(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

// The login sheet over the user's store, as OpenSession builds it.
void ShowLoginSheet()
{
    CLoginSheet sheet("Selecci\xF3n de certificado");
    CLoginWincryptPage page;
    sheet.AddPage(&page);
    sheet.m_psh.dwFlags |= PSH_NOAPPLYNOW;
    sheet.DoModal();
}

bool PrepareLoginSheet(HWND hSheet)
{
    HWND hPage = reinterpret_cast<HWND>(SendMessageA(hSheet, PSM_GETCURRENTPAGEHWND, 0, 0));
    HWND hList = GetDlgItem(hPage, IDC_CERT_LIST);
    if (!WaitUntil(
            [&] { return IsWindowEnabled(GetDlgItem(hPage, IDC_REFRESH)) && ListCount(hList) > 0; },
            20000))
        return false;
    int nRow = ListFind(hList, "DIAZ MORA CARLOS");
    if (nRow >= 0) {
        ListSelect(hList, nRow);
    }
    return true;
}

// The properties of a row of two certificates: the identity-card-like pair.
std::string g_strPkiDir;

void ShowProperties()
{
    CWincryptCertificate sign, auth;
    std::vector<BYTE> signDer = ReadFileBytes(g_strPkiDir + "/certs/dni-sign.der");
    std::vector<BYTE> authDer = ReadFileBytes(g_strPkiDir + "/certs/dni-auth.der");
    try {
        sign.Create2(signDer.data(), static_cast<DWORD>(signDer.size()));
        auth.Create2(authDer.data(), static_cast<DWORD>(authDer.size()));
    } catch (CTarvoselException* e) {
        fprintf(stderr, "tvlshots: %s\n", e->GetDescription().c_str());
        delete e;
        return;
    }
    CERTGROUP_INFO group;
    group.lstCertificates = {&sign, &auth};
    CCertificatePropDlg dialog;
    dialog.m_pGroup = &group;
    dialog.DoModal();
}

void ShowCardDialog()
{
    CSCardDlg dialog;
    dialog.DoModal();
}

bool Settle(HWND)
{
    return true;
}

// The clip stands still on a frame with the card half-way in.
bool FreezeClip(HWND hDlg)
{
    SendMessageA(GetDlgItem(hDlg, IDC_SCARD_ANIMATION), ACM_PLAY, 1, MAKELPARAM(6, 6));
    return true;
}

void Close(HWND hWnd)
{
    if (IsPropertySheet(hWnd))
        PostMessageA(GetDlgItem(hWnd, IDCANCEL), BM_CLICK, 0, 0);
    else
        PostMessageA(hWnd, WM_COMMAND, IDCANCEL, 0);
}

struct DriverData {
    DWORD dwThread;
    const Shot* pShot;
    std::string strPath;
    bool bSaved;
};

DWORD WINAPI DriverProc(LPVOID pParam)
{
    DriverData* p = static_cast<DriverData*>(pParam);
    HWND hWnd = WaitForDialog(p->dwThread, 20000);
    if (hWnd == nullptr)
        return 0;
    RedrawWindow(hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    Sleep(300);
    if (p->pShot->fnPrepare(hWnd)) {
        Sleep(400);
        p->bSaved = SaveWindowShot(hWnd, p->strPath.c_str());
    }
    Close(hWnd);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: tvlshots OUTDIR PKIDIR [NAME...]\n");
        return 2;
    }
    std::string strOut = argv[1];
    g_strPkiDir = argv[2];
    std::vector<std::string> wanted(argv + 3, argv + argc);
    try {
        CAPIWincrypt::Load();
    } catch (CTarvoselException* e) {
        fprintf(stderr, "tvlshots: %s\n", e->GetDescription().c_str());
        delete e;
        return 1;
    }
    const Shot shots[] = {
        {"login-sheet", ShowLoginSheet, PrepareLoginSheet},
        {"certificate-properties", ShowProperties, Settle},
        {"insert-card", ShowCardDialog, FreezeClip},
    };
    int nFailed = 0;
    for (const Shot& shot : shots) {
        bool bWanted = wanted.empty();
        for (const std::string& s : wanted)
            bWanted |= s == shot.pszName;
        if (!bWanted)
            continue;
        DriverData data = {GetCurrentThreadId(), &shot, strOut + "\\" + shot.pszName + ".bmp",
                           false};
        HANDLE hDriver = CreateThread(nullptr, 0, DriverProc, &data, 0, nullptr);
        shot.fnShow();
        WaitForSingleObject(hDriver, 30000);
        CloseHandle(hDriver);
        printf("%-24s %s\n", shot.pszName, data.bSaved ? data.strPath.c_str() : "FAILED");
        if (!data.bSaved)
            ++nFailed;
    }
    return nFailed == 0 ? 0 : 1;
}
