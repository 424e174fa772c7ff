// The library's own threads hold the module that carries their code while they
// run, and give it back however they end: by themselves, or killed by their
// owner after a bounded wait. A system DLL that nothing else loads stands in
// for the library here.
#include <gtest/gtest.h>

#include "platform/framework/CLibraryThread.h"

namespace {
const char kModule[] = "msimg32.dll";

struct Work {
    HANDLE hRelease;  // the thread's work ends when this is set
    volatile LONG bRan;
};

DWORD RunWork(void* pParam)
{
    Work* p = static_cast<Work*>(pParam);
    InterlockedExchange(&p->bRan, 1);
    WaitForSingleObject(p->hRelease, INFINITE);
    return 7;
}

// A reference of the module's own, as CWinApp::PinModule takes one.
HMODULE Pin()
{
    HMODULE h = nullptr;
    return GetModuleHandleExA(0, kModule, &h) ? h : nullptr;
}

class LibraryThreadTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(nullptr, GetModuleHandleA(kModule)) << "the stand-in module must be unused";
        m_hModule = LoadLibraryA(kModule);
        ASSERT_NE(nullptr, m_hModule);
        m_work.hRelease = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        m_work.bRan = 0;
    }
    void TearDown() override
    {
        SetEvent(m_work.hRelease);
        CloseHandle(m_work.hRelease);
    }
    // Drops the test's own reference: true when the module then goes away,
    // that is, when no thread reference was left behind.
    bool ModuleGoes()
    {
        FreeLibrary(m_hModule);
        bool bGone = GetModuleHandleA(kModule) == nullptr;
        while (!bGone && GetModuleHandleA(kModule) != nullptr)
            FreeLibrary(GetModuleHandleA(kModule));
        return bGone;
    }
    HMODULE m_hModule = nullptr;
    Work m_work;
};
}  // namespace

TEST_F(LibraryThreadTest, AThreadThatEndsGivesTheModuleBack)
{
    CLibraryThread thread;
    ASSERT_EQ(0u, thread.Start(RunWork, &m_work, Pin()));
    EXPECT_NE(0u, thread.GetThreadId());
    EXPECT_FALSE(thread.Wait(50));
    SetEvent(m_work.hRelease);
    ASSERT_TRUE(thread.Wait(5000));
    DWORD dwExit = 0;
    EXPECT_TRUE(GetExitCodeThread(thread.GetHandle(), &dwExit));
    EXPECT_EQ(7u, dwExit);
    thread.Close();
    EXPECT_TRUE(ModuleGoes());
}

TEST_F(LibraryThreadTest, AThreadKilledByItsOwnerGivesTheModuleBack)
{
    CLibraryThread thread;
    ASSERT_EQ(0u, thread.Start(RunWork, &m_work, Pin()));
    while (!m_work.bRan)
        Sleep(1);
    EXPECT_FALSE(thread.Wait(100));
    EXPECT_TRUE(thread.Terminate());
    EXPECT_TRUE(thread.Wait(0));
    // A second kill, of a thread already gone, changes nothing.
    EXPECT_TRUE(thread.Terminate());
    thread.Close();
    EXPECT_TRUE(ModuleGoes());
}

TEST_F(LibraryThreadTest, AKillAfterTheThreadEndedGivesNothingBackTwice)
{
    CLibraryThread thread;
    ASSERT_EQ(0u, thread.Start(RunWork, &m_work, Pin()));
    SetEvent(m_work.hRelease);
    ASSERT_TRUE(thread.Wait(5000));
    EXPECT_TRUE(thread.Terminate());
    thread.Close();
    // The test's own reference is still there: nothing was released twice.
    EXPECT_NE(nullptr, GetModuleHandleA(kModule));
    EXPECT_TRUE(ModuleGoes());
}
