#pragma once
#include <windows.h>
#include <prsht.h>

#include <string>
#include <vector>

#include "platform/framework/CWnd.h"

class CPropertyPage;

// A property sheet run modally, with the platform's own sheet window under
// this object's map (buttons IDOK "Aceptar", IDCANCEL "Cancelar", the tab
// control and the pages).
//
//   CMySheet sheet("Caption");        // derives from CPropertySheet
//   sheet.AddPage(&page);             // pages outlive the run
//   sheet.m_psh.dwFlags |= PSH_NOAPPLYNOW;
//   sheet.m_psh.nStartPage = 0;       // out of range: the first page
//   INT_PTR n = sheet.DoModal();      // the modal result, IDCANCEL by default
//
// OnInitDialog runs once the platform has made the sheet, its buttons and its
// start page, before the sheet shows. The run ends when the platform closes
// the sheet ("Aceptar", "Cancelar", Escape) or EndDialog is called. A handler
// of the sheet's map records what the run returns with SetModalResult (a click
// of "Aceptar" or "Cancelar" does not do it by itself: the map decides).
class CPropertySheet : public CWnd {
public:
    explicit CPropertySheet(const char* pszCaption, HWND hWndParent = nullptr,
                            UINT nSelectPage = 0);
    ~CPropertySheet() override;

    PROPSHEETHEADERA m_psh;

    void AddPage(CPropertyPage* pPage);
    int GetPageCount() const { return static_cast<int>(m_pages.size()); }
    CPropertyPage* GetPage(int nPage) const;
    // Index of the active page; the start page before the window exists.
    int GetActiveIndex() const;
    CPropertyPage* GetActivePage() const { return GetPage(GetActiveIndex()); }
    HWND GetTabControl() const;

    // -1 when the sheet could not be made, with the platform's error (0 when
    // it gave none) as the last error; also without pages or during a run.
    INT_PTR DoModal();
    // Ends the run with nResult.
    void EndDialog(int nResult);

protected:
    virtual BOOL OnInitDialog() { return TRUE; }
    void SetModalResult(int nResult) { m_nModalResult = nResult; }
    int GetModalResult() const { return m_nModalResult; }

private:
    static int CALLBACK SheetCallback(HWND hWnd, UINT uMsg, LPARAM lParam);
    bool IsRunEnded() const;

    std::string m_strCaption;
    std::vector<CPropertyPage*> m_pages;
    int m_nModalResult = IDCANCEL;
    bool m_bEndRun = false;
};
