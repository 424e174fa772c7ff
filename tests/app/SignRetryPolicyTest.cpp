// The signing pipeline's retry decisions, without a session: each case runs a
// sequence of failures through the library's rows and reads, step by step, the
// wait before the next attempt ("x": no retry, the failure goes to the host),
// the variant a CryptoAPI session would sign with next (B: SignFileC2BANER,
// F: SignFile) and "q" when the failure's code stays out of the log.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/CSignRetryPolicy.h"

namespace {

const uint32_t kBadKeyset = 0x80090016;
const uint32_t kBadSignature = 0x80090006;
const uint32_t kCommError = 0x80100013;
const uint32_t kNoKey = 0x8009000D;
const uint32_t kSecurity = 0x8010006A;

std::vector<uint32_t> Times(int n, uint32_t dwFailure)
{
    return std::vector<uint32_t>(static_cast<size_t>(n), dwFailure);
}

std::vector<uint32_t> Then(std::vector<uint32_t> a, const std::vector<uint32_t>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::string Times(int n, const std::string& strStep)
{
    std::string str;
    for (int i = 0; i < n; ++i)
        str += strStep;
    return str;
}

// Stops at the first refusal, as the pipeline does.
std::string Steps(bool bSignedOnce, const std::vector<uint32_t>& failures)
{
    CSignRetryPolicy::CState state;
    if (bSignedOnce)
        state = CSignRetryPolicy::Signed(state, true);
    std::string str;
    for (uint32_t dwFailure : failures) {
        CSignRetryPolicy::CStep step =
            CSignRetryPolicy::Next(CSignRetryPolicy::Rows(), state, dwFailure);
        state = step.next;
        if (!step.bRetry)
            return str + "x";
        str += std::to_string(step.dwWaitMs);
        str +=
            CSignRetryPolicy::Variant(state, true) == CSession::SIGN_SESSION_KEY_BANER ? "B" : "F";
        str += step.bLogged ? " " : "q ";
    }
    return str;
}

}  // namespace

TEST(SignRetryPolicy, EachRowDecidesItsTriesWaitsAndVariant)
{
    struct Case {
        const char* pszName;
        bool bSignedOnce;  // the session has signed before (the first attempt is over)
        std::vector<uint32_t> failures;
        std::string strSteps;
    } cases[] = {
        {"bad keyset: the first attempt only", false, Times(2, kBadKeyset), "0Bq x"},
        {"bad keyset after the first attempt", true, {kBadKeyset}, "x"},
        {"bad signature: 25 tries, SignFile from the 4th", true, Times(26, kBadSignature),
         Times(3, "2000B ") + Times(22, "2000F ") + "x"},
        {"card communication: as bad signature, without a wait", true, Times(26, kCommError),
         Times(3, "0B ") + Times(22, "0F ") + "x"},
        {"no key: SignFile at once", true, Times(26, kNoKey), Times(25, "1500F ") + "x"},
        {"security violation: 4 tries", true, Times(5, kSecurity), Times(4, "1500F ") + "x"},
        {"the failures share their 25 tries", true, Then(Times(20, kCommError), Times(6, kNoKey)),
         Times(3, "0B ") + Times(17, "0F ") + Times(5, "1500F ") + "x"},
        {"a security violation starts the shared tries again", true,
         Then(Then(Times(24, kCommError), {kSecurity}), Times(26, kCommError)),
         Times(3, "0B ") + Times(21, "0F ") + "1500F " + Times(25, "0F ") + "x"},
        {"no security retry once the shared tries are spent", true,
         Then(Times(25, kNoKey), {kSecurity}), Times(25, "1500F ") + "x"},
        {"any other failure goes to the host", true, {0x80004005}, "x"},
        {"an own error goes to the host", false, {static_cast<uint32_t>(-1002)}, "x"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.strSteps, Steps(c.bSignedOnce, c.failures)) << c.pszName;
}

TEST(SignRetryPolicy, VariantFollowsTheSigningsAndTheSessionKind)
{
    CSignRetryPolicy::CState state;
    // The first attempt signs with SignFile, whatever the kind.
    EXPECT_EQ(CSession::SIGN_CERT_KEY, CSignRetryPolicy::Variant(state, true));
    state = CSignRetryPolicy::Next(CSignRetryPolicy::Rows(), CSignRetryPolicy::Signed(state, true),
                                   kNoKey)
                .next;
    EXPECT_EQ(CSession::SIGN_CERT_KEY, CSignRetryPolicy::Variant(state, true));
    // A CryptoAPI session that signs again forgets the alternate mark and its tries.
    state = CSignRetryPolicy::Signed(state, true);
    EXPECT_EQ(CSession::SIGN_SESSION_KEY_BANER, CSignRetryPolicy::Variant(state, true));
    EXPECT_EQ(0, state.nRetries);
    // A profile session always signs with SignFile and keeps its tries.
    CSignRetryPolicy::CState profile = CSignRetryPolicy::Signed(CSignRetryPolicy::CState(), false);
    profile = CSignRetryPolicy::Next(CSignRetryPolicy::Rows(), profile, kCommError).next;
    EXPECT_EQ(CSession::SIGN_CERT_KEY, CSignRetryPolicy::Variant(profile, false));
    EXPECT_EQ(1, CSignRetryPolicy::Signed(profile, false).nRetries);
}
