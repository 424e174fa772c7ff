#pragma once
#include "cert/CertTypes.h"
#include "platform/framework/CPropertyPage.h"
#include "res/resource.h"
#include "host/Messages.h"
#include "ui/CCertificateList.h"

class CLoginSheet;

// The login sheet's page of Windows certificates: the user's "My" store in a
// CCertificateList, "Actualizar" to read it again (a card just inserted) and
// "Ver..." for the properties of the selected row.
class CLoginWincryptPage : public CPropertyPage {
public:
    CLoginWincryptPage();
    ~CLoginWincryptPage() override;

    // Read from the store; owned: deleted before each reload and with the page.
    CCertificateArray m_Certificates;
    CCertificateList m_List;

    BEGIN_MSG_MAP(CLoginWincryptPage)
    MESSAGE_HANDLER(WM_REFRESH, OnRefreshMessage)
    COMMAND_HANDLER(IDC_REFRESH, BN_CLICKED, OnRefreshButton)
    COMMAND_HANDLER(IDC_VIEW, BN_CLICKED, OnView)
    NOTIFY_HANDLER(IDC_CERT_LIST, LVN_ITEMCHANGED, OnItemChanged)
    END_MSG_MAP()

    // Reads the store again into the list (the handler of WM_REFRESH).
    void Refresh();
    // The page's part of the sheet's UpdateButtons.
    void EnableControls(bool bIdle, bool bSelected);

protected:
    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnSetActive() override;

    LRESULT OnRefreshMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
    LRESULT OnRefreshButton(WORD wNotifyCode, WORD wID, HWND hWndCtl, BOOL& bHandled);
    LRESULT OnView(WORD wNotifyCode, WORD wID, HWND hWndCtl, BOOL& bHandled);
    LRESULT OnItemChanged(int idCtrl, LPNMHDR pnmh, BOOL& bHandled);

private:
    CLoginSheet* GetLoginSheet() const;
    void DeleteCertificates();
};
