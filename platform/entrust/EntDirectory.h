#pragma once
#include <string>
#include <vector>

#include "platform/entrust/EntX509.h"

// The directory of an online login: an LDAPv3 server named "host[:port]" in the
// initialisation file (port 389 when none is given). The toolkit binds
// anonymously and reads the issuer's entry (base: the issuer's name,
// attribute certificateRevocationList;binary) to learn which certificates the
// issuer has revoked.
class EntDirectory {
public:
    enum EResult {
        DIRECTORY_OK,           // the list was read and checked
        DIRECTORY_UNAVAILABLE,  // no server, or it did not answer as a directory
        DIRECTORY_NO_LIST       // the server answered without a usable list
    };

    // How long the whole check may take, name lookup included; a server that
    // has not finished answering by then is taken as unavailable.
    static constexpr unsigned DEADLINE_MS = 5000;

    explicit EntDirectory(const std::string& strServer) : m_strServer(strServer) {}

    // Reads the issuer's revocation list, checks its signature with the issuer's
    // key and tells whether any of the certificates is on it.
    EResult CheckRevocation(const EntX509& issuer,
                            const std::vector<const EntX509*>& certificates, bool& bRevoked);

    // The LDAP form of a name: "CN=...,OU=...,O=...,C=ES".
    static std::string LdapName(const EntX509& cert);

private:
    EResult FetchList(const EntX509& issuer, std::vector<uint8_t>& crl);

    std::string m_strServer;
};
