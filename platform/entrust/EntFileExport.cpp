#include "platform/entrust/EntFile.h"

#include "platform/entrust/EntFileIo.h"
#include "platform/entrust/EntProfile.h"
#include "platform/pkcs12/CCryptoPrimitives.h"
#include "platform/pkcs12/CPkcs12Writer.h"
#include "util/CBase64Encoder.h"

namespace {
short WriteNewFile(const char* pszPath, const std::vector<uint8_t>& data)
{
    if (pszPath == nullptr || *pszPath == '\0')
        return ENT_ERR_INVALID_ARGUMENT;
    return EntFileIo::WriteWhole(pszPath, data) ? ENT_OK : ENT_ERR_FILE_WRITE;
}

void AppendPem(std::string& strText, const std::vector<uint8_t>& der)
{
    CBase64Encoder encoder;
    encoder.OpenString(64);
    for (uint8_t b : der)
        encoder.Put(b);
    encoder.Finish();
    strText += "-----BEGIN CERTIFICATE-----\n" + encoder.Text() + "\n-----END CERTIFICATE-----\n";
}
}  // namespace

short EntFile::ExportMyCertificate(const char* pszPath, GString& strText)
{
    if (!m_pProfile)
        return ENT_ERR_NOT_LOGGED_IN;
    std::string strPem;
    AppendPem(strPem, m_pProfile->Encryption()->pCert->Der());
    if (m_pProfile->Signing() != m_pProfile->Encryption())
        AppendPem(strPem, m_pProfile->Signing()->pCert->Der());
    short nCode = WriteNewFile(pszPath, std::vector<uint8_t>(strPem.begin(), strPem.end()));
    if (nCode == ENT_OK)
        strText = m_pProfile->Encryption()->pCert->SubjectText();
    return nCode;
}

short EntFile::GetPKCS12ExportableCertificates(EntCertificateList& list)
{
    list.Clear();
    if (!m_pProfile)
        return ENT_ERR_NOT_LOGGED_IN;
    for (const EntProfile::CKeyPair* pPair : m_pProfile->Pairs())
        list.AddEntry(EntCertificate(this, pPair->pCert));
    return ENT_OK;
}

short EntFile::ExportCertificateListPKCS12(const char* pszProfilePassword, const char* pszFile,
                                           const char* pszExportPassword, EntCertificateList& list,
                                           int nIterations)
{
    if (!m_pProfile)
        return ENT_ERR_NOT_LOGGED_IN;
    if (!IsProfilePassword(pszProfilePassword))
        return ENT_ERR_BAD_PASSWORD;
    EntTime tPolicyEnd = 0;
    if (CheckPolicy(tPolicyEnd) != ENT_OK)
        return ENT_ERR_EXPORT_POLICY;
    if (nIterations < 1 || nIterations > 100000)
        return ENT_ERR_INVALID_ARGUMENT;

    std::vector<const EntProfile::CKeyPair*> pairs;
    for (int i = 0; i < list.GetNumberOfEntries(); ++i) {
        EntCertificate cert;
        list.GetEntry(i, cert);
        const EntProfile::CKeyPair* pPair = cert.IsEmpty() ? nullptr : m_pProfile->PairOf(*cert.X509());
        if (pPair == nullptr)
            return ENT_ERR_INVALID_ARGUMENT;
        bool bListed = false;
        for (const EntProfile::CKeyPair* p : pairs)
            bListed = bListed || p == pPair;
        if (!bListed)
            pairs.push_back(pPair);
    }

    CCryptoPrimitives crypto;
    std::vector<CPkcs12Bag> bags;
    if (!crypto.IsReady() ||
        !EntProfile::MakeBags(pairs, std::vector<std::shared_ptr<const EntX509>>(), crypto, bags))
        return ENT_ERR_NO_MEMORY;
    std::vector<uint8_t> pfx;
    CPkcs12Writer writer(crypto);
    std::wstring strExportPassword = WidePassword(pszExportPassword);
    EPkcs12Error e = writer.Write(bags, strExportPassword, static_cast<unsigned>(nIterations), pfx);
    if (!strExportPassword.empty())
        SecureZeroMemory(&strExportPassword[0], strExportPassword.size() * sizeof(wchar_t));
    EntProfile::WipeBags(bags);
    if (e != EPkcs12Error::Ok)
        return ENT_ERR_NO_MEMORY;
    return WriteNewFile(pszFile, pfx);
}
