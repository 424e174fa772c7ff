#include "cert/wincrypt/CAuthorityStore.h"

#include <windows.h>

#include <memory>
#include <vector>

#include "api/CLog.h"
#include "api/CTarvoselException.h"
#include "cert/wincrypt/CAPIWincrypt.h"
#include "cert/wincrypt/CWincryptCertificate.h"
#include "platform/framework/CWinApp.h"
#include "util/CHiddenStrings.h"
#include "util/CUtil.h"

namespace {

// Between the names of an issuer list (tools/trustdata writes them so).
const char ISSUER_SEPARATOR = '|';

// Issuer-list entries of the scrambled table for the configured environment.
CHiddenStrings::ESlot EnvironmentListEntry(int nEnvironment)
{
    switch (nEnvironment) {
    case 1: return CHiddenStrings::ESlot::IssuersIntegration;
    case 2: return CHiddenStrings::ESlot::IssuersPreproduction;
    default: return CHiddenStrings::ESlot::IssuersProduction;
    }
}

std::string Upper(std::string strText)
{
    if (!strText.empty())
        CharUpperBuffA(&strText[0], static_cast<DWORD>(strText.size()));
    return strText;
}

}  // namespace

int CAuthorityStore::GetResourceId(int nIndex)
{
    if (nIndex < 0 || nIndex >= AUTHORITY_COUNT)
        return 0;
    return s_anResourceIds[nIndex];
}

CWincryptCertificate* CAuthorityStore::LoadAuthorityCertificate(int nResourceId,
                                                                const std::string& strFingerprint)
{
    static const char kContext[] = "CAuthorityStore::LoadAuthorityCertificate";
    HMODULE hModule = CWinApp::GetInstanceHandle();
    HRSRC hResource = FindResourceExA(hModule, "CERTIFICATE", MAKEINTRESOURCEA(nResourceId),
                                      MAKELANGID(LANG_SPANISH, SUBLANG_SPANISH_MODERN));
    if (hResource == nullptr)
        throw new CTarvoselException(EXC_WINDOWS, GetLastError(), kContext);
    HGLOBAL hData = LoadResource(hModule, hResource);
    if (hData == nullptr)
        throw new CTarvoselException(EXC_WINDOWS, GetLastError(), kContext);
    const BYTE* pbCompressed = static_cast<const BYTE*>(LockResource(hData));
    DWORD cbCompressed = SizeofResource(hModule, hResource);
    if (pbCompressed == nullptr || cbCompressed == 0)
        throw new CTarvoselException(EXC_WINDOWS, GetLastError(), kContext);

    // Every embedded certificate is smaller than four times its compressed form.
    std::vector<BYTE> der(4 * static_cast<size_t>(cbCompressed));
    unsigned long cbDer = static_cast<unsigned long>(der.size());
    CUtil::UnzipBuffer(der.data(), &cbDer, pbCompressed, cbCompressed);

    std::unique_ptr<CWincryptCertificate> pAuthority(new CWincryptCertificate());
    pAuthority->Create2(der.data(), cbDer);
    if (pAuthority->GetThumbprint() != strFingerprint) {
        LogInfo("Certificado en tarvosel manipulado");
        return nullptr;
    }
    return pAuthority.release();
}

int CAuthorityStore::FindIssuingAuthority(CWincryptCertificate* pSigner)
{
    if (pSigner == nullptr || pSigner->GetContext() == nullptr)
        return NO_AUTHORITY;
    for (int i = 0; i < AUTHORITY_COUNT; ++i) {
        std::unique_ptr<CWincryptCertificate> pAuthority(LoadAuthorityCertificate(
            s_anResourceIds[i], CHiddenStrings::Fingerprint(i)));
        // A manipulated authority is no issuer: try the next one.
        if (!pAuthority)
            continue;
        DWORD dwFlags = CERT_STORE_SIGNATURE_FLAG | CERT_STORE_TIME_VALIDITY_FLAG;
        if (!CAPIWincrypt::CertVerifySubjectCertificateContext(pSigner->GetContext(),
                                                               pAuthority->GetContext(), &dwFlags))
            throw new CTarvoselException(EXC_WINDOWS, GetLastError(), "CTarvoselApp::VerifySign");
        pAuthority.reset();
        // The signing time is checked on its own; the validity period is not looked at here.
        if ((dwFlags & CERT_STORE_SIGNATURE_FLAG) == 0) {
            LogInfo("Emisor reconocido. Entorno: %s", AuthorityLabel(i).c_str());
            LogInfo("...OK");
            return i;
        }
    }
    return NO_AUTHORITY;
}

bool CAuthorityStore::IsRecognisedIssuer(CWincryptCertificate* pSigner, int nEnvironment)
{
    LogInfo("...no se ha encontrado el certificado raíz apropiado. Verificando ruta de "
            "certificación...");
    if (pSigner == nullptr || !pSigner->Verify()) {
        LogInfo("...error en la verificación. No se confía en el certificado");
        return false;
    }
    LogInfo("...OK");
    LogInfo("Comprobando emisor...");

    const std::string astrLists[4] = {CHiddenStrings::GetString(CHiddenStrings::ESlot::IssuersAlways),
                                      CHiddenStrings::GetString(EnvironmentListEntry(nEnvironment)),
                                      CHiddenStrings::GetString(CHiddenStrings::ESlot::IssuersAlso),
                                      CHiddenStrings::GetString(CHiddenStrings::ESlot::IssuersAlsoSecond)};
    const std::string strIssuer = pSigner->GetIssuer();
    for (const std::string& strList : astrLists) {
        if (IssuerListHasEntry(strList, strIssuer)) {
            LogInfo("Emisor reconocido");
            LogInfo("...OK");
            return true;
        }
    }
    LogInfo("...emisor no reconocido");
    return false;
}

bool IssuerListHasEntry(const std::string& strList, const std::string& strIssuer)
{
    // Only a whole name will do: a piece of one ("C=ES", "O=Ormavia, C=ES") would
    // let in any authority the platform trusts under such a short name.
    const std::string strWanted = Upper(strIssuer);
    if (strWanted.empty())
        return false;
    const std::string strUpper = Upper(strList);
    size_t nStart = 0;
    for (;;) {
        size_t nEnd = strUpper.find(ISSUER_SEPARATOR, nStart);
        std::string strEntry =
            strUpper.substr(nStart, nEnd == std::string::npos ? std::string::npos : nEnd - nStart);
        size_t nFirst = strEntry.find_first_not_of(" \t");
        if (nFirst != std::string::npos &&
            strEntry.substr(nFirst, strEntry.find_last_not_of(" \t") + 1 - nFirst) == strWanted)
            return true;
        if (nEnd == std::string::npos)
            return false;
        nStart = nEnd + 1;
    }
}
