#include "util/CBase64Decoder.h"

// 6-bit value of a Base64 character, or -1 for anything else.
static constexpr int Base64Value(unsigned char c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

// Base64Value of every character.
struct CValueTable {
    signed char aValue[256];
    constexpr CValueTable() : aValue()
    {
        for (int c = 0; c < 256; ++c)
            aValue[c] = static_cast<signed char>(Base64Value(static_cast<unsigned char>(c)));
    }
};
static constexpr CValueTable s_values;

CBase64Decoder::CBase64Decoder()
{
    m_abQuad[0] = m_abQuad[1] = m_abQuad[2] = m_abQuad[3] = 0;
    Reset();
}

void CBase64Decoder::Reset()
{
    m_nQuad = 0;
    m_nOutput = 0;
    m_bFinished = false;
}

bool CBase64Decoder::Put(char c)
{
    // A full buffer was returned to the caller by the previous Put, or what Finish
    // left was: either way the caller has it, and a quad must fit whole.
    if (m_nOutput >= BUFFER_SIZE || m_bFinished) {
        m_nOutput = 0;
        m_bFinished = false;
    }
    const int nValue = Base64Value(static_cast<unsigned char>(c));
    if (nValue >= 0) {
        m_abQuad[m_nQuad++] = static_cast<unsigned char>(nValue);
        if (m_nQuad == 4)
            DecodeQuad(4);
    }
    return m_nOutput < BUFFER_SIZE;
}

size_t CBase64Decoder::Decode(const char* pText, size_t nText, unsigned char* pOut)
{
    const signed char* aValue = s_values.aValue;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(pText);
    const unsigned char* pEnd = p + nText;
    unsigned char* q = pOut;
    while (p < pEnd) {
        // Four alphabet characters in a row, the usual case, at once.
        if (m_nQuad == 0 && pEnd - p >= 4) {
            const int v0 = aValue[p[0]], v1 = aValue[p[1]], v2 = aValue[p[2]], v3 = aValue[p[3]];
            if ((v0 | v1 | v2 | v3) >= 0) {
                q[0] = static_cast<unsigned char>((v0 << 2) | (v1 >> 4));
                q[1] = static_cast<unsigned char>((v1 << 4) | (v2 >> 2));
                q[2] = static_cast<unsigned char>((v2 << 6) | v3);
                q += 3;
                p += 4;
                continue;
            }
        }
        const int v = aValue[*p++];
        if (v < 0)
            continue;
        m_abQuad[m_nQuad++] = static_cast<unsigned char>(v);
        if (m_nQuad == 4) {
            q[0] = static_cast<unsigned char>((m_abQuad[0] << 2) | (m_abQuad[1] >> 4));
            q[1] = static_cast<unsigned char>((m_abQuad[1] << 4) | (m_abQuad[2] >> 2));
            q[2] = static_cast<unsigned char>((m_abQuad[2] << 6) | m_abQuad[3]);
            q += 3;
            m_nQuad = 0;
        }
    }
    m_nOutput = 0;
    m_bFinished = false;
    return static_cast<size_t>(q - pOut);
}

void CBase64Decoder::Finish()
{
    if (m_nOutput >= BUFFER_SIZE)
        m_nOutput = 0;
    if (m_nQuad > 0) {
        for (int i = m_nQuad; i < 4; i++)
            m_abQuad[i] = 0;
        DecodeQuad(m_nQuad);
    }
    m_bFinished = true;
}

void CBase64Decoder::DecodeQuad(int nValues)
{
    const unsigned char q0 = m_abQuad[0], q1 = m_abQuad[1], q2 = m_abQuad[2],
                        q3 = m_abQuad[3];
    m_abOutput[m_nOutput++] = static_cast<unsigned char>((q0 << 2) | (q1 >> 4));
    if (nValues > 2)
        m_abOutput[m_nOutput++] = static_cast<unsigned char>((q1 << 4) | (q2 >> 2));
    if (nValues > 3)
        m_abOutput[m_nOutput++] = static_cast<unsigned char>((q2 << 6) | q3);
    m_nQuad = 0;
}
