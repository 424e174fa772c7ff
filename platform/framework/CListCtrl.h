#pragma once
#include <windows.h>
#include <commctrl.h>

#include <string>

#include "platform/framework/CWnd.h"

class CImageList;

// A list-view control (bind it with DDX_Control). Rows are items, columns
// subitems; texts are ANSI.
class CListCtrl : public CWnd {
public:
    int InsertColumn(int nCol, const std::string& strHeading, int nFormat = LVCFMT_LEFT,
                     int nWidth = -1);
    // Inserts a row with its label and image; returns the row it got, -1 on failure.
    int InsertItem(int nItem, const std::string& strLabel, int nImage);
    int InsertItem(const LVITEMA* pItem)
    {
        return static_cast<int>(SendMessage(LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(pItem)));
    }
    BOOL SetItemText(int nItem, int nSubItem, const std::string& strText);
    std::string GetItemText(int nItem, int nSubItem) const;
    BOOL SetItemData(int nItem, DWORD_PTR dwData);
    DWORD_PTR GetItemData(int nItem) const;
    int GetItemImage(int nItem) const;
    BOOL SetItemState(int nItem, UINT nState, UINT nMask);
    UINT GetItemState(int nItem, UINT nMask) const
    {
        return static_cast<UINT>(SendMessage(LVM_GETITEMSTATE, static_cast<WPARAM>(nItem), nMask));
    }
    BOOL DeleteItem(int nItem) { return static_cast<BOOL>(SendMessage(LVM_DELETEITEM, nItem)); }
    BOOL DeleteAllItems() { return static_cast<BOOL>(SendMessage(LVM_DELETEALLITEMS)); }
    int GetItemCount() const { return static_cast<int>(SendMessage(LVM_GETITEMCOUNT)); }
    int GetSelectionMark() const { return static_cast<int>(SendMessage(LVM_GETSELECTIONMARK)); }
    int GetNextItem(int nItem, int nFlags) const
    {
        return static_cast<int>(SendMessage(LVM_GETNEXTITEM, static_cast<WPARAM>(nItem), nFlags));
    }
    int GetSelectedCount() const { return static_cast<int>(SendMessage(LVM_GETSELECTEDCOUNT)); }
    DWORD SetExtendedStyle(DWORD dwExStyle)
    {
        return static_cast<DWORD>(SendMessage(LVM_SETEXTENDEDLISTVIEWSTYLE, 0, dwExStyle));
    }
    DWORD GetExtendedStyle() const
    {
        return static_cast<DWORD>(SendMessage(LVM_GETEXTENDEDLISTVIEWSTYLE));
    }
    int GetColumnWidth(int nCol) const
    {
        return static_cast<int>(SendMessage(LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(nCol)));
    }
    // The image list stays the caller's: the control is given the
    // shared-image-lists style so that it never destroys it.
    HIMAGELIST SetImageList(const CImageList& imageList, int nImageList);
};
