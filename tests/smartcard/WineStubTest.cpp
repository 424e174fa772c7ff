// Under Wine's own winscard.dll (a stub whose context always fails and whose
// status query and memory release kill the process) the library must fail
// its smart-card start cleanly and work on without card monitoring. This
// executable has no winscard bridge beside it.
#include <gtest/gtest.h>

#include "SmartCardTestSupport.h"
#include "host/Messages.h"
#include "smartcard/CAPIWinSCard.h"
#include "smartcard/CCardManager.h"

TEST(WineStubWinSCard, StartFailsCleanlyAndTheLibraryRunsWithoutMonitor)
{
    tvltest::LogCapture log("smartcard");
    for (int nRound = 0; nRound < 2; ++nRound) {
        SCOPED_TRACE(nRound);
        CaughtFailure load = Capture([] { CAPIWinSCard::Load(); });
        ASSERT_FALSE(load.bThrown) << load.strContext;
        ASSERT_TRUE(CAPIWinSCard::IsLoaded());

        CaughtFailure init = Capture([] { CCardManager::Initialize(); });
        EXPECT_TRUE(init.bThrown);
        EXPECT_EQ(init.nKind, EXC_WINDOWS);
        EXPECT_EQ(init.strContext, "CCardManager::Initialize");
        EXPECT_EQ(CCardManager::GetReaderCount(), 0);

        // What the application does next must not reach the stub's fatal calls.
        EXPECT_FALSE(Capture([] {
                         CCardManager::StartMonitor(GetCurrentThreadId(), -1, WM_CARD_EVENT);
                     }).bThrown);
        char szName[256] = "x";
        char szProvider[256] = "x";
        EXPECT_EQ(CCardManager::FindCardReader(szName, szProvider), -1);
        EXPECT_STREQ(szName, "");
        EXPECT_STREQ(szProvider, "");
        EXPECT_EQ(CCardManager::IsCardPresent(0), 0);
        EXPECT_FALSE(Capture([] { CCardManager::StopMonitor(); }).bThrown);
        CCardManager::Terminate();
        EXPECT_FALSE(Capture([] { CAPIWinSCard::Unload(); }).bThrown);
        EXPECT_FALSE(CAPIWinSCard::IsLoaded());
    }
    EXPECT_EQ(log.Count("API WinSCard cargada correctamente"), 2);
}

namespace {
LONG WINAPI MarkerCancel(SCARDCONTEXT)
{
    return static_cast<LONG>(SCARD_E_NO_SERVICE);
}
}  // namespace

TEST(WineStubWinSCard, LoadFunctionOptionalAndRequired)
{
    tvltest::LogCapture log("smartcard");
    ASSERT_FALSE(Capture([] { CAPIWinSCard::Load(); }).bThrown);
    // A second Load while loaded changes nothing: an entry replaced in between
    // stays replaced (resolving it again would give the same address and prove
    // nothing).
    CAPIWinSCard::PFN_SCardCancel pfnLoaded = CAPIWinSCard::SCardCancel;
    ASSERT_TRUE(pfnLoaded != nullptr);
    CAPIWinSCard::PFN_SCardCancel pfnMarker = MarkerCancel;
    CAPIWinSCard::SCardCancel = pfnMarker;
    ASSERT_FALSE(Capture([] { CAPIWinSCard::Load(); }).bThrown);
    EXPECT_TRUE(CAPIWinSCard::SCardCancel == pfnMarker);
    CAPIWinSCard::SCardCancel = pfnLoaded;
    EXPECT_EQ(log.Count("API WinSCard cargada correctamente"), 1);

    EXPECT_TRUE(CAPIWinSCard::LoadFunction("SCardEstablishContext", true) != nullptr);
    EXPECT_TRUE(CAPIWinSCard::LoadFunction("SCardNoSuchEntry", false) == nullptr);
    EXPECT_FALSE(log.Contains("No se ha cargado la funcion: SCardNoSuchEntry"));

    CaughtFailure missing = Capture([] { CAPIWinSCard::LoadFunction("SCardNoSuchEntry", true); });
    EXPECT_TRUE(missing.bThrown);
    EXPECT_EQ(missing.nKind, EXC_WINDOWS);
    EXPECT_EQ(missing.strContext, "CAPIWinSCard::LoadFunction");
    EXPECT_TRUE(log.Contains("No se ha cargado la funcion: SCardNoSuchEntry"));

    EXPECT_FALSE(Capture([] { CAPIWinSCard::Unload(); }).bThrown);
    // Unloading twice is harmless.
    EXPECT_FALSE(Capture([] { CAPIWinSCard::Unload(); }).bThrown);
}
