#include "platform/httpscomp/CHttpsCertSource.h"
#include "platform/httpscomp/CKeyContainerSweeper.h"
#include "platform/framework/CFileHandle.h"
#include "platform/framework/SystemErrorText.h"
#include <wchar.h>

#include "platform/pkcs12/CCryptoPrimitives.h"
#include "platform/pkcs12/CPkcs12Reader.h"
#include "platform/pkcs12/CRsaPrivateKey.h"

namespace {

const DWORD ENCODING = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
const wchar_t PFX_PREFIX[] = L"PFX\\";
const size_t PFX_PREFIX_LEN = 4;
// A PKCS#12 file of a few certificates is a few kilobytes.
const LONGLONG MAX_PFX_SIZE = 4 * 1024 * 1024;

std::wstring SystemText(DWORD dwError)
{
    std::wstring strText = SystemErrorTextW(dwError);
    wchar_t szCode[16];
    swprintf(szCode, sizeof(szCode) / sizeof(szCode[0]), dwError < 0x10000 ? L"%lu" : L"0x%08lX",
             (unsigned long)dwError);
    std::wstring str = L"error ";
    str += szCode;
    if (!strText.empty()) {
        str += L": ";
        str += strText;
    }
    return str;
}

}  // namespace

CHttpsCertSource::CHttpsCertSource() : m_hStore(NULL), m_nSelected(-1) {}

CHttpsCertSource::~CHttpsCertSource()
{
    Close();
}

void CHttpsCertSource::CloseStore()
{
    m_nSelected = -1;
    if (m_hStore == NULL)
        return;
    // Contexts given out keep their own reference to the store's data.
    m_Crypt.CertCloseStore(m_hStore, 0);
    m_hStore = NULL;
}

void CHttpsCertSource::Close()
{
    CloseStore();
    for (const CIssued& issued : m_aIssued)
        m_Crypt.CertFreeCertificateContext(issued.pCert);
    m_aIssued.clear();
    DeleteImportedKeys();
}

void CHttpsCertSource::DeleteImportedKeys()
{
    for (const CKeyContainer& key : m_aImportedKeys) {
        HCRYPTPROV hProv = 0;
        // Best effort: nothing more can be done about a container that will not go.
        CryptAcquireContextW(&hProv, key.strContainer.c_str(), key.strProvider.empty() ? NULL : key.strProvider.c_str(),
                             key.dwProvType, CRYPT_DELETEKEYSET | key.dwFlags);
    }
    m_aImportedKeys.clear();
}

std::wstring CHttpsCertSource::StoreLabel() const
{
    if (_wcsnicmp(m_strStore.c_str(), PFX_PREFIX, PFX_PREFIX_LEN) != 0)
        return m_strStore;
    return m_strStore.substr(0, m_strStore.find(L'*'));
}

bool CHttpsCertSource::FailStore(const std::wstring& strReason)
{
    m_strError = L"Cannot open certificate store '" + StoreLabel() + L"': " + strReason;
    return false;
}

bool CHttpsCertSource::SetStore(const std::wstring& strStore)
{
    CloseStore();
    m_strError.clear();
    bool bPfx = _wcsnicmp(strStore.c_str(), PFX_PREFIX, PFX_PREFIX_LEN) == 0;
    // A path cannot hold '*', a password can.
    size_t nStar = bPfx ? strStore.find(L'*') : std::wstring::npos;
    m_strStore = strStore.substr(0, nStar);
    if (!m_Crypt.IsLoaded())
        return FailStore(L"crypt32.dll is not usable (" + SystemText(m_Crypt.GetError()) + L")");
    if (_wcsicmp(strStore.c_str(), L"MY") == 0)
        return OpenSystemStore();
    if (bPfx) {
        std::wstring strPassword = nStar == std::wstring::npos ? std::wstring() : strStore.substr(nStar + 1);
        bool bOk = ImportPfx(m_strStore.substr(PFX_PREFIX_LEN), strPassword);
        if (!strPassword.empty())
            SecureZeroMemory(&strPassword[0], strPassword.size() * sizeof(wchar_t));
        return bOk;
    }
    return FailStore(L"unknown store, expected \"MY\" or \"PFX\\<file>*<password>\"");
}

bool CHttpsCertSource::OpenSystemStore()
{
    m_hStore = m_Crypt.CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                                     CERT_SYSTEM_STORE_CURRENT_USER | CERT_STORE_READONLY_FLAG, L"MY");
    if (m_hStore == NULL)
        return FailStore(SystemText(GetLastError()));
    return true;
}

bool CHttpsCertSource::ReadWholeFile(const std::wstring& strPath, std::vector<BYTE>& data, DWORD& dwError)
{
    CFileHandle file(CreateFileW(strPath.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, NULL));
    if (file.Get() == INVALID_HANDLE_VALUE) {
        dwError = GetLastError();
        return false;
    }
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file.Get(), &size)) {
        dwError = GetLastError();
        return false;
    }
    if (size.QuadPart > MAX_PFX_SIZE) {
        dwError = ERROR_FILE_TOO_LARGE;
        return false;
    }
    data.clear();
    data.reserve((size_t)size.QuadPart);
    BYTE block[4096];
    for (;;) {
        DWORD cbRead = 0;
        if (!ReadFile(file.Get(), block, sizeof(block), &cbRead, NULL)) {
            dwError = GetLastError();
            return false;
        }
        if (cbRead == 0)
            break;
        if (data.size() + cbRead > (size_t)MAX_PFX_SIZE) {
            dwError = ERROR_FILE_TOO_LARGE;
            return false;
        }
        data.insert(data.end(), block, block + cbRead);
    }
    return true;
}

bool CHttpsCertSource::ImportPfx(const std::wstring& strPath, const std::wstring& strPassword)
{
    if (strPath.empty())
        return FailStore(L"no PKCS#12 file named");
    std::vector<BYTE> data;
    DWORD dwError = 0;
    if (!ReadWholeFile(strPath, data, dwError))
        return FailStore(L"cannot read the PKCS#12 file (" + SystemText(dwError) + L")");

    CCryptoPrimitives crypto;
    CPkcs12Reader reader(crypto);
    std::vector<CPkcs12Bag> bags;
    EPkcs12Error e = reader.Read(data.data(), data.size(), strPassword, bags);
    if (e == EPkcs12Error::BadPassword || e == EPkcs12Error::NotPkcs12)
        return FailStore(L"wrong password or not a PKCS#12 file");
    if (e == EPkcs12Error::Unprotected)
        return FailStore(L"the PKCS#12 file has no integrity check or holds an unencrypted key");
    if (e != EPkcs12Error::Ok) {
        std::string strReason = Pkcs12ErrorText(e);
        return FailStore(L"cannot read the PKCS#12 file (" + std::wstring(strReason.begin(), strReason.end()) + L")");
    }
    HCERTSTORE hStore = m_Crypt.CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, NULL);
    bool bOk = hStore != NULL;
    std::wstring strReason = L"cannot make a memory store";
    for (const CPkcs12Bag& bag : bags) {
        if (bOk && bag.eType == CPkcs12Bag::BAG_CERTIFICATE) {
            bOk = m_Crypt.CertAddEncodedCertificateToStore(hStore, ENCODING, bag.data.data(),
                                                           (DWORD)bag.data.size(), CERT_STORE_ADD_ALWAYS,
                                                           NULL) != FALSE;
            strReason = L"a certificate of the file is damaged";
        }
    }
    for (CPkcs12Bag& bag : bags) {
        if (bag.eType != CPkcs12Bag::BAG_KEY)
            continue;
        if (bOk) {
            bOk = ImportKey(hStore, bag.data);
            strReason = L"cannot import a private key (" + SystemText(GetLastError()) + L")";
        }
        WipeBytes(bag.data);
    }
    if (!bOk) {
        if (hStore != NULL)
            m_Crypt.CertCloseStore(hStore, 0);
        return FailStore(strReason);
    }
    m_hStore = hStore;
    return true;
}

// The key goes into a container of its own, which every certificate of the
// store with its public key then names.
bool CHttpsCertSource::ImportKey(HCERTSTORE hStore, const std::vector<uint8_t>& privateKeyInfo)
{
    CRsaPrivateKey key;
    std::vector<uint8_t> blob;
    if (!key.Parse(privateKeyInfo.data(), privateKeyInfo.size()) || !key.ToPrivateKeyBlob(CALG_RSA_KEYX, blob)) {
        SetLastError((DWORD)NTE_BAD_KEY);
        return false;
    }
    // Named after this process, so that a later start-up can sweep it if we crash.
    std::wstring strContainer = CKeyContainerSweeper::NewName();
    const wchar_t* szContainer = strContainer.c_str();
    HCRYPTPROV hProv = 0;
    if (!CryptAcquireContextW(&hProv, szContainer, MS_ENHANCED_PROV_W, PROV_RSA_FULL, CRYPT_NEWKEYSET)) {
        WipeBytes(blob);
        return false;
    }
    m_aImportedKeys.push_back(CKeyContainer{ szContainer, MS_ENHANCED_PROV_W, PROV_RSA_FULL, 0 });
    HCRYPTKEY hKey = 0;
    BOOL bImported = CryptImportKey(hProv, blob.data(), (DWORD)blob.size(), 0, 0, &hKey);
    DWORD dwError = GetLastError();
    WipeBytes(blob);
    if (!bImported) {
        CryptReleaseContext(hProv, 0);
        SetLastError(dwError);
        return false;
    }
    CryptDestroyKey(hKey);
    DWORD cb = 0;
    std::vector<BYTE> info;
    bool bOk = m_Crypt.CryptExportPublicKeyInfo(hProv, AT_KEYEXCHANGE, ENCODING, NULL, &cb) != FALSE;
    if (bOk) {
        info.resize(cb);
        bOk = m_Crypt.CryptExportPublicKeyInfo(hProv, AT_KEYEXCHANGE, ENCODING,
                                               reinterpret_cast<CERT_PUBLIC_KEY_INFO*>(info.data()), &cb) != FALSE;
    }
    dwError = GetLastError();
    CryptReleaseContext(hProv, 0);
    if (!bOk) {
        SetLastError(dwError);
        return false;
    }
    CRYPT_KEY_PROV_INFO provInfo = {};
    provInfo.pwszContainerName = const_cast<wchar_t*>(szContainer);
    provInfo.pwszProvName = const_cast<wchar_t*>(MS_ENHANCED_PROV_W);
    provInfo.dwProvType = PROV_RSA_FULL;
    provInfo.dwKeySpec = AT_KEYEXCHANGE;
    PCCERT_CONTEXT pCert = NULL;
    while ((pCert = m_Crypt.CertEnumCertificatesInStore(hStore, pCert)) != NULL) {
        if (m_Crypt.CertComparePublicKeyInfo(ENCODING, &pCert->pCertInfo->SubjectPublicKeyInfo,
                                             reinterpret_cast<CERT_PUBLIC_KEY_INFO*>(info.data())) &&
            !m_Crypt.CertSetCertificateContextProperty(pCert, CERT_KEY_PROV_INFO_PROP_ID, 0, &provInfo)) {
            dwError = GetLastError();
            m_Crypt.CertFreeCertificateContext(pCert);
            SetLastError(dwError);
            return false;
        }
    }
    return true;
}

void CHttpsCertSource::SetSubject(const std::wstring& strSubject)
{
    m_nSelected = -1;
    m_strSubject = strSubject;
}

PCCERT_CONTEXT CHttpsCertSource::NextMatch(PCCERT_CONTEXT pPrevious) const
{
    if (m_strSubject.empty() || m_strSubject == L"*")
        return m_Crypt.CertEnumCertificatesInStore(m_hStore, pPrevious);
    return m_Crypt.CertFindCertificateInStore(m_hStore, ENCODING, 0, CERT_FIND_SUBJECT_STR_W,
                                              m_strSubject.c_str(), pPrevious);
}

int CHttpsCertSource::Rank(PCCERT_CONTEXT pCert) const
{
    DWORD cb = 0;
    int nRank = 0;
    if (m_Crypt.CertGetCertificateContextProperty(pCert, CERT_KEY_PROV_INFO_PROP_ID, NULL, &cb))
        nRank += 2;
    if (m_Crypt.CertVerifyTimeValidity(NULL, pCert->pCertInfo) == 0)
        nRank += 1;
    return nRank;
}

PCCERT_CONTEXT CHttpsCertSource::SelectCertificate() const
{
    PCCERT_CONTEXT pBest = NULL;
    int nBest = -1;
    PCCERT_CONTEXT pMatch = NULL;
    while ((pMatch = NextMatch(pMatch)) != NULL) {
        int nRank = Rank(pMatch);
        if (nRank <= nBest)
            continue;
        if (pBest != NULL)
            m_Crypt.CertFreeCertificateContext(pBest);
        pBest = m_Crypt.CertDuplicateCertificateContext(pMatch);
        nBest = nRank;
        if (nRank == 3) {
            m_Crypt.CertFreeCertificateContext(pMatch);
            break;
        }
    }
    return pBest;
}

bool CHttpsCertSource::GetCertificate(PCCERT_CONTEXT& pCert)
{
    pCert = NULL;
    m_strError.clear();
    if (m_nSelected < 0) {
        if (m_hStore == NULL) {
            m_strError = m_strStore.empty() ? L"No certificate store has been set"
                                            : L"Certificate store '" + StoreLabel() + L"' is not open";
            return false;
        }
        PCCERT_CONTEXT pSelected = SelectCertificate();
        if (pSelected == NULL) {
            m_strError = L"No certificate in store '" + StoreLabel() + L"' matches subject '" + m_strSubject + L"'";
            return false;
        }
        for (size_t i = 0; i < m_aIssued.size() && m_nSelected < 0; i++)
            if (m_aIssued[i].strStore == m_strStore &&
                m_Crypt.CertCompareCertificate(ENCODING, m_aIssued[i].pCert->pCertInfo, pSelected->pCertInfo))
                m_nSelected = (int)i;
        if (m_nSelected >= 0) {
            m_Crypt.CertFreeCertificateContext(pSelected);
        } else {
            m_aIssued.push_back(CIssued{ m_strStore, pSelected });
            m_nSelected = (int)m_aIssued.size() - 1;
        }
    }
    pCert = m_aIssued[m_nSelected].pCert;
    return true;
}
