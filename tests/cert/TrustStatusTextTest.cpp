// The text of a chain's trust status, as the log shows it.
#include <gtest/gtest.h>

#include <windows.h>

#include "cert/wincrypt/TrustStatusText.h"

TEST(TrustStatusText, NamesTheChainsBitsInTheLogsWords)
{
    static const struct { DWORD error, info; const char* text; } cases[] = {
        {0x21, 0x08, "Error: CERT_TRUST_IS_NOT_TIME_VALID | CERT_TRUST_IS_UNTRUSTED_ROOT "
                     "Info: CERT_TRUST_IS_SELF_SIGNED"},
        {0, 0, ""},
        {0x1, 0, "Error: CERT_TRUST_IS_NOT_TIME_VALID "},
        {0, 0x10001, "Info: CERT_TRUST_HAS_EXACT_MATCH_ISSUER | CERT_TRUST_IS_COMPLEX_CHAIN"},
        {0x2, 0, "Error: Error: CERT_TRUST_IS_NOT_TIME_NESTED "},
        // Offline revocation is written before the partial chain, whatever the bits.
        {0x1010000, 0, "Error: CERT_TRUST_IS_OFFLINE_REVOCATION | CERT_TRUST_IS_PARTIAL_CHAIN "},
        {0x100000, 0x20, ""},
    };
    for (const auto& t : cases)
        EXPECT_EQ(TrustStatusText(t.error, t.info), t.text) << std::hex << t.error << " " << t.info;
}
