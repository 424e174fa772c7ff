#pragma once
#include <windows.h>

#include <string>

#include "cert/CertTypes.h"

class CCertificate;

// Key-usage flags as Spanish text: "Firma digital; No repudio". Flags 0 give "".
std::string KeyUsageText(int nKeyUsage);

// Kind of card holding the certificate's key: 1 Spanish identity card, 3 a card of
// the "TEMD_CSP" provider, 0 anything else (also when the certificate has no key
// provider, which is logged).
int GetCertificateCardType(CCertificate* pCertificate);

// Value of one attribute in a name written "KEY=VALUE; KEY=VALUE". Keys match with
// or without an "OID." prefix, ignoring case; the value comes back trimmed, empty
// when the key is absent. Values holding ";" or "=" are cut there.
std::string GetNameAttribute(const std::string& strName, const std::string& strOid);

// True when a name written "KEY=VALUE; KEY=VALUE + KEY=VALUE" (as the platform
// writes names, values with separators or blanks at an end in double quotes) has
// an attribute whose key and whole value are those of strAttribute ("KEY=VALUE"),
// letter case ignored. A value that merely contains the wanted one does not count.
bool NameHasAttributeValue(const std::string& strName, const std::string& strAttribute);

// The text without blanks, tabs and line ends at either end.
std::string Trim(const std::string& strText);

// A UTC file time as TIME64: seconds since 1970 of the local wall-clock time,
// daylight saving decided by the date itself. 0 when it cannot be converted.
TIME64 FileTimeToLocalTime64(const FILETIME& ftUtc);

// strftime of a TIME64 ("%d/%m/%Y, a las %H:%M"); "" when out of range.
std::string FormatTime64(TIME64 tTime, const char* pszFormat);
