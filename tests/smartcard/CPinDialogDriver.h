#pragma once
// Answers the bench key provider's PIN dialog from a thread of its own, as a
// user would: types the PIN queued for it and presses "Aceptar", or presses
// "Cancelar". A dialog that finds no answer queued is cancelled and counted as
// unexpected, so that a test fails instead of hanging in the modal loop.
#include <windows.h>

#include <atomic>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class CPinDialogDriver {
public:
    CPinDialogDriver();
    ~CPinDialogDriver();
    CPinDialogDriver(const CPinDialogDriver&) = delete;
    CPinDialogDriver& operator=(const CPinDialogDriver&) = delete;

    void Type(const std::string& strPin);   // the next dialog gets this PIN
    void Cancel();                          // the next dialog is cancelled
    void TypeOrCancel(const char* pszPin);  // Type, or Cancel for nullptr

    // What each dialog showed, in order.
    struct Seen {
        std::string strText;   // the explanation (names the reader)
        std::string strTries;  // the tries line, empty when none
        bool bOkEnabledEmpty;  // "Aceptar" enabled before anything was typed
        bool bOkEnabledTyped;  // and after
        bool bExpected;        // an answer was queued for it
    };
    std::vector<Seen> Dialogs() const;
    int Count() const;
    int Unexpected() const;
    // Answers still queued.
    size_t Pending() const;

private:
    void Run();
    void Answer(HWND hDialog);

    mutable std::mutex m_mtx;
    std::deque<std::string> m_answers;  // a PIN, or empty for "Cancelar"
    std::vector<Seen> m_seen;
    std::atomic<bool> m_bStop{false};
    std::thread m_thread;
};
