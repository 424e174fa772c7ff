#pragma once
#include <windows.h>

#include <string>
#include <vector>

// The key containers that PFX imports make (CHttpsCertSource) must go when the
// component closes; a process that crashes leaves them, with the user's key, on
// disk. Each is named after the process that made it,
// "tvlhttps-<process id>-<process start time>-<counter>" (hexadecimal), so that
// a later start-up can tell a container left behind from one of a component
// running in another process: a container is stale when no process with that
// id is running, or the one running started at another time (the id was
// reused). Names of an older form, "tvlhttps-<id>-<ticks>-<counter>", carry no
// start time: only a missing process makes them stale. Containers of other
// names are never touched.
class CKeyContainerSweeper {
public:
    // A fresh name for a container of this process.
    static std::wstring NewName();
    static std::wstring NameFor(DWORD dwProcessId, ULONGLONG ullStartTime, DWORD dwCounter);
    // The start time of a running process as names carry it; false when the
    // process cannot be asked.
    static bool StartTime(HANDLE hProcess, ULONGLONG& ullStartTime);

    // Whether a container name is one of ours whose process is gone.
    static bool IsStale(const std::wstring& strName);
    // Deletes every stale container of ours in the user's key sets; returns how many.
    static int Sweep();

private:
    // The user's container names of the RSA provider; false when they cannot be listed.
    static bool ListContainers(std::vector<std::string>& names);
};
