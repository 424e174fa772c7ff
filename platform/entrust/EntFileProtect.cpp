#include "platform/entrust/EntFile.h"

#include <stdio.h>
#include <time.h>

#include "asn1/Asn1Oids.h"
#include "asn1/Asn1Tags.h"
#include "cert/pkcs7/CPkcs7Crypto.h"
#include "cert/pkcs7/CPkcs7Writer.h"
#include "platform/entrust/EntProfile.h"
#include "platform/framework/CFileHandle.h"
#include "platform/pkcs12/CCryptoPrimitives.h"

namespace {
const DWORD kBlockSize = 64 * 1024;

// Digests of the signed-message writer on the toolkit's primitives.
class EntPkcs7Crypto : public CPkcs7Crypto {
public:
    explicit EntPkcs7Crypto(CCryptoPrimitives& crypto) : m_crypto(crypto) {}

    std::unique_ptr<CPkcs7Digest> CreateDigest(const std::string& strDigestOid) override
    {
        CCryptoPrimitives::EHash eHash;
        if (!CCryptoPrimitives::HashOfOid(strDigestOid, eHash))
            return nullptr;
        std::unique_ptr<CCryptoPrimitives::CHashStream> pHash = m_crypto.CreateHash(eHash);
        if (!pHash)
            return nullptr;
        return std::unique_ptr<CPkcs7Digest>(new CDigest(std::move(pHash)));
    }

    // The toolkit only signs.
    bool VerifyDigestSignature(const uint8_t*, size_t, const std::string&, const uint8_t*, size_t,
                               const uint8_t*, size_t) override
    {
        return false;
    }

private:
    class CDigest : public CPkcs7Digest {
    public:
        explicit CDigest(std::unique_ptr<CCryptoPrimitives::CHashStream> pHash)
            : m_pHash(std::move(pHash))
        {
        }
        bool Update(const uint8_t* pData, size_t nSize) override
        {
            return m_pHash->Update(pData, nSize);
        }
        bool Final(std::vector<uint8_t>& value) override { return m_pHash->Final(value); }

    private:
        std::unique_ptr<CCryptoPrimitives::CHashStream> m_pHash;
    };

    CCryptoPrimitives& m_crypto;
};

// Digest OID of the options' digest code; empty for a code not offered.
std::string DigestOid(long nDigest)
{
    switch (nDigest) {
        case 0:
            return Asn1Oids::kSha1;
        case 1:
            return Asn1Oids::kMd5;
        case 2:
            return Asn1Oids::kMd2;
        case 5:
        case 6:
        case 15:
            return Asn1Oids::kSha256;
        default:
            return std::string();
    }
}

// The signing time as an encoded UTCTime (GeneralizedTime from 2050 on).
std::vector<uint8_t> SigningTime()
{
    time_t tNow = time(nullptr);
    struct tm utc;
    gmtime_s(&utc, &tNow);
    char szText[32];
    bool bUtcTime = utc.tm_year + 1900 < 2050;
    int n = bUtcTime ? snprintf(szText, sizeof(szText), "%02d%02d%02d%02d%02d%02dZ", utc.tm_year % 100,
                                utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec)
                     : snprintf(szText, sizeof(szText), "%04d%02d%02d%02d%02d%02dZ",
                                utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday, utc.tm_hour,
                                utc.tm_min, utc.tm_sec);
    std::vector<uint8_t> element;
    element.push_back(bUtcTime ? Asn1Tag::kUtcTime : Asn1Tag::kGeneralizedTime);
    element.push_back(static_cast<uint8_t>(n));
    element.insert(element.end(), szText, szText + n);
    return element;
}

}  // namespace

short EntFile::FileProtect(const PROTECT_OPTIONS& options, EntrustNameList& recipients,
                           EntrustNameList& readers, const char* pszInput, const char* pszOutput)
{
    if (!m_pProfile)
        return ENT_ERR_NOT_LOGGED_IN;
    if (options.nOperation != 0 || options.nFormat != PROTECT_FORMAT_SIGNED ||
        recipients.GetNumberOfNames() != 0 || readers.GetNumberOfNames() != 0)
        return ENT_ERR_BAD_OPTIONS;
    std::string strDigestOid = DigestOid(options.nDigest);
    if (strDigestOid.empty())
        return ENT_ERR_SIGN_ALGORITHM;
    if (pszInput == nullptr || pszOutput == nullptr)
        return ENT_ERR_INVALID_ARGUMENT;
    const EntProfile::CKeyPair* pSigner = m_pProfile->Signing();
    CCryptoPrimitives crypto;
    if (!crypto.IsReady())
        return ENT_ERR_SIGN;

    // Others may read the input but not change it while it is signed; the
    // output is then refused when it names the same file.
    CFileHandle input(CreateFileA(pszInput, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!input.IsValid())
        return ENT_ERR_FILE_READ;
    CFileHandle output(CreateFileA(pszOutput, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!output.IsValid())
        return ENT_ERR_FILE_WRITE;

    EntPkcs7Crypto pkcs7Crypto(crypto);
    bool bWriteFailed = false;
    DWORD dwIoError = 0;
    CPkcs7Writer writer(pkcs7Crypto, [&](const uint8_t* pData, size_t nSize) {
        bWriteFailed = bWriteFailed || !output.WriteAll(pData, nSize, dwIoError);
        return !bWriteFailed;
    });
    CCryptoPrimitives::EHash eHash;
    CCryptoPrimitives::HashOfOid(strDigestOid, eHash);
    auto sign = [&](const std::string&, const uint8_t* pData, size_t nData,
                    std::vector<uint8_t>& signature) {
        return crypto.RsaSign(pSigner->key, eHash, pData, nData, signature);
    };

    short nResult = ENT_OK;
    bool bReadFailed = false;
    std::vector<uint8_t> signingTime = SigningTime();
    EPkcs7Error e = writer.Begin(pSigner->pCert->Der().data(), pSigner->pCert->Der().size(),
                                 strDigestOid, signingTime.data(), signingTime.size());
    if (e == EPkcs7Error::Ok)
        bReadFailed = !input.ReadBlocks(kBlockSize, [&](const BYTE* pData, DWORD dwRead) {
            e = writer.Update(pData, dwRead);
            return e == EPkcs7Error::Ok;
        }, dwIoError);
    if (e == EPkcs7Error::Ok && !bReadFailed)
        e = writer.Finish(sign);
    if (bReadFailed)
        nResult = ENT_ERR_FILE_READ;
    else if (bWriteFailed || e == EPkcs7Error::Output)
        nResult = ENT_ERR_FILE_WRITE;
    else if (e == EPkcs7Error::Unsupported)
        nResult = ENT_ERR_SIGN_ALGORITHM;
    else if (e != EPkcs7Error::Ok)
        nResult = ENT_ERR_SIGN;
    else if (!FlushFileBuffers(output.Get()))
        nResult = ENT_ERR_FILE_WRITE;
    output.Close();
    // A half-written signed file must not pass for a signed one.
    if (nResult != ENT_OK)
        DeleteFileA(pszOutput);
    return nResult;
}
