// The exported functions: each is a thin frame around one operation of the
// application object. No exception leaves through here.
#include "api/Exports.h"

#include <string.h>

#include <new>
#include <string>

#include "api/CatchToException.h"
#include "api/CLog.h"
#include "api/CTarvoselException.h"
#include "api/ResultCodes.h"
#include "app/CTarvoselApp.h"
#include "cert/CertTypes.h"
#include "cert/entrust/EntrustRecords.h"
#include "cert/wincrypt/WincryptRecords.h"

namespace {
// The process's last error, for ObtenerUltimoError. A frame returns the result
// it keeps itself, never this value: another thread's call may change it at
// any time.
volatile LONG g_nLastError = RESULT_OK;

void SetLastResult(int nCode)
{
    InterlockedExchange(&g_nLastError, nCode);
}

// Sub-code with which a signing ends as cancelled without being an error.
const long kSignCancelledSubCode = static_cast<long>(0x80100030);

enum FrameLog {
    FRAME_QUIET,  // no banner, no description, no result line
    FRAME_LOGGED  // banner, description of a failure, result line
};

std::string Text(const char* psz)
{
    return psz != nullptr ? std::string(psz) : std::string();
}

// A null pointer and the value 1 both mean "no policy certificate".
std::string PolicyPath(const char* psz)
{
    return psz == nullptr || psz == reinterpret_cast<const char*>(1) ? std::string() : Text(psz);
}

void CopyOut(char* pszDest, const std::string& str)
{
    if (pszDest != nullptr)
        memcpy(pszDest, str.c_str(), str.size() + 1);
}

void LogBannerLine(const char* pszExport)
{
    std::string strFormat = std::string("Tarvosel ") + pszExport + " [Ver: %s]";
    LogBanner(strFormat.c_str(), GetTarvoselApp().GetVersion().c_str());
}

// The common frame; nResult receives this call's result code (0 when the
// operation succeeded). OnFailure may look at the exception before it is
// deleted and return true to turn it into success.
template <typename Op, typename OnFailure>
bool RunFrame(const char* pszExport, FrameLog eLog, int& nResult, Op op, OnFailure onFailure)
{
    nResult = RESULT_OK;
    SetLastResult(nResult);
    CCaught caught = CatchToException(pszExport, [&] {
        // The banner allocates too: nothing may leave the export.
        if (eLog == FRAME_LOGGED)
            LogBannerLine(pszExport);
        op();
    });
    if (caught.nFailure == RESULT_OK && caught.pException == nullptr)
        return true;
    nResult = caught.nFailure;
    SetLastResult(nResult);
    CTarvoselException* e = caught.pException;
    if (e == nullptr)
        return false;
    if (eLog == FRAME_LOGGED) {
        // A description that cannot be built is not logged; the code stands.
        try {
            LogInfo("%s", e->GetDescription().c_str());
        } catch (...) {
        }
    }
    bool bTurnedIntoSuccess = onFailure(*e);
    delete e;
    if (bTurnedIntoSuccess) {
        nResult = RESULT_OK;
        SetLastResult(nResult);
        return true;
    }
    return false;
}

template <typename Op>
bool RunFrame(const char* pszExport, FrameLog eLog, int& nResult, Op op)
{
    return RunFrame(pszExport, eLog, nResult, op,
                    [](const CTarvoselException&) { return false; });
}

// Frame for the exports whose result is the result code.
template <typename Op>
int RunCodeFrame(const char* pszExport, FrameLog eLog, Op op)
{
    int nResult;
    RunFrame(pszExport, eLog, nResult, op);
    if (eLog == FRAME_LOGGED)
        LogResult("Resultado: %i", nResult);
    return nResult;
}

void CopySessionTexts(CS_LOGINDATA* pData, const CS_SESSIONINFO& info)
{
    if (pData == nullptr)
        return;
    CopyOut(pData->pszNIF, info.strNIF);
    CopyOut(pData->pszName, info.strName);
    CopyOut(pData->pszIssuer, info.strIssuer);
    if (info.nType == SESSION_KIND_CAPI) {
        const CS_CARDINFO* pCard = info.Details<CS_CARDINFO>();
        if (pCard != nullptr)
            CopyOut(pData->pszDetail, pCard->strAuthSubject);
    } else if (info.nType == SESSION_KIND_ENTRUST) {
        const CS_EPFPROFILE* pProfile = info.Details<CS_EPFPROFILE>();
        if (pProfile != nullptr) {
            CopyOut(pData->pszIniFile, pProfile->strIniFile);
            CopyOut(pData->pszDetail, pProfile->strProfilePath);
            pData->bOnline = pProfile->bOnline;
        }
    }
}
}  // namespace

int __stdcall Inicializar(int nFlags)
{
    return RunCodeFrame("Inicializar", FRAME_QUIET,
                        [&] { GetTarvoselApp().Initialize(nFlags); });
}

int __stdcall Finalizar()
{
    return RunCodeFrame("Finalizar", FRAME_QUIET, [] { GetTarvoselApp().Finalize(); });
}

int __stdcall Login(CS_LOGINDATA* pData)
{
    CS_SESSIONINFO info;
    int nResult = 0, nError;
    bool bOk = RunFrame("Login", FRAME_LOGGED, nError, [&] {
        nResult = GetTarvoselApp().OpenSession(&info);
        if (nResult != 0)
            CopySessionTexts(pData, info);
    });
    if (pData != nullptr)
        pData->nType = info.nType;
    int nReturn = bOk ? nResult : nError;
    LogResult("Resultado: %i", nReturn);
    return nReturn;
}

int __stdcall Logout()
{
    return RunCodeFrame("Logout", FRAME_LOGGED, [] { GetTarvoselApp().CloseSession(); });
}

int __stdcall UsuarioValidado()
{
    int nResult = 0, nError;
    bool bOk = RunFrame("UsuarioValidado", FRAME_QUIET, nError,
                        [&] { nResult = GetTarvoselApp().SessionOpened(); });
    return bOk ? nResult : nError;
}

int __stdcall InfoSesion(CS_LOGINDATA* pData)
{
    return RunCodeFrame("InfoSesion", FRAME_QUIET, [&] {
        CS_SESSIONINFO info;
        GetTarvoselApp().GetSessionInfo(&info);
        if (pData == nullptr)
            return;
        CopyOut(pData->pszNIF, info.strNIF);
        CopyOut(pData->pszName, info.strName);
        CopyOut(pData->pszIssuer, info.strIssuer);
        CopyOut(pData->pszDetail, std::string());
        CopyOut(pData->pszIniFile, std::string());
        pData->bOnline = 0;
        CopySessionTexts(pData, info);
    });
}

int __stdcall FirmarFichero(const char* pszSource, const char* pszDestination, int bBase64,
                            int bCompress)
{
    int nResult;
    RunFrame(
        "FirmarFichero", FRAME_LOGGED, nResult,
        [&] {
            GetTarvoselApp().SignFile(Text(pszSource), Text(pszDestination), "MD5WITHRSA",
                                      bBase64 != 0, bCompress != 0);
        },
        [](const CTarvoselException& e) {
            if (e.GetSubCode() != kSignCancelledSubCode)
                return false;
            LogInfo("Se cancela al firma del Fichero o el banner ha terminado su función.");
            return true;
        });
    LogResult("Resultado: %i", nResult);
    return nResult;
}

int __stdcall ComprobarFirmaFichero(const char* pszSource, const char* pszDestination,
                                    int bBase64, int bDecompress)
{
    return RunCodeFrame("ComprobarFirmaFichero", FRAME_LOGGED, [&] {
        GetTarvoselApp().CheckSignedFile(Text(pszSource), Text(pszDestination), bBase64 != 0,
                                         bDecompress != 0);
    });
}

int __stdcall ExportarCertificado(const char* pszPolicyPath, char* pszExportedPath,
                                  char* pszPassword)
{
    return RunCodeFrame("ExportarCertificado", FRAME_LOGGED, [&] {
        std::string strPath, strPassword;
        GetTarvoselApp().ExportCertificate(PolicyPath(pszPolicyPath), strPath, strPassword);
        CopyOut(pszExportedPath, strPath);
        CopyOut(pszPassword, strPassword);
        LogInfo("Pem generado ... Ok");
    });
}

INT_PTR __stdcall ObtenerHandleSSL(const char* pszPolicyPath)
{
    INT_PTR nHandle = 0;
    int nError;
    bool bOk = RunFrame("ObtenerHandleSSL", FRAME_LOGGED, nError, [&] {
        nHandle = GetTarvoselApp().GetSSLHandle(PolicyPath(pszPolicyPath));
    });
    INT_PTR nReturn = bOk ? nHandle : nError;
    LogResult("Resultado: %s", std::to_string(nReturn).c_str());
    return nReturn;
}

int __stdcall ObtenerUltimoError()
{
    return g_nLastError;
}

BSTR __stdcall DescripcionError(int nCode)
{
    SetLastResult(RESULT_OK);
    // The cp1252 bytes packed two to a 16-bit unit: hosts read the BSTR as 8-bit text.
    const char* pszMessage = ResultCodeMessage(nCode);
    return SysAllocStringByteLen(pszMessage, static_cast<UINT>(strlen(pszMessage)));
}

int __stdcall AsignarRutaLog(const char* pszPath)
{
    SetLastResult(RESULT_OK);
    LogSetPath(pszPath);
    return RESULT_OK;
}

int __stdcall AsignarDirectorioTemp(const char* pszDirectory)
{
    return RunCodeFrame("AsignarDirectorioTemp", FRAME_QUIET,
                        [&] { GetTarvoselApp().SetTempDir(Text(pszDirectory)); });
}
