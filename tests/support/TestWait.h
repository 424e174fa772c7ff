#pragma once
#include <windows.h>

#include <functional>

namespace tvltest {

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

}  // namespace tvltest
