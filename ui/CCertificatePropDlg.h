#pragma once
#include "platform/framework/CDialog.h"
#include "platform/framework/CImageList.h"
#include "platform/framework/CListCtrl.h"
#include "res/resource.h"
#include "ui/CCertificateList.h"

// The properties of the certificates of one row, one certificate at a time,
// with "<<" and ">>" between them. The caller sets m_pGroup and keeps the
// record alive while the dialog runs modally.
class CCertificatePropDlg : public CDialog {
public:
    CCertificatePropDlg();

    CERTGROUP_INFO* m_pGroup = nullptr;

    BEGIN_MSG_MAP(CCertificatePropDlg)
    COMMAND_ID_HANDLER(IDC_PROP_PREVIOUS, OnPrevious)
    COMMAND_ID_HANDLER(IDC_PROP_NEXT, OnNext)
    END_MSG_MAP()

protected:
    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange* pDX) override;
    LRESULT OnPrevious(WORD wNotifyCode, WORD wID, HWND hWndCtl, BOOL& bHandled);
    LRESULT OnNext(WORD wNotifyCode, WORD wID, HWND hWndCtl, BOOL& bHandled);
    void ShowCertificate();
    void AddProperty(const char* pszName, const std::string& strValue);

    size_t m_nPosition = 0;  // of the shown certificate in m_pGroup->lstCertificates
    int m_nIndex = 1;        // its 1-based number
    CListCtrl m_Properties;
    CImageList m_Images;
    std::string m_strCounter;
};
