// The digest that hashes on a thread of its own: the inner digest sees every
// byte in order, on that thread once there is more than a block, and its
// failures come back with their error; no thread or handle outlives it.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "cert/wincrypt/CAPIWincrypt.h"
#include "cert/wincrypt/CThreadedDigest.h"
#include "cert/wincrypt/CWincryptPkcs7Crypto.h"
#include "tests/support/ProcessCounts.h"

namespace {
const size_t kBlock = CThreadedDigest::BLOCK_SIZE;

// Keeps what it is given; fails, with error 0x1234, at the block that would
// take it past nFailAt bytes.
class CRecordingDigest : public CPkcs7Digest {
public:
    CRecordingDigest(std::string& strSeen, std::vector<DWORD>& threads, size_t nFailAt)
        : m_strSeen(strSeen), m_threads(threads), m_nFailAt(nFailAt)
    {
    }
    bool Update(const uint8_t* pData, size_t nSize) override
    {
        m_threads.push_back(GetCurrentThreadId());
        if (m_strSeen.size() + nSize > m_nFailAt) {
            SetLastError(0x1234);
            return false;
        }
        m_strSeen.append(reinterpret_cast<const char*>(pData), nSize);
        return true;
    }
    bool Final(std::vector<uint8_t>& value) override
    {
        value.assign(m_strSeen.begin(), m_strSeen.end());
        return true;
    }

private:
    std::string& m_strSeen;
    std::vector<DWORD>& m_threads;
    size_t m_nFailAt;
};

std::string Data(size_t nSize)
{
    std::string s(nSize, '\0');
    for (size_t i = 0; i < nSize; ++i)
        s[i] = static_cast<char>(i * 7 + i / 4099);
    return s;
}

// Feeds strData in pieces of nPiece bytes; false at the first refused piece.
bool Feed(CPkcs7Digest& digest, const std::string& strData, size_t nPiece)
{
    for (size_t i = 0; i < strData.size(); i += nPiece) {
        if (!digest.Update(reinterpret_cast<const uint8_t*>(strData.data()) + i,
                           std::min(nPiece, strData.size() - i)))
            return false;
    }
    return true;
}
}  // namespace

TEST(ThreadedDigest, TheInnerDigestSeesEveryByteInOrder)
{
    struct Case {
        size_t nSize, nPiece;
        bool bOnThread;  // more than a block: hashed on the digest's thread
    } cases[] = {
        {0, 4096, false},
        {kBlock - 1, 4096, false},
        {kBlock, kBlock, true},
        {kBlock + 1, 4096, true},
        {(CThreadedDigest::BLOCKS * 3 + 1) * kBlock + 17, 4096, true},
        {3 * kBlock + 5, 1000003, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.nSize) + " in pieces of " + std::to_string(c.nPiece));
        // After the trace: the test framework's first one starts a thread of its own.
        const int nThreads = tvltest::CountProcessThreads();
        const std::string strData = Data(c.nSize);
        std::string strSeen;
        std::vector<DWORD> threads;
        std::vector<uint8_t> value;
        {
            CThreadedDigest digest(std::unique_ptr<CPkcs7Digest>(
                new CRecordingDigest(strSeen, threads, SIZE_MAX)));
            ASSERT_TRUE(Feed(digest, strData, c.nPiece));
            ASSERT_TRUE(digest.Final(value));
            EXPECT_FALSE(digest.Update(reinterpret_cast<const uint8_t*>("x"), 1));
        }
        EXPECT_TRUE(strData == strSeen);
        EXPECT_TRUE(std::string(value.begin(), value.end()) == strData);
        bool bOther = std::any_of(threads.begin(), threads.end(),
                                  [](DWORD id) { return id != GetCurrentThreadId(); });
        EXPECT_EQ(c.bOnThread, bOther);
        EXPECT_EQ(nThreads, tvltest::SettledThreads(nThreads));
    }
}

namespace {
// The platform's MD5 of strData, in one call; empty when the platform fails.
std::vector<uint8_t> OneShotMd5(const std::string& strData)
{
    std::vector<uint8_t> value;
    HCRYPTPROV hProv = 0;
    if (!CryptAcquireContextA(&hProv, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT))
        return value;
    HCRYPTHASH hHash = 0;
    BYTE abValue[16];
    DWORD cb = sizeof(abValue);
    if (CryptCreateHash(hProv, CALG_MD5, 0, 0, &hHash)) {
        if (CryptHashData(hHash, reinterpret_cast<const BYTE*>(strData.data()),
                          static_cast<DWORD>(strData.size()), 0) &&
            CryptGetHashParam(hHash, HP_HASHVAL, abValue, &cb, 0))
            value.assign(abValue, abValue + cb);
        CryptDestroyHash(hHash);
    }
    CryptReleaseContext(hProv, 0);
    return value;
}
}  // namespace

TEST(ThreadedDigest, GivesTheValueOfThePlatformsDigest)
{
    CAPIWincrypt::Load();
    CWincryptPkcs7Crypto crypto;
    ASSERT_TRUE(crypto.IsReady());
    const std::string strData = Data(5 * kBlock + 333);
    std::unique_ptr<CPkcs7Digest> pDigest = crypto.CreateDigest("1.2.840.113549.2.5");
    ASSERT_TRUE(pDigest);
    ASSERT_TRUE(Feed(*pDigest, strData, 4096));
    std::vector<uint8_t> value;
    ASSERT_TRUE(pDigest->Final(value));
    std::vector<uint8_t> expected = OneShotMd5(strData);
    ASSERT_EQ(16u, expected.size());
    EXPECT_EQ(expected, value);
}

// A thread the system will not give: the content is hashed on the caller's
// thread, every byte once, whichever piece reached the first block.
TEST(ThreadedDigest, WithoutItsThreadEveryByteIsHashedOnce)
{
    CAPIWincrypt::Load();
    CWincryptPkcs7Crypto crypto;
    ASSERT_TRUE(crypto.IsReady());
    struct Case {
        size_t nSize, nPiece;
    } cases[] = {
        {kBlock, kBlock},
        {kBlock, 4096},
        {kBlock + 1, 4096},
        {2 * kBlock, 3 * kBlock / 4},
        {5 * kBlock + 333, 1000003},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.nSize) + " in pieces of " + std::to_string(c.nPiece));
        const int nThreads = tvltest::CountProcessThreads();
        const std::string strData = Data(c.nSize);

        std::unique_ptr<CPkcs7Digest> pDigest = crypto.CreateDigest("1.2.840.113549.2.5");
        CThreadedDigest* pThreaded = dynamic_cast<CThreadedDigest*>(pDigest.get());
        ASSERT_NE(nullptr, pThreaded);
        pThreaded->RefuseThread(ERROR_NOT_ENOUGH_MEMORY);
        ASSERT_TRUE(Feed(*pDigest, strData, c.nPiece));
        std::vector<uint8_t> value;
        ASSERT_TRUE(pDigest->Final(value));
        std::vector<uint8_t> expected = OneShotMd5(strData);
        ASSERT_EQ(16u, expected.size());
        EXPECT_EQ(expected, value);
        pDigest.reset();

        std::string strSeen;
        std::vector<DWORD> threads;
        {
            CThreadedDigest digest(
                std::unique_ptr<CPkcs7Digest>(new CRecordingDigest(strSeen, threads, SIZE_MAX)));
            digest.RefuseThread(ERROR_NOT_ENOUGH_MEMORY);
            ASSERT_TRUE(Feed(digest, strData, c.nPiece));
            ASSERT_TRUE(digest.Final(value));
        }
        EXPECT_EQ(strData.size(), strSeen.size());
        EXPECT_TRUE(strData == strSeen);
        EXPECT_TRUE(std::all_of(threads.begin(), threads.end(),
                                [](DWORD id) { return id == GetCurrentThreadId(); }));
        EXPECT_EQ(nThreads, tvltest::SettledThreads(nThreads));
    }
}

TEST(ThreadedDigest, AFailureComesBackWithItsError)
{
    struct Case {
        const char* pszWhat;
        size_t nSize, nFailAt;
        bool bStopEarly;  // destroyed without Final
    } cases[] = {
        {"small, at Final", kBlock / 2, 100, false},
        {"on the thread, first block", 6 * kBlock, 10, false},
        {"on the thread, a later block", 6 * kBlock, 3 * kBlock + 1, false},
        {"on the thread, the last short block", 2 * kBlock + 5, 2 * kBlock + 1, false},
        {"dropped after a failure", 6 * kBlock, kBlock, true},
        {"dropped while hashing", 6 * kBlock, SIZE_MAX, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        const int nThreads = tvltest::CountProcessThreads();
        std::string strSeen;
        std::vector<DWORD> threads;
        {
            CThreadedDigest digest(
                std::unique_ptr<CPkcs7Digest>(new CRecordingDigest(strSeen, threads, c.nFailAt)));
            const std::string strData = Data(c.nSize);
            SetLastError(0);
            std::vector<uint8_t> value;
            bool bDone = Feed(digest, strData, 4096) && (c.bStopEarly || digest.Final(value));
            if (c.bStopEarly) {
                // Dropped before the end: whether the failure had come back by
                // then depends on the thread; nothing may hang or stay behind.
                EXPECT_GE(c.nFailAt, strSeen.size());
            } else if (c.nFailAt != SIZE_MAX) {
                EXPECT_FALSE(bDone);
                EXPECT_EQ(0x1234u, GetLastError());
                // Nothing past the failure reaches the inner digest.
                EXPECT_GE(c.nFailAt, strSeen.size());
            } else {
                EXPECT_TRUE(bDone);
            }
        }
        EXPECT_EQ(nThreads, tvltest::SettledThreads(nThreads));
    }
}
