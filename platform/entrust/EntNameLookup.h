#pragma once
#include <winsock2.h>

#include <string>

// Resolves a host name and port to an IPv4 address within a time limit. The
// platform's lookup cannot be cancelled, so it runs on a thread of its own; when
// the caller stops waiting, that thread finishes alone and keeps this module
// loaded until it is done.
class EntNameLookup {
public:
    // False when the name does not resolve, the time runs out or no thread can start.
    static bool Resolve(const std::string& strHost, const std::string& strPort, DWORD dwTimeoutMs,
                        sockaddr_in& address);
};
