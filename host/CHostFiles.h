#pragma once
#include <string>

// Files of the host's machine as the library sees them: whether a path opens,
// and the next free temporary name in a folder. Stateless.
class CHostFiles {
public:
    // True when the path opens for reading (a locked file that cannot be opened
    // counts as absent, as the library always took it).
    static bool FileExists(const std::string& strPath);
    // "tvl0000.ext" to "tvl9999.ext" in strFolder (which ends with its
    // separator): the first that does not exist, else the last.
    static std::string MakeTempFileName(const std::string& strFolder,
                                        const std::string& strExtension);
};
