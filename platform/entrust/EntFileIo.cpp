#include "platform/entrust/EntFileIo.h"

#include "platform/framework/CFileHandle.h"

EntFileIo::EResult EntFileIo::ReadWhole(const std::string& strPath, size_t nMax,
                                        std::vector<uint8_t>& data)
{
    CFileHandle file(CreateFileA(strPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid())
        return IO_CANNOT_OPEN;
    return ReadWhole(file.Get(), nMax, data);
}

EntFileIo::EResult EntFileIo::ReadWhole(HANDLE hFile, size_t nMax, std::vector<uint8_t>& data)
{
    data.clear();
    LARGE_INTEGER size;
    if (!GetFileSizeEx(hFile, &size))
        return IO_FAILED;
    if (size.QuadPart > static_cast<LONGLONG>(nMax))
        return IO_TOO_BIG;
    data.resize(static_cast<size_t>(size.QuadPart));
    DWORD dwRead = 0;
    if (!data.empty() && (!ReadFile(hFile, data.data(), static_cast<DWORD>(data.size()), &dwRead, nullptr) ||
                          dwRead != data.size())) {
        data.clear();
        return IO_FAILED;
    }
    return IO_OK;
}

bool EntFileIo::WriteWhole(const std::string& strPath, const std::vector<uint8_t>& data)
{
    CFileHandle file(CreateFileA(strPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                 CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid())
        return false;
    DWORD dwError = 0;
    bool bOk = file.WriteAll(data.data(), data.size(), dwError) && FlushFileBuffers(file.Get());
    file.Close();
    if (!bOk)
        DeleteFileA(strPath.c_str());
    return bOk;
}
