#include "util/CBase64Encoder.h"

static const char s_szAlphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Text written to the file at a time.
static const size_t kFileBlock = 1024 * 1024;

CBase64Encoder::CBase64Encoder()
    : m_pFile(NULL), m_nPending(0), m_nLineLength(-1), m_nColumn(0), m_bFileMode(1),
      m_bFailed(false), m_nBuffered(0)
{
    m_abGroup[0] = m_abGroup[1] = m_abGroup[2] = 0;
}

CBase64Encoder::~CBase64Encoder()
{
    Close();
}

bool CBase64Encoder::OpenFile(const char* pszPath, int nLineLength)
{
    Close();
    if (!pszPath || !*pszPath)
        return false;
    // The CRT's fopen shares the file for reading and writing.
    m_pFile = fopen(pszPath, "wb");
    if (!m_pFile)
        return false;
    m_nLineLength = nLineLength;
    m_bFileMode = 1;
    m_buffer.resize(kFileBlock);
    return true;
}

void CBase64Encoder::OpenString(int nLineLength)
{
    Close();
    m_nLineLength = nLineLength;
    m_bFileMode = 0;
}

void CBase64Encoder::Put(unsigned char byte)
{
    m_abGroup[m_nPending++] = byte;
    if (m_nPending == 3)
        EmitGroup(3);
}

void CBase64Encoder::Put(const unsigned char* pData, size_t nSize)
{
    while (nSize > 0 && m_nPending != 0) {
        Put(*pData++);
        --nSize;
    }
    // Whole groups straight into the file buffer; lines and strings byte by byte.
    if (m_bFileMode && m_nLineLength <= 0 && !m_buffer.empty()) {
        char* pOut = m_buffer.data();
        while (nSize >= 3) {
            if (m_buffer.size() - m_nBuffered < 4)
                FlushBuffer();
            size_t nGroups = (m_buffer.size() - m_nBuffered) / 4;
            if (nGroups > nSize / 3)
                nGroups = nSize / 3;
            char* p = pOut + m_nBuffered;
            for (size_t i = 0; i < nGroups; ++i, pData += 3, p += 4) {
                const unsigned b0 = pData[0], b1 = pData[1], b2 = pData[2];
                p[0] = s_szAlphabet[b0 >> 2];
                p[1] = s_szAlphabet[((b0 & 0x03) << 4) | (b1 >> 4)];
                p[2] = s_szAlphabet[((b1 & 0x0F) << 2) | (b2 >> 6)];
                p[3] = s_szAlphabet[b2 & 0x3F];
            }
            m_nBuffered += 4 * nGroups;
            nSize -= 3 * nGroups;
        }
    }
    while (nSize > 0) {
        Put(*pData++);
        --nSize;
    }
}

bool CBase64Encoder::Finish()
{
    if (m_nPending > 0) {
        for (int i = m_nPending; i < 3; i++)
            m_abGroup[i] = 0;
        EmitGroup(m_nPending);
    }
    if (m_bFileMode) {
        if (!m_pFile)
            return false;
        FlushBuffer();
        // A failed close may lose the data still in the CRT's buffer.
        if (fclose(m_pFile) != 0)
            m_bFailed = true;
        m_pFile = NULL;
    }
    return !m_bFailed;
}

void CBase64Encoder::Close()
{
    if (m_pFile) {
        fclose(m_pFile);
        m_pFile = NULL;
    }
    m_strText.clear();
    m_nPending = 0;
    m_nLineLength = -1;
    m_nColumn = 0;
    m_bFileMode = 1;
    m_bFailed = false;
    m_nBuffered = 0;
}

void CBase64Encoder::EmitGroup(int nBytes)
{
    const unsigned char b0 = m_abGroup[0], b1 = m_abGroup[1], b2 = m_abGroup[2];
    PutChar(s_szAlphabet[b0 >> 2]);
    PutChar(s_szAlphabet[((b0 & 0x03) << 4) | (b1 >> 4)]);
    PutChar(nBytes < 2 ? '=' : s_szAlphabet[((b1 & 0x0F) << 2) | (b2 >> 6)]);
    PutChar(nBytes < 3 ? '=' : s_szAlphabet[b2 & 0x3F]);
    m_nPending = 0;
}

void CBase64Encoder::PutChar(char c)
{
    // Without lines there is no column to count (it would overflow past 2 GB).
    if (m_nLineLength > 0) {
        if (m_nColumn + 1 > m_nLineLength) {
            WriteRaw('\n');
            m_nColumn = 0;
        }
        m_nColumn++;
    }
    WriteRaw(c);
}

void CBase64Encoder::WriteRaw(char c)
{
    if (!m_bFileMode) {
        m_strText += c;
        return;
    }
    if (m_buffer.empty())
        m_buffer.resize(kFileBlock);
    if (m_nBuffered == m_buffer.size())
        FlushBuffer();
    m_buffer[m_nBuffered++] = c;
}

void CBase64Encoder::FlushBuffer()
{
    if (m_nBuffered == 0)
        return;
    if (!m_pFile || fwrite(m_buffer.data(), 1, m_nBuffered, m_pFile) != m_nBuffered)
        m_bFailed = true;
    m_nBuffered = 0;
}
