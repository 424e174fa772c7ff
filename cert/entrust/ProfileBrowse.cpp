#include "cert/entrust/ProfileBrowse.h"

#include <commdlg.h>

#include <string>

#include "cert/entrust/CIconComboBox.h"
#include "platform/framework/CFileDialog.h"

bool BrowseForProfile(HWND hOwner, CIconComboBox& box)
{
    std::string strFolder;
    int nSelected = box.GetCurSel();
    if (nSelected >= 0) {
        std::string strPath = box.GetLBText(nSelected);
        size_t nSlash = strPath.find_last_of("\\/");
        if (nSlash != std::string::npos)
            strFolder = strPath.substr(0, nSlash + 1);
    }
    CFileDialog dialog("Perfiles de Seguridad (*.epf)|*.epf|Todos los archivos (*.*)|*.*||",
                       "Seleccione el archivo del perfil",
                       OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST);
    dialog.m_strInitialFolder = strFolder;
    if (dialog.DoModal(hOwner) != IDOK)
        return false;
    std::string strFile = dialog.GetPathName();
    // The exact text: the box's own search ignores case.
    int nIndex = -1;
    for (int i = 0; i < box.GetCount() && nIndex < 0; ++i) {
        if (box.GetLBText(i) == strFile)
            nIndex = i;
    }
    if (nIndex < 0)
        nIndex = box.InsertString(0, strFile);
    box.SetCurSel(nIndex);
    return true;
}
