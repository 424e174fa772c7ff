// Keys that live on a card: the bench's signing cards behind the bench's own
// card key provider, reached through the bridge to pcscd. Every signature is
// computed by the card program, whose journal the tests read.
#include "SigningCardTest.h"

#include <wincrypt.h>

#include <thread>

#include "cert/CertificateText.h"

using namespace cardtest;
using tvltest::Capture;
using tvltest::CaughtFailure;
using tvltest::ResultOf;
using tvltest::WaitFor;

namespace {
const DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
}

// The provider alone, as any CryptoAPI program reaches it: the certificate's
// key is the card's, the signature is the card's, and no private key comes out.
TEST_F(SigningCardTest, ProviderServesTheCertificatesKeyFromTheCard)
{
    ASSERT_NO_FATAL_FAILURE(InsertCard(1, ATR_TEMD_CARD, APP_TEMD));
    std::unique_ptr<CWincryptCertificate> pCert(sessiontest::LoadFromMy("card-temd"));
    ASSERT_TRUE(pCert);
    EXPECT_EQ(3, GetCertificateCardType(pCert.get()));

    m_pin.Type(PIN_TEMD);
    HCRYPTPROV hProv = 0;
    DWORD dwKeySpec = 0;
    BOOL bFree = FALSE;
    ASSERT_TRUE(CryptAcquireCertificatePrivateKey(pCert->GetContext(), 0, nullptr, &hProv,
                                                  &dwKeySpec, &bFree))
        << std::hex << "0x" << GetLastError();
    EXPECT_EQ(static_cast<DWORD>(AT_KEYEXCHANGE), dwKeySpec);
    ASSERT_EQ(1, m_pin.Count());
    EXPECT_NE(std::string::npos, m_pin.Dialogs()[0].strText.find("Virtual PCD 00 01"));
    EXPECT_EQ("", m_pin.Dialogs()[0].strTries);
    EXPECT_FALSE(m_pin.Dialogs()[0].bOkEnabledEmpty);
    EXPECT_TRUE(m_pin.Dialogs()[0].bOkEnabledTyped);
    std::vector<std::string> journal = Journal(APP_TEMD);
    EXPECT_TRUE(Has(journal, "VERIFY:9000")) << Joined(journal);

    // The public key the provider serves is the certificate's.
    HCRYPTKEY hUser = 0, hCertKey = 0;
    ASSERT_TRUE(CryptGetUserKey(hProv, AT_KEYEXCHANGE, &hUser)) << std::hex << GetLastError();
    ASSERT_TRUE(CryptImportPublicKeyInfo(
        hProv, kEncoding, &pCert->GetContext()->pCertInfo->SubjectPublicKeyInfo, &hCertKey));
    auto exported = [](HCRYPTKEY hKey, DWORD dwType) {
        DWORD cb = 0;
        std::vector<BYTE> blob;
        if (CryptExportKey(hKey, 0, dwType, 0, nullptr, &cb)) {
            blob.resize(cb);
            if (!CryptExportKey(hKey, 0, dwType, 0, blob.data(), &cb))
                blob.clear();
        }
        return blob;
    };
    std::vector<BYTE> held = exported(hUser, PUBLICKEYBLOB);
    ASSERT_FALSE(held.empty());
    EXPECT_EQ(exported(hCertKey, PUBLICKEYBLOB), held);
    EXPECT_TRUE(exported(hUser, PRIVATEKEYBLOB).empty());
    HCRYPTKEY hOther = 0;
    EXPECT_FALSE(CryptGetUserKey(hProv, AT_SIGNATURE, &hOther));
    EXPECT_EQ(static_cast<DWORD>(NTE_NO_KEY), GetLastError());

    // A signature made on the card, checked with the certificate's key.
    for (ALG_ID algId : {CALG_MD5, CALG_SHA1}) {
        HCRYPTHASH hHash = 0;
        ASSERT_TRUE(CryptCreateHash(hProv, algId, 0, 0, &hHash));
        const BYTE data[] = "firmado en la tarjeta";
        ASSERT_TRUE(CryptHashData(hHash, data, sizeof(data), 0));
        BYTE signature[512];
        DWORD cbSignature = sizeof(signature);
        ASSERT_TRUE(CryptSignHashA(hHash, AT_KEYEXCHANGE, nullptr, 0, signature, &cbSignature))
            << std::hex << GetLastError();
        EXPECT_EQ(256u, cbSignature);
        EXPECT_TRUE(CryptVerifySignatureA(hHash, signature, cbSignature, hCertKey, nullptr, 0));
        CryptDestroyHash(hHash);
        journal = Journal(APP_TEMD);
        EXPECT_TRUE(Has(journal, "SIGN:9000")) << Joined(journal);
    }
    // The PIN was asked once; the card's own check of it was enough since.
    EXPECT_EQ(1, m_pin.Count());
    CryptDestroyKey(hUser);
    CryptDestroyKey(hCertKey);
    if (bFree)
        CryptReleaseContext(hProv, 0);
}

TEST_F(SigningCardTest, CertificatesOfBothCardsAreOfTheirCardTypes)
{
    for (const CCardCertificates::Entry& e : CCardCertificates::BenchCards()) {
        SCOPED_TRACE(e.pszPkiName);
        std::unique_ptr<CWincryptCertificate> pCert(sessiontest::LoadFromMy(e.pszPkiName));
        ASSERT_TRUE(pCert);
        bool bIdentityCard = std::string(e.pszPkiName).find("dni") != std::string::npos;
        EXPECT_EQ(bIdentityCard ? 1 : 3, GetCertificateCardType(pCert.get()));
        std::string strProvider, strContainer;
        pCert->GetProviderData(strProvider, strContainer);
        EXPECT_EQ(e.pszProvider, strProvider);
        EXPECT_EQ(e.pszPkiName, strContainer);
    }
}

// The login's PIN paths at the session's Open, where the login page meets them.
TEST_F(SigningCardTest, WrongCancelledAndBlockedPinsFailTheOpening)
{
    ASSERT_NO_FATAL_FAILURE(InsertCard(0, ATR_TEMD_CARD, APP_TEMD));
    struct Case {
        const char* pszWhat;
        const char* pszPin;  // nullptr: "Cancelar"
        long nSubCode;       // 0: the session opens
        int nResult;
        int nTriesAfter;
        const char* pszTriesShown;  // the dialog's tries line
    } cases[] = {
        {"wrong PIN", "1111", static_cast<long>(SCARD_W_WRONG_CHV), ERR_WRONG_PASSWORD, 2, ""},
        {"cancelled", nullptr, static_cast<long>(SCARD_W_CANCELLED_BY_USER), ERR_CANCELLED, 2,
         "Quedan 2 intentos antes de que la tarjeta se bloquee."},
        {"wrong again", "0000", static_cast<long>(SCARD_W_WRONG_CHV), ERR_WRONG_PASSWORD, 1,
         "Quedan 2 intentos antes de que la tarjeta se bloquee."},
        {"right PIN", PIN_TEMD, 0, 0, 3, "Queda 1 intento antes de que la tarjeta se bloquee."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        int nDialogs = m_pin.Count();
        m_pin.TypeOrCancel(c.pszPin);
        CWincryptSession session;
        CaughtFailure f = OpenSession(session, "card-temd", "card-temd", 0, CARD_NAME_TEMD);
        EXPECT_EQ(c.nSubCode != 0, f.bThrown) << f.strDescription;
        EXPECT_EQ(c.nSubCode, f.nSubCode);
        EXPECT_EQ(c.nResult, f.nCode);
        EXPECT_EQ(c.nSubCode != 0 ? SESSION_CLOSED : SESSION_OPEN, session.GetState());
        ASSERT_EQ(nDialogs + 1, m_pin.Count());
        EXPECT_EQ(c.pszTriesShown, m_pin.Dialogs().back().strTries);
        EXPECT_EQ(c.nTriesAfter, Tries(APP_TEMD));
        std::vector<std::string> journal = Journal(APP_TEMD);
        // A cancelled prompt sends the card no PIN at all.
        int nVerifies = CountOf(journal, "VERIFY");
        EXPECT_EQ(c.pszPin != nullptr ? 2 : 1, nVerifies) << Joined(journal);
    }

    // The PIN is known now: another opening on this card asks nothing.
    {
        CWincryptSession session;
        EXPECT_FALSE(OpenSession(session, "card-temd", "card-temd", 0, CARD_NAME_TEMD).bThrown);
        EXPECT_EQ(4, m_pin.Count());
    }

    // Pulled and put back, the card is asked for again. Three wrong PINs block
    // it: the third says so, and from then on the provider does not even ask.
    ASSERT_NO_FATAL_FAILURE(RemoveCard(0));
    ASSERT_NO_FATAL_FAILURE(InsertCard(0, ATR_TEMD_CARD, APP_TEMD));
    long nLast = 0;
    for (int i = 0; i < 3; ++i) {
        m_pin.Type("9999");
        CWincryptSession session;
        nLast = OpenSession(session, "card-temd", "card-temd", 0, CARD_NAME_TEMD).nSubCode;
    }
    EXPECT_EQ(static_cast<long>(SCARD_W_CHV_BLOCKED), nLast);
    EXPECT_EQ(7, m_pin.Count());
    EXPECT_EQ(0, Tries(APP_TEMD));
    CWincryptSession session;
    CaughtFailure f = OpenSession(session, "card-temd", "card-temd", 0, CARD_NAME_TEMD);
    EXPECT_EQ(static_cast<long>(SCARD_W_CHV_BLOCKED), f.nSubCode);
    EXPECT_EQ(ERR_WINDOWS_UNKNOWN, f.nCode);
    EXPECT_EQ(7, m_pin.Count());
}

// Signing files on both cards through the application's pipeline: the card
// computes each signature, the PIN is asked once per card, and the library (and
// card_openssl.sh, with OpenSSL) accept what comes out.
TEST_F(SigningCardTest, FilesSignedOnTheCardsAreAccepted)
{
    ASSERT_NO_FATAL_FAILURE(InsertCard(0, ATR_TEMD_CARD, APP_TEMD));
    ASSERT_NO_FATAL_FAILURE(InsertCard(1, ATR_DNIE_CARD, APP_DNIE));
    ASSERT_NO_FATAL_FAILURE(StartApp());
    std::string strData;
    for (int i = 0; i < 2000; ++i)
        strData += "l\xEDnea firmada en la tarjeta " + std::to_string(i) + "\r\n";
    tvltest::WriteAll(Path("doc.txt"), strData);

    struct Case {
        const char* pszSign;
        const char* pszAuth;
        const char* pszPin;
        int nReader;
        const char* pszCard;
        const char* pszApp;
        bool bTrusted;  // issued by an authority the library carries
    } cases[] = {
        {"card-temd", "card-temd", PIN_TEMD, 0, CARD_NAME_TEMD, APP_TEMD, true},
        {"card-dni-sign", "card-dni-auth", PIN_DNIE, 1, CARD_NAME_DNIE, APP_DNIE, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszSign);
        int nDialogs = m_pin.Count();
        ASSERT_TRUE(AdoptCardSession(c.pszSign, c.pszAuth, c.pszPin, c.nReader, c.pszCard));
        EXPECT_EQ(nDialogs + 1, m_pin.Count());
        Journal(c.pszApp);
        for (int bBase64 = 0; bBase64 < 2; ++bBase64) {
            std::string strOut = Path(bBase64 ? "doc.p7.b64" : "doc.p7");
            ASSERT_EQ(0, ResultOf([&] {
                          GetTarvoselApp().SignFile(Path("doc.txt"), strOut, "MD5WITHRSA", bBase64,
                                                    0);
                      }));
            std::vector<std::string> journal = Journal(c.pszApp);
            EXPECT_EQ(1, std::count(journal.begin(), journal.end(), "SIGN:9000"))
                << Joined(journal);
        }
        EXPECT_EQ(nDialogs + 1, m_pin.Count()) << "the PIN is asked once per card";
        ASSERT_NO_FATAL_FAILURE(ExpectSignedBy(Path("doc.p7"), strData, c.pszSign, c.bTrusted));
        ASSERT_NO_FATAL_FAILURE(
            KeepForOpenSsl(Path("doc.p7"), (std::string(c.pszSign) + ".p7").c_str()));
        ASSERT_EQ(0, ResultOf([] { GetTarvoselApp().CloseSession(); }));
    }
    ASSERT_NO_FATAL_FAILURE(KeepForOpenSsl(Path("doc.txt"), "doc.txt"));
}

// The card goes while the card computes the signature of a long file: a clear
// failure, no half-written signed file, the session marked invalid; with the
// card back, the next signing reopens the session (and asks for the PIN of the
// card that was put back) and signs.
TEST_F(SigningCardTest, CardPulledDuringALongSigning)
{
    CWincryptSession* pSession = StartTemdSession();
    ASSERT_TRUE(pSession);
    std::string strData(8 * 1024 * 1024, '\0');
    for (size_t i = 0; i < strData.size(); ++i)
        strData[i] = static_cast<char>((i * 7919) >> 5);
    tvltest::WriteAll(Path("long.bin"), strData);
    Journal(APP_TEMD);

    // The card takes the signing command and keeps it until it is pulled.
    ASSERT_NO_FATAL_FAILURE(Fault("temd SIGN stall"));
    tvltest::LogCapture log("card-pulled");
    CaughtFailure failure;
    std::thread signing([&] {
        failure = Capture([&] {
            GetTarvoselApp().SignFile(Path("long.bin"), Path("long.p7"), "MD5WITHRSA", 0, 0);
        });
    });
    std::vector<std::string> journal;
    bool bStalled = WaitFor(
        [&] {
            std::vector<std::string> more = Journal(APP_TEMD);
            journal.insert(journal.end(), more.begin(), more.end());
            return Has(journal, "SIGN:stall");
        },
        60000);
    // Most of the content is out already (the writer keeps its last block);
    // the signature is missing.
    WIN32_FILE_ATTRIBUTE_DATA fad = {};
    bool bPartial = GetFileAttributesExA(Path("long.p7").c_str(), GetFileExInfoStandard, &fad) &&
                    fad.nFileSizeLow > strData.size() / 2;
    Remove(0);
    signing.join();
    ASSERT_TRUE(bStalled) << Joined(journal);
    EXPECT_TRUE(bPartial);
    // SCARD_W_REMOVED_CARD, which the library reports as a cancelled operation.
    EXPECT_EQ(static_cast<long>(SCARD_W_REMOVED_CARD), failure.nSubCode) << failure.strDescription;
    EXPECT_EQ(ERR_CANCELLED, failure.nCode);
    EXPECT_EQ(1, log.Count("Firmando fichero en ")) << "not retried";
    EXPECT_FALSE(tvltest::Exists(Path("long.p7")));
    EXPECT_TRUE(m_waits.empty());
    EXPECT_TRUE(
        WaitFor([&] { return (pSession->GetState() & SESSION_INVALID) != 0; }, EVENT_TIMEOUT_MS))
        << "the removal did not invalidate the session";
    EXPECT_EQ(1, GetTarvoselApp().SessionOpened());

    // The card comes back: reopened, a PIN for the card put back, a signature.
    ASSERT_NO_FATAL_FAILURE(InsertCard(0, ATR_TEMD_CARD, APP_TEMD));
    m_pin.Type(PIN_TEMD);
    log.Clear();
    ASSERT_EQ(0, ResultOf([&] {
                  GetTarvoselApp().SignFile(Path("long.bin"), Path("long.p7"), "MD5WITHRSA", 0, 0);
              }));
    EXPECT_EQ(2, m_pin.Count());
    EXPECT_EQ(SESSION_OPEN, pSession->GetState());
    std::vector<std::string> lines = log.Lines();
    auto reopening =
        std::find(lines.begin(), lines.end(), "La sesi\xF3n es inv\xE1lida. Reabriendo...");
    ASSERT_NE(lines.end(), reopening) << log.Text();
    EXPECT_EQ("...OK", *(reopening + 1));
    journal = Journal(APP_TEMD);
    EXPECT_TRUE(Has(journal, "SIGN:9000")) << Joined(journal);
    ASSERT_NO_FATAL_FAILURE(ExpectSignedBy(Path("long.p7"), strData, "card-temd", true));
}

// Each row of the signing pipeline's retry policy, met with the error the card
// key provider really gives when the card answers so.
TEST_F(SigningCardTest, RetryPolicyMeetsTheProvidersRealErrors)
{
    CWincryptSession* pSession = StartTemdSession();
    ASSERT_TRUE(pSession);
    std::string strData(10000, 'r');
    tvltest::WriteAll(Path("doc.txt"), strData);

    struct Case {
        bool bPutBack;          // the card was pulled and put back before
        const char* pszFault;   // what the card does (vcard.py "fault temd ...")
        const char* pszError;   // what the provider makes of it
        const char* pszLogged;  // the pipeline's retry line, nullptr when none
        std::vector<DWORD> waits;
        int nResult;  // of the signing as a whole
        const char* pszFailedCommand;
        int nSigns;  // signing commands the card received
    } cases[] = {
        // the card put back does not show the key's container at first
        {true, "SELECT 6A82", "NTE_BAD_KEYSET", nullptr, {}, 0, "SELECT:6A82", 1},
        // a signature that does not verify with the certificate's key
        {false,
         "SIGN corrupt",
         "NTE_BAD_SIGNATURE",
         "0x80090006 ",
         {2000},
         0,
         "SIGN(corrupt):9000",
         2},
        // an answer without a status word
        {false, "SIGN 6F", "SCARD_F_COMM_ERROR", "0x80100013 ", {}, 0, "SIGN:6F", 2},
        // the key reference is not found
        {false, "MSE 6A88", "NTE_NO_KEY", "0x8009000D ", {1500}, 0, "MSE:6A88", 1},
        // the card wants its PIN again
        {false,
         "SIGN 6982",
         "SCARD_W_SECURITY_VIOLATION",
         "0x8010006A ",
         {1500},
         0,
         "SIGN:6982",
         2},
        // any other error is not retried
        {false, "SIGN 6581", "NTE_FAIL", nullptr, {}, ERR_WINDOWS_UNKNOWN, "SIGN:6581", 1},
        // a communication error 26 times: 25 retries, then the failure
        {false,
         "SIGN 6F 26",
         "SCARD_F_COMM_ERROR",
         "0x80100013 ",
         {},
         ERR_WINDOWS_UNKNOWN,
         "SIGN:6F",
         26},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.pszFault) + " -> " + c.pszError);
        if (c.bPutBack) {
            // The session lets its provider go; the next signing acquires it
            // again (and asks for the PIN of the card put back).
            ASSERT_NO_FATAL_FAILURE(RemoveCard(0));
            ASSERT_TRUE(WaitFor([&] { return (pSession->GetState() & SESSION_INVALID) != 0; },
                                EVENT_TIMEOUT_MS));
            ASSERT_NO_FATAL_FAILURE(InsertCard(0, ATR_TEMD_CARD, APP_TEMD));
            m_pin.Type(PIN_TEMD);
        }
        m_waits.clear();
        Journal(APP_TEMD);
        ASSERT_NO_FATAL_FAILURE(Fault(std::string("temd ") + c.pszFault));
        tvltest::LogCapture log("card-retry");
        CaughtFailure f = Capture([&] {
            GetTarvoselApp().SignFile(Path("doc.txt"), Path("doc.p7"), "MD5WITHRSA", 0, 0);
        });
        EXPECT_EQ(c.nResult, f.nCode) << f.strDescription << "\n" << log.Text();
        std::vector<std::string> journal = Journal(APP_TEMD);
        EXPECT_TRUE(Has(journal, c.pszFailedCommand)) << Joined(journal);
        int nSigns = CountOf(journal, "SIGN");
        EXPECT_EQ(c.nSigns, nSigns) << Joined(journal);
        EXPECT_EQ(c.waits, m_waits);
        int nRetryLines =
            c.pszLogged != nullptr ? log.Count(std::string(" - ") + c.pszLogged + "\r\n") : 0;
        EXPECT_EQ(c.pszLogged == nullptr ? 0 : c.nSigns > 2 ? 25 : 1, nRetryLines) << log.Text();
        if (c.nResult == 0) {
            EXPECT_EQ("SIGN:9000", journal.back());
            ASSERT_NO_FATAL_FAILURE(ExpectSignedBy(Path("doc.p7"), strData, "card-temd", true));
        } else {
            EXPECT_FALSE(tvltest::Exists(Path("doc.p7")));
        }
        DeleteFileA(Path("doc.p7").c_str());
    }
    EXPECT_EQ(2, m_pin.Count());
}
