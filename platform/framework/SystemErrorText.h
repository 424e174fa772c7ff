#pragma once
// The system's text for a Windows error code (FormatMessage), without the
// line end the system puts after it; empty when the system has no text for
// the code. Callers choose what stands in for a missing text.
#include <windows.h>

#include <string>

std::string SystemErrorText(DWORD dwError, DWORD dwLanguage = 0);
std::wstring SystemErrorTextW(DWORD dwError, DWORD dwLanguage = 0);
