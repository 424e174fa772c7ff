#include "CPinDialogDriver.h"

#include "csp/resource.h"
#include "tools/shared/WindowDriving.h"

namespace {
const char kCaption[] = "PIN de la tarjeta";

std::string ItemText(HWND hDialog, int nId)
{
    return tvldrive::TextOf(GetDlgItem(hDialog, nId));
}

BOOL CALLBACK FindDialog(HWND hWnd, LPARAM lParam)
{
    DWORD dwProcess = 0;
    GetWindowThreadProcessId(hWnd, &dwProcess);
    if (dwProcess == GetCurrentProcessId() && IsWindowVisible(hWnd) &&
        tvldrive::TextOf(hWnd) == kCaption && GetDlgItem(hWnd, IDC_PIN_EDIT) != nullptr) {
        *reinterpret_cast<HWND*>(lParam) = hWnd;
        return FALSE;
    }
    return TRUE;
}
}  // namespace

CPinDialogDriver::CPinDialogDriver() : m_thread([this] { Run(); }) {}

CPinDialogDriver::~CPinDialogDriver()
{
    m_bStop = true;
    m_thread.join();
}

void CPinDialogDriver::Type(const std::string& strPin)
{
    std::lock_guard<std::mutex> lock(m_mtx);
    m_answers.push_back(strPin);
}

void CPinDialogDriver::Cancel()
{
    std::lock_guard<std::mutex> lock(m_mtx);
    m_answers.push_back(std::string());
}

void CPinDialogDriver::TypeOrCancel(const char* pszPin)
{
    if (pszPin != nullptr)
        Type(pszPin);
    else
        Cancel();
}

std::vector<CPinDialogDriver::Seen> CPinDialogDriver::Dialogs() const
{
    std::lock_guard<std::mutex> lock(m_mtx);
    return m_seen;
}

int CPinDialogDriver::Count() const
{
    std::lock_guard<std::mutex> lock(m_mtx);
    return static_cast<int>(m_seen.size());
}

int CPinDialogDriver::Unexpected() const
{
    std::lock_guard<std::mutex> lock(m_mtx);
    int n = 0;
    for (const Seen& s : m_seen)
        n += s.bExpected ? 0 : 1;
    return n;
}

size_t CPinDialogDriver::Pending() const
{
    std::lock_guard<std::mutex> lock(m_mtx);
    return m_answers.size();
}

void CPinDialogDriver::Run()
{
    HWND hLast = nullptr;
    while (!m_bStop) {
        HWND hDialog = nullptr;
        EnumWindows(FindDialog, reinterpret_cast<LPARAM>(&hDialog));
        // A dialog is answered once; it takes a moment to go away.
        if (hDialog != nullptr && hDialog != hLast) {
            Answer(hDialog);
            hLast = hDialog;
        }
        if (hDialog == nullptr)
            hLast = nullptr;
        Sleep(20);
    }
}

void CPinDialogDriver::Answer(HWND hDialog)
{
    Seen seen;
    seen.strText = ItemText(hDialog, IDC_PIN_TEXT);
    seen.strTries = ItemText(hDialog, IDC_PIN_TRIES);
    seen.bOkEnabledEmpty = IsWindowEnabled(GetDlgItem(hDialog, IDOK)) != FALSE;
    std::string strAnswer;
    {
        std::lock_guard<std::mutex> lock(m_mtx);
        seen.bExpected = !m_answers.empty();
        if (seen.bExpected) {
            strAnswer = m_answers.front();
            m_answers.pop_front();
        }
    }
    seen.bOkEnabledTyped = seen.bOkEnabledEmpty;
    int nButton = IDCANCEL;
    if (!strAnswer.empty()) {
        // WM_SETTEXT reaches the edit on its own thread; its EN_CHANGE enables "Aceptar".
        SetDlgItemTextA(hDialog, IDC_PIN_EDIT, strAnswer.c_str());
        seen.bOkEnabledTyped = IsWindowEnabled(GetDlgItem(hDialog, IDOK)) != FALSE;
        nButton = IDOK;
    }
    {
        std::lock_guard<std::mutex> lock(m_mtx);
        m_seen.push_back(seen);
    }
    PostMessageA(hDialog, WM_COMMAND, MAKEWPARAM(nButton, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(hDialog, nButton)));
}
