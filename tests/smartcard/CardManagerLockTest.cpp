// The card manager's lock against a service that blocks: stopping the monitor
// cancels the monitor's wait without holding the lock that the callers'
// thread takes for the recorded states. Stand-in entry points replace the
// winscard table; no service is needed.
#include <gtest/gtest.h>

#include "smartcard/CAPIWinSCard.h"
#include "smartcard/CCardManager.h"
#include "tests/support/TestThreads.h"

namespace {
HANDLE g_hCancelled;      // the monitor's wait ends when this is set
HANDLE g_hCancelEntered;  // set when the stand-in SCardCancel is entered
HANDLE g_hCancelRelease;  // the stand-in SCardCancel returns when this is set
char g_szReaders[] = "Lector Falso 0\0";

LONG WINAPI FakeEstablish(DWORD, LPCVOID, LPCVOID, LPSCARDCONTEXT phContext)
{
    *phContext = 0x1234;
    return SCARD_S_SUCCESS;
}
LONG WINAPI FakeListReaders(SCARDCONTEXT, LPCSTR, LPSTR mszReaders, LPDWORD pcch)
{
    *reinterpret_cast<LPSTR*>(mszReaders) = g_szReaders;
    *pcch = sizeof(g_szReaders);
    return SCARD_S_SUCCESS;
}
LONG WINAPI FakeRelease(SCARDCONTEXT)
{
    return SCARD_S_SUCCESS;
}
LONG WINAPI FakeFree(SCARDCONTEXT, LPCVOID)
{
    return SCARD_S_SUCCESS;
}
LONG WINAPI FakeStatus(SCARDCONTEXT, DWORD dwTimeout, LPSCARD_READERSTATEA pStates, DWORD n)
{
    for (DWORD i = 0; i < n; ++i)
        pStates[i].dwEventState = SCARD_STATE_EMPTY;
    if (dwTimeout == 0)
        return SCARD_S_SUCCESS;
    WaitForSingleObject(g_hCancelled, INFINITE);
    return static_cast<LONG>(SCARD_E_CANCELLED);
}
// A service slow to cancel: the cancel itself blocks for a while.
LONG WINAPI FakeCancel(SCARDCONTEXT)
{
    SetEvent(g_hCancelEntered);
    WaitForSingleObject(g_hCancelRelease, 10000);
    SetEvent(g_hCancelled);
    return SCARD_S_SUCCESS;
}
}  // namespace

TEST(CardManagerLock, RecordedStatesAnswerWhileTheCancelBlocks)
{
    g_hCancelled = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    g_hCancelEntered = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    g_hCancelRelease = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_FALSE(CAPIWinSCard::IsLoaded());
    CAPIWinSCard::SCardEstablishContext = FakeEstablish;
    CAPIWinSCard::SCardListReadersA = FakeListReaders;
    CAPIWinSCard::SCardReleaseContext = FakeRelease;
    CAPIWinSCard::SCardFreeMemory = FakeFree;
    CAPIWinSCard::SCardGetStatusChangeA = FakeStatus;
    CAPIWinSCard::SCardCancel = FakeCancel;

    CCardManager::Initialize();
    ASSERT_EQ(1, CCardManager::GetReaderCount());
    CCardManager::StartMonitor(GetCurrentThreadId(), -1, WM_APP);
    Sleep(50);  // the monitor blocks in its status query
    {
        tvltest::TestThread stopper([] { CCardManager::StopMonitor(); });
        ASSERT_TRUE(WaitForSingleObject(g_hCancelEntered, 5000) == WAIT_OBJECT_0);

        int nPresent = -1;
        DWORD cbAtr = 99;
        tvltest::TestThread caller([&] {
            nPresent = CCardManager::IsCardPresent(0);
            BYTE atr[36];
            CCardManager::GetCardATR(0, atr, &cbAtr);
        });
        EXPECT_TRUE(caller.Join(1000)) << "the callers' thread waited for the cancel";
        SetEvent(g_hCancelRelease);
        ASSERT_TRUE(caller.Join(10000));
        ASSERT_TRUE(stopper.Join(10000));
        EXPECT_EQ(0, nPresent);
        EXPECT_EQ(0u, cbAtr);
    }
    CCardManager::Terminate();
    CAPIWinSCard::SCardEstablishContext = nullptr;
    CAPIWinSCard::SCardListReadersA = nullptr;
    CAPIWinSCard::SCardReleaseContext = nullptr;
    CAPIWinSCard::SCardFreeMemory = nullptr;
    CAPIWinSCard::SCardGetStatusChangeA = nullptr;
    CAPIWinSCard::SCardCancel = nullptr;
    CloseHandle(g_hCancelled);
    CloseHandle(g_hCancelEntered);
    CloseHandle(g_hCancelRelease);
}
