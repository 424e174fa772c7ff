#pragma once
#include <cstddef>

// Streaming Base64 reader. Characters outside the alphabet (blanks, line ends,
// "=") are skipped, so decoding never fails. Decoded bytes collect in a buffer
// of BUFFER_SIZE bytes; Put returns false when it has become full, and the
// caller takes Data()/Count() before the next Put.
class CBase64Decoder {
public:
    enum { BUFFER_SIZE = 3000 };  // a multiple of 3: a full buffer ends on a quad

    CBase64Decoder();
    virtual ~CBase64Decoder() {}

    void Reset();
    bool Put(char c);
    // Decodes nText characters straight into pOut, which has room for three
    // bytes per four characters; returns the bytes written. The bytes are those
    // Put would give character by character, a quad left incomplete carries on
    // to the next call or to Finish. Only while the buffer holds nothing not
    // yet taken.
    size_t Decode(const char* pText, size_t nText, unsigned char* pOut);
    // Decodes a last, incomplete quad. Bytes of a full buffer already
    // reported by Put are not counted again. The caller takes what is left;
    // a later Put starts an empty buffer.
    void Finish();

    const unsigned char* Data() const { return m_abOutput; }
    int Count() const { return m_nOutput; }

private:
    void DecodeQuad(int nValues);

    unsigned char m_abQuad[4];
    int m_nQuad;
    unsigned char m_abOutput[BUFFER_SIZE];
    int m_nOutput;
    bool m_bFinished;  // the buffer was handed over by Finish
};
