#pragma once
#include <windows.h>

// Device contexts, released with their owners, and objects selected into one
// for the life of a scope.
//
//   CClientDC screen(nullptr);               // the display
//   CMemoryDC memory(screen);                // compatible memory DC
//   CSelectObject keep(memory, hBitmap);     // selected until the scope ends
//
// In a WM_PAINT handler: CPaintDC dc(m_hWnd); (BeginPaint .. EndPaint).

// A window's client area (GetDC .. ReleaseDC); nullptr is the display.
class CClientDC {
public:
    explicit CClientDC(HWND hWnd) : m_hWnd(hWnd), m_hDC(::GetDC(hWnd)) {}
    ~CClientDC()
    {
        if (m_hDC != nullptr)
            ::ReleaseDC(m_hWnd, m_hDC);
    }
    operator HDC() const { return m_hDC; }

private:
    CClientDC(const CClientDC&) = delete;
    CClientDC& operator=(const CClientDC&) = delete;
    HWND m_hWnd;
    HDC m_hDC;
};

// A memory device context compatible with another (DeleteDC at the end).
class CMemoryDC {
public:
    explicit CMemoryDC(HDC hCompatible) : m_hDC(::CreateCompatibleDC(hCompatible)) {}
    ~CMemoryDC()
    {
        if (m_hDC != nullptr)
            ::DeleteDC(m_hDC);
    }
    operator HDC() const { return m_hDC; }

private:
    CMemoryDC(const CMemoryDC&) = delete;
    CMemoryDC& operator=(const CMemoryDC&) = delete;
    HDC m_hDC;
};

// BeginPaint .. EndPaint of a WM_PAINT handler.
class CPaintDC {
public:
    explicit CPaintDC(HWND hWnd) : m_hWnd(hWnd), m_ps() { m_hDC = ::BeginPaint(hWnd, &m_ps); }
    ~CPaintDC() { ::EndPaint(m_hWnd, &m_ps); }
    operator HDC() const { return m_hDC; }
    const PAINTSTRUCT& GetPaintStruct() const { return m_ps; }

private:
    CPaintDC(const CPaintDC&) = delete;
    CPaintDC& operator=(const CPaintDC&) = delete;
    HWND m_hWnd;
    PAINTSTRUCT m_ps;
    HDC m_hDC;
};

// An object selected into a DC until the scope ends (the previous one comes back).
class CSelectObject {
public:
    CSelectObject(HDC hDC, HGDIOBJ hObject) : m_hDC(hDC), m_hOld(::SelectObject(hDC, hObject)) {}
    ~CSelectObject()
    {
        if (m_hOld != nullptr && m_hOld != HGDI_ERROR)
            ::SelectObject(m_hDC, m_hOld);
    }

private:
    CSelectObject(const CSelectObject&) = delete;
    CSelectObject& operator=(const CSelectObject&) = delete;
    HDC m_hDC;
    HGDIOBJ m_hOld;
};
