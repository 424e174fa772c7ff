// What the host asks of the session: signing with its retries, checking,
// export and the SSL handle, each opened the same way.
#include "app/CTarvoselApp.h"

#include "api/CLog.h"
#include "api/CTarvoselException.h"
#include "api/ResultCodes.h"
#include "app/CSignedFileChecker.h"
#include "app/CTempFile.h"
#include "cert/CSession.h"
#include "util/CUtil.h"

namespace {
const char* KindName(int nType)
{
    return nType == SESSION_KIND_ENTRUST ? "KERVAL" : "C2";
}

const char* YesNo(int b)
{
    return b ? "si" : "no";
}
}  // namespace

void CTarvoselApp::SetRetryWait(std::function<void(DWORD)> fnWait)
{
    m_fnRetryWait = fnWait ? fnWait : [](DWORD dwMs) { Sleep(dwMs); };
}

void CTarvoselApp::RequireSession(const char* pszContext)
{
    if (!m_bInitialized)
        throw new CTarvoselException(EXC_OWN, ERR_NOT_INITIALISED, pszContext);
    if (!SessionOpened())
        throw new CTarvoselException(EXC_OWN, ERR_NO_SESSION, pszContext);
}

CTarvoselApp::CSessionOperation::CSessionOperation(CTarvoselApp& app, const char* pszContext,
                                                   const std::function<void()>& fnLog)
    : m_operation(app)
{
    app.RequireSession(pszContext);
    app.GetSessionInfo(&info);
    LogInfo("Sesión %s", KindName(info.nType));
    if (fnLog)
        fnLog();
    app.ReopenInvalidSession();
    // None left means it was closed meanwhile (a failed reopening).
    pSession = app.LendSession();
    if (!pSession)
        throw new CTarvoselException(EXC_OWN, ERR_NO_SESSION, pszContext);
}

void CTarvoselApp::SignFile(std::string strSource, std::string strDestination,
                            std::string strAlgorithm, int bBase64, int bCompress)
{
    const char* pszContext = "CTarvoselApp::SignFile";
    // Held across the retries: no other operation slips in between.
    COperation operation(*this);
    CSignRetryPolicy::CState retry;
    for (;;) {
        CTempFile input, output;
        try {
            CSessionOperation op(*this, pszContext, [&] {
                LogInfo("Fichero origen: '%s'", strSource.c_str());
                LogInfo("Fichero destino: '%s'", strDestination.c_str());
                LogInfo("Algoritmo de firma: '%s'", strAlgorithm.c_str());
                LogInfo("Comprimir: %s. Codificar a base64: %s", YesNo(bCompress),
                        YesNo(bBase64));
            });
            const bool bCryptoApi = op.info.nType == SESSION_KIND_CAPI;
            const CSession::ESignVariant eVariant = CSignRetryPolicy::Variant(retry, bCryptoApi);
            auto signedOnce = [&] { retry = CSignRetryPolicy::Signed(retry, bCryptoApi); };
            if (bBase64 && op.pSession->CanSignStream()) {
                std::string strInputTemp, strOutputTemp;
                try {
                    SignLayersTogether(*op.pSession, eVariant, strSource, strDestination,
                                       strAlgorithm, bCompress, strInputTemp, strOutputTemp,
                                       signedOnce);
                } catch (CTarvoselException*) {
                    input.Take(strInputTemp);
                    output.Take(strOutputTemp);
                    throw;
                }
                input.Take(strInputTemp);
                return;
            }

            std::string strIn = strSource;
            if (bCompress) {
                input.Take(m_settings.MakeTempFileName("tmp"));
                LogInfo("Comprimiendo fichero en '%s'...", input.Path().c_str());
                CUtil::ZipFile(strSource.c_str(), input.Path().c_str());
                LogInfo("...OK");
                strIn = input.Path();
            }
            std::string strOut = strDestination;
            if (bBase64) {
                output.Take(m_settings.MakeTempFileName("tmp"));
                strOut = output.Path();
            }

            if (eVariant == CSession::SIGN_SESSION_KEY_BANER)
                op.pSession->SignFileC2BANER(strIn, strOut, strAlgorithm);
            else
                op.pSession->SignFile(strIn, strOut, strAlgorithm);
            signedOnce();

            if (bBase64) {
                LogInfo("Codificando (base64) fichero en '%s'...", strDestination.c_str());
                CUtil::Base64EncodeFile(strOut.c_str(), strDestination.c_str());
                output.Delete();
                LogInfo("...OK");
            }
            return;
        } catch (CTarvoselException* e) {
            input.Delete();
            output.Delete();
            // Transient card and provider failures: wait and sign again.
            const uint32_t dwFailure = static_cast<uint32_t>(e->GetSubCode());
            CSignRetryPolicy::CStep step =
                CSignRetryPolicy::Next(CSignRetryPolicy::Rows(), retry, dwFailure);
            retry = step.next;
            if (!step.bRetry)
                throw;
            if (step.bLogged)
                LogInfo("0x%08X ", static_cast<unsigned>(dwFailure));
            delete e;
            if (step.dwWaitMs != 0)
                m_fnRetryWait(step.dwWaitMs);
        }
    }
}

void CTarvoselApp::CheckSignedFile(std::string strSource, std::string strDestination,
                                   int bBase64, int bDecompress)
{
    // The platform's CryptoAPI table must stay loaded until the check ends.
    COperation operation(*this);
    RequireSession("CTarvoselApp::CheckSignedFile");
    CSignedFileChecker(m_settings, m_nEnvironment)
        .Check(strSource, strDestination, bBase64, bDecompress);
}

void CTarvoselApp::CheckSignedFile_(std::string strIn, std::string strOut,
                                    CSignInfoList& lstSigners)
{
    CSignedFileChecker(m_settings, m_nEnvironment).Decode(strIn, strOut, lstSigners);
}

void CTarvoselApp::ExportCertificate(std::string strPolicyPath, std::string& strExportedPath,
                                     std::string& strPassword)
{
    CSessionOperation op(*this, "CTarvoselApp::ExportCertificate");
    strPassword.clear();
    strExportedPath.clear();
    if (!strPolicyPath.empty())
        op.pSession->ChangePolicyCertificate(strPolicyPath);
    strExportedPath =
        m_settings.MakeTempFileName(op.info.nType == SESSION_KIND_ENTRUST ? "pfx" : "pem");
    LogInfo("Ruta: %s", strExportedPath.c_str());
    op.pSession->ExportCertificates(strExportedPath, 2, strPassword);
}

INT_PTR CTarvoselApp::GetSSLHandle(std::string strPolicyPath)
{
    CSessionOperation op(*this, "CTarvoselApp::GetSSLHandle");
    if (!strPolicyPath.empty())
        op.pSession->ChangePolicyCertificate(strPolicyPath);
    return op.pSession->GetSSLHandle();
}
