#include "tests/https/HttpsTestSupport.h"

#include <algorithm>
#include <utility>
#include <vector>

// A 64-bit host gets the certificate context's address whole: a handle that
// travelled as 32 bits would point elsewhere once the context lies above
// 4 GiB. Wine hands out low addresses first, so the test makes sure the
// context cannot be placed below 4 GiB before asking for it.
#ifdef _WIN64
namespace {

const ULONG_PTR k4GiB = 0x100000000ULL;

// Reserves every free region below 4 GiB and uses up what the process heap
// (where the platform allocates certificate contexts) still has there, so
// that every later allocation lands above.
class CLowAddressesTaken {
public:
    CLowAddressesTaken()
    {
        m_vecReserved.reserve(256);
        SYSTEM_INFO si;
        GetSystemInfo(&si);
        const ULONG_PTR nGrain = si.dwAllocationGranularity;
        ULONG_PTR nAddress = reinterpret_cast<ULONG_PTR>(si.lpMinimumApplicationAddress);
        MEMORY_BASIC_INFORMATION mbi;
        while (nAddress < k4GiB &&
               VirtualQuery(reinterpret_cast<void*>(nAddress), &mbi, sizeof(mbi)) == sizeof(mbi)) {
            ULONG_PTR nBase = reinterpret_cast<ULONG_PTR>(mbi.BaseAddress);
            ULONG_PTR nEnd = std::min<ULONG_PTR>(nBase + mbi.RegionSize, k4GiB);
            if (mbi.State == MEM_FREE) {
                ULONG_PTR nStart = (nBase + nGrain - 1) / nGrain * nGrain;
                if (nStart < nEnd) {
                    void* p = VirtualAlloc(reinterpret_cast<void*>(nStart), nEnd - nStart, MEM_RESERVE,
                                           PAGE_NOACCESS);
                    if (p != nullptr && m_vecReserved.size() < m_vecReserved.capacity())
                        m_vecReserved.push_back(p);
                }
            }
            nAddress = nBase + mbi.RegionSize;
        }
        // Every heap of the process (the platform's and the C runtime's), every
        // size class, largest first: a heap keeps small blocks of one size
        // apart from the others'.
        std::vector<SIZE_T> vecSizes = {65536, 16384, 8192, 4096};
        vecSizes.reserve(512);
        for (SIZE_T cb = 4096 - 16; cb >= sizeof(Block); cb -= 16)
            vecSizes.push_back(cb);
        HANDLE ahHeaps[64];
        DWORD nHeaps = GetProcessHeaps(64, ahHeaps);
        for (DWORD h = 0; h < nHeaps && h < 64; ++h) {
            for (SIZE_T cb : vecSizes) {
                for (int i = 0; i < 1 << 20; ++i) {
                    void* p = HeapAlloc(ahHeaps[h], 0, cb);
                    if (p == nullptr)
                        break;
                    if (reinterpret_cast<ULONG_PTR>(p) >= k4GiB) {
                        HeapFree(ahHeaps[h], 0, p);
                        break;
                    }
                    // Kept in the blocks themselves: a vector growing here
                    // would give low blocks back to the C runtime's heap.
                    Block* pBlock = static_cast<Block*>(p);
                    pBlock->hHeap = ahHeaps[h];
                    pBlock->pNext = m_pBlocks;
                    m_pBlocks = pBlock;
                }
            }
        }
    }
    ~CLowAddressesTaken()
    {
        while (m_pBlocks != nullptr) {
            Block* pNext = m_pBlocks->pNext;
            HeapFree(m_pBlocks->hHeap, 0, m_pBlocks);
            m_pBlocks = pNext;
        }
        for (void* p : m_vecReserved)
            VirtualFree(p, 0, MEM_RELEASE);
    }

private:
    std::vector<void*> m_vecReserved;
    struct Block {
        HANDLE hHeap;
        Block* pNext;
    };
    Block* m_pBlocks = nullptr;
};

}  // namespace

// Everything from the component's window on is made after the low addresses
// are taken, as in a host that has used them up before it asks.
using SslHandleWidth = HttpsTest;
TEST_F(SslHandleWidth, HandleAbove4GiBReachesTheHostWhole)
{
    const TestPkiCert& auth = PkiCert("dni-auth");
    CLowAddressesTaken taken;
    CHTTPSDlg dlg;
    ASSERT_TRUE(dlg.Create(NULL));
    dlg.GetHTTPS().SetSSLCertStore("MY");
    dlg.GetHTTPS().SetSSLCertSubject(auth.pszDisplayName);
    INT_PTR nHandle = dlg.GetHTTPS().GetSSLCertHandle();
    ASSERT_GE(static_cast<ULONG_PTR>(nHandle), k4GiB) << "cut to 32 bits, or the context was placed below 4 GiB after all";
    EXPECT_EQ(Thumbprint(AsCertificate(nHandle)), auth.pszThumbprint);
}
#endif
