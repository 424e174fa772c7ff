#include "platform/httpscomp/CHttpsCertSource.h"
#include <wchar.h>

namespace {

const DWORD ENCODING = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
const wchar_t PFX_PREFIX[] = L"PFX\\";
const size_t PFX_PREFIX_LEN = 4;
// A PKCS#12 file of a few certificates is a few kilobytes.
const LONGLONG MAX_PFX_SIZE = 4 * 1024 * 1024;

std::wstring SystemText(DWORD dwError)
{
    wchar_t szText[512] = L"";
    DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL, dwError, 0,
                             szText, sizeof(szText) / sizeof(szText[0]), NULL);
    while (n > 0 && (szText[n - 1] == L'\r' || szText[n - 1] == L'\n' || szText[n - 1] == L' '))
        szText[--n] = L'\0';
    wchar_t szCode[16];
    swprintf(szCode, sizeof(szCode) / sizeof(szCode[0]), dwError < 0x10000 ? L"%lu" : L"0x%08lX",
             (unsigned long)dwError);
    std::wstring str = L"error ";
    str += szCode;
    if (n > 0) {
        str += L": ";
        str += szText;
    }
    return str;
}

class CFileHandle {
public:
    explicit CFileHandle(HANDLE h) : m_h(h) {}
    ~CFileHandle()
    {
        if (m_h != INVALID_HANDLE_VALUE)
            CloseHandle(m_h);
    }
    CFileHandle(const CFileHandle&) = delete;
    CFileHandle& operator=(const CFileHandle&) = delete;
    HANDLE Get() const { return m_h; }

private:
    HANDLE m_h;
};

}  // namespace

CHttpsCertSource::CHttpsCertSource() : m_hStore(NULL), m_bImported(false), m_nSelected(-1) {}

CHttpsCertSource::~CHttpsCertSource()
{
    Close();
}

void CHttpsCertSource::CloseStore()
{
    m_nSelected = -1;
    if (m_hStore == NULL)
        return;
    if (m_bImported)
        RememberImportedKeys();
    // Contexts given out keep their own reference to the store's data.
    m_Crypt.CertCloseStore(m_hStore, 0);
    m_hStore = NULL;
    m_bImported = false;
}

void CHttpsCertSource::Close()
{
    CloseStore();
    for (const CIssued& issued : m_aIssued)
        m_Crypt.CertFreeCertificateContext(issued.pCert);
    m_aIssued.clear();
    DeleteImportedKeys();
}

// A PFX import persists its keys in the user's key containers. They belong to
// the component, and a handle given out may still need them: they go at Close.
void CHttpsCertSource::RememberImportedKeys()
{
    PCCERT_CONTEXT pCert = NULL;
    while ((pCert = m_Crypt.CertEnumCertificatesInStore(m_hStore, pCert)) != NULL) {
        DWORD cb = 0;
        if (!m_Crypt.CertGetCertificateContextProperty(pCert, CERT_KEY_PROV_INFO_PROP_ID, NULL, &cb) || cb == 0)
            continue;
        std::vector<BYTE> buffer(cb);
        if (!m_Crypt.CertGetCertificateContextProperty(pCert, CERT_KEY_PROV_INFO_PROP_ID, buffer.data(), &cb))
            continue;
        const CRYPT_KEY_PROV_INFO* pInfo = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(buffer.data());
        if (pInfo->pwszContainerName == NULL)
            continue;
        CKeyContainer key;
        key.strContainer = pInfo->pwszContainerName;
        key.strProvider = pInfo->pwszProvName != NULL ? pInfo->pwszProvName : L"";
        key.dwProvType = pInfo->dwProvType;
        key.dwFlags = pInfo->dwFlags & CRYPT_MACHINE_KEYSET;
        bool bKnown = false;
        for (const CKeyContainer& known : m_aImportedKeys)
            bKnown = bKnown || (known.strContainer == key.strContainer && known.strProvider == key.strProvider &&
                                known.dwProvType == key.dwProvType && known.dwFlags == key.dwFlags);
        if (!bKnown)
            m_aImportedKeys.push_back(key);
    }
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
    m_strStore = strStore;
    m_strError.clear();
    if (!m_Crypt.IsLoaded())
        return FailStore(L"crypt32.dll is not usable (" + SystemText(m_Crypt.GetError()) + L")");
    if (_wcsicmp(strStore.c_str(), L"MY") == 0)
        return OpenSystemStore();
    if (_wcsnicmp(strStore.c_str(), PFX_PREFIX, PFX_PREFIX_LEN) == 0)
        return ImportPfx();
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

bool CHttpsCertSource::ImportPfx()
{
    std::wstring strSpec = m_strStore.substr(PFX_PREFIX_LEN);
    // A path cannot hold '*', a password can.
    size_t nStar = strSpec.find(L'*');
    std::wstring strPath = strSpec.substr(0, nStar);
    std::wstring strPassword = nStar == std::wstring::npos ? std::wstring() : strSpec.substr(nStar + 1);
    if (strPath.empty())
        return FailStore(L"no PKCS#12 file named");

    std::vector<BYTE> data;
    DWORD dwError = 0;
    if (!ReadWholeFile(strPath, data, dwError))
        return FailStore(L"cannot read the PKCS#12 file (" + SystemText(dwError) + L")");

    CRYPT_DATA_BLOB blob;
    blob.cbData = (DWORD)data.size();
    blob.pbData = data.data();
    SetLastError(0);
    m_hStore = m_Crypt.PFXImportCertStore(&blob, strPassword.c_str(), CRYPT_USER_KEYSET);
    dwError = GetLastError();
    SecureZeroMemory(&strPassword[0], strPassword.size() * sizeof(wchar_t));
    if (m_hStore == NULL) {
        std::wstring strReason = L"wrong password or not a PKCS#12 file";
        if (dwError != 0)
            strReason += L" (" + SystemText(dwError) + L")";
        return FailStore(strReason);
    }
    m_bImported = true;
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
