#pragma once
// The provider's own PIN prompt: a modal dialog on the calling thread.
#include <windows.h>

#include <string>

class CPinDialog {
public:
    // IDOK with the PIN typed, or IDCANCEL. nTries: tries the card has left,
    // shown when below three (-1: not known).
    static INT_PTR Run(HINSTANCE hInstance, HWND hParent, const std::string& strReader, int nTries,
                       std::string& strPin);

private:
    CPinDialog(const std::string& strReader, int nTries) : m_strReader(strReader), m_nTries(nTries)
    {
    }
    static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
    BOOL OnInitDialog(HWND hWnd);
    BOOL OnCommand(HWND hWnd, WORD wId, WORD wNotify);

    std::string m_strReader;
    int m_nTries;
    std::string m_strPin;
};
