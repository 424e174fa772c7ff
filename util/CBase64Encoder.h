#pragma once
#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

// Streaming Base64 writer (RFC 4648 alphabet, "=" padding). Bytes go in one at
// a time; text goes to a file or to a string. Lines are split with a bare LF
// when a line length above 0 is given; no LF follows the last character.
class CBase64Encoder {
public:
    CBase64Encoder();
    virtual ~CBase64Encoder();

    // Creates or truncates the file (binary, no sharing restrictions).
    bool OpenFile(const char* pszPath, int nLineLength);
    void OpenString(int nLineLength);

    void Put(unsigned char byte);
    // The same text as Put for each byte in turn, a group of three at a time.
    void Put(const unsigned char* pData, size_t nSize);
    // Emits the last group and, in file mode, flushes and closes the file.
    // False when any part of the text could not be written.
    bool Finish();

    // False once a write to the file has failed; the text is then incomplete.
    bool Good() const { return !m_bFailed; }
    const std::string& Text() const { return m_strText; }
    void Close();

private:
    CBase64Encoder(const CBase64Encoder&);
    CBase64Encoder& operator=(const CBase64Encoder&);

    void EmitGroup(int nBytes);
    void PutChar(char c);
    void WriteRaw(char c);
    void FlushBuffer();

    FILE* m_pFile;
    std::string m_strText;
    int m_nPending;
    unsigned char m_abGroup[3];
    int m_nLineLength;
    int m_nColumn;
    int m_bFileMode;
    bool m_bFailed;
    // File output is gathered here so that the stream is written in blocks.
    std::vector<char> m_buffer;
    size_t m_nBuffered;
};
