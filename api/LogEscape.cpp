#include "api/LogEscape.h"

#include <stdio.h>

std::string LogEscape(const std::string& strValue)
{
    std::string strOut;
    strOut.reserve(strValue.size());
    for (char c : strValue) {
        unsigned char b = static_cast<unsigned char>(c);
        if (b < 0x20 || b == 0x7F) {
            char szCode[5];
            snprintf(szCode, sizeof(szCode), "\\x%02X", b);
            strOut += szCode;
        } else if (c == '\\') {
            strOut += "\\\\";
        } else {
            strOut += c;
        }
    }
    return strOut;
}
