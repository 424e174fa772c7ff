#include "api/CTarvoselException.h"

#include <windows.h>
#include <stdio.h>

#include "api/ResultCodes.h"
#include "platform/framework/SystemErrorText.h"
#include "platform/entrust/EntrustToolkit.h"

CTarvoselException::CTarvoselException(int nKind, long nValue, const char* pszContext)
    : m_strContext(pszContext ? pszContext : ""), m_nKind(nKind), m_nCode(RESULT_OK),
      m_nEntrustCode(0), m_dwWindowsCode(0)
{
    switch (nKind) {
    case EXC_ENTRUST:
        m_nEntrustCode = static_cast<int16_t>(nValue & 0xFFFF);
        m_nCode = ResultFromEntrust(m_nEntrustCode);
        break;
    case EXC_WINDOWS:
        m_dwWindowsCode = static_cast<uint32_t>(nValue);
        m_nCode = ResultFromWindows(m_dwWindowsCode);
        break;
    default:
        m_nCode = static_cast<int>(nValue);
        break;
    }
}

long CTarvoselException::GetSubCode() const
{
    switch (m_nKind) {
    case EXC_ENTRUST:
        return m_nEntrustCode;
    case EXC_WINDOWS:
        return static_cast<long>(m_dwWindowsCode);
    default:
        return m_nCode;
    }
}

int CTarvoselException::ResultFromEntrust(int16_t nEntrust)
{
    switch (nEntrust) {
    case 0: return RESULT_OK;
    case -13095: return ERR_EXPORT_CERT;
    case -8599: case -1400: return ERR_NO_MEMORY;
    case -4064: case -3991: case -996: return ERR_BAD_SIGNATURE;
    case -4060: return ERR_FILE_WRITE;
    case -4059: case -3983: return ERR_FILE_READ;
    case -1093: return ERR_INI_FILE;
    case -1086: case -595: return ERR_WRONG_PASSWORD;
    case -1074: case -1073: case -291: return ERR_CERT_REVOKED;
    case -1072: case -795: case -790: return ERR_CERT_EXPIRED;
    case -1055: return ERR_EPF_READ_ONLY;
    case -598: case -597: case -596: case -594: return ERR_USER_CERTIFICATES;
    case -296: return ERR_UNTRUSTED_SIGNER;
    case -195: case -194: case -193: return ERR_SIGN;
    case -141: case -138: return ERR_EPF_OPEN;
    default: return ERR_ENTRUST_UNKNOWN;
    }
}

int CTarvoselException::ResultFromWindows(uint32_t dwError)
{
    switch (dwError) {
    case 0: return RESULT_OK;
    case 8: case 0x8007000E: case 0x8009000E: return ERR_NO_MEMORY;
    case 0x8009000B: case 0x80090016: case 0x80090019: case 0x8009001A: return ERR_PRIVATE_KEY;
    case 0x80091001: case 0x80091004: case 0x8009310B: return ERR_BAD_SIGNATURE;
    case 0x80091002: case 0x80091005: case 0x8009202B: return ERR_SIGN;
    case 0x80100069: case 0x8010006E: return ERR_CANCELLED;
    case 0x8010006B: return ERR_WRONG_PASSWORD;
    default: return ERR_WINDOWS_UNKNOWN;
    }
}

namespace {
std::string Format(const char* pszFormat, ...)
{
    char szBuf[4096];
    va_list args;
    va_start(args, pszFormat);
    int n = vsnprintf(szBuf, sizeof(szBuf), pszFormat, args);
    va_end(args);
    if (n < 0)
        return std::string();
    return std::string(szBuf, static_cast<size_t>(n) < sizeof(szBuf) ? n : sizeof(szBuf) - 1);
}
}  // namespace

std::string CTarvoselException::GetDescription() const
{
    const char* pszMessage = ResultCodeMessage(m_nCode);
    if (m_nKind == EXC_OWN)
        return Format("Excepción Tarvosel en %s: %i -> '%s'", m_strContext.c_str(), m_nCode,
                      pszMessage);

    std::string strKind, strSub;
    if (m_nKind == EXC_ENTRUST) {
        strKind = "Entrust";
        const char* pszText = EntLogToString(m_nEntrustCode);
        strSub = pszText ? pszText : "";
    } else if (m_nKind == EXC_WINDOWS) {
        strKind = "Sistema";
        strSub = Format("(0x%08X) %s", static_cast<unsigned>(m_dwWindowsCode),
                        SystemErrorText(m_dwWindowsCode, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT)).c_str());
    } else {
        strSub = "Desconocido";
    }
    return Format("Excepción %s en %s: '%s'. Error Tarvosel: %i -> '%s'", strKind.c_str(),
                  m_strContext.c_str(), strSub.c_str(), m_nCode, pszMessage);
}

bool IsEntrustFailure(int16_t nCode)
{
    short n = nCode;
    if (QueryEntLogWarning(n) || n == -498) {
        RemoveWarning(&n);
        return n == -296;
    }
    return n != 0;
}
