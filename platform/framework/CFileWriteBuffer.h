#pragma once
#include <windows.h>

#include <string.h>

#include <vector>

#include "platform/framework/CFileHandle.h"

// Writes to a file gathered into blocks of a fixed size, so that a stream of
// small pieces costs one system call per block. Flush writes what is left;
// nothing is written at destruction.
class CFileWriteBuffer {
public:
    CFileWriteBuffer(CFileHandle& file, size_t nBlock) : m_file(file), m_nBlock(nBlock) {}

    // False, with dwError set, when a block could not be written.
    bool Write(const void* pData, size_t nSize, DWORD& dwError)
    {
        const BYTE* p = static_cast<const BYTE*>(pData);
        if (m_buffer.empty())
            m_buffer.resize(m_nBlock);
        while (nSize > 0) {
            if (m_nUsed == 0 && nSize >= m_nBlock) {
                // Whole blocks go straight to the file.
                size_t nWhole = nSize - nSize % m_nBlock;
                if (!m_file.WriteAll(p, nWhole, dwError))
                    return false;
                p += nWhole;
                nSize -= nWhole;
                continue;
            }
            size_t nTake = m_nBlock - m_nUsed;
            if (nTake > nSize)
                nTake = nSize;
            memcpy(m_buffer.data() + m_nUsed, p, nTake);
            m_nUsed += nTake;
            p += nTake;
            nSize -= nTake;
            if (m_nUsed == m_nBlock && !Flush(dwError))
                return false;
        }
        return true;
    }

    bool Flush(DWORD& dwError)
    {
        size_t nUsed = m_nUsed;
        m_nUsed = 0;
        return nUsed == 0 || m_file.WriteAll(m_buffer.data(), nUsed, dwError);
    }

private:
    CFileWriteBuffer(const CFileWriteBuffer&) = delete;
    CFileWriteBuffer& operator=(const CFileWriteBuffer&) = delete;

    CFileHandle& m_file;
    size_t m_nBlock;
    std::vector<BYTE> m_buffer;
    size_t m_nUsed = 0;
};
