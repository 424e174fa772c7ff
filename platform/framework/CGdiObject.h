#pragma once
#include <windows.h>

// A GDI object (bitmap, brush, font, pen), deleted with its owner.
//
//   CBitmap bitmap(CreateCompatibleBitmap(hdc, cx, cy));
//   HBITMAP h = bitmap;             // still owned by bitmap
//   HBITMAP mine = bitmap.Detach(); // now the caller's
template <typename T>
class CGdiObject {
public:
    CGdiObject() {}
    explicit CGdiObject(T h) : m_h(h) {}
    ~CGdiObject() { DeleteObject(); }
    CGdiObject(CGdiObject&& other) noexcept : m_h(other.Detach()) {}
    CGdiObject& operator=(CGdiObject&& other) noexcept
    {
        if (this != &other)
            Attach(other.Detach());
        return *this;
    }

    void Attach(T h)
    {
        DeleteObject();
        m_h = h;
    }
    T Detach()
    {
        T h = m_h;
        m_h = nullptr;
        return h;
    }
    void DeleteObject()
    {
        if (m_h != nullptr)
            ::DeleteObject(m_h);
        m_h = nullptr;
    }
    T Get() const { return m_h; }
    operator T() const { return m_h; }
    explicit operator bool() const { return m_h != nullptr; }

private:
    CGdiObject(const CGdiObject&) = delete;
    CGdiObject& operator=(const CGdiObject&) = delete;
    T m_h = nullptr;
};

typedef CGdiObject<HBITMAP> CBitmap;
typedef CGdiObject<HBRUSH> CBrush;
typedef CGdiObject<HFONT> CFont;
typedef CGdiObject<HPEN> CPen;
