#include "app/CSignRetryPolicy.h"

namespace {
// Every transient failure shares these tries.
const int kSharedTries = 25;
}  // namespace

const std::vector<CSignRetryPolicy::CRow>& CSignRetryPolicy::Rows()
{
    static const std::vector<CRow> rows = {
        // NTE_BAD_KEYSET, on the very first attempt only
        {0x80090016, 0, ESwitch::Never, ECount::FirstAttempt, 1, false},
        // NTE_BAD_SIGNATURE
        {0x80090006, 2000, ESwitch::AtTurns, ECount::Shared, kSharedTries, true},
        // SCARD_F_COMM_ERROR
        {0x80100013, 0, ESwitch::AtTurns, ECount::Shared, kSharedTries, true},
        // NTE_NO_KEY
        {0x8009000D, 1500, ESwitch::Always, ECount::Shared, kSharedTries, true},
        // SCARD_W_SECURITY_VIOLATION
        {0x8010006A, 1500, ESwitch::Always, ECount::Security, 4, true},
    };
    return rows;
}

bool CSignRetryPolicy::IsSwitchTurn(int nRetries)
{
    return nRetries == 4 || nRetries == 8 || nRetries == 16 || nRetries == 20;
}

CSignRetryPolicy::CStep CSignRetryPolicy::Next(const std::vector<CRow>& rows, const CState& state,
                                               uint32_t dwFailure)
{
    CStep step;
    step.next = state;
    const CRow* pRow = nullptr;
    for (const CRow& row : rows) {
        if (row.dwFailure == dwFailure) {
            pRow = &row;
            break;
        }
    }
    if (pRow == nullptr)
        return step;
    switch (pRow->eCount) {
        case ECount::FirstAttempt:
            step.bRetry = state.bFirstAttempt && pRow->nMaxTries > 0;
            step.next.bFirstAttempt = false;
            break;
        case ECount::Shared:
            if (state.nRetries >= pRow->nMaxTries)
                return step;
            step.bRetry = true;
            ++step.next.nRetries;
            break;
        case ECount::Security:
            if (state.nRetries >= kSharedTries || state.nSecurityRetries >= pRow->nMaxTries)
                return step;
            step.bRetry = true;
            step.next.nRetries = 0;
            ++step.next.nSecurityRetries;
            break;
    }
    if (!step.bRetry)
        return step;
    if (pRow->eSwitch == ESwitch::Always ||
        (pRow->eSwitch == ESwitch::AtTurns && IsSwitchTurn(step.next.nRetries)))
        step.next.bAlternate = true;
    step.dwWaitMs = pRow->dwWaitMs;
    step.bLogged = pRow->bLogged;
    return step;
}

CSignRetryPolicy::CState CSignRetryPolicy::Signed(const CState& state, bool bCryptoApi)
{
    CState next = state;
    if (next.bFirstAttempt) {
        next.bFirstAttempt = false;
    } else if (bCryptoApi) {
        next.nRetries = next.nSecurityRetries = 0;
        next.bAlternate = false;
    }
    return next;
}

CSession::ESignVariant CSignRetryPolicy::Variant(const CState& state, bool bCryptoApi)
{
    return !state.bFirstAttempt && bCryptoApi && !state.bAlternate
               ? CSession::SIGN_SESSION_KEY_BANER
               : CSession::SIGN_CERT_KEY;
}
