#include <winsock2.h>
#include <ws2tcpip.h>

#include "platform/entrust/EntDirectory.h"

#include <stdlib.h>
#include <string.h>

#include "asn1/Asn1Tags.h"
#include "asn1/CAsn1Util.h"
#include "asn1/CDerWriter.h"
#include "platform/entrust/EntNameLookup.h"
#include "platform/pkcs12/CCryptoPrimitives.h"

namespace {
const char kCrlAttribute[] = "certificateRevocationList;binary";
// A revocation list of a large issuer is a few megabytes at most.
const size_t kMaxMessage = 8 * 1024 * 1024;

class CWinsock {
public:
    CWinsock()
    {
        WSADATA data;
        m_bStarted = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }
    ~CWinsock()
    {
        if (m_bStarted)
            WSACleanup();
    }
    bool IsStarted() const { return m_bStarted; }

private:
    bool m_bStarted;
};

// A connection whose every step (lookup, connection, each send and receive)
// must end before one deadline for the whole conversation.
class CSocket {
public:
    explicit CSocket(DWORD dwLimitMs)
        : m_s(INVALID_SOCKET), m_dwStart(GetTickCount()), m_dwLimitMs(dwLimitMs)
    {
    }
    ~CSocket()
    {
        if (m_s != INVALID_SOCKET)
            closesocket(m_s);
    }

    // Connects to "host[:port]".
    bool Connect(const std::string& strServer)
    {
        std::string strHost = strServer, strPort = "389";
        size_t nColon = strServer.rfind(':');
        if (nColon != std::string::npos) {
            strHost = strServer.substr(0, nColon);
            strPort = strServer.substr(nColon + 1);
        }
        sockaddr_in address = {};
        if (strHost.empty() || !EntNameLookup::Resolve(strHost, strPort, Remaining(), address))
            return false;
        m_s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        if (m_s == INVALID_SOCKET)
            return false;
        // Non-blocking from here on: every wait is a select bounded by the deadline.
        u_long nNonBlocking = 1;
        if (ioctlsocket(m_s, FIONBIO, &nNonBlocking) != 0)
            return false;
        if (connect(m_s, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0)
            return true;
        if (WSAGetLastError() != WSAEWOULDBLOCK)
            return false;
        fd_set writable, failed;
        FD_ZERO(&writable);
        FD_ZERO(&failed);
        FD_SET(m_s, &writable);
        FD_SET(m_s, &failed);
        timeval tv = Timeout();
        return select(0, nullptr, &writable, &failed, &tv) > 0 && FD_ISSET(m_s, &writable) &&
               !FD_ISSET(m_s, &failed);
    }

    bool Send(const std::vector<uint8_t>& data)
    {
        size_t nSent = 0;
        while (nSent < data.size()) {
            if (!WaitFor(false))
                return false;
            int n = send(m_s, reinterpret_cast<const char*>(data.data()) + nSent,
                         static_cast<int>(data.size() - nSent), 0);
            if (n <= 0 && !(n < 0 && WSAGetLastError() == WSAEWOULDBLOCK))
                return false;
            if (n > 0)
                nSent += static_cast<size_t>(n);
        }
        return true;
    }

    bool Receive(uint8_t* pData, size_t nSize)
    {
        while (nSize > 0) {
            if (!WaitFor(true))
                return false;
            int n = recv(m_s, reinterpret_cast<char*>(pData), static_cast<int>(nSize), 0);
            if (n == 0 || (n < 0 && WSAGetLastError() != WSAEWOULDBLOCK))
                return false;
            if (n > 0) {
                pData += n;
                nSize -= static_cast<size_t>(n);
            }
        }
        return true;
    }

    // One whole LDAP message (a definite-length SEQUENCE).
    bool ReceiveMessage(std::vector<uint8_t>& message)
    {
        uint8_t header[6];
        if (!Receive(header, 2) || header[0] != Asn1Tag::kSequence)
            return false;
        size_t nLength = header[1], nHeader = 2;
        if (header[1] & 0x80) {
            size_t nCount = header[1] & 0x7F;
            if (nCount == 0 || nCount > 4 || !Receive(header + 2, nCount))
                return false;
            nLength = 0;
            for (size_t i = 0; i < nCount; ++i)
                nLength = (nLength << 8) | header[2 + i];
            nHeader += nCount;
        }
        if (nLength > kMaxMessage)
            return false;
        message.assign(header, header + nHeader);
        message.resize(nHeader + nLength);
        return Receive(message.data() + nHeader, nLength);
    }

private:
    // What is left of the time; 0 once the deadline has passed.
    DWORD Remaining() const
    {
        DWORD dwElapsed = GetTickCount() - m_dwStart;
        return dwElapsed < m_dwLimitMs ? m_dwLimitMs - dwElapsed : 0;
    }
    timeval Timeout() const
    {
        DWORD dw = Remaining();
        timeval tv = {static_cast<long>(dw / 1000), static_cast<long>(dw % 1000) * 1000};
        return tv;
    }
    // Until the socket can be read (or written), or the deadline passes.
    bool WaitFor(bool bRead)
    {
        if (Remaining() == 0)
            return false;
        fd_set set;
        FD_ZERO(&set);
        FD_SET(m_s, &set);
        timeval tv = Timeout();
        return select(0, bRead ? &set : nullptr, bRead ? nullptr : &set, nullptr, &tv) > 0;
    }

    SOCKET m_s;
    DWORD m_dwStart;
    DWORD m_dwLimitMs;
};

// LDAP protocol operations and the choices used, by their tags.
constexpr uint8_t kBindRequest = Asn1Tag::ApplicationConstructed(0);
constexpr uint8_t kBindResponse = Asn1Tag::ApplicationConstructed(1);
constexpr uint8_t kUnbindRequest = Asn1Tag::Application(2);
constexpr uint8_t kSearchRequest = Asn1Tag::ApplicationConstructed(3);
constexpr uint8_t kSearchResultEntry = Asn1Tag::ApplicationConstructed(4);
constexpr uint8_t kSearchResultDone = Asn1Tag::ApplicationConstructed(5);
constexpr uint8_t kSimpleAuthentication = Asn1Tag::Context(0);
constexpr uint8_t kPresentFilter = Asn1Tag::Context(7);

std::vector<uint8_t> Message(long nId, const std::vector<uint8_t>& operation)
{
    std::vector<uint8_t> body;
    CAsn1Util::AppendSmallInt(body, nId);
    body.insert(body.end(), operation.begin(), operation.end());
    return CAsn1Util::Wrap(Asn1Tag::kSequence, body);
}

void AppendText(std::vector<uint8_t>& out, uint8_t nTag, const char* pszText)
{
    CDerWriter::Append(out, nTag, reinterpret_cast<const uint8_t*>(pszText), strlen(pszText));
}

void AppendEnumerated(std::vector<uint8_t>& out, uint8_t nValue)
{
    out.push_back(Asn1Tag::kEnumerated);
    out.push_back(0x01);
    out.push_back(nValue);
}

// The protocol operation of a message: its tag and its fields.
bool Operation(const std::vector<uint8_t>& message, uint8_t& nTag, std::vector<CBerElement>& fields)
{
    CBerElement outer;
    std::vector<CBerElement> parts;
    if (!CAsn1Util::ParseWhole(message.data(), message.size(), Asn1Tag::kSequence, outer) ||
        !CAsn1Util::Children(outer, Asn1Tag::kSequence, parts) || parts.size() < 2)
        return false;
    nTag = parts[1].Tag();
    fields.clear();
    return !parts[1].IsConstructed() || parts[1].Children(fields) == EAsn1Error::Ok;
}

// LDAPResult's resultCode.
bool ResultCode(const std::vector<CBerElement>& fields, int& nCode)
{
    if (fields.empty() || fields[0].Tag() != Asn1Tag::kEnumerated || fields[0].ContentSize() != 1)
        return false;
    nCode = fields[0].Content()[0];
    return true;
}

// Serials of the revocation list, after checking it is the issuer's.
bool RevokedSerials(const std::vector<uint8_t>& crl, const EntX509& issuer,
                    std::vector<std::vector<uint8_t>>& serials)
{
    CBerElement list;
    std::vector<CBerElement> parts, tbs, algorithm;
    if (!CAsn1Util::ParseWhole(crl.data(), crl.size(), Asn1Tag::kSequence, list) ||
        !CAsn1Util::Children(list, Asn1Tag::kSequence, parts) || parts.size() != 3 ||
        !CAsn1Util::Children(parts[0], Asn1Tag::kSequence, tbs) ||
        !CAsn1Util::Children(parts[1], Asn1Tag::kSequence, algorithm) || algorithm.empty() ||
        parts[2].Tag() != Asn1Tag::kBitString || parts[2].ContentSize() < 2 ||
        parts[2].Content()[0] != 0)
        return false;
    size_t i = !tbs.empty() && tbs[0].Tag() == Asn1Tag::kInteger ? 1 : 0;  // version
    if (tbs.size() < i + 3 || tbs[i + 1].Bytes() != issuer.SubjectName())
        return false;
    CCryptoPrimitives::EHash eHash;
    if (!CCryptoPrimitives::HashOfOid(EntX509::SignatureDigest(CAsn1Util::Oid(algorithm[0])), eHash))
        return false;
    std::vector<uint8_t> signature(parts[2].Content() + 1, parts[2].Content() + parts[2].ContentSize());
    std::vector<uint8_t> tbsDer = parts[0].Bytes();
    CCryptoPrimitives crypto;
    if (!crypto.RsaVerify(issuer.Modulus(), issuer.PublicExponent(), eHash, tbsDer.data(),
                          tbsDer.size(), signature))
        return false;
    serials.clear();
    for (size_t j = i + 3; j < tbs.size(); ++j) {
        if (tbs[j].Tag() != Asn1Tag::kSequence)
            continue;  // nextUpdate or the extensions
        std::vector<CBerElement> entries;
        tbs[j].Children(entries);
        for (const CBerElement& entry : entries) {
            std::vector<CBerElement> fields;
            std::vector<uint8_t> serial;
            if (CAsn1Util::Children(entry, Asn1Tag::kSequence, fields) && !fields.empty() &&
                CAsn1Util::Unsigned(fields[0], serial))
                serials.push_back(serial);
        }
    }
    return true;
}
}  // namespace

std::string EntDirectory::LdapName(const EntX509& cert)
{
    CBerElement name;
    if (!CAsn1Util::ParseWhole(cert.SubjectName().data(), cert.SubjectName().size(),
                               Asn1Tag::kSequence, name))
        return std::string();
    return EntX509::NameText(name, nullptr, ",");
}

EntDirectory::EResult EntDirectory::FetchList(const EntX509& issuer, std::vector<uint8_t>& crl)
{
    CWinsock winsock;
    CSocket socket(DEADLINE_MS);
    if (!winsock.IsStarted() || !socket.Connect(m_strServer))
        return DIRECTORY_UNAVAILABLE;

    // Anonymous simple bind, version 3.
    std::vector<uint8_t> bind;
    CAsn1Util::AppendSmallInt(bind, 3);
    AppendText(bind, Asn1Tag::kOctetString, "");
    AppendText(bind, kSimpleAuthentication, "");
    std::vector<uint8_t> message;
    uint8_t nTag = 0;
    std::vector<CBerElement> fields;
    int nCode = -1;
    if (!socket.Send(Message(1, CAsn1Util::Wrap(kBindRequest, bind))) ||
        !socket.ReceiveMessage(message) || !Operation(message, nTag, fields) ||
        nTag != kBindResponse || !ResultCode(fields, nCode) || nCode != 0)
        return DIRECTORY_UNAVAILABLE;

    // The issuer's entry only (scope base), one attribute.
    std::vector<uint8_t> search, attributes;
    AppendText(search, Asn1Tag::kOctetString, LdapName(issuer).c_str());
    AppendEnumerated(search, 0);  // baseObject
    AppendEnumerated(search, 0);  // neverDerefAliases
    CAsn1Util::AppendSmallInt(search, 1);
    CAsn1Util::AppendSmallInt(search, static_cast<long>(DEADLINE_MS / 1000));
    search.push_back(Asn1Tag::kBoolean);  // typesOnly FALSE
    search.push_back(0x01);
    search.push_back(0x00);
    AppendText(search, kPresentFilter, "objectClass");
    AppendText(attributes, Asn1Tag::kOctetString, kCrlAttribute);
    CDerWriter::Append(search, Asn1Tag::kSequence, attributes);
    if (!socket.Send(Message(2, CAsn1Util::Wrap(kSearchRequest, search))))
        return DIRECTORY_UNAVAILABLE;
    crl.clear();
    for (;;) {
        if (!socket.ReceiveMessage(message) || !Operation(message, nTag, fields))
            return DIRECTORY_UNAVAILABLE;
        if (nTag == kSearchResultDone)
            break;  // SearchResultDone
        if (nTag != kSearchResultEntry || fields.size() != 2)
            continue;
        std::vector<CBerElement> list;
        if (!CAsn1Util::Children(fields[1], Asn1Tag::kSequence, list))
            continue;
        for (const CBerElement& attribute : list) {
            std::vector<CBerElement> pair, values;
            if (!CAsn1Util::Children(attribute, Asn1Tag::kSequence, pair) || pair.size() != 2 ||
                pair[0].Tag() != Asn1Tag::kOctetString ||
                !CAsn1Util::Children(pair[1], Asn1Tag::kSet, values) || values.empty())
                continue;
            std::string strType(reinterpret_cast<const char*>(pair[0].Content()),
                                pair[0].ContentSize());
            if (_stricmp(strType.c_str(), kCrlAttribute) == 0 && crl.empty())
                CAsn1Util::OctetString(values[0], crl);
        }
    }
    std::vector<uint8_t> unbind = {Asn1Tag::kSequence, 0x05, Asn1Tag::kInteger, 0x01, 0x03,
                                   kUnbindRequest,     0x00};
    socket.Send(unbind);
    return crl.empty() ? DIRECTORY_NO_LIST : DIRECTORY_OK;
}

EntDirectory::EResult EntDirectory::CheckRevocation(const EntX509& issuer,
                                                    const std::vector<const EntX509*>& certificates,
                                                    bool& bRevoked)
{
    bRevoked = false;
    std::vector<uint8_t> crl;
    EResult eResult = FetchList(issuer, crl);
    if (eResult != DIRECTORY_OK)
        return eResult;
    std::vector<std::vector<uint8_t>> serials;
    if (!RevokedSerials(crl, issuer, serials))
        return DIRECTORY_NO_LIST;
    for (const EntX509* pCert : certificates) {
        for (const std::vector<uint8_t>& serial : serials)
            bRevoked = bRevoked || (pCert->IsIssuedBy(issuer) && pCert->Serial() == serial);
    }
    return DIRECTORY_OK;
}
