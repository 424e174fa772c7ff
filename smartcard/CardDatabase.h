#pragma once
#include <windows.h>

// Card type of an ATR from the card registrations Windows keeps under
// HKLM\SOFTWARE\Microsoft\Cryptography\Calais\SmartCards: the first
// registration whose "ATRMask" has the ATR's length and whose masked "ATR"
// matches. pszCardName and pszProvider are 256-byte buffers, both left empty
// when nothing matches. Never throws; registry failures are logged.
void GetCardType(const BYTE* pbAtr, DWORD cbAtr, char* pszCardName, char* pszProvider);
