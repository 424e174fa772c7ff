#pragma once
// The few toolkit functions the library's core needs to describe and judge
// toolkit return codes. The toolkit itself is not present on this machine;
// these are our own stand-ins with the toolkit's names.

// Text of a toolkit return code; NULL when the toolkit has none.
const char* EntLogToString(short nCode);
// Non-zero when the code is a warning rather than a failure.
int QueryEntLogWarning(short nCode);
// Strips the warning part of a code in place.
void RemoveWarning(short* pnCode);
