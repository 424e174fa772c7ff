#pragma once
#include <windows.h>

// The host application's window that the library's dialogs belong to.
class CHostWindow {
public:
    // The last active popup of the first visible top-level window of this
    // process; none when the host shows no window.
    static HWND Find();
};
