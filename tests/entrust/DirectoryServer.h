#pragma once
// A small LDAPv3 directory for the tests: on 127.0.0.1 at a port the system
// picks, in a thread of the test process. It answers anonymous binds and base
// searches of the one entry it publishes (a revocation list), and counts the
// connections it accepted. Asked to trickle, it answers the first request with
// the start of a message it never finishes: a byte now and then until it stops.
#include <windows.h>

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

class CDirectoryServer {
public:
    CDirectoryServer();
    ~CDirectoryServer();

    bool IsRunning() const { return m_hThread != nullptr; }
    // "127.0.0.1:<port>", as the initialisation file names the server.
    std::string Address() const;
    // The entry whose attribute certificateRevocationList;binary holds the list.
    void Publish(const std::string& strBase, const std::vector<uint8_t>& crl);
    int Connections() const;
    void SetTrickle(bool bTrickle) { InterlockedExchange(&m_bTrickle, bTrickle ? 1 : 0); }
    // Runs on the server's thread for each connection before it is answered:
    // the client waits for its bind meanwhile.
    void OnConnection(std::function<void()> fn);
    std::string LastBase() const;

private:
    CDirectoryServer(const CDirectoryServer&) = delete;
    CDirectoryServer& operator=(const CDirectoryServer&) = delete;

    static DWORD WINAPI ThreadProc(LPVOID pParam);
    void Run();
    void Serve(uintptr_t s);

    uintptr_t m_listen;  // the listening SOCKET
    int m_nPort;
    HANDLE m_hThread;
    volatile LONG m_bStop;
    volatile LONG m_bTrickle = 0;
    mutable std::mutex m_mutex;
    std::string m_strBase;
    std::vector<uint8_t> m_crl;
    int m_nConnections;
    std::function<void()> m_fnOnConnection;
    std::string m_strLastBase;
};
