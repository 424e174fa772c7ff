#include "CspTrace.h"

#include <windows.h>

#include <stdarg.h>
#include <stdio.h>

void CspTrace(const char* pszFormat, ...)
{
    char szPath[MAX_PATH];
    DWORD n = GetEnvironmentVariableA("TVL_CARDCSP_TRACE", szPath, sizeof(szPath));
    if (n == 0 || n >= sizeof(szPath))
        return;
    char szLine[1024];
    va_list args;
    va_start(args, pszFormat);
    _vsnprintf(szLine, sizeof(szLine) - 1, pszFormat, args);
    va_end(args);
    szLine[sizeof(szLine) - 1] = '\0';
    if (FILE* f = fopen(szPath, "a")) {
        fprintf(f, "%lu %lu %s\n", GetCurrentProcessId(), GetCurrentThreadId(), szLine);
        fclose(f);
    }
}
