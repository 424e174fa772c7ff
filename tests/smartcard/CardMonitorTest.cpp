// The reader monitor against a real pcscd with the two vpcd readers and the
// bench's virtual cards (tests/smartcard/bench/pcsc-bench.sh start), through
// the winscard bridge that sits beside this executable.
#include <gtest/gtest.h>

#include "CCardEventSink.h"
#include "CardTestData.h"
#include "SmartCardTestSupport.h"
#include "VirtualCardTest.h"
#include "host/Messages.h"
#include "smartcard/CAPIWinSCard.h"
#include "smartcard/CCardManager.h"

using tvltest::WaitFor;

namespace {

const DWORD EVENT_TIMEOUT_MS = 5000;
const DWORD SERVICE_TIMEOUT_MS = 20000;

const char INVALID_FILTER_LINE[] = "Numero lector no válido, no se cambia: (%i)";
const char SERVICE_ERROR_LINE[] = "Monitor de tarjetas: error del servicio";
const char SERVICE_BACK_LINE[] = "Monitor de tarjetas: servicio disponible de nuevo";
const char KILLED_LINE[] = "Terminando el monitor manualmente...";

// Restarts pcscd at scope exit when a test stopped it, whatever happened.
class CServiceRestart {
public:
    explicit CServiceRestart(CVirtualCards& cards) : m_cards(cards), m_bStopped(false) {}
    ~CServiceRestart()
    {
        if (m_bStopped)
            m_cards.StartService();
    }
    bool Stop() { return m_bStopped = m_cards.StopService(); }
    bool Start()
    {
        bool bOk = m_cards.StartService();
        if (bOk)
            m_bStopped = false;
        return bOk;
    }

private:
    CVirtualCards& m_cards;
    bool m_bStopped;
};

std::string Describe(const std::deque<CardEvent>& events)
{
    std::string s;
    for (const CardEvent& e : events)
        s += "(" + std::to_string(e.wParam) + "," + std::to_string(e.lParam) + ") ";
    return s;
}

}  // namespace

class CardMonitorTest : public VirtualCardTest {
protected:
    void SetUp() override
    {
        VirtualCardTest::SetUp();
        if (!Ready())
            return;
        ASSERT_NO_FATAL_FAILURE(Open());
        // No card left over from an earlier test may be announced.
        ASSERT_TRUE(ServiceSees(0, false));
        ASSERT_TRUE(ServiceSees(1, false));
    }

    void TearDown() override
    {
        if (!m_cards.IsConnected())
            return;
        CaughtFailure stop = Capture([] { CCardManager::StopMonitor(); });
        EXPECT_FALSE(stop.bThrown) << stop.strContext;
        CCardManager::Terminate();
        EXPECT_FALSE(Capture([] { CAPIWinSCard::Unload(); }).bThrown);
        VirtualCardTest::TearDown();
    }

    void Open()
    {
        CaughtFailure load = Capture([] { CAPIWinSCard::Load(); });
        ASSERT_FALSE(load.bThrown) << load.strContext;
        CaughtFailure init = Capture([] { CCardManager::Initialize(); });
        ASSERT_FALSE(init.bThrown) << init.strContext;
        // The vpcd driver's two readers, in the service's order.
        ASSERT_EQ(CCardManager::GetReaderCount(), 2);
        ASSERT_TRUE(m_log.Contains("Lector detectado: (Virtual PCD 00 00)"));
        ASSERT_TRUE(m_log.Contains("Lector detectado: (Virtual PCD 00 01)"));
    }

    void Start(int nFilter)
    {
        CaughtFailure start = Capture(
            [&] { CCardManager::StartMonitor(m_sink.ThreadId(), nFilter, WM_CARD_EVENT); });
        ASSERT_FALSE(start.bThrown) << start.strContext;
    }

    void ExpectEvent(WPARAM wParam, LPARAM lParam)
    {
        CardEvent e;
        ASSERT_TRUE(m_sink.Next(&e, EVENT_TIMEOUT_MS))
            << "no event, expected (" << wParam << "," << lParam << ")";
        EXPECT_EQ(e.wParam, wParam);
        EXPECT_EQ(e.lParam, lParam);
    }

    void ExpectNoMoreEvents()
    {
        std::deque<CardEvent> rest = m_sink.Drain();
        EXPECT_TRUE(rest.empty()) << Describe(rest);
    }

    // Waits until the monitor has recorded the reader's state.
    bool Recorded(int nReader, bool bPresent, DWORD dwTimeoutMs = EVENT_TIMEOUT_MS)
    {
        return WaitFor(
            [=] { return (CCardManager::IsCardPresent(nReader) != 0) == bPresent; },
            dwTimeoutMs);
    }

    // Before the monitor runs: asks the service directly on a context of
    // the test's own.
    static bool ServiceSees(int nReader, bool bPresent)
    {
        return ::ServiceSees(nReader, bPresent, EVENT_TIMEOUT_MS);
    }

    static std::string InvalidFilterLine(int n)
    {
        char sz[128];
        wsprintfA(sz, INVALID_FILTER_LINE, n);
        return sz;
    }

    tvltest::LogCapture m_log{"smartcard"};
    CCardEventSink m_sink;
};

TEST_F(CardMonitorTest, CardPresentAtStartIsAnnouncedOnce)
{
    Insert(0, ATR_BOTH_TYPES);
    ASSERT_TRUE(ServiceSees(0, true));
    Start(-1);
    ExpectEvent(1, 0);
    Hold();
    ASSERT_TRUE(Recorded(0, true));
    ExpectNoMoreEvents();
}

TEST_F(CardMonitorTest, RemovalAndReinsertion)
{
    Start(-1);
    Insert(1, ATR_OTHER);
    ExpectEvent(1, 1);
    Remove(1);
    ExpectEvent(0, 1);
    Insert(1, ATR_OTHER);
    ExpectEvent(1, 1);
    // A card in the other reader is told apart by lParam.
    Insert(0, ATR_UNKNOWN);
    ExpectEvent(1, 0);
    Remove(0);
    ExpectEvent(0, 0);
    ExpectNoMoreEvents();
}

TEST_F(CardMonitorTest, FilterNoneRecordsButPostsNothing)
{
    Start(-2);
    Insert(0, ATR_BOTH_TYPES);
    ASSERT_TRUE(Recorded(0, true));
    Remove(0);
    ASSERT_TRUE(Recorded(0, false));
    ExpectNoMoreEvents();
}

TEST_F(CardMonitorTest, FilterOneReaderAndChangeWhileRunning)
{
    Start(1);
    Insert(0, ATR_BOTH_TYPES);
    ASSERT_TRUE(Recorded(0, true));
    ExpectNoMoreEvents();
    Insert(1, ATR_OTHER);
    ExpectEvent(1, 1);
    ExpectNoMoreEvents();

    // A second start only moves the filter.
    Start(0);
    Remove(1);
    ASSERT_TRUE(Recorded(1, false));
    ExpectNoMoreEvents();
    Remove(0);
    ExpectEvent(0, 0);
    ExpectNoMoreEvents();
}

TEST_F(CardMonitorTest, InvalidFilterIsLoggedAndKeepsEveryReader)
{
    // -3 is below the smallest filter, 2 is the reader count.
    for (int nBad : {-3, 2}) {
        SCOPED_TRACE(nBad);
        Insert(0, ATR_BOTH_TYPES);
        Insert(1, ATR_OTHER);
        ASSERT_TRUE(ServiceSees(0, true));
        ASSERT_TRUE(ServiceSees(1, true));
        Start(nBad);
        EXPECT_TRUE(m_log.Contains(InvalidFilterLine(nBad)));
        // Filter -1: both cards are announced at the first pass.
        ExpectEvent(1, 0);
        ExpectEvent(1, 1);
        Hold();
        ExpectNoMoreEvents();

        ASSERT_FALSE(Capture([] { CCardManager::StopMonitor(); }).bThrown);
        CCardManager::Terminate();
        Remove(0);
        Remove(1);
        ASSERT_TRUE(ServiceSees(0, false));
        ASSERT_TRUE(ServiceSees(1, false));
        ASSERT_NO_FATAL_FAILURE(Open());
    }
}

TEST_F(CardMonitorTest, FindCardReaderNamesTheCard)
{
    struct Case {
        int nReader;
        const char* pszAtr;
        const char* pszName;
        const char* pszProvider;
    };
    const Case cases[] = {
        {0, ATR_BOTH_TYPES, "Tarvosel Prueba 1", "Tarvosel CSP Uno"},
        {1, ATR_MASKED_ONLY, "Tarvosel Prueba 1", "Tarvosel CSP Uno"},
        {1, ATR_OTHER, "Tarvosel Otra", "Tarvosel CSP Otra"},
        {0, ATR_UNKNOWN, "", ""},
        {1, ATR_LONGER_THAN_MASK, "", ""},
    };
    Start(-1);
    char szName[256] = "stale";
    char szProvider[256] = "stale";
    EXPECT_EQ(CCardManager::FindCardReader(szName, szProvider), -1);
    EXPECT_STREQ(szName, "");
    EXPECT_STREQ(szProvider, "");

    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszAtr);
        Insert(c.nReader, c.pszAtr);
        ExpectEvent(1, c.nReader);
        strcpy(szName, "stale");
        strcpy(szProvider, "stale");
        EXPECT_EQ(CCardManager::FindCardReader(szName, szProvider), c.nReader);
        EXPECT_STREQ(szName, c.pszName);
        EXPECT_STREQ(szProvider, c.pszProvider);

        BYTE atr[256];
        DWORD cbAtr = 0;
        CCardManager::GetCardATR(c.nReader, atr, &cbAtr);
        std::vector<BYTE> expected = AtrBytes(c.pszAtr);
        EXPECT_EQ(std::vector<BYTE>(atr, atr + cbAtr), expected);

        Remove(c.nReader);
        ExpectEvent(0, c.nReader);
    }
    EXPECT_EQ(CCardManager::FindCardReader(szName, szProvider), -1);
    EXPECT_STREQ(szName, "");

    // With cards in both readers the first reader is reported.
    Insert(1, ATR_OTHER);
    Insert(0, ATR_UNKNOWN);
    ASSERT_TRUE(Recorded(0, true));
    ASSERT_TRUE(Recorded(1, true));
    EXPECT_EQ(CCardManager::FindCardReader(szName, szProvider), 0);
    EXPECT_STREQ(szName, "");
}

TEST_F(CardMonitorTest, StopMonitorEndsTheBlockedQuery)
{
    Insert(0, ATR_BOTH_TYPES);
    Start(-1);
    ExpectEvent(1, 0);
    // The monitor is now blocked in the service with nothing to report.
    CaughtFailure stop = Capture([] { CCardManager::StopMonitor(); });
    EXPECT_FALSE(stop.bThrown) << stop.strContext;
    EXPECT_FALSE(m_log.Contains(KILLED_LINE));
    // Stopped: later card changes are not posted; a new start announces again.
    Remove(0);
    ASSERT_TRUE(ServiceSees(0, false));
    Insert(0, ATR_OTHER);
    ASSERT_TRUE(ServiceSees(0, true));
    ExpectNoMoreEvents();
    // Without a monitor the answer is still the recorded state (a card), and
    // the ATR is the one the reader holds now.
    char szName[256];
    char szProvider[256];
    EXPECT_EQ(CCardManager::FindCardReader(szName, szProvider), 0);
    EXPECT_STREQ(szName, "Tarvosel Otra");
    Start(-1);
    ExpectEvent(1, 0);
}

TEST_F(CardMonitorTest, ServiceStopAndRestartWhileMonitoring)
{
    Insert(0, ATR_BOTH_TYPES);
    Start(-1);
    ExpectEvent(1, 0);

    CServiceRestart service(m_cards);
    ASSERT_TRUE(service.Stop());
    ASSERT_TRUE(WaitFor([&] { return m_log.Contains(SERVICE_ERROR_LINE); }, SERVICE_TIMEOUT_MS));

    // The library answers from what the monitor recorded, without blocking.
    char szName[256];
    char szProvider[256];
    EXPECT_EQ(CCardManager::FindCardReader(szName, szProvider), 0);
    EXPECT_STREQ(szName, "Tarvosel Prueba 1");

    ASSERT_TRUE(service.Start());
    ASSERT_TRUE(WaitFor([&] { return m_log.Contains(SERVICE_BACK_LINE); }, SERVICE_TIMEOUT_MS))
        << m_log.Text();
    // The failures were logged once, not once per retry.
    EXPECT_EQ(m_log.Count(SERVICE_ERROR_LINE), 1);

    // The card comes back with the service. The monitor may first find the
    // slot empty (the virtual card reconnects after pcscd is up): wait until
    // the service has the card and the monitor recorded it, then forget what
    // the restart announced.
    ASSERT_TRUE(ServiceSees(0, true));
    ASSERT_TRUE(Recorded(0, true));
    m_sink.Drain();
    Remove(0);
    ExpectEvent(0, 0);
    Insert(1, ATR_OTHER);
    ExpectEvent(1, 1);

    CaughtFailure stop = Capture([] { CCardManager::StopMonitor(); });
    EXPECT_FALSE(stop.bThrown) << stop.strContext;
    EXPECT_FALSE(m_log.Contains(KILLED_LINE));
}

TEST_F(CardMonitorTest, StopAndTerminateWhileServiceIsDown)
{
    Start(-1);
    CServiceRestart service(m_cards);
    ASSERT_TRUE(service.Stop());
    ASSERT_TRUE(WaitFor([&] { return m_log.Contains(SERVICE_ERROR_LINE); }, SERVICE_TIMEOUT_MS));

    CaughtFailure stop = Capture([] { CCardManager::StopMonitor(); });
    EXPECT_FALSE(stop.bThrown) << stop.strContext;
    EXPECT_FALSE(m_log.Contains(KILLED_LINE));
    CCardManager::Terminate();

    // Without the service there is no context to open.
    CaughtFailure init = Capture([] { CCardManager::Initialize(); });
    EXPECT_TRUE(init.bThrown);
    EXPECT_EQ(init.strContext, "CCardManager::Initialize");
    EXPECT_EQ(CCardManager::GetReaderCount(), 0);

    ASSERT_TRUE(service.Start());
    ASSERT_NO_FATAL_FAILURE(Open());
}
