#include "ui/CCertificatePropDlg.h"

#include <stdio.h>

#include "cert/CCertificate.h"
#include "cert/CertificateText.h"

namespace {
const DWORD kListExStyles = LVS_EX_FULLROWSELECT | LVS_EX_ONECLICKACTIVATE | LVS_EX_LABELTIP;
const char kDateTimeFormat[] = "%d/%m/%Y, a las %H:%M";
}  // namespace

CCertificatePropDlg::CCertificatePropDlg() : CDialog(IDD_CERT_PROPERTIES) {}

void CCertificatePropDlg::DoDataExchange(CDataExchange* pDX)
{
    DDX_Control(pDX, IDC_PROP_LIST, m_Properties);
    DDX_Text(pDX, IDC_PROP_COUNTER, m_strCounter);
}

BOOL CCertificatePropDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    RECT rc = {};
    GetClientRect(&rc);
    int nWidth = rc.right - rc.left;
    m_Properties.InsertColumn(0, "Propiedad", LVCFMT_LEFT, nWidth * 30 / 100);
    m_Properties.InsertColumn(1, "Valor", LVCFMT_LEFT, nWidth * 70 / 100);
    m_Properties.SetExtendedStyle(kListExStyles);
    m_Images.Create(16, 16, ILC_COLOR32 | ILC_MASK, 1, 1);
    m_Images.AddIcon(IDI_CERTIFICATE_PEN);
    m_Properties.SetImageList(m_Images, LVSIL_SMALL);
    m_nPosition = 0;
    m_nIndex = 1;
    ShowCertificate();
    return TRUE;
}

void CCertificatePropDlg::AddProperty(const char* pszName, const std::string& strValue)
{
    int nRow = m_Properties.InsertItem(m_Properties.GetItemCount(), pszName, 0);
    if (nRow >= 0)
        m_Properties.SetItemText(nRow, 1, strValue);
}

void CCertificatePropDlg::ShowCertificate()
{
    m_Properties.DeleteAllItems();
    // Nothing to show: the dialog stays empty rather than read past a record.
    if (m_pGroup == nullptr || m_nPosition >= m_pGroup->lstCertificates.size()) {
        ::EnableWindow(GetDlgItem(IDC_PROP_PREVIOUS), FALSE);
        ::EnableWindow(GetDlgItem(IDC_PROP_NEXT), FALSE);
        m_strCounter.clear();
        UpdateData(FALSE);
        return;
    }
    CCertificate* pCertificate = m_pGroup->lstCertificates[m_nPosition];
    AddProperty("Asunto", pCertificate->GetSubject());
    std::string strKeyUsage = KeyUsageText(pCertificate->GetKeyUsage());
    if (!strKeyUsage.empty())
        AddProperty("Uso de clave", strKeyUsage);
    std::string strEnhanced = pCertificate->GetEnhancedKeyUsage();
    if (!strEnhanced.empty())
        AddProperty("Uso mejorado de clave", strEnhanced);
    AddProperty("N\xFAmero de serie", pCertificate->GetSerialNumber());
    AddProperty("V\xE1lido desde", FormatTime64(pCertificate->GetNotBefore(), kDateTimeFormat));
    AddProperty("V\xE1lido hasta", FormatTime64(pCertificate->GetNotAfter(), kDateTimeFormat));
    AddProperty("Versi\xF3n", pCertificate->GetVersion());
    AddProperty("Huella SHA1", pCertificate->GetThumbprint());
    AddProperty("Emisor", pCertificate->GetIssuer());

    size_t nCount = m_pGroup->lstCertificates.size();
    ::EnableWindow(GetDlgItem(IDC_PROP_PREVIOUS), m_nPosition > 0);
    ::EnableWindow(GetDlgItem(IDC_PROP_NEXT), m_nPosition + 1 < nCount);
    char szCounter[32];
    snprintf(szCounter, sizeof(szCounter), "%i/%i", m_nIndex, static_cast<int>(nCount));
    m_strCounter = szCounter;
    UpdateData(FALSE);
}

LRESULT CCertificatePropDlg::OnPrevious(WORD, WORD, HWND, BOOL&)
{
    if (m_pGroup != nullptr && m_nPosition > 0) {
        --m_nPosition;
        --m_nIndex;
        ShowCertificate();
    }
    return 0;
}

LRESULT CCertificatePropDlg::OnNext(WORD, WORD, HWND, BOOL&)
{
    if (m_pGroup != nullptr && m_nPosition + 1 < m_pGroup->lstCertificates.size()) {
        ++m_nPosition;
        ++m_nIndex;
        ShowCertificate();
    }
    return 0;
}
