#pragma once
#include <windows.h>
#include <prsht.h>

#include <string>

#include "platform/framework/CDialog.h"

class CPropertySheet;

// One page of a CPropertySheet, made from a child dialog template of the
// module's resources. It is a CDialog in everything but ending: the sheet's
// buttons end the run, never the page.
//
//   class CMyPage : public CPropertyPage {
//   public:
//       CMyPage() : CPropertyPage(IDD_MYPAGE) {}   // tab text: the template's caption
//   protected:
//       BOOL OnSetActive() override;   // the page becomes the visible one
//   };
//
// The page's window exists from the sheet's creation (the start page) or its
// first activation (the others) until the sheet's window is destroyed.
class CPropertyPage : public CDialog {
public:
    // pszCaption, when given, replaces the template's caption as the tab text.
    explicit CPropertyPage(UINT nIDTemplate, const char* pszCaption = nullptr);

    // The page's description for the platform; the sheet fills it in.
    PROPSHEETPAGEA m_psp;
    // The sheet the page was added to.
    CPropertySheet* GetSheet() const { return m_pSheet; }

protected:
    // The page is about to show: TRUE lets it.
    virtual BOOL OnSetActive() { return TRUE; }
    // The page is about to hide or the sheet to close with "Aceptar": TRUE
    // lets it (after reading the controls back).
    virtual BOOL OnKillActive() { return UpdateData(TRUE); }
    // Pages do not end the run: Enter and Escape are the sheet's.
    void OnOK() override {}
    void OnCancel() override {}

    INT_PTR DispatchDialogMessage(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) override;
    static INT_PTR CALLBACK PageProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);

private:
    friend class CPropertySheet;
    std::string m_strCaption;
    CPropertySheet* m_pSheet = nullptr;
};
