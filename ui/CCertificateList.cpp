#include "ui/CCertificateList.h"

#include "cert/CCertificate.h"
#include "cert/CertificateText.h"
#include "res/resource.h"

namespace {
const DWORD kListExStyles = LVS_EX_FULLROWSELECT | LVS_EX_ONECLICKACTIVATE | LVS_EX_LABELTIP;
const char kDateFormat[] = "%d/%m/%Y";
}  // namespace

CCertificateList::~CCertificateList()
{
    DeleteGroups();
}

void CCertificateList::DeleteGroups()
{
    for (CERTGROUP_INFO* p : m_Groups)
        delete p;
    m_Groups.clear();
}

void CCertificateList::InitColumns()
{
    RECT rc = {};
    GetClientRect(&rc);
    int nWidth = rc.right - rc.left;
    InsertColumn(0, "Certificado", LVCFMT_LEFT, nWidth * 40 / 100);
    InsertColumn(1, "Emisor", LVCFMT_LEFT, nWidth * 20 / 100);
    InsertColumn(2, "Uso de clave", LVCFMT_LEFT, nWidth * 20 / 100);
    InsertColumn(3, "V\xE1lido hasta", LVCFMT_LEFT, nWidth * 20 / 100);
    SetExtendedStyle(kListExStyles);
    m_Images.Create(16, 16, ILC_COLOR32 | ILC_MASK, 1, 1);
    m_Images.AddIcon(IDI_CERTIFICATE);
    m_Images.AddIcon(IDI_IDENTITY_CARD);
    m_Images.AddIcon(IDI_PHOTO_CARD);
    SetImageList(m_Images, LVSIL_SMALL);
    Refill();
}

void CCertificateList::Refill()
{
    DeleteAllItems();
    DeleteGroups();
    if (m_pCertificates == nullptr)
        return;
    for (CCertificate* pCertificate : *m_pCertificates) {
        int nCardType = GetCertificateCardType(pCertificate);
        if (nCardType >= 1) {
            std::string strOwnerId = pCertificate->GetOwnerId();
            std::string strIssuer = pCertificate->GetIssuer();
            CERTGROUP_INFO* pGroup = nullptr;
            for (CERTGROUP_INFO* p : m_Groups) {
                if (p->strKey == strOwnerId && p->strIssuer == strIssuer) {
                    pGroup = p;
                    break;
                }
            }
            if (pGroup == nullptr) {
                pGroup = new CERTGROUP_INFO;
                pGroup->strKey = strOwnerId;
                pGroup->nCardType = nCardType;
                pGroup->strIssuer = strIssuer;
                m_Groups.push_back(pGroup);
            }
            pGroup->lstCertificates.push_back(pCertificate);
        } else {
            int nUsage = pCertificate->GetSignatureUsage();
            if (!m_bEveryCertificate && nUsage != (KU_DIGITAL_SIGNATURE | KU_NON_REPUDIATION) &&
                nUsage != KU_DIGITAL_SIGNATURE)
                continue;
            CERTGROUP_INFO* pGroup = new CERTGROUP_INFO;
            pGroup->strKey = pCertificate->GetDisplayName();
            pGroup->strIssuer = pCertificate->GetIssuer();
            pGroup->nSignatureUsage = nUsage;
            pGroup->lstCertificates.push_back(pCertificate);
            m_Groups.push_back(pGroup);
        }
    }
    for (size_t i = 0; i < m_Groups.size(); ++i)
        InsertGroupRow(m_Groups[i], static_cast<int>(i));
}

std::string CCertificateList::IssuerColumnText(const std::string& strIssuer)
{
    size_t nOu = strIssuer.find("OU=");
    if (nOu == std::string::npos)
        return strIssuer;
    size_t nComma = strIssuer.find(',', nOu + 3);
    if (nComma == std::string::npos)
        return strIssuer;
    return strIssuer.substr(nOu + 3, nComma - (nOu + 3));
}

void CCertificateList::InsertGroupRow(CERTGROUP_INFO* pGroup, int nIndex)
{
    CCertificate* pFirst = pGroup->lstCertificates.front();
    std::string strLabel;
    int nImage = IMAGE_CERTIFICATE;
    if (pGroup->nCardType == 1) {
        strLabel = pFirst->GetOwnerName() + " (DNIe)";
        nImage = IMAGE_IDENTITY_CARD;
    } else if (pGroup->nCardType == 3) {
        strLabel = pFirst->GetOwnerName() + " (MZOR)";
        nImage = IMAGE_PHOTO_CARD;
    } else {
        strLabel = pGroup->strKey;
    }
    int nRow = InsertItem(nIndex, strLabel, nImage);
    if (nRow < 0)
        return;
    SetItemText(nRow, 1, IssuerColumnText(pGroup->strIssuer));
    std::string strUsage = "...";
    if (pGroup->lstCertificates.size() < 2) {
        strUsage = KeyUsageText(pFirst->GetKeyUsage());
        if (strUsage.empty())
            strUsage = pFirst->GetEnhancedKeyUsage();
    }
    SetItemText(nRow, 2, strUsage);
    SetItemText(nRow, 3, FormatTime64(pFirst->GetNotAfter(), kDateFormat));
    SetItemData(nRow, static_cast<DWORD_PTR>(nIndex));
}

CERTGROUP_INFO* CCertificateList::GetSelectedGroup() const
{
    if (m_hWnd == nullptr)
        return nullptr;
    int nRow = GetSelectionMark();
    if (nRow < 0 || nRow >= GetItemCount())
        return nullptr;
    size_t nGroup = static_cast<size_t>(GetItemData(nRow));
    return nGroup < m_Groups.size() ? m_Groups[nGroup] : nullptr;
}
