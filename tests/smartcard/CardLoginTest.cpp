// Logging in with a card certificate through the real login sheet: a driver
// thread works the sheet as a person would, the PIN driver answers the card key
// provider's own PIN dialog, and the virtual card's journal tells what the card
// was asked to do.
#include "SigningCardTest.h"

#include <functional>

#include "tests/support/LoginDriver.h"

using namespace cardtest;
using tvltest::Capture;
using tvltest::CaughtFailure;
using tvltest::LoginSheet;
using tvltest::ResultOf;

namespace {
const char kTemdRow[] = "LAURA TARJETA TEMD (MZOR)";
const char kDnieRow[] = "ISABEL TARJETA PRUEBAS (DNIe)";
const char kWrongPassword[] =
    "Contrase\xF1"
    "a incorrecta";
}  // namespace

class CardLoginTest : public SigningCardTest {
protected:
    // OpenSession on this thread while fnDrive works the sheet, once it has
    // listed the certificates, from a driver thread.
    CaughtFailure LogIn(const std::function<void(const LoginSheet&)>& fnDrive, CS_SESSIONINFO& info,
                        int& nResult)
    {
        DWORD dwThread = GetCurrentThreadId();
        tvltest::CDriver driver(
            [&] {
                LoginSheet sheet = tvltest::WaitForLoginSheet(dwThread);
                ASSERT_TRUE(sheet.IsOpen());
                ASSERT_TRUE(sheet.WaitIdle());
                fnDrive(sheet);
            },
            dwThread);
        nResult = -99;
        CaughtFailure f = Capture([&] { nResult = GetTarvoselApp().OpenSession(&info); });
        driver.Join();
        return f;
    }

    static void Accept(const LoginSheet& sheet, const char* pszRow)
    {
        ASSERT_TRUE(sheet.Select(pszRow)) << pszRow;
        ASSERT_TRUE(tvltest::WaitFor([&] { return IsWindowEnabled(sheet.Ok()) != FALSE; }, 5000));
        tvltest::Click(sheet.Ok());
    }
};

// The card certificates as the sheet lists them: one row per card, labelled
// with the holder and the card's kind, with the picture of that kind.
TEST_F(CardLoginTest, SheetShowsOneRowPerCardWithItsCardsPicture)
{
    ASSERT_NO_FATAL_FAILURE(StartApp());
    struct Row {
        const char* pszLabel;
        int nImage;
        const char* pszIssuer;
        const char* pszUsage;
    } rows[] = {
        // the authentication and the signing certificate of one identity card
        {kDnieRow, 1, "DNIE", "..."},
        {kTemdRow, 2, "Servicios de Certificacion", "Firma digital; No repudio"},
    };
    struct Seen {
        int nMatches = 0;
        int nImage = -1;
        std::string strIssuer, strUsage, strExpiry;
    } seen[2];
    CS_SESSIONINFO info;
    int nResult = 0;
    CaughtFailure f = LogIn(
        [&](const LoginSheet& sheet) {
            int nRows = tvltest::ListCount(sheet.hList);
            for (int r = 0; r < 2; ++r) {
                for (int i = 0; i < nRows; ++i) {
                    std::string strLabel = tvltest::ListText(sheet.hList, i, 0);
                    // The certificates' own names show nowhere as rows.
                    EXPECT_EQ(std::string::npos, strLabel.find("TARJETA PRUEBAS ISABEL"));
                    EXPECT_EQ(std::string::npos, strLabel.find("TARJETA TEMD PRUEBAS"));
                    if (strLabel != rows[r].pszLabel)
                        continue;
                    ++seen[r].nMatches;
                    seen[r].nImage = tvltest::ListImage(sheet.hList, i);
                    seen[r].strIssuer = tvltest::ListText(sheet.hList, i, 1);
                    seen[r].strUsage = tvltest::ListText(sheet.hList, i, 2);
                    seen[r].strExpiry = tvltest::ListText(sheet.hList, i, 3);
                }
            }
            tvltest::Click(sheet.Cancel());
        },
        info, nResult);
    EXPECT_FALSE(f.bThrown) << f.strDescription;
    EXPECT_EQ(0, nResult);
    for (int r = 0; r < 2; ++r) {
        SCOPED_TRACE(rows[r].pszLabel);
        EXPECT_EQ(1, seen[r].nMatches);
        EXPECT_EQ(rows[r].nImage, seen[r].nImage);
        EXPECT_EQ(rows[r].pszIssuer, seen[r].strIssuer);
        EXPECT_EQ(rows[r].pszUsage, seen[r].strUsage);
        // 31/12/2046 23:59:59 UTC is already 2047 in Madrid.
        EXPECT_EQ("01/01/2047", seen[r].strExpiry);
    }
    EXPECT_TRUE(m_pin.Dialogs().empty()) << "listing asks the card for nothing";
}

// A wrong PIN shows the message and a cancelled prompt is only logged; either
// way the sheet stays for another attempt and no session comes of it. The
// card blocked by the third wrong PIN is another failure: the sheet closes and
// the login fails with the provider's error.
TEST_F(CardLoginTest, WrongPinAndCancelledPromptKeepTheSheetABlockedCardEndsIt)
{
    ASSERT_NO_FATAL_FAILURE(InsertCard(0, ATR_TEMD_CARD, APP_TEMD));
    ASSERT_NO_FATAL_FAILURE(StartApp());
    struct Attempt {
        const char* pszWhat;
        const char* pszPin;     // nullptr: "Cancelar" in the PIN dialog
        const char* pszBox;     // the message box's text, nullptr: none
        bool bStays;            // the sheet stays open
        const char* pszLogged;  // the sheet's log line of the failure, nullptr: none
        int nTriesAfter;        // the card's PIN tries left
    } attempts[] = {
        {"wrong PIN", "1111", kWrongPassword, true, "(0x8010006B)", 2},
        {"cancelled prompt", nullptr, nullptr, true, "(0x8010006E)", 2},
        {"wrong PIN again", "0000", kWrongPassword, true, "(0x8010006B)", 1},
        {"third wrong PIN", "9999", nullptr, false, nullptr, 0},
    };
    const size_t kAttempts = sizeof(attempts) / sizeof(attempts[0]);
    struct Seen {
        std::string strBox;
        bool bBox = false;
        bool bStayed = false;
        int nRows = -1;
        int nTries = -1;
        int nSessions = -1;
        std::vector<std::string> journal;
    } seen[kAttempts];
    int nRowsAtStart = -2;
    tvltest::LogCapture log("card-login");
    DWORD dwThread = GetCurrentThreadId();
    CS_SESSIONINFO info;
    int nResult = 0;
    Journal(APP_TEMD);
    CaughtFailure f = LogIn(
        [&](const LoginSheet& sheet) {
            nRowsAtStart = tvltest::ListCount(sheet.hList);
            for (size_t a = 0; a < kAttempts; ++a) {
                const Attempt& c = attempts[a];
                SCOPED_TRACE(c.pszWhat);
                int nDialogs = m_pin.Count();
                m_pin.TypeOrCancel(c.pszPin);
                ASSERT_NO_FATAL_FAILURE(Accept(sheet, kTemdRow));
                ASSERT_TRUE(tvltest::WaitFor([&] { return m_pin.Count() > nDialogs; }, 20000))
                    << "no PIN dialog";
                HWND hBox = tvltest::WaitForLoginMessageBox(dwThread, c.pszBox ? 10000 : 1500);
                seen[a].bBox = hBox != nullptr;
                if (hBox != nullptr) {
                    seen[a].strBox = tvltest::MessageBoxText(hBox);
                    PostMessageA(hBox, WM_COMMAND, IDOK, 0);
                    tvltest::WaitFor([&] { return !IsWindow(hBox); });
                }
                // Idle again with its rows, or gone.
                tvltest::WaitFor(
                    [&] {
                        return !sheet.IsOpen() || (IsWindowEnabled(sheet.Refresh()) &&
                                                   IsWindowEnabled(sheet.Cancel()));
                    },
                    20000);
                seen[a].bStayed = sheet.IsOpen();
                seen[a].nRows = tvltest::ListCount(sheet.hList);
                seen[a].nSessions = GetTarvoselApp().SessionOpened();
                seen[a].nTries = Tries(APP_TEMD);
                seen[a].journal = Journal(APP_TEMD);
                if (!seen[a].bStayed)
                    return;
            }
            tvltest::Click(sheet.Cancel());
        },
        info, nResult);

    // The blocked card's error reaches the host.
    EXPECT_TRUE(f.bThrown);
    EXPECT_EQ(static_cast<long>(SCARD_W_CHV_BLOCKED), f.nSubCode) << f.strDescription;
    EXPECT_EQ(ERR_WINDOWS_UNKNOWN, f.nCode);
    EXPECT_EQ(0, ResultOf([&] { nResult = GetTarvoselApp().SessionOpened(); }));
    EXPECT_EQ(0, nResult);
    EXPECT_EQ(static_cast<int>(kAttempts), m_pin.Count());
    for (size_t a = 0; a < kAttempts; ++a) {
        const Attempt& c = attempts[a];
        SCOPED_TRACE(c.pszWhat);
        EXPECT_EQ(c.pszBox != nullptr, seen[a].bBox) << seen[a].strBox;
        if (c.pszBox != nullptr) {
            EXPECT_EQ(c.pszBox, seen[a].strBox);
        }
        EXPECT_EQ(c.bStays, seen[a].bStayed);
        if (c.bStays) {
            EXPECT_EQ(nRowsAtStart, seen[a].nRows) << "the list is unchanged";
        }
        EXPECT_EQ(0, seen[a].nSessions);
        EXPECT_EQ(c.nTriesAfter, seen[a].nTries);
        // The PIN's state is asked first; a cancelled prompt sends the card no PIN.
        EXPECT_EQ(c.pszPin != nullptr ? 2 : 1, CountOf(seen[a].journal, "VERIFY"))
            << Joined(seen[a].journal);
        EXPECT_EQ(0, CountOf(seen[a].journal, "SIGN")) << Joined(seen[a].journal);
        // One log line for each attempt that failed with that error.
        if (c.pszLogged != nullptr) {
            int nSame = 0;
            for (const Attempt& other : attempts)
                nSame += other.pszLogged != nullptr && strcmp(other.pszLogged, c.pszLogged) == 0;
            EXPECT_EQ(nSame, log.Count(c.pszLogged)) << log.Text();
        }
    }
    EXPECT_EQ(2, log.Count("Error Tarvosel: -1003")) << log.Text();
    EXPECT_EQ(1, log.Count("Error Tarvosel: -1036")) << log.Text();
}

// The right PIN opens the session on the card's reader, with the card's
// signing certificate; the file is then signed by the card, and the PIN typed
// at the login is enough for it.
TEST_F(CardLoginTest, RightPinOpensTheSessionThatSignsOnTheCard)
{
    struct Case {
        const char* pszRow;
        int nReader;
        const char* pszAtr;
        const char* pszApp;
        const char* pszPin;
        const char* pszCard;
        const char* pszSigner;  // the certificate the file is signed with
        bool bTrusted;
        const char* pszAuth;    // the session's authentication certificate
    } cases[] = {
        {kTemdRow, 0, ATR_TEMD_CARD, APP_TEMD, PIN_TEMD, CARD_NAME_TEMD, "card-temd", true,
         "card-temd"},
        // two certificates: the non-repudiation one signs, the other authenticates
        {kDnieRow, 1, ATR_DNIE_CARD, APP_DNIE, PIN_DNIE, CARD_NAME_DNIE, "card-dni-sign", false,
         "card-dni-auth"},
    };
    ASSERT_NO_FATAL_FAILURE(StartApp());
    std::string strData = "firmado tras entrar con la tarjeta";
    tvltest::WriteAll(Path("doc.txt"), strData);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszRow);
        ASSERT_NO_FATAL_FAILURE(InsertCard(c.nReader, c.pszAtr, c.pszApp));
        Journal(c.pszApp);
        int nDialogs = m_pin.Count();
        m_pin.Type(c.pszPin);
        CS_SESSIONINFO info;
        int nResult = 0;
        CaughtFailure f =
            LogIn([&](const LoginSheet& sheet) { Accept(sheet, c.pszRow); }, info, nResult);
        ASSERT_FALSE(f.bThrown) << f.strDescription;
        ASSERT_EQ(1, nResult);
        EXPECT_EQ(SESSION_KIND_CAPI, info.nType);
        EXPECT_EQ(1, GetTarvoselApp().SessionOpened());
        EXPECT_EQ(nDialogs + 1, m_pin.Count());
        const CS_CARDINFO* pCard = static_cast<const CS_CARDINFO*>(info.pDetails);
        ASSERT_NE(nullptr, pCard);
        EXPECT_EQ(c.nReader, pCard->nReader);
        EXPECT_EQ(c.pszCard, pCard->strCardName);
        EXPECT_EQ(FindTestPkiCert(c.pszAuth)->pszSubject, pCard->strAuthSubject);
        std::vector<std::string> journal = Journal(c.pszApp);
        EXPECT_TRUE(Has(journal, "VERIFY:9000")) << Joined(journal);

        ASSERT_EQ(0, ResultOf([&] {
                      GetTarvoselApp().SignFile(Path("doc.txt"), Path("doc.p7"), "MD5WITHRSA", 0,
                                                0);
                  }));
        journal = Journal(c.pszApp);
        EXPECT_EQ(1, std::count(journal.begin(), journal.end(), "SIGN:9000")) << Joined(journal);
        EXPECT_EQ(nDialogs + 1, m_pin.Count()) << "the PIN of the login signs";
        ASSERT_NO_FATAL_FAILURE(ExpectSignedBy(Path("doc.p7"), strData, c.pszSigner, c.bTrusted));
        DeleteFileA(Path("doc.p7").c_str());
        ASSERT_EQ(0, ResultOf([] { GetTarvoselApp().CloseSession(); }));
        ASSERT_NO_FATAL_FAILURE(RemoveCard(c.nReader));
    }
}
