#pragma once
#include <windows.h>
#include <commctrl.h>

// An image list, destroyed with its owner.
//
//   CImageList images;
//   images.Create(16, 16, ILC_COLOR32 | ILC_MASK, 1, 1);
//   images.AddIcon(IDI_CERTIFICATE);      // icon resource of the module, at 16x16
//   list.SetImageList(images, LVSIL_SMALL);
class CImageList {
public:
    CImageList() {}
    ~CImageList() { DeleteImageList(); }

    bool Create(int cx, int cy, UINT nFlags, int nInitial, int nGrow);
    // Adds an icon resource of the module at the list's size; the image's index
    // or -1.
    int AddIcon(UINT nIconId);
    int Add(HICON hIcon) { return ImageList_AddIcon(m_hImageList, hIcon); }
    int GetImageCount() const { return m_hImageList ? ImageList_GetImageCount(m_hImageList) : 0; }
    void DeleteImageList();
    HIMAGELIST GetSafeHandle() const { return m_hImageList; }

private:
    CImageList(const CImageList&) = delete;
    CImageList& operator=(const CImageList&) = delete;

    HIMAGELIST m_hImageList = nullptr;
    int m_cx = 0;
    int m_cy = 0;
};
