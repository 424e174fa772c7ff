#include "platform/entrust/BinData.h"

BinData::BinData() : m_pData(nullptr), m_nAllocatedLength(0), m_nLength(0) {}

unsigned char BinData::operator[](unsigned short nIndex) const
{
    return m_pData[nIndex];
}

unsigned char BinData::operator[](unsigned long nIndex) const
{
    return m_pData[nIndex];
}

BinData::operator unsigned char*()
{
    return m_pData;
}

BinData::operator short*()
{
    return reinterpret_cast<short*>(m_pData);
}

BinData::operator unsigned short*()
{
    return reinterpret_cast<unsigned short*>(m_pData);
}

BinData::operator long*()
{
    return reinterpret_cast<long*>(m_pData);
}

BinData::operator unsigned long*()
{
    return reinterpret_cast<unsigned long*>(m_pData);
}

void BinData::ClrBufferPtr()
{
    m_pData = nullptr;
    m_nAllocatedLength = 0;
    m_nLength = 0;
}

unsigned long BinData::GetAllocatedLength() const
{
    return m_nAllocatedLength;
}

unsigned long BinData::GetLength() const
{
    return m_nLength;
}

int BinData::IsEmpty()
{
    return m_nLength == 0;
}
