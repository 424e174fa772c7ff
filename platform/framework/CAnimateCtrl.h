#pragma once
#include <windows.h>
#include <commctrl.h>

#include "platform/framework/CWnd.h"
#include "platform/framework/CWinApp.h"

// An animation control playing an uncompressed AVI clip (resource type "AVI").
class CAnimateCtrl : public CWnd {
public:
    // Opens the clip nId of the module's resources.
    BOOL Open(UINT nId)
    {
        return static_cast<BOOL>(SendMessage(ACM_OPENA,
                                             reinterpret_cast<WPARAM>(CWinApp::GetInstanceHandle()),
                                             reinterpret_cast<LPARAM>(MAKEINTRESOURCEA(nId))));
    }
    // Plays frames nFrom to nTo, nRepeat times (-1: without end).
    BOOL Play(UINT nFrom, UINT nTo, UINT nRepeat)
    {
        return static_cast<BOOL>(SendMessage(ACM_PLAY, nRepeat, MAKELPARAM(nFrom, nTo)));
    }
    BOOL Stop() { return static_cast<BOOL>(SendMessage(ACM_STOP)); }
    BOOL Close() { return static_cast<BOOL>(SendMessage(ACM_OPENA, 0, 0)); }
};
