// Figures for bench/smartcard_soak.sh: card event latency through the monitor,
// the process's CPU time while pcscd is stopped under a running monitor, the
// time the monitor needs to recover, and the time StopMonitor takes.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <string>
#include <vector>

#include "CCardEventSink.h"
#include "CVirtualCards.h"
#include "CardTestData.h"
#include "SmartCardTestSupport.h"
#include "api/CLog.h"
#include "api/CTarvoselException.h"
#include "host/Messages.h"
#include "smartcard/CAPIWinSCard.h"
#include "smartcard/CCardManager.h"

using tvltest::CountOf;
using tvltest::ReadAll;

namespace {

double CpuMs()
{
    FILETIME ftCreate, ftExit, ftKernel, ftUser;
    GetProcessTimes(GetCurrentProcess(), &ftCreate, &ftExit, &ftKernel, &ftUser);
    ULARGE_INTEGER k, u;
    k.LowPart = ftKernel.dwLowDateTime;
    k.HighPart = ftKernel.dwHighDateTime;
    u.LowPart = ftUser.dwLowDateTime;
    u.HighPart = ftUser.dwHighDateTime;
    return (k.QuadPart + u.QuadPart) / 10000.0;
}

double NowMs()
{
    static LARGE_INTEGER freq = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return t.QuadPart * 1000.0 / freq.QuadPart;
}

void Report(const char* pszWhat, std::vector<double> v)
{
    if (v.empty()) {
        printf("%-28s no events\n", pszWhat);
        return;
    }
    std::sort(v.begin(), v.end());
    double sum = 0;
    for (double d : v)
        sum += d;
    printf("%-28s n=%u min %.0f ms  median %.0f ms  max %.0f ms  mean %.0f ms\n", pszWhat,
           static_cast<unsigned>(v.size()), v.front(), v[v.size() / 2], v.back(),
           sum / v.size());
}

// Time from the controller's reply to the event's arrival, or -1.
double EventLatency(CCardEventSink& sink, double dtSent, WPARAM wParam)
{
    CardEvent e;
    while (sink.Next(&e, 5000)) {
        if (e.wParam == wParam && e.lParam == 0)
            return NowMs() - dtSent;
    }
    return -1;
}

// CPU time of a busy loop of the given wall time, to show what the
// process-time figures can resolve.
double CalibrateCpuMs(double dtWallMs)
{
    double cpu0 = CpuMs();
    volatile unsigned n = 0;
    for (double t0 = NowMs(); NowMs() - t0 < dtWallMs;)
        ++n;
    return CpuMs() - cpu0;
}

}  // namespace

int main(int argc, char** argv)
{
    int nRounds = argc > 1 ? atoi(argv[1]) : 5;
    DWORD dwDownMs = argc > 2 ? static_cast<DWORD>(atoi(argv[2])) * 1000 : 10000;
    setvbuf(stdout, nullptr, _IONBF, 0);

    CVirtualCards cards;
    if (!cards.Connect()) {
        fprintf(stderr, "virtual-card controller not reachable\n");
        return 2;
    }
    cards.Remove(0);
    cards.Remove(1);

    char szLog[MAX_PATH];
    GetTempPathA(MAX_PATH, szLog);
    std::string strLog = std::string(szLog) + "tvl_smartcard_soak.log";
    DeleteFileA(strLog.c_str());
    LogSetPath(strLog.c_str());
    LogSetEnabled(1);

    CCardEventSink sink;
    try {
        CAPIWinSCard::Load();
        CCardManager::Initialize();
        printf("readers: %d\n", CCardManager::GetReaderCount());
        if (CCardManager::GetReaderCount() == 0)
            return 3;
        Sleep(HOLD_MS);  // let the service see the slots empty
        CCardManager::StartMonitor(sink.ThreadId(), -1, WM_CARD_EVENT);
        sink.Drain();

        std::vector<double> inserts, removals;
        for (int i = 0; i < nRounds; ++i) {
            cards.Insert(0, ATR_BOTH_TYPES);
            double d = EventLatency(sink, NowMs(), 1);
            if (d >= 0)
                inserts.push_back(d);
            Sleep(HOLD_MS);
            cards.Remove(0);
            d = EventLatency(sink, NowMs(), 0);
            if (d >= 0)
                removals.push_back(d);
            Sleep(HOLD_MS);
        }
        Report("insertion -> WM_CARD_EVENT", inserts);
        Report("removal -> WM_CARD_EVENT", removals);

        printf("CPU of a 300 ms busy loop:    %.1f ms (resolution check)\n",
               CalibrateCpuMs(300));
        cards.Insert(0, ATR_BOTH_TYPES);
        EventLatency(sink, NowMs(), 1);
        double cpu0 = CpuMs();
        double t0 = NowMs();
        Sleep(dwDownMs);
        printf("CPU, service up, idle %.0f s:   %.1f ms\n", (NowMs() - t0) / 1000,
               CpuMs() - cpu0);

        double tStop = NowMs();
        if (!cards.StopService()) {
            fprintf(stderr, "could not stop pcscd\n");
            return 4;
        }
        printf("pcscd stop took %.0f ms\n", NowMs() - tStop);
        cpu0 = CpuMs();
        t0 = NowMs();
        Sleep(dwDownMs);
        double cpuDown = CpuMs() - cpu0;
        printf("CPU, service stopped %.0f s:    %.1f ms\n", (NowMs() - t0) / 1000, cpuDown);
        char szName[256], szProvider[256];
        double tFind = NowMs();
        int nFound = CCardManager::FindCardReader(szName, szProvider);
        printf("FindCardReader while down:   reader %d \"%s\" in %.1f ms\n", nFound, szName,
               NowMs() - tFind);

        double tStart = NowMs();
        cards.StartService();
        double tStarted = NowMs();
        printf("pcscd start took %.0f ms\n", tStarted - tStart);
        while (CountOf(ReadAll(strLog), "servicio disponible de nuevo") == 0 &&
               NowMs() - tStarted < 20000)
            Sleep(10);
        printf("monitor back after           %.0f ms (from pcscd ready)\n", NowMs() - tStarted);
        // Forget what the restart announced once the card is back for good.
        if (!ServiceSees(0, true, 10000))
            printf("card not back in the service\n");
        while (!CCardManager::IsCardPresent(0) && NowMs() - tStarted < 20000)
            Sleep(10);
        sink.Drain();
        Sleep(HOLD_MS);
        cards.Remove(0);
        double d = EventLatency(sink, NowMs(), 0);
        printf("removal after recovery:      %s%.0f ms\n", d < 0 ? "NO EVENT " : "", d);

        std::string strText = ReadAll(strLog);
        printf("log lines: error %d, recovered %d\n",
               CountOf(strText, "error del servicio"),
               CountOf(strText, "servicio disponible de nuevo"));

        double tStopMon = NowMs();
        CCardManager::StopMonitor();
        printf("StopMonitor:                 %.1f ms%s\n", NowMs() - tStopMon,
               CountOf(ReadAll(strLog), "Terminando el monitor") ? " (thread killed)" : "");
        CCardManager::Terminate();
        CAPIWinSCard::Unload();
    } catch (CTarvoselException* e) {
        fprintf(stderr, "failed: %s\n", e->GetDescription().c_str());
        delete e;
        cards.StartService();
        return 1;
    }
    cards.Remove(0);
    LogSetEnabled(0);
    DeleteFileA(strLog.c_str());
    return 0;
}
