#include "cert/wincrypt/CWincryptCertificate.h"

#include <stddef.h>
#include <stdio.h>

#include <vector>

#include "api/CLog.h"
#include "api/LogEscape.h"
#include "api/CTarvoselException.h"
#include "cert/CertificateText.h"
#include "cert/wincrypt/TrustStatusText.h"
#include "util/CUtil.h"

namespace {

const DWORD ENCODING = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
const DWORD NAME_TEXT_SIZE = 4096;
const DWORD ALT_NAME_TEXT_SIZE = 4000;
const char SUBJECT_ALT_NAME_OID[] = "2.5.29.17";

// Wine accepts only the engine configuration of Windows before 7; every later
// version accepts it too.
const DWORD CHAIN_ENGINE_CONFIG_SIZE =
    offsetof(CERT_CHAIN_ENGINE_CONFIG, CycleDetectionModulus) + sizeof(DWORD);
static_assert(CHAIN_ENGINE_CONFIG_SIZE == (sizeof(void*) == 8 ? 64 : 40),
              "pre-Windows 7 chain engine configuration");

// Owner attributes in the directory name of the subject alternative name:
// given name, first surname, second surname, identity number.
const char* const s_aOwnerFamilies[3][4] = {
    {"1.3.6.1.4.1.5734.1.1", "1.3.6.1.4.1.5734.1.2", "1.3.6.1.4.1.5734.1.3",
     "1.3.6.1.4.1.5734.1.4"},
    {"2.16.724.1.5064840.1.1", "2.16.724.1.5064840.1.2", "2.16.724.1.5064840.1.3",
     "2.16.724.1.5064840.1.4"},
    {"1.3.6.1.4.1.14862.1.4.4.2.6", "1.3.6.1.4.1.14862.1.4.4.2.7",
     "1.3.6.1.4.1.14862.1.4.4.2.8", "1.3.6.1.4.1.14862.1.4.4.2.4"}};

std::string NameToText(const CERT_NAME_BLOB* pName, DWORD dwStrType, DWORD cchMax)
{
    std::vector<char> buffer(cchMax, '\0');
    DWORD cch = CAPIWincrypt::CertNameToStrA(X509_ASN_ENCODING, const_cast<CERT_NAME_BLOB*>(pName),
                                             dwStrType, buffer.data(), cchMax);
    if (cch <= 1)
        return std::string();
    return std::string(buffer.data());
}

// Wide text in the ANSI code page, cut to at most cbMax bytes.
std::string WideToAnsi(const wchar_t* pwszText, int cbMax)
{
    if (pwszText == nullptr)
        return std::string();
    int cb = WideCharToMultiByte(CP_ACP, 0, pwszText, -1, nullptr, 0, nullptr, nullptr);
    if (cb <= 1)
        return std::string();
    std::vector<char> buffer(cb, '\0');
    WideCharToMultiByte(CP_ACP, 0, pwszText, -1, buffer.data(), cb, nullptr, nullptr);
    std::string strText(buffer.data());
    if (static_cast<int>(strText.size()) > cbMax)
        strText.resize(cbMax);
    return strText;
}

// The part of strText between the n-th and the next "|" (n counted from 0).
std::string PipeField(const std::string& strText, int n)
{
    size_t nStart = 0;
    for (int i = 0; i < n; ++i) {
        size_t nPipe = strText.find('|', nStart);
        if (nPipe == std::string::npos)
            return std::string();
        nStart = nPipe + 1;
    }
    size_t nEnd = strText.find('|', nStart);
    return strText.substr(nStart, nEnd == std::string::npos ? std::string::npos : nEnd - nStart);
}

}  // namespace

CWincryptCertificate::CWincryptCertificate()
{
    Clear();
}

CWincryptCertificate::CWincryptCertificate(PCCERT_CONTEXT pContext)
{
    Clear();
    Create2(pContext);
}

CWincryptCertificate::CWincryptCertificate(const CWincryptCertificate& other) : CCertificate()
{
    Clear();
    Create2(other.GetContext());
}

CWincryptCertificate::~CWincryptCertificate() {}

void CWincryptCertificate::Clear()
{
    m_pContext.reset();
    m_tNotBefore = 0;
    m_tNotAfter = 0;
    m_nKeyUsage = 0;
    m_strOwnerName.clear();
    m_strOwnerId.clear();
    m_strSubjectOid.clear();
    m_strSubject.clear();
    m_strDisplayName.clear();
    m_strSerialNumber.clear();
    m_strIssuer.clear();
    m_strVersion.clear();
    m_strThumbprint.clear();
    m_strEnhancedKeyUsage.clear();
    m_nValidityStatus = 0;
    m_nSignatureUsage = 0;
}

void CWincryptCertificate::Create2(const BYTE* pbEncoded, DWORD cbEncoded)
{
    CCertContextPtr pTemporary(
        CAPIWincrypt::CertCreateCertificateContext(ENCODING, pbEncoded, cbEncoded));
    if (!pTemporary)
        throw new CTarvoselException(EXC_WINDOWS, GetLastError(), "CWincryptCertificate::Create2");
    Create2(pTemporary.get());
}

void CWincryptCertificate::Create2(PCCERT_CONTEXT pContext)
{
    // The new reference comes first: pContext may be the context held now, which
    // Clear would free.
    CCertContextPtr pNew(pContext != nullptr ? CAPIWincrypt::CertDuplicateCertificateContext(pContext)
                                             : nullptr);
    // A rebuilt object must not keep anything of what it held before.
    Clear();
    if (!pNew)
        return;
    m_pContext = std::move(pNew);
    PCERT_INFO pInfo = m_pContext->pCertInfo;

    const DWORD dwSubjectFlags = CERT_NAME_STR_REVERSE_FLAG | CERT_NAME_STR_SEMICOLON_FLAG;
    m_strSubject = NameToText(&pInfo->Subject, CERT_X500_NAME_STR | dwSubjectFlags, NAME_TEXT_SIZE);
    m_strSubjectOid = NameToText(&pInfo->Subject, CERT_OID_NAME_STR | dwSubjectFlags, NAME_TEXT_SIZE);

    std::vector<char> display(NAME_TEXT_SIZE, '\0');
    if (CAPIWincrypt::CertGetNameStringA(m_pContext.get(), CERT_NAME_SIMPLE_DISPLAY_TYPE, 0,
                                         nullptr, display.data(), NAME_TEXT_SIZE) > 1)
        m_strDisplayName = display.data();

    GetOwnerData();

    BYTE abUsage[2] = {0, 0};
    if (CAPIWincrypt::CertGetIntendedKeyUsage(ENCODING, pInfo, abUsage, sizeof(abUsage))) {
        static const struct {
            BYTE bBit;
            int nFlag;
        } s_aUsage[] = {{CERT_DATA_ENCIPHERMENT_KEY_USAGE, KU_DATA_ENCIPHERMENT},
                        {CERT_DIGITAL_SIGNATURE_KEY_USAGE, KU_DIGITAL_SIGNATURE},
                        {CERT_KEY_AGREEMENT_KEY_USAGE, KU_KEY_AGREEMENT},
                        {CERT_KEY_CERT_SIGN_KEY_USAGE, KU_KEY_CERT_SIGN},
                        {CERT_KEY_ENCIPHERMENT_KEY_USAGE, KU_KEY_ENCIPHERMENT},
                        {CERT_NON_REPUDIATION_KEY_USAGE, KU_NON_REPUDIATION},
                        {CERT_CRL_SIGN_KEY_USAGE, KU_CRL_SIGN}};
        for (const auto& u : s_aUsage) {
            if (abUsage[0] & u.bBit)
                m_nKeyUsage |= u.nFlag;
        }
        m_nSignatureUsage = m_nKeyUsage & (KU_DIGITAL_SIGNATURE | KU_NON_REPUDIATION);
    }

    DWORD cbUsage = 0;
    if (CAPIWincrypt::CertGetEnhancedKeyUsage(m_pContext.get(), 0, nullptr, &cbUsage) && cbUsage > 0) {
        std::vector<BYTE> usage(cbUsage);
        PCERT_ENHKEY_USAGE pUsage = reinterpret_cast<PCERT_ENHKEY_USAGE>(usage.data());
        if (CAPIWincrypt::CertGetEnhancedKeyUsage(m_pContext.get(), 0, pUsage, &cbUsage)) {
            for (DWORD i = 0; i < pUsage->cUsageIdentifier; ++i) {
                PCCRYPT_OID_INFO pOidInfo = CAPIWincrypt::CryptFindOIDInfo(
                    CRYPT_OID_INFO_OID_KEY, pUsage->rgpszUsageIdentifier[i], 0);
                if (pOidInfo != nullptr)
                    m_strEnhancedKeyUsage += WideToAnsi(pOidInfo->pwszName, NAME_TEXT_SIZE - 1);
                m_strEnhancedKeyUsage += ";";
            }
            if (!m_strEnhancedKeyUsage.empty())
                m_strEnhancedKeyUsage.erase(m_strEnhancedKeyUsage.size() - 1);
        }
    }

    m_strIssuer = NameToText(&pInfo->Issuer, CERT_X500_NAME_STR | CERT_NAME_STR_REVERSE_FLAG,
                             NAME_TEXT_SIZE);

    // The blob holds the serial least significant byte first.
    char szByte[4];
    for (DWORD i = 0; i < pInfo->SerialNumber.cbData; ++i) {
        snprintf(szByte, sizeof(szByte), "%02X", pInfo->SerialNumber.pbData[i]);
        m_strSerialNumber.insert(0, szByte);
    }
    m_strSerialNumber = Trim(m_strSerialNumber);

    BYTE abHash[20];
    DWORD cbHash = sizeof(abHash);
    if (CAPIWincrypt::CertGetCertificateContextProperty(m_pContext.get(), CERT_SHA1_HASH_PROP_ID,
                                                        abHash, &cbHash) &&
        cbHash != 0) {
        for (DWORD i = 0; i < cbHash; ++i) {
            snprintf(szByte, sizeof(szByte), "%02X:", abHash[i]);
            m_strThumbprint += szByte;
        }
        m_strThumbprint.erase(m_strThumbprint.size() - 1);
    }

    switch (pInfo->dwVersion) {
    case CERT_V1: m_strVersion = "V1"; break;
    case CERT_V2: m_strVersion = "V2"; break;
    case CERT_V3: m_strVersion = "V3"; break;
    default: break;
    }

    m_tNotBefore = FileTimeToLocalTime64(pInfo->NotBefore);
    m_tNotAfter = FileTimeToLocalTime64(pInfo->NotAfter);

    LONG nTime = CAPIWincrypt::CertVerifyTimeValidity(nullptr, pInfo);
    m_nValidityStatus = nTime < 0 ? VALIDITY_NOT_YET_VALID
                        : nTime > 0 ? VALIDITY_EXPIRED
                                    : VALIDITY_VALID;
}

void CWincryptCertificate::GetOwnerData()
{
    PCERT_INFO pInfo = m_pContext->pCertInfo;
    PCERT_EXTENSION pExtension =
        CAPIWincrypt::CertFindExtension(SUBJECT_ALT_NAME_OID, pInfo->cExtension, pInfo->rgExtension);
    if (pExtension != nullptr) {
        DWORD cbDecoded = 0;
        if (!CAPIWincrypt::CryptDecodeObject(ENCODING, X509_ALTERNATE_NAME, pExtension->Value.pbData,
                                             pExtension->Value.cbData, CRYPT_DECODE_NOCOPY_FLAG,
                                             nullptr, &cbDecoded))
            throw new CTarvoselException(EXC_WINDOWS, GetLastError(),
                                         "CWincryptCertificate::GetOwnerData");
        std::vector<BYTE> decoded(cbDecoded);
        if (!CAPIWincrypt::CryptDecodeObject(ENCODING, X509_ALTERNATE_NAME, pExtension->Value.pbData,
                                             pExtension->Value.cbData, CRYPT_DECODE_NOCOPY_FLAG,
                                             decoded.data(), &cbDecoded))
            throw new CTarvoselException(EXC_WINDOWS, GetLastError(),
                                         "CWincryptCertificate::GetOwnerData");
        PCERT_ALT_NAME_INFO pAltName = reinterpret_cast<PCERT_ALT_NAME_INFO>(decoded.data());

        const CERT_ALT_NAME_ENTRY* pDirectory = nullptr;
        for (DWORD i = 0; i < pAltName->cAltEntry && pDirectory == nullptr; ++i) {
            if (pAltName->rgAltEntry[i].dwAltNameChoice == CERT_ALT_NAME_DIRECTORY_NAME)
                pDirectory = &pAltName->rgAltEntry[i];
        }
        if (pDirectory != nullptr) {
            std::string strName = NameToText(
                &pDirectory->DirectoryName,
                CERT_OID_NAME_STR | CERT_NAME_STR_REVERSE_FLAG | CERT_NAME_STR_SEMICOLON_FLAG,
                ALT_NAME_TEXT_SIZE);
            std::string strGiven, strFirst, strSecond, strId;
            for (const auto& family : s_aOwnerFamilies) {
                strGiven = GetNameAttribute(strName, family[0]);
                strFirst = GetNameAttribute(strName, family[1]);
                strSecond = GetNameAttribute(strName, family[2]);
                strId = GetNameAttribute(strName, family[3]);
                if (!strId.empty())
                    break;
            }
            if (strId.empty()) {
                strId = GetNameAttribute(strName, "0.9.2342.19200300.100.1.1");
                std::string strCommonName = GetNameAttribute(strName, "2.5.4.3");
                strGiven = PipeField(strCommonName, 0);
                strFirst = PipeField(strCommonName, 1);
                strSecond = PipeField(strCommonName, 2);
            }
            m_strOwnerName = Trim(strGiven + " " + strFirst + " " + strSecond);
            m_strOwnerId = strId;
        }
    }

    if (m_strOwnerId.empty()) {
        m_strOwnerName = GetNameAttribute(m_strSubjectOid, "2.5.4.42") + " " +
                         GetNameAttribute(m_strSubjectOid, "2.5.4.4");
        m_strOwnerId = GetNameAttribute(m_strSubjectOid, "2.5.4.5");
    }

    if (m_strOwnerId.empty()) {
        static const char kName[] = "NOMBRE ";
        static const char kNif[] = " - NIF ";
        size_t nStart = m_strDisplayName.find(kName);
        nStart = nStart == std::string::npos ? 0 : nStart + sizeof(kName) - 1;
        size_t nNif = m_strDisplayName.find(kNif, nStart);
        if (nNif != std::string::npos) {
            m_strOwnerName = m_strDisplayName.substr(nStart, nNif - nStart);
            m_strOwnerId = m_strDisplayName.substr(nNif + sizeof(kNif) - 1);
        } else {
            m_strOwnerName = m_strDisplayName.substr(nStart);
        }
    }
}

void CWincryptCertificate::GetProviderData(std::string& strProvider, std::string& strContainer)
{
    if (!m_pContext)
        throw new CTarvoselException(EXC_WINDOWS, ERROR_INVALID_HANDLE,
                                     "CWincryptCertificate::GetProviderData");
    DWORD cbInfo = 0;
    if (!CAPIWincrypt::CertGetCertificateContextProperty(m_pContext.get(), CERT_KEY_PROV_INFO_PROP_ID,
                                                         nullptr, &cbInfo))
        throw new CTarvoselException(EXC_WINDOWS, GetLastError(),
                                     "CWincryptCertificate::GetProviderData");
    std::vector<BYTE> info(cbInfo);
    if (!CAPIWincrypt::CertGetCertificateContextProperty(m_pContext.get(), CERT_KEY_PROV_INFO_PROP_ID,
                                                         info.data(), &cbInfo))
        throw new CTarvoselException(EXC_WINDOWS, GetLastError(),
                                     "CWincryptCertificate::GetProviderData");
    const CRYPT_KEY_PROV_INFO* pInfo = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(info.data());
    strProvider = WideToAnsi(pInfo->pwszProvName, 255);
    strContainer = WideToAnsi(pInfo->pwszContainerName, 255);
}

void CWincryptCertificate::LogDetails()
{
    static const char kDateFormat[] = "%d/%m/%Y, a las %H:%M";
    LogInfo("DN: %s", LogEscape(m_strSubject).c_str());
    LogInfo("N. serie: %s", LogEscape(m_strSerialNumber).c_str());
    LogInfo("Uso: %s\tUso mejorado: %s", KeyUsageText(m_nKeyUsage).c_str(),
            LogEscape(m_strEnhancedKeyUsage).c_str());
    LogInfo("Válido desde %s, hasta %s", FormatTime64(m_tNotBefore, kDateFormat).c_str(),
            FormatTime64(m_tNotAfter, kDateFormat).c_str());
    LogInfo("Emitido por: %s", LogEscape(m_strIssuer).c_str());
}

std::string CWincryptCertificate::GetPEM() const
{
    if (!m_pContext)
        return std::string();
    const BYTE* pbData = m_pContext->pbCertEncoded;
    DWORD cbData = m_pContext->cbCertEncoded;
    std::vector<char> text(CUtil::Base64EncodedSize(cbData, 64), '\0');
    DWORD cchText = static_cast<DWORD>(text.size());
    CUtil::Base64EncodeBuffer(pbData, cbData, 64, text.data(), &cchText);
    return "-----BEGIN CERTIFICATE-----\n" + std::string(text.data(), cchText) +
           "\n-----END CERTIFICATE-----\n";
}

int CWincryptCertificate::Verify()
{
    if (!m_pContext)
        throw new CTarvoselException(EXC_WINDOWS, ERROR_INVALID_HANDLE,
                                     "CWincryptCertificate::Verify");

    CERT_CHAIN_ENGINE_CONFIG config;
    ZeroMemory(&config, sizeof(config));
    config.cbSize = CHAIN_ENGINE_CONFIG_SIZE;
    config.dwFlags = CERT_CHAIN_CACHE_END_CERT;
    HCERTCHAINENGINE hEngine = nullptr;
    if (!CAPIWincrypt::CertCreateCertificateChainEngine(&config, &hEngine))
        throw new CTarvoselException(EXC_WINDOWS, GetLastError(), "CWincryptCertificate::Verify");
    CCertChainEnginePtr pEngine(hEngine);

    CERT_CHAIN_PARA para;
    ZeroMemory(&para, sizeof(para));
    para.cbSize = sizeof(para);
    PCCERT_CHAIN_CONTEXT pChainContext = nullptr;
    if (!CAPIWincrypt::CertGetCertificateChain(hEngine, m_pContext.get(), nullptr, nullptr, &para, 0,
                                               nullptr, &pChainContext))
        throw new CTarvoselException(EXC_WINDOWS, GetLastError(), "CWincryptCertificate::Verify");
    CCertChainPtr pChain(pChainContext);

    if (pChain->TrustStatus.dwErrorStatus == CERT_TRUST_NO_ERROR)
        return 1;

    bool bFailed = false;
    for (DWORD c = 0; c < pChain->cChain; ++c) {
        const CERT_SIMPLE_CHAIN* pSimple = pChain->rgpChain[c];
        DWORD dwChainError = pSimple->TrustStatus.dwErrorStatus;
        if (dwChainError == CERT_TRUST_NO_ERROR)
            continue;
        // Only a validity-period problem may still be the end certificate's alone.
        bool bChainFailed = dwChainError != CERT_TRUST_IS_NOT_TIME_VALID;
        bool bReported = false;
        for (DWORD e = 0; e < pSimple->cElement; ++e) {
            const CERT_TRUST_STATUS& status = pSimple->rgpElement[e]->TrustStatus;
            if (!bChainFailed && status.dwErrorStatus != CERT_TRUST_NO_ERROR &&
                !(e == 0 && status.dwErrorStatus == CERT_TRUST_IS_NOT_TIME_VALID))
                bChainFailed = true;
            if (!bChainFailed)
                continue;
            if (!bReported) {
                LogInfo("Error al verificar la ruta de certificación -> %s",
                        TrustStatusText(dwChainError, pSimple->TrustStatus.dwInfoStatus).c_str());
                bReported = true;
            }
            LogInfo("Certificado nº%i de la ruta -> %s", static_cast<int>(e + 1),
                    TrustStatusText(status.dwErrorStatus, status.dwInfoStatus).c_str());
        }
        if (bChainFailed)
            bFailed = true;
    }
    return bFailed ? 0 : 1;
}
