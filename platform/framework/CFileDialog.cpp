#include "platform/framework/CFileDialog.h"

#include <commdlg.h>
#include <string.h>

CFileDialog::CFileDialog(const std::string& strFilter, const std::string& strTitle, DWORD dwFlags)
    : m_strFilter(strFilter), m_strTitle(strTitle), m_dwFlags(dwFlags)
{
    for (char& c : m_strFilter) {
        if (c == '|')
            c = '\0';
    }
    m_strFilter.push_back('\0');
}

INT_PTR CFileDialog::DoModal(HWND hWndOwner)
{
    typedef BOOL(WINAPI * PFN_OPEN)(OPENFILENAMEA*);
    HMODULE hDialogs = ::LoadLibraryA("comdlg32.dll");
    if (hDialogs == nullptr)
        return IDCANCEL;
    PFN_OPEN pfnOpen = reinterpret_cast<PFN_OPEN>(
        reinterpret_cast<void*>(::GetProcAddress(hDialogs, "GetOpenFileNameA")));
    char szFile[MAX_PATH] = {0};
    OPENFILENAMEA ofn;
    memset(&ofn, 0, sizeof(ofn));
    ofn.lStructSize = sizeof(ofn);
    ofn.hwndOwner = hWndOwner;
    ofn.lpstrFilter = m_strFilter.c_str();
    ofn.lpstrFile = szFile;
    ofn.nMaxFile = sizeof(szFile);
    ofn.lpstrInitialDir = m_strInitialFolder.empty() ? nullptr : m_strInitialFolder.c_str();
    ofn.lpstrTitle = m_strTitle.c_str();
    ofn.Flags = m_dwFlags | OFN_EXPLORER | OFN_NOCHANGEDIR;
    BOOL bChosen = pfnOpen != nullptr && pfnOpen(&ofn);
    ::FreeLibrary(hDialogs);
    m_strPath = bChosen ? szFile : "";
    return bChosen ? IDOK : IDCANCEL;
}
