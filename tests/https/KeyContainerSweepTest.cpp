// Key containers that a crashed process left behind go when the HTTP/S
// component starts; those of processes still running, and containers of other
// names, stay.
#include <gtest/gtest.h>

#include <windows.h>
#include <wincrypt.h>

#include <string>

#include "platform/httpscomp/CHttpsComponent.h"
#include "platform/httpscomp/CKeyContainerSweeper.h"

namespace {
// A process of this program that never runs: alive until ended.
class CChild {
public:
    CChild()
    {
        wchar_t szExe[MAX_PATH];
        GetModuleFileNameW(NULL, szExe, MAX_PATH);
        std::wstring strCommand = L"\"" + std::wstring(szExe) + L"\" --gtest_list_tests";
        STARTUPINFOW si = {};
        si.cb = sizeof(si);
        m_bStarted = CreateProcessW(NULL, &strCommand[0], NULL, NULL, FALSE, CREATE_SUSPENDED, NULL,
                                    NULL, &si, &m_pi) != FALSE &&
                     CKeyContainerSweeper::StartTime(m_pi.hProcess, m_ullStart);
    }
    ~CChild()
    {
        End();
        if (m_pi.hProcess != NULL) {
            CloseHandle(m_pi.hProcess);
            CloseHandle(m_pi.hThread);
        }
    }
    void End()
    {
        if (m_pi.hProcess != NULL && WaitForSingleObject(m_pi.hProcess, 0) != WAIT_OBJECT_0) {
            TerminateProcess(m_pi.hProcess, 0);
            WaitForSingleObject(m_pi.hProcess, 10000);
        }
    }
    bool IsStarted() const { return m_bStarted; }
    DWORD Id() const { return m_pi.dwProcessId; }
    ULONGLONG Start() const { return m_ullStart; }

private:
    PROCESS_INFORMATION m_pi = {};
    ULONGLONG m_ullStart = 0;
    bool m_bStarted = false;
};

bool MakeContainer(const std::wstring& strName)
{
    HCRYPTPROV hProv = 0;
    if (!CryptAcquireContextW(&hProv, strName.c_str(), MS_ENHANCED_PROV_W, PROV_RSA_FULL, CRYPT_NEWKEYSET))
        return false;
    HCRYPTKEY hKey = 0;
    bool bOk = CryptGenKey(hProv, AT_KEYEXCHANGE, 1024 << 16, &hKey) != FALSE;
    if (bOk)
        CryptDestroyKey(hKey);
    CryptReleaseContext(hProv, 0);
    return bOk;
}

bool ContainerExists(const std::wstring& strName)
{
    HCRYPTPROV hProv = 0;
    if (!CryptAcquireContextW(&hProv, strName.c_str(), MS_ENHANCED_PROV_W, PROV_RSA_FULL, 0))
        return false;
    CryptReleaseContext(hProv, 0);
    return true;
}

void DeleteContainer(const std::wstring& strName)
{
    HCRYPTPROV hProv = 0;
    CryptAcquireContextW(&hProv, strName.c_str(), MS_ENHANCED_PROV_W, PROV_RSA_FULL, CRYPT_DELETEKEYSET);
}

std::wstring OldName(DWORD dwProcessId)
{
    wchar_t szName[64];
    swprintf(szName, 64, L"tvlhttps-%08lx-%08lx-%08lx", static_cast<unsigned long>(dwProcessId), 0x1234abcdUL, 7UL);
    return szName;
}
}  // namespace

TEST(KeyContainerSweep, StaleContainersGoAtStartUpAndLiveOnesStay)
{
    // The running process first, so that the ended one cannot take its id.
    CChild running, ended;
    ASSERT_TRUE(running.IsStarted());
    ASSERT_TRUE(ended.IsStarted());
    ended.End();
    const struct {
        const char* pszCase;
        std::wstring strName;
        bool bStays;
    } aCases[] = {
        {"process ended", CKeyContainerSweeper::NameFor(ended.Id(), ended.Start(), 1), false},
        {"process ended, older name", OldName(ended.Id()), false},
        {"id now of a process started later", CKeyContainerSweeper::NameFor(running.Id(), running.Start() - 1, 2),
         false},
        {"process running", CKeyContainerSweeper::NameFor(running.Id(), running.Start(), 3), true},
        {"process running, older name", OldName(running.Id()), true},
        {"this process", CKeyContainerSweeper::NewName(), true},
        {"not ours", L"otro-" + CKeyContainerSweeper::NameFor(ended.Id(), ended.Start(), 4), true},
        {"ours in part", CKeyContainerSweeper::NameFor(ended.Id(), ended.Start(), 5) + L"-x", true},
    };
    for (const auto& c : aCases)
        ASSERT_TRUE(MakeContainer(c.strName)) << c.pszCase;

    // The component's start-up.
    HINSTANCE hInstance = GetModuleHandleW(NULL);
    CHttpsComponent::UnregisterWindowClass(hInstance);
    ASSERT_TRUE(CHttpsComponent::RegisterWindowClass(hInstance));
    CHttpsComponent::UnregisterWindowClass(hInstance);

    for (const auto& c : aCases) {
        EXPECT_EQ(ContainerExists(c.strName), c.bStays) << c.pszCase;
        DeleteContainer(c.strName);
    }
}
