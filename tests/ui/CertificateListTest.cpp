// The certificate list and the properties dialog over certificates whose
// facts the test sets: grouping, labels, images, column texts, selection, and
// the dialog's rows and paging, read from the real controls.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <memory>
#include <vector>

#include "FakeCertificate.h"
#include "tests/support/LoginDriver.h"
#include "ui/CCertificateList.h"
#include "ui/CCertificatePropDlg.h"
#include "ui/CLoginSheet.h"

using namespace tvltest;

namespace {

const char kPolice[] = "CN=AC DNIE 001, OU=DNIE, O=DIRECCION GENERAL DE LA POLICIA, C=ES";
const char kOrmavia[] =
    "CN=Ormavia CA Subordinada Produccion G2, OU=Servicios de Certificacion, O=Ormavia, C=ES";

// A list control in a hidden window, with its certificates.
class CertificateListTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_hParent = CreateWindowA("STATIC", "", WS_POPUP, 0, 0, 600, 300, nullptr, nullptr, nullptr,
                                  nullptr);
        HWND hList =
            CreateWindowA(WC_LISTVIEWA, "", WS_CHILD | WS_VISIBLE | LVS_REPORT | LVS_SINGLESEL, 0,
                          0, 500, 200, m_hParent, nullptr, nullptr, nullptr);
        ASSERT_TRUE(m_List.SubclassWindow(hList));
        m_List.m_pCertificates = &m_certificates;
    }
    void TearDown() override
    {
        DestroyWindow(m_hParent);
        for (CCertificate* p : m_certificates)
            delete p;
    }

    CFakeCertificate* Add(const std::string& strName, const std::string& strIssuer, int nKeyUsage)
    {
        CFakeCertificate* p = new CFakeCertificate;
        p->strDisplayName = strName;
        p->strSubject = "CN=" + strName;
        p->strOwnerName = strName;
        p->strIssuer = strIssuer;
        p->nKeyUsage = nKeyUsage;
        m_certificates.push_back(p);
        return p;
    }
    CFakeCertificate* AddCard(const std::string& strOwner, const std::string& strId,
                              const std::string& strIssuer, int nKeyUsage)
    {
        CFakeCertificate* p = Add(strOwner, strIssuer, nKeyUsage);
        p->strOwnerId = strId;
        return p;
    }

    std::string Text(int nRow, int nCol) { return ListText(m_List.m_hWnd, nRow, nCol); }

    HWND m_hParent = nullptr;
    CCertificateList m_List;
    CCertificateArray m_certificates;
};

}  // namespace

TEST_F(CertificateListTest, ColumnsAndImages)
{
    Add("SIN SELECCIONAR", kOrmavia, 0x02);  // a row, so that "none selected" means something
    m_List.InitColumns();
    ASSERT_EQ(1, m_List.GetItemCount());
    const char* apszHeadings[] = {"Certificado", "Emisor", "Uso de clave", "V\xE1lido hasta"};
    RECT rc;
    GetClientRect(m_List.m_hWnd, &rc);
    const int anShare[] = {40, 20, 20, 20};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(apszHeadings[i], ListColumnHeading(m_List.m_hWnd, i));
        EXPECT_EQ(rc.right * anShare[i] / 100, m_List.GetColumnWidth(i)) << i;
    }
    EXPECT_EQ(static_cast<DWORD>(LVS_EX_FULLROWSELECT | LVS_EX_ONECLICKACTIVATE | LVS_EX_LABELTIP),
              m_List.GetExtendedStyle() & 0x4060);
    HIMAGELIST hImages =
        reinterpret_cast<HIMAGELIST>(SendMessageA(m_List.m_hWnd, LVM_GETIMAGELIST, LVSIL_SMALL, 0));
    ASSERT_NE(nullptr, hImages);
    EXPECT_EQ(3, ImageList_GetImageCount(hImages));
    int cx = 0, cy = 0;
    ImageList_GetIconSize(hImages, &cx, &cy);
    EXPECT_EQ(16, cx);
    EXPECT_EQ(16, cy);
    EXPECT_EQ(nullptr, m_List.GetSelectedGroup());
}

TEST_F(CertificateListTest, CardsGroupByOwnerAndIssuerSoftwareCertificatesStandAlone)
{
    // A DNIe: authentication then signing certificate of one owner.
    CFakeCertificate* pAuth = AddCard("JUAN ESPANOL", "00000000T", kPolice, 0x02);
    pAuth->tNotAfter = 1893456000;  // 01/01/2030
    AddCard("JUAN ESPANOL", "00000000T", kPolice, 0x20);
    // The same owner on a card of another issuer: a row of its own.
    AddCard("JUAN ESPANOL", "00000000T", "CN=AC DNIE 002, O=DIRECCION GENERAL DE LA POLICIA", 0x20);
    // Software certificates: both usages, digital signature alone; the rest hidden.
    Add("CON AMBOS USOS", kOrmavia, 0x22);
    Add("SOLO NO REPUDIO", kOrmavia, 0x20);
    Add("SIN USOS DE FIRMA", kOrmavia, 0x10);
    CFakeCertificate* pEku = Add("SOLO USO MEJORADO", "CN=Emisora, OU=Ultima", 0x02);
    pEku->strEnhancedKeyUsage = "Client Authentication";
    pEku->nKeyUsage = 0x02;
    // A "TEMD_CSP" card with an empty identity number, and another card of
    // another owner name but the same empty number and issuer: one row.
    CFakeCertificate* pMzor = AddCard("ANA TARJETA", "", "CN=Emisora de tarjetas", 0x01);
    pMzor->strProvider = "TEMD_CSP";
    CFakeCertificate* pOther = AddCard("OTRO TITULAR", "", "CN=Emisora de tarjetas", 0x40);
    pOther->strProvider = "temd_csp";
    m_List.InitColumns();

    struct Row {
        const char* pszLabel;
        int nImage;
        const char* pszIssuer;
        const char* pszUsage;
        const char* pszExpiry;
        size_t nCertificates;
    } rows[] = {
        {"JUAN ESPANOL (DNIe)", 1, "DNIE", "...", "01/01/2030", 2},
        {"JUAN ESPANOL (DNIe)", 1, "CN=AC DNIE 002, O=DIRECCION GENERAL DE LA POLICIA",
         "No repudio", "31/12/2046", 1},
        {"CON AMBOS USOS", 0, "Servicios de Certificacion", "Firma digital; No repudio",
         "31/12/2046", 1},
        {"SOLO USO MEJORADO", 0, "CN=Emisora, OU=Ultima", "Firma digital", "31/12/2046", 1},
        {"ANA TARJETA (MZOR)", 2, "CN=Emisora de tarjetas", "...", "31/12/2046", 2},
    };
    ASSERT_EQ(5, m_List.GetItemCount());
    ASSERT_EQ(5, m_List.GetGroupCount());
    for (int i = 0; i < 5; ++i) {
        const Row& r = rows[i];
        EXPECT_EQ(r.pszLabel, Text(i, 0)) << i;
        EXPECT_EQ(r.nImage, ListImage(m_List.m_hWnd, i)) << i;
        EXPECT_EQ(r.pszIssuer, Text(i, 1)) << i;
        EXPECT_EQ(r.pszUsage, Text(i, 2)) << i;
        EXPECT_EQ(r.pszExpiry, Text(i, 3)) << i;
        ListSelect(m_List.m_hWnd, i);
        CERTGROUP_INFO* pGroup = m_List.GetSelectedGroup();
        ASSERT_NE(nullptr, pGroup) << i;
        EXPECT_EQ(r.nCertificates, pGroup->lstCertificates.size()) << i;
    }
    CERTGROUP_INFO* pDnie = (ListSelect(m_List.m_hWnd, 0), m_List.GetSelectedGroup());
    EXPECT_EQ(1, pDnie->nCardType);
    EXPECT_EQ(0, pDnie->nSignatureUsage);
    EXPECT_EQ("00000000T", pDnie->strKey);
    EXPECT_EQ(pAuth, pDnie->lstCertificates[0]);
    CERTGROUP_INFO* pSoftware = (ListSelect(m_List.m_hWnd, 2), m_List.GetSelectedGroup());
    EXPECT_EQ(0, pSoftware->nCardType);
    EXPECT_EQ(0x22, pSoftware->nSignatureUsage);
    EXPECT_EQ("CON AMBOS USOS", pSoftware->strKey);
    CERTGROUP_INFO* pCard = (ListSelect(m_List.m_hWnd, 4), m_List.GetSelectedGroup());
    EXPECT_EQ(3, pCard->nCardType);

    // The owner changes its certificates: Refill shows the new ones only.
    for (CCertificate* p : m_certificates)
        delete p;
    m_certificates.clear();
    Add("NUEVO", kOrmavia, 0x02)->strEnhancedKeyUsage = "";
    m_List.Refill();
    ASSERT_EQ(1, m_List.GetItemCount());
    EXPECT_EQ("NUEVO", Text(0, 0));
    EXPECT_EQ(nullptr, m_List.GetSelectedGroup()) << "the old selection is gone with its rows";
}

TEST_F(CertificateListTest, KeyUsageColumnFallsBackToEnhancedUsageAndDatesOutOfRangeAreEmpty)
{
    CFakeCertificate* p = AddCard("SIN USO DE CLAVE", "1", kPolice, 0);
    p->strEnhancedKeyUsage = "Client Authentication;Smart Card Logon";
    p->tNotAfter = 0x7FFFFFFFFFFFLL;  // far beyond what a date can show
    m_List.InitColumns();
    ASSERT_EQ(1, m_List.GetItemCount());
    EXPECT_EQ("Client Authentication;Smart Card Logon", Text(0, 2));
    EXPECT_EQ("", Text(0, 3));
}

TEST(CertificateIssuerColumn, OrganisationalUnitWhenAComponentFollows)
{
    struct Case {
        const char* pszIssuer;
        const char* pszShown;
    } cases[] = {
        {"CN=A, OU=Unidad, O=Org, C=ES", "Unidad"},
        {"CN=A, OU=Ultima", "CN=A, OU=Ultima"},
        {"CN=A, O=Org", "CN=A, O=Org"},
        {"OU=,", ""},
        {"", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.pszShown, CCertificateList::IssuerColumnText(c.pszIssuer)) << c.pszIssuer;
}

namespace {
const char kPropertiesCaption[] = "Propiedades del certificado";

struct PropertiesView {
    std::vector<std::string> names, values;
    std::vector<int> images;
    std::string strCounter;
    BOOL bPrevious = -1, bNext = -1;
};

PropertiesView ReadProperties(HWND hDlg)
{
    PropertiesView v;
    HWND hList = GetDlgItem(hDlg, IDC_PROP_LIST);
    for (int i = 0; i < ListCount(hList); ++i) {
        v.names.push_back(ListText(hList, i, 0));
        v.values.push_back(ListText(hList, i, 1));
        v.images.push_back(ListImage(hList, i));
    }
    v.strCounter = TextOf(GetDlgItem(hDlg, IDC_PROP_COUNTER));
    v.bPrevious = IsWindowEnabled(GetDlgItem(hDlg, IDC_PROP_PREVIOUS));
    v.bNext = IsWindowEnabled(GetDlgItem(hDlg, IDC_PROP_NEXT));
    return v;
}
}  // namespace

TEST(CertificatePropDlg, ShowsEachCertificateOfTheRowWithPaging)
{
    CFakeCertificate first, second, third;
    first.strSubject = "CN=PRIMERO";
    first.nKeyUsage = 0x22;
    first.strEnhancedKeyUsage = "Client Authentication";
    first.strSerial = "54560000000101";
    first.strIssuer = kOrmavia;
    first.strThumbprint = "F7:E4";
    first.tNotBefore = 1704067200 + 9 * 3600 + 5 * 60;  // 01/01/2024 09:05
    second.strSubject = "CN=SEGUNDO";                   // no key usage, no enhanced usage
    third.strSubject = "CN=TERCERO";
    third.nKeyUsage = 0x20;
    CERTGROUP_INFO group;
    group.lstCertificates = {&first, &second, &third};
    CCertificatePropDlg dialog;
    dialog.m_pGroup = &group;
    DWORD dwThread = GetCurrentThreadId();
    std::vector<PropertiesView> views;
    std::string strColumns;
    CDriver driver(
        [&] {
            HWND hDlg = WaitForDialog(dwThread, kPropertiesCaption);
            ASSERT_NE(nullptr, hDlg);
            HWND hList = GetDlgItem(hDlg, IDC_PROP_LIST);
            strColumns = ListColumnHeading(hList, 0) + "|" + ListColumnHeading(hList, 1);
            views.push_back(ReadProperties(hDlg));
            for (int i = 0; i < 2; ++i) {
                SendMessageA(GetDlgItem(hDlg, IDC_PROP_NEXT), BM_CLICK, 0, 0);
                views.push_back(ReadProperties(hDlg));
            }
            SendMessageA(GetDlgItem(hDlg, IDC_PROP_PREVIOUS), BM_CLICK, 0, 0);
            views.push_back(ReadProperties(hDlg));
            Click(GetDlgItem(hDlg, IDOK));
        },
        dwThread);
    EXPECT_EQ(IDOK, dialog.DoModal());
    driver.Join();
    EXPECT_EQ("Propiedad|Valor", strColumns);
    ASSERT_EQ(4u, views.size());

    const PropertiesView& v1 = views[0];
    std::vector<std::string> names = {"Asunto",
                                      "Uso de clave",
                                      "Uso mejorado de clave",
                                      "N\xFAmero de serie",
                                      "V\xE1lido desde",
                                      "V\xE1lido hasta",
                                      "Versi\xF3n",
                                      "Huella SHA1",
                                      "Emisor"};
    std::vector<std::string> values = {"CN=PRIMERO",
                                       "Firma digital; No repudio",
                                       "Client Authentication",
                                       "54560000000101",
                                       "01/01/2024, a las 09:05",
                                       "31/12/2046, a las 23:59",
                                       "V3",
                                       "F7:E4",
                                       kOrmavia};
    EXPECT_EQ(names, v1.names);
    EXPECT_EQ(values, v1.values);
    EXPECT_EQ(std::vector<int>(9, 0), v1.images);
    EXPECT_EQ("1/3", v1.strCounter);
    EXPECT_FALSE(v1.bPrevious);
    EXPECT_TRUE(v1.bNext);

    // Without key-usage texts: seven rows.
    const PropertiesView& v2 = views[1];
    ASSERT_EQ(7u, v2.names.size());
    EXPECT_EQ("Asunto", v2.names[0]);
    EXPECT_EQ("N\xFAmero de serie", v2.names[1]);
    EXPECT_EQ("CN=SEGUNDO", v2.values[0]);
    EXPECT_EQ("2/3", v2.strCounter);
    EXPECT_TRUE(v2.bPrevious);
    EXPECT_TRUE(v2.bNext);

    const PropertiesView& v3 = views[2];
    EXPECT_EQ("CN=TERCERO", v3.values[0]);
    EXPECT_EQ("No repudio", v3.values[1]);
    EXPECT_EQ("3/3", v3.strCounter);
    EXPECT_TRUE(v3.bPrevious);
    EXPECT_FALSE(v3.bNext);

    EXPECT_EQ("CN=SEGUNDO", views[3].values[0]);
    EXPECT_EQ("2/3", views[3].strCounter);
}

TEST(CertificatePropDlg, OneCertificateRowDisablesBothArrows)
{
    CFakeCertificate only;
    only.strSubject = "CN=UNICO";
    only.nKeyUsage = 0x02;
    CERTGROUP_INFO group;
    group.lstCertificates = {&only};
    CCertificatePropDlg dialog;
    dialog.m_pGroup = &group;
    DWORD dwThread = GetCurrentThreadId();
    PropertiesView view;
    CDriver driver(
        [&] {
            HWND hDlg = WaitForDialog(dwThread, kPropertiesCaption);
            ASSERT_NE(nullptr, hDlg);
            view = ReadProperties(hDlg);
            PressKey(GetDlgItem(hDlg, IDC_PROP_LIST), VK_ESCAPE);
        },
        dwThread);
    EXPECT_EQ(IDCANCEL, dialog.DoModal());
    driver.Join();
    EXPECT_EQ("1/1", view.strCounter);
    EXPECT_FALSE(view.bPrevious);
    EXPECT_FALSE(view.bNext);
    EXPECT_EQ(8u, view.names.size());
}

namespace {
// The bitmap's pixels as the screen's device context reads them.
struct Pixels {
    explicit Pixels(HBITMAP hBitmap) : m_hBitmap(hBitmap)
    {
        BITMAP bm = {};
        GetObjectA(hBitmap, sizeof(bm), &bm);
        cx = bm.bmWidth;
        cy = bm.bmHeight;
        m_hScreen = GetDC(nullptr);
        m_hDC = CreateCompatibleDC(m_hScreen);
        m_hOld = SelectObject(m_hDC, hBitmap);
    }
    ~Pixels()
    {
        SelectObject(m_hDC, m_hOld);
        DeleteDC(m_hDC);
        ReleaseDC(nullptr, m_hScreen);
    }
    COLORREF At(int x, int y) const { return GetPixel(m_hDC, x, y); }
    int cx = 0, cy = 0;

private:
    HBITMAP m_hBitmap;
    HDC m_hScreen, m_hDC;
    HGDIOBJ m_hOld;
};

HBITMAP LoadResourceBitmap(UINT nId)
{
    return static_cast<HBITMAP>(
        LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(nId), IMAGE_BITMAP, 0, 0, 0));
}
}  // namespace

TEST(LoginSheetBitmaps, ScaledBannerKeepsThePictureAndFillsEveryMarginColumn)
{
    HBITMAP hSource = LoadResourceBitmap(IDB_LOGIN_BANNER);
    ASSERT_NE(nullptr, hSource);
    Pixels source(hSource);
    ASSERT_EQ(450, source.cx);
    ASSERT_EQ(64, source.cy);
    // Wider by an odd amount: margins of 2 and 3 columns.
    HBITMAP hWide = CLoginSheet::ScaleBitmap(IDB_LOGIN_BANNER, 455, -1, false);
    ASSERT_NE(nullptr, hWide);
    {
        Pixels wide(hWide);
        EXPECT_EQ(455, wide.cx);
        EXPECT_EQ(64, wide.cy);
        COLORREF left = source.At(0, 0), right = source.At(449, 0);
        for (int y : {0, 31, 63}) {
            EXPECT_EQ(left, wide.At(0, y)) << y;
            EXPECT_EQ(left, wide.At(1, y)) << y;
            for (int x : {0, 100, 420, 449})
                EXPECT_EQ(source.At(x, y), wide.At(x + 2, y)) << x << "," << y;
            for (int x = 452; x < 455; ++x)
                EXPECT_EQ(right, wide.At(x, y)) << "column " << x << " left unpainted";
        }
    }
    DeleteObject(hWide);

    // Natural size, and the separator stretched over a wider line.
    HBITMAP hNatural = CLoginSheet::ScaleBitmap(IDB_LOGIN_BANNER, -1, -1, false);
    ASSERT_NE(nullptr, hNatural);
    EXPECT_EQ(450, Pixels(hNatural).cx);
    DeleteObject(hNatural);
    HBITMAP hLineSource = LoadResourceBitmap(IDB_LOGIN_SEPARATOR);
    HBITMAP hLine = CLoginSheet::ScaleBitmap(IDB_LOGIN_SEPARATOR, 900, -1, true);
    ASSERT_NE(nullptr, hLine);
    {
        Pixels line(hLine), lineSource(hLineSource);
        EXPECT_EQ(900, line.cx);
        EXPECT_EQ(3, line.cy);
        for (int y = 0; y < 3; ++y) {
            EXPECT_EQ(lineSource.At(0, y), line.At(0, y));
            EXPECT_EQ(lineSource.At(449, y), line.At(899, y));
        }
        EXPECT_NE(line.At(0, 0), line.At(0, 2)) << "a line of three colours";
    }
    DeleteObject(hLine);
    DeleteObject(hLineSource);
    DeleteObject(hSource);
    EXPECT_EQ(nullptr, CLoginSheet::ScaleBitmap(4242, 10, 10, false));
}
