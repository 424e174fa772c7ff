#pragma once
// The application tests' ini file beside the executable, and its thread count.
#include <windows.h>
#include <tlhelp32.h>

#include <string>

#include "app/CTarvoselApp.h"
#include "tests/support/TestFiles.h"

namespace apptest {

inline std::string IniPath()
{
    return tvltest::ExeFolder() + "tarvosel.ini";
}

inline void WriteIni(const std::string& strKeys)
{
    tvltest::WriteAll(IniPath(), "[Configuracion tarvosel]\r\n" + strKeys);
}

inline int CountThreads()
{
    HANDLE h = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (h == INVALID_HANDLE_VALUE)
        return -1;
    THREADENTRY32 te = {};
    te.dwSize = sizeof(te);
    int n = 0;
    for (BOOL ok = Thread32First(h, &te); ok; ok = Thread32Next(h, &te)) {
        if (te.th32OwnerProcessID == GetCurrentProcessId())
            ++n;
    }
    CloseHandle(h);
    return n;
}

}  // namespace apptest
