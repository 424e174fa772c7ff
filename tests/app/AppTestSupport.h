#pragma once
// The application tests' ini file beside the executable, and its thread count.
#include <windows.h>

#include <string>

#include "app/CTarvoselApp.h"
#include "tests/support/ProcessCounts.h"
#include "tests/support/TestFiles.h"

namespace apptest {

inline std::string IniPath()
{
    return tvltest::ExeFolder() + "tarvosel.ini";
}

inline void WriteIni(const std::string& strKeys)
{
    tvltest::WriteAll(IniPath(), "[Configuracion tarvosel]\r\n" + strKeys);
}

inline int CountThreads()
{
    return tvltest::CountProcessThreads();
}

}  // namespace apptest
