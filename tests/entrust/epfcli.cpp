// Driver of the profile back-end for the OpenSSL interoperability script and
// for the tests that need a second process.
//
//   epfcli sign PROFILE PASSWORD ALGORITHM IN OUT      -> "signed"
//   epfcli export PROFILE PASSWORD SELECTION OUT [PW]  -> "password=<the file's password>"
//   epfcli lock PATH NAME   holds PATH open, sharing nothing, from setting event
//                           NAME-ready until event NAME-done is set
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "api/CTarvoselException.h"
#include "cert/entrust/CEntrustSession.h"

namespace {
int Lock(const char* pszPath, const char* pszName)
{
    HANDLE hFile = CreateFileA(pszPath, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE)
        return 1;
    HANDLE hReady = OpenEventA(EVENT_MODIFY_STATE, FALSE, (std::string(pszName) + "-ready").c_str());
    HANDLE hDone = OpenEventA(SYNCHRONIZE, FALSE, (std::string(pszName) + "-done").c_str());
    if (hReady == nullptr || hDone == nullptr)
        return 1;
    SetEvent(hReady);
    WaitForSingleObject(hDone, 60000);
    CloseHandle(hFile);
    return 0;
}

// An offline login with an initialisation file of its own.
bool Open(CEntrustSession& session, const char* pszProfile, const char* pszPassword)
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
    try {
        session.Open(&request);
    } catch (CTarvoselException* e) {
        printf("error %d %s\n", e->GetResultCode(), e->GetDescription().c_str());
        delete e;
        bOk = false;
    }
    DeleteFileA(szIni);
    return bOk;
}
}  // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && strcmp(argv[1], "lock") == 0)
        return Lock(argv[2], argv[3]);
    CEntrustSession session;
    try {
        if (argc == 7 && strcmp(argv[1], "sign") == 0) {
            if (!Open(session, argv[2], argv[3]))
                return 1;
            session.SignFile(argv[5], argv[6], argv[4]);
            printf("signed\n");
            return 0;
        }
        if ((argc == 6 || argc == 7) && strcmp(argv[1], "export") == 0) {
            if (!Open(session, argv[2], argv[3]))
                return 1;
            std::string strPath = argv[5], strPassword = argc == 7 ? argv[6] : "";
            session.ExportCertificates(strPath, atoi(argv[4]), strPassword);
            printf("password=%s\n", strPassword.c_str());
            return 0;
        }
    } catch (CTarvoselException* e) {
        printf("error %d %s\n", e->GetResultCode(), e->GetDescription().c_str());
        delete e;
        return 1;
    }
    fprintf(stderr, "usage: epfcli sign PROFILE PASSWORD ALGORITHM IN OUT | export PROFILE PASSWORD "
                    "SELECTION OUT [PASSWORD] | lock PATH NAME\n");
    return 2;
}
