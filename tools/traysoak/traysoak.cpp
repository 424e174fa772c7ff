// traysoak: loads tarvosel.dll the way a host does and runs cycles of
// Inicializar(1), Login (the real login sheet, worked by a thread of ours),
// a click on the notification-area icon that opens the session information
// dialog, Logout and Finalizar. Prints what the process holds before and after
// (threads, handles by kind, windows, GDI objects, cursors and icons, entries
// of the notification area): a cycle must leave nothing behind.
//
//   traysoak DLL ROWTEXT CONTAINER [CYCLES [noclick]]
//     (default 200 cycles; tarvosel.ini beside it; CONTAINER: the key container
//     of the certificate the login picks)
// "noclick" leaves the icon alone, to tell the dialog's share from the login's.
#include <windows.h>
#include <wincrypt.h>
#include <winternl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <set>
#include <string>

#include "api/Exports.h"
#include "tests/support/GuiCounts.h"
#include "tests/support/ProcessCounts.h"
#include "tools/shared/WindowDriving.h"
#include "tools/tvlhost/CUnattendedLogin.h"

using namespace tvldrive;

namespace {
typedef int(__stdcall* PFN_INIT)(int);
typedef int(__stdcall* PFN_VOID)();
typedef int(__stdcall* PFN_LOGIN)(CS_LOGINDATA*);

const char kInfoCaption[] = "Informaci\xF3n del usuario";
const UINT kTrayNotify = 1524;  // the entry's callback message
const UINT kIconId = 100;
const int kWarmUp = 10;

void PrintCounts(const char* pszWhen, const tvltest::ProcessCounts& p, const tvltest::GuiCounts& g)
{
    printf("%-6s threads=%d handles=%d windows=%d tray-entries=%d gdi=%d cursors-icons=%d\n",
           pszWhen, p.nThreads, p.nHandles, g.nWindows, g.nTrayEntries, g.nGdi,
           g.nCursorsAndIcons);
    printf("       handles by kind: %s\n", p.HandleText().c_str());
    printf("       gdi by kind: %s\n", g.GdiText().c_str());
    fflush(stdout);
}

// Registry keys that name a key container of Wine's RSA provider: Wine keeps
// one open for every CryptAcquireContext/CryptReleaseContext pair on a
// container (the soak shows it with a bare pair first), so a login leaves
// one whatever the library does. Counted apart from the library's handles.
int CountContainerKeys()
{
    typedef NTSTATUS(NTAPI * PFN_QUERY)(HANDLE, int, PVOID, ULONG, PULONG);
    PFN_QUERY pfnQuery = reinterpret_cast<PFN_QUERY>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryObject")));
    int nKeys = 0;
    for (ULONG_PTR v = 4; v < 0x10000 && pfnQuery != nullptr; v += 4) {
        HANDLE h = reinterpret_cast<HANDLE>(v);
        DWORD dwFlags = 0;
        if (!GetHandleInformation(h, &dwFlags))
            continue;
        union {
            UNICODE_STRING name;  // ObjectNameInformation
            BYTE raw[2048];
        } buf;
        ULONG cb = 0;
        if (pfnQuery(h, 1, &buf, sizeof(buf), &cb) < 0 || buf.name.Buffer == nullptr)
            continue;
        std::wstring strName(buf.name.Buffer, buf.name.Length / sizeof(WCHAR));
        if (strName.find(L"\\Software\\Wine\\Crypto\\RSA\\") != std::wstring::npos)
            ++nKeys;
    }
    return nKeys;
}

// A bare acquire and release of the login certificate's container: what Wine
// keeps of one pair.
int ContainerKeysPerPair(const char* pszContainer)
{
    int nBefore = CountContainerKeys();
    HCRYPTPROV hProv = 0;
    if (!CryptAcquireContextA(&hProv, pszContainer, nullptr, PROV_RSA_FULL, 0))
        return -1;
    CryptReleaseContext(hProv, 0);
    return CountContainerKeys() - nBefore;
}

// The notification-area window of the library, on any thread of this process.
HWND TrayWindow()
{
    return FindWindowA("TarvoselTrayWnd", "Tarvosel Wnd");
}

HWND InfoDialog()
{
    HWND h = FindWindowA("#32770", kInfoCaption);
    DWORD dwProcess = 0;
    if (h != nullptr)
        GetWindowThreadProcessId(h, &dwProcess);
    return dwProcess == GetCurrentProcessId() && IsWindowVisible(h) ? h : nullptr;
}
}  // namespace

int main(int argc, char** argv)
{
    if (argc < 4) {
        fprintf(stderr, "usage: traysoak DLL ROWTEXT CONTAINER [CYCLES [noclick]]\n");
        return 2;
    }
    int nCycles = argc > 4 ? atoi(argv[4]) : 200;
    bool bClick = !(argc > 5 && strcmp(argv[5], "noclick") == 0);
    int nPerPair = ContainerKeysPerPair(argv[3]);
    printf("Wine's RSA provider keeps %d registry key(s) of a container per acquire/release pair\n",
           nPerPair);
    HMODULE hLib = LoadLibraryA(argv[1]);
    if (hLib == nullptr) {
        fprintf(stderr, "traysoak: cannot load %s (error %lu)\n", argv[1], GetLastError());
        return 1;
    }
    auto find = [&](const char* pszName) {
        FARPROC p = GetProcAddress(hLib, pszName);
        if (p == nullptr)
            fprintf(stderr, "traysoak: export %s not found\n", pszName);
        return reinterpret_cast<void*>(p);
    };
    PFN_INIT Inicializar = reinterpret_cast<PFN_INIT>(find(TVL_EXPORT_NAME(Inicializar, 4)));
    PFN_VOID Finalizar = reinterpret_cast<PFN_VOID>(find(TVL_EXPORT_NAME(Finalizar, 0)));
    PFN_LOGIN Login = reinterpret_cast<PFN_LOGIN>(find(TVL_EXPORT_NAME(Login, 4)));
    PFN_VOID Logout = reinterpret_cast<PFN_VOID>(find(TVL_EXPORT_NAME(Logout, 0)));
    if (!Inicializar || !Finalizar || !Login || !Logout)
        return 1;

    char szIssuer[5000], szIni[5000], szName[5000], szNIF[5000], szDetail[5000];
    CS_LOGINDATA data;
    // One cycle's work: the counts exclude what its first run loads once.
    int nFailures = 0, nDialogs = 0;
    std::string strFirstFailure;
    auto fail = [&](int nCycle, const std::string& strWhat) {
        if (nFailures++ == 0)
            strFirstFailure = "cycle " + std::to_string(nCycle) + ": " + strWhat;
    };
    auto cycle = [&](int nCycle) {
        int nCode = Inicializar(1);
        if (nCode != 0)
            return fail(nCycle, "Inicializar -> " + std::to_string(nCode));
        data = {-1, szIssuer, szIni, szName, szNIF, szDetail, 0};
        szName[0] = 0;
        nCode = Login(&data);
        if (nCode != 1)
            fail(nCycle, "Login -> " + std::to_string(nCode));
        // A click on the icon, as the shell reports it: the dialog opens.
        HWND hTray = TrayWindow();
        if (hTray == nullptr) {
            fail(nCycle, "no notification-area window");
        } else if (nCode == 1 && bClick) {
            PostMessageA(hTray, kTrayNotify, kIconId, WM_LBUTTONUP);
            if (WaitUntil([] { return InfoDialog() != nullptr; }, 10000))
                ++nDialogs;
            else
                fail(nCycle, "no session information dialog");
        }
        if ((nCode = Logout()) != 0)
            fail(nCycle, "Logout -> " + std::to_string(nCode));
        if ((nCode = Finalizar()) != 0)
            fail(nCycle, "Finalizar -> " + std::to_string(nCode));
        if (TrayWindow() != nullptr || InfoDialog() != nullptr)
            fail(nCycle, "a window of the library is left after Finalizar");
    };

    int nStartFailures;
    {
        CUnattendedLogin login(GetCurrentThreadId(), argv[2], std::string());
        // The first cycles fill what Wine keeps once made (cached device
        // contexts and their regions, the common controls' brushes and pens):
        // counted apart.
        tvltest::ProcessCounts pw = tvltest::TakeProcessCounts();
        tvltest::GuiCounts gw = tvltest::TakeGuiCounts();
        for (int i = 0; i < kWarmUp; ++i)
            cycle(-i);
        nStartFailures = nFailures;
        tvltest::ProcessCounts p0 = tvltest::TakeProcessCounts();
        tvltest::GuiCounts g0 = tvltest::TakeGuiCounts();
        int nKeys0 = CountContainerKeys();
        printf("warm-up (%d cycles): handles %s; window system %s\n", kWarmUp,
               p0.DiffFrom(pw).c_str(), g0.DiffFrom(gw).c_str());
        PrintCounts("start", p0, g0);
        DWORD dwStart = GetTickCount();
        // Wine's cache of device contexts (a DC and its region each) grows
        // with the windows shown up to a bound, at its own pace: the second
        // half of the run must add none.
        tvltest::GuiCounts gHalf;
        for (int i = 1; i <= nCycles; ++i) {
            cycle(i);
            if (i == nCycles / 2)
                gHalf = tvltest::TakeGuiCounts();
        }
        DWORD dwElapsed = GetTickCount() - dwStart;
        tvltest::ProcessCounts p1 = tvltest::TakeProcessCounts();
        tvltest::GuiCounts g1 = tvltest::TakeGuiCounts();
        int nContainerKeys = CountContainerKeys() - nKeys0;
        PrintCounts("end", p1, g1);
        printf("left behind: handles %s; window system %s\n", p1.DiffFrom(p0).c_str(),
               g1.DiffFrom(g0).c_str());
        printf("cycles=%d dialogs=%d failures=%d total-ms=%lu per-cycle-ms=%.0f\n", nCycles,
               nDialogs, nFailures, dwElapsed, nCycles ? double(dwElapsed) / nCycles : 0.0);
        if (!strFirstFailure.empty())
            printf("first failure: %s\n", strFirstFailure.c_str());
        printf("second half: window system %s\n", g1.DiffFrom(gHalf).c_str());
        printf("of those, Wine's container keys: %d (%d per login)\n", nContainerKeys,
               nPerPair);
        bool bClean = p1.nThreads == p0.nThreads &&
                      p1.nHandles - nContainerKeys == p0.nHandles &&
                      nContainerKeys == nPerPair * nCycles &&
                      g1.nWindows == g0.nWindows && g1.nTrayEntries == g0.nTrayEntries &&
                      g1.nCursorsAndIcons == g0.nCursorsAndIcons &&
                      g1.gdi == gHalf.gdi && g1.gdi["Bitmap"] == g0.gdi["Bitmap"] &&
                      g1.gdi["Font"] == g0.gdi["Font"] && g1.gdi["Brush"] == g0.gdi["Brush"] &&
                      g1.gdi["Pen"] == g0.gdi["Pen"];
        printf("%s\n", bClean ? "nothing left behind" : "LEFT BEHIND");
        fflush(stdout);
        if (!bClean)
            nFailures += 1000;
    }
    (void)nStartFailures;
    FreeLibrary(hLib);
    return nFailures == 0 ? 0 : 1;
}
