#pragma once
#include <windows.h>

#include <string>

// The platform's file-open dialog. The filter is written as the framework
// writes it, "Text (*.ext)|*.ext||". The host's current folder is left as it
// was. comdlg32 is loaded only while the dialog runs: Wine's leaves a mutex
// behind each time it is loaded and unloaded, so a library that imported it
// would leave one per job of a host that loads the library for each job.
class CFileDialog {
public:
    CFileDialog(const std::string& strFilter, const std::string& strTitle, DWORD dwFlags = 0);

    // Folder the dialog starts in; empty for the platform's choice.
    std::string m_strInitialFolder;

    // IDOK when the user chose a file, IDCANCEL otherwise (also when the
    // dialog could not be shown).
    INT_PTR DoModal(HWND hWndOwner);
    const std::string& GetPathName() const { return m_strPath; }

private:
    std::string m_strFilter;  // the platform's form: texts separated by zeros
    std::string m_strTitle;
    DWORD m_dwFlags;
    std::string m_strPath;
};
