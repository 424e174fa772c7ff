#pragma once
#include <string>

// A value read from a file or a certificate, made safe for one log line: control
// characters (CR and LF above all, which would start a line of their own that
// reads like the library's) come out as "\xNN" and a backslash as "\\", so the
// text in the log tells them apart. Everything else is kept, accents included.
std::string LogEscape(const std::string& strValue);
