#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "platform/framework/CWnd.h"

// A combo box (bind it with DDX_Control). An owner-drawn one derives from it,
// and its parent's map says REFLECT_OWNERDRAW() so that the box's own map
// receives OCM_DRAWITEM and OCM_MEASUREITEM.
class CComboBox : public CWnd {
public:
    int AddString(const std::string& str)
    {
        return static_cast<int>(
            SendMessage(CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(str.c_str())));
    }
    int InsertString(int nIndex, const std::string& str)
    {
        return static_cast<int>(SendMessage(CB_INSERTSTRING, static_cast<WPARAM>(nIndex),
                                            reinterpret_cast<LPARAM>(str.c_str())));
    }
    int DeleteString(int nIndex)
    {
        return static_cast<int>(SendMessage(CB_DELETESTRING, static_cast<WPARAM>(nIndex)));
    }
    void ResetContent() { SendMessage(CB_RESETCONTENT); }
    int GetCount() const { return static_cast<int>(SendMessage(CB_GETCOUNT)); }
    int GetCurSel() const { return static_cast<int>(SendMessage(CB_GETCURSEL)); }
    int SetCurSel(int nIndex) { return static_cast<int>(SendMessage(CB_SETCURSEL, nIndex)); }
    std::string GetLBText(int nIndex) const
    {
        int n = static_cast<int>(SendMessage(CB_GETLBTEXTLEN, static_cast<WPARAM>(nIndex)));
        if (n < 0)
            return std::string();
        std::vector<char> text(static_cast<size_t>(n) + 1, '\0');
        SendMessage(CB_GETLBTEXT, static_cast<WPARAM>(nIndex),
                    reinterpret_cast<LPARAM>(text.data()));
        return std::string(text.data());
    }
    int FindStringExact(int nStart, const std::string& str) const
    {
        return static_cast<int>(SendMessage(CB_FINDSTRINGEXACT, static_cast<WPARAM>(nStart),
                                            reinterpret_cast<LPARAM>(str.c_str())));
    }
    int SetItemData(int nIndex, DWORD_PTR dwData)
    {
        return static_cast<int>(
            SendMessage(CB_SETITEMDATA, static_cast<WPARAM>(nIndex), static_cast<LPARAM>(dwData)));
    }
    DWORD_PTR GetItemData(int nIndex) const
    {
        return static_cast<DWORD_PTR>(SendMessage(CB_GETITEMDATA, static_cast<WPARAM>(nIndex)));
    }
    int SetItemHeight(int nIndex, UINT cyItem)
    {
        return static_cast<int>(SendMessage(CB_SETITEMHEIGHT, static_cast<WPARAM>(nIndex), cyItem));
    }
};
