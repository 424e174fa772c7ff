#include "platform/framework/CThreadBoundWindows.h"

#include <vector>

#include "platform/framework/CCriticalSection.h"

namespace {
CCriticalSection& ListLock()
{
    static CCriticalSection cs;
    return cs;
}

std::vector<HWND>& List()
{
    static std::vector<HWND> lst;
    return lst;
}

bool IsOwnThread(HWND hWnd)
{
    return GetWindowThreadProcessId(hWnd, nullptr) == GetCurrentThreadId();
}
}  // namespace

void CThreadBoundWindows::Add(HWND hWnd)
{
    CCriticalSection::CGuard guard(ListLock());
    List().push_back(hWnd);
}

void CThreadBoundWindows::Remove(HWND hWnd)
{
    CCriticalSection::CGuard guard(ListLock());
    std::vector<HWND>& lst = List();
    for (size_t i = lst.size(); i-- > 0;) {
        if (lst[i] == hWnd)
            lst.erase(lst.begin() + static_cast<std::ptrdiff_t>(i));
    }
}

void CThreadBoundWindows::Destroy(HWND hWnd)
{
    if (hWnd == nullptr || !IsWindow(hWnd))
        return;
    if (IsOwnThread(hWnd)) {
        DestroyWindow(hWnd);
        return;
    }
    // Its thread destroys it at its next look at its queue, or the library
    // does when that thread next finalises it (DestroyOwn).
    PostMessageA(hWnd, WM_DESTROY_REQUEST, 0, 0);
}

size_t CThreadBoundWindows::DestroyOwn()
{
    std::vector<HWND> lstOwn;
    size_t nOthers = 0;
    {
        CCriticalSection::CGuard guard(ListLock());
        std::vector<HWND>& lst = List();
        for (size_t i = lst.size(); i-- > 0;) {
            // A window whose thread has ended went with it.
            if (!IsWindow(lst[i]))
                lst.erase(lst.begin() + static_cast<std::ptrdiff_t>(i));
            else if (IsOwnThread(lst[i]))
                lstOwn.push_back(lst[i]);
            else
                ++nOthers;
        }
    }
    // Not under the lock: destroying runs the windows' procedures, which call Remove.
    for (HWND hWnd : lstOwn)
        DestroyWindow(hWnd);
    return nOthers;
}
