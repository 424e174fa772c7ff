#include "host/CHostFiles.h"

#include <windows.h>

#include <stdio.h>

bool CHostFiles::FileExists(const std::string& strPath)
{
    if (strPath.empty())
        return false;
    HANDLE h = CreateFileA(strPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(h);
    return true;
}

std::string CHostFiles::MakeTempFileName(const std::string& strFolder,
                                         const std::string& strExtension)
{
    std::string strName;
    for (int i = 0; i <= 9999; ++i) {
        char szNumber[8];
        snprintf(szNumber, sizeof(szNumber), "%.4i", i);
        strName = strFolder + "tvl" + szNumber + "." + strExtension;
        if (!FileExists(strName))
            break;
    }
    return strName;
}
