// Keeps one hidden window open for the whole test run, so that the Wine
// services stay warm and every test process starts quickly.
#include <windows.h>

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR, int)
{
    WNDCLASSA wc = {};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = hInstance;
    wc.lpszClassName = "TvlKeepAlive";
    if (!RegisterClassA(&wc))
        return 1;
    HWND hWnd = CreateWindowA("TvlKeepAlive", "", 0, 0, 0, 0, 0, nullptr, nullptr, hInstance,
                              nullptr);
    if (hWnd == nullptr)
        return 1;
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0)
        DispatchMessageA(&msg);
    return 0;
}
