#pragma once
// A picture of a window as the screen shows it, saved as a 24-bit BMP file.
// Used by the host's unattended login and the screenshot tool.
#include <windows.h>

#include <stdio.h>

#include <vector>

// Copies a rectangle of the screen; false when it cannot.
inline bool SaveRectShot(const RECT& rc, const char* pszPath)
{
    int cx = rc.right - rc.left, cy = rc.bottom - rc.top;
    if (cx <= 0 || cy <= 0)
        return false;
    HDC hScreen = GetDC(nullptr);
    HDC hMemory = CreateCompatibleDC(hScreen);
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
    bi.bmiHeader.biWidth = cx;
    bi.bmiHeader.biHeight = cy;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 24;
    bi.bmiHeader.biCompression = BI_RGB;
    void* pBits = nullptr;
    HBITMAP hBitmap = CreateDIBSection(hScreen, &bi, DIB_RGB_COLORS, &pBits, nullptr, 0);
    bool bOk = false;
    if (hBitmap != nullptr && hMemory != nullptr) {
        HGDIOBJ hOld = SelectObject(hMemory, hBitmap);
        bOk = BitBlt(hMemory, 0, 0, cx, cy, hScreen, rc.left, rc.top, SRCCOPY) != FALSE;
        GdiFlush();
        SelectObject(hMemory, hOld);
    }
    if (bOk) {
        DWORD cbRow = static_cast<DWORD>((cx * 3 + 3) & ~3);
        DWORD cbImage = cbRow * static_cast<DWORD>(cy);
        BITMAPFILEHEADER fh = {};
        fh.bfType = 0x4D42;
        fh.bfOffBits = sizeof(fh) + sizeof(bi.bmiHeader);
        fh.bfSize = fh.bfOffBits + cbImage;
        bi.bmiHeader.biSizeImage = cbImage;
        FILE* f = fopen(pszPath, "wb");
        bOk = f != nullptr && fwrite(&fh, sizeof(fh), 1, f) == 1 &&
              fwrite(&bi.bmiHeader, sizeof(bi.bmiHeader), 1, f) == 1 &&
              fwrite(pBits, 1, cbImage, f) == cbImage;
        if (f != nullptr && fclose(f) != 0)
            bOk = false;
    }
    if (hBitmap != nullptr)
        DeleteObject(hBitmap);
    if (hMemory != nullptr)
        DeleteDC(hMemory);
    ReleaseDC(nullptr, hScreen);
    return bOk;
}

// Copies the window's rectangle from the screen; false when it cannot.
inline bool SaveWindowShot(HWND hWnd, const char* pszPath)
{
    RECT rc;
    return GetWindowRect(hWnd, &rc) && SaveRectShot(rc, pszPath);
}
