#pragma once
// What a process holds of the window system: GDI objects by kind, windows
// (top-level, child and message-only), cursors and icons, and the entries of
// the notification area. Wine answers no GetGuiResources, so the objects are
// found by trying every handle index: a handle whose upper word is 0 names the
// object in that slot whatever its generation. A soak counts with this at two
// points only (the window and icon probe takes about a second).
#include <windows.h>

#include <map>
#include <string>

#include "tests/support/TrayArea.h"

namespace tvltest {

struct GuiCounts {
    std::map<std::string, int> gdi;  // by kind ("Bitmap", "Brush", "DC", ...)
    int nGdi = 0;
    int nWindows = 0;  // of this process
    int nCursorsAndIcons = 0;
    int nTrayEntries = 0;  // every process's

    std::string GdiText() const
    {
        std::string s;
        for (const auto& kv : gdi)
            s += (s.empty() ? "" : " ") + kv.first + "=" + std::to_string(kv.second);
        return s.empty() ? "none" : s;
    }
    std::string DiffFrom(const GuiCounts& other) const
    {
        std::string s;
        auto add = [&](const std::string& strName, int nThis, int nOther) {
            if (nThis != nOther)
                s += (s.empty() ? "" : " ") + strName + "=" + (nThis > nOther ? "+" : "") +
                     std::to_string(nThis - nOther);
        };
        std::map<std::string, int> all = gdi;
        for (const auto& kv : other.gdi)
            all.emplace(kv.first, 0);
        for (const auto& kv : all) {
            auto itThis = gdi.find(kv.first), itOther = other.gdi.find(kv.first);
            add("gdi:" + kv.first, itThis == gdi.end() ? 0 : itThis->second,
                itOther == other.gdi.end() ? 0 : itOther->second);
        }
        add("windows", nWindows, other.nWindows);
        add("cursors-icons", nCursorsAndIcons, other.nCursorsAndIcons);
        add("tray-entries", nTrayEntries, other.nTrayEntries);
        return s.empty() ? "none" : s;
    }
};

inline const char* GdiKindName(DWORD dwType)
{
    switch (dwType) {
        case OBJ_PEN: return "Pen";
        case OBJ_BRUSH: return "Brush";
        case OBJ_DC: return "DC";
        case OBJ_METADC: return "MetaDC";
        case OBJ_PAL: return "Palette";
        case OBJ_FONT: return "Font";
        case OBJ_BITMAP: return "Bitmap";
        case OBJ_REGION: return "Region";
        case OBJ_METAFILE: return "Metafile";
        case OBJ_MEMDC: return "MemDC";
        case OBJ_EXTPEN: return "ExtPen";
        case OBJ_ENHMETADC: return "EnhMetaDC";
        case OBJ_ENHMETAFILE: return "EnhMetafile";
        case OBJ_COLORSPACE: return "ColorSpace";
        default: return "?";
    }
}

inline GuiCounts TakeGuiCounts()
{
    GuiCounts c;
    for (ULONG_PTR i = 1; i < 0x10000; ++i) {
        DWORD dwType = GetObjectType(reinterpret_cast<HGDIOBJ>(i));
        if (dwType != 0) {
            ++c.gdi[GdiKindName(dwType)];
            ++c.nGdi;
        }
    }
    // User handles: even values from 0x20.
    for (ULONG_PTR v = 0x20; v < 0x10000; v += 2) {
        HWND hWnd = reinterpret_cast<HWND>(v);
        if (IsWindow(hWnd)) {
            DWORD dwProcess = 0;
            GetWindowThreadProcessId(hWnd, &dwProcess);
            if (dwProcess == GetCurrentProcessId())
                ++c.nWindows;
        }
        ICONINFO ii;
        if (GetIconInfo(reinterpret_cast<HICON>(v), &ii)) {
            ++c.nCursorsAndIcons;
            if (ii.hbmColor != nullptr)
                DeleteObject(ii.hbmColor);
            if (ii.hbmMask != nullptr)
                DeleteObject(ii.hbmMask);
        }
    }
    c.nTrayEntries = static_cast<int>(TrayIconWindows().size());
    return c;
}

}  // namespace tvltest
