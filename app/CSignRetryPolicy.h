#pragma once
#include <windows.h>
#include <stdint.h>

#include <vector>

#include "cert/CSession.h"

// When the signing pipeline signs again after a card or provider failure, how
// long it waits first and with which variant. A table of rows, one per failure
// it retries, and pure functions over an attempt state: the pipeline keeps the
// state, the policy decides.
class CSignRetryPolicy {
public:
    // Which count bounds a row's tries.
    enum class ECount {
        FirstAttempt,  // only the very first attempt is tried again
        Shared,        // the count the transient failures share
        Security,      // a count of its own, which starts the shared one again
    };
    // When a row moves the next attempts to the plain SignFile variant.
    enum class ESwitch { Never, Always, AtTurns };

    struct CRow {
        uint32_t dwFailure;  // the platform's code the row matches
        DWORD dwWaitMs;      // before the next attempt
        ESwitch eSwitch;
        ECount eCount;
        int nMaxTries;  // tries of its count; FirstAttempt rows: 1
        bool bLogged;   // the failure's code goes to the log
    };

    struct CState {
        int nRetries = 0;          // the shared count
        int nSecurityRetries = 0;  // the Security rows' count
        bool bAlternate = false;   // the next CryptoAPI attempt signs with SignFile
        bool bFirstAttempt = true;
    };

    struct CStep {
        bool bRetry = false;
        DWORD dwWaitMs = 0;
        bool bLogged = false;
        CState next;
    };

    // The library's rows.
    static const std::vector<CRow>& Rows();
    // Shared-count tries at which ESwitch::AtTurns rows switch.
    static bool IsSwitchTurn(int nRetries);

    // What to do after dwFailure, given the attempt state; a failure that no
    // row matches, or whose tries are spent, is not retried.
    static CStep Next(const std::vector<CRow>& rows, const CState& state, uint32_t dwFailure);
    // The state once a session has signed (even if a later layer then fails).
    static CState Signed(const CState& state, bool bCryptoApi);
    // The variant of the next attempt: SignFile first, then for a CryptoAPI
    // session SignFileC2BANER unless the alternate mark says SignFile.
    static CSession::ESignVariant Variant(const CState& state, bool bCryptoApi);
};
