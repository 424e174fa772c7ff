#include "util/CBase64Decoder.h"

// 6-bit value of a Base64 character, or -1 for anything else.
static int Base64Value(unsigned char c)
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
