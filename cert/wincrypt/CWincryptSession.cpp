#include "cert/wincrypt/CWincryptSession.h"

#include <string.h>

#include "api/CLog.h"
#include "api/LogEscape.h"
#include "api/CTarvoselException.h"
#include "api/ResultCodes.h"
#include "util/CByteStream.h"
#include "cert/pkcs7/CPkcs7Writer.h"
#include "cert/wincrypt/CAPIWincrypt.h"
#include "cert/wincrypt/CWincryptCertificate.h"
#include "cert/wincrypt/CSignOutput.h"
#include "cert/wincrypt/CWincryptPkcs7Crypto.h"
#include "host/CHostWindow.h"
#include "https/CHTTPSDlg.h"
#include "platform/framework/CFileHandle.h"
#include "platform/framework/SystemErrorText.h"
#include "util/CUtil.h"

namespace {
const DWORD kBlockSize = 4096;
// Reads and writes go to the system in blocks of this size.
const DWORD kIoSize = 1024 * 1024;
const DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
const char kMd5Oid[] = "1.2.840.113549.2.5";
const char kMd2Oid[] = "1.2.840.113549.2.2";

std::string FileErrorText(const std::string& strPath, DWORD dwError)
{
    std::string strText = SystemErrorText(dwError);
    return "'" + strPath + "': " + (strText.empty() ? std::to_string(dwError) : strText);
}

[[noreturn]] void ThrowWindows(DWORD dwError, const char* pszContext)
{
    // A failed call that left no error must still fail.
    throw new CTarvoselException(EXC_WINDOWS, dwError != 0 ? dwError : static_cast<DWORD>(E_FAIL),
                                 pszContext);
}

// The signing time of now by the clock, as the platform encodes it.
std::vector<BYTE> EncodeSigningTime(void(WINAPI* pfnClock)(LPSYSTEMTIME), const char* pszContext)
{
    SYSTEMTIME st;
    pfnClock(&st);
    FILETIME ft;
    if (!SystemTimeToFileTime(&st, &ft))
        ThrowWindows(GetLastError(), pszContext);
    DWORD cbTime = 0;
    if (!CAPIWincrypt::CryptEncodeObject(kEncoding, szOID_RSA_signingTime, &ft, nullptr, &cbTime))
        ThrowWindows(GetLastError(), pszContext);
    std::vector<BYTE> signingTime(cbTime);
    if (!CAPIWincrypt::CryptEncodeObject(kEncoding, szOID_RSA_signingTime, &ft, signingTime.data(),
                                         &cbTime))
        ThrowWindows(GetLastError(), pszContext);
    signingTime.resize(cbTime);
    return signingTime;
}
}  // namespace

CWincryptSession::PFN_CLOCK CWincryptSession::s_pfnClock = nullptr;

CWincryptSession::CWincryptSession() : m_nState(SESSION_CLOSED) {}

void CWincryptSession::SetSigningClock(PFN_CLOCK pfnClock)
{
    s_pfnClock = pfnClock;
}

CWincryptSession::~CWincryptSession()
{
    if (m_pHTTPSDlg)
        m_pHTTPSDlg->DestroyWindow();
    m_pHTTPSDlg.reset();
    DeleteCertificates();
    ReleaseProvider();
}

void CWincryptSession::SetProviderWindow()
{
    // Provider dialogs (PIN prompts) belong to the host's window. The platform may
    // refuse the parameter without a provider handle; nothing depends on it.
    HWND hWnd = CHostWindow::Find();
    CAPIWincrypt::CryptSetProvParam(0, PP_CLIENT_HWND, reinterpret_cast<const BYTE*>(&hWnd), 0);
}

void CWincryptSession::ReleaseProvider()
{
    ReplaceProvider(0);
}

void CWincryptSession::ReplaceProvider(HCRYPTPROV hProv)
{
    HCRYPTPROV hOld;
    {
        CCriticalSection::CGuard guard(m_csProvider);
        hOld = m_hProv;
        m_hProv = hProv;
    }
    // A provider whose card was pulled may be slow to let go: outside the lock.
    if (hOld != 0 && hOld != hProv)
        CAPIWincrypt::CryptReleaseContext(hOld, 0);
}

HCRYPTPROV CWincryptSession::BeginProviderUse()
{
    {
        CCriticalSection::CGuard guard(m_csProvider);
        if (m_hProv != 0) {
            m_bProviderInUse = true;
            return m_hProv;
        }
    }
    // May ask for the PIN: outside the lock.
    AcquireContext();
    CCriticalSection::CGuard guard(m_csProvider);
    m_bProviderInUse = true;
    return m_hProv;
}

void CWincryptSession::EndProviderUse()
{
    HCRYPTPROV hRelease = 0;
    {
        CCriticalSection::CGuard guard(m_csProvider);
        m_bProviderInUse = false;
        // The card was pulled meanwhile: the release that Invalidate left.
        if (m_nState & SESSION_INVALID) {
            hRelease = m_hProv;
            m_hProv = 0;
        }
    }
    if (hRelease != 0)
        CAPIWincrypt::CryptReleaseContext(hRelease, 0);
}

void CWincryptSession::DeleteCertificates()
{
    CCriticalSection::CGuard guard(m_csData);
    for (CWincryptCertificate* p : m_lstCertificates)
        delete p;
    m_lstCertificates.clear();
    m_pSignCertificate = nullptr;
    m_pAuthCertificate = nullptr;
}

int CWincryptSession::Open(void* pLoginRequest)
{
    m_nState = SESSION_CLOSED;
    SetProviderWindow();
    CS_CAPILOGIN* pLogin = static_cast<CS_CAPILOGIN*>(pLoginRequest);
    try {
        DeleteCertificates();
        CS_CERTCHOICE* pChoice = pLogin != nullptr ? pLogin->pChoice : nullptr;
        if (pChoice == nullptr)
            throw new CTarvoselException(EXC_OWN, ERR_USER_CERTIFICATES, "CWincryptSession::Open");
        {
            CCriticalSection::CGuard guard(m_csData);
            m_lstCertificates = pChoice->lstCertificates;
            pChoice->lstCertificates.clear();
            m_pAuthCertificate = pChoice->pAuthCertificate;
            m_pSignCertificate = pChoice->pSignCertificate;
            m_CardInfo.strCardName = pChoice->strCardName;
            m_CardInfo.nReader = pChoice->nReader;
        }
        if (m_pAuthCertificate == nullptr || m_pSignCertificate == nullptr)
            throw new CTarvoselException(EXC_OWN, ERR_USER_CERTIFICATES, "CWincryptSession::Open");

        if (m_CardInfo.nReader != -1)
            LogInfo("Certificados en tarjeta inteligente: %s lector: %i",
                    LogEscape(m_CardInfo.strCardName).c_str(), m_CardInfo.nReader);

        LogInfo("------------------------------  SELECCION DEL CERTIFICADO FIRMA AUTENTICACION  "
                "-------------------");
        LogInfo("Certificados de usuario:");
        int nNumber = 1;
        for (CWincryptCertificate* p : m_lstCertificates) {
            std::string strMark;
            if (p == m_pSignCertificate)
                strMark += "[firma]";
            if (p == m_pAuthCertificate)
                strMark += "[autenticación]";
            LogInfo("Certificado nº%i %s:", nNumber++, strMark.c_str());
            p->LogDetails();
        }
        LogInfo("------------------------------ FIN  SELECCION DEL CERTIFICADO FIRMA AUTENTICACION  "
                "-------------------");
        m_CardInfo.strAuthSubject = m_pAuthCertificate->GetSubject();

        AcquireContext();
        if (pLogin->pfnCallback != nullptr)
            pLogin->pfnCallback();
        m_Store.Open(0, "Trust");
    } catch (CTarvoselException*) {
        DeleteCertificates();
        ReleaseProvider();
        throw;
    }
    m_nState = SESSION_OPEN;
    return 0;
}

void CWincryptSession::AcquireContext()
{
    std::string strProvider, strContainer;
    m_pSignCertificate->GetProviderData(strProvider, strContainer);
    LogInfo("---------  PROVEEDORES ----------------------------------------");
    LogInfo("Proveedor: %s, contenedor clave: %s", LogEscape(strProvider).c_str(),
            LogEscape(strContainer).c_str());
    LogInfo("---------------------------------------------------------------");
    int nType = GetProviderType(strProvider);
    HCRYPTPROV hProv = 0;
    if (!CAPIWincrypt::CryptAcquireContextA(&hProv, strContainer.c_str(), strProvider.c_str(),
                                            static_cast<DWORD>(nType), 0))
        ThrowWindows(GetLastError(), "CWincryptSession::AcquireContext");
    ReplaceProvider(hProv);
}

int CWincryptSession::GetProviderType(const std::string& strProvider)
{
    DWORD dwVersion = GetVersion();
    if ((dwVersion & 0x80000000) == 0 && LOBYTE(LOWORD(dwVersion)) == 4)
        return PROV_RSA_FULL;
    int nType = -1;
    for (DWORD dwIndex = 0;; ++dwIndex) {
        DWORD dwType = 0, cbName = 0;
        if (!CAPIWincrypt::CryptEnumProvidersA(dwIndex, nullptr, 0, &dwType, nullptr, &cbName))
            break;
        std::vector<char> name(cbName + 1, '\0');
        if (!CAPIWincrypt::CryptEnumProvidersA(dwIndex, nullptr, 0, &dwType, name.data(), &cbName))
            ThrowWindows(GetLastError(), "CWincryptSession::GetProviderType");
        nType = static_cast<int>(dwType);
        if (strProvider == name.data())
            break;
    }
    return nType;
}

void CWincryptSession::Close()
{
    DeleteCertificates();
    ReleaseProvider();
    InterlockedExchange(&m_nState, SESSION_CLOSED);
}

void CWincryptSession::Invalidate()
{
    LONG nState;
    do {
        nState = m_nState;
    } while (InterlockedCompareExchange(&m_nState, nState | SESSION_INVALID, nState) != nState);
    // An operation using the provider releases it when it ends.
    HCRYPTPROV hRelease = 0;
    {
        CCriticalSection::CGuard guard(m_csProvider);
        if (!m_bProviderInUse) {
            hRelease = m_hProv;
            m_hProv = 0;
        }
    }
    if (hRelease != 0)
        CAPIWincrypt::CryptReleaseContext(hRelease, 0);
    LogInfo("Sesión invalidada");
}

void CWincryptSession::Reopen()
{
    InterlockedExchange(&m_nState, SESSION_OPEN);
}

void CWincryptSession::GetSessionData(CS_SESSIONINFO* pInfo)
{
    if (pInfo == nullptr)
        return;
    CCriticalSection::CGuard guard(m_csData);
    pInfo->nType = SESSION_KIND_CAPI;
    if (m_pSignCertificate != nullptr) {
        pInfo->strIssuer = m_pSignCertificate->GetIssuer();
        pInfo->strName = m_pSignCertificate->GetOwnerName();
        pInfo->strNIF = m_pSignCertificate->GetOwnerId();
    }
    pInfo->pDetails = &m_CardInfo;
}

void CWincryptSession::GetCertificates(CCertificateArray& lstCertificates)
{
    CCriticalSection::CGuard guard(m_csData);
    lstCertificates.assign(m_lstCertificates.begin(), m_lstCertificates.end());
}

void CWincryptSession::CopyCertificates(CCertificateArray& lstCopies)
{
    CCriticalSection::CGuard guard(m_csData);
    CCertificateArray lstOwn(m_lstCertificates.begin(), m_lstCertificates.end());
    CCertificateCopy::CopyList(lstOwn, lstCopies);
}

void CWincryptSession::ExportCertificates(std::string& strPath, int nSelection,
                                          std::string& strPassword)
{
    strPassword.clear();
    const char* pszContext = "CWincryptSession::ExportCertificates";
    if (m_pAuthCertificate == nullptr)
        throw new CTarvoselException(EXC_OWN, ERR_USER_CERTIFICATES, pszContext);
    std::string strPem = m_pAuthCertificate->GetPEM();
    CFileHandle file(CreateFileA(strPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    // A certificate that was not written is a failure: the host would be handed
    // the path of a missing or short file.
    DWORD dwError = 0;
    if (!file.IsValid() || !file.WriteAll(strPem.data(), strPem.size(), dwError)) {
        LogInfo("Error al escribir en fichero %s",
                FileErrorText(strPath, file.IsValid() ? dwError : GetLastError()).c_str());
        file.Close();
        DeleteFileA(strPath.c_str());
        throw new CTarvoselException(EXC_OWN, ERR_FILE_WRITE, pszContext);
    }
}

INT_PTR CWincryptSession::GetSSLHandle()
{
    if (m_pSignCertificate == nullptr || m_pAuthCertificate == nullptr)
        throw new CTarvoselException(EXC_OWN, ERR_NO_SESSION, "CWincryptSession::GetSSLHandle");
    SetProviderWindow();
    BeginProviderUse();
    EndProviderUse();
    if (!m_pHTTPSDlg) {
        std::unique_ptr<CHTTPSDlg> pDlg(new CHTTPSDlg);
        if (pDlg->Create(nullptr)) {
            pDlg->ShowWindow(SW_HIDE);
            m_pHTTPSDlg = std::move(pDlg);
        }
    }
    if (!m_pHTTPSDlg)
        throw new CTarvoselException(EXC_OWN, ERR_SSL_OBJECT, "CWincryptSession::GetSSLHandle");
    CHTTPS& https = m_pHTTPSDlg->GetHTTPS();
    https.SetSSLCertStore("MY");
    https.SetSSLCertSubject(m_pAuthCertificate->GetDisplayName().c_str());
    return https.GetSSLCertHandle();
}

HWND CWincryptSession::GetHTTPSWindow() const
{
    return m_pHTTPSDlg ? m_pHTTPSDlg->GetSafeHwnd() : nullptr;
}

std::string CWincryptSession::DigestOidOfAlgorithm(const std::string& strAlgorithm)
{
    if (strAlgorithm == "MD2WITHRSA")
        return kMd2Oid;
    if (strAlgorithm == "MD5WITHRSA")
        return kMd5Oid;
    return std::string();
}

void CWincryptSession::SignFile(std::string strIn, std::string strOut, std::string strAlgorithm)
{
    Sign(SIGN_CERT_KEY, strIn, strOut, kMd5Oid, "CWincryptSession::SignFile");
}

void CWincryptSession::SignFileC2(std::string strIn, std::string strOut, std::string strAlgorithm)
{
    Sign(SIGN_SESSION_KEY, strIn, strOut, DigestOidOfAlgorithm(strAlgorithm),
         "CWincryptSession::SignFileC2");
}

void CWincryptSession::SignFileC2BANER(std::string strIn, std::string strOut,
                                       std::string strAlgorithm)
{
    Sign(SIGN_SESSION_KEY_BANER, strIn, strOut, DigestOidOfAlgorithm(strAlgorithm),
         "CWincryptSession::SignFileC2BANER");
}

HCRYPTPROV CWincryptSession::ChooseSigningKey(SignVariant eVariant, HCRYPTPROV hSessionProv,
                                              const char* pszContext, DWORD& dwKeySpec)
{
    if (eVariant == SIGN_SESSION_KEY)
        return hSessionProv;
    HCRYPTPROV hKeyProv = 0;
    DWORD dwSpec = 0;
    BOOL bCallerFree = FALSE;
    if (!CAPIWincrypt::CryptAcquireCertificatePrivateKey(m_pSignCertificate->GetContext(), 0,
                                                        nullptr, &hKeyProv, &dwSpec,
                                                        &bCallerFree)) {
        if (eVariant == SIGN_CERT_KEY)
            ThrowWindows(GetLastError(), pszContext);
        LogInfo("SignFileC2BANER::CryptAcquiereCertificatePrivateKey failed.");
        return hSessionProv;
    }
    // The certificate's key provider replaces the session's; one that the
    // platform keeps for the certificate is only borrowed for this signing.
    if (bCallerFree)
        ReplaceProvider(hKeyProv);
    if (eVariant == SIGN_CERT_KEY)
        dwKeySpec = dwSpec;
    return hKeyProv;
}

void CWincryptSession::Sign(SignVariant eVariant, const std::string& strIn,
                            const std::string& strOut, const std::string& strDigestOid,
                            const char* pszContext, CByteSource* pSource, CByteSink* pSink)
{
    SetProviderWindow();
    if (m_pSignCertificate == nullptr)
        throw new CTarvoselException(EXC_OWN, ERR_NO_SESSION, pszContext);
    // The provider is this signing's until it ends, card removal or not.
    struct ProviderUse {
        CWincryptSession* pSession;
        HCRYPTPROV hProv;
        explicit ProviderUse(CWincryptSession* p) : pSession(p), hProv(p->BeginProviderUse()) {}
        ~ProviderUse() { pSession->EndProviderUse(); }
    } use(this);

    DWORD dwKeySpec = AT_KEYEXCHANGE;
    HCRYPTPROV hSignProv = ChooseSigningKey(eVariant, use.hProv, pszContext, dwKeySpec);
    std::vector<BYTE> signingTime =
        EncodeSigningTime(s_pfnClock != nullptr ? s_pfnClock : GetSystemTime, pszContext);

    // An algorithm without digest cannot make a message: fail before the output
    // is created, so that the destination is not touched.
    if (CWincryptPkcs7Crypto::DigestAlgId(strDigestOid) == 0)
        ThrowWindows(Pkcs7ErrorToWinError(EPkcs7Error::Unsupported), pszContext);

    typedef std::function<bool(const BYTE*, DWORD)> SliceFn;
    std::function<bool(const SliceFn&, DWORD&)> readContent;
    CFileHandle input;
    if (pSource != nullptr) {
        readContent = [pSource](const SliceFn& fn, DWORD& dwError) {
            return ReadSlices(*pSource, fn, dwError);
        };
    } else {
        input.Attach(CreateFileA(strIn.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!input.IsValid()) {
            LogInfo("Error al abrir fichero %s", FileErrorText(strIn, GetLastError()).c_str());
            throw new CTarvoselException(EXC_OWN, ERR_FILE_READ, pszContext);
        }
        // Creating the output would empty the input first: the signature would
        // cover nothing and the document would be gone.
        if (CUtil::IsSameFile(strIn.c_str(), strOut.c_str()))
            CUtil::ThrowSameFile(strOut.c_str(), ERR_FILE_WRITE, pszContext);
        readContent = [&input](const SliceFn& fn, DWORD& dwError) {
            return input.ReadSlices(kIoSize, kBlockSize, fn, dwError);
        };
    }
    CFileHandle output(CreateFileA(strOut.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                   CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!output.IsValid()) {
        LogInfo("Error al escribir en fichero %s", FileErrorText(strOut, GetLastError()).c_str());
        throw new CTarvoselException(EXC_OWN, ERR_FILE_WRITE, pszContext);
    }
    std::unique_ptr<CSignOutput> pOutput;
    if (pSink != nullptr) {
        // The message goes to the sink; the file stays empty for its owner.
        output.Close();
        pOutput.reset(new CSinkSignOutput(*pSink));
    } else {
        pOutput.reset(new CFileSignOutput(output, kIoSize));
    }
    LogInfo("Firmando fichero en '%s'...", strOut.c_str());

    CWincryptPkcs7Crypto crypto;
    DWORD dwIoError = 0;
    CPkcs7Writer writer(crypto, [&](const uint8_t* pData, size_t nSize) {
        return pOutput->Write(pData, nSize, dwIoError);
    });
    DWORD dwSignError = 0;
    auto sign = [&](const std::string& strOid, const uint8_t* pData, size_t nData,
                    std::vector<uint8_t>& signature) {
        if (CWincryptPkcs7Crypto::Sign(hSignProv, dwKeySpec, strOid, pData, nData, signature))
            return true;
        dwSignError = GetLastError();
        return false;
    };
    // The error of a failed step: the platform's own where it failed, else the
    // codec's.
    auto fail = [&](EPkcs7Error e) {
        DWORD dwError = e == EPkcs7Error::Output   ? dwIoError
                        : e == EPkcs7Error::Crypto ? (dwSignError != 0 ? dwSignError : GetLastError())
                                                   : Pkcs7ErrorToWinError(e);
        pOutput->Abort();
        output.Close();
        // A half-written signed file must not pass for a signed one.
        DeleteFileA(strOut.c_str());
        ThrowWindows(dwError, pszContext);
    };

    if (!crypto.IsReady())
        fail(EPkcs7Error::Crypto);
    const CERT_CONTEXT* pCert = m_pSignCertificate->GetContext();
    EPkcs7Error e = writer.Begin(pCert->pbCertEncoded, pCert->cbCertEncoded, strDigestOid,
                                 signingTime.data(), signingTime.size());
    if (e != EPkcs7Error::Ok)
        fail(e);
    // One content segment per block of kBlockSize bytes, as the input is read.
    auto update = [&](const BYTE* pData, DWORD dwRead) {
        e = writer.Update(pData, dwRead);
        pOutput->Consumed(dwRead);
        return e == EPkcs7Error::Ok;
    };
    if (!readContent(update, dwIoError))
        fail(EPkcs7Error::Output);
    if (e != EPkcs7Error::Ok)
        fail(e);
    if ((e = writer.Finish(sign)) != EPkcs7Error::Ok)
        fail(e);
    if (!pOutput->Flush(dwIoError))
        fail(EPkcs7Error::Output);
    LogInfo("...OK");
    input.Close();
    if (!pOutput->Commit(dwIoError))
        fail(EPkcs7Error::Output);
    output.Close();
}

bool CWincryptSession::ReadSlices(CByteSource& source,
                                  const std::function<bool(const BYTE*, DWORD)>& fn,
                                  DWORD& dwError)
{
    // As CFileHandle::ReadSlices: whole blocks of kBlockSize, then the short
    // (possibly empty) last one.
    std::vector<BYTE> block(kIoSize);
    for (;;) {
        size_t nRead = 0;
        if (!source.Read(block.data(), block.size(), nRead, dwError))
            return false;
        size_t nDone = 0;
        for (; nRead - nDone >= kBlockSize; nDone += kBlockSize) {
            if (!fn(block.data() + nDone, kBlockSize))
                return true;
        }
        if (nRead < block.size()) {
            fn(block.data() + nDone, static_cast<DWORD>(nRead - nDone));
            return true;
        }
    }
}

void CWincryptSession::SignStream(ESignVariant eVariant, CByteSource* pSource, CByteSink* pSink,
                                  std::string strIn, std::string strOut, std::string strAlgorithm)
{
    if (eVariant == SIGN_CERT_KEY)
        Sign(SIGN_CERT_KEY, strIn, strOut, kMd5Oid, "CWincryptSession::SignFile", pSource, pSink);
    else if (eVariant == SIGN_SESSION_KEY)
        Sign(SIGN_SESSION_KEY, strIn, strOut, DigestOidOfAlgorithm(strAlgorithm),
             "CWincryptSession::SignFileC2", pSource, pSink);
    else
        Sign(SIGN_SESSION_KEY_BANER, strIn, strOut, DigestOidOfAlgorithm(strAlgorithm),
             "CWincryptSession::SignFileC2BANER", pSource, pSink);
}
