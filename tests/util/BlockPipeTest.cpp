// The pipe between two layers: every byte in order, every block full but the
// last whatever the writes, the writer's failure after its data, and a writer
// whose reader gave up still runs to its end.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/support/TestThreads.h"
#include "util/CBlockPipe.h"

namespace {
const size_t kBlock = CBlockPipe::BLOCK_SIZE;

std::string Data(size_t nSize)
{
    std::string s(nSize, '\0');
    for (size_t i = 0; i < nSize; ++i)
        s[i] = static_cast<char>(i * 11 + i / 1001);
    return s;
}
}  // namespace

TEST(BlockPipe, ReaderGetsEveryByteInWholeBlocks)
{
    for (size_t nSize : {size_t(0), kBlock - 1, kBlock, 9 * kBlock + 123}) {
        SCOPED_TRACE(nSize);
        const std::string strData = Data(nSize);
        CBlockPipe pipe;
        tvltest::TestThread writer([&] {
            DWORD dwError = 0;
            // Pieces of odd sizes, more than the ring holds.
            for (size_t i = 0, n = 1; i < strData.size(); i += n, n = n * 3 % 70001 + 1)
                pipe.Write(reinterpret_cast<const uint8_t*>(strData.data()) + i,
                           std::min(n, strData.size() - i), dwError);
            pipe.Close(0);
        });
        std::string strRead;
        std::vector<uint8_t> block(kBlock);
        for (;;) {
            size_t nRead = 0;
            DWORD dwError = 0;
            ASSERT_TRUE(pipe.Read(block.data(), block.size(), nRead, dwError));
            strRead.append(reinterpret_cast<const char*>(block.data()), nRead);
            if (nRead < block.size())
                break;
            EXPECT_LT(strRead.size(), strData.size() + 1);
        }
        EXPECT_TRUE(writer.Join(10000));
        EXPECT_TRUE(strData == strRead);
    }
}

TEST(BlockPipe, WritersFailureComesAfterItsDataAndDrainFreesTheWriter)
{
    const std::string strData = Data(3 * kBlock + 10);
    CBlockPipe pipe;
    tvltest::TestThread writer([&] {
        DWORD dwError = 0;
        pipe.Write(reinterpret_cast<const uint8_t*>(strData.data()), strData.size(), dwError);
        pipe.Close(1234);
    });
    std::vector<uint8_t> all(strData.size() + 1);
    size_t nRead = 0;
    DWORD dwError = 0;
    EXPECT_FALSE(pipe.Read(all.data(), all.size(), nRead, dwError));
    EXPECT_EQ(1234u, dwError);
    EXPECT_EQ(strData.size(), nRead);
    EXPECT_TRUE(writer.Join(10000));

    // Ten times what the ring holds, to a reader that takes a block and gives up.
    CBlockPipe drained;
    bool bWritten = false;
    tvltest::TestThread big([&] {
        std::string strBig = Data(10 * CBlockPipe::BLOCKS * kBlock);
        DWORD dw = 0;
        bWritten = drained.Write(reinterpret_cast<const uint8_t*>(strBig.data()), strBig.size(), dw);
        drained.Close(0);
    });
    EXPECT_TRUE(drained.Read(all.data(), kBlock, nRead, dwError));
    drained.Drain();
    EXPECT_TRUE(big.Join(10000));
    EXPECT_TRUE(bWritten);
}
