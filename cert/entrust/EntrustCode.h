#pragma once

// Judges a toolkit return code: a failure is thrown as kind Entrust with the
// context, any other non-zero code is logged as a warning with its text.
void CheckEntrustCode(short nCode, const char* pszContext);
