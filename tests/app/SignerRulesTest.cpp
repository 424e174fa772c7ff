// Whom a signed file names and when it was signed, checked through the whole
// checking pipeline with the certificates of tests/fixtures/forged: each carries
// soft-ds's key, so the messages here are signed with that key from the store.
#include <gtest/gtest.h>

#include <memory>

#include "api/ResultCodes.h"
#include "cert/pkcs7/CPkcs7Writer.h"
#include "cert/wincrypt/CAPIWincrypt.h"
#include "cert/wincrypt/CWincryptPkcs7Crypto.h"
#include "cert/wincrypt/CWincryptSession.h"
#include "tests/app/AppTestSupport.h"
#include "tests/app/RealSession.h"
#include "tests/session/SessionTestSupport.h"
#include "tests/support/TestCapture.h"

using tvltest::ResultOf;

namespace {

const char kUnexpected[] = " - El certificado es de una CA de confianza pero no es el esperado\r\n";
const char kOutside[] =
    " - La fecha de firma no se encuentra en el intervalo de validez del certificado\r\n";

class SignerRulesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        apptest::WriteIni("Log=1\r\n");
        ASSERT_EQ(0, ResultOf([] { GetTarvoselApp().Initialize(0); }));
        m_strDir = tvltest::MakeScratchFolder("signer-rules");
        // Checking needs an open session of any kind.
        ASSERT_NO_FATAL_FAILURE(apptest::AdoptRealSession("dni-sign", "dni-auth"));
    }
    void TearDown() override
    {
        ResultOf([] { GetTarvoselApp().Finalize(); });
        tvltest::RemoveFolder(m_strDir);
        DeleteFileA(apptest::IniPath().c_str());
    }
    std::string Path(const char* pszName) const { return m_strDir + pszName; }

    // A message over "datos" signed with soft-ds's key as the certificate
    // pszCert of the forged fixtures, at the given UTC time, written to
    // signed.p7; false when it cannot be made.
    bool Sign(const char* pszCert, const SYSTEMTIME& stUtc)
    {
        std::string strCert = tvltest::ReadAll(std::string(TVL_FORGED_DIR "\\") + pszCert + ".der");
        std::unique_ptr<CWincryptCertificate> key(sessiontest::LoadFromMy("soft-ds"));
        if (strCert.empty() || !key)
            return false;
        HCRYPTPROV hProv = 0;
        DWORD dwSpec = 0;
        BOOL bFree = FALSE;
        if (!CAPIWincrypt::CryptAcquireCertificatePrivateKey(key->GetContext(), 0, nullptr, &hProv,
                                                             &dwSpec, &bFree))
            return false;
        FILETIME ft;
        BYTE abTime[64];
        DWORD cbTime = sizeof(abTime);
        std::string strSigned;
        CWincryptPkcs7Crypto crypto;
        CPkcs7Writer writer(crypto, [&](const uint8_t* p, size_t n) {
            strSigned.append(reinterpret_cast<const char*>(p), n);
            return true;
        });
        bool bOk =
            SystemTimeToFileTime(&stUtc, &ft) &&
            CAPIWincrypt::CryptEncodeObject(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING,
                                            szOID_RSA_signingTime, &ft, abTime, &cbTime) &&
            writer.Begin(reinterpret_cast<const uint8_t*>(strCert.data()), strCert.size(),
                         "1.2.840.113549.2.5", abTime, cbTime) == EPkcs7Error::Ok &&
            writer.Update(reinterpret_cast<const uint8_t*>("datos"), 5) == EPkcs7Error::Ok &&
            writer.Finish([&](const std::string& strOid, const uint8_t* p, size_t n,
                              std::vector<uint8_t>& signature) {
                return CWincryptPkcs7Crypto::Sign(hProv, dwSpec, strOid, p, n, signature);
            }) == EPkcs7Error::Ok;
        if (bFree)
            CAPIWincrypt::CryptReleaseContext(hProv, 0);
        return bOk && tvltest::WriteAll(Path("signed.p7"), strSigned);
    }
    int Check()
    {
        return ResultOf([&] {
            GetTarvoselApp().CheckSignedFile(Path("signed.p7"), Path("back.txt"), 0, 0);
        });
    }

    std::string m_strDir;
};

const SYSTEMTIME kSpring2026 = {2026, 3, 6, 14, 10, 15, 20, 0};

}  // namespace

// The accepted texts of the test trust data are "O=ORMAVIA" and "OU=FIRMA
// AUTOMATIZADA"; every certificate here comes from an embedded authority.
TEST_F(SignerRulesTest, OnlyAWholeAcceptedValueNamesTheSigner)
{
    static const struct {
        const char* pszCert;
        bool bAccepted;
    } cases[] = {
        {"signer-exact-o", true},      // O=Ormavia
        {"signer-exact-ou", true},     // OU=Firma Automatizada
        {"signer-other-case", true},   // O=ormavia
        {"signer-o-longer", false},    // O=Ormavia Servicios SL
        {"signer-o-suffix", false},    // O=Ormaviana
        {"signer-ou-longer", false},   // OU=Firma Automatizada X
        {"signer-in-cn", false},       // CN=O=Ormavia
        {"signer-ou-as-o", false},     // OU=Ormavia
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszCert);
        ASSERT_TRUE(Sign(c.pszCert, kSpring2026));
        tvltest::LogCapture log("signer");
        EXPECT_EQ(c.bAccepted ? 0 : ERR_UNTRUSTED_SIGNER, Check());
        std::string s = log.Text();
        // Refused for its subject alone: the issuer is one the library carries.
        EXPECT_NE(std::string::npos, s.find(" - Emisor reconocido. Entorno: prod")) << s;
        EXPECT_EQ(!c.bAccepted, s.find(kUnexpected) != std::string::npos) << s;
    }
}

// Madrid leaves summer time on 26/10/2025: 02:00-03:00 comes twice, at 00:00
// and at 01:00 UTC. Local times cannot tell those apart; the check must.
TEST_F(SignerRulesTest, SigningTimeIsComparedWithTheValidityInUtc)
{
    static const struct {
        const char* pszCert;  // validity end or start, UTC
        WORD wHour, wMinute;  // signing time on 26/10/2025, UTC
        bool bInside;
    } cases[] = {
        {"dst-end-0040", 0, 30, true},     // 02:30 summer time, before the end at 02:40 summer
        {"dst-end-0040", 0, 40, true},     // the end itself counts as inside
        {"dst-end-0040", 1, 10, false},    // 02:10 winter time, after 02:40 summer
        {"dst-end-0110", 0, 40, true},     // 02:40 summer time, before 02:10 winter
        {"dst-end-0110", 1, 20, false},    // 02:20 winter time
        {"dst-start-0040", 1, 10, true},   // 02:10 winter time, after a start at 02:40 summer
        {"dst-start-0040", 0, 30, false},  // 02:30 summer time, before it
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.pszCert) + " at " + std::to_string(c.wHour) + ":" +
                     std::to_string(c.wMinute) + " UTC");
        SYSTEMTIME st = {2025, 10, 0, 26, c.wHour, c.wMinute, 0, 0};
        ASSERT_TRUE(Sign(c.pszCert, st));
        tvltest::LogCapture log("dst");
        EXPECT_EQ(c.bInside ? 0 : ERR_BAD_SIGNATURE, Check());
        std::string s = log.Text();
        EXPECT_EQ(!c.bInside, s.find(kOutside) != std::string::npos) << s;
        // The log still shows Madrid's wall clock.
        char szShown[64];
        snprintf(szShown, sizeof(szShown), " - Fecha de firma: 26/10/2025, a las 02:%02d\r\n",
                 c.wMinute);
        EXPECT_NE(std::string::npos, s.find(szShown)) << s;
    }
}

// A subject may carry line ends: in the log they must not start a line of their own.
TEST_F(SignerRulesTest, LineEndsOfACertificateNameStayInsideItsLogLine)
{
    ASSERT_TRUE(Sign("crlf", kSpring2026));
    tvltest::LogCapture log("crlf");
    EXPECT_EQ(ERR_UNTRUSTED_SIGNER, Check());
    std::string s = log.Text();
    // Every line ends in CR LF and every entry line is one the library wrote.
    size_t nPos = 0;
    int nEntries = 0;
    while (nPos < s.size()) {
        size_t nEnd = s.find("\r\n", nPos);
        ASSERT_NE(std::string::npos, nEnd) << s;
        std::string strLine = s.substr(nPos, nEnd - nPos);
        EXPECT_EQ(std::string::npos, strLine.find_first_of("\r\n")) << strLine;
        if (strLine.compare(0, 2, "  ") == 0) {
            EXPECT_TRUE(strLine.size() > 13 && strLine[4] == ':' && strLine[7] == ':' &&
                        strLine[10] == '(' && strLine.find(") - ") != std::string::npos)
                << strLine;
        }
        EXPECT_NE(0, strLine.compare(0, 15, "  10:42:07(518)")) << strLine;
        ++nEntries;
        nPos = nEnd + 2;
    }
    EXPECT_GT(nEntries, 5);
    // The name is all there, its line ends written out.
    const char kEscaped[] =
        "Prueba\\x0D\\x0A  10:42:07(518) - Emisor reconocido. Entorno: prod";
    EXPECT_NE(std::string::npos, s.find(std::string(" - DN: CN=\"") + kEscaped + "\"\r\n")) << s;
    EXPECT_NE(std::string::npos, s.find(" - Emisor reconocido. Entorno: prod - ca subordinada")) << s;
}
