#pragma once
// The bench card's signing application, command by command, over an open
// channel. Every operation returns 0 or the provider error its answer means.
#include <windows.h>

#include <string>
#include <vector>

#include "CCardChannel.h"

class CSigningCard {
public:
    struct KeyEntry {
        BYTE nRef;
        std::string strLabel;
    };

    explicit CSigningCard(CCardChannel& channel) : m_channel(channel) {}
    CCardChannel& Channel() { return m_channel; }

    // NTE_BAD_KEYSET when the card does not carry the application.
    DWORD Select();
    DWORD ReadDirectory(std::vector<KeyEntry>& keys);
    // Modulus and public exponent, most significant byte first.
    DWORD ReadPublicKey(BYTE nRef, std::vector<BYTE>& modulus, std::vector<BYTE>& exponent);
    // Whether the card holds a verified PIN now; *pnTries gets the tries left
    // (-1 when the card did not say).
    DWORD PinStatus(bool& bVerified, int* pnTries);
    // SCARD_W_WRONG_CHV, SCARD_W_CHV_BLOCKED or 0.
    DWORD VerifyPin(const std::string& strPin, int* pnTries);
    DWORD SelectKey(BYTE nRef);
    // The card's PKCS#1 v1.5 signature of a DigestInfo, most significant byte first.
    DWORD Sign(const std::vector<BYTE>& digestInfo, std::vector<BYTE>& signature);

private:
    DWORD Command(const std::vector<BYTE>& apdu, std::vector<BYTE>& data, WORD& wStatus);
    static DWORD ErrorOfStatus(WORD wStatus);

    CCardChannel& m_channel;
};
