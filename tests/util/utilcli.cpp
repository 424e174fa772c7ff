// Command-line driver of the CUtil file functions, for the interop test and the
// benchmark: utilcli (zip|unzip|b64enc|b64dec SRC DST)...
// Prints one line per operation and the process's peak working set to stderr.
#include <windows.h>
#include <psapi.h>

#include <stdio.h>
#include <string.h>

#include <string>

#include "api/CTarvoselException.h"
#include "util/CUtil.h"

int main(int argc, char** argv)
{
    if (argc < 4 || (argc - 1) % 3 != 0) {
        fprintf(stderr, "usage: utilcli (zip|unzip|b64enc|b64dec SRC DST)...\n");
        return 2;
    }
    for (int i = 1; i + 2 < argc; i += 3) {
        const char* pszOp = argv[i];
        void (*pfn)(const char*, const char*) = NULL;
        if (!strcmp(pszOp, "zip"))
            pfn = CUtil::ZipFile;
        else if (!strcmp(pszOp, "unzip"))
            pfn = CUtil::UnzipFile;
        else if (!strcmp(pszOp, "b64enc"))
            pfn = CUtil::Base64EncodeFile;
        else if (!strcmp(pszOp, "b64dec"))
            pfn = CUtil::Base64DecodeFile;
        if (!pfn) {
            fprintf(stderr, "unknown operation %s\n", pszOp);
            return 2;
        }
        LARGE_INTEGER freq, t0, t1;
        QueryPerformanceFrequency(&freq);
        QueryPerformanceCounter(&t0);
        try {
            pfn(argv[i + 1], argv[i + 2]);
        } catch (CTarvoselException* e) {
            fprintf(stderr, "%s %s: %s\n", pszOp, argv[i + 1], e->GetDescription().c_str());
            delete e;
            return 1;
        }
        QueryPerformanceCounter(&t1);
        fprintf(stderr, "op=%s ms=%.1f\n", pszOp,
                (double)(t1.QuadPart - t0.QuadPart) * 1000.0 / (double)freq.QuadPart);
    }
    PROCESS_MEMORY_COUNTERS pmc = {};
    pmc.cb = sizeof(pmc);
    if (GetProcessMemoryInfo(GetCurrentProcess(), &pmc, sizeof(pmc)))
        fprintf(stderr, "peak_working_set_kb=%lu\n", (unsigned long)(pmc.PeakWorkingSetSize / 1024));
    return 0;
}
