#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "platform/framework/CComboBox.h"

// A drop-down list of paths (owner-drawn, fixed height, with strings) that
// draws the certificate icon before each entry and shows, in a tooltip of its
// own, a path too long for the box. Bind it with DDX_Control; its parent's map
// says REFLECT_OWNERDRAW() and calls OnDropDown on CBN_DROPDOWN.
class CIconComboBox : public CComboBox {
public:
    // Icon resource drawn before each entry.
    static const int ICON_ID = 143;
    static const UINT TIMER_ID = 1;
    static const UINT TIMER_MS = 80;

    CIconComboBox();
    ~CIconComboBox() override;

    BEGIN_MSG_MAP(CIconComboBox)
    MESSAGE_HANDLER(OCM_DRAWITEM, OnDrawItem)
    MESSAGE_HANDLER(WM_MOUSEMOVE, OnMouseMove)
    MESSAGE_HANDLER(WM_TIMER, OnTimer)
    MESSAGE_HANDLER(WM_DESTROY, OnDestroy)
    END_MSG_MAP()

    // After binding: the item height and the tooltip window.
    void Init();
    // The paths in order, the first one selected.
    void Fill(const std::vector<std::string>& paths);
    // The list as wide as its widest entry.
    void OnDropDown();
    HWND GetToolTip() const { return m_hToolTip; }

private:
    LRESULT OnDrawItem(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
    LRESULT OnMouseMove(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
    LRESULT OnTimer(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
    LRESULT OnDestroy(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
    // The client area without the drop-down button.
    RECT TextArea() const;
    int TextWidth(const std::string& strText) const;
    void HideTip();

    HWND m_hToolTip;
    HICON m_hIcon;
    bool m_bTimer;
};
