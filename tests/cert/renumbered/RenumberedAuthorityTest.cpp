// This executable carries the test authorities under the resource ids 3001 to
// 3007 (renumbered.conf): the library finds them under the ids its trust data
// names, none reads as manipulated, and each still issues what it issued.
#include "tests/cert/CertTestSupport.h"

#include "util/CHiddenStrings.h"
#include "cert/wincrypt/CAuthorityStore.h"

using namespace certtest;

namespace
{

class RenumberedAuthorities : public CertTest
{
};

TEST_F(RenumberedAuthorities, AreFoundUnderTheConfiguredIds)
{
    LogCapture log;
    for (int i = 0; i < 7; ++i)
    {
        SCOPED_TRACE(i);
        EXPECT_EQ(CAuthorityStore::GetResourceId(i), 3001 + i);
        std::unique_ptr<CWincryptCertificate> a;
        CaughtFailure e = Capture([&] {
            a.reset(CAuthorityStore::LoadAuthorityCertificate(3001 + i, CHiddenStrings::GetString(2 + i)));
        });
        EXPECT_FALSE(e.bThrown) << e.strContext;
        EXPECT_TRUE(a);
    }
    static const struct { const char* name; int index; } issued[] = {
        {"env-prod-g1", 0}, {"env-prod-g2", 1}, {"dni-sign", 2}, {"env-preprod-g2", 3},
        {"env-preprod-g1", 4}, {"env-dev-g2", 5}, {"env-dev-g1", 6}, {"sectorial", -1}};
    for (const auto& t : issued)
    {
        SCOPED_TRACE(t.name);
        int index = -2;
        CaughtFailure e = Capture([&] { index = CAuthorityStore::FindIssuingAuthority(PkiCertificate(t.name).get()); });
        EXPECT_FALSE(e.bThrown) << e.strContext;
        EXPECT_EQ(index, t.index);
    }
    EXPECT_EQ(log.Text().find("manipulado"), std::string::npos);
}

}  // namespace
