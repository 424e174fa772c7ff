#pragma once
#include <windows.h>

#include <string>

#include "platform/framework/CWnd.h"

// What a data exchange does: fill the controls from the members
// (m_bSaveAndValidate false) or read them back (true).
class CDataExchange {
public:
    CDataExchange(HWND hDlg, bool bSaveAndValidate)
        : m_hDlg(hDlg), m_bSaveAndValidate(bSaveAndValidate)
    {
    }
    HWND m_hDlg;
    bool m_bSaveAndValidate;
};

// Binds a wrapper to control nID once: its map runs for the control from then on.
void DDX_Control(CDataExchange* pDX, int nID, CWnd& wnd);
// The control's text (edit boxes, static texts, a drop-down's edit field).
void DDX_Text(CDataExchange* pDX, int nID, std::string& strValue);
// A check box: 0 clear, 1 checked, 2 indeterminate.
void DDX_Check(CDataExchange* pDX, int nID, int& nValue);
// A combo box's selected index, -1 for none.
void DDX_CBIndex(CDataExchange* pDX, int nID, int& nIndex);
// The checked button of the radio group that starts with control nID, counted
// in tab order; -1 for none.
void DDX_Radio(CDataExchange* pDX, int nID, int& nIndex);

// A dialog made from a template of the module's resources, modal or modeless.
//
//   class CMyDlg : public CDialog {
//   public:
//       CMyDlg() : CDialog(IDD_MY) {}
//       BEGIN_MSG_MAP(CMyDlg)
//           COMMAND_ID_HANDLER(IDC_NEXT, OnNext)
//       END_MSG_MAP()
//   protected:
//       BOOL OnInitDialog() override;          // after the controls exist
//       void DoDataExchange(CDataExchange* pDX) override
//       {
//           DDX_Control(pDX, IDC_LIST, m_List);
//           DDX_Text(pDX, IDC_NAME, m_strName);
//       }
//   };
//   CMyDlg dlg;  INT_PTR n = dlg.DoModal(hOwner);   // IDOK, IDCANCEL, ...
//
// The default OnInitDialog fills the controls (UpdateData(FALSE)); "Aceptar"
// (IDOK) reads them back and ends the dialog, "Cancelar" (IDCANCEL), Escape and
// WM_CLOSE end it with IDCANCEL, unless the map handles those commands. A
// modeless dialog (Create) that ends is hidden, not destroyed: its owner calls
// DestroyWindow, or the destructor does. The owner's message loop passes the
// modeless dialog's messages through IsDialogMessage.
class CDialog : public CWnd {
public:
    explicit CDialog(UINT nIDTemplate);
    ~CDialog() override;

    // Runs the dialog modally; -1 when it cannot be created.
    INT_PTR DoModal(HWND hWndParent = nullptr);
    // Creates the dialog modelessly; shown when the template says WS_VISIBLE.
    bool Create(HWND hWndParent = nullptr);
    void EndDialog(int nResult);
    BOOL UpdateData(BOOL bSaveAndValidate = TRUE);
    BOOL IsDialogMessage(MSG* pMsg) { return ::IsDialogMessageA(m_hWnd, pMsg); }
    UINT GetTemplateId() const { return m_nIDTemplate; }

protected:
    virtual BOOL OnInitDialog();
    virtual void DoDataExchange(CDataExchange* pDX) {}
    virtual void OnOK();
    virtual void OnCancel();
    LRESULT DefWindowProc(UINT uMsg, WPARAM wParam, LPARAM lParam) override { return 0; }

    static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
    // The dialog procedure of a bound dialog or page.
    virtual INT_PTR DispatchDialogMessage(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
    void BindDialog(HWND hWnd);

    UINT m_nIDTemplate;
    bool m_bModal = false;
};
