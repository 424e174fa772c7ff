#include "cert/entrust/ProfileBrowse.h"

#include <commdlg.h>

#include <string>

#include "cert/entrust/CIconComboBox.h"

bool BrowseForProfile(HWND hOwner, CIconComboBox& box)
{
    char szFile[MAX_PATH] = "";
    std::string strFolder;
    int nSelected = box.GetCurSel();
    if (nSelected >= 0) {
        std::string strPath = box.GetLBText(nSelected);
        size_t nSlash = strPath.find_last_of("\\/");
        if (nSlash != std::string::npos)
            strFolder = strPath.substr(0, nSlash + 1);
    }
    OPENFILENAMEA ofn = {};
    ofn.lStructSize = sizeof(ofn);
    ofn.hwndOwner = hOwner;
    ofn.lpstrFilter = "Perfiles de Seguridad (*.epf)\0*.epf\0Todos los archivos (*.*)\0*.*\0\0";
    ofn.lpstrFile = szFile;
    ofn.nMaxFile = sizeof(szFile);
    ofn.lpstrInitialDir = strFolder.empty() ? nullptr : strFolder.c_str();
    ofn.lpstrTitle = "Seleccione el archivo del perfil";
    ofn.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST |
                OFN_NOCHANGEDIR;
    if (!GetOpenFileNameA(&ofn))
        return false;
    // The exact text: the box's own search ignores case.
    int nIndex = -1;
    for (int i = 0; i < box.GetCount() && nIndex < 0; ++i) {
        if (box.GetLBText(i) == szFile)
            nIndex = i;
    }
    if (nIndex < 0)
        nIndex = box.InsertString(0, szFile);
    box.SetCurSel(nIndex);
    return true;
}
