#pragma once
#include <string>

// Login request of an Entrust session; the caller owns it.
struct CS_EPFLOGIN {
    std::string strIniFile;            // empty: a temporary one is written
    std::string strServer;             // for a temporary file; empty: "<none>"
    std::string strDirectoryProtocol;  // for a temporary file; empty: "LDAPv3"
    std::string strProfilePath;
    std::string strPassword;           // at most 255 characters
    int bOnline = 0;
    int bLogDetails = 0;               // profile and certificate details to the log
};

// What CEntrustSession::Open receives.
struct CS_EPFREQUEST {
    CS_EPFLOGIN* pLogin = nullptr;
    void* pReserved = nullptr;
};
