#pragma once
#include <windows.h>

#include <cstddef>
#include <cstdint>

// Bytes handed from one layer of the signing pipeline to the next without a
// file between them.
class CByteSource {
public:
    virtual ~CByteSource() {}
    // Up to nSize bytes into pData; fewer only at the end of the data. False,
    // with dwError set, when the data cannot be had.
    virtual bool Read(uint8_t* pData, size_t nSize, size_t& nRead, DWORD& dwError) = 0;
};

class CByteSink {
public:
    virtual ~CByteSink() {}
    // False, with dwError set, when the bytes cannot be taken.
    virtual bool Write(const uint8_t* pData, size_t nSize, DWORD& dwError) = 0;
};
