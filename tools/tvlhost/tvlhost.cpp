// tvlhost: a small command-line host for tarvosel.dll. It loads the library the
// way a real host does (LoadLibrary, exports found by the names of its width),
// declared from the public header alone
// and runs the commands given on its command line in order, in one process:
//
//   tvlhost [--show-log] [--times] [--dll PATH] [--unattended TEXT [--shot FILE]]
//           COMMAND [ARGS] [COMMAND [ARGS]] ...
//
// --times: after each sign and check, a line "  op-ms=N" with the export's own
// time (measured around the call, in this process), and at the end a line
// "peak-kb=N" with the process's peak working set.
//
// --unattended TEXT: nobody sits at the keyboard; a thread of the host works
// the login sheet: it picks the first row whose label contains TEXT and
// presses "Aceptar", printing what it did (--shot saves a BMP picture of the
// sheet just before). Without it the sheet waits for a person.
//
//   log PATH                 AsignarRutaLog
//   init [FLAGS]             Inicializar (flags default 0)
//   fin                      Finalizar
//   temp DIR                 AsignarDirectorioTemp
//   login | logout | validated | info
//   sign SRC DST [--base64] [--gzip]     FirmarFichero
//   check SRC DST [--base64] [--gzip]    ComprobarFirmaFichero
//   export [POLICY]          ExportarCertificado
//   ssl [POLICY]             ObtenerHandleSSL
//   lasterror                ObtenerUltimoError
//   error CODE               DescripcionError
//   infodialog               opens the session information dialog as a click on
//                            the library's icon does (init 1, "ModoInterfaz" 1)
//   unload                   FreeLibrary (no library command may follow); says
//                            how many dialogs are left on the host's thread
//   broadcast                sends a message to every top-level window, as
//                            other programs do; a window left behind by the
//                            unloaded library would take this process down
//
// Every call prints its result code and the code's Spanish message (obtained
// through DescripcionError, cp1252). The exit code is 0 when every call that
// returns a result code returned a non-negative one.
#include <windows.h>
#include <oleauto.h>
#include <psapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <memory>
#include <string>
#include <vector>

#include "CUnattendedLogin.h"
#include "api/tarvosel.h"
#include "tools/shared/WindowDriving.h"

namespace {
struct Library {
    HMODULE hModule = nullptr;
    PFN_TVL_INT Inicializar = nullptr;
    PFN_TVL_VOID Finalizar = nullptr;
    PFN_TVL_LOGINDATA Login = nullptr;
    PFN_TVL_VOID Logout = nullptr;
    PFN_TVL_VOID UsuarioValidado = nullptr;
    PFN_TVL_LOGINDATA InfoSesion = nullptr;
    PFN_TVL_FILES FirmarFichero = nullptr;
    PFN_TVL_FILES ComprobarFirmaFichero = nullptr;
    PFN_TVL_EXPORT ExportarCertificado = nullptr;
    PFN_TVL_SSL ObtenerHandleSSL = nullptr;
    PFN_TVL_VOID ObtenerUltimoError = nullptr;
    PFN_TVL_DESCRIPTION DescripcionError = nullptr;
    PFN_TVL_TEXT AsignarRutaLog = nullptr;
    PFN_TVL_TEXT AsignarDirectorioTemp = nullptr;
};

template <typename T>
bool Find(HMODULE h, const char* pszName, T& pfn)
{
    pfn = reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(h, pszName)));
    if (pfn == nullptr)
        fprintf(stderr, "tvlhost: export %s not found\n", pszName);
    return pfn != nullptr;
}

bool LoadTarvosel(const char* pszPath, Library& lib)
{
    lib.hModule = LoadLibraryA(pszPath);
    if (lib.hModule == nullptr) {
        fprintf(stderr, "tvlhost: cannot load %s (error %lu)\n", pszPath, GetLastError());
        return false;
    }
    HMODULE h = lib.hModule;
    bool ok = true;
    ok &= Find(h, TVL_EXPORT_NAME(Inicializar, 4), lib.Inicializar);
    ok &= Find(h, TVL_EXPORT_NAME(Finalizar, 0), lib.Finalizar);
    ok &= Find(h, TVL_EXPORT_NAME(Login, 4), lib.Login);
    ok &= Find(h, TVL_EXPORT_NAME(Logout, 0), lib.Logout);
    ok &= Find(h, TVL_EXPORT_NAME(UsuarioValidado, 0), lib.UsuarioValidado);
    ok &= Find(h, TVL_EXPORT_NAME(InfoSesion, 4), lib.InfoSesion);
    ok &= Find(h, TVL_EXPORT_NAME(FirmarFichero, 16), lib.FirmarFichero);
    ok &= Find(h, TVL_EXPORT_NAME(ComprobarFirmaFichero, 16), lib.ComprobarFirmaFichero);
    ok &= Find(h, TVL_EXPORT_NAME(ExportarCertificado, 12), lib.ExportarCertificado);
    ok &= Find(h, TVL_EXPORT_NAME(ObtenerHandleSSL, 4), lib.ObtenerHandleSSL);
    ok &= Find(h, TVL_EXPORT_NAME(ObtenerUltimoError, 0), lib.ObtenerUltimoError);
    ok &= Find(h, TVL_EXPORT_NAME(DescripcionError, 4), lib.DescripcionError);
    ok &= Find(h, TVL_EXPORT_NAME(AsignarRutaLog, 4), lib.AsignarRutaLog);
    ok &= Find(h, TVL_EXPORT_NAME(AsignarDirectorioTemp, 4), lib.AsignarDirectorioTemp);
    return ok;
}

std::string Describe(const Library& lib, int nCode)
{
    BSTR b = lib.DescripcionError(nCode);
    if (b == nullptr)
        return std::string();
    // The library packs its cp1252 bytes two to a 16-bit unit.
    std::string s(reinterpret_cast<const char*>(b), SysStringByteLen(b));
    SysFreeString(b);
    return s;
}

bool g_bAllOk = true;
int g_nLastError = 0;

// Reads the last error right after each export, before DescripcionError (which
// clears it) is used to print the message.
// pszWhat names an answer that is not a result code (the library has no text for it).
// nCode is a result code, or the SSL handle (pointer-sized) with pszWhat.
void Report(const Library& lib, const char* pszExport, INT_PTR nCode, bool bIsCode = true,
            const char* pszWhat = nullptr)
{
    if (bIsCode)
        g_nLastError = lib.ObtenerUltimoError();
    printf("%s -> %s (%s)\n", pszExport, std::to_string(nCode).c_str(),
           pszWhat != nullptr ? pszWhat : Describe(lib, static_cast<int>(nCode)).c_str());
    fflush(stdout);
    if (bIsCode && nCode < 0)
        g_bAllOk = false;
}

struct LoginBuffers {
    std::vector<char> issuer = std::vector<char>(5000), ini = std::vector<char>(5000),
                      name = std::vector<char>(5000), nif = std::vector<char>(5000),
                      detail = std::vector<char>(5000);
    CS_LOGINDATA data;
    LoginBuffers()
    {
        data.nType = -1;
        data.pszIssuer = issuer.data();
        data.pszIniFile = ini.data();
        data.pszName = name.data();
        data.pszNIF = nif.data();
        data.pszDetail = detail.data();
        data.bOnline = 0;
    }
    void Print() const
    {
        printf("  nType=%d NIF='%s' Nombre='%s' Emisor='%s' Detalle='%s' Ini='%s' Online=%d\n",
               data.nType, data.pszNIF, data.pszName, data.pszIssuer, data.pszDetail,
               data.pszIniFile, data.bOnline);
    }
};

// The session information dialog, opened as a click on the library's icon
// opens it: the library's notification-area window gets the button's release.
bool OpenInfoDialog()
{
    const char kCaption[] = "Informaci\xF3n del usuario";
    HWND hTray = FindWindowA("TarvoselTrayWnd", nullptr);
    if (hTray == nullptr)
        return false;
    PostMessageA(hTray, WM_LBUTTONUP, 0, 0);
    DWORD dwThread = GetWindowThreadProcessId(hTray, nullptr);
    return tvldrive::WaitUntil(
        [&] {
            for (HWND h : tvldrive::ThreadWindows(dwThread)) {
                if (tvldrive::TextOf(h) == kCaption && IsWindowVisible(h))
                    return true;
            }
            return false;
        },
        5000);
}

void PrintFile(const char* pszPath)
{
    FILE* f = fopen(pszPath, "rb");
    if (f == nullptr) {
        printf("(no log file at %s)\n", pszPath);
        return;
    }
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), f)) > 0)
        fwrite(buf, 1, n, stdout);
    fclose(f);
}

void Usage()
{
    fprintf(
        stderr,
        "usage: tvlhost [--show-log] [--times] [--dll PATH] [--unattended TEXT [--shot FILE]]\n"
        "               COMMAND [ARGS] ...\n"
        "commands: log PATH | init [FLAGS] | fin | temp DIR | login | logout | validated |\n"
        "          info | sign SRC DST [--base64] [--gzip] | check SRC DST [--base64] [--gzip] |\n"
        "          export [POLICY] | ssl [POLICY] | lasterror | error CODE | infodialog |\n"
        "          unload | broadcast\n");
}
}  // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    bool bShowLog = false, bTimes = false;
    std::string strDll = "tarvosel.dll";
    std::string strUnattended, strShot;
    bool bUnattended = false;
    std::vector<std::string> cmds;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--show-log") {
            bShowLog = true;
        } else if (args[i] == "--times") {
            bTimes = true;
        } else if (args[i] == "--dll" && i + 1 < args.size()) {
            strDll = args[++i];
        } else if (args[i] == "--unattended" && i + 1 < args.size()) {
            bUnattended = true;
            strUnattended = args[++i];
        } else if (args[i] == "--shot" && i + 1 < args.size()) {
            strShot = args[++i];
        } else {
            cmds.push_back(args[i]);
        }
    }
    if (cmds.empty()) {
        Usage();
        return 2;
    }
    if (strDll.find_first_of("\\/") == std::string::npos) {
        // Beside this executable, as a host ships it.
        char szSelf[MAX_PATH];
        DWORD n = GetModuleFileNameA(nullptr, szSelf, MAX_PATH);
        std::string strSelf(szSelf, n);
        strDll = strSelf.substr(0, strSelf.find_last_of("\\/") + 1) + strDll;
    }
    Library lib;
    if (!LoadTarvosel(strDll.c_str(), lib))
        return 3;
    std::unique_ptr<CUnattendedLogin> pUnattended;
    if (bUnattended)
        pUnattended.reset(new CUnattendedLogin(GetCurrentThreadId(), strUnattended, strShot));

    std::string strLogPath;
    size_t i = 0;
    auto next = [&](const char* pszWhat) -> const char* {
        if (i >= cmds.size()) {
            fprintf(stderr, "tvlhost: %s expected\n", pszWhat);
            exit(2);
        }
        return cmds[i++].c_str();
    };
    static const char* const kCommands[] = {"log",    "init",      "fin",       "temp", "login",
                                            "logout", "validated", "info",      "sign", "check",
                                            "export", "ssl",       "lasterror", "error",
                                            "infodialog", "unload", "broadcast"};
    auto isCommand = [](const std::string& s) {
        for (const char* psz : kCommands) {
            if (s == psz)
                return true;
        }
        return false;
    };
    // An optional argument is any next word that is neither a flag nor a command.
    auto optional = [&]() -> const char* {
        if (i < cmds.size() && cmds[i].compare(0, 2, "--") != 0 && !isCommand(cmds[i]))
            return cmds[i++].c_str();
        return nullptr;
    };
    auto flags = [&](int& bBase64, int& bGzip) {
        bBase64 = bGzip = 0;
        while (i < cmds.size() && cmds[i].compare(0, 2, "--") == 0) {
            if (cmds[i] == "--base64")
                bBase64 = 1;
            else if (cmds[i] == "--gzip")
                bGzip = 1;
            else
                break;
            ++i;
        }
    };

    bool bUnloaded = false;
    while (i < cmds.size()) {
        std::string cmd = cmds[i++];
        if (bUnloaded && cmd != "broadcast") {
            fprintf(stderr, "tvlhost: '%s' after unload\n", cmd.c_str());
            return 2;
        }
        if (cmd == "infodialog") {
            bool bShown = OpenInfoDialog();
            printf("InfoDialog -> %s\n", bShown ? "shown" : "none");
            fflush(stdout);
            g_bAllOk &= bShown;
        } else if (cmd == "unload") {
            pUnattended.reset();
            FreeLibrary(lib.hModule);
            bUnloaded = true;
            // A dialog left on this thread now has no code behind it.
            int nDialogs = 0;
            for (HWND h : tvldrive::ThreadWindows(GetCurrentThreadId()))
                nDialogs += tvldrive::ClassOf(h) == "#32770";
            printf("FreeLibrary -> %s, %d dialogs left on this thread\n",
                   GetModuleHandleA("tarvosel.dll") == nullptr ? "unloaded" : "still loaded",
                   nDialogs);
            fflush(stdout);
        } else if (cmd == "broadcast") {
            DWORD_PTR dwResult = 0;
            SendMessageTimeoutA(HWND_BROADCAST, RegisterWindowMessageA("tvlhost-broadcast"), 0, 0,
                                SMTO_ABORTIFHUNG, 2000, &dwResult);
            printf("broadcast -> delivered\n");
            fflush(stdout);
        } else if (cmd == "log") {
            strLogPath = next("PATH");
            Report(lib, "AsignarRutaLog", lib.AsignarRutaLog(strLogPath.c_str()));
        } else if (cmd == "init") {
            int nFlags = 0;
            if (i < cmds.size() && (isdigit(static_cast<unsigned char>(cmds[i][0]))))
                nFlags = atoi(next("FLAGS"));
            Report(lib, "Inicializar", lib.Inicializar(nFlags));
        } else if (cmd == "fin") {
            Report(lib, "Finalizar", lib.Finalizar());
        } else if (cmd == "temp") {
            Report(lib, "AsignarDirectorioTemp", lib.AsignarDirectorioTemp(next("DIR")));
        } else if (cmd == "login") {
            LoginBuffers b;
            Report(lib, "Login", lib.Login(&b.data));
            b.Print();
        } else if (cmd == "logout") {
            Report(lib, "Logout", lib.Logout());
        } else if (cmd == "validated") {
            Report(lib, "UsuarioValidado", lib.UsuarioValidado());
        } else if (cmd == "info") {
            LoginBuffers b;
            Report(lib, "InfoSesion", lib.InfoSesion(&b.data));
            b.Print();
        } else if (cmd == "sign" || cmd == "check") {
            std::string src = next("SRC"), dst = next("DST");
            int bBase64, bGzip;
            flags(bBase64, bGzip);
            LARGE_INTEGER liFreq, liStart, liEnd;
            QueryPerformanceFrequency(&liFreq);
            QueryPerformanceCounter(&liStart);
            int nCode = cmd == "sign"
                            ? lib.FirmarFichero(src.c_str(), dst.c_str(), bBase64, bGzip)
                            : lib.ComprobarFirmaFichero(src.c_str(), dst.c_str(), bBase64, bGzip);
            QueryPerformanceCounter(&liEnd);
            Report(lib, cmd == "sign" ? "FirmarFichero" : "ComprobarFirmaFichero", nCode);
            if (bTimes)
                printf("  op-ms=%.1f\n",
                       1000.0 * static_cast<double>(liEnd.QuadPart - liStart.QuadPart) /
                           static_cast<double>(liFreq.QuadPart));
        } else if (cmd == "export") {
            const char* pszPolicy = optional();
            std::vector<char> path(5000), password(5000);
            Report(lib, "ExportarCertificado",
                   lib.ExportarCertificado(pszPolicy, path.data(), password.data()));
            printf("  fichero='%s' clave='%s'\n", path.data(), password.data());
        } else if (cmd == "ssl") {
            const char* pszPolicy = optional();
            INT_PTR nHandle = lib.ObtenerHandleSSL(pszPolicy);
            // A positive answer is the certificate handle, not a result code.
            Report(lib, "ObtenerHandleSSL", nHandle, true, nHandle > 0 ? "handle" : nullptr);
        } else if (cmd == "lasterror") {
            Report(lib, "ObtenerUltimoError", g_nLastError, false);
        } else if (cmd == "error") {
            int nCode = atoi(next("CODE"));
            std::string s = Describe(lib, nCode);
            printf("DescripcionError(%d) -> %s\n", nCode, s.c_str());
        } else {
            fprintf(stderr, "tvlhost: unknown command '%s'\n", cmd.c_str());
            Usage();
            return 2;
        }
    }
    pUnattended.reset();
    if (bTimes) {
        PROCESS_MEMORY_COUNTERS pmc = {};
        pmc.cb = sizeof(pmc);
        GetProcessMemoryInfo(GetCurrentProcess(), &pmc, sizeof(pmc));
        printf("peak-kb=%lu\n", static_cast<unsigned long>(pmc.PeakWorkingSetSize / 1024));
    }
    if (bShowLog && !strLogPath.empty()) {
        printf("---- log %s ----\n", strLogPath.c_str());
        PrintFile(strLogPath.c_str());
    }
    if (!bUnloaded)
        FreeLibrary(lib.hModule);
    return g_bAllOk ? 0 : 1;
}
