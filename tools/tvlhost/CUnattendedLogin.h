#pragma once
#include <windows.h>

#include <string>

// Works the library's login sheet for a host run without a person: a thread
// that waits for the sheet on the host's thread, picks the first row whose
// label contains a text and presses "Aceptar", the way a person would, and
// prints what it did. Without such a row it presses "Cancelar"; after a
// refused attempt (a message box) it closes the box and cancels.
class CUnattendedLogin {
public:
    // strShotPath, when not empty, receives a picture (BMP) of the sheet with
    // the row selected, just before "Aceptar".
    CUnattendedLogin(DWORD dwHostThread, const std::string& strRowText,
                     const std::string& strShotPath);
    ~CUnattendedLogin();

private:
    CUnattendedLogin(const CUnattendedLogin&) = delete;
    CUnattendedLogin& operator=(const CUnattendedLogin&) = delete;

    static DWORD WINAPI ThreadProc(LPVOID pParam);
    void Run();
    void WorkSheet(HWND hSheet);

    DWORD m_dwHostThread;
    std::string m_strRowText;
    std::string m_strShotPath;
    HANDLE m_hStop;
    HANDLE m_hThread;
};
