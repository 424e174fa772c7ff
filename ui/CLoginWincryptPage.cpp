#include "ui/CLoginWincryptPage.h"

#include "api/CLog.h"
#include "api/CTarvoselException.h"
#include "cert/CCertificate.h"
#include "cert/wincrypt/CAPIWincrypt.h"
#include "cert/wincrypt/CWincryptCertStore.h"
#include "platform/framework/CWaitCursor.h"
#include "ui/CCertificatePropDlg.h"
#include "ui/CLoginSheet.h"
#include "ui/CWorkerThread.h"

CLoginWincryptPage::CLoginWincryptPage() : CPropertyPage(IDD_LOGIN_WINCRYPT) {}

CLoginWincryptPage::~CLoginWincryptPage()
{
    m_List.m_pCertificates = nullptr;
    DeleteCertificates();
}

void CLoginWincryptPage::DeleteCertificates()
{
    for (CCertificate* p : m_Certificates)
        delete p;
    m_Certificates.clear();
}

CLoginSheet* CLoginWincryptPage::GetLoginSheet() const
{
    return dynamic_cast<CLoginSheet*>(GetSheet());
}

void CLoginWincryptPage::DoDataExchange(CDataExchange* pDX)
{
    DDX_Control(pDX, IDC_CERT_LIST, m_List);
}

BOOL CLoginWincryptPage::OnInitDialog()
{
    CPropertyPage::OnInitDialog();
    m_List.m_pCertificates = &m_Certificates;
    m_List.InitColumns();
    PostMessage(WM_REFRESH);
    return TRUE;
}

BOOL CLoginWincryptPage::OnSetActive()
{
    if (CLoginSheet* pSheet = GetLoginSheet())
        pSheet->UpdateButtons();
    return CPropertyPage::OnSetActive();
}

void CLoginWincryptPage::EnableControls(bool bIdle, bool bSelected)
{
    if (m_hWnd == nullptr)
        return;
    ::EnableWindow(GetDlgItem(IDC_VIEW), bIdle && bSelected);
    ::EnableWindow(GetDlgItem(IDC_REFRESH), bIdle);
    EnableWindow(bIdle);
}

LRESULT CLoginWincryptPage::OnRefreshMessage(UINT, WPARAM, LPARAM, BOOL&)
{
    Refresh();
    return 0;
}

LRESULT CLoginWincryptPage::OnRefreshButton(WORD, WORD, HWND, BOOL&)
{
    PostMessage(WM_REFRESH);
    return 0;
}

LRESULT CLoginWincryptPage::OnView(WORD, WORD, HWND, BOOL&)
{
    CERTGROUP_INFO* pGroup = m_List.GetSelectedGroup();
    if (pGroup == nullptr)
        return 0;
    CCertificatePropDlg dialog;
    dialog.m_pGroup = pGroup;
    dialog.DoModal(GetParent());
    if (CLoginSheet* pSheet = GetLoginSheet())
        pSheet->UpdateButtons();
    return 0;
}

LRESULT CLoginWincryptPage::OnItemChanged(int, LPNMHDR, BOOL&)
{
    if (CLoginSheet* pSheet = GetLoginSheet())
        pSheet->UpdateButtons();
    return 0;
}

void CLoginWincryptPage::Refresh()
{
    CLoginSheet* pSheet = GetLoginSheet();
    // The certificates must not change under an attempt or another refresh.
    if (pSheet != nullptr && pSheet->m_bBusy) {
        pSheet->DeferRefresh();
        return;
    }
    CWaitCursor wait;
    LogInfo("Actualizando...");
    m_List.DeleteAllItems();
    DeleteCertificates();
    m_List.Refill();
    if (pSheet != nullptr)
        pSheet->SetBusy(TRUE);
    // Key providers' own dialogs belong to the page while it lists. The
    // platform may refuse the parameter without a provider: nothing depends on it.
    HWND hWnd = m_hWnd;
    CAPIWincrypt::CryptSetProvParam(0, PP_CLIENT_HWND, reinterpret_cast<const BYTE*>(&hWnd), 0);

    CWincryptCertStore store;
    CTarvoselException* pError =
        CWorkerThread::Run([&] { store.Open(0, "My"); }, "CLoginWincryptPage::Refresh");
    try {
        if (pError != nullptr) {
            LogInfo("%s", pError->GetDescription().c_str());
            delete pError;
        } else {
            store.GetCertificates(m_Certificates);
        }
        m_List.Refill();
    } catch (CTarvoselException* e) {
        LogInfo("%s", e->GetDescription().c_str());
        delete e;
    }
    if (pSheet != nullptr)
        pSheet->SetBusy(FALSE);
}
