// Runs Initialize/Finalize cycles and prints thread and handle counts before
// and after, so that a leak of either shows.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

#include "smartcard/CCardManager.h"
#include "tests/app/AppTestSupport.h"
#include "tests/support/ProcessCounts.h"
#include "tests/support/TestCapture.h"

int main(int argc, char** argv)
{
    int nCycles = argc > 1 ? atoi(argv[1]) : 200;
    apptest::WriteIni("Log=1\r\n");
    auto counts = [](const char* pszWhen) {
        tvltest::ProcessCounts c = tvltest::TakeProcessCounts();
        printf("%-6s threads=%d handles=%d next-handle=0x%lx private-kb=%lu heap-bytes=%lu\n",
               pszWhen, c.nThreads, c.nHandles, c.nNextHandle, c.nPrivateKb, c.nHeapBytes);
        printf("       by kind: %s\n", c.HandleText().c_str());
        fflush(stdout);
    };
    // One cycle first so that one-time loads (DLLs, the CRT) are not counted.
    GetTarvoselApp().Initialize(0);
    // Readers seen: beside the winscard bridge the card monitor runs in every cycle.
    printf("readers=%d\n", CCardManager::GetReaderCount());
    GetTarvoselApp().Finalize();
    counts("start");
    DWORD dwStart = GetTickCount();
    int nFailures = 0;
    for (int i = 0; i < nCycles; ++i) {
        nFailures += tvltest::ResultOf([] { GetTarvoselApp().Initialize(0); }) != 0;
        nFailures += tvltest::ResultOf([] { GetTarvoselApp().Finalize(); }) != 0;
    }
    DWORD dwElapsed = GetTickCount() - dwStart;
    counts("end");
    printf("cycles=%d failures=%d total-ms=%lu per-cycle-ms=%.2f\n", nCycles, nFailures,
           dwElapsed, nCycles ? double(dwElapsed) / nCycles : 0.0);
    DeleteFileA(apptest::IniPath().c_str());
    return nFailures == 0 ? 0 : 1;
}
