#include "platform/entrust/BinData.h"

#include <new>
#include <string.h>

#include "platform/entrust/GString.h"

BinData::BinData() : m_pData(nullptr), m_nAllocatedLength(0), m_nLength(0) {}

BinData::~BinData()
{
    Clear();
}

BinData::BinData(const BinData& other) : m_pData(nullptr), m_nAllocatedLength(0), m_nLength(0)
{
    Assign(other.m_pData, other.m_nLength);
}

BinData& BinData::operator=(const BinData& other)
{
    if (this != &other)
        Assign(other.m_pData, other.m_nLength);
    return *this;
}

bool BinData::Assign(const void* pData, size_t nSize)
{
    unsigned char* pNew = nullptr;
    if (nSize > 0) {
        pNew = new (std::nothrow) unsigned char[nSize];
        if (pNew == nullptr)
            return false;
        memcpy(pNew, pData, nSize);
    }
    Clear();
    m_pData = pNew;
    m_nAllocatedLength = static_cast<unsigned long>(nSize);
    m_nLength = static_cast<unsigned long>(nSize);
    return true;
}

void BinData::Clear()
{
    delete[] m_pData;
    ClrBufferPtr();
}

GString BinData::ToHEX() const
{
    static const char kHex[] = "0123456789ABCDEF";
    std::string strText;
    for (unsigned long i = 0; i < m_nLength; ++i) {
        strText += kHex[m_pData[i] >> 4];
        strText += kHex[m_pData[i] & 0x0F];
    }
    return GString(strText);
}

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
