#pragma once
// One connection to the card in a reader, through winscard, inside a
// transaction for the life of the object.
#include <windows.h>
#include <winscard.h>

#include <string>
#include <vector>

class CCardChannel {
public:
    CCardChannel() {}
    ~CCardChannel() { Close(); }
    CCardChannel(const CCardChannel&) = delete;
    CCardChannel& operator=(const CCardChannel&) = delete;

    // 0, or the service's error (SCARD_E_NO_SMARTCARD when the reader is empty).
    DWORD Open(SCARDCONTEXT hContext, const std::string& strReader);
    void Close();
    bool IsOpen() const { return m_hCard != 0; }
    const std::string& Reader() const { return m_strReader; }

    // Sends one command APDU; on success the response data and status word.
    // A card that went away gives SCARD_W_REMOVED_CARD; a response without a
    // status word, or any other transport failure, SCARD_F_COMM_ERROR.
    DWORD Transmit(const std::vector<BYTE>& apdu, std::vector<BYTE>& data, WORD& wStatus);

private:
    DWORD FailureOfTheLine(LONG lResult);

    SCARDCONTEXT m_hContext = 0;
    SCARDHANDLE m_hCard = 0;
    DWORD m_dwProtocol = 0;
    bool m_bTransaction = false;
    std::string m_strReader;
};
