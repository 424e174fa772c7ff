#pragma once
#include "cert/CSessionRef.h"

// What the library's own windows need of whoever owns the session: the
// session, lent, and the operation lock, taken only when nobody holds it so
// that the interface thread never waits for a host operation (a long signing).
class ISessionLender {
public:
    virtual ~ISessionLender() {}

    // The current session (null when there is none).
    virtual CSessionRef LendSession() = 0;
    // Takes the operation lock unless another thread holds it; never waits.
    virtual bool TryLockOperation() = 0;
    virtual void UnlockOperation() = 0;

    // The operation lock for what the person at the keyboard asks of the
    // session; Held() tells whether it was taken.
    class COperationAttempt {
    public:
        explicit COperationAttempt(ISessionLender& lender)
            : m_lender(lender), m_bHeld(lender.TryLockOperation())
        {
        }
        ~COperationAttempt()
        {
            if (m_bHeld)
                m_lender.UnlockOperation();
        }
        bool Held() const { return m_bHeld; }

    private:
        COperationAttempt(const COperationAttempt&) = delete;
        COperationAttempt& operator=(const COperationAttempt&) = delete;
        ISessionLender& m_lender;
        bool m_bHeld;
    };
};
