#include "platform/framework/CImageList.h"

#include "platform/framework/CWinApp.h"

bool CImageList::Create(int cx, int cy, UINT nFlags, int nInitial, int nGrow)
{
    DeleteImageList();
    m_hImageList = ImageList_Create(cx, cy, nFlags, nInitial, nGrow);
    m_cx = cx;
    m_cy = cy;
    return m_hImageList != nullptr;
}

int CImageList::AddIcon(UINT nIconId)
{
    if (m_hImageList == nullptr)
        return -1;
    HICON hIcon =
        static_cast<HICON>(::LoadImageA(CWinApp::GetInstanceHandle(), MAKEINTRESOURCEA(nIconId),
                                        IMAGE_ICON, m_cx, m_cy, LR_DEFAULTCOLOR));
    if (hIcon == nullptr)
        return -1;
    int nIndex = ImageList_AddIcon(m_hImageList, hIcon);
    ::DestroyIcon(hIcon);
    return nIndex;
}

void CImageList::DeleteImageList()
{
    if (m_hImageList != nullptr)
        ImageList_Destroy(m_hImageList);
    m_hImageList = nullptr;
}
