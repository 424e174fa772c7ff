#include "CCardEventSink.h"

#include "host/Messages.h"

namespace {
const UINT WM_SINK_MARKER = WM_APP + 77;
const DWORD MARKER_TIMEOUT_MS = 10000;
}

CCardEventSink::CCardEventSink()
    : m_hThread(nullptr), m_dwThreadId(0), m_hReady(nullptr), m_nMarkersSent(0),
      m_nMarkersSeen(0)
{
    m_hReady = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    m_hThread = CreateThread(nullptr, 0, ThreadProc, this, 0, &m_dwThreadId);
    if (m_hThread)
        WaitForSingleObject(m_hReady, 5000);
}

CCardEventSink::~CCardEventSink()
{
    if (m_hThread) {
        PostThreadMessageA(m_dwThreadId, WM_QUIT, 0, 0);
        WaitForSingleObject(m_hThread, 5000);
        CloseHandle(m_hThread);
    }
    if (m_hReady)
        CloseHandle(m_hReady);
}

DWORD WINAPI CCardEventSink::ThreadProc(LPVOID pParam)
{
    CCardEventSink* pThis = static_cast<CCardEventSink*>(pParam);
    MSG msg;
    // Thread messages posted before the queue exists are lost.
    PeekMessageA(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
    SetEvent(pThis->m_hReady);
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        std::lock_guard<std::mutex> lock(pThis->m_mutex);
        if (msg.message == WM_CARD_EVENT)
            pThis->m_events.push_back({msg.wParam, msg.lParam, GetTickCount()});
        else if (msg.message == WM_SINK_MARKER)
            ++pThis->m_nMarkersSeen;
        else
            continue;
        pThis->m_cv.notify_all();
    }
    return 0;
}

bool CCardEventSink::Next(CardEvent* pEvent, DWORD dwTimeoutMs)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!m_cv.wait_for(lock, std::chrono::milliseconds(dwTimeoutMs),
                       [this] { return !m_events.empty(); }))
        return false;
    *pEvent = m_events.front();
    m_events.pop_front();
    return true;
}

std::deque<CardEvent> CCardEventSink::Drain()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    unsigned nMarker = ++m_nMarkersSent;
    PostThreadMessageA(m_dwThreadId, WM_SINK_MARKER, 0, 0);
    m_cv.wait_for(lock, std::chrono::milliseconds(MARKER_TIMEOUT_MS),
                  [this, nMarker] { return m_nMarkersSeen >= nMarker; });
    std::deque<CardEvent> events;
    events.swap(m_events);
    return events;
}
