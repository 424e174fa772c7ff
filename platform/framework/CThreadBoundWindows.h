#pragma once
#include <windows.h>

#include <stddef.h>

// The library's windows whose procedures are in its code, each with the thread
// that made it. Only that thread can destroy a window; an object that goes on
// another thread hands its window over here instead of leaving it behind, for
// once the library is unloaded any message to it would run unloaded code.
class CThreadBoundWindows {
public:
    // What a listed window is sent to destroy itself: its procedure answers it
    // with DestroyWindow.
    static const UINT WM_DESTROY_REQUEST = WM_APP + 0x2F1;

    static void Add(HWND hWnd);
    // Called as the window goes (WM_NCDESTROY).
    static void Remove(HWND hWnd);
    // Destroys the window when it belongs to the calling thread; otherwise asks
    // its thread to (posted) and keeps it listed until that is done.
    static void Destroy(HWND hWnd);
    // Destroys every listed window of the calling thread; returns how many
    // listed windows of other threads are still there.
    static size_t DestroyOwn();
};
