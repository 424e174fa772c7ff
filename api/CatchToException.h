#pragma once
// What a body of work threw, as the library's exception: one thrown by the
// library is handed on as it is; a failed allocation becomes ERR_NO_MEMORY,
// anything else ERR_WINDOWS_UNKNOWN, in pszContext. Null when the body
// returned, and also when even the new exception could not be allocated: then
// nFailure tells the code. The caller owns and deletes the exception.
#include <new>

#include "api/CTarvoselException.h"
#include "api/ResultCodes.h"

struct CCaught {
    CTarvoselException* pException;
    int nFailure;  // RESULT_OK when the body returned
};

template <typename Body>
CCaught CatchToException(const char* pszContext, Body&& body)
{
    int nCode;
    try {
        body();
        return CCaught{nullptr, RESULT_OK};
    } catch (CTarvoselException* e) {
        return CCaught{e, e != nullptr ? e->GetResultCode() : RESULT_OK};
    } catch (const std::bad_alloc&) {
        nCode = ERR_NO_MEMORY;
    } catch (...) {
        nCode = ERR_WINDOWS_UNKNOWN;
    }
    return CCaught{new (std::nothrow) CTarvoselException(EXC_OWN, nCode, pszContext), nCode};
}
