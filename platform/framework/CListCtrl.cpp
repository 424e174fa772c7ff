#include "platform/framework/CListCtrl.h"

#include <vector>

#include "platform/framework/CImageList.h"

int CListCtrl::InsertColumn(int nCol, const std::string& strHeading, int nFormat, int nWidth)
{
    LVCOLUMNA column = {};
    column.mask = LVCF_TEXT | LVCF_FMT | LVCF_SUBITEM;
    column.fmt = nFormat;
    column.pszText = const_cast<char*>(strHeading.c_str());
    column.iSubItem = nCol;
    if (nWidth >= 0) {
        column.mask |= LVCF_WIDTH;
        column.cx = nWidth;
    }
    return static_cast<int>(SendMessage(LVM_INSERTCOLUMNA, static_cast<WPARAM>(nCol),
                                        reinterpret_cast<LPARAM>(&column)));
}

int CListCtrl::InsertItem(int nItem, const std::string& strLabel, int nImage)
{
    LVITEMA item = {};
    item.mask = LVIF_TEXT | LVIF_IMAGE;
    item.iItem = nItem;
    item.pszText = const_cast<char*>(strLabel.c_str());
    item.iImage = nImage;
    return InsertItem(&item);
}

BOOL CListCtrl::SetItemText(int nItem, int nSubItem, const std::string& strText)
{
    LVITEMA item = {};
    item.iSubItem = nSubItem;
    item.pszText = const_cast<char*>(strText.c_str());
    return static_cast<BOOL>(
        SendMessage(LVM_SETITEMTEXTA, static_cast<WPARAM>(nItem), reinterpret_cast<LPARAM>(&item)));
}

std::string CListCtrl::GetItemText(int nItem, int nSubItem) const
{
    // The control reports how much it copied; a full buffer may mean more.
    for (size_t nSize = 256; nSize <= 65536; nSize *= 4) {
        std::vector<char> text(nSize, '\0');
        LVITEMA item = {};
        item.iSubItem = nSubItem;
        item.pszText = text.data();
        item.cchTextMax = static_cast<int>(nSize);
        int n = static_cast<int>(SendMessage(LVM_GETITEMTEXTA, static_cast<WPARAM>(nItem),
                                             reinterpret_cast<LPARAM>(&item)));
        if (n < static_cast<int>(nSize) - 1)
            return std::string(text.data(), n > 0 ? static_cast<size_t>(n) : 0);
    }
    return std::string();
}

BOOL CListCtrl::SetItemData(int nItem, DWORD_PTR dwData)
{
    LVITEMA item = {};
    item.mask = LVIF_PARAM;
    item.iItem = nItem;
    item.lParam = static_cast<LPARAM>(dwData);
    return static_cast<BOOL>(SendMessage(LVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&item)));
}

DWORD_PTR CListCtrl::GetItemData(int nItem) const
{
    LVITEMA item = {};
    item.mask = LVIF_PARAM;
    item.iItem = nItem;
    if (!SendMessage(LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item)))
        return 0;
    return static_cast<DWORD_PTR>(item.lParam);
}

int CListCtrl::GetItemImage(int nItem) const
{
    LVITEMA item = {};
    item.mask = LVIF_IMAGE;
    item.iItem = nItem;
    if (!SendMessage(LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item)))
        return -1;
    return item.iImage;
}

BOOL CListCtrl::SetItemState(int nItem, UINT nState, UINT nMask)
{
    LVITEMA item = {};
    item.state = nState;
    item.stateMask = nMask;
    return static_cast<BOOL>(
        SendMessage(LVM_SETITEMSTATE, static_cast<WPARAM>(nItem), reinterpret_cast<LPARAM>(&item)));
}

HIMAGELIST CListCtrl::SetImageList(const CImageList& imageList, int nImageList)
{
    ModifyStyle(0, LVS_SHAREIMAGELISTS);
    return reinterpret_cast<HIMAGELIST>(
        SendMessage(LVM_SETIMAGELIST, static_cast<WPARAM>(nImageList),
                    reinterpret_cast<LPARAM>(imageList.GetSafeHandle())));
}
