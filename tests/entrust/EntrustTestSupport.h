#pragma once
// The profile test material made by tests/fixtures/epf/mkepf.py (fixture "epf"),
// scratch copies of it, and the folder checks the profile tests share.
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/pkcs12/CCryptoPrimitives.h"
#include "platform/pkcs12/CPkcs12Reader.h"
#include "tests/support/TestFiles.h"

namespace epftest {

const char kPassword[] = "Prueba1234";
// Day 0 of the renewal-arithmetic certificates: 2031-01-01 00:00:00 UTC.
const long long kDay0 = 1924992000LL;
const long long kDay = 86400;

inline std::string Fixture(const std::string& strName)
{
    return std::string(TVL_EPF_DIR) + "\\" + strName;
}

inline std::vector<BYTE> FixtureBytes(const std::string& strName)
{
    return tvltest::ReadBytes(Fixture(strName));
}

// Copies profile NAME.epf (and NAME.pch when bPolicy) into the folder as AS.epf
// (AS.pch); returns the profile's path.
inline std::string CopyProfile(const std::string& strFolder, const std::string& strName,
                               const std::string& strAs = std::string(), bool bPolicy = true)
{
    std::string strTarget = strFolder + (strAs.empty() ? strName : strAs);
    CopyFileA(Fixture(strName + ".epf").c_str(), (strTarget + ".epf").c_str(), FALSE);
    if (bPolicy)
        CopyFileA(Fixture(strName + ".pch").c_str(), (strTarget + ".pch").c_str(), FALSE);
    return strTarget + ".epf";
}

// An initialisation file naming the directory.
inline std::string WriteIni(const std::string& strPath, const std::string& strServer,
                            const std::string& strProtocol = "LDAPv3")
{
    tvltest::WriteAll(strPath, "[Entrust Settings]\r\nserver=" + strServer +
                                   "\r\n[Directory Connection Settings]\r\nDirectoryProtocol=" +
                                   strProtocol + "\r\n");
    return strPath;
}

// The names of the files in a folder, sorted.
inline std::vector<std::string> FilesIn(const std::string& strFolder)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((strFolder + "*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                names.push_back(fd.cFileName);
        } while (FindNextFileA(h, &fd));
        FindClose(h);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Size, last-write time, attributes and (for a small file) contents, to see
// that nothing touched a file.
struct FileState {
    std::string strData;
    unsigned long long nSize = 0;
    FILETIME ftWrite = {};
    DWORD dwAttributes = 0;

    static FileState Of(const std::string& strPath)
    {
        FileState s;
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (GetFileAttributesExA(strPath.c_str(), GetFileExInfoStandard, &data)) {
            s.nSize = (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
            s.ftWrite = data.ftLastWriteTime;
            s.dwAttributes = data.dwFileAttributes;
        }
        if (s.nSize < 16 * 1024 * 1024)
            s.strData = tvltest::ReadAll(strPath);
        return s;
    }
    bool operator==(const FileState& o) const
    {
        return strData == o.strData && nSize == o.nSize && CompareFileTime(&ftWrite, &o.ftWrite) == 0 &&
               dwAttributes == o.dwAttributes;
    }
};

// The certificates of a PKCS#12 file, each with whether its key is there too.
inline std::vector<std::pair<std::vector<uint8_t>, bool>> Pkcs12Entries(
    const std::string& strPath, const std::string& strPassword, bool* pbRead = nullptr)
{
    std::vector<BYTE> data = tvltest::ReadBytes(strPath);
    CCryptoPrimitives crypto;
    CPkcs12Reader reader(crypto);
    std::vector<CPkcs12Bag> bags;
    std::wstring strWide(strPassword.begin(), strPassword.end());
    bool bRead = reader.Read(data.data(), data.size(), strWide, bags) == EPkcs12Error::Ok;
    if (pbRead != nullptr)
        *pbRead = bRead;
    std::vector<std::pair<std::vector<uint8_t>, bool>> entries;
    for (const CPkcs12Bag& b : bags) {
        if (b.eType != CPkcs12Bag::BAG_CERTIFICATE)
            continue;
        bool bKey = false;
        for (const CPkcs12Bag& k : bags)
            bKey = bKey || (k.eType == CPkcs12Bag::BAG_KEY && k.localKeyId == b.localKeyId);
        entries.push_back(std::make_pair(b.data, bKey));
    }
    return entries;
}

}  // namespace epftest
