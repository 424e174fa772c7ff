#pragma once
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

// Whole small files in and out, for the toolkit's profile, policy certificate,
// address book and exports.
class EntFileIo {
public:
    enum EResult { IO_OK, IO_CANNOT_OPEN, IO_TOO_BIG, IO_FAILED };

    // The whole file, opened for reading with others allowed to read; nothing
    // is read from a file larger than nMax bytes.
    static EResult ReadWhole(const std::string& strPath, size_t nMax, std::vector<uint8_t>& data);
    // The same from an open handle, from its start.
    static EResult ReadWhole(HANDLE hFile, size_t nMax, std::vector<uint8_t>& data);
    // A new file (created or truncated) with the bytes, flushed; one that was not
    // written whole is removed.
    static bool WriteWhole(const std::string& strPath, const std::vector<uint8_t>& data);
};
