#pragma once
// What a call throws, taken apart so that tests can compare it field by field.
#include <functional>
#include <string>

#include "api/CTarvoselException.h"

namespace tvltest {

struct CaughtFailure {
    bool bThrown = false;
    int nCode = 0;     // result code; 0 when nothing was thrown
    int nKind = -1;    // ExceptionKind; -1 when nothing was thrown
    long nSubCode = 0;
    std::string strContext;
    std::string strDescription;
};

// Runs fn; a CTarvoselException it throws is recorded and deleted.
inline CaughtFailure Capture(const std::function<void()>& fn)
{
    CaughtFailure r;
    try {
        fn();
    } catch (CTarvoselException* e) {
        r.bThrown = true;
        r.nCode = e->GetResultCode();
        r.nKind = e->GetKind();
        r.nSubCode = e->GetSubCode();
        r.strContext = e->GetContext();
        r.strDescription = e->GetDescription();
        delete e;
    }
    return r;
}

// Result code of whatever the call throws, 0 when it does not throw.
inline int ResultOf(const std::function<void()>& fn)
{
    return Capture(fn).nCode;
}

}  // namespace tvltest
