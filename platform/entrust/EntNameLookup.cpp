#include "platform/entrust/EntNameLookup.h"

#include <ws2tcpip.h>

#include <new>

namespace {
// Shared by the caller and the lookup thread; the last one out frees it.
struct CRequest {
    LONG nReferences;
    std::string strHost, strPort;
    sockaddr_in address;
    bool bResolved;
    HANDLE hDone;
    // This module, held for the thread; none for the program itself, never unloaded.
    HMODULE hModule;

    void Release()
    {
        if (InterlockedDecrement(&nReferences) == 0) {
            CloseHandle(hDone);
            delete this;
        }
    }
};

DWORD WINAPI LookupThread(LPVOID pParam)
{
    CRequest* pRequest = static_cast<CRequest*>(pParam);
    HMODULE hModule = pRequest->hModule;
    WSADATA data;
    bool bStarted = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    addrinfo hints = {};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* pResult = nullptr;
    if (bStarted && getaddrinfo(pRequest->strHost.c_str(), pRequest->strPort.c_str(), &hints, &pResult) == 0) {
        if (pResult->ai_addrlen >= sizeof(sockaddr_in)) {
            pRequest->address = *reinterpret_cast<const sockaddr_in*>(pResult->ai_addr);
            pRequest->bResolved = true;
        }
        freeaddrinfo(pResult);
    }
    if (bStarted)
        WSACleanup();
    SetEvent(pRequest->hDone);
    pRequest->Release();
    if (hModule != nullptr)
        FreeLibraryAndExitThread(hModule, 0);
    return 0;
}
}  // namespace

bool EntNameLookup::Resolve(const std::string& strHost, const std::string& strPort, DWORD dwTimeoutMs,
                            sockaddr_in& address)
{
    CRequest* pRequest = new (std::nothrow) CRequest();
    if (pRequest == nullptr)
        return false;
    pRequest->nReferences = 2;
    pRequest->strHost = strHost;
    pRequest->strPort = strPort;
    pRequest->bResolved = false;
    pRequest->hDone = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    // Taken before the thread starts: the caller may unload this module while it runs.
    pRequest->hModule = nullptr;
    if (GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                           reinterpret_cast<LPCWSTR>(&LookupThread), &pRequest->hModule) &&
        pRequest->hModule == GetModuleHandleW(nullptr)) {
        pRequest->hModule = nullptr;
    }
    HANDLE hThread = pRequest->hDone != nullptr
                         ? CreateThread(nullptr, 0, LookupThread, pRequest, 0, nullptr)
                         : nullptr;
    if (hThread == nullptr) {
        if (pRequest->hModule != nullptr)
            FreeLibrary(pRequest->hModule);
        if (pRequest->hDone != nullptr)
            CloseHandle(pRequest->hDone);
        delete pRequest;
        return false;
    }
    CloseHandle(hThread);
    bool bResolved = WaitForSingleObject(pRequest->hDone, dwTimeoutMs) == WAIT_OBJECT_0 &&
                     pRequest->bResolved;
    if (bResolved)
        address = pRequest->address;
    pRequest->Release();
    return bResolved;
}
