// Shared pieces of the certificate tests: the test PKI's files, certificates built
// from them, byte patches of fixture certificates, and a log file per test case.
#pragma once
#include <windows.h>
#include <wincrypt.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "api/CLog.h"
#include "api/CTarvoselException.h"
#include "cert/wincrypt/CAPIWincrypt.h"
#include "cert/wincrypt/CWincryptCertificate.h"
#include "tests/fixtures/pki/TestPki.h"

namespace certtest
{

typedef std::vector<BYTE> Bytes;

inline Bytes ReadBytes(const std::string& strPath)
{
    std::ifstream f(strPath.c_str(), std::ios::binary);
    EXPECT_TRUE(f.good()) << strPath;
    return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
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

// The library's log, written to a file of its own for the running test case.
class LogCapture
{
public:
    LogCapture()
    {
        char szModule[MAX_PATH] = "";
        GetModuleFileNameA(nullptr, szModule, MAX_PATH);
        std::string strDir(szModule);
        strDir.erase(strDir.find_last_of("\\/") + 1);
        const ::testing::TestInfo* pInfo = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string strName = pInfo ? std::string(pInfo->test_suite_name()) + "." + pInfo->name()
                                    : std::string("cert");
        for (char& c : strName)
            if (c == '/')
                c = '_';
        m_strPath = strDir + "log_" + strName + ".txt";
        DeleteFileA(m_strPath.c_str());
        CLog::SetPath(m_strPath.c_str());
        CLog::SetEnabled(1);
    }
    ~LogCapture()
    {
        CLog::SetEnabled(0);
        CLog::SetPath("");
        DeleteFileA(m_strPath.c_str());
    }
    std::string Text() const { return ReadTextIfAny(); }
    // The message part of every info entry ("  hh:mm:ss(ms) - message").
    std::vector<std::string> Lines() const
    {
        std::vector<std::string> lines;
        std::string strText = ReadTextIfAny();
        size_t nPos = 0;
        while (nPos < strText.size()) {
            size_t nEnd = strText.find("\r\n", nPos);
            if (nEnd == std::string::npos)
                nEnd = strText.size();
            std::string strLine = strText.substr(nPos, nEnd - nPos);
            size_t nDash = strLine.find(") - ");
            if (nDash != std::string::npos)
                lines.push_back(strLine.substr(nDash + 4));
            nPos = nEnd + 2;
        }
        return lines;
    }
    void Clear() const { DeleteFileA(m_strPath.c_str()); }

private:
    std::string ReadTextIfAny() const
    {
        std::ifstream f(m_strPath.c_str(), std::ios::binary);
        if (!f.good())
            return std::string();
        return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
    }
    std::string m_strPath;
};

// Loads the entry-point table once per process.
class CertTest : public ::testing::Test
{
protected:
    void SetUp() override { CAPIWincrypt::Load(); }
};

// Runs f and returns the exception it throws (nullptr when none); the caller owns it.
template <typename F>
std::unique_ptr<CTarvoselException> Thrown(F f)
{
    try {
        f();
    } catch (CTarvoselException* e) {
        return std::unique_ptr<CTarvoselException>(e);
    }
    return nullptr;
}

}  // namespace certtest
