#pragma once
#include <windows.h>

#include <string>

// A window: an HWND and, for the classes that handle messages, a message map.
//
// Thin wrapper in the manner of WTL. A class that handles messages declares its
// handlers next to each other in a map:
//
//   class CMyWnd : public CWnd {
//       BEGIN_MSG_MAP(CMyWnd)
//           MESSAGE_HANDLER(WM_TIMER, OnTimer)
//           COMMAND_ID_HANDLER(IDC_GO, OnGo)
//           NOTIFY_HANDLER(IDC_LIST, LVN_ITEMCHANGED, OnItemChanged)
//           CHAIN_MSG_MAP(CWnd)
//       END_MSG_MAP()
//       LRESULT OnTimer(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
//       LRESULT OnGo(WORD wNotifyCode, WORD wID, HWND hWndCtl, BOOL& bHandled);
//       LRESULT OnItemChanged(int idCtrl, LPNMHDR pnmh, BOOL& bHandled);
//   };
//
// A handler that clears bHandled lets the message go on to the default
// handling (the window class's own procedure). The map runs for:
// - windows of a class registered with RegisterWndClass and made with CreateEx
//   (the object must outlive the window, or be deleted by OnFinalMessage);
// - existing windows taken over with SubclassWindow (controls of a dialog:
//   see DDX_Control), given back when the window is destroyed;
// - dialogs, property pages and sheets (CDialog, CPropertySheet).
// Attach only wraps a handle: the map does not run.
//
// The object is found from the window through a window property, so nothing
// here is global. Use a window from the thread that created it.
class CWnd {
public:
    CWnd() {}
    explicit CWnd(HWND hWnd) : m_hWnd(hWnd) {}
    virtual ~CWnd();

    HWND m_hWnd = nullptr;

    HWND GetSafeHwnd() const { return m_hWnd; }
    operator HWND() const { return m_hWnd; }
    void Attach(HWND hWnd) { m_hWnd = hWnd; }
    HWND Detach();

    // Registers a window class whose procedure runs the maps of CWnd objects.
    // A class already registered by this module counts as success.
    static bool RegisterWndClass(HINSTANCE hInstance, const char* pszClassName,
                                 HICON hIcon = nullptr, UINT nStyle = 0);
    // Creates a window of such a class bound to this object.
    HWND CreateEx(DWORD dwExStyle, const char* pszClassName, const char* pszWindowName,
                  DWORD dwStyle, int x, int y, int cx, int cy, HWND hWndParent,
                  HMENU hMenu = nullptr, HINSTANCE hInstance = nullptr);
    // Puts this object's map in front of an existing window's procedure.
    bool SubclassWindow(HWND hWnd);
    HWND UnsubclassWindow();
    BOOL DestroyWindow();

    // The object whose map runs for the window, if any.
    static CWnd* FromHandlePermanent(HWND hWnd);

    // The map; BEGIN_MSG_MAP overrides it. TRUE when the message was handled,
    // with its result in lResult.
    virtual BOOL ProcessWindowMessage(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam,
                                      LRESULT& lResult)
    {
        return FALSE;
    }

    // Plain wrappers over the window's handle.
    LRESULT SendMessage(UINT uMsg, WPARAM wParam = 0, LPARAM lParam = 0) const
    {
        return ::SendMessageA(m_hWnd, uMsg, wParam, lParam);
    }
    BOOL PostMessage(UINT uMsg, WPARAM wParam = 0, LPARAM lParam = 0) const
    {
        return ::PostMessageA(m_hWnd, uMsg, wParam, lParam);
    }
    HWND GetDlgItem(int nID) const { return ::GetDlgItem(m_hWnd, nID); }
    HWND GetParent() const { return ::GetParent(m_hWnd); }
    BOOL EnableWindow(BOOL bEnable = TRUE) const { return ::EnableWindow(m_hWnd, bEnable); }
    BOOL IsWindowEnabled() const { return ::IsWindowEnabled(m_hWnd); }
    BOOL ShowWindow(int nCmdShow) const { return ::ShowWindow(m_hWnd, nCmdShow); }
    BOOL IsWindowVisible() const { return ::IsWindowVisible(m_hWnd); }
    BOOL IsWindow() const { return m_hWnd != nullptr && ::IsWindow(m_hWnd); }
    BOOL SetWindowText(const std::string& strText) const
    {
        return ::SetWindowTextA(m_hWnd, strText.c_str());
    }
    std::string GetWindowText() const { return GetWindowText(m_hWnd); }
    BOOL SetDlgItemText(int nID, const std::string& strText) const
    {
        return ::SetDlgItemTextA(m_hWnd, nID, strText.c_str());
    }
    std::string GetDlgItemText(int nID) const { return GetWindowText(GetDlgItem(nID)); }
    BOOL GetClientRect(RECT* pRect) const { return ::GetClientRect(m_hWnd, pRect); }
    BOOL GetWindowRect(RECT* pRect) const { return ::GetWindowRect(m_hWnd, pRect); }
    BOOL SetWindowPos(HWND hWndInsertAfter, int x, int y, int cx, int cy, UINT nFlags) const
    {
        return ::SetWindowPos(m_hWnd, hWndInsertAfter, x, y, cx, cy, nFlags);
    }
    BOOL MoveWindow(int x, int y, int cx, int cy, BOOL bRepaint = TRUE) const
    {
        return ::MoveWindow(m_hWnd, x, y, cx, cy, bRepaint);
    }
    BOOL Invalidate(BOOL bErase = TRUE) const { return ::InvalidateRect(m_hWnd, nullptr, bErase); }
    BOOL UpdateWindow() const { return ::UpdateWindow(m_hWnd); }
    HWND SetFocus() const { return ::SetFocus(m_hWnd); }
    DWORD GetStyle() const { return static_cast<DWORD>(::GetWindowLongA(m_hWnd, GWL_STYLE)); }
    DWORD GetExStyle() const { return static_cast<DWORD>(::GetWindowLongA(m_hWnd, GWL_EXSTYLE)); }
    // Changes the style bits; nFlags other than 0 also applies the frame change.
    BOOL ModifyStyle(DWORD dwRemove, DWORD dwAdd, UINT nFlags = 0) const;
    HFONT GetFont() const { return reinterpret_cast<HFONT>(SendMessage(WM_GETFONT)); }
    void SetFont(HFONT hFont, BOOL bRedraw = TRUE) const
    {
        SendMessage(WM_SETFONT, reinterpret_cast<WPARAM>(hFont), bRedraw);
    }
    int MessageBox(const std::string& strText, const std::string& strCaption, UINT nType) const
    {
        return ::MessageBoxA(m_hWnd, strText.c_str(), strCaption.c_str(), nType);
    }
    // Centres on the owner's window, or on the work area without one.
    void CenterWindow() const;
    // Moves a child window by (dx, dy) in its parent's client coordinates.
    static void OffsetChild(HWND hChild, int dx, int dy);

    static std::string GetWindowText(HWND hWnd);
    // Registers the common controls that templates name (list views, tabs,
    // animation, combo boxes); dialogs call it before they are made.
    static void InitCommonControls();

protected:
    // The default handling of the message being processed: the procedure that
    // the window had before (or DefWindowProc). A dialog's default handling
    // happens after its dialog procedure returns: there, clear bHandled.
    LRESULT DefWindowProc();
    virtual LRESULT DefWindowProc(UINT uMsg, WPARAM wParam, LPARAM lParam);
    // Called after the window's last message; the object may delete itself here.
    virtual void OnFinalMessage(HWND hWnd) {}

    static LRESULT CALLBACK StaticWindowProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
    void SetPermanent(HWND hWnd);
    void ClearPermanent();

    WNDPROC m_pfnSuperWindowProc = nullptr;
    const MSG* m_pCurrentMsg = nullptr;

private:
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;
};

// Owner-draw messages reflected to the control that caused them (see
// REFLECT_OWNERDRAW): the control's map receives them with these numbers.
const UINT OCM_BASE = WM_USER + 0x1c00;
const UINT OCM_DRAWITEM = OCM_BASE + WM_DRAWITEM;
const UINT OCM_MEASUREITEM = OCM_BASE + WM_MEASUREITEM;
const UINT OCM_COMPAREITEM = OCM_BASE + WM_COMPAREITEM;
const UINT OCM_DELETEITEM = OCM_BASE + WM_DELETEITEM;

// Sends an owner-draw message of a parent to the map of the control it names.
// TRUE when the control's map handled it.
BOOL ReflectOwnerDraw(HWND hParent, UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lResult);

#define BEGIN_MSG_MAP(theClass)                                                   \
public:                                                                           \
    BOOL ProcessWindowMessage(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, \
                              LRESULT& lResult) override                          \
    {                                                                             \
        BOOL bHandled = TRUE;                                                     \
        (void)hWnd;                                                               \
        (void)bHandled;

#define MESSAGE_HANDLER(msg, func)                      \
    if (uMsg == (msg)) {                                \
        bHandled = TRUE;                                \
        lResult = func(uMsg, wParam, lParam, bHandled); \
        if (bHandled)                                   \
            return TRUE;                                \
    }

#define COMMAND_HANDLER(id, code, func)                                                           \
    if (uMsg == WM_COMMAND && LOWORD(wParam) == (id) && HIWORD(wParam) == (code)) {               \
        bHandled = TRUE;                                                                          \
        lResult = func(HIWORD(wParam), LOWORD(wParam), reinterpret_cast<HWND>(lParam), bHandled); \
        if (bHandled)                                                                             \
            return TRUE;                                                                          \
    }

#define COMMAND_ID_HANDLER(id, func)                                                              \
    if (uMsg == WM_COMMAND && LOWORD(wParam) == (id)) {                                           \
        bHandled = TRUE;                                                                          \
        lResult = func(HIWORD(wParam), LOWORD(wParam), reinterpret_cast<HWND>(lParam), bHandled); \
        if (bHandled)                                                                             \
            return TRUE;                                                                          \
    }

#define NOTIFY_HANDLER(id, cd, func)                                                           \
    if (uMsg == WM_NOTIFY && reinterpret_cast<LPNMHDR>(lParam)->idFrom == (UINT_PTR)(id) &&    \
        reinterpret_cast<LPNMHDR>(lParam)->code == (UINT)(cd)) {                               \
        bHandled = TRUE;                                                                       \
        lResult = func(static_cast<int>(wParam), reinterpret_cast<LPNMHDR>(lParam), bHandled); \
        if (bHandled)                                                                          \
            return TRUE;                                                                       \
    }

#define NOTIFY_CODE_HANDLER(cd, func)                                                          \
    if (uMsg == WM_NOTIFY && reinterpret_cast<LPNMHDR>(lParam)->code == (UINT)(cd)) {          \
        bHandled = TRUE;                                                                       \
        lResult = func(static_cast<int>(wParam), reinterpret_cast<LPNMHDR>(lParam), bHandled); \
        if (bHandled)                                                                          \
            return TRUE;                                                                       \
    }

// Owner-draw messages of the parent go to the control's own map (OCM_...).
#define REFLECT_OWNERDRAW()                                    \
    if (ReflectOwnerDraw(hWnd, uMsg, wParam, lParam, lResult)) \
        return TRUE;

#define CHAIN_MSG_MAP(theBase)                                              \
    if (theBase::ProcessWindowMessage(hWnd, uMsg, wParam, lParam, lResult)) \
        return TRUE;

#define END_MSG_MAP() \
    return FALSE;     \
    }
