#include "CCardCertificates.h"

#include <wincrypt.h>

#include <fstream>
#include <iterator>

#include "CardTestData.h"

namespace {
const DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
// A description property that tells these certificates apart from the test
// PKI's own (certinstall marks its certificates "tvl-test-pki").
const wchar_t kMark[] = L"tvl-test-card";

bool Failed(std::string* pstrError, const std::string& strWhat)
{
    if (pstrError != nullptr)
        *pstrError = strWhat + " failed: " + std::to_string(GetLastError());
    return false;
}

HCERTSTORE OpenMy()
{
    return CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, "MY");
}

bool Commit(HCERTSTORE hStore)
{
    return CertControlStore(hStore, CERT_STORE_CTRL_COMMIT_FORCE_FLAG, CERT_STORE_CTRL_COMMIT,
                            nullptr) != FALSE;
}

bool IsMarked(PCCERT_CONTEXT pCert)
{
    wchar_t sz[sizeof(kMark) / sizeof(wchar_t)] = L"";
    DWORD cb = sizeof(sz);
    return CertGetCertificateContextProperty(pCert, CERT_DESCRIPTION_PROP_ID, sz, &cb) &&
           cb == sizeof(kMark) && memcmp(sz, kMark, sizeof(kMark)) == 0;
}

std::wstring Wide(const char* psz)
{
    int n = MultiByteToWideChar(CP_ACP, 0, psz, -1, nullptr, 0);
    std::wstring w(n, L'\0');
    MultiByteToWideChar(CP_ACP, 0, psz, -1, &w[0], n);
    w.resize(n - 1);
    return w;
}
}  // namespace

std::vector<CCardCertificates::Entry> CCardCertificates::BenchCards()
{
    return {{"card-dni-auth", PROVIDER_DNIE},
            {"card-dni-sign", PROVIDER_DNIE},
            {"card-temd", PROVIDER_TEMD}};
}

bool CCardCertificates::Propagate(const std::string& strPkiDir, const std::vector<Entry>& entries,
                                  std::string* pstrError)
{
    HCERTSTORE hStore = OpenMy();
    if (hStore == nullptr)
        return Failed(pstrError, "CertOpenStore(MY)");
    bool bOk = true;
    for (const Entry& e : entries) {
        std::string strPath = strPkiDir + "/certs/" + e.pszPkiName + ".der";
        std::ifstream f(strPath, std::ios::binary);
        std::vector<BYTE> der((std::istreambuf_iterator<char>(f)),
                              std::istreambuf_iterator<char>());
        PCCERT_CONTEXT pCert = der.empty()
                                   ? nullptr
                                   : CertCreateCertificateContext(kEncoding, der.data(),
                                                                  static_cast<DWORD>(der.size()));
        if (pCert == nullptr) {
            bOk = Failed(pstrError, "reading " + strPath);
            break;
        }
        std::wstring strContainer = Wide(e.pszPkiName), strProvider = Wide(e.pszProvider);
        CRYPT_KEY_PROV_INFO info = {};
        info.pwszContainerName = &strContainer[0];
        info.pwszProvName = &strProvider[0];
        info.dwProvType = PROV_RSA_FULL;
        info.dwKeySpec = AT_KEYEXCHANGE;
        CRYPT_DATA_BLOB mark = {sizeof(kMark),
                                reinterpret_cast<BYTE*>(const_cast<wchar_t*>(kMark))};
        if (!CertSetCertificateContextProperty(pCert, CERT_KEY_PROV_INFO_PROP_ID, 0, &info) ||
            !CertSetCertificateContextProperty(pCert, CERT_DESCRIPTION_PROP_ID, 0, &mark) ||
            !CertAddCertificateContextToStore(hStore, pCert, CERT_STORE_ADD_REPLACE_EXISTING,
                                              nullptr))
            bOk = Failed(pstrError, std::string("adding ") + e.pszPkiName);
        CertFreeCertificateContext(pCert);
        if (!bOk)
            break;
    }
    if (bOk && !Commit(hStore))
        bOk = Failed(pstrError, "committing MY");
    CertCloseStore(hStore, 0);
    return bOk;
}

bool CCardCertificates::RemoveAll(std::string* pstrError)
{
    HCERTSTORE hStore = OpenMy();
    if (hStore == nullptr)
        return Failed(pstrError, "CertOpenStore(MY)");
    std::vector<PCCERT_CONTEXT> doomed;
    PCCERT_CONTEXT pCert = nullptr;
    while ((pCert = CertEnumCertificatesInStore(hStore, pCert)) != nullptr) {
        if (IsMarked(pCert))
            doomed.push_back(CertDuplicateCertificateContext(pCert));
    }
    bool bOk = true;
    for (PCCERT_CONTEXT p : doomed) {
        if (!CertDeleteCertificateFromStore(p))
            bOk = Failed(pstrError, "CertDeleteCertificateFromStore");
    }
    if (!Commit(hStore))
        bOk = Failed(pstrError, "committing MY");
    CertCloseStore(hStore, 0);
    return bOk;
}
