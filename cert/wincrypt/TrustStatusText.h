#pragma once
#include <windows.h>

#include <string>

// Chain trust statuses as text for the log:
// "Error: CERT_TRUST_IS_NOT_TIME_VALID | ... Info: CERT_TRUST_IS_SELF_SIGNED".
std::string TrustStatusText(DWORD dwErrorStatus, DWORD dwInfoStatus);
