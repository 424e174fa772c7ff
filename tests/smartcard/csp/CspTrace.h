#pragma once
// A line per card command and provider call, appended to the file that the
// environment variable TVL_CARDCSP_TRACE names; nothing without it.
void CspTrace(const char* pszFormat, ...);
