#pragma once
#include <string>

// Profile block of an Entrust session (the pDetails of CS_SESSIONINFO), owned by
// the session.
struct CS_EPFPROFILE {
    std::string strIniFile;            // as the caller gave it; may be empty
    std::string strServer;             // directory server
    std::string strDirectoryProtocol;  // directory protocol
    std::string strProfilePath;        // full path of the open profile
    int bOnline = 0;                   // the login reached the directory
};

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
