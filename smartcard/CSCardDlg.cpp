#include "smartcard/CSCardDlg.h"

#include "platform/framework/CDC.h"
#include "res/resource.h"
#include "smartcard/CCardManager.h"

namespace {
const UINT_PTR kCheckTimer = 1;
const UINT kCheckMs = 500;
const UINT kLastFrame = 13;
}  // namespace

CSCardDlg::CSCardDlg(FnRegister fnRegister)
    : CDialog(IDD_SCARD), m_fnRegister(std::move(fnRegister))
{
}

void CSCardDlg::DoDataExchange(CDataExchange* pDX)
{
    DDX_Control(pDX, IDC_SCARD_ANIMATION, m_Animation);
}

BOOL CSCardDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    if (m_fnRegister)
        m_fnRegister(m_hWnd);
    m_Animation.Open(IDR_AVI_CARD);
    Play();
    // A card that arrived between the caller's look and this registration sent
    // its event to nobody: look again now, and now and then.
    CloseIfCardPresent();
    ::SetTimer(m_hWnd, kCheckTimer, kCheckMs, nullptr);
    return TRUE;
}

void CSCardDlg::Play()
{
    m_Animation.Play(0, kLastFrame, static_cast<UINT>(-1));
}

void CSCardDlg::CloseIfCardPresent()
{
    for (int i = 0; i < CCardManager::GetReaderCount(); ++i) {
        if (CCardManager::IsCardPresent(i)) {
            PostMessage(WM_CLOSE);
            return;
        }
    }
}

LRESULT CSCardDlg::OnPaint(UINT, WPARAM, LPARAM, BOOL&)
{
    CPaintDC dc(m_hWnd);
    RECT rcUpdate = {};
    if (m_Animation.m_hWnd == nullptr || !::GetUpdateRect(m_Animation, &rcUpdate, FALSE) ||
        ::IsRectEmpty(&rcUpdate))
        return 0;
    // Another window uncovered a corner of the animation: it starts again.
    RECT rc = {};
    m_Animation.GetWindowRect(&rc);
    ::MapWindowPoints(nullptr, m_Animation, reinterpret_cast<POINT*>(&rc), 2);
    int w = rc.right - rc.left, h = rc.bottom - rc.top;
    const POINT corners[] = {{0, 0}, {w, 0}, {0, h}, {w, h}};
    for (const POINT& pt : corners) {
        if (::PtInRect(&rcUpdate, pt)) {
            Play();
            break;
        }
    }
    return 0;
}

LRESULT CSCardDlg::OnCardEvent(UINT, WPARAM wParam, LPARAM, BOOL&)
{
    if (wParam == 1)
        PostMessage(WM_CLOSE);
    return 0;
}

LRESULT CSCardDlg::OnTimer(UINT, WPARAM wParam, LPARAM, BOOL& bHandled)
{
    if (wParam != kCheckTimer) {
        bHandled = FALSE;
        return 0;
    }
    CloseIfCardPresent();
    return 0;
}

LRESULT CSCardDlg::OnDestroy(UINT, WPARAM, LPARAM, BOOL& bHandled)
{
    ::KillTimer(m_hWnd, kCheckTimer);
    if (m_fnRegister)
        m_fnRegister(nullptr);
    bHandled = FALSE;
    return 0;
}
