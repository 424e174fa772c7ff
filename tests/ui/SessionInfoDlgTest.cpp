// The session information dialog as the notification-area icon opens it on the
// interface thread, over a Windows-certificate session (test PKI) and a
// profile session (profile test material): the user line, the two lists, the
// export choices with their files, import and delete in the address book, the
// properties dialog, failures shown in a message box, and the tip of the icon.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <memory>
#include <string>
#include <vector>

#include "api/ResultCodes.h"
#include "app/CTarvoselApp.h"
#include "app/CTarvoselWnd.h"
#include "host/Messages.h"
#include "cert/entrust/CEntrustSession.h"
#include "cert/wincrypt/CWincryptSession.h"
#include "platform/entrust/EntCertificate.h"
#include "platform/entrust/EntDirectory.h"
#include "platform/entrust/EntFile.h"
#include "res/resource.h"
#include "tests/entrust/DirectoryServer.h"
#include "tests/entrust/EntrustTestSupport.h"
#include "tests/session/SessionTestSupport.h"
#include "tests/support/TestCapture.h"
#include "tests/support/TestDriver.h"
#include "tests/support/TestFiles.h"
#include "tests/support/TestWait.h"

using tvltest::ResultOf;
using tvltest::WaitFor;

namespace {
const char kCaption[] = "Informaci\xF3n del usuario";
const char kPropertiesCaption[] = "Propiedades del certificado";
const char kFileDialogCaption[] = "Seleccione el fichero";
const DWORD kAnswerMs = 5000;

std::string Pki(const std::string& strPath)
{
    return std::string(TVL_PKI_DIR) + "\\" + strPath;
}

class SessionInfoDlgTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        WriteIni("");
        ASSERT_EQ(0, ResultOf([&] { App().Initialize(1); }));
        std::string strName = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        m_strDir = tvltest::MakeScratchFolder(strName);
        m_strTemp = tvltest::MakeScratchFolder(strName + "-temp");
        App().SetTempDir(m_strTemp);
    }
    void TearDown() override
    {
        ResultOf([&] { App().Finalize(); });
        DeleteFileA(IniPath().c_str());
        for (const std::string& strName : epftest::FilesIn(m_strDir))
            SetFileAttributesA((m_strDir + strName).c_str(), FILE_ATTRIBUTE_NORMAL);
        tvltest::RemoveFolder(m_strDir);
        tvltest::RemoveFolder(m_strTemp);
    }

    static CTarvoselApp& App() { return GetTarvoselApp(); }
    static std::string IniPath() { return tvltest::ExeFolder() + "tarvosel.ini"; }
    static void WriteIni(const std::string& strKeys)
    {
        tvltest::WriteAll(IniPath(), "[Configuracion tarvosel]\r\nLog=1\r\nModoInterfaz=1\r\n" + strKeys);
    }
    DWORD InterfaceThread() { return App().GetInterfaceThreadId(); }

    // A Windows-certificate session on a certificate of the test PKI.
    bool AdoptWincrypt(const char* pszName)
    {
        sessiontest::Choice choice(pszName, pszName);
        if (!choice.IsComplete())
            return false;
        std::unique_ptr<CWincryptSession> pSession(new CWincryptSession);
        if (ResultOf([&] { pSession->Open(&choice.login); }) != 0)
            return false;
        App().AdoptSession(pSession.release());
        return true;
    }
    // A profile session on a scratch copy of a test profile.
    bool AdoptProfile(const char* pszName, const std::string& strServer = std::string())
    {
        m_strProfile = epftest::CopyProfile(m_strDir, pszName);
        CS_EPFLOGIN login;
        login.strProfilePath = m_strProfile;
        login.strPassword = epftest::kPassword;
        login.strServer = strServer;
        login.bOnline = strServer.empty() ? 0 : 1;
        CS_EPFREQUEST request;
        request.pLogin = &login;
        std::unique_ptr<CEntrustSession> pSession(new CEntrustSession);
        if (ResultOf([&] { pSession->Open(&request); }) != 0)
            return false;
        App().AdoptSession(pSession.release());
        return true;
    }

    // A click on the icon, as the shell reports it; the dialog it opens.
    HWND OpenDialog()
    {
        PostMessageA(App().GetTrayWindow(), WM_TRAY_NOTIFY, CTarvoselWnd::ICON_ID, WM_LBUTTONUP);
        m_hDialog = tvltest::WaitForDialog(InterfaceThread(), kCaption, kAnswerMs);
        return m_hDialog;
    }
    HWND Item(int nId) { return GetDlgItem(m_hDialog, nId); }
    std::string Text(int nId) { return tvltest::TextOf(Item(nId)); }
    bool Enabled(int nId) { return IsWindowEnabled(Item(nId)) != FALSE; }
    bool Checked(int nId) { return SendMessageA(Item(nId), BM_GETCHECK, 0, 0) == BST_CHECKED; }
    std::vector<std::string> Labels(int nListId)
    {
        std::vector<std::string> labels;
        HWND hList = Item(nListId);
        for (int i = 0; i < tvltest::ListCount(hList); ++i)
            labels.push_back(tvltest::ListText(hList, i, 0));
        return labels;
    }
    // Another dialog of the interface thread than the information dialog: a
    // message box, the properties or the file dialog.
    HWND WaitForOther(const std::string& strCaption = std::string())
    {
        return tvltest::WaitForWindow(
            InterfaceThread(),
            [&](HWND h) {
                return h != m_hDialog && tvltest::ClassOf(h) == "#32770" &&
                       (strCaption.empty() || tvltest::TextOf(h) == strCaption);
            },
            kAnswerMs);
    }
    // Presses a button of the dialog and reads the message box it shows,
    // which is then closed; "" when none came.
    std::string PressForMessage(int nId)
    {
        tvltest::Click(Item(nId));
        HWND hBox = WaitForOther(kCaption);
        if (hBox == nullptr)
            return std::string();
        std::string strText = tvltest::MessageBoxText(hBox);
        PostMessageA(hBox, WM_COMMAND, IDOK, 0);
        WaitFor([&] { return !IsWindow(hBox); });
        return strText;
    }
    // "Importar...": the file dialog gets the path and is confirmed.
    bool Import(const std::string& strPath)
    {
        tvltest::Click(Item(IDC_INFO_IMPORT));
        HWND hFiles = WaitForOther(kFileDialogCaption);
        if (hFiles == nullptr) {
            ADD_FAILURE() << "no file dialog";
            return false;
        }
        // The file name box: an edit field inside the name combo box (1148),
        // or an edit field of its own (1152).
        HWND hName = nullptr;
        for (HWND h : tvltest::ChildWindows(hFiles)) {
            int nId = GetDlgCtrlID(h);
            if (hName == nullptr && tvltest::ClassOf(h) == "Edit" && (nId == 1148 || nId == 1152))
                hName = h;
        }
        if (hName == nullptr) {
            ADD_FAILURE() << "no file name box";
            return false;
        }
        // The dialog takes no "/" in a name.
        std::string strTyped = strPath;
        for (char& c : strTyped)
            c = c == '/' ? '\\' : c;
        SendMessageA(hName, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(strTyped.c_str()));
        PostMessageA(hFiles, WM_COMMAND, IDOK, 0);
        bool bClosed = WaitFor([&] { return !IsWindow(hFiles); }, kAnswerMs);
        if (!bClosed) {
            for (HWND h : tvltest::ThreadWindows(InterfaceThread()))
                ADD_FAILURE() << tvltest::ClassOf(h) << " " << tvltest::TextOf(h) << " "
                              << IsWindowVisible(h) << " " << tvltest::MessageBoxText(h);
        }
        return bClosed;
    }
    // The address book's rows once a reload has settled on nRows.
    bool WaitForBookRows(int nRows)
    {
        return WaitFor([&] { return tvltest::ListCount(Item(IDC_INFO_BOOK_LIST)) == nRows; },
                       kAnswerMs);
    }

    std::string m_strDir, m_strTemp, m_strProfile;
    HWND m_hDialog = nullptr;
};

// The certificates of a PEM file, in order, as the test material names them
// (decoded by the platform, not by the code under test).
std::vector<std::string> PemCertificates(const std::string& strPath)
{
    const std::string strEnd = "-----END CERTIFICATE-----";
    std::string strText = tvltest::ReadAll(strPath);
    std::vector<std::string> names;
    for (size_t nStart = 0, nStop; (nStop = strText.find(strEnd, nStart)) != std::string::npos;
         nStart = nStop + strEnd.size()) {
        std::string strBlock = strText.substr(nStart, nStop + strEnd.size() - nStart);
        DWORD cb = 0;
        std::vector<BYTE> der;
        if (CryptStringToBinaryA(strBlock.c_str(), 0, CRYPT_STRING_BASE64HEADER, nullptr, &cb,
                                 nullptr, nullptr)) {
            der.resize(cb);
            CryptStringToBinaryA(strBlock.c_str(), 0, CRYPT_STRING_BASE64HEADER, der.data(), &cb,
                                 nullptr, nullptr);
        }
        std::string strName = "not a certificate";
        for (const char* pszName : {"user-sign.der", "user-enc.der"}) {
            if (!der.empty() && der == epftest::FixtureBytes(pszName))
                strName = pszName;
        }
        names.push_back(strName);
    }
    return names;
}

bool IsDescending(const std::vector<std::string>& labels)
{
    for (size_t i = 1; i < labels.size(); ++i) {
        if (lstrcmpA(labels[i - 1].c_str(), labels[i].c_str()) < 0)
            return false;
    }
    return true;
}

// The certificates of a PKCS#12 file that carry their key, as the test
// material names them.
std::vector<std::string> Pkcs12KeyPairs(const std::string& strPath)
{
    std::vector<std::string> names;
    bool bRead = false;
    for (const auto& entry : epftest::Pkcs12Entries(strPath, epftest::kPassword, &bRead)) {
        std::string strName = "?";
        for (const char* pszName : {"user-sign.der", "user-enc.der"}) {
            if (entry.first == epftest::FixtureBytes(pszName))
                strName = pszName;
        }
        names.push_back(entry.second ? strName : strName + " without key");
    }
    if (!bRead)
        names.push_back("unreadable");
    return names;
}
}  // namespace

TEST_F(SessionInfoDlgTest, WindowsCertificateSession)
{
    WriteIni("AllowExport=1\r\n");
    ASSERT_TRUE(AdoptWincrypt("fam2"));
    EXPECT_TRUE(WaitFor([] { return CTarvoselWnd::GetEntryRecord().strTip == "MARIA FERNANDEZ RUIZ"; }));
    ASSERT_NE(nullptr, OpenDialog());

    // The owner's name and number, no suffix.
    EXPECT_EQ("MARIA FERNANDEZ RUIZ, 87654321X", Text(IDC_INFO_USER));
    // The public certificate only, as PEM, whatever "AllowExport" says.
    EXPECT_EQ("Exportar clave p\xFA" "blica (.pem)", Text(IDC_INFO_EXPORT_PUBLIC));
    EXPECT_TRUE(Checked(IDC_INFO_EXPORT_PUBLIC));
    EXPECT_TRUE(Enabled(IDC_INFO_EXPORT_PUBLIC));
    for (int nId : {IDC_INFO_EXPORT_ALL, IDC_INFO_EXPORT_ENCRYPTION, IDC_INFO_EXPORT_SIGNING})
        EXPECT_FALSE(Enabled(nId)) << nId;

    // The session's certificate, and the "Trust" store (two certificates of the
    // test PKI) in descending order of label.
    HWND hUser = Item(IDC_INFO_USER_LIST);
    ASSERT_EQ(1, tvltest::ListCount(hUser));
    EXPECT_EQ("FERNANDEZ RUIZ MARIA", tvltest::ListText(hUser, 0, 0));
    EXPECT_EQ("Servicios de Certificacion", tvltest::ListText(hUser, 0, 1));
    EXPECT_EQ("Firma digital; No repudio", tvltest::ListText(hUser, 0, 2));
    // 31/12/2046 23:59:59 UTC, in Madrid.
    EXPECT_EQ("01/01/2047", tvltest::ListText(hUser, 0, 3));
    std::vector<std::string> book = Labels(IDC_INFO_BOOK_LIST);
    EXPECT_EQ((std::vector<std::string>{"MU\xD1OZ PE\xD1" "A JOS\xC9", "DIAZ MORA CARLOS"}), book);

    // Nothing selected: no "Ver..." and no delete; a selected row enables them.
    EXPECT_FALSE(Enabled(IDC_INFO_VIEW_USER));
    EXPECT_FALSE(Enabled(IDC_INFO_VIEW_BOOK));
    EXPECT_FALSE(Enabled(IDC_INFO_DELETE));
    tvltest::ListSelect(hUser, 0);
    EXPECT_TRUE(Enabled(IDC_INFO_VIEW_USER));
    EXPECT_FALSE(Enabled(IDC_INFO_DELETE));
    tvltest::ListSelect(Item(IDC_INFO_BOOK_LIST), 1);
    EXPECT_TRUE(Enabled(IDC_INFO_VIEW_BOOK));
    EXPECT_TRUE(Enabled(IDC_INFO_DELETE));

    // The certificate goes into the temporary folder under the owner's name.
    std::string strFile = m_strTemp + "MARIA FERNANDEZ RUIZ.pem";
    EXPECT_EQ("Exportaci\xF3n correcta a '" + strFile + "'", PressForMessage(IDC_INFO_EXPORT));
    std::string strPem = tvltest::ReadAll(strFile);
    EXPECT_EQ(0u, strPem.find("-----BEGIN CERTIFICATE-----\n"));
    EXPECT_EQ(tvltest::ReadAll(Pki("certs\\fam2.pem")), strPem);

    // "Ver..." shows the selected row's certificate.
    tvltest::Click(Item(IDC_INFO_VIEW_USER));
    HWND hProperties = WaitForOther(kPropertiesCaption);
    ASSERT_NE(nullptr, hProperties);
    EXPECT_EQ(m_hDialog, GetWindow(hProperties, GW_OWNER));
    EXPECT_EQ("1/1", tvltest::TextOf(GetDlgItem(hProperties, IDC_PROP_COUNTER)));
    HWND hRows = GetDlgItem(hProperties, IDC_PROP_LIST);
    EXPECT_EQ(sessiontest::FindPki("fam2")->pszSubject, tvltest::ListText(hRows, 0, 1));
    PostMessageA(hProperties, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(WaitFor([&] { return !IsWindow(hProperties); }));
    EXPECT_TRUE(IsWindowVisible(m_hDialog));
}

TEST_F(SessionInfoDlgTest, ProfileSessionWithoutPrivateExport)
{
    ASSERT_TRUE(AdoptProfile("user"));
    EXPECT_TRUE(WaitFor([] { return CTarvoselWnd::GetEntryRecord().strTip == "GARCIA LOPEZ JUAN"; }));
    ASSERT_NE(nullptr, OpenDialog());
    EXPECT_EQ("GARCIA LOPEZ JUAN, 12345678Z, (Offline)", Text(IDC_INFO_USER));
    EXPECT_EQ("Exportar claves p\xFA" "blicas (.key)", Text(IDC_INFO_EXPORT_PUBLIC));
    EXPECT_TRUE(Checked(IDC_INFO_EXPORT_PUBLIC));
    for (int nId : {IDC_INFO_EXPORT_ALL, IDC_INFO_EXPORT_ENCRYPTION, IDC_INFO_EXPORT_SIGNING})
        EXPECT_FALSE(Enabled(nId)) << nId;

    // The encryption certificate, then the signing one; an empty address book.
    HWND hUser = Item(IDC_INFO_USER_LIST);
    ASSERT_EQ(2, tvltest::ListCount(hUser));
    EXPECT_EQ("NOMBRE GARCIA LOPEZ JUAN - NIF 12345678Z", tvltest::ListText(hUser, 0, 0));
    EXPECT_EQ("Cifrado de datos; Cifrado de clave", tvltest::ListText(hUser, 0, 2));
    EXPECT_EQ("Firma digital; No repudio", tvltest::ListText(hUser, 1, 2));
    EXPECT_EQ(0, tvltest::ListCount(Item(IDC_INFO_BOOK_LIST)));

    // The user's certificate goes beside the profile; it imports into an
    // address book like any certificate file.
    std::string strKey = m_strDir + "user.key";
    EXPECT_EQ("Exportaci\xF3n correcta a '" + strKey + "'", PressForMessage(IDC_INFO_EXPORT));
    EXPECT_EQ((std::vector<std::string>{"user-enc.der", "user-sign.der"}), PemCertificates(strKey));
    EXPECT_FALSE(tvltest::Exists(m_strDir + "user.pfx"));
}

TEST_F(SessionInfoDlgTest, ProfileSessionExportsItsSigningKey)
{
    WriteIni("AllowExport=1\r\n");
    ASSERT_TRUE(AdoptProfile("user"));
    ASSERT_NE(nullptr, OpenDialog());
    for (int nId : {IDC_INFO_EXPORT_PUBLIC, IDC_INFO_EXPORT_ALL, IDC_INFO_EXPORT_ENCRYPTION,
                    IDC_INFO_EXPORT_SIGNING})
        EXPECT_TRUE(Enabled(nId)) << nId;

    // "Exportar clave privada de firma (.pfx)": the signing key alone, under the
    // profile's own password.
    SendMessageA(Item(IDC_INFO_EXPORT_SIGNING), BM_CLICK, 0, 0);
    EXPECT_FALSE(Checked(IDC_INFO_EXPORT_PUBLIC));
    std::string strPfx = m_strDir + "user.pfx";
    EXPECT_EQ("Exportaci\xF3n correcta a '" + strPfx +
                  "'\nLa contrase\xF1" "a es la misma que la del EPF.",
              PressForMessage(IDC_INFO_EXPORT));
    EXPECT_EQ(std::vector<std::string>{"user-sign.der"}, Pkcs12KeyPairs(strPfx));

    // Both keys.
    DeleteFileA(strPfx.c_str());
    SendMessageA(Item(IDC_INFO_EXPORT_ALL), BM_CLICK, 0, 0);
    EXPECT_EQ("Exportaci\xF3n correcta a '" + strPfx +
                  "'\nLa contrase\xF1" "a es la misma que la del EPF.",
              PressForMessage(IDC_INFO_EXPORT));
    EXPECT_EQ((std::vector<std::string>{"user-sign.der", "user-enc.der"}), Pkcs12KeyPairs(strPfx));
}

TEST_F(SessionInfoDlgTest, AddressBookImportDeleteAndFailures)
{
    ASSERT_TRUE(AdoptProfile("user"));
    ASSERT_NE(nullptr, OpenDialog());
    ASSERT_TRUE(WaitForBookRows(0));

    // Imported in an order that is not the list's; the host's current folder
    // stays where it was.
    char szFolder[MAX_PATH] = {0};
    GetCurrentDirectoryA(MAX_PATH, szFolder);
    int nRows = 0;
    for (const char* pszFile : {"ab-ana.pem", "ab-eva.pem", "ab-jose.pem"}) {
        ASSERT_TRUE(Import(epftest::Fixture(pszFile))) << pszFile;
        ASSERT_TRUE(WaitForBookRows(++nRows)) << pszFile;
    }
    char szAfter[MAX_PATH] = {0};
    GetCurrentDirectoryA(MAX_PATH, szAfter);
    EXPECT_STREQ(szFolder, szAfter);
    std::vector<std::string> labels = Labels(IDC_INFO_BOOK_LIST);
    EXPECT_TRUE(IsDescending(labels)) << labels[0] << " | " << labels[1] << " | " << labels[2];
    int nAna = tvltest::ListFind(Item(IDC_INFO_BOOK_LIST), "PEREZ GOMEZ ANA");
    ASSERT_GE(nAna, 0);

    // Its properties, then the row goes.
    tvltest::ListSelect(Item(IDC_INFO_BOOK_LIST), nAna);
    tvltest::Click(Item(IDC_INFO_VIEW_BOOK));
    HWND hProperties = WaitForOther(kPropertiesCaption);
    ASSERT_NE(nullptr, hProperties);
    EXPECT_EQ("CN=NOMBRE PEREZ GOMEZ ANA - NIF 11111111H, OU=PERSONAL, O=ORMAVIA, C=ES",
              tvltest::ListText(GetDlgItem(hProperties, IDC_PROP_LIST), 0, 1));
    PostMessageA(hProperties, WM_COMMAND, IDOK, 0);
    ASSERT_TRUE(WaitFor([&] { return !IsWindow(hProperties); }));
    tvltest::ListSelect(Item(IDC_INFO_BOOK_LIST), nAna);
    tvltest::Click(Item(IDC_INFO_DELETE));
    ASSERT_TRUE(WaitForBookRows(2));
    EXPECT_EQ(-1, tvltest::ListFind(Item(IDC_INFO_BOOK_LIST), "PEREZ GOMEZ ANA"));
    EXPECT_FALSE(Enabled(IDC_INFO_DELETE));

    // A file that holds no certificate: the failure's description, and the
    // list as it was.
    std::string strJunk = m_strDir + "junk.key";
    tvltest::WriteAll(strJunk, "no es un certificado");
    tvltest::Click(Item(IDC_INFO_IMPORT));
    HWND hFiles = WaitForOther(kFileDialogCaption);
    ASSERT_NE(nullptr, hFiles);
    PostMessageA(hFiles, WM_COMMAND, IDCANCEL, 0);
    ASSERT_TRUE(WaitFor([&] { return !IsWindow(hFiles); }));
    ASSERT_TRUE(Import(strJunk));
    HWND hBox = WaitForOther(kCaption);
    ASSERT_NE(nullptr, hBox);
    EXPECT_NE(std::string::npos, tvltest::MessageBoxText(hBox).find("CPAB::ImportCertificate"))
        << tvltest::MessageBoxText(hBox);
    PostMessageA(hBox, WM_COMMAND, IDOK, 0);
    ASSERT_TRUE(WaitFor([&] { return !IsWindow(hBox); }));
    EXPECT_EQ(2, tvltest::ListCount(Item(IDC_INFO_BOOK_LIST)));
    EXPECT_TRUE(IsWindowVisible(m_hDialog));
}

// While a host operation holds the session the dialog still opens: it shows
// the user and the session's certificates, says so when asked to work on the
// session, and fills its address book once the operation is over.
TEST_F(SessionInfoDlgTest, BusySessionAnswersAndFillsInLater)
{
    ASSERT_TRUE(AdoptWincrypt("fam2"));
    std::unique_ptr<CTarvoselApp::COperationAttempt> pHostOperation(
        new CTarvoselApp::COperationAttempt(App()));
    ASSERT_TRUE(pHostOperation->Held());
    ASSERT_NE(nullptr, OpenDialog());
    EXPECT_EQ("MARIA FERNANDEZ RUIZ, 87654321X", Text(IDC_INFO_USER));
    EXPECT_EQ(1, tvltest::ListCount(Item(IDC_INFO_USER_LIST)));
    EXPECT_EQ(0, tvltest::ListCount(Item(IDC_INFO_BOOK_LIST)));
    EXPECT_EQ("La sesi\xF3n est\xE1 ocupada con otra operaci\xF3n. Int\xE9ntelo de nuevo cuando "
              "termine.",
              PressForMessage(IDC_INFO_EXPORT));
    EXPECT_FALSE(tvltest::Exists(m_strTemp + "MARIA FERNANDEZ RUIZ.pem"));
    pHostOperation.reset();
    EXPECT_TRUE(WaitForBookRows(2));
}

// Logging out while the properties dialog is open takes both dialogs away.
TEST_F(SessionInfoDlgTest, LogoutWhileThePropertiesAreOpen)
{
    ASSERT_TRUE(AdoptProfile("user"));
    ASSERT_NE(nullptr, OpenDialog());
    tvltest::ListSelect(Item(IDC_INFO_USER_LIST), 1);
    tvltest::Click(Item(IDC_INFO_VIEW_USER));
    HWND hProperties = WaitForOther(kPropertiesCaption);
    ASSERT_NE(nullptr, hProperties);
    EXPECT_EQ(0, ResultOf([&] { App().CloseSession(); }));
    EXPECT_TRUE(WaitFor([&] { return !IsWindow(hProperties) && !IsWindow(m_hDialog); }));
    EXPECT_TRUE(WaitFor([] { return CTarvoselWnd::GetEntryRecord().strTip == "No hay sesi\xF3n de usuario"; }));
    // The interface thread goes on: a new session, a new dialog.
    ASSERT_TRUE(AdoptProfile("single"));
    ASSERT_NE(nullptr, OpenDialog());
}

// Online: the line and the tip say so.
TEST_F(SessionInfoDlgTest, OnlineProfileSession)
{
    CDirectoryServer server;
    ASSERT_TRUE(server.IsRunning());
    ASSERT_TRUE(AdoptProfile("user"));
    {
        CSessionRef pSession = App().LendSession();
        EntCertificate issuer;
        static_cast<CEntrustSession*>(pSession.get())->GetEntFile()->GetIssuerVerificationCertificate(issuer);
        server.Publish(EntDirectory::LdapName(*issuer.X509()), epftest::FixtureBytes("issuer.crl"));
    }
    App().CloseSession();
    ASSERT_TRUE(AdoptProfile("user", server.Address()));
    EXPECT_TRUE(WaitFor([] { return CTarvoselWnd::GetEntryRecord().strTip == "GARCIA LOPEZ JUAN (online)"; }));
    ASSERT_NE(nullptr, OpenDialog());
    EXPECT_EQ("GARCIA LOPEZ JUAN, 12345678Z, (Online)", Text(IDC_INFO_USER));
}
