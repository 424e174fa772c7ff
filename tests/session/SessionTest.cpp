#include <gtest/gtest.h>

#include <time.h>

#include <random>

#include "api/ResultCodes.h"
#include "app/CTarvoselApp.h"
#include "cert/wincrypt/CAPIWincrypt.h"
#include "cert/wincrypt/CWincryptSession.h"
#include "cert/CertificateText.h"
#include "tests/session/SessionTestSupport.h"
#include "tests/support/TestCapture.h"
#include "tests/support/TestFiles.h"
#include "tests/support/TestThreads.h"

using tvltest::ResultOf;
using sessiontest::Choice;

namespace {
class SessionTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { CAPIWincrypt::Load(); }
    void SetUp() override { m_strDir = tvltest::MakeScratchFolder("session"); }
    void TearDown() override { tvltest::RemoveFolder(m_strDir); }
    std::string Path(const char* pszName) const { return m_strDir + pszName; }
    std::string MakeContent(const char* pszName, size_t nSize)
    {
        std::string strData(nSize, '\0');
        std::mt19937 rng(static_cast<unsigned>(nSize));
        for (char& c : strData)
            c = static_cast<char>(rng());
        tvltest::WriteAll(Path(pszName), strData);
        return strData;
    }
    std::string m_strDir;
};

// Now on the Madrid wall clock as the system tells it, in seconds since 1970
// (apart from the library's own conversion, which is what is checked).
TIME64 NowLocal()
{
    SYSTEMTIME st;
    GetLocalTime(&st);
    FILETIME ft;
    SystemTimeToFileTime(&st, &ft);
    ULARGE_INTEGER u;
    u.LowPart = ft.dwLowDateTime;
    u.HighPart = ft.dwHighDateTime;
    return static_cast<TIME64>(u.QuadPart / 10000000ull) - 11644473600ll;
}
}  // namespace

TEST_F(SessionTest, OpenLogsTheChoiceAndFillsTheSessionData)
{
    Choice c("dni-sign", "dni-auth");
    ASSERT_TRUE(c.IsComplete());
    CWincryptSession session;
    EXPECT_EQ(SESSION_CLOSED, session.GetState());
    tvltest::LogCapture log("open");
    ASSERT_EQ(0, ResultOf([&] { session.Open(&c.login); }));
    c.choice.lstCertificates.clear();  // the session owns them now
    EXPECT_EQ(SESSION_OPEN, session.GetState());
    EXPECT_NE(0u, session.GetProvider());

    std::string s = log.Text();
    EXPECT_EQ(std::string::npos, s.find("tarjeta inteligente"));
    EXPECT_NE(std::string::npos, s.find(" - Certificado n\xBA" "1 [firma]:\r\n")) << s;
    EXPECT_NE(std::string::npos, s.find(" - Certificado n\xBA" "2 [autenticaci\xF3n]:\r\n"));
    EXPECT_NE(std::string::npos, s.find("SELECCION DEL CERTIFICADO FIRMA AUTENTICACION"));
    EXPECT_NE(std::string::npos, s.find(" - Proveedor: Microsoft Enhanced Cryptographic Provider "
                                        "v1.0, contenedor clave: tvlpki-dni-sign\r\n"));

    CS_SESSIONINFO info;
    session.GetSessionData(&info);
    EXPECT_EQ(1, info.nType);
    EXPECT_EQ("JUAN GARCIA LOPEZ", info.strName);
    EXPECT_EQ("12345678Z", info.strNIF);
    EXPECT_EQ(sessiontest::FindPki("dni-sign")->pszIssuer, info.strIssuer);
    const CS_CARDINFO* pCard = static_cast<const CS_CARDINFO*>(info.pDetails);
    ASSERT_NE(nullptr, pCard);
    EXPECT_EQ(-1, pCard->nReader);
    EXPECT_EQ("", pCard->strCardName);
    EXPECT_EQ(sessiontest::FindPki("dni-auth")->pszSubject, pCard->strAuthSubject);
    session.GetSessionData(nullptr);

    CCertificateArray list;
    list.push_back(nullptr);
    session.GetCertificates(list);
    EXPECT_EQ(2u, list.size());
    ASSERT_NE(nullptr, session.GetCertStore());
    EXPECT_EQ(0, session.GetCertStore()->CheckCertificate("no such subject"));

    session.Close();
    EXPECT_EQ(SESSION_CLOSED, session.GetState());
    EXPECT_EQ(0u, session.GetProvider());
}

TEST_F(SessionTest, OneCertificateForBothRolesAndACardReader)
{
    Choice c("soft-ds", "soft-ds", 1, "Tarjeta de prueba");
    ASSERT_TRUE(c.IsComplete());
    CWincryptSession session;
    tvltest::LogCapture log("onecert");
    ASSERT_EQ(0, ResultOf([&] { session.Open(&c.login); }));
    c.choice.lstCertificates.clear();
    std::string s = log.Text();
    EXPECT_NE(std::string::npos, s.find(" - Certificados en tarjeta inteligente: Tarjeta de prueba "
                                        "lector: 1\r\n"));
    EXPECT_NE(std::string::npos, s.find(" - Certificado n\xBA" "1 [firma][autenticaci\xF3n]:\r\n"));
    CS_SESSIONINFO info;
    session.GetSessionData(&info);
    EXPECT_EQ(1, static_cast<const CS_CARDINFO*>(info.pDetails)->nReader);
}

TEST_F(SessionTest, OpenWithoutSigningCertificateFails)
{
    Choice c("soft-ds", "soft-ds");
    c.choice.pSignCertificate = nullptr;
    CWincryptSession session;
    EXPECT_EQ(ERR_USER_CERTIFICATES, ResultOf([&] { session.Open(&c.login); }));
    c.choice.lstCertificates.clear();  // taken over and deleted by the failed Open
    EXPECT_EQ(SESSION_CLOSED, session.GetState());
    CCertificateArray list;
    session.GetCertificates(list);
    EXPECT_TRUE(list.empty());
    EXPECT_EQ(ERR_USER_CERTIFICATES, ResultOf([&] { session.Open(nullptr); }));
}

TEST_F(SessionTest, InvalidateDropsTheProviderAndSigningAcquiresANewOne)
{
    Choice c("soft-ds", "soft-ds");
    CWincryptSession session;
    ASSERT_EQ(0, ResultOf([&] { session.Open(&c.login); }));
    c.choice.lstCertificates.clear();
    tvltest::LogCapture log("invalidate");
    session.Invalidate();
    EXPECT_EQ(SESSION_OPEN | SESSION_INVALID, session.GetState());
    EXPECT_EQ(0u, session.GetProvider());
    EXPECT_NE(std::string::npos, log.Text().find(" - Sesi\xF3n invalidada\r\n"));
    session.Reopen();
    EXPECT_EQ(SESSION_OPEN, session.GetState());
    EXPECT_EQ(0u, session.GetProvider());
    MakeContent("in", 100);
    ASSERT_EQ(0, ResultOf([&] { session.SignFileC2(Path("in"), Path("out"), "MD5WITHRSA"); }));
    EXPECT_NE(0u, session.GetProvider());
}

// A card removal while a signing uses the key provider: the provider stays the
// signing's until it ends, which then releases it, and the signing succeeds.
// The content comes through a pipe that the test feeds, so that the signing is
// held in the middle of it when the removal comes.
TEST_F(SessionTest, InvalidateDuringASigningLeavesTheProviderToTheSigning)
{
    Choice c("soft-ds", "soft-ds");
    CWincryptSession session;
    ASSERT_EQ(0, ResultOf([&] { session.Open(&c.login); }));
    c.choice.lstCertificates.clear();
    std::string strPipe = "\\\\.\\pipe\\tvl-sign-" + std::to_string(GetCurrentProcessId());
    HANDLE hPipe = CreateNamedPipeA(strPipe.c_str(), PIPE_ACCESS_OUTBOUND | FILE_FLAG_OVERLAPPED,
                                    PIPE_TYPE_BYTE | PIPE_WAIT, 1, 8192, 8192, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, hPipe);
    int nResult = -1;
    tvltest::TestThread signer([&] {
        nResult = ResultOf([&] { session.SignFileC2(strPipe, Path("signed"), "MD5WITHRSA"); });
    });
    OVERLAPPED ov = {};
    ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!ConnectNamedPipe(hPipe, &ov)) {
        DWORD dwError = GetLastError();
        ASSERT_TRUE(dwError == ERROR_PIPE_CONNECTED ||
                    (dwError == ERROR_IO_PENDING &&
                     WaitForSingleObject(ov.hEvent, 10000) == WAIT_OBJECT_0))
            << dwError;
    }
    auto write = [&](const std::string& str) {
        DWORD dwWritten = 0;
        ResetEvent(ov.hEvent);
        if (!WriteFile(hPipe, str.data(), static_cast<DWORD>(str.size()), nullptr, &ov) &&
            GetLastError() != ERROR_IO_PENDING)
            return false;
        return GetOverlappedResult(hPipe, &ov, &dwWritten, TRUE) && dwWritten == str.size();
    };
    std::string strFirst(4096, 'a'), strLast(100, 'b');
    ASSERT_TRUE(write(strFirst));
    Sleep(100);  // the signing now waits for the next block

    session.Invalidate();
    EXPECT_EQ(SESSION_OPEN | SESSION_INVALID, session.GetState());
    EXPECT_NE(0u, session.GetProvider());
    ASSERT_TRUE(write(strLast));
    ASSERT_TRUE(signer.Join(10000));
    CloseHandle(ov.hEvent);
    CloseHandle(hPipe);
    EXPECT_EQ(0, nResult);
    EXPECT_EQ(0u, session.GetProvider());

    CSignInfoList signers;
    ASSERT_EQ(0, ResultOf([&] {
        GetTarvoselApp().CheckSignedFile_(Path("signed"), Path("content"), signers);
    }));
    EXPECT_EQ(strFirst + strLast, tvltest::ReadAll(Path("content")));
    EXPECT_EQ(1u, signers.size());
    DeleteSignInfoList(signers);
}

TEST_F(SessionTest, SignedFilesDecodeBackAndNameTheirSigner)
{
    struct Case {
        const char* pszSign;
        int nVariant;  // 0 SignFile, 1 SignFileC2, 2 SignFileC2BANER
        const char* pszAlgorithm;
        const char* pszDigestName;
    } cases[] = {
        {"dni-sign", 0, "SHA1", "md5"},  // SignFile ignores the name: always MD5
        {"soft-ds", 1, "MD5WITHRSA", "md5"},
        {"soft-ds", 1, "MD2WITHRSA", "md2"},
        {"soft-ds", 2, "MD5WITHRSA", "md5"},
    };
    const size_t sizes[] = {0, 1, 4095, 4096, 8192, 5 * 1024 * 1024};
    for (const Case& k : cases) {
        Choice c(k.pszSign, "dni-auth");
        CWincryptSession session;
        ASSERT_EQ(0, ResultOf([&] { session.Open(&c.login); }));
        c.choice.lstCertificates.clear();
        for (size_t nSize : sizes) {
            if (nSize > 8192 && k.nVariant != 1)
                continue;
            SCOPED_TRACE(std::string(k.pszSign) + " " + std::to_string(k.nVariant) + " " +
                         k.pszAlgorithm + " " + std::to_string(nSize));
            std::string strData = MakeContent("in", nSize);
            TIME64 tBefore = NowLocal();
            int nResult = ResultOf([&] {
                if (k.nVariant == 0)
                    session.SignFile(Path("in"), Path("signed"), k.pszAlgorithm);
                else if (k.nVariant == 1)
                    session.SignFileC2(Path("in"), Path("signed"), k.pszAlgorithm);
                else
                    session.SignFileC2BANER(Path("in"), Path("signed"), k.pszAlgorithm);
            });
            ASSERT_EQ(0, nResult);
            CSignInfoList signers;
            ASSERT_EQ(0, ResultOf([&] {
                GetTarvoselApp().CheckSignedFile_(Path("signed"), Path("content"), signers);
            }));
            EXPECT_EQ(strData, tvltest::ReadAll(Path("content")));
            ASSERT_EQ(1u, signers.size());
            EXPECT_EQ(sessiontest::FindPki(k.pszSign)->pszThumbprint,
                      signers[0]->pCertificate->GetThumbprint());
            EXPECT_EQ(1, signers[0]->bTrusted);
            EXPECT_EQ(1, signers[0]->bHasSigningTime);
            EXPECT_EQ(k.pszDigestName, signers[0]->strAlgorithm);
            // Encoded to the second, so the time may read just before tBefore.
            EXPECT_LE(tBefore - 1, signers[0]->tSigningTime);
            EXPECT_GE(NowLocal() + 1, signers[0]->tSigningTime);
            DeleteSignInfoList(signers);
        }
    }
}

TEST_F(SessionTest, UnknownAlgorithmNamesSignNothing)
{
    Choice c("soft-ds", "soft-ds");
    CWincryptSession session;
    ASSERT_EQ(0, ResultOf([&] { session.Open(&c.login); }));
    c.choice.lstCertificates.clear();
    MakeContent("in", 10);
    tvltest::WriteAll(Path("keep"), "host data");
    for (const char* pszAlgorithm : {"SHA1", "md5withrsa", ""}) {
        for (int nVariant = 0; nVariant < 2; ++nVariant) {
            try {
                if (nVariant == 0)
                    session.SignFileC2(Path("in"), Path("out"), pszAlgorithm);
                else
                    session.SignFileC2BANER(Path("in"), Path("keep"), pszAlgorithm);
                ADD_FAILURE() << pszAlgorithm << " signed";
            } catch (CTarvoselException* e) {
                EXPECT_EQ(EXC_WINDOWS, e->GetKind()) << pszAlgorithm;
                EXPECT_EQ(ERR_SIGN, e->GetResultCode());
                delete e;
            }
        }
        EXPECT_FALSE(tvltest::Exists(Path("out")));
        EXPECT_EQ("host data", tvltest::ReadAll(Path("keep")));
    }
}

TEST_F(SessionTest, SigningFileErrors)
{
    Choice c("soft-ds", "soft-ds");
    CWincryptSession session;
    ASSERT_EQ(0, ResultOf([&] { session.Open(&c.login); }));
    c.choice.lstCertificates.clear();
    tvltest::LogCapture log("signerrors");
    EXPECT_EQ(ERR_FILE_READ,
              ResultOf([&] { session.SignFile(Path("missing"), Path("out"), "MD5WITHRSA"); }));
    EXPECT_NE(std::string::npos, log.Text().find(" - Error al abrir fichero '"));
    MakeContent("in", 10);
    EXPECT_EQ(ERR_FILE_WRITE, ResultOf([&] {
                  session.SignFileC2(Path("in"), Path("no-folder\\out"), "MD5WITHRSA");
              }));
    // Signing a file onto itself would sign nothing and lose the document.
    std::string strData = tvltest::ReadAll(Path("in"));
    EXPECT_EQ(ERR_FILE_WRITE,
              ResultOf([&] { session.SignFile(Path("in"), Path("in"), "MD5WITHRSA"); }));
    EXPECT_EQ(strData, tvltest::ReadAll(Path("in")));
    // A key of the signature slot is not in the exchange slot that SignFileC2 uses.
    Choice d("dni-sign", "dni-auth");
    CWincryptSession other;
    ASSERT_EQ(0, ResultOf([&] { other.Open(&d.login); }));
    d.choice.lstCertificates.clear();
    int nResult = ResultOf([&] { other.SignFileC2(Path("in"), Path("out"), "MD5WITHRSA"); });
    EXPECT_LT(nResult, 0);
    EXPECT_FALSE(tvltest::Exists(Path("out")));
    EXPECT_EQ(0, ResultOf([&] { other.SignFile(Path("in"), Path("out"), "MD5WITHRSA"); }));
}

TEST_F(SessionTest, ExportWritesThePemAndEmptiesThePassword)
{
    Choice c("dni-sign", "dni-auth");
    CWincryptSession session;
    ASSERT_EQ(0, ResultOf([&] { session.Open(&c.login); }));
    c.choice.lstCertificates.clear();
    std::string strPath = Path("cert.pem"), strPassword = "secreto";
    session.ExportCertificates(strPath, 2, strPassword);
    EXPECT_EQ("", strPassword);
    std::string strPem = tvltest::ReadAll(strPath);
    EXPECT_EQ(tvltest::ReadAll(std::string(TVL_PKI_DIR) + "/certs/dni-auth.pem"), strPem);
    EXPECT_EQ(std::string::npos, strPem.find('\r'));
}

TEST_F(SessionTest, ExportThatCannotWriteFails)
{
    Choice c("dni-sign", "dni-auth");
    CWincryptSession session;
    ASSERT_EQ(0, ResultOf([&] { session.Open(&c.login); }));
    c.choice.lstCertificates.clear();
    std::string strPath = Path("no-folder\\cert.pem"), strPassword = "secreto";
    tvltest::CaughtFailure f = tvltest::Capture([&] { session.ExportCertificates(strPath, 2, strPassword); });
    EXPECT_EQ(ERR_FILE_WRITE, f.nCode);
    EXPECT_EQ("CWincryptSession::ExportCertificates", f.strContext);
    EXPECT_EQ("", strPassword);
    session.Close();
    EXPECT_EQ(ERR_NO_SESSION, ResultOf([&] { session.GetSSLHandle(); }));
}

TEST_F(SessionTest, SslHandleNamesTheAuthenticationCertificateAndReusesTheWindow)
{
    Choice c("dni-sign", "dni-auth");
    CWincryptSession session;
    ASSERT_EQ(0, ResultOf([&] { session.Open(&c.login); }));
    c.choice.lstCertificates.clear();
    INT_PTR nHandle = 0;
    ASSERT_EQ(0, ResultOf([&] { nHandle = session.GetSSLHandle(); }));
    HWND hWnd = session.GetHTTPSWindow();
    ASSERT_NE(nullptr, hWnd);
    EXPECT_FALSE(IsWindowVisible(hWnd));
    PCCERT_CONTEXT pContext = reinterpret_cast<PCCERT_CONTEXT>(static_cast<uintptr_t>(nHandle));
    ASSERT_NE(nullptr, pContext);
    CWincryptCertificate cert(pContext);
    EXPECT_EQ(sessiontest::FindPki("dni-auth")->pszThumbprint, cert.GetThumbprint());
    ASSERT_EQ(0, ResultOf([&] { nHandle = session.GetSSLHandle(); }));
    EXPECT_EQ(hWnd, session.GetHTTPSWindow());
    EXPECT_NE(0, nHandle);
}

TEST_F(SessionTest, ProviderTypes)
{
    EXPECT_EQ(PROV_RSA_FULL,
              CWincryptSession::GetProviderType("Microsoft Enhanced Cryptographic Provider v1.0"));
    EXPECT_EQ(PROV_RSA_AES, CWincryptSession::GetProviderType(
                                "Microsoft Enhanced RSA and AES Cryptographic Provider"));
    // No match (case counts): the type of the last provider enumerated.
    int nLast = -1;
    for (DWORD i = 0;; ++i) {
        DWORD dwType = 0, cb = 0;
        if (!CAPIWincrypt::CryptEnumProvidersA(i, nullptr, 0, &dwType, nullptr, &cb))
            break;
        std::vector<char> name(cb + 1);
        ASSERT_TRUE(CAPIWincrypt::CryptEnumProvidersA(i, nullptr, 0, &dwType, name.data(), &cb));
        nLast = static_cast<int>(dwType);
    }
    EXPECT_EQ(nLast, CWincryptSession::GetProviderType(
                         "microsoft enhanced cryptographic provider v1.0"));
}
