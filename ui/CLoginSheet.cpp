#include "ui/CLoginSheet.h"

#include <commctrl.h>

#include <new>

#include "api/CLog.h"
#include "api/CTarvoselException.h"
#include "api/ResultCodes.h"
#include "cert/wincrypt/CWincryptCertificate.h"
#include "cert/wincrypt/CWincryptSession.h"
#include "cert/wincrypt/WincryptRecords.h"
#include "platform/framework/CDC.h"
#include "platform/framework/CWaitCursor.h"
#include "platform/framework/CWinApp.h"
#include "res/resource.h"
#include "smartcard/CCardManager.h"
#include "ui/CLoginWincryptPage.h"
#include "ui/CWorkerThread.h"

namespace {
const char kSheetCaption[] = "Selecci\xF3n de certificado";
const char kBannerText[] =
    "Seleccione el certificado digital que se utilizar\xE1 para la autenticaci\xF3n del usuario y "
    "la firma de los datos. Se pueden emplear tanto certificados KERVAL emitidos por la Ormavia, "
    "como otros certificados reconocidos (DNI electr\xF3nico, certificados FNMT de clase 2, etc.)";

// What the button's dialog code and style say: a push button of some kind.
bool IsPushButton(HWND hCtl)
{
    UINT nCode = static_cast<UINT>(::SendMessageA(hCtl, WM_GETDLGCODE, 0, 0));
    if (nCode & (DLGC_DEFPUSHBUTTON | DLGC_UNDEFPUSHBUTTON))
        return true;
    if (!(nCode & DLGC_BUTTON))
        return false;
    UINT nStyle = static_cast<UINT>(::GetWindowLongA(hCtl, GWL_STYLE)) & BS_TYPEMASK;
    return nStyle == BS_USERBUTTON || nStyle == BS_OWNERDRAW;
}

int BitmapHeight(HBITMAP hBitmap)
{
    BITMAP bm = {};
    if (hBitmap == nullptr || !::GetObjectA(hBitmap, sizeof(bm), &bm))
        return 0;
    return bm.bmHeight;
}

// Clipped by the siblings above it: the explanation lies over the banner.
HWND CreatePicture(HWND hParent, HBITMAP hBitmap, int y)
{
    HWND hWnd = ::CreateWindowExA(
        0, "STATIC", nullptr, WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | SS_BITMAP, 0, y, 0, 0,
        hParent, reinterpret_cast<HMENU>(IDC_STATIC), CWinApp::GetInstanceHandle(), nullptr);
    if (hWnd != nullptr)
        ::SendMessageA(hWnd, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(hBitmap));
    return hWnd;
}
}  // namespace

CLoginSheet::CLoginSheet(const char* pszCaption)
    : CPropertySheet(pszCaption != nullptr ? pszCaption : kSheetCaption)
{
}

CLoginSheet::~CLoginSheet()
{
    // A session the owner did not take, or an error it did not throw.
    delete m_pSession;
    delete m_pLoginError;
}

HBITMAP CLoginSheet::ScaleBitmap(UINT nId, int nWidth, int nHeight, bool bStretch)
{
    CBitmap source(static_cast<HBITMAP>(
        ::LoadImageA(CWinApp::GetInstanceHandle(), MAKEINTRESOURCEA(nId), IMAGE_BITMAP, 0, 0, 0)));
    if (!source)
        return nullptr;
    BITMAP bm = {};
    ::GetObjectA(source, sizeof(bm), &bm);
    if (nWidth < 0)
        nWidth = bm.bmWidth;
    if (nHeight < 0)
        nHeight = bm.bmHeight;
    CClientDC screen(nullptr);
    CBitmap result(::CreateCompatibleBitmap(screen, nWidth, nHeight));
    if (!result)
        return nullptr;
    CMemoryDC sourceDC(screen), resultDC(screen);
    {
        CSelectObject keepSource(sourceDC, source);
        CSelectObject keepResult(resultDC, result);
        if (bStretch) {
            ::SetStretchBltMode(resultDC, COLORONCOLOR);
            ::StretchBlt(resultDC, 0, 0, nWidth, nHeight, sourceDC, 0, 0, bm.bmWidth, bm.bmHeight,
                         SRCCOPY);
        } else {
            int nMargin = (nWidth - bm.bmWidth) / 2;
            ::BitBlt(resultDC, nMargin, (nHeight - bm.bmHeight) / 2, bm.bmWidth, bm.bmHeight,
                     sourceDC, 0, 0, SRCCOPY);
            if (nMargin > 0) {
                // Every column beside the picture takes the colour of its edge:
                // an odd difference leaves one more column on the right.
                CBrush left(::CreateSolidBrush(::GetPixel(sourceDC, 0, 0)));
                CBrush right(::CreateSolidBrush(::GetPixel(sourceDC, bm.bmWidth - 1, 0)));
                RECT rcLeft = {0, 0, nMargin, nHeight};
                RECT rcRight = {nMargin + bm.bmWidth, 0, nWidth, nHeight};
                ::FillRect(resultDC, &rcLeft, left);
                ::FillRect(resultDC, &rcRight, right);
            }
        }
    }
    return result.Detach();
}

BOOL CLoginSheet::OnInitDialog()
{
    BOOL bResult = CPropertySheet::OnInitDialog();
    RECT rc = {};
    GetWindowRect(&rc);
    int nWidth = rc.right - rc.left;
    int nHeight = rc.bottom - rc.top;

    m_Banner.Attach(ScaleBitmap(IDB_LOGIN_BANNER, nWidth, -1, false));
    int nBannerHeight = BitmapHeight(m_Banner);
    if (m_Banner) {
        m_hWndBanner = CreatePicture(m_hWnd, m_Banner, 0);
        m_BannerBrush.Attach(::CreatePatternBrush(m_Banner));
    }
    // The text wraps inside the part of the banner that the frame leaves visible.
    RECT rcClient = {};
    GetClientRect(&rcClient);
    m_hWndBannerText = ::CreateWindowExA(
        0, "STATIC", kBannerText, WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX, 0, 0,
        rcClient.right, nBannerHeight, m_hWnd, reinterpret_cast<HMENU>(IDC_STATIC),
        CWinApp::GetInstanceHandle(), nullptr);
    if (m_hWndBannerText != nullptr) {
        ::SendMessageA(m_hWndBannerText, WM_SETFONT, reinterpret_cast<WPARAM>(GetFont()), FALSE);
        ::SetWindowPos(m_hWndBannerText, HWND_TOP, 0, 0, 0, 0,
                       SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    }
    m_Separator.Attach(ScaleBitmap(IDB_LOGIN_SEPARATOR, nWidth, -1, true));
    int nSeparatorHeight = BitmapHeight(m_Separator);
    if (m_Separator)
        m_hWndSeparator = CreatePicture(m_hWnd, m_Separator, nBannerHeight);

    int nOffset = nBannerHeight + nSeparatorHeight;
    SetWindowPos(nullptr, 0, 0, nWidth, nHeight + nOffset,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    OffsetChild(GetTabControl(), 0, nOffset);
    for (int i = 0; i < GetPageCount(); ++i)
        OffsetChild(GetPage(i)->m_hWnd, 0, nOffset);
    OffsetChild(GetDlgItem(IDOK), 0, nOffset);
    OffsetChild(GetDlgItem(IDCANCEL), 0, nOffset);

    CenterWindow();
    m_pCertificatePage = dynamic_cast<CLoginWincryptPage*>(GetPage(0));
    ModifyStyle(WS_SYSMENU, 0, SWP_NOACTIVATE);
    // The platform's own button texts follow the system's language.
    SetDlgItemText(IDOK, "Aceptar");
    SetDlgItemText(IDCANCEL, "Cancelar");
    UpdateButtons();
    return bResult;
}

void CLoginSheet::UpdateButtons()
{
    if (m_hWnd == nullptr)
        return;
    m_nActivePage = GetActiveIndex();
    bool bIdle = !m_bBusy;
    bool bSelected = m_pCertificatePage != nullptr &&
                     m_pCertificatePage->m_List.m_hWnd != nullptr &&
                     m_pCertificatePage->m_List.GetSelectedCount() > 0;
    ::EnableWindow(GetDlgItem(IDOK), bIdle && bSelected);
    ::EnableWindow(GetDlgItem(IDCANCEL), bIdle);
    ::EnableWindow(GetTabControl(), bIdle);
    if (m_pCertificatePage != nullptr)
        m_pCertificatePage->EnableControls(bIdle, bSelected);
}

void CLoginSheet::SetBusy(int bBusy)
{
    m_bBusy = bBusy;
    UpdateButtons();
    if (!bBusy && m_bRefreshPending && m_pCertificatePage != nullptr &&
        m_pCertificatePage->m_hWnd != nullptr) {
        m_bRefreshPending = false;
        m_pCertificatePage->PostMessage(WM_REFRESH);
    }
}

LRESULT CLoginSheet::OnCommand(UINT, WPARAM wParam, LPARAM lParam, BOOL& bHandled)
{
    bHandled = FALSE;
    HWND hCtl = reinterpret_cast<HWND>(lParam);
    if (HIWORD(wParam) != BN_CLICKED || hCtl == nullptr || !IsPushButton(hCtl))
        return 0;
    // Nothing may start or end while an attempt or a refresh runs.
    if (m_bBusy) {
        bHandled = TRUE;
        return 0;
    }
    int nId = LOWORD(wParam);
    if (nId != IDOK) {
        SetModalResult(nId);
        return 0;
    }
    if (!DoLogin()) {
        bHandled = TRUE;
        return 0;
    }
    SetModalResult(IDOK);
    if (m_pLoginError != nullptr) {
        int nCode = m_pLoginError->GetResultCode();
        if (nCode == ERR_WRONG_PASSWORD)
            MessageBox(ResultCodeMessage(ERR_WRONG_PASSWORD), kSheetCaption, MB_OK | MB_ICONSTOP);
        if (nCode == ERR_WRONG_PASSWORD || nCode == ERR_CANCELLED) {
            LogInfo("%s", m_pLoginError->GetDescription().c_str());
            delete m_pLoginError;
            m_pLoginError = nullptr;
            SetModalResult(IDCANCEL);
            bHandled = TRUE;
            return 0;
        }
    }
    return 0;
}

bool CLoginSheet::DoLogin()
{
    CERTGROUP_INFO* pGroup =
        m_pCertificatePage != nullptr ? m_pCertificatePage->m_List.GetSelectedGroup() : nullptr;
    if (pGroup == nullptr || pGroup->lstCertificates.empty())
        return false;

    delete m_pSession;
    m_pSession = nullptr;
    delete m_pLoginError;
    m_pLoginError = nullptr;
    m_nLoginResult = 0;

    CS_CERTCHOICE choice;
    try {
        auto copyOf = [](CCertificate* p) {
            CWincryptCertificate* pSource = dynamic_cast<CWincryptCertificate*>(p);
            if (pSource == nullptr)
                throw new CTarvoselException(EXC_OWN, ERR_USER_CERTIFICATES,
                                             "CLoginSheet::DoLogin");
            return new CWincryptCertificate(*pSource);
        };
        if (pGroup->nCardType >= 1 ||
            pGroup->nSignatureUsage == (KU_DIGITAL_SIGNATURE | KU_NON_REPUDIATION)) {
            char szCardName[256] = {0}, szProvider[256] = {0};
            choice.nReader = CCardManager::FindCardReader(szCardName, szProvider);
            choice.strCardName = szCardName;
            for (CCertificate* p : pGroup->lstCertificates) {
                choice.lstCertificates.push_back(nullptr);
                CWincryptCertificate* pCopy = copyOf(p);
                choice.lstCertificates.back() = pCopy;
                int nUsage = pCopy->GetKeyUsage();
                if (nUsage & KU_NON_REPUDIATION)
                    choice.pSignCertificate = pCopy;
                if (nUsage & (KU_DIGITAL_SIGNATURE | KU_KEY_CERT_SIGN)) {
                    choice.pAuthCertificate = pCopy;
                    if (choice.pSignCertificate == nullptr)
                        choice.pSignCertificate = pCopy;
                }
            }
        } else {
            choice.nReader = -1;
            choice.lstCertificates.push_back(nullptr);
            CWincryptCertificate* pCopy = copyOf(pGroup->lstCertificates.front());
            choice.lstCertificates.back() = pCopy;
            choice.pAuthCertificate = pCopy;
            choice.pSignCertificate = pCopy;
        }
        m_pSession = m_fnNewSession ? m_fnNewSession() : new CWincryptSession;
    } catch (CTarvoselException* e) {
        m_pLoginError = e;
    } catch (const std::bad_alloc&) {
        m_pLoginError =
            new (std::nothrow) CTarvoselException(EXC_OWN, ERR_NO_MEMORY, "CLoginSheet::DoLogin");
    }

    if (m_pSession != nullptr) {
        SetBusy(TRUE);
        CS_CAPILOGIN login;
        login.pChoice = &choice;
        login.pfnCallback = nullptr;
        RunOpen(&login);
    }
    // What the session did not take over.
    for (CWincryptCertificate* p : choice.lstCertificates)
        delete p;
    if (m_pLoginError != nullptr) {
        delete m_pSession;
        m_pSession = nullptr;
    }
    SetBusy(FALSE);
    return true;
}

void CLoginSheet::RunOpen(void* pRequest)
{
    CSession* pSession = m_pSession;
    int nResult = 0;
    CTarvoselException* pError =
        CWorkerThread::Run([&] { nResult = pSession->Open(pRequest); }, "CLoginSheet::DoLogin");
    m_nLoginResult = nResult;
    m_pLoginError = pError;
}

LRESULT CLoginSheet::OnSetCursor(UINT, WPARAM, LPARAM, BOOL& bHandled)
{
    if (!m_bBusy) {
        bHandled = FALSE;
        return 0;
    }
    ::SetCursor(::LoadCursorA(nullptr, IDC_WAIT));
    return TRUE;
}

LRESULT CLoginSheet::OnContextMenu(UINT, WPARAM, LPARAM, BOOL&)
{
    return 0;
}

LRESULT CLoginSheet::OnCtlColorStatic(UINT, WPARAM wParam, LPARAM lParam, BOOL& bHandled)
{
    // The explanation lies over the banner: it shows the banner behind its text.
    if (reinterpret_cast<HWND>(lParam) != m_hWndBannerText || !m_BannerBrush) {
        bHandled = FALSE;
        return 0;
    }
    HDC hDC = reinterpret_cast<HDC>(wParam);
    ::SetBkMode(hDC, TRANSPARENT);
    ::SetTextColor(hDC, RGB(0, 0, 0));
    ::SetBrushOrgEx(hDC, 0, 0, nullptr);
    return reinterpret_cast<LRESULT>(m_BannerBrush.Get());
}

LRESULT CLoginSheet::OnClose(UINT, WPARAM, LPARAM, BOOL& bHandled)
{
    // Closing while an attempt runs would leave its session to nobody.
    bHandled = m_bBusy ? TRUE : FALSE;
    return 0;
}

LRESULT CLoginSheet::OnDestroy(UINT, WPARAM, LPARAM, BOOL&)
{
    LRESULT lResult = DefWindowProc();
    m_hWndBanner = m_hWndBannerText = m_hWndSeparator = nullptr;
    m_BannerBrush.DeleteObject();
    m_Banner.DeleteObject();
    m_Separator.DeleteObject();
    return lResult;
}
