// Shared pieces of the certificate tests: the test PKI's files, certificates built
// from them, byte patches of fixture certificates.
#pragma once
#include <windows.h>
#include <wincrypt.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "cert/wincrypt/CAPIWincrypt.h"
#include "cert/wincrypt/CWincryptCertificate.h"
#include "tests/fixtures/pki/TestPki.h"
#include "tests/support/TestCapture.h"
#include "tests/support/TestFiles.h"

namespace certtest
{

using tvltest::Capture;
using tvltest::CaughtFailure;
using tvltest::LogCapture;

typedef std::vector<BYTE> Bytes;

inline Bytes ReadBytes(const std::string& strPath)
{
    bool bOpened = false;
    Bytes b = tvltest::ReadBytes(strPath, &bOpened);
    EXPECT_TRUE(bOpened) << strPath;
    return b;
}

inline std::string ReadText(const std::string& strPath)
{
    Bytes b = ReadBytes(strPath);
    return std::string(b.begin(), b.end());
}

inline std::string PkiPath(const std::string& strRelative)
{
    return std::string(TVL_PKI_DIR "/") + strRelative;
}

inline const TestPkiCert& PkiRecord(const char* pszName)
{
    const TestPkiCert* p = FindTestPkiCert(pszName);
    EXPECT_NE(p, nullptr) << pszName;
    return p != nullptr ? *p : g_aTestPki[0];
}

inline Bytes PkiDer(const char* pszName)
{
    return ReadBytes(PkiPath(PkiRecord(pszName).pszDerFile));
}

inline std::unique_ptr<CWincryptCertificate> FromBytes(const Bytes& der)
{
    std::unique_ptr<CWincryptCertificate> p(new CWincryptCertificate());
    p->Create2(der.data(), static_cast<DWORD>(der.size()));
    return p;
}

inline std::unique_ptr<CWincryptCertificate> PkiCertificate(const char* pszName)
{
    return FromBytes(PkiDer(pszName));
}

// A CryptoAPI context over DER bytes, freed by the holder.
inline CCertContextPtr ContextFromBytes(const Bytes& der)
{
    return CCertContextPtr(CAPIWincrypt::CertCreateCertificateContext(
        X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size())));
}

// Replaces the first occurrence of strFrom (same length as strTo) in the bytes.
inline bool PatchText(Bytes& der, const std::string& strFrom, const std::string& strTo)
{
    EXPECT_EQ(strFrom.size(), strTo.size());
    auto it = std::search(der.begin(), der.end(), strFrom.begin(), strFrom.end());
    if (it == der.end())
        return false;
    std::copy(strTo.begin(), strTo.end(), it);
    return true;
}

// Makes the GeneralNames SEQUENCE inside the subject alternative name extension
// claim one byte more than the extension holds, so that the value no longer
// decodes. The signature is spoilt too, which a context built from bytes does not
// check.
inline bool BreakSubjectAltName(Bytes& der)
{
    static const BYTE kOid[] = {0x06, 0x03, 0x55, 0x1D, 0x11};
    auto it = std::search(der.begin(), der.end(), std::begin(kOid), std::end(kOid));
    if (it == der.end())
        return false;
    size_t n = static_cast<size_t>(it - der.begin()) + sizeof(kOid);
    if (n + 3 <= der.size() && der[n] == 0x01)  // critical flag
        n += 3;
    if (n >= der.size() || der[n] != 0x04)  // OCTET STRING
        return false;
    ++n;
    n += (der[n] & 0x80) ? 1 + (der[n] & 0x7F) : 1;  // its length
    if (n + 1 >= der.size() || der[n] != 0x30)
        return false;
    ++n;
    if (der[n] & 0x80)  // long form: the last length byte
        n += der[n] & 0x7F;
    if (n >= der.size() || der[n] == 0xFF || der[n] == 0x7F)
        return false;
    ++der[n];
    return true;
}

// Sets a key-provider property on a context (kept by the context and every duplicate).
inline bool SetProvider(PCCERT_CONTEXT pContext, const wchar_t* pwszProvider,
                        const wchar_t* pwszContainer)
{
    CRYPT_KEY_PROV_INFO info;
    ZeroMemory(&info, sizeof(info));
    info.pwszContainerName = const_cast<wchar_t*>(pwszContainer);
    info.pwszProvName = const_cast<wchar_t*>(pwszProvider);
    info.dwProvType = PROV_RSA_FULL;
    info.dwKeySpec = AT_SIGNATURE;
    return CAPIWincrypt::CertSetCertificateContextProperty(pContext, CERT_KEY_PROV_INFO_PROP_ID, 0,
                                                           &info) != FALSE;
}

// Loads the entry-point table once per process.
class CertTest : public ::testing::Test
{
protected:
    void SetUp() override { CAPIWincrypt::Load(); }
};

}  // namespace certtest
