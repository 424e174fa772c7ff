#pragma once

// The toolkit's byte buffer. Its inline members are compiled into the library
// and exported with it under the names the platform's usual compiler gives them.
class BinData {
public:
    BinData();
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

    unsigned char* m_pData;
    unsigned long m_nAllocatedLength;
    unsigned long m_nLength;
};
