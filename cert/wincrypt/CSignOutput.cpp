#include "cert/wincrypt/CSignOutput.h"

#include "platform/framework/CFileHandle.h"

CFileSignOutput::CFileSignOutput(CFileHandle& file, DWORD nIoSize)
    : m_file(file), m_buffer(file, nIoSize), m_flushBehind(file.Get())
{
}

bool CFileSignOutput::Write(const uint8_t* pData, size_t nSize, DWORD& dwError)
{
    return m_buffer.Write(pData, nSize, dwError);
}

void CFileSignOutput::Consumed(size_t nSize)
{
    m_flushBehind.Written(nSize);
}

bool CFileSignOutput::Flush(DWORD& dwError)
{
    return m_buffer.Flush(dwError);
}

bool CFileSignOutput::Commit(DWORD& dwError)
{
    if (m_flushBehind.Finish() && FlushFileBuffers(m_file.Get()))
        return true;
    dwError = GetLastError();
    return false;
}

void CFileSignOutput::Abort()
{
    m_flushBehind.Finish();
}
