#include "ui/CSessionInfoDlg.h"

#include <commdlg.h>
#include <stdlib.h>

#include "api/CTarvoselException.h"
#include "api/ResultCodes.h"
#include "cert/CCertStore.h"
#include "cert/CCertificateCopy.h"
#include "cert/CSession.h"
#include "cert/entrust/EntrustRecords.h"
#include "host/CHostSettings.h"
#include "platform/framework/CFileDialog.h"
#include "ui/CCertificatePropDlg.h"

namespace {
const char kCaption[] = "Informaci\xF3n del usuario";
const char kBusyText[] =
    "La sesi\xF3n est\xE1 ocupada con otra operaci\xF3n. Int\xE9ntelo de nuevo cuando termine.";
// Any non-empty password makes a profile session protect its PKCS#12 file with
// the profile's own password.
const char kProfilePassword[] = "*";
const UINT_PTR kRetryTimer = 1;
const UINT kRetryMs = 500;

// Drive, folder and name without extension of a path.
void SplitPath(const std::string& strPath, std::string& strDrive, std::string& strFolder,
               std::string& strName)
{
    char szDrive[_MAX_DRIVE] = {0}, szFolder[_MAX_DIR] = {0}, szName[_MAX_FNAME] = {0},
         szExt[_MAX_EXT] = {0};
    _splitpath(strPath.c_str(), szDrive, szFolder, szName, szExt);
    strDrive = szDrive;
    strFolder = szFolder;
    strName = szName;
}
}  // namespace

CSessionInfoDlg::CSessionInfoDlg(ISessionLender& lender, const CHostSettings& settings)
    : CDialog(IDD_SESSION_INFO), m_lender(lender), m_settings(settings)
{
}

CSessionInfoDlg::~CSessionInfoDlg()
{
    if (m_hWnd != nullptr && ::IsWindow(m_hWnd))
        DestroyWindow();
    DeleteCertificates(m_UserCertificates);
    DeleteCertificates(m_AddressCertificates);
}

void CSessionInfoDlg::DeleteCertificates(CCertificateArray& lstCertificates)
{
    for (CCertificate* p : lstCertificates)
        delete p;
    lstCertificates.clear();
}

int CSessionInfoDlg::ExportSelection(int nChoice)
{
    static const int anSelection[] = {0, 3, 1, 2};
    return nChoice >= 0 && nChoice < 4 ? anSelection[nChoice] : 0;
}

void CSessionInfoDlg::DoDataExchange(CDataExchange* pDX)
{
    DDX_Control(pDX, IDC_INFO_USER_LIST, m_UserList);
    DDX_Control(pDX, IDC_INFO_BOOK_LIST, m_AddressList);
    DDX_Text(pDX, IDC_INFO_USER, m_strUserLine);
    DDX_Radio(pDX, IDC_INFO_EXPORT_PUBLIC, m_nExportChoice);
}

BOOL CSessionInfoDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    CS_SESSIONINFO info;
    if (m_pSession)
        m_pSession->GetSessionData(&info);
    std::string strSuffix;
    if (info.nType == SESSION_KIND_ENTRUST) {
        const CS_EPFPROFILE* pProfile = info.Details<CS_EPFPROFILE>();
        strSuffix = pProfile != nullptr && pProfile->bOnline ? ", (Online)" : ", (Offline)";
    }
    m_strUserLine = info.strName + ", " + info.strNIF + strSuffix;
    UpdateData(FALSE);

    // Copies: the host may close or reopen the session while the dialog is open.
    if (m_pSession)
        m_pSession->CopyCertificates(m_UserCertificates);
    // A profile's certificates carry no signature usage of the login's kind:
    // the lists show every certificate they are given.
    m_UserList.m_bEveryCertificate = true;
    m_AddressList.m_bEveryCertificate = true;
    m_UserList.m_pCertificates = &m_UserCertificates;
    m_UserList.InitColumns();
    m_AddressList.m_pCertificates = &m_AddressCertificates;
    m_AddressList.InitColumns();
    RefreshAddressBook();

    m_nExportChoice = 0;
    int bAllowExport = m_settings.GetIniInt("AllowExport", 0);
    BOOL bPrivate = info.nType == SESSION_KIND_ENTRUST && bAllowExport != 0;
    for (int nId : {IDC_INFO_EXPORT_ALL, IDC_INFO_EXPORT_ENCRYPTION, IDC_INFO_EXPORT_SIGNING})
        ::EnableWindow(GetDlgItem(nId), bPrivate);
    if (info.nType == SESSION_KIND_CAPI)
        SetDlgItemText(IDC_INFO_EXPORT_PUBLIC, "Exportar clave p\xFA" "blica (.pem)");
    UpdateData(FALSE);
    UpdateButtons();
    return TRUE;
}

void CSessionInfoDlg::UpdateButtons()
{
    UpdateData(TRUE);
    BOOL bBook = m_AddressList.GetSelectedCount() > 0;
    ::EnableWindow(GetDlgItem(IDC_INFO_DELETE), bBook);
    ::EnableWindow(GetDlgItem(IDC_INFO_VIEW_BOOK), bBook);
    ::EnableWindow(GetDlgItem(IDC_INFO_VIEW_USER), m_UserList.GetSelectedCount() > 0);
}

LRESULT CSessionInfoDlg::OnItemChanged(int idCtrl, LPNMHDR pnmh, BOOL& bHandled)
{
    UpdateButtons();
    return 0;
}

CSession& CSessionInfoDlg::RequireSession(const char* pszContext)
{
    CSessionRef pCurrent = m_lender.LendSession();
    if (!m_pSession || pCurrent != m_pSession || !(m_pSession->GetState() & SESSION_OPEN))
        throw new CTarvoselException(EXC_OWN, ERR_NO_SESSION, pszContext);
    return *m_pSession;
}

bool CSessionInfoDlg::WithSession(const std::function<void()>& fn)
{
    CTarvoselException* pFailure = nullptr;
    {
        ISessionLender::COperationAttempt operation(m_lender);
        if (!operation.Held()) {
            ShowMessage(kBusyText);
            return false;
        }
        try {
            fn();
        } catch (CTarvoselException* e) {
            pFailure = e;
        }
    }
    // The box waits for the user: not under the lock.
    if (pFailure != nullptr) {
        ShowFailure(pFailure);
        return false;
    }
    return true;
}

void CSessionInfoDlg::ShowMessage(const std::string& strText)
{
    CModalRun run(*this);
    MessageBox(strText, kCaption, MB_OK);
}

void CSessionInfoDlg::ShowFailure(CTarvoselException* e)
{
    std::string strText = e->GetDescription();
    delete e;
    ShowMessage(strText);
}

std::string CSessionInfoDlg::ExportPath(int nChoice)
{
    CS_SESSIONINFO info;
    m_pSession->GetSessionData(&info);
    std::string strDrive, strFolder, strName;
    if (info.nType == SESSION_KIND_ENTRUST) {
        const CS_EPFPROFILE* pProfile = info.Details<CS_EPFPROFILE>();
        SplitPath(pProfile != nullptr ? pProfile->strProfilePath : std::string(), strDrive,
                  strFolder, strName);
        return strDrive + strFolder + strName + (nChoice == 0 ? ".key" : ".pfx");
    }
    // The owner's name in the temporary folder.
    SplitPath(m_settings.MakeTempFileName("pem"), strDrive, strFolder, strName);
    return strDrive + strFolder + info.strName + (nChoice == 0 ? ".pem" : ".pfx");
}

LRESULT CSessionInfoDlg::OnExport(WORD wNotifyCode, WORD wID, HWND hWndCtl, BOOL& bHandled)
{
    UpdateData(TRUE);
    int nChoice = m_nExportChoice;
    std::string strPath;
    if (WithSession([&] {
            CSession& session = RequireSession("CSessionInfoDlg::OnExport");
            strPath = ExportPath(nChoice);
            std::string strPassword = kProfilePassword;
            session.ExportCertificates(strPath, ExportSelection(nChoice), strPassword);
        }))
        ShowMessage("Exportaci\xF3n correcta a '" + strPath + "'" +
                    (nChoice != 0 ? "\nLa contrase\xF1" "a es la misma que la del EPF." : ""));
    return 0;
}

LRESULT CSessionInfoDlg::OnImport(WORD wNotifyCode, WORD wID, HWND hWndCtl, BOOL& bHandled)
{
    CFileDialog files("Archivos de clave p\xFA" "blica (*.key)|*.key||", "Seleccione el fichero",
                      OFN_HIDEREADONLY);
    INT_PTR nChosen;
    {
        CModalRun run(*this);
        nChosen = files.DoModal(m_hWnd);
    }
    // The window may have gone meanwhile (the user logged out).
    if (nChosen != IDOK || !IsWindow())
        return 0;
    std::string strPath = files.GetPathName();
    WithSession([&] {
        CCertStore* pStore = RequireSession("CSessionInfoDlg::OnImport").GetCertStore();
        if (pStore != nullptr)
            pStore->ImportCertificate(strPath);
        PostMessage(WM_REFRESH);
    });
    return 0;
}

LRESULT CSessionInfoDlg::OnDeleteSelected(WORD wNotifyCode, WORD wID, HWND hWndCtl,
                                          BOOL& bHandled)
{
    CERTGROUP_INFO* pGroup = m_AddressList.GetSelectedGroup();
    if (pGroup == nullptr || pGroup->lstCertificates.empty())
        return 0;
    std::string strName = pGroup->lstCertificates.front()->GetSubject();
    WithSession([&] {
        CCertStore* pStore = RequireSession("CSessionInfoDlg::OnDeleteSelected").GetCertStore();
        if (pStore != nullptr)
            pStore->DeleteCertificate(strName);
        PostMessage(WM_REFRESH);
    });
    return 0;
}

void CSessionInfoDlg::ShowCertificates(CERTGROUP_INFO* pGroup)
{
    if (pGroup == nullptr)
        return;
    CCertificatePropDlg dialog;
    dialog.m_pGroup = pGroup;
    CModalRun run(*this);
    dialog.DoModal(m_hWnd);
}

LRESULT CSessionInfoDlg::OnViewUser(WORD wNotifyCode, WORD wID, HWND hWndCtl, BOOL& bHandled)
{
    ShowCertificates(m_UserList.GetSelectedGroup());
    return 0;
}

LRESULT CSessionInfoDlg::OnViewBook(WORD wNotifyCode, WORD wID, HWND hWndCtl, BOOL& bHandled)
{
    ShowCertificates(m_AddressList.GetSelectedGroup());
    return 0;
}

LRESULT CSessionInfoDlg::OnRefresh(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled)
{
    RefreshAddressBook();
    return 0;
}

LRESULT CSessionInfoDlg::OnTimer(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled)
{
    if (wParam != kRetryTimer) {
        bHandled = FALSE;
        return 0;
    }
    RefreshAddressBook();
    return 0;
}

void CSessionInfoDlg::RefreshAddressBook()
{
    CCertificateArray lstCopies;
    bool bRead = false;
    {
        ISessionLender::COperationAttempt operation(m_lender);
        if (operation.Held()) {
            bRead = true;
            CSessionRef pCurrent = m_lender.LendSession();
            CCertStore* pStore = m_pSession && pCurrent == m_pSession ? m_pSession->GetCertStore()
                                                                      : nullptr;
            if (pStore != nullptr) {
                CCertificateArray lstOriginals;
                pStore->GetCertificates(lstOriginals);
                CCertificateCopy::CopyList(lstOriginals, lstCopies);
                DeleteCertificates(lstOriginals);
            }
        }
    }
    if (!bRead) {
        ::SetTimer(m_hWnd, kRetryTimer, kRetryMs, nullptr);
        return;
    }
    ::KillTimer(m_hWnd, kRetryTimer);
    m_AddressList.DeleteAllItems();
    DeleteCertificates(m_AddressCertificates);
    m_AddressCertificates.swap(lstCopies);
    m_AddressList.Refill();
    UpdateButtons();
}

LRESULT CSessionInfoDlg::OnDestroy(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled)
{
    ::KillTimer(m_hWnd, kRetryTimer);
    bHandled = FALSE;
    m_AddressList.DeleteAllItems();
    DeleteCertificates(m_AddressCertificates);
    return 0;
}
