#include <winsock2.h>

#include "CVirtualCards.h"

#include <stdlib.h>

namespace {
// Some replies wait for pcscd to stop or start.
const DWORD REPLY_TIMEOUT_MS = 40000;
}

CVirtualCards::CVirtualCards() : m_socket(INVALID_SOCKET), m_bStarted(false), m_dwLastChange(0)
{
    WSADATA wsa;
    m_bStarted = WSAStartup(MAKEWORD(2, 2), &wsa) == 0;
}

CVirtualCards::~CVirtualCards()
{
    if (m_socket != INVALID_SOCKET)
        closesocket(m_socket);
    if (m_bStarted)
        WSACleanup();
}

bool CVirtualCards::Connect()
{
    if (!m_bStarted)
        return false;
    if (m_socket != INVALID_SOCKET)
        return true;
    int nPort = 35970;
    if (const char* psz = getenv("TVL_VCARD_PORT"))
        nPort = atoi(psz);
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET)
        return false;
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<u_short>(nPort));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) {
        closesocket(s);
        return false;
    }
    DWORD dwTimeout = REPLY_TIMEOUT_MS;
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&dwTimeout),
               sizeof(dwTimeout));
    m_socket = s;
    return Command("ping");
}

bool CVirtualCards::Command(const std::string& strCommand, std::string* pstrReply)
{
    if (m_socket == INVALID_SOCKET)
        return false;
    std::string strLine = strCommand + "\n";
    if (send(m_socket, strLine.data(), static_cast<int>(strLine.size()), 0) !=
        static_cast<int>(strLine.size()))
        return false;
    size_t nEnd;
    while ((nEnd = m_strPending.find('\n')) == std::string::npos) {
        char buf[512];
        int n = recv(m_socket, buf, sizeof(buf), 0);
        if (n <= 0)
            return false;
        m_strPending.append(buf, n);
    }
    std::string strReply = m_strPending.substr(0, nEnd);
    m_strPending.erase(0, nEnd + 1);
    if (pstrReply)
        *pstrReply = strReply;
    return strReply.compare(0, 2, "OK") == 0;
}

bool CVirtualCards::Insert(int nReader, const char* pszAtrHex)
{
    m_dwLastChange = GetTickCount();
    return Command("insert " + std::to_string(nReader) + " " + pszAtrHex);
}

bool CVirtualCards::Remove(int nReader)
{
    m_dwLastChange = GetTickCount();
    return Command("remove " + std::to_string(nReader));
}

bool CVirtualCards::Insert(int nReader, const char* pszAtrHex, const char* pszApp)
{
    m_dwLastChange = GetTickCount();
    return Command("insert " + std::to_string(nReader) + " " + pszAtrHex + " " + pszApp);
}
