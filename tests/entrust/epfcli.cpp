// Driver of the profile back-end for the OpenSSL interoperability script, the
// benchmark and the tests that need a second process.
//
//   epfcli open PROFILE PASSWORD                       -> "result=<code> open-ms=<ms>"
//   epfcli sign PROFILE PASSWORD ALGORITHM IN OUT      -> "signed"
//   epfcli export PROFILE PASSWORD SELECTION OUT [PW]  -> "password=<the file's password>"
//   epfcli lock PATH NAME [SECONDS]  holds PATH open, sharing nothing, from setting
//                           event NAME-ready until event NAME-done is set (or the
//                           seconds, 60 by default, have passed)
// Every command but lock ends with "ms=N peak-kb=N" (the operation's own time).
#include <windows.h>
#include <psapi.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "api/CTarvoselException.h"
#include "cert/entrust/CEntrustSession.h"

namespace {
DWORD g_dwStart = 0;

void PrintFigures()
{
    PROCESS_MEMORY_COUNTERS pmc = {};
    pmc.cb = sizeof(pmc);
    GetProcessMemoryInfo(GetCurrentProcess(), &pmc, sizeof(pmc));
    printf("ms=%lu peak-kb=%lu\n", GetTickCount() - g_dwStart,
           static_cast<unsigned long>(pmc.PeakWorkingSetSize / 1024));
}

int Lock(const char* pszPath, const char* pszName, DWORD dwSeconds)
{
    HANDLE hFile = CreateFileA(pszPath, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE)
        return 1;
    HANDLE hReady = CreateEventA(nullptr, TRUE, FALSE, (std::string(pszName) + "-ready").c_str());
    HANDLE hDone = CreateEventA(nullptr, TRUE, FALSE, (std::string(pszName) + "-done").c_str());
    if (hReady == nullptr || hDone == nullptr)
        return 1;
    SetEvent(hReady);
    WaitForSingleObject(hDone, dwSeconds * 1000);
    CloseHandle(hFile);
    return 0;
}

// An offline login with an initialisation file of its own; the time it took
// and its result in the last two arguments when given.
bool Open(CEntrustSession& session, const char* pszProfile, const char* pszPassword,
          DWORD* pdwMs = nullptr, int* pnResult = nullptr)
{
    char szTemp[MAX_PATH], szIni[MAX_PATH];
    GetTempPathA(MAX_PATH, szTemp);
    GetTempFileNameA(szTemp, "epf", 0, szIni);
    CS_EPFLOGIN login;
    login.strIniFile = szIni;
    login.strProfilePath = pszProfile;
    login.strPassword = pszPassword;
    CS_EPFREQUEST request;
    request.pLogin = &login;
    bool bOk = true;
    DWORD dwStart = GetTickCount();
    int nResult = 0;
    try {
        nResult = session.Open(&request);
    } catch (CTarvoselException* e) {
        nResult = e->GetResultCode();
        if (pnResult == nullptr)
            printf("error %d %s\n", e->GetResultCode(), e->GetDescription().c_str());
        delete e;
        bOk = false;
    }
    if (pdwMs != nullptr)
        *pdwMs = GetTickCount() - dwStart;
    if (pnResult != nullptr)
        *pnResult = nResult;
    DeleteFileA(szIni);
    return bOk;
}
}  // namespace

int main(int argc, char** argv)
{
    if ((argc == 4 || argc == 5) && strcmp(argv[1], "lock") == 0)
        return Lock(argv[2], argv[3], argc == 5 ? static_cast<DWORD>(atoi(argv[4])) : 60);
    CEntrustSession session;
    try {
        if (argc == 4 && strcmp(argv[1], "open") == 0) {
            DWORD dwMs = 0;
            int nResult = 0;
            Open(session, argv[2], argv[3], &dwMs, &nResult);
            printf("result=%d open-ms=%lu\n", nResult, dwMs);
            return 0;
        }
        if (argc == 7 && strcmp(argv[1], "sign") == 0) {
            if (!Open(session, argv[2], argv[3]))
                return 1;
            g_dwStart = GetTickCount();
            session.SignFile(argv[5], argv[6], argv[4]);
            printf("signed\n");
            PrintFigures();
            return 0;
        }
        if ((argc == 6 || argc == 7) && strcmp(argv[1], "export") == 0) {
            if (!Open(session, argv[2], argv[3]))
                return 1;
            g_dwStart = GetTickCount();
            std::string strPath = argv[5], strPassword = argc == 7 ? argv[6] : "";
            session.ExportCertificates(strPath, atoi(argv[4]), strPassword);
            printf("password=%s\n", strPassword.c_str());
            PrintFigures();
            return 0;
        }
    } catch (CTarvoselException* e) {
        printf("error %d %s\n", e->GetResultCode(), e->GetDescription().c_str());
        delete e;
        return 1;
    }
    fprintf(stderr, "usage: epfcli open PROFILE PASSWORD | sign PROFILE PASSWORD ALGORITHM IN OUT | "
                    "export PROFILE PASSWORD SELECTION OUT [PASSWORD] | lock PATH NAME [SECONDS]\n");
    return 2;
}
