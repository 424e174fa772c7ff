#pragma once
// Client of the bench's virtual-card controller (bench/vcard.py): a line
// protocol on a loopback TCP port, default 35970 (TVL_VCARD_PORT overrides).
#include <windows.h>

#include <string>

class CVirtualCards {
public:
    CVirtualCards();
    ~CVirtualCards();
    CVirtualCards(const CVirtualCards&) = delete;
    CVirtualCards& operator=(const CVirtualCards&) = delete;

    // False when the controller does not answer (bench not started).
    bool Connect();
    bool IsConnected() const { return m_socket != static_cast<UINT_PTR>(-1); }
    // Sends one command; true when the reply starts with "OK". The reply line
    // (without the line end) goes to *pstrReply when given.
    bool Command(const std::string& strCommand, std::string* pstrReply = nullptr);

    bool Insert(int nReader, const char* pszAtrHex);
    // A card that carries one of the controller's signing applications.
    bool Insert(int nReader, const char* pszAtrHex, const char* pszApp);
    bool Remove(int nReader);
    bool StopService() { return Command("pcscd stop"); }
    bool StartService() { return Command("pcscd start"); }

    // Time of the last card change asked for (GetTickCount), for callers that
    // must hold a state long enough for the service to see it.
    DWORD LastChangeTick() const { return m_dwLastChange; }

private:
    UINT_PTR m_socket;  // a SOCKET; winsock2.h stays out of the tests' headers
    bool m_bStarted;
    std::string m_strPending;
    DWORD m_dwLastChange;
};
