#pragma once
// What a process holds: handles by kind, threads and committed private memory.
// Used by the soak drivers and by the tests that look for leaks. Wine reports
// no handle count, so the handles are found by trying every handle value and
// asking each for its kind.
#include <windows.h>
#include <tlhelp32.h>
#include <winternl.h>

#include <map>
#include <string>

namespace tvltest {

struct ProcessCounts {
    std::map<std::string, int> handles;  // by kind ("Event", "Thread", ...)
    int nHandles = 0;
    int nThreads = 0;
    unsigned long nPrivateKb = 0;   // committed private pages
    unsigned long nNextHandle = 0;  // value of a fresh handle: the lowest free slot
    unsigned long nHeapBytes = 0;   // busy blocks of the process's heaps
    unsigned long nNextTls = 0;     // a fresh TLS index: the lowest free one

    // "Event=3 Thread=1 ..." for the kinds whose count differs from other's.
    std::string DiffFrom(const ProcessCounts& other) const
    {
        std::map<std::string, int> all = handles;
        for (const auto& kv : other.handles)
            all.emplace(kv.first, 0);
        std::string s;
        for (const auto& kv : all) {
            auto it = other.handles.find(kv.first);
            int nOther = it == other.handles.end() ? 0 : it->second;
            int nThis = kv.second;
            if (nThis != nOther)
                s += (s.empty() ? "" : " ") + kv.first + "=" + std::to_string(nThis - nOther);
        }
        return s.empty() ? "none" : s;
    }

    std::string HandleText() const
    {
        std::string s;
        for (const auto& kv : handles)
            s += (s.empty() ? "" : " ") + kv.first + "=" + std::to_string(kv.second);
        return s;
    }
};

inline int CountProcessThreads()
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

// The thread count once it is nExpected, or after a while what it is then (a
// thread that ended may still be counted for a moment).
inline int SettledThreads(int nExpected)
{
    int n = CountProcessThreads();
    for (int i = 0; i < 100 && n != nExpected; ++i) {
        Sleep(10);
        n = CountProcessThreads();
    }
    return n;
}

inline unsigned long CountPrivateKb()
{
    unsigned long long nBytes = 0;
    MEMORY_BASIC_INFORMATION mbi;
    for (const BYTE* p = nullptr; VirtualQuery(p, &mbi, sizeof(mbi)) == sizeof(mbi);) {
        if (mbi.State == MEM_COMMIT && mbi.Type == MEM_PRIVATE)
            nBytes += mbi.RegionSize;
        const BYTE* pNext = static_cast<const BYTE*>(mbi.BaseAddress) + mbi.RegionSize;
        if (pNext <= p)
            break;
        p = pNext;
    }
    return static_cast<unsigned long>(nBytes / 1024);
}

inline unsigned long CountHeapBytes()
{
    HANDLE heaps[256];
    DWORD n = GetProcessHeaps(256, heaps);
    unsigned long long nBytes = 0;
    for (DWORD i = 0; i < n && i < 256; ++i) {
        if (!HeapLock(heaps[i]))
            continue;
        PROCESS_HEAP_ENTRY entry = {};
        while (HeapWalk(heaps[i], &entry)) {
            if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY)
                nBytes += entry.cbData;
        }
        HeapUnlock(heaps[i]);
    }
    return static_cast<unsigned long>(nBytes);
}

inline ProcessCounts TakeProcessCounts()
{
    typedef NTSTATUS(NTAPI * PFN_QUERY)(HANDLE, OBJECT_INFORMATION_CLASS, PVOID, ULONG, PULONG);
    PFN_QUERY pfnQuery = reinterpret_cast<PFN_QUERY>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryObject")));
    ProcessCounts c;
    // The counting's own probe handle takes the lowest free slot.
    HANDLE hProbe = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    c.nNextHandle = static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(hProbe));
    for (ULONG_PTR v = 4; v < 0x10000; v += 4) {
        HANDLE h = reinterpret_cast<HANDLE>(v);
        DWORD dwFlags = 0;
        if (h == hProbe || !GetHandleInformation(h, &dwFlags))
            continue;
        std::string strKind = "?";
        if (pfnQuery != nullptr) {
            union {
                PUBLIC_OBJECT_TYPE_INFORMATION info;
                BYTE raw[1024];
            } buf;
            ULONG cb = 0;
            if (pfnQuery(h, ObjectTypeInformation, &buf, sizeof(buf), &cb) >= 0 &&
                buf.info.TypeName.Buffer != nullptr) {
                char sz[128] = {0};
                WideCharToMultiByte(CP_ACP, 0, buf.info.TypeName.Buffer,
                                    buf.info.TypeName.Length / sizeof(WCHAR), sz, sizeof(sz) - 1,
                                    nullptr, nullptr);
                strKind = sz;
            }
        }
        ++c.handles[strKind];
        ++c.nHandles;
    }
    CloseHandle(hProbe);
    c.nThreads = CountProcessThreads();
    c.nPrivateKb = CountPrivateKb();
    c.nHeapBytes = CountHeapBytes();
    DWORD dwTls = TlsAlloc();
    c.nNextTls = dwTls;
    if (dwTls != TLS_OUT_OF_INDEXES)
        TlsFree(dwTls);
    return c;
}

}  // namespace tvltest
