#pragma once
#include <cstddef>

class GString;

// The toolkit's byte buffer. Its inline members are compiled into the library
// and exported with it under the names the platform's usual compiler gives them.
// The buffer belongs to the object (copies copy it) unless ClrBufferPtr forgot it.
class BinData {
public:
    BinData();
    ~BinData();
    BinData(const BinData& other);
    BinData& operator=(const BinData& other);

    unsigned char operator[](unsigned short nIndex) const;
    unsigned char operator[](unsigned long nIndex) const;
    operator unsigned char*();
    operator short*();
    operator unsigned short*();
    operator long*();
    operator unsigned long*();
    // Forgets the buffer without freeing it.
    void ClrBufferPtr();
    unsigned long GetAllocatedLength() const;
    unsigned long GetLength() const;
    int IsEmpty();

    // Replaces the contents with a copy of the bytes; false when out of memory.
    bool Assign(const void* pData, size_t nSize);
    // Frees the buffer.
    void Clear();
    // Upper-case hexadecimal, two digits a byte, no separators.
    GString ToHEX() const;

    unsigned char* m_pData;
    unsigned long m_nAllocatedLength;
    unsigned long m_nLength;
};
