#include "CCardChannel.h"

DWORD CCardChannel::Open(SCARDCONTEXT hContext, const std::string& strReader)
{
    Close();
    LONG r = SCardConnectA(hContext, strReader.c_str(), SCARD_SHARE_SHARED,
                           SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, &m_hCard, &m_dwProtocol);
    if (r != SCARD_S_SUCCESS) {
        m_hCard = 0;
        return static_cast<DWORD>(r);
    }
    m_strReader = strReader;
    r = SCardBeginTransaction(m_hCard);
    if (r != SCARD_S_SUCCESS) {
        Close();
        return static_cast<DWORD>(r);
    }
    m_bTransaction = true;
    return 0;
}

void CCardChannel::Close()
{
    if (m_hCard == 0)
        return;
    if (m_bTransaction)
        SCardEndTransaction(m_hCard, SCARD_LEAVE_CARD);
    m_bTransaction = false;
    // Leave the card as it is: its verified PIN serves the next connection.
    SCardDisconnect(m_hCard, SCARD_LEAVE_CARD);
    m_hCard = 0;
}

DWORD CCardChannel::FailureOfTheLine(LONG lResult)
{
    if (lResult == static_cast<LONG>(SCARD_W_REMOVED_CARD) ||
        lResult == static_cast<LONG>(SCARD_E_NO_SMARTCARD))
        return static_cast<DWORD>(SCARD_W_REMOVED_CARD);
    // Whatever the transfer said, a card that is gone is the story.
    char szName[256];
    DWORD cchName = sizeof(szName), dwState = 0, dwProtocol = 0, cbAtr = 36;
    BYTE atr[36];
    LONG r = SCardStatusA(m_hCard, szName, &cchName, &dwState, &dwProtocol, atr, &cbAtr);
    if (r == static_cast<LONG>(SCARD_W_REMOVED_CARD) ||
        r == static_cast<LONG>(SCARD_E_NO_SMARTCARD) ||
        (r == SCARD_S_SUCCESS && dwState <= SCARD_ABSENT))
        return static_cast<DWORD>(SCARD_W_REMOVED_CARD);
    return static_cast<DWORD>(SCARD_F_COMM_ERROR);
}

DWORD CCardChannel::Transmit(const std::vector<BYTE>& apdu, std::vector<BYTE>& data, WORD& wStatus)
{
    data.clear();
    wStatus = 0;
    if (m_hCard == 0)
        return static_cast<DWORD>(SCARD_E_INVALID_HANDLE);
    SCARD_IO_REQUEST pci = {m_dwProtocol, sizeof(SCARD_IO_REQUEST)};
    BYTE response[258 + 2];
    DWORD cbResponse = sizeof(response);
    LONG r = SCardTransmit(m_hCard, &pci, apdu.data(), static_cast<DWORD>(apdu.size()), nullptr,
                           response, &cbResponse);
    if (r != SCARD_S_SUCCESS || cbResponse < 2)
        return FailureOfTheLine(r);
    wStatus = static_cast<WORD>((response[cbResponse - 2] << 8) | response[cbResponse - 1]);
    data.assign(response, response + cbResponse - 2);
    return 0;
}
