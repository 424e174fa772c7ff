#include "CSigningCard.h"

#include "CspTrace.h"

namespace {
const BYTE kAid[] = {0xF0, 0x54, 0x56, 0x4C, 0x53, 0x49, 0x47, 0x4E};

std::vector<BYTE> Apdu(BYTE cla, BYTE ins, BYTE p1, BYTE p2, const std::vector<BYTE>& data,
                       bool bExpectData)
{
    std::vector<BYTE> apdu = {cla, ins, p1, p2};
    if (!data.empty()) {
        apdu.push_back(static_cast<BYTE>(data.size()));
        apdu.insert(apdu.end(), data.begin(), data.end());
    }
    if (bExpectData)
        apdu.push_back(0x00);  // up to 256 bytes
    return apdu;
}
}  // namespace

DWORD CSigningCard::ErrorOfStatus(WORD wStatus)
{
    if (wStatus == 0x9000)
        return 0;
    if ((wStatus & 0xFFF0) == 0x63C0)
        return static_cast<DWORD>(SCARD_W_WRONG_CHV);
    switch (wStatus) {
        case 0x6983:
            return static_cast<DWORD>(SCARD_W_CHV_BLOCKED);
        case 0x6982:
            return static_cast<DWORD>(SCARD_W_SECURITY_VIOLATION);
        case 0x6A82:
            return static_cast<DWORD>(NTE_BAD_KEYSET);
        case 0x6A88:
            return static_cast<DWORD>(NTE_NO_KEY);
        default:
            return static_cast<DWORD>(NTE_FAIL);
    }
}

DWORD CSigningCard::Command(const std::vector<BYTE>& apdu, std::vector<BYTE>& data, WORD& wStatus)
{
    DWORD dwError = m_channel.Transmit(apdu, data, wStatus);
    CspTrace("%s: %02X %02X -> %s %04X", m_channel.Reader().c_str(), apdu[0], apdu[1],
             dwError ? "error" : "sw", dwError ? static_cast<unsigned>(dwError) : wStatus);
    return dwError;
}

DWORD CSigningCard::Select()
{
    std::vector<BYTE> data;
    WORD sw;
    DWORD dwError =
        Command(Apdu(0x00, 0xA4, 0x04, 0x00, std::vector<BYTE>(kAid, kAid + 8), false), data, sw);
    if (dwError != 0)
        return dwError;
    // A card without our application answers as it likes.
    return sw == 0x9000 ? 0 : static_cast<DWORD>(NTE_BAD_KEYSET);
}

DWORD CSigningCard::ReadDirectory(std::vector<KeyEntry>& keys)
{
    keys.clear();
    std::vector<BYTE> data;
    WORD sw;
    DWORD dwError = Command(Apdu(0x80, 0xCA, 0x01, 0x00, {}, true), data, sw);
    if (dwError != 0)
        return dwError;
    if (sw != 0x9000)
        return ErrorOfStatus(sw);
    for (size_t i = 0; i + 2 <= data.size();) {
        size_t n = data[i + 1];
        if (i + 2 + n > data.size())
            return static_cast<DWORD>(NTE_FAIL);
        keys.push_back({data[i], std::string(data.begin() + i + 2, data.begin() + i + 2 + n)});
        i += 2 + n;
    }
    return 0;
}

DWORD CSigningCard::ReadPublicKey(BYTE nRef, std::vector<BYTE>& modulus,
                                  std::vector<BYTE>& exponent)
{
    WORD sw;
    DWORD dwError = Command(Apdu(0x80, 0xCA, 0x02, nRef, {}, true), modulus, sw);
    if (dwError == 0 && sw != 0x9000)
        dwError = ErrorOfStatus(sw);
    if (dwError == 0)
        dwError = Command(Apdu(0x80, 0xCA, 0x03, nRef, {}, true), exponent, sw);
    if (dwError == 0 && sw != 0x9000)
        dwError = ErrorOfStatus(sw);
    if (dwError == 0 && (modulus.empty() || exponent.empty() || exponent.size() > 4))
        dwError = static_cast<DWORD>(NTE_FAIL);
    return dwError;
}

DWORD CSigningCard::PinStatus(bool& bVerified, int* pnTries)
{
    bVerified = false;
    if (pnTries != nullptr)
        *pnTries = -1;
    std::vector<BYTE> data;
    WORD sw;
    DWORD dwError = Command(Apdu(0x00, 0x20, 0x00, 0x81, {}, false), data, sw);
    if (dwError != 0)
        return dwError;
    if (sw == 0x9000) {
        bVerified = true;
        return 0;
    }
    if ((sw & 0xFFF0) == 0x63C0) {
        if (pnTries != nullptr)
            *pnTries = sw & 0x0F;
        return 0;
    }
    return ErrorOfStatus(sw);
}

DWORD CSigningCard::VerifyPin(const std::string& strPin, int* pnTries)
{
    if (pnTries != nullptr)
        *pnTries = -1;
    std::vector<BYTE> data;
    WORD sw;
    DWORD dwError = Command(
        Apdu(0x00, 0x20, 0x00, 0x81, std::vector<BYTE>(strPin.begin(), strPin.end()), false), data,
        sw);
    if (dwError != 0)
        return dwError;
    if ((sw & 0xFFF0) == 0x63C0 && pnTries != nullptr)
        *pnTries = sw & 0x0F;
    return ErrorOfStatus(sw);
}

DWORD CSigningCard::SelectKey(BYTE nRef)
{
    std::vector<BYTE> data;
    WORD sw;
    DWORD dwError = Command(Apdu(0x00, 0x22, 0x41, 0xB6, {0x84, 0x01, nRef}, false), data, sw);
    return dwError != 0 ? dwError : ErrorOfStatus(sw);
}

DWORD CSigningCard::Sign(const std::vector<BYTE>& digestInfo, std::vector<BYTE>& signature)
{
    WORD sw;
    DWORD dwError = Command(Apdu(0x00, 0x2A, 0x9E, 0x9A, digestInfo, true), signature, sw);
    if (dwError != 0)
        return dwError;
    return ErrorOfStatus(sw);
}
