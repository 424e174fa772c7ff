#include "CCardChannel.h"

#include "CspTrace.h"

namespace {
// pcscd looks at its readers about every 400 ms.
const DWORD kSettleMs = 1500;
}  // namespace

DWORD CCardChannel::Open(SCARDCONTEXT hContext, const std::string& strReader)
{
    Close();
    LONG r = SCardConnectA(hContext, strReader.c_str(), SCARD_SHARE_SHARED,
                           SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, &m_hCard, &m_dwProtocol);
    if (r != SCARD_S_SUCCESS) {
        m_hCard = 0;
        return static_cast<DWORD>(r);
    }
    m_hContext = hContext;
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
    const DWORD kRemoved = static_cast<DWORD>(SCARD_W_REMOVED_CARD);
    if (lResult == static_cast<LONG>(SCARD_W_REMOVED_CARD) ||
        lResult == static_cast<LONG>(SCARD_E_NO_SMARTCARD))
        return kRemoved;
    // Whatever the transfer said, a card that is gone is the story. A card
    // pulled in the middle of a command breaks the line before the service
    // has seen the reader empty: give the reader a moment to tell.
    SCARD_READERSTATEA state = {};
    state.szReader = m_strReader.c_str();
    state.dwCurrentState = SCARD_STATE_UNAWARE;
    DWORD dwStart = GetTickCount();
    for (;;) {
        DWORD dwWait = state.dwCurrentState == SCARD_STATE_UNAWARE ? 0 : 250;
        LONG r = SCardGetStatusChangeA(m_hContext, dwWait, &state, 1);
        if (r == SCARD_S_SUCCESS && (state.dwEventState & SCARD_STATE_EMPTY))
            return kRemoved;
        if ((r != SCARD_S_SUCCESS && r != static_cast<LONG>(SCARD_E_TIMEOUT)) ||
            GetTickCount() - dwStart > kSettleMs) {
            CspTrace("%s: line failure 0x%08lx, reader 0x%08lx", m_strReader.c_str(), lResult,
                     state.dwEventState);
            return static_cast<DWORD>(SCARD_F_COMM_ERROR);
        }
        state.dwCurrentState = state.dwEventState & ~SCARD_STATE_CHANGED;
    }
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
    // A card that answered something is still there: the answer was garbled.
    if (r == SCARD_S_SUCCESS && cbResponse == 1)
        return static_cast<DWORD>(SCARD_F_COMM_ERROR);
    if (r != SCARD_S_SUCCESS || cbResponse < 2)
        return FailureOfTheLine(r);
    wStatus = static_cast<WORD>((response[cbResponse - 2] << 8) | response[cbResponse - 1]);
    data.assign(response, response + cbResponse - 2);
    return 0;
}
