// A host that loads the library for every job: LoadLibrary, Inicializar,
// Finalizar, FreeLibrary, over and over in one process. Prints handles by
// kind, threads and committed private memory after the first cycle and after
// the last, so that whatever one cycle leaves behind shows, and fails when it
// grew.
//   loadsoak DLL [CYCLES] [FLAGS]       (defaults 1000 and 0)
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "api/tarvosel.h"
#include "tests/support/ProcessCounts.h"
#include "tests/support/TestFiles.h"

namespace {
typedef int(__stdcall* PFN_INT)(int);
typedef int(__stdcall* PFN_VOID)();
typedef int(__stdcall* PFN_TEXT)(const char*);

template <typename T>
T Export(HMODULE h, const char* pszName)
{
    return reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(h, pszName)));
}

// One job; false when something failed (printed).
bool Cycle(const std::string& strDll, int nFlags, const std::string& strLog)
{
    HMODULE hDll = LoadLibraryA(strDll.c_str());
    if (hDll == nullptr) {
        printf("LoadLibrary failed: %lu\n", GetLastError());
        return false;
    }
    auto pfnLog = Export<PFN_TEXT>(hDll, TVL_EXPORT_NAME(AsignarRutaLog, 4));
    auto pfnInit = Export<PFN_INT>(hDll, TVL_EXPORT_NAME(Inicializar, 4));
    auto pfnFin = Export<PFN_VOID>(hDll, TVL_EXPORT_NAME(Finalizar, 0));
    bool bOk = pfnLog != nullptr && pfnInit != nullptr && pfnFin != nullptr;
    if (bOk) {
        pfnLog(strLog.c_str());
        int nInit = pfnInit(nFlags);
        int nFin = pfnFin();
        if (nInit != 0 || nFin != 0) {
            printf("Inicializar=%d Finalizar=%d\n", nInit, nFin);
            bOk = false;
        }
    }
    FreeLibrary(hDll);
    if (GetModuleHandleA("tarvosel.dll") != nullptr) {
        printf("the library stayed loaded after FreeLibrary\n");
        bOk = false;
    }
    return bOk;
}

void Print(const char* pszWhen, const tvltest::ProcessCounts& c)
{
    printf(
        "%-6s threads=%d handles=%d next-handle=0x%lx next-tls=%lu private-kb=%lu heap-bytes=%lu\n",
        pszWhen, c.nThreads, c.nHandles, c.nNextHandle, c.nNextTls, c.nPrivateKb, c.nHeapBytes);
    printf("       by kind: %s\n", c.HandleText().c_str());
    fflush(stdout);
}
}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: loadsoak DLL [CYCLES] [FLAGS]\n");
        return 2;
    }
    std::string strDll = argv[1];
    int nCycles = argc > 2 ? atoi(argv[2]) : 1000;
    int nFlags = argc > 3 ? atoi(argv[3]) : 0;
    std::string strIni = tvltest::ExeFolder() + "tarvosel.ini";
    std::string strLog =
        tvltest::ExeFolder() + "loadsoak-" + std::to_string(GetCurrentProcessId()) + ".log";
    tvltest::WriteAll(strIni, "[Configuracion tarvosel]\r\nLog=1\r\n");

    tvltest::ProcessCounts first = tvltest::TakeProcessCounts();
    Print("fresh", first);
    int nFailures = Cycle(strDll, nFlags, strLog) ? 0 : 1;
    tvltest::ProcessCounts before = tvltest::TakeProcessCounts();
    Print("first", before);
    DWORD dwStart = GetTickCount();
    for (int i = 1; i < nCycles; ++i)
        nFailures += Cycle(strDll, nFlags, strLog) ? 0 : 1;
    DWORD dwElapsed = GetTickCount() - dwStart;
    tvltest::ProcessCounts after = tvltest::TakeProcessCounts();
    Print("last", after);
    long nPrivate = static_cast<long>(after.nPrivateKb) - static_cast<long>(before.nPrivateKb);
    printf("flags=%d cycles=%d failures=%d per-cycle-ms=%.2f\n", nFlags, nCycles, nFailures,
           nCycles > 1 ? double(dwElapsed) / (nCycles - 1) : 0.0);
    long nHeap = static_cast<long>(after.nHeapBytes) - static_cast<long>(before.nHeapBytes);
    printf(
        "growth after the first cycle: handles %s, TLS indexes %ld, threads %d, private %+ld KB, "
        "heap %+ld bytes (%+.1f bytes per cycle)\n",
        after.DiffFrom(before).c_str(),
        static_cast<long>(after.nNextTls) - static_cast<long>(before.nNextTls),
        after.nThreads - before.nThreads, nPrivate, nHeap,
        nCycles > 1 ? double(nHeap) / (nCycles - 1) : 0.0);
    DeleteFileA(strLog.c_str());
    DeleteFileA(strIni.c_str());
    // What a cycle may leave: nothing it owns. Wine's heap and its 64 KB
    // allocation granules move a little on their own; a leaked record, string or
    // page per cycle does not hide under these bounds after a hundred cycles.
    std::string strGrowth;
    if (after.DiffFrom(before) != "none")
        strGrowth += " handles";
    if (after.nNextTls != before.nNextTls)
        strGrowth += " TLS-indexes";
    if (after.nThreads != before.nThreads)
        strGrowth += " threads";
    if (nHeap > 1024 && nHeap > 8L * (nCycles - 1))
        strGrowth += " heap";
    if (nPrivate > 1024)
        strGrowth += " private-memory";
    if (!strGrowth.empty())
        printf("FAILED: the cycles left growth behind:%s\n", strGrowth.c_str());
    return nFailures == 0 && strGrowth.empty() ? 0 : 1;
}
