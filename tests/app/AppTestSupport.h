#pragma once
#include <windows.h>
#include <tlhelp32.h>

#include <functional>
#include <string>

#include "api/CTarvoselException.h"
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

// Result code of whatever the call throws, 0 when it does not throw.
inline int ResultOf(const std::function<void()>& fn)
{
    try {
        fn();
        return 0;
    } catch (CTarvoselException* e) {
        int n = e->GetResultCode();
        delete e;
        return n;
    }
}

// Waits, with a bound, until cond holds.
inline bool WaitFor(const std::function<bool()>& cond, DWORD dwMs = 5000)
{
    DWORD dwStart = GetTickCount();
    while (!cond()) {
        if (GetTickCount() - dwStart > dwMs)
            return false;
        Sleep(5);
    }
    return true;
}

}  // namespace apptest
