#include "cert/entrust/EntrustCode.h"

#include "api/CLog.h"
#include "api/CTarvoselException.h"
#include "platform/entrust/EntrustToolkit.h"

void CheckEntrustCode(short nCode, const char* pszContext)
{
    if (IsEntrustFailure(nCode))
        throw new CTarvoselException(EXC_ENTRUST, nCode, pszContext);
    if (nCode != 0) {
        const char* pszText = EntLogToString(nCode);
        LogInfo("Warning: %s", pszText != nullptr ? pszText : "");
    }
}
