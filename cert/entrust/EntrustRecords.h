#pragma once
#include <string>

#include "cert/CertTypes.h"

// Profile block of an Entrust session (the pDetails of CS_SESSIONINFO), owned
// by the session.
struct CS_EPFPROFILE {
    static const int kSessionKind = SESSION_KIND_ENTRUST;
    std::string strIniFile;            // toolkit initialisation file as given; may be empty
    std::string strServer;             // directory server
    std::string strDirectoryProtocol;  // directory protocol
    std::string strProfilePath;        // full path of the open profile
    int bOnline = 0;                   // non-zero: logged in online
};
