#include <winsock2.h>

#include "tests/entrust/DirectoryServer.h"

#include <string.h>

#include "asn1/CBerElement.h"
#include "asn1/CDerWriter.h"

namespace {

Bytes Element(uint8_t nTag, const Bytes& content)
{
    Bytes out;
    CDerWriter::Append(out, nTag, content);
    return out;
}

Bytes Text(uint8_t nTag, const std::string& str)
{
    return Element(nTag, Bytes(str.begin(), str.end()));
}

Bytes Message(const Bytes& id, const Bytes& operation)
{
    Bytes body = id;
    body.insert(body.end(), operation.begin(), operation.end());
    return Element(0x30, body);
}

// LDAPResult: code, matched name, message.
Bytes Result(uint8_t nTag, uint8_t nCode)
{
    Bytes body = {0x0A, 0x01, nCode};
    Bytes empty = Text(0x04, "");
    body.insert(body.end(), empty.begin(), empty.end());
    body.insert(body.end(), empty.begin(), empty.end());
    return Element(nTag, body);
}

bool ReceiveAll(SOCKET s, uint8_t* p, size_t n)
{
    while (n > 0) {
        int r = recv(s, reinterpret_cast<char*>(p), static_cast<int>(n), 0);
        if (r <= 0)
            return false;
        p += r;
        n -= static_cast<size_t>(r);
    }
    return true;
}

bool SendAll(SOCKET s, const Bytes& data)
{
    return send(s, reinterpret_cast<const char*>(data.data()), static_cast<int>(data.size()), 0) ==
           static_cast<int>(data.size());
}

// Names compare without the blanks after the separators, in any case.
std::string Normal(const std::string& str)
{
    std::string out;
    for (size_t i = 0; i < str.size(); ++i) {
        if (str[i] == ' ' && i > 0 && str[i - 1] == ',')
            continue;
        out += static_cast<char>(tolower(static_cast<unsigned char>(str[i])));
    }
    return out;
}
}  // namespace

CDirectoryServer::CDirectoryServer()
    : m_listen(static_cast<uintptr_t>(INVALID_SOCKET)), m_nPort(0), m_hThread(nullptr), m_bStop(0), m_nConnections(0)
{
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    m_listen = static_cast<uintptr_t>(listener);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    int nSize = sizeof(address);
    if (listener == INVALID_SOCKET ||
        bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        listen(listener, 4) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &nSize) != 0)
        return;
    m_nPort = ntohs(address.sin_port);
    m_hThread = CreateThread(nullptr, 0, ThreadProc, this, 0, nullptr);
}

CDirectoryServer::~CDirectoryServer()
{
    InterlockedExchange(&m_bStop, 1);
    if (m_hThread != nullptr) {
        WaitForSingleObject(m_hThread, 5000);
        CloseHandle(m_hThread);
    }
    if (static_cast<SOCKET>(m_listen) != INVALID_SOCKET)
        closesocket(static_cast<SOCKET>(m_listen));
    WSACleanup();
}

std::string CDirectoryServer::Address() const
{
    return "127.0.0.1:" + std::to_string(m_nPort);
}

void CDirectoryServer::Publish(const std::string& strBase, const std::vector<uint8_t>& crl)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_strBase = strBase;
    m_crl = crl;
}

int CDirectoryServer::Connections() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_nConnections;
}

void CDirectoryServer::OnConnection(std::function<void()> fn)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_fnOnConnection = std::move(fn);
}

std::string CDirectoryServer::LastBase() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_strLastBase;
}

DWORD WINAPI CDirectoryServer::ThreadProc(LPVOID pParam)
{
    static_cast<CDirectoryServer*>(pParam)->Run();
    return 0;
}

void CDirectoryServer::Run()
{
    while (!m_bStop) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(static_cast<SOCKET>(m_listen), &readable);
        timeval tv = {0, 50000};
        if (select(0, &readable, nullptr, nullptr, &tv) <= 0)
            continue;
        SOCKET s = accept(static_cast<SOCKET>(m_listen), nullptr, nullptr);
        if (s == INVALID_SOCKET)
            continue;
        std::function<void()> fnOnConnection;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            ++m_nConnections;
            fnOnConnection = m_fnOnConnection;
        }
        if (fnOnConnection)
            fnOnConnection();
        DWORD dwTimeout = 5000;
        setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&dwTimeout),
                   sizeof(dwTimeout));
        Serve(s);
        closesocket(s);
    }
}

void CDirectoryServer::Serve(uintptr_t nSocket)
{
    SOCKET s = static_cast<SOCKET>(nSocket);
    for (;;) {
        uint8_t header[6];
        if (!ReceiveAll(s, header, 2) || header[0] != 0x30)
            return;
        size_t nLength = header[1], nHeader = 2;
        if (header[1] & 0x80) {
            size_t nCount = header[1] & 0x7F;
            if (nCount > 4 || !ReceiveAll(s, header + 2, nCount))
                return;
            nLength = 0;
            for (size_t i = 0; i < nCount; ++i)
                nLength = (nLength << 8) | header[2 + i];
            nHeader += nCount;
        }
        Bytes message(header, header + nHeader);
        message.resize(nHeader + nLength);
        if (!ReceiveAll(s, message.data() + nHeader, nLength))
            return;
        CBerElement outer;
        std::vector<CBerElement> parts, fields;
        if (outer.ParseAll(message.data(), message.size()) != EAsn1Error::Ok ||
            outer.Children(parts) != EAsn1Error::Ok || parts.size() < 2)
            return;
        Bytes id = parts[0].Bytes();
        if (m_bTrickle) {
            // A megabyte announced, then one byte every 100 ms.
            Bytes start = {0x30, 0x84, 0x00, 0x10, 0x00, 0x00};
            if (!SendAll(s, start))
                return;
            while (!m_bStop && SendAll(s, Bytes(1, 0x04)))
                Sleep(100);
            return;
        }
        switch (parts[1].Tag()) {
        case 0x60:  // bind
            if (!SendAll(s, Message(id, Result(0x61, 0))))
                return;
            break;
        case 0x63: {  // search
            if (parts[1].Children(fields) != EAsn1Error::Ok || fields.empty() ||
                fields[0].Tag() != 0x04)
                return;
            std::string strBase(reinterpret_cast<const char*>(fields[0].Content()),
                                fields[0].ContentSize());
            std::string strPublished;
            Bytes crl;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_strLastBase = strBase;
                strPublished = m_strBase;
                crl = m_crl;
            }
            bool bFound = !strPublished.empty() && Normal(strBase) == Normal(strPublished);
            if (bFound) {
                Bytes values = Element(0x31, Element(0x04, crl));
                Bytes attribute = Text(0x04, "certificateRevocationList;binary");
                attribute.insert(attribute.end(), values.begin(), values.end());
                Bytes entry = Text(0x04, strBase);
                Bytes list = Element(0x30, Element(0x30, attribute));
                entry.insert(entry.end(), list.begin(), list.end());
                if (!SendAll(s, Message(id, Element(0x64, entry))))
                    return;
            }
            // 32: noSuchObject
            if (!SendAll(s, Message(id, Result(0x65, bFound ? 0 : 32))))
                return;
            break;
        }
        default:  // unbind or anything else ends the conversation
            return;
        }
    }
}
