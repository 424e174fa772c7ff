#pragma once
// A thread with a message queue that receives the monitor's card events, as
// the library's interface thread does, and hands them to the test in order.
#include <windows.h>

#include <condition_variable>
#include <deque>
#include <mutex>

struct CardEvent {
    WPARAM wParam;
    LPARAM lParam;
    DWORD dwTick;  // GetTickCount when the sink's thread received it
};

class CCardEventSink {
public:
    CCardEventSink();
    ~CCardEventSink();
    CCardEventSink(const CCardEventSink&) = delete;
    CCardEventSink& operator=(const CCardEventSink&) = delete;

    DWORD ThreadId() const { return m_dwThreadId; }
    // Next event, waiting at most dwTimeoutMs.
    bool Next(CardEvent* pEvent, DWORD dwTimeoutMs);
    // Events received before this call (a marker posted behind them comes
    // back), removed from the sink. Nothing is waited for beyond the marker.
    std::deque<CardEvent> Drain();

private:
    static DWORD WINAPI ThreadProc(LPVOID pParam);

    HANDLE m_hThread;
    DWORD m_dwThreadId;
    HANDLE m_hReady;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::deque<CardEvent> m_events;
    unsigned m_nMarkersSent;
    unsigned m_nMarkersSeen;
};
