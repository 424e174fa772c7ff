#pragma once
#include <windows.h>

// The hourglass for the life of a scope; the previous cursor comes back after.
class CWaitCursor {
public:
    CWaitCursor() : m_hOld(::SetCursor(::LoadCursorA(nullptr, IDC_WAIT))) {}
    ~CWaitCursor() { ::SetCursor(m_hOld); }

private:
    CWaitCursor(const CWaitCursor&) = delete;
    CWaitCursor& operator=(const CWaitCursor&) = delete;
    HCURSOR m_hOld;
};
