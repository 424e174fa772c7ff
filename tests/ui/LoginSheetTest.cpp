// The login flow as the host starts it (OpenSession, and Login through the
// export frame), over the user's "My" store holding the test PKI: a driver
// thread reads the sheet's rows and buttons and presses them as a person would.
#include <gtest/gtest.h>

#include <windows.h>
#include <wincrypt.h>

#include <string>

#include "ScriptedSession.h"
#include "api/Exports.h"
#include "api/ResultCodes.h"
#include "app/CTarvoselApp.h"
#include "cert/CSession.h"
#include "tests/app/AppTestSupport.h"
#include "tests/fixtures/pki/TestPki.h"
#include "tests/support/LoginDriver.h"
#include "tests/support/TestCapture.h"
#include "ui/CLoginSheet.h"

using namespace tvltest;

namespace {

const char kSoftware[] = "DIAZ MORA CARLOS";        // soft-ds: digital signature only
const char kBothUsages[] = "FERNANDEZ RUIZ MARIA";  // fam2: digital signature and non-repudiation

// The expiry column's text: the certificate's UTC end as a date in Madrid (the
// last second of a year in UTC is already the next year there).
std::string MadridDate(const std::string& strNotAfter)
{
    static const char* const kDates[][2] = {
        {"20461231235959Z", "01/01/2047"},
        {"20451231235959Z", "01/01/2046"},
        {"20221231235959Z", "01/01/2023"},
    };
    for (const auto& d : kDates) {
        if (strNotAfter == d[0])
            return d[1];
    }
    return "<no Madrid date written down for " + strNotAfter + ">";
}

std::string IniValue(const char* pszKey)
{
    char sz[512] = {0};
    GetPrivateProfileStringA("Configuracion tarvosel", pszKey, "<none>", sz, sizeof(sz),
                             apptest::IniPath().c_str());
    return sz;
}

class LoginSheetTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        apptest::WriteIni("Log=1\r\n");
        ASSERT_EQ(0, ResultOf([] { GetTarvoselApp().Initialize(0); }));
        m_dwThread = GetCurrentThreadId();
    }
    void TearDown() override
    {
        GetTarvoselApp().SetSessionFactory(nullptr);
        GetTarvoselApp().SetLoginSheetHook(nullptr);
        ResultOf([] { GetTarvoselApp().Finalize(); });
        DeleteFileA(apptest::IniPath().c_str());
    }
    CTarvoselApp& App() { return GetTarvoselApp(); }
    void UseScript()
    {
        App().SetSessionFactory([this] { return new CScriptedSession(m_script); });
    }
    // Picks the row and presses "Aceptar" once the sheet is idle.
    void Accept(const LoginSheet& sheet, const char* pszLabel)
    {
        ASSERT_TRUE(sheet.WaitIdle());
        ASSERT_TRUE(sheet.Select(pszLabel)) << pszLabel;
        ASSERT_TRUE(IsWindowEnabled(sheet.Ok()));
        Click(sheet.Ok());
    }

    DWORD m_dwThread = 0;
    LoginScript m_script;
    LogCapture m_log{"login"};
};

}  // namespace

TEST_F(LoginSheetTest, ListsTheUsersSignatureCertificatesAndCancelLeavesNothing)
{
    tvltest::WriteAll(apptest::IniPath(),
                      "[Configuracion tarvosel]\r\nLog=1\r\nUltimoEPF=C:\\x.epf\r\n");
    struct Seen {
        std::string strBanner, strTab, strOk, strCancel;
        BOOL bOk = -1, bView = -1, bRefresh = -1, bOkSelected = -1, bViewSelected = -1;
        int nRows = 0;
        std::vector<std::string> labels;
        std::vector<std::vector<std::string>> columns;
        std::vector<int> images;
        std::string strHeadings;
        bool bSysMenu = true;
    } seen;
    CDriver driver(
        [&] {
            LoginSheet sheet = WaitForLoginSheet(m_dwThread);
            ASSERT_TRUE(sheet.IsOpen());
            ASSERT_TRUE(sheet.WaitIdle());
            for (HWND h : ChildWindows(sheet.hSheet)) {
                if (GetParent(h) == sheet.hSheet && ClassOf(h) == "Static" &&
                    TextOf(h).find("Seleccione el certificado") == 0)
                    seen.strBanner = TextOf(h);
            }
            char szTab[64] = {0};
            TCITEMA item = {};
            item.mask = TCIF_TEXT;
            item.pszText = szTab;
            item.cchTextMax = sizeof(szTab);
            SendMessageA(sheet.Tab(), TCM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item));
            seen.strTab = szTab;
            seen.strOk = TextOf(sheet.Ok());
            seen.strCancel = TextOf(sheet.Cancel());
            seen.bSysMenu = (GetWindowLongA(sheet.hSheet, GWL_STYLE) & WS_SYSMENU) != 0;
            seen.bOk = IsWindowEnabled(sheet.Ok());
            seen.bView = IsWindowEnabled(sheet.View());
            seen.bRefresh = IsWindowEnabled(sheet.Refresh());
            seen.nRows = ListCount(sheet.hList);
            for (int i = 0; i < seen.nRows; ++i) {
                seen.labels.push_back(ListText(sheet.hList, i, 0));
                seen.columns.push_back({ListText(sheet.hList, i, 1), ListText(sheet.hList, i, 2),
                                        ListText(sheet.hList, i, 3)});
                seen.images.push_back(ListImage(sheet.hList, i));
            }
            for (int i = 0; i < 4; ++i)
                seen.strHeadings += ListColumnHeading(sheet.hList, i) + "|";
            sheet.Select(kSoftware);
            seen.bOkSelected = IsWindowEnabled(sheet.Ok());
            seen.bViewSelected = IsWindowEnabled(sheet.View());
            Click(sheet.Cancel());
        },
        m_dwThread);
    CS_SESSIONINFO info;
    int nResult = -99;
    int nCode = ResultOf([&] { nResult = App().OpenSession(&info); });
    driver.Join();
    EXPECT_EQ(0, nCode);
    EXPECT_EQ(0, nResult);
    EXPECT_EQ(-1, info.nType);
    EXPECT_EQ(0, App().SessionOpened());
    EXPECT_EQ("<none>", IniValue("TipoUltimaSesion"));
    EXPECT_EQ("C:\\x.epf", IniValue("UltimoEPF")) << "the recent profiles are left alone";
    EXPECT_EQ("<none>", IniValue("UltimoEPF1"));

    EXPECT_EQ(0u, seen.strBanner.find("Seleccione el certificado digital que se utilizar\xE1 para "
                                      "la autenticaci\xF3n del usuario"));
    EXPECT_NE(std::string::npos, seen.strBanner.find("(DNI electr\xF3nico, certificados FNMT de "
                                                     "clase 2, etc.)"));
    EXPECT_EQ("Elija un Certificado de la lista", seen.strTab);
    EXPECT_EQ("Aceptar", seen.strOk);
    EXPECT_EQ("Cancelar", seen.strCancel);
    EXPECT_FALSE(seen.bSysMenu) << "the sheet has no close box";
    EXPECT_EQ("Certificado|Emisor|Uso de clave|V\xE1lido hasta|", seen.strHeadings);
    EXPECT_FALSE(seen.bOk);
    EXPECT_FALSE(seen.bView);
    EXPECT_TRUE(seen.bRefresh);
    EXPECT_TRUE(seen.bOkSelected);
    EXPECT_TRUE(seen.bViewSelected);

    // Every software certificate with a signature usage has its row, with the
    // certificate picture; the others have none.
    for (const TestPkiCert& c : g_aTestPki) {
        int nRow = -1;
        for (size_t i = 0; i < seen.labels.size(); ++i) {
            if (seen.labels[i] == c.pszDisplayName)
                nRow = static_cast<int>(i);
        }
        bool bShown = c.nSignatureUsage == 0x02 || c.nSignatureUsage == 0x22;
        EXPECT_EQ(bShown, nRow >= 0) << c.pszName;
        if (nRow < 0)
            continue;
        EXPECT_EQ(c.pszKeyUsageText, seen.columns[nRow][1]) << c.pszName;
        EXPECT_EQ(MadridDate(c.pszNotAfter), seen.columns[nRow][2]) << c.pszName;
        EXPECT_EQ(0, seen.images[nRow]) << c.pszName;
    }
    auto issuerOf = [&](const char* pszLabel) {
        for (size_t i = 0; i < seen.labels.size(); ++i) {
            if (seen.labels[i] == pszLabel)
                return seen.columns[i][0];
        }
        return std::string("<no row>");
    };
    EXPECT_EQ("Servicios de Certificacion", issuerOf(kSoftware));
    EXPECT_EQ("CN=CA Externa Comun, O=Entidad Externa de Pruebas, C=ES", issuerOf("EXTERNO COMUN"));
}

TEST_F(LoginSheetTest, ConfirmedLoginOpensTheSessionAndKeepsTheHistory)
{
    std::string strFolder = MakeScratchFolder("history");
    std::string strA = strFolder + "a.epf", strB = strFolder + "b.epf";
    WriteAll(strA, "a");
    WriteAll(strB, "b");
    apptest::WriteIni("Log=1\r\nTipoUltimaSesion=3\r\nUltimoEPF=" + strA +
                      "\r\nUltimoEPF1=" + strFolder + "missing.epf\r\nUltimoEPF2=" + strA +
                      "\r\nUltimoEPF3=" + strB + "\r\n");
    CDriver driver(
        [&] {
            LoginSheet sheet = WaitForLoginSheet(m_dwThread);
            ASSERT_TRUE(sheet.IsOpen()) << "a start page out of range opens the first";
            Accept(sheet, kSoftware);
        },
        m_dwThread);
    CS_SESSIONINFO info;
    int nResult = -99;
    int nCode = ResultOf([&] { nResult = App().OpenSession(&info); });
    driver.Join();
    ASSERT_EQ(0, nCode);
    EXPECT_EQ(1, nResult);
    EXPECT_EQ(1, info.nType);
    EXPECT_EQ("55555555K", info.strNIF);
    EXPECT_EQ("CARLOS DIAZ MORA", info.strName);
    const CS_CARDINFO* pCard = static_cast<const CS_CARDINFO*>(info.pDetails);
    ASSERT_NE(nullptr, pCard);
    EXPECT_EQ(-1, pCard->nReader);
    EXPECT_EQ("", pCard->strCardName);
    EXPECT_EQ("CN=DIAZ MORA CARLOS; OU=Personal; O=Ormavia; C=ES", pCard->strAuthSubject);
    EXPECT_EQ(1, App().SessionOpened());

    EXPECT_EQ("0", IniValue("TipoUltimaSesion"));
    EXPECT_EQ(strA, IniValue("UltimoEPF"));
    EXPECT_EQ(strB, IniValue("UltimoEPF1"));
    EXPECT_EQ("", IniValue("UltimoEPF2"));
    EXPECT_EQ("", IniValue("UltimoEPF3"));
    EXPECT_EQ("", IniValue("UltimoEPF4"));

    // The session is the real one: it signs.
    WriteAll(strFolder + "doc.txt", "contenido");
    EXPECT_EQ(0, ResultOf([&] {
                  App().SignFile(strFolder + "doc.txt", strFolder + "doc.p7m", "MD5WITHRSA", 0, 0);
              }));
    EXPECT_TRUE(Exists(strFolder + "doc.p7m"));
    // A second login while this one is open.
    EXPECT_EQ(ERR_SESSION_ALREADY_OPEN, ResultOf([&] { App().OpenSession(&info); }));
    EXPECT_EQ(-1, info.nType);
    App().CloseSession();
    RemoveFolder(strFolder);
}

TEST_F(LoginSheetTest, WrongPinShowsTheMessageCancelledPinIsLoggedBothKeepTheSheet)
{
    struct Case {
        int nCode;
        bool bMessageBox;
    } cases[] = {{ERR_WRONG_PASSWORD, true}, {ERR_CANCELLED, false}};
    for (const Case& c : cases) {
        m_script = LoginScript();
        m_script.failures = {c.nCode};
        UseScript();
        m_log.Clear();
        std::string strBoxText;
        bool bStayed = false, bBoxSeen = false;
        int nRowsBefore = -1, nRowsAfter = -2;
        CDriver driver(
            [&] {
                LoginSheet sheet = WaitForLoginSheet(m_dwThread);
                ASSERT_TRUE(sheet.IsOpen());
                ASSERT_NO_FATAL_FAILURE(Accept(sheet, kBothUsages));
                nRowsBefore = ListCount(sheet.hList);
                HWND hBox = WaitForLoginMessageBox(m_dwThread, c.bMessageBox ? 10000 : 1500);
                bBoxSeen = hBox != nullptr;
                if (hBox != nullptr) {
                    strBoxText = MessageBoxText(hBox);
                    PostMessageA(hBox, WM_COMMAND, IDOK, 0);
                    WaitFor([&] { return !IsWindow(hBox); });
                }
                ASSERT_TRUE(sheet.WaitIdle());
                bStayed = sheet.IsOpen();
                nRowsAfter = ListCount(sheet.hList);
                // Another attempt, with a new session object: this one opens.
                Accept(sheet, kBothUsages);
            },
            m_dwThread);
        int nResult = -99;
        CS_SESSIONINFO info;
        int nCode = ResultOf([&] { nResult = App().OpenSession(&info); });
        driver.Join();
        EXPECT_EQ(0, nCode) << c.nCode;
        EXPECT_EQ(1, nResult) << c.nCode;
        EXPECT_EQ(c.bMessageBox, bBoxSeen) << c.nCode;
        if (c.bMessageBox) {
            EXPECT_EQ(
                "Contrase\xF1"
                "a incorrecta",
                strBoxText);
        }
        EXPECT_TRUE(bStayed) << c.nCode;
        EXPECT_EQ(nRowsBefore, nRowsAfter) << "the list is unchanged";
        EXPECT_EQ(2, m_script.nCreated);
        EXPECT_EQ(1, m_script.nDeleted) << "the failed attempt's session is gone";
        EXPECT_TRUE(m_log.Contains("CScriptedSession::Open")) << "the failure is logged";
        // No card in any reader: no reader, looked up or not (AppCardLoginTest
        // sees the lookup find the reader that holds one).
        EXPECT_EQ(-1, m_script.nReader);
        EXPECT_EQ("CN=FERNANDEZ RUIZ MARIA; OU=Empleados; O=Ormavia; C=ES",
                  m_script.strSignSubject);
        EXPECT_TRUE(m_script.bSameCertificate);
        ResultOf([&] { App().CloseSession(); });
    }
}

TEST_F(LoginSheetTest, OtherFailureClosesTheSheetAndIsLoginsResult)
{
    m_script.failures = {ERR_USER_CERTIFICATES};
    UseScript();
    CDriver driver(
        [&] {
            LoginSheet sheet = WaitForLoginSheet(m_dwThread);
            ASSERT_TRUE(sheet.IsOpen());
            Accept(sheet, kSoftware);
        },
        m_dwThread);
    char szIssuer[512] = "?", szIni[512] = "?", szName[512] = "?", szNIF[512] = "?",
         szDetail[512] = "?";
    CS_LOGINDATA data = {7, szIssuer, szIni, szName, szNIF, szDetail, 9};
    EXPECT_EQ(ERR_USER_CERTIFICATES, Login(&data));
    driver.Join();
    EXPECT_EQ(ERR_USER_CERTIFICATES, ObtenerUltimoError());
    EXPECT_EQ(0, data.nType) << "a login that failed inside the sheet reports the page's kind";
    EXPECT_STREQ("?", szName);
    EXPECT_EQ(0, App().SessionOpened());
    EXPECT_EQ(1, m_script.nDeleted);
    EXPECT_EQ("0", IniValue("TipoUltimaSesion"));
    EXPECT_TRUE(m_log.Contains(" - Resultado: -1025\r\n"));
    // A software certificate with digital signature only: no reader, one
    // certificate in both roles.
    EXPECT_EQ(-1, m_script.nReader);
    EXPECT_EQ(1, m_script.nCertificates);
    EXPECT_TRUE(m_script.bSameCertificate);
}

// A sheet the platform will not make (here: its owner is a window that is
// gone) is a failure with the platform's error, not a login the user cancelled.
TEST_F(LoginSheetTest, ASheetThatCannotBeMadeIsAnErrorNotACancel)
{
    HWND hGone = CreateWindowA("STATIC", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr,
                               nullptr);
    ASSERT_NE(nullptr, hGone);
    DestroyWindow(hGone);
    App().SetLoginSheetHook([hGone](CLoginSheet& sheet) { sheet.m_psh.hwndParent = hGone; });
    char szIssuer[512] = "?", szIni[512] = "?", szName[512] = "?", szNIF[512] = "?",
         szDetail[512] = "?";
    CS_LOGINDATA data = {7, szIssuer, szIni, szName, szNIF, szDetail, 9};
    EXPECT_EQ(ERR_WINDOWS_UNKNOWN, Login(&data));
    EXPECT_EQ(ERR_WINDOWS_UNKNOWN, ObtenerUltimoError());
    EXPECT_EQ(-1, data.nType);
    EXPECT_STREQ("?", szName);
    EXPECT_EQ(0, App().SessionOpened());
    EXPECT_EQ("<none>", IniValue("TipoUltimaSesion"));
    EXPECT_TRUE(m_log.Contains(" - Resultado: -1024\r\n"));
    EXPECT_TRUE(m_log.Contains(" - No se ha podido crear la ventana de selecci\xF3n de certificado: "
                               "(0x00000578) "));
}

TEST_F(LoginSheetTest, AttemptRunsOnAWorkerWhileTheSheetIsBusyAndStillPaints)
{
    m_script.hBlock = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    UseScript();
    struct Busy {
        BOOL bOk = -1, bCancel = -1, bTab = -1, bPage = -1, bView = -1, bRefresh = -1;
        LRESULT nCursor = -1;
        bool bAnswered = false;
        BOOL bOkAfterClose = -1;
    } busy;
    CDriver driver(
        [&] {
            LoginSheet sheet = WaitForLoginSheet(m_dwThread);
            ASSERT_TRUE(sheet.IsOpen());
            Accept(sheet, kSoftware);
            ASSERT_TRUE(WaitFor([&] { return m_script.nOpening == 1; }));
            busy.bOk = IsWindowEnabled(sheet.Ok());
            busy.bCancel = IsWindowEnabled(sheet.Cancel());
            busy.bTab = IsWindowEnabled(sheet.Tab());
            busy.bPage = IsWindowEnabled(sheet.hPage);
            busy.bView = IsWindowEnabled(sheet.View());
            busy.bRefresh = IsWindowEnabled(sheet.Refresh());
            busy.nCursor = SendMessageA(sheet.hSheet, WM_SETCURSOR,
                                        reinterpret_cast<WPARAM>(sheet.hSheet), HTCLIENT);
            DWORD_PTR n = 0;
            busy.bAnswered =
                SendMessageTimeoutA(sheet.hSheet, WM_NULL, 0, 0, SMTO_NORMAL, 2000, &n) != 0;
            // Closing it now is refused: the attempt's session would be lost.
            PostMessageA(sheet.hSheet, WM_CLOSE, 0, 0);
            Sleep(200);
            busy.bOkAfterClose = sheet.IsOpen();
            SetEvent(m_script.hBlock);
        },
        m_dwThread);
    int nResult = -99;
    int nCode = ResultOf([&] { nResult = App().OpenSession(nullptr); });
    driver.Join();
    CloseHandle(m_script.hBlock);
    EXPECT_EQ(0, nCode);
    EXPECT_EQ(1, nResult);
    EXPECT_FALSE(busy.bOk);
    EXPECT_FALSE(busy.bCancel);
    EXPECT_FALSE(busy.bTab);
    EXPECT_FALSE(busy.bPage);
    EXPECT_FALSE(busy.bView);
    EXPECT_FALSE(busy.bRefresh);
    EXPECT_EQ(TRUE, busy.nCursor) << "the wait cursor is the sheet's while busy";
    EXPECT_TRUE(busy.bAnswered) << "the sheet dispatches its messages during the attempt";
    EXPECT_TRUE(busy.bOkAfterClose);
    EXPECT_EQ(1, App().SessionOpened());
}

TEST_F(LoginSheetTest, ClickWithoutSelectionStartsNothing)
{
    UseScript();
    bool bStillOpen = false;
    CDriver driver(
        [&] {
            LoginSheet sheet = WaitForLoginSheet(m_dwThread);
            ASSERT_TRUE(sheet.WaitIdle());
            // Another program's click message on "Aceptar" with nothing selected.
            SendMessageA(sheet.hSheet, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                         reinterpret_cast<LPARAM>(sheet.Ok()));
            Sleep(200);
            bStillOpen = sheet.IsOpen();
            Click(sheet.Cancel());
        },
        m_dwThread);
    int nResult = -99;
    EXPECT_EQ(0, ResultOf([&] { nResult = App().OpenSession(nullptr); }));
    driver.Join();
    EXPECT_EQ(0, nResult);
    EXPECT_TRUE(bStillOpen);
    EXPECT_EQ(0, m_script.nCreated);
}

TEST_F(LoginSheetTest, ViewShowsThePropertiesOfTheSelectedRow)
{
    const TestPkiCert* pCert = FindTestPkiCert("eku");
    ASSERT_NE(nullptr, pCert);
    std::vector<std::string> values;
    std::string strCounter;
    BOOL bPrevious = -1, bNext = -1, bOkAfter = -1;
    CDriver driver(
        [&] {
            LoginSheet sheet = WaitForLoginSheet(m_dwThread);
            ASSERT_TRUE(sheet.WaitIdle());
            ASSERT_TRUE(sheet.Select(pCert->pszDisplayName));
            Click(sheet.View());
            HWND hDlg = WaitForDialog(m_dwThread, "Propiedades del certificado");
            ASSERT_NE(nullptr, hDlg);
            HWND hList = GetDlgItem(hDlg, IDC_PROP_LIST);
            for (int i = 0; i < ListCount(hList); ++i)
                values.push_back(ListText(hList, i, 1));
            strCounter = TextOf(GetDlgItem(hDlg, IDC_PROP_COUNTER));
            bPrevious = IsWindowEnabled(GetDlgItem(hDlg, IDC_PROP_PREVIOUS));
            bNext = IsWindowEnabled(GetDlgItem(hDlg, IDC_PROP_NEXT));
            Click(GetDlgItem(hDlg, IDOK));
            WaitFor([&] { return !IsWindow(hDlg); });
            WaitFor([&] { return IsWindowEnabled(sheet.Ok()) != FALSE; }, 2000);
            bOkAfter = IsWindowEnabled(sheet.Ok());
            Click(sheet.Cancel());
        },
        m_dwThread);
    EXPECT_EQ(0, ResultOf([&] { App().OpenSession(nullptr); }));
    driver.Join();
    ASSERT_EQ(9u, values.size());
    EXPECT_EQ(pCert->pszSubject, values[0]);
    EXPECT_EQ("Firma digital", values[1]);
    EXPECT_EQ(pCert->pszEnhancedKeyUsage, values[2]);
    EXPECT_EQ(pCert->pszSerial, values[3]);
    EXPECT_EQ("V3", values[6]);
    EXPECT_EQ(pCert->pszThumbprint, values[7]);
    EXPECT_EQ(pCert->pszIssuer, values[8]);
    EXPECT_EQ("1/1", strCounter);
    EXPECT_FALSE(bPrevious);
    EXPECT_FALSE(bNext);
    EXPECT_TRUE(bOkAfter);
}

namespace {
// A software certificate with digital signature that only this test puts into
// the user's "My" store, and takes out again.
class CTemporaryCertificate {
public:
    explicit CTemporaryCertificate(const char* pszName) : m_strName(pszName)
    {
        CryptAcquireContextA(&m_hProv, kContainer, MS_ENHANCED_PROV_A, PROV_RSA_FULL,
                             CRYPT_DELETEKEYSET);
        m_hProv = 0;
        if (!CryptAcquireContextA(&m_hProv, kContainer, MS_ENHANCED_PROV_A, PROV_RSA_FULL,
                                  CRYPT_NEWKEYSET))
            return;
        HCRYPTKEY hKey = 0;
        if (!CryptGenKey(m_hProv, AT_SIGNATURE, 1024 << 16, &hKey))
            return;
        CryptDestroyKey(hKey);
        std::string strSubject = "CN=" + m_strName;
        BYTE abName[256];
        DWORD cbName = sizeof(abName);
        if (!CertStrToNameA(X509_ASN_ENCODING, strSubject.c_str(), CERT_X500_NAME_STR, nullptr,
                            abName, &cbName, nullptr))
            return;
        CERT_NAME_BLOB subject = {cbName, abName};
        BYTE bUsage = CERT_DIGITAL_SIGNATURE_KEY_USAGE;
        CRYPT_BIT_BLOB usage = {1, &bUsage, 0};
        BYTE abUsage[16];
        DWORD cbUsage = sizeof(abUsage);
        if (!CryptEncodeObject(X509_ASN_ENCODING, X509_KEY_USAGE, &usage, abUsage, &cbUsage))
            return;
        CERT_EXTENSION extension = {const_cast<char*>(szOID_KEY_USAGE), TRUE, {cbUsage, abUsage}};
        CERT_EXTENSIONS extensions = {1, &extension};
        CRYPT_KEY_PROV_INFO provInfo = {};
        provInfo.pwszContainerName = const_cast<wchar_t*>(L"tvl-ui-refresh");
        provInfo.pwszProvName = const_cast<wchar_t*>(MS_ENHANCED_PROV_W);
        provInfo.dwProvType = PROV_RSA_FULL;
        provInfo.dwKeySpec = AT_SIGNATURE;
        m_pContext = CertCreateSelfSignCertificate(m_hProv, &subject, 0, &provInfo, nullptr,
                                                   nullptr, nullptr, &extensions);
    }
    ~CTemporaryCertificate()
    {
        Remove();
        if (m_pContext != nullptr)
            CertFreeCertificateContext(m_pContext);
        if (m_hProv != 0)
            CryptReleaseContext(m_hProv, 0);
        HCRYPTPROV h = 0;
        CryptAcquireContextA(&h, kContainer, MS_ENHANCED_PROV_A, PROV_RSA_FULL, CRYPT_DELETEKEYSET);
    }
    bool IsMade() const { return m_pContext != nullptr; }
    bool Add() { return Change(true); }
    bool Remove() { return Change(false); }

private:
    static constexpr const char* kContainer = "tvl-ui-refresh";
    bool Change(bool bAdd)
    {
        if (m_pContext == nullptr)
            return false;
        HCERTSTORE hStore = CertOpenSystemStoreA(0, "MY");
        if (hStore == nullptr)
            return false;
        bool bDone = false;
        if (bAdd) {
            bDone = CertAddCertificateContextToStore(hStore, m_pContext,
                                                     CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
        } else {
            PCCERT_CONTEXT pFound = CertFindCertificateInStore(
                hStore, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, m_pContext, nullptr);
            bDone = pFound != nullptr && CertDeleteCertificateFromStore(pFound);
        }
        CertControlStore(hStore, CERT_STORE_CTRL_COMMIT_FORCE_FLAG, CERT_STORE_CTRL_COMMIT,
                         nullptr);
        CertCloseStore(hStore, 0);
        return bDone;
    }
    std::string m_strName;
    HCRYPTPROV m_hProv = 0;
    PCCERT_CONTEXT m_pContext = nullptr;
};
}  // namespace

TEST_F(LoginSheetTest, RefreshShowsWhatTheStoreHoldsNow)
{
    CTemporaryCertificate certificate("PRUEBA ACTUALIZAR");
    ASSERT_TRUE(certificate.IsMade());
    certificate.Remove();
    bool bAbsentFirst = false, bAdded = false, bRemoved = false;
    CDriver driver(
        [&] {
            LoginSheet sheet = WaitForLoginSheet(m_dwThread);
            ASSERT_TRUE(sheet.WaitIdle());
            bAbsentFirst = ListFind(sheet.hList, "PRUEBA ACTUALIZAR") < 0;
            EXPECT_TRUE(certificate.Add());
            Click(sheet.Refresh());
            bAdded =
                WaitFor([&] { return ListFind(sheet.hList, "PRUEBA ACTUALIZAR") >= 0; }, 10000);
            ASSERT_TRUE(sheet.WaitIdle());
            EXPECT_TRUE(certificate.Remove());
            Click(sheet.Refresh());
            bRemoved =
                WaitFor([&] { return ListFind(sheet.hList, "PRUEBA ACTUALIZAR") < 0; }, 10000);
            ASSERT_TRUE(sheet.WaitIdle());
            Click(sheet.Cancel());
        },
        m_dwThread);
    EXPECT_EQ(0, ResultOf([&] { App().OpenSession(nullptr); }));
    driver.Join();
    EXPECT_TRUE(bAbsentFirst);
    EXPECT_TRUE(bAdded);
    EXPECT_TRUE(bRemoved);
    EXPECT_GE(m_log.Count(" - Actualizando...\r\n"), 3);
}
