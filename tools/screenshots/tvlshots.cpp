// tvlshots: shows each dialog of the library the way a user sees it, with the
// test PKI in the user's store, and saves a picture of each (BMP) into a
// folder. scripts/screenshots.sh runs it under Xvfb and turns the pictures
// into the README's PNG files.
//
//   tvlshots OUTDIR PKIDIR [NAME...]      (default: every shot)
//
// OUTDIR\epf holds the profile material (user.epf and address-book
// certificates ab-*.pem), which the profile session works on.
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
#include "app/CTarvoselApp.h"
#include "cert/entrust/CEntrustCertSelectionDlg.h"
#include "cert/entrust/CEntrustSession.h"
#include "cert/entrust/CLoginEntrustPage.h"
#include "cert/entrust/EntrustLogin.h"
#include "cert/CCertStore.h"
#include "cert/wincrypt/CWincryptSession.h"
#include "cert/wincrypt/CAPIWincrypt.h"
#include "cert/wincrypt/CWincryptCertificate.h"
#include "host/CHostSettings.h"
#include "res/resource.h"
#include "smartcard/CSCardDlg.h"
#include "tools/shared/WindowDriving.h"
#include "tools/shared/WindowShot.h"
#include "ui/CCertificatePropDlg.h"
#include "ui/CLoginSheet.h"
#include "ui/CLoginWincryptPage.h"
#include "ui/CSessionInfoDlg.h"
#include "tests/session/SessionTestSupport.h"
#include "tests/support/TrayArea.h"

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
    CSCardDlg dialog(GetTarvoselApp().CardDialogRegistration());
    dialog.DoModal();
}

std::string g_strOutDir;
const char kProfilePassword[] = "Prueba1234";

std::string ProfilePath()
{
    return g_strOutDir + "\\epf\\user.epf";
}

// The library started as a host starts it, with tarvosel.ini beside this
// program, for what needs it (a profile's temporary files, the icon).
class CLibraryRun {
public:
    explicit CLibraryRun(int nFlags)
    {
        char szExe[MAX_PATH] = {0};
        GetModuleFileNameA(nullptr, szExe, MAX_PATH);
        m_strIni = szExe;
        m_strIni = m_strIni.substr(0, m_strIni.find_last_of('\\') + 1) + "tarvosel.ini";
        FILE* f = fopen(m_strIni.c_str(), "wb");
        if (f != nullptr) {
            fputs("[Configuracion tarvosel]\r\nLog=0\r\n", f);
            fclose(f);
        }
        try {
            GetTarvoselApp().Initialize(nFlags);
            GetTarvoselApp().SetTempDir(g_strOutDir + "\\");
            m_bStarted = true;
        } catch (CTarvoselException* e) {
            fprintf(stderr, "tvlshots: %s\n", e->GetDescription().c_str());
            delete e;
        }
    }
    ~CLibraryRun()
    {
        try {
            GetTarvoselApp().Finalize();
        } catch (CTarvoselException* e) {
            delete e;
        }
        DeleteFileA(m_strIni.c_str());
    }
    bool Started() const { return m_bStarted; }

private:
    std::string m_strIni;
    bool m_bStarted = false;
};

// The profile dialog of the login, with two recent profiles.
void ShowProfileLogin()
{
    CEntrustCertSelectionDlg dialog;
    dialog.m_RecentProfiles = {"C:\\Perfiles\\garcia-lopez-juan.epf",
                               "C:\\Perfiles\\fernandez-ruiz-maria.epf"};
    dialog.DoModal();
}

// The login sheet with its profile page in front.
void ShowLoginSheetProfile()
{
    CLoginSheet sheet("Selecci\xF3n de certificado");
    CLoginEntrustPage profile;
    profile.m_RecentProfiles = {"C:\\Perfiles\\garcia-lopez-juan.epf",
                                "C:\\Perfiles\\fernandez-ruiz-maria.epf"};
    profile.m_bShowOffline = 1;
    CLoginWincryptPage page;
    sheet.AddPage(&profile);
    sheet.AddPage(&page);
    sheet.m_psh.dwFlags |= PSH_NOAPPLYNOW;
    sheet.m_psh.nStartPage = 0;
    sheet.DoModal();
}

CSession* OpenWincryptSession()
{
    sessiontest::Choice choice("fam2", "fam2");
    if (!choice.IsComplete()) {
        fprintf(stderr, "tvlshots: the test PKI's fam2 is not in the user's store\n");
        return nullptr;
    }
    CWincryptSession* pSession = new CWincryptSession;
    try {
        pSession->Open(&choice.login);
    } catch (CTarvoselException* e) {
        fprintf(stderr, "tvlshots: %s\n", e->GetDescription().c_str());
        delete e;
        delete pSession;
        return nullptr;
    }
    return pSession;
}

CSession* OpenProfileSession()
{
    CS_EPFLOGIN login;
    login.strProfilePath = ProfilePath();
    login.strPassword = kProfilePassword;
    CS_EPFREQUEST request;
    request.pLogin = &login;
    CEntrustSession* pSession = new CEntrustSession;
    try {
        pSession->Open(&request);
        // A few entries in the address book.
        CCertStore* pStore = pSession->GetCertStore();
        for (const char* pszName : {"ab-ana.pem", "ab-eva.pem", "ab-jose.pem"}) {
            try {
                if (pStore != nullptr)
                    pStore->ImportCertificate(g_strOutDir + "\\epf\\" + pszName);
            } catch (CTarvoselException* e) {
                delete e;  // already there from an earlier run
            }
        }
    } catch (CTarvoselException* e) {
        fprintf(stderr, "tvlshots: %s\n", e->GetDescription().c_str());
        delete e;
        delete pSession;
        return nullptr;
    }
    return pSession;
}

// The session information dialog over a session of either kind, as the
// notification-area icon opens it.
void ShowSessionInfo(CSession* (*fnOpen)())
{
    CSession* pSession = fnOpen();
    if (pSession == nullptr)
        return;
    GetTarvoselApp().AdoptSession(pSession);
    {
        CSessionInfoDlg dialog(GetTarvoselApp(), CHostSettings::Process());
        dialog.m_pSession = GetTarvoselApp().LendSession();
        dialog.DoModal();
    }
    GetTarvoselApp().AdoptSession(nullptr);
}

void ShowSessionInfoWincrypt()
{
    ShowSessionInfo(OpenWincryptSession);
}

void ShowSessionInfoProfile()
{
    CLibraryRun library(0);
    ShowSessionInfo(OpenProfileSession);
}

// A row of each list selected, so that the buttons show enabled.
bool SelectRows(HWND hDlg)
{
    WaitUntil([&] { return ListCount(GetDlgItem(hDlg, IDC_INFO_USER_LIST)) > 0; }, 5000);
    ListSelect(GetDlgItem(hDlg, IDC_INFO_USER_LIST), 0);
    if (ListCount(GetDlgItem(hDlg, IDC_INFO_BOOK_LIST)) > 0)
        ListSelect(GetDlgItem(hDlg, IDC_INFO_BOOK_LIST), 0);
    return true;
}

// The icon in Wine's notification area with its tip showing, for a
// Windows-certificate session: the library started with its icon, the mouse
// over the entry. The tray and the tip are pictured together.
bool ShootTrayIcon(const std::string& strPath)
{
    CLibraryRun library(1);
    bool bSaved = false;
    try {
        CSession* pSession = OpenWincryptSession();
        if (pSession != nullptr)
            GetTarvoselApp().AdoptSession(pSession);
        HWND hIcon = nullptr;
        WaitUntil(
            [&] {
                std::vector<HWND> icons = tvltest::TrayIconWindows();
                hIcon = icons.empty() ? nullptr : icons.back();
                return hIcon != nullptr && pSession != nullptr;
            },
            5000);
        HWND hTray = tvltest::SystemTrayWindow();
        HWND hTip = nullptr;
        if (hIcon != nullptr && hTray != nullptr) {
            // The entry shows the icon of a session, then the tip shows once
            // the mouse rests over it.
            HICON hSessionIcon = static_cast<HICON>(
                LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_TRAY_SESSION),
                           IMAGE_ICON, 16, 16, LR_SHARED | LR_VGACOLOR));
            if (!WaitUntil([&] { return tvltest::TrayIconShows(hIcon, hSessionIcon); }, 5000))
                fprintf(stderr, "tvlshots: the entry does not show the icon of a session\n");
            RECT rc;
            GetWindowRect(hIcon, &rc);
            SetCursorPos(rc.left + 4, rc.top + 4);
            Sleep(100);
            SetCursorPos((rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2);
            WaitUntil(
                [&] {
                    hTip = FindWindowA("tooltips_class32", nullptr);
                    while (hTip != nullptr && !IsWindowVisible(hTip))
                        hTip = FindWindowExA(nullptr, hTip, "tooltips_class32", nullptr);
                    return hTip != nullptr;
                },
                5000);
            Sleep(300);
            RECT rcTray, rcTip;
            GetWindowRect(hTray, &rcTray);
            if (hTip != nullptr && GetWindowRect(hTip, &rcTip))
                UnionRect(&rcTray, &rcTray, &rcTip);
            InflateRect(&rcTray, 6, 6);
            RECT rcScreen = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
            IntersectRect(&rcTray, &rcTray, &rcScreen);
            bSaved = SaveRectShot(rcTray, strPath.c_str());
            if (hTip == nullptr)
                fprintf(stderr, "tvlshots: no tip showed over the icon\n");
        }
    } catch (CTarvoselException* e) {
        fprintf(stderr, "tvlshots: %s\n", e->GetDescription().c_str());
        delete e;
    }
    return bSaved;
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
    g_strOutDir = strOut;
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
        {"profile-login", ShowProfileLogin, Settle},
        {"login-sheet-profile", ShowLoginSheetProfile, Settle},
        {"session-info-wincrypt", ShowSessionInfoWincrypt, SelectRows},
        {"session-info-profile", ShowSessionInfoProfile, SelectRows},
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
    bool bTray = wanted.empty();
    for (const std::string& str : wanted)
        bTray |= str == "tray-icon";
    if (bTray) {
        std::string strPath = strOut + "\\tray-icon.bmp";
        bool bSaved = ShootTrayIcon(strPath);
        printf("%-24s %s\n", "tray-icon", bSaved ? strPath.c_str() : "FAILED");
        if (!bSaved)
            ++nFailed;
    }
    return nFailed == 0 ? 0 : 1;
}
