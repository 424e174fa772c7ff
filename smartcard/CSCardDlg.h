#pragma once
#include <windows.h>

#include <functional>

#include "host/Messages.h"
#include "platform/framework/CAnimateCtrl.h"
#include "platform/framework/CDialog.h"

// Asks for the card with an animation of a card going into a reader, and
// closes by itself once a card is in a reader: the interface thread forwards
// the reader monitor's WM_CARD_EVENT here while the dialog is open. Escape and
// Enter close it too. Shown modally while a session is reopened.
class CSCardDlg : public CDialog {
public:
    // Told the dialog's window once it exists and null when it goes: whoever
    // routes the card events sends them there meanwhile.
    typedef std::function<void(HWND)> FnRegister;
    explicit CSCardDlg(FnRegister fnRegister);

    CAnimateCtrl m_Animation;

    BEGIN_MSG_MAP(CSCardDlg)
    MESSAGE_HANDLER(WM_PAINT, OnPaint)
    MESSAGE_HANDLER(WM_CARD_EVENT, OnCardEvent)
    MESSAGE_HANDLER(WM_TIMER, OnTimer)
    MESSAGE_HANDLER(WM_DESTROY, OnDestroy)
    END_MSG_MAP()

protected:
    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange* pDX) override;

    LRESULT OnPaint(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
    LRESULT OnCardEvent(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
    LRESULT OnTimer(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
    LRESULT OnDestroy(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);

private:
    void Play();
    void CloseIfCardPresent();

    FnRegister m_fnRegister;
};
