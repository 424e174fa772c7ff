// The signing, checking, export and SSL pipelines of the application object,
// with a stand-in session (retry policy) and with real sessions over the test PKI.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>

#include "api/ResultCodes.h"
#include "cert/pkcs7/CPkcs7Writer.h"
#include "cert/wincrypt/CAPIWincrypt.h"
#include "cert/wincrypt/CWincryptPkcs7Crypto.h"
#include "cert/wincrypt/CWincryptSession.h"
#include "tests/app/AppTestSupport.h"
#include "tests/app/RealSession.h"
#include "tests/app/FakeSession.h"
#include "tests/session/SessionTestSupport.h"
#include "tests/support/PinnedFiles.h"
#include "tests/support/TestCapture.h"
#include "tests/support/TestThreads.h"

using tvltest::Capture;
using tvltest::ResultOf;

namespace {
class PipelineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        apptest::WriteIni("Log=1\r\n");
        ASSERT_EQ(0, ResultOf([] { GetTarvoselApp().Initialize(0); }));
        m_strDir = tvltest::MakeScratchFolder("pipeline");
        m_strTemp = tvltest::MakeScratchFolder("pipeline-temp");
        GetTarvoselApp().SetTempDir(m_strTemp);
        GetTarvoselApp().SetRetryWait([this](DWORD dwMs) { m_waits.push_back(dwMs); });
    }
    void TearDown() override
    {
        GetTarvoselApp().SetRetryWait(nullptr);
        ResultOf([] { GetTarvoselApp().Finalize(); });
        tvltest::RemoveFolder(m_strDir);
        tvltest::RemoveFolder(m_strTemp);
        DeleteFileA(apptest::IniPath().c_str());
    }
    std::string Path(const char* pszName) const { return m_strDir + pszName; }
    // Names of the files left in the temporary directory.
    std::vector<std::string> TempFiles() const
    {
        std::vector<std::string> names;
        WIN32_FIND_DATAA fd;
        HANDLE h = FindFirstFileA((m_strTemp + "*").c_str(), &fd);
        if (h != INVALID_HANDLE_VALUE) {
            do {
                if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                    names.push_back(fd.cFileName);
            } while (FindNextFileA(h, &fd));
            FindClose(h);
        }
        return names;
    }
    FakeSession* AdoptFake(int nType = 1)
    {
        FakeSession* p = new FakeSession(-1);
        p->m_nType = nType;
        GetTarvoselApp().AdoptSession(p);
        return p;
    }
    static std::function<void(const std::string&, const std::string&)> Failing(DWORD dwCode)
    {
        return [dwCode](const std::string&, const std::string&) {
            throw new CTarvoselException(EXC_WINDOWS, static_cast<long>(dwCode), "FakeSession::Sign");
        };
    }

    std::string m_strDir, m_strTemp;
    std::vector<DWORD> m_waits;
};
}  // namespace

TEST_F(PipelineTest, SignedFilesComeBackIdenticalWithEveryLayerCombination)
{
    apptest::AdoptRealSession("dni-sign", "dni-auth");
    std::string strData;
    for (int i = 0; i < 3000; ++i)
        strData += "l\xEDnea " + std::to_string(i) + "\r\n";
    tvltest::WriteAll(Path("doc.txt"), strData);
    for (int bBase64 = 0; bBase64 < 2; ++bBase64) {
        for (int bCompress = 0; bCompress < 2; ++bCompress) {
            SCOPED_TRACE("base64 " + std::to_string(bBase64) + " gzip " + std::to_string(bCompress));
            tvltest::LogCapture log("pipeline");
            ASSERT_EQ(0, ResultOf([&] {
                          GetTarvoselApp().SignFile(Path("doc.txt"), Path("doc.p7"), "MD5WITHRSA",
                                                    bBase64, bCompress);
                      }));
            EXPECT_TRUE(TempFiles().empty());
            std::string strSigned = tvltest::ReadAll(Path("doc.p7"));
            if (bBase64) {
                EXPECT_EQ(std::string::npos, strSigned.find_first_of("\r\n"));
            }
            ASSERT_EQ(0, ResultOf([&] {
                          GetTarvoselApp().CheckSignedFile(Path("doc.p7"), Path("back.txt"),
                                                           bBase64, bCompress);
                      }));
            EXPECT_TRUE(TempFiles().empty());
            EXPECT_EQ(strData, tvltest::ReadAll(Path("back.txt")));
            std::string s = log.Text();
            EXPECT_NE(std::string::npos, s.find(" - Sesi\xF3n C2\r\n"));
            EXPECT_NE(std::string::npos,
                      s.find(std::string(" - Comprimir: ") + (bCompress ? "si" : "no") +
                             ". Codificar a base64: " + (bBase64 ? "si" : "no") + "\r\n"));
            EXPECT_NE(std::string::npos, s.find(" - N\xFAmero de firmas: 1\r\n"));
            EXPECT_NE(std::string::npos, s.find(" - Emisor reconocido. Entorno: prod"));
        }
    }
}

TEST_F(PipelineTest, CheckingWithOtherLayersFailsAndLeavesNoTemporaryFile)
{
    apptest::AdoptRealSession("dni-sign", "dni-auth");
    tvltest::WriteAll(Path("doc.txt"), std::string(5000, 'x'));
    ASSERT_EQ(0, ResultOf([&] {
                  GetTarvoselApp().SignFile(Path("doc.txt"), Path("doc.p7"), "MD5WITHRSA", 1, 1);
              }));
    struct Case {
        int bBase64, bDecompress;
    } cases[] = {{0, 1}, {0, 0}};
    for (const Case& c : cases) {
        EXPECT_EQ(ERR_BAD_SIGNATURE, ResultOf([&] {
                      GetTarvoselApp().CheckSignedFile(Path("doc.p7"), Path("back.txt"), c.bBase64,
                                                       c.bDecompress);
                  }));
        EXPECT_TRUE(TempFiles().empty());
    }
    // Signed without compression, checked with it: the content is not gzip and
    // comes out as it is.
    ASSERT_EQ(0, ResultOf([&] {
                  GetTarvoselApp().SignFile(Path("doc.txt"), Path("plain.p7"), "MD5WITHRSA", 0, 0);
              }));
    EXPECT_EQ(0, ResultOf([&] {
                  GetTarvoselApp().CheckSignedFile(Path("plain.p7"), Path("back.txt"), 0, 1);
              }));
    EXPECT_EQ(std::string(5000, 'x'), tvltest::ReadAll(Path("back.txt")));
    EXPECT_EQ(ERR_FILE_READ, ResultOf([&] {
                  GetTarvoselApp().SignFile(Path("missing"), Path("out.p7"), "MD5WITHRSA", 1, 1);
              }));
    EXPECT_TRUE(TempFiles().empty());
}

TEST_F(PipelineTest, TrustedIssuerButUnexpectedSubjectIsRefused)
{
    apptest::AdoptRealSession("fam3", "fam3");
    tvltest::WriteAll(Path("doc.txt"), "datos");
    ASSERT_EQ(0, ResultOf([&] {
                  GetTarvoselApp().SignFile(Path("doc.txt"), Path("doc.p7"), "MD5WITHRSA", 0, 0);
              }));
    tvltest::LogCapture log("unexpected");
    EXPECT_EQ(ERR_UNTRUSTED_SIGNER, ResultOf([&] {
                  GetTarvoselApp().CheckSignedFile(Path("doc.p7"), Path("back.txt"), 0, 0);
              }));
    EXPECT_NE(std::string::npos,
              log.Text().find(" - El certificado es de una CA de confianza pero no es el esperado\r\n"));
    // Without decompression the content is already in the destination.
    EXPECT_EQ("datos", tvltest::ReadAll(Path("back.txt")));
}

namespace {
// Between the end of "expired" (2022) and the start of "notyet" (2040), whatever
// the day the tests run.
void WINAPI Clock2030(LPSYSTEMTIME pst)
{
    const SYSTEMTIME st = {2030, 6, 0, 15, 8, 30, 0, 0};
    *pst = st;
}
}  // namespace

TEST_F(PipelineTest, SigningTimeOutsideTheCertificateIsRefused)
{
    CWincryptSession::SetSigningClock(Clock2030);
    struct Case {
        const char* pszSigner;
        bool bWarning;  // the certificate has expired
    } cases[] = {{"expired", true}, {"notyet", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszSigner);
        apptest::AdoptRealSession(c.pszSigner, c.pszSigner);
        tvltest::WriteAll(Path("doc.txt"), "datos");
        ASSERT_EQ(0, ResultOf([&] {
                      GetTarvoselApp().SignFile(Path("doc.txt"), Path("doc.p7"), "MD5WITHRSA", 0, 0);
                  }));
        tvltest::LogCapture log("dates");
        EXPECT_EQ(ERR_BAD_SIGNATURE, ResultOf([&] {
                      GetTarvoselApp().CheckSignedFile(Path("doc.p7"), Path("back.txt"), 0, 0);
                  }));
        std::string s = log.Text();
        EXPECT_NE(std::string::npos, s.find(" - La fecha de firma no se encuentra en el intervalo "
                                            "de validez del certificado\r\n"));
        EXPECT_EQ(c.bWarning, s.find(" - AVISO: El certificado de firma no est\xE1 en periodo de "
                                     "validez\r\n") != std::string::npos);
        GetTarvoselApp().CloseSession();
    }
    CWincryptSession::SetSigningClock(nullptr);
}

// A certificate that has expired since, used inside its validity: accepted with
// the warning. The message is written here with a signing time of 2021.
TEST_F(PipelineTest, ExpiredCertificateThatSignedInTimeIsAccepted)
{
    apptest::AdoptRealSession("dni-sign", "dni-auth");  // checking needs an open session
    CWincryptCertificate* pCert = sessiontest::LoadFromMy("expired");
    ASSERT_NE(nullptr, pCert);
    std::unique_ptr<CWincryptCertificate> cert(pCert);
    HCRYPTPROV hProv = 0;
    DWORD dwSpec = 0;
    BOOL bFree = FALSE;
    ASSERT_TRUE(CAPIWincrypt::CryptAcquireCertificatePrivateKey(cert->GetContext(), 0, nullptr,
                                                               &hProv, &dwSpec, &bFree));
    SYSTEMTIME st = {2021, 6, 2, 1, 12, 0, 0, 0};
    FILETIME ft;
    SystemTimeToFileTime(&st, &ft);
    BYTE abTime[64];
    DWORD cbTime = sizeof(abTime);
    ASSERT_TRUE(CAPIWincrypt::CryptEncodeObject(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING,
                                                szOID_RSA_signingTime, &ft, abTime, &cbTime));
    std::string strSigned;
    CWincryptPkcs7Crypto crypto;
    CPkcs7Writer writer(crypto, [&](const uint8_t* p, size_t n) {
        strSigned.append(reinterpret_cast<const char*>(p), n);
        return true;
    });
    const CERT_CONTEXT* pContext = cert->GetContext();
    ASSERT_EQ(EPkcs7Error::Ok, writer.Begin(pContext->pbCertEncoded, pContext->cbCertEncoded,
                                            "1.2.840.113549.2.5", abTime, cbTime));
    ASSERT_EQ(EPkcs7Error::Ok, writer.Update(reinterpret_cast<const uint8_t*>("datos"), 5));
    ASSERT_EQ(EPkcs7Error::Ok,
              writer.Finish([&](const std::string& strOid, const uint8_t* p, size_t n,
                                std::vector<uint8_t>& signature) {
                  return CWincryptPkcs7Crypto::Sign(hProv, dwSpec, strOid, p, n, signature);
              }));
    if (bFree)
        CAPIWincrypt::CryptReleaseContext(hProv, 0);
    tvltest::WriteAll(Path("old.p7"), strSigned);

    tvltest::LogCapture log("expired");
    EXPECT_EQ(0, ResultOf([&] {
                  GetTarvoselApp().CheckSignedFile(Path("old.p7"), Path("back.txt"), 0, 0);
              }));
    EXPECT_EQ("datos", tvltest::ReadAll(Path("back.txt")));
    std::string s = log.Text();
    EXPECT_NE(std::string::npos,
              s.find(" - AVISO: El certificado de firma no est\xE1 en periodo de validez\r\n"));
    // 12:00 UTC on a summer day is 14:00 in Madrid.
    EXPECT_NE(std::string::npos, s.find(" - Fecha de firma: 01/06/2021, a las 14:00\r\n"));
    EXPECT_EQ(std::string::npos, s.find("intervalo de validez"));
}

TEST_F(PipelineTest, SigningOntoTheSourceAndExportIntoAMissingFolderFail)
{
    apptest::AdoptRealSession("dni-sign", "dni-auth");
    tvltest::WriteAll(Path("doc.txt"), "documento del usuario");
    EXPECT_EQ(ERR_FILE_WRITE, ResultOf([&] {
                  GetTarvoselApp().SignFile(Path("doc.txt"), Path("doc.txt"), "MD5WITHRSA", 0, 0);
              }));
    EXPECT_EQ("documento del usuario", tvltest::ReadAll(Path("doc.txt")));
    GetTarvoselApp().SetTempDir(m_strDir + "no-folder");
    std::string strPath, strPassword;
    EXPECT_EQ(ERR_FILE_WRITE,
              ResultOf([&] { GetTarvoselApp().ExportCertificate("", strPath, strPassword); }));
}

// The destination named as the source, however spelt, with every layer
// combination: refused before anything is written, the signed file intact.
TEST_F(PipelineTest, CheckingOntoTheSourceIsRefusedWhateverTheSpelling)
{
    apptest::AdoptRealSession("dni-sign", "dni-auth");
    tvltest::WriteAll(Path("doc.txt"), std::string(20000, 'z') + "fin");
    const char* const kName = "documento firmado.p7";
    std::string strUpper = Path(kName);
    CharUpperBuffA(&strUpper[0], static_cast<DWORD>(strUpper.size()));
    std::string strSlashes = Path(kName);
    std::replace(strSlashes.begin(), strSlashes.end(), '\\', '/');
    for (int bBase64 = 0; bBase64 < 2; ++bBase64) {
        for (int bCompress = 0; bCompress < 2; ++bCompress) {
            ASSERT_EQ(0, ResultOf([&] {
                          GetTarvoselApp().SignFile(Path("doc.txt"), Path(kName), "MD5WITHRSA",
                                                    bBase64, bCompress);
                      }));
            const std::string strSigned = tvltest::ReadAll(Path(kName));
            char szShort[MAX_PATH] = {0};
            ASSERT_NE(0u, GetShortPathNameA(Path(kName).c_str(), szShort, MAX_PATH));
            ASSERT_NE(Path(kName), szShort);
            const std::string spellings[] = {Path(kName), strUpper, strSlashes,
                                             m_strDir + ".\\" + kName, szShort};
            for (const std::string& strDestination : spellings) {
                SCOPED_TRACE("base64 " + std::to_string(bBase64) + " gzip " +
                             std::to_string(bCompress) + " onto " + strDestination);
                tvltest::LogCapture log("onto-source");
                tvltest::CaughtFailure f = Capture([&] {
                    GetTarvoselApp().CheckSignedFile(Path(kName), strDestination, bBase64,
                                                     bCompress);
                });
                EXPECT_EQ(ERR_FILE_READ, f.nCode);
                EXPECT_EQ("CTarvoselApp::CheckSignedFile", f.strContext);
                EXPECT_TRUE(strSigned == tvltest::ReadAll(Path(kName)));
                EXPECT_TRUE(TempFiles().empty());
                EXPECT_NE(std::string::npos, log.Text().find("': es el fichero de origen\r\n"));
                EXPECT_EQ(std::string::npos, log.Text().find("Decodificando"));
            }
        }
    }
}

TEST_F(PipelineTest, ExportAndSslHandle)
{
    EXPECT_EQ(ERR_NO_SESSION, ResultOf([] { GetTarvoselApp().GetSSLHandle(""); }));
    apptest::AdoptRealSession("dni-sign", "dni-auth");
    std::string strPath1, strPath2, strPassword = "x";
    ASSERT_EQ(0, ResultOf([&] { GetTarvoselApp().ExportCertificate("", strPath1, strPassword); }));
    ASSERT_EQ(0, ResultOf([&] { GetTarvoselApp().ExportCertificate("", strPath2, strPassword); }));
    EXPECT_EQ(m_strTemp + "tvl0000.pem", strPath1);
    EXPECT_EQ(m_strTemp + "tvl0001.pem", strPath2);
    EXPECT_EQ("", strPassword);
    EXPECT_EQ(tvltest::ReadAll(std::string(TVL_PKI_DIR) + "/certs/dni-auth.pem"),
              tvltest::ReadAll(strPath1));
    INT_PTR nHandle = 0;
    ASSERT_EQ(0, ResultOf([&] { nHandle = GetTarvoselApp().GetSSLHandle(""); }));
    EXPECT_NE(0, nHandle);
}

TEST_F(PipelineTest, NeitherFlagSignsStraightIntoTheDestination)
{
    FakeSession* p = AdoptFake();
    std::vector<std::pair<std::string, std::string>> paths;
    p->m_fnSign = [&](const std::string& strIn, const std::string& strOut) {
        paths.push_back({strIn, strOut});
    };
    ASSERT_EQ(0, ResultOf([&] { GetTarvoselApp().SignFile("C:\\a", "C:\\b", "MD5WITHRSA", 0, 0); }));
    ASSERT_EQ(1u, paths.size());
    EXPECT_EQ("C:\\a", paths[0].first);
    EXPECT_EQ("C:\\b", paths[0].second);
    EXPECT_EQ(std::vector<std::string>{"SignFile"}, p->m_signCalls);
}

TEST_F(PipelineTest, BothFlagsUseTwoTemporaryFilesAndRemoveThemOnFailure)
{
    FakeSession* p = AdoptFake();
    tvltest::WriteAll(Path("doc.txt"), "abc");
    size_t nDuring = 0;
    p->m_fnSign = [&](const std::string& strIn, const std::string& strOut) {
        nDuring = TempFiles().size() + 1;  // the output is created by the signer
        tvltest::WriteAll(strOut, "partial");
        throw new CTarvoselException(EXC_OWN, ERR_SIGN, "FakeSession::Sign");
    };
    EXPECT_EQ(ERR_SIGN, ResultOf([&] {
                  GetTarvoselApp().SignFile(Path("doc.txt"), Path("doc.p7"), "MD5WITHRSA", 1, 1);
              }));
    EXPECT_EQ(2u, nDuring);
    EXPECT_TRUE(TempFiles().empty());
    EXPECT_FALSE(tvltest::Exists(Path("doc.p7")));
}

TEST_F(PipelineTest, RetryPolicy)
{
    struct Case {
        const char* pszWhat;
        int nType;
        DWORD dwCode;
        size_t nCalls;
        DWORD dwWaited;
        const char* pszSecondCall;
    } cases[] = {
        {"bad keyset, CryptoAPI", 1, 0x80090016, 2, 0, "SignFileC2BANER"},
        {"bad keyset, Entrust", 0, 0x80090016, 2, 0, "SignFile"},
        {"bad signature", 1, 0x80090006, 26, 25 * 2000, "SignFile"},
        {"card comm error", 1, 0x80100013, 26, 0, "SignFile"},
        {"no key", 1, 0x8009000D, 26, 25 * 1500, "SignFile"},
        // 4 security retries of one call each, then the fifth failure goes out.
        {"security violation", 1, 0x8010006A, 5, 4 * 1500, "SignFile"},
        {"other", 1, 0x80100030, 1, 0, ""},
        {"no session error", 1, static_cast<DWORD>(ERR_NO_SESSION), 1, 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        m_waits.clear();
        FakeSession* p = AdoptFake(c.nType);
        p->m_fnSign = Failing(c.dwCode);
        tvltest::CaughtFailure f =
            Capture([] { GetTarvoselApp().SignFile("C:\\a", "C:\\b", "MD5WITHRSA", 0, 0); });
        EXPECT_TRUE(f.bThrown);
        EXPECT_EQ(static_cast<long>(c.dwCode), f.nSubCode);
        EXPECT_EQ(c.nCalls, p->m_signCalls.size());
        EXPECT_EQ(c.dwWaited, std::accumulate(m_waits.begin(), m_waits.end(), DWORD(0)));
        if (c.nCalls > 1) {
            EXPECT_EQ(c.pszSecondCall, p->m_signCalls[1]);
        }
        GetTarvoselApp().CloseSession();
    }
}

TEST_F(PipelineTest, RetriesAlternateOnceTheBadKeysetRetryHappened)
{
    FakeSession* p = AdoptFake(1);
    int nCall = 0;
    // First NTE_BAD_KEYSET, then NTE_BAD_SIGNATURE four times, then success.
    p->m_fnSign = [&](const std::string&, const std::string&) {
        ++nCall;
        if (nCall == 1)
            throw new CTarvoselException(EXC_WINDOWS, static_cast<long>(0x80090016), "S");
        if (nCall <= 5)
            throw new CTarvoselException(EXC_WINDOWS, static_cast<long>(0x80090006), "S");
    };
    ASSERT_EQ(0, ResultOf([] { GetTarvoselApp().SignFile("C:\\a", "C:\\b", "MD5WITHRSA", 0, 0); }));
    // After the keyset retry: the other variant until the fourth counted retry
    // sets the alternate mark, then SignFile again.
    std::vector<std::string> expected = {"SignFile", "SignFileC2BANER", "SignFileC2BANER",
                                         "SignFileC2BANER", "SignFileC2BANER", "SignFile"};
    EXPECT_EQ(expected, p->m_signCalls);
}

// With a Base64 layer the layers run side by side; whatever happens, the host
// and the log see what the layers one after the other give: the same lines in
// the same order, the same result, the same destination, no temporary file.
TEST_F(PipelineTest, LayersSideBySideGiveWhatLayersOneAfterTheOtherGive)
{
    const std::string strData = tvltest::PinnedDocument(3 * 1024 * 1024 + 5);
    tvltest::WriteAll(Path("doc.txt"), strData);
    struct Case {
        const char* pszWhat;
        int bCompress;
        std::string strSource, strDest;
        int nFailSign;  // 1 at the start, 2 at the end, 0 never
        long nSignError;
    } cases[] = {
        {"both layers", 1, Path("doc.txt"), Path("doc.b64"), 0, 0},
        {"Base64 only", 0, Path("doc.txt"), Path("doc.b64"), 0, 0},
        {"no source", 1, Path("missing.txt"), Path("doc.b64"), 0, 0},
        {"an unreadable source", 1, "Z:\\proc\\self\\mem", Path("doc.b64"), 0, 0},
        {"signing fails at once", 1, Path("doc.txt"), Path("doc.b64"), 1, -1},
        {"signing fails at its end", 1, Path("doc.txt"), Path("doc.b64"), 2,
         static_cast<long>(0x80100030)},
        {"signing fails at its end, Base64 only", 0, Path("doc.txt"), Path("doc.b64"), 2,
         static_cast<long>(0x80100030)},
        {"signing retried", 1, Path("doc.txt"), Path("doc.b64"), 2, static_cast<long>(0x80090016)},
        {"no destination folder", 1, Path("doc.txt"), Path("none\\doc.b64"), 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        struct Outcome {
            int nResult;
            std::vector<std::string> lines, calls;
            std::string strDest;
        } outcomes[2];
        for (int bStreams = 0; bStreams < 2; ++bStreams) {
            FakeSession* p = AdoptFake();
            p->m_bCopies = true;
            p->m_bStreams = bStreams != 0;
            int nCalls = 0;
            auto fail = [&](int nWhen) {
                if (c.nFailSign == nWhen && nCalls == 1)
                    throw c.nSignError == -1
                        ? new CTarvoselException(EXC_OWN, ERR_SIGN, "FakeSession::Sign")
                        : new CTarvoselException(EXC_WINDOWS, c.nSignError, "FakeSession::Sign");
            };
            p->m_fnSign = [&](const std::string&, const std::string&) {
                ++nCalls;
                fail(1);
            };
            p->m_fnSignEnd = [&] { fail(2); };
            tvltest::WriteAll(Path("doc.b64"), "what the destination held");
            Outcome& o = outcomes[bStreams];
            {
                tvltest::LogCapture log("layers");
                o.nResult = ResultOf([&] {
                    GetTarvoselApp().SignFile(c.strSource, c.strDest, "MD5WITHRSA", 1, c.bCompress);
                });
                o.lines = log.Lines();
            }
            o.calls = p->m_signCalls;
            o.strDest = tvltest::ReadAll(Path("doc.b64"));
            EXPECT_TRUE(TempFiles().empty()) << bStreams;
            GetTarvoselApp().CloseSession();
        }
        EXPECT_EQ(outcomes[0].nResult, outcomes[1].nResult);
        EXPECT_EQ(outcomes[0].lines, outcomes[1].lines);
        // A compression that fails once it has begun may have had the signing
        // begin beside it: that signing is dropped, and only then are the
        // calls not the same.
        if (c.strSource == Path("doc.txt")) {
            EXPECT_EQ(outcomes[0].calls, outcomes[1].calls);
        }
        EXPECT_TRUE(outcomes[0].strDest == outcomes[1].strDest);
        if (c.nFailSign == 0 && c.strDest == Path("doc.b64") && c.strSource == Path("doc.txt")) {
            EXPECT_EQ(0, outcomes[1].nResult);
            std::string strSigned = tvltest::DecodeBase64(outcomes[1].strDest);
            EXPECT_TRUE(c.bCompress || strSigned == strData);
        }
    }
}

// The Base64 layer cannot open its text while the signing runs beside it: the
// signing still runs to its end (no stage waits for ever on a full pipe), then
// the host gets the write error, the destination stays as it was and no
// temporary file is left.
TEST_F(PipelineTest, ABase64LayerThatCannotWriteEndsTheSigningCleanly)
{
    tvltest::WriteAll(Path("doc.txt"), tvltest::PinnedDocument(2 * 1024 * 1024 + 17));
    for (int bCompress = 0; bCompress < 2; ++bCompress) {
        SCOPED_TRACE(bCompress);
        FakeSession* p = AdoptFake();
        p->m_bStreams = true;
        HANDLE hHeld = INVALID_HANDLE_VALUE;
        // Held without sharing from its creation until the signing's last byte.
        p->m_fnOutCreated = [&](const std::string& strOut) {
            hHeld = CreateFileA(strOut.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
        };
        bool bSignEnded = false;
        p->m_fnSignEnd = [&] {
            bSignEnded = true;
            CloseHandle(hHeld);
        };
        tvltest::WriteAll(Path("doc.b64"), "what the destination held");
        tvltest::LogCapture log("base64-fails");
        EXPECT_EQ(ERR_FILE_WRITE, ResultOf([&] {
                      GetTarvoselApp().SignFile(Path("doc.txt"), Path("doc.b64"), "MD5WITHRSA", 1,
                                                bCompress);
                  }));
        EXPECT_NE(INVALID_HANDLE_VALUE, hHeld);
        EXPECT_TRUE(bSignEnded);
        EXPECT_EQ("what the destination held", tvltest::ReadAll(Path("doc.b64")));
        EXPECT_TRUE(TempFiles().empty());
        std::vector<std::string> lines = log.Lines();
        ASSERT_FALSE(lines.empty());
        EXPECT_NE(std::string::npos,
                  lines.back().find("Error al escribir en fichero '" + Path("doc.b64") + "'"));
        GetTarvoselApp().CloseSession();
    }
}

// A check on one thread while another finalises the library (against the host
// contract, which is one thread at a time): the check keeps what it uses, and
// Finalize waits for it. The signed message comes through a pipe, so that the
// check is held inside its reading until the test writes it.
TEST_F(PipelineTest, FinalizeWaitsForACheckOnAnotherThread)
{
    apptest::AdoptRealSession("dni-sign", "dni-auth");
    tvltest::WriteAll(Path("doc.txt"), "contenido\r\n");
    ASSERT_EQ(0, ResultOf([&] {
                  GetTarvoselApp().SignFile(Path("doc.txt"), Path("doc.p7"), "MD5WITHRSA", 0, 0);
              }));
    std::string strSigned = tvltest::ReadAll(Path("doc.p7"));
    // One read takes it whole: the pipe ends the message with a short read.
    ASSERT_LT(strSigned.size(), 4096u);
    std::string strPipe = "\\\\.\\pipe\\tvl-check-" + std::to_string(GetCurrentProcessId());
    HANDLE hPipe = CreateNamedPipeA(strPipe.c_str(), PIPE_ACCESS_OUTBOUND, PIPE_TYPE_BYTE | PIPE_WAIT,
                                    1, 8192, 8192, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, hPipe);

    int nChecked = -1;
    tvltest::TestThread check([&] {
        nChecked = ResultOf(
            [&] { GetTarvoselApp().CheckSignedFile(strPipe, Path("back.txt"), 0, 0); });
    });
    // The check has opened the signed "file".
    BOOL bConnected = ConnectNamedPipe(hPipe, nullptr) || GetLastError() == ERROR_PIPE_CONNECTED;
    ASSERT_TRUE(bConnected);
    tvltest::TestThread host([&] { ResultOf([&] { GetTarvoselApp().Finalize(); }); });
    // Unguarded, Finalize would be over well within this, with the CryptoAPI
    // table gone from under the check.
    EXPECT_FALSE(host.Join(2000));

    DWORD dwWritten = 0;
    EXPECT_TRUE(WriteFile(hPipe, strSigned.data(), static_cast<DWORD>(strSigned.size()),
                          &dwWritten, nullptr));
    ASSERT_TRUE(check.Join(10000));
    CloseHandle(hPipe);
    EXPECT_EQ(0, nChecked);
    EXPECT_EQ("contenido\r\n", tvltest::ReadAll(Path("back.txt")));
    ASSERT_TRUE(host.Join(10000));
    EXPECT_FALSE(GetTarvoselApp().IsInitialized());
}
