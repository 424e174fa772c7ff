// The embedded authorities (resources of this executable) and the trust fallback.
#include "tests/cert/CertTestSupport.h"

#include <set>

#include "util/CHiddenStrings.h"
#include "cert/wincrypt/CAuthorityStore.h"

using namespace certtest;

namespace
{

class AuthorityStore : public CertTest
{
};

TEST_F(AuthorityStore, EveryAuthorityLoadsWithItsFingerprint)
{
    static const int resids[7] = {1036, 1039, 1041, 1038, 1035, 1037, 1034};
    for (int i = 0; i < 7; ++i)
    {
        SCOPED_TRACE(i);
        EXPECT_EQ(CAuthorityStore::GetResourceId(i), resids[i]);
        std::string fingerprint = CHiddenStrings::GetString(2 + i);
        std::unique_ptr<CWincryptCertificate> a(CAuthorityStore::LoadAuthorityCertificate(resids[i], fingerprint));
        ASSERT_TRUE(a);
        EXPECT_EQ(a->GetThumbprint(), fingerprint);
        EXPECT_EQ(a->GetKeyUsage() & KU_KEY_CERT_SIGN, KU_KEY_CERT_SIGN);
    }
    EXPECT_EQ(CAuthorityStore::GetResourceId(-1), 0);
    EXPECT_EQ(CAuthorityStore::GetResourceId(7), 0);
}

TEST_F(AuthorityStore, WrongFingerprintGivesNothingAndIsLogged)
{
    LogCapture log;
    std::string fingerprint = CHiddenStrings::GetString(2);
    for (std::string wrong : {CHiddenStrings::GetString(3), std::string(), fingerprint + ":00"})
    {
        log.Clear();
        EXPECT_EQ(CAuthorityStore::LoadAuthorityCertificate(1036, wrong), nullptr);
        EXPECT_EQ(log.Lines(), std::vector<std::string>{"Certificado en tarvosel manipulado"});
    }
    // The comparison is exact.
    for (char& c : fingerprint)
        c = (char)tolower((unsigned char)c);
    EXPECT_EQ(CAuthorityStore::LoadAuthorityCertificate(1036, fingerprint), nullptr);
}

TEST_F(AuthorityStore, MissingResourceThrows)
{
    CaughtFailure e = Capture(
        [] { CAuthorityStore::LoadAuthorityCertificate(1040, CHiddenStrings::GetString(2)); });
    ASSERT_TRUE(e.bThrown);
    EXPECT_EQ(e.nKind, EXC_WINDOWS);
    EXPECT_EQ(e.nSubCode, (long)ERROR_RESOURCE_NAME_NOT_FOUND);
}

TEST_F(AuthorityStore, IssuingAuthorityOfEveryTestCertificate)
{
    // The index's authority column: expired still counts (no time check here);
    // sectorial chains to index 1 through a CA that is not embedded.
    for (const TestPkiCert& rec : g_aTestPki)
    {
        SCOPED_TRACE(rec.pszName);
        LogCapture log;
        std::unique_ptr<CWincryptCertificate> c = PkiCertificate(rec.pszName);
        int index = CAuthorityStore::FindIssuingAuthority(c.get());
        EXPECT_EQ(index, rec.nAuthority);
        std::vector<std::string> expected;
        if (index >= 0)
            expected = {"Emisor reconocido. Entorno: " + AuthorityLabel(index), "...OK"};
        EXPECT_EQ(log.Lines(), expected);
    }
}

TEST_F(AuthorityStore, SubordinateIsProductionAndExpiredIsStillRecognised)
{
    int index = CAuthorityStore::FindIssuingAuthority(PkiCertificate("dni-sign").get());
    EXPECT_EQ(index, 2);
    EXPECT_NE(AuthorityLabel(index).find("prod"), std::string::npos);
    EXPECT_EQ(CAuthorityStore::FindIssuingAuthority(PkiCertificate("expired").get()), 2);
    EXPECT_EQ(CAuthorityStore::FindIssuingAuthority(PkiCertificate("sectorial").get()),
              (int)CAuthorityStore::NO_AUTHORITY);
    CWincryptCertificate empty;
    EXPECT_EQ(CAuthorityStore::FindIssuingAuthority(&empty), (int)CAuthorityStore::NO_AUTHORITY);
    EXPECT_EQ(CAuthorityStore::FindIssuingAuthority(nullptr), (int)CAuthorityStore::NO_AUTHORITY);
}

TEST_F(AuthorityStore, LabelsNameTheEnvironment)
{
    std::set<std::string> labels;
    for (int i = 0; i < 7; ++i)
    {
        std::string label = AuthorityLabel(i);
        EXPECT_EQ(label.find("prod") != std::string::npos, i <= 2) << i << " " << label;
        EXPECT_NE(label, "ca no incluida en almacen interno");
        labels.insert(label);
    }
    EXPECT_EQ(labels.size(), 7u);
    for (int i : {-1, 7, 100})
        EXPECT_EQ(AuthorityLabel(i), "ca no incluida en almacen interno") << i;
}

TEST_F(AuthorityStore, FallbackSearchesTheListsOfTheEnvironment)
{
    // Environments: 0 production (list 9), 1 integration (11), 2 pre-production (10),
    // anything else production; lists 1, 12 and 13 always.
    static const struct { const char* name; bool recognised[4]; } cases[] = {
        //                    env 0  env 1  env 2  env 7
        {"sectorial",        {true,  true,  true,  true}},   // list 1
        {"fallback-prod",    {true,  false, false, true}},   // list 9
        {"fallback-integ",   {false, true,  false, false}},  // list 11
        {"fallback-preprod", {false, false, true,  false}},  // list 10
        {"fallback-comun",   {true,  true,  true,  true}},   // list 12, upper case
        {"dni-auth",         {false, false, false, false}},  // trusted, on no list
        // Trusted chains whose issuer is only a piece of a list text, never a whole entry.
        {"short-issuer-c",   {false, false, false, false}},  // "C=ES"
        {"short-issuer-o",   {false, false, false, false}},  // "O=Ormavia, C=ES"
    };
    const int envs[4] = {0, 1, 2, 7};
    for (const auto& t : cases)
    {
        for (int i = 0; i < 4; ++i)
        {
            SCOPED_TRACE(std::string(t.name) + " env " + std::to_string(envs[i]));
            LogCapture log;
            EXPECT_EQ(CAuthorityStore::IsRecognisedIssuer(PkiCertificate(t.name).get(), envs[i]), t.recognised[i]);
            std::vector<std::string> expected = {
                "...no se ha encontrado el certificado raíz apropiado. Verificando ruta de certificación...",
                "...OK", "Comprobando emisor..."};
            if (t.recognised[i])
            {
                expected.push_back("Emisor reconocido");
                expected.push_back("...OK");
            }
            else
            {
                expected.push_back("...emisor no reconocido");
            }
            EXPECT_EQ(log.Lines(), expected);
        }
    }
}

TEST(IssuerList, OnlyWholeEntriesMatchWhateverTheirCase)
{
    static const struct { const char* list; const char* issuer; bool listed; } cases[] = {
        {"CN=CA Uno, O=Ormavia, C=ES", "CN=CA Uno, O=Ormavia, C=ES", true},
        {"CN=CA Uno, O=Ormavia, C=ES", "cn=ca uno, o=ORMAVIA, c=es", true},
        {"CN=CA Uno, O=Ormavia, C=ES", "C=ES", false},
        {"CN=CA Uno, O=Ormavia, C=ES", "O=Ormavia, C=ES", false},
        {"CN=CA Uno, O=Ormavia, C=ES", "CN=CA Uno, O=Ormavia", false},
        {"CN=CA Uno, O=Ormavia, C=ES", "CN=CA Uno, O=Ormavia, C=ESP", false},
        {"CN=CA Uno, C=ES | CN=CA Dos, C=ES", "CN=CA Dos, C=ES", true},
        {"CN=CA Uno, C=ES | CN=CA Dos, C=ES", "CN=CA Uno, C=ES", true},
        {"CN=CA Uno, C=ES | CN=CA Dos, C=ES", "CN=CA Uno, C=ES | CN=CA Dos, C=ES", false},
        {"CN=CA Uno, C=ES | CN=CA Dos, C=ES", "C=ES | CN=CA Dos", false},
        {"  CN=CA Uno, C=ES  |CN=CA Dos, C=ES", "CN=CA Uno, C=ES", true},
        {"CN=Autoridad José, C=ES", "CN=AUTORIDAD JOSÉ, C=ES", true},
        {"CN=CA Uno, C=ES", "", false},
        {"", "", false},
        {" | ", "", false},
    };
    for (const auto& t : cases)
        EXPECT_EQ(IssuerListHasEntry(t.list, t.issuer), t.listed) << "'" << t.issuer << "' in '" << t.list << "'";
}

TEST_F(AuthorityStore, FallbackRefusesAnUntrustedChainEvenWhenListed)
{
    for (int env : {0, 1, 2, 7})
    {
        SCOPED_TRACE(env);
        LogCapture log;
        EXPECT_FALSE(CAuthorityStore::IsRecognisedIssuer(PkiCertificate("untrusted").get(), env));
        std::vector<std::string> lines = log.Lines();
        ASSERT_GE(lines.size(), 3u);
        EXPECT_EQ(lines.front(),
                  "...no se ha encontrado el certificado raíz apropiado. Verificando ruta de certificación...");
        EXPECT_EQ(lines.back(), "...error en la verificación. No se confía en el certificado");
        EXPECT_EQ(log.Text().find("Emisor reconocido"), std::string::npos);
    }
}

}  // namespace
