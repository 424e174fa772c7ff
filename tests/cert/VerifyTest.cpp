// Chain checks of CWincryptCertificate::Verify against the stores the pki fixture
// filled: which chains pass, and what a failed one writes to the log.
#include "tests/cert/CertTestSupport.h"

using namespace certtest;

namespace
{

class Verify : public CertTest
{
};

TEST_F(Verify, TrustedChainsPassSilently)
{
    // expired and notyet: only the end certificate is out of its validity period.
    for (const char* name : {"dni-auth", "env-prod-g2", "sectorial", "fallback-prod", "fallback-comun",
                             "expired", "notyet"})
    {
        SCOPED_TRACE(name);
        LogCapture log;
        EXPECT_EQ(PkiCertificate(name)->Verify(), 1);
        EXPECT_EQ(log.Text(), "");
    }
}

TEST_F(Verify, UntrustedRootFailsAndLogsEveryElementOfTheChain)
{
    LogCapture log;
    EXPECT_EQ(PkiCertificate("untrusted")->Verify(), 0);
    std::vector<std::string> lines = log.Lines();
    // untrusted <- CA No Confiable <- Raiz No Confiable (in CA, not in ROOT)
    ASSERT_EQ(lines.size(), 4u) << log.Text();
    EXPECT_EQ(lines[0].find("Error al verificar la ruta de certificación -> Error: "), 0u) << lines[0];
    EXPECT_NE(lines[0].find("CERT_TRUST_IS_UNTRUSTED_ROOT"), std::string::npos) << lines[0];
    for (int i = 1; i <= 3; ++i)
        EXPECT_EQ(lines[i].find("Certificado nº" + std::to_string(i) + " de la ruta -> "), 0u) << lines[i];
    // Elements without errors of their own are reported too.
    EXPECT_EQ(lines[1].find("Error:"), std::string::npos) << lines[1];
    EXPECT_NE(lines[3].find("CERT_TRUST_IS_UNTRUSTED_ROOT"), std::string::npos) << lines[3];
    EXPECT_NE(lines[3].find("Info: "), std::string::npos) << lines[3];
    EXPECT_NE(lines[3].find("CERT_TRUST_IS_SELF_SIGNED"), std::string::npos) << lines[3];
}

TEST_F(Verify, ChainWithoutItsRootFails)
{
    // The first-generation production root is in no store of the user.
    LogCapture log;
    EXPECT_EQ(PkiCertificate("env-prod-g1")->Verify(), 0);
    std::vector<std::string> lines = log.Lines();
    ASSERT_GE(lines.size(), 2u) << log.Text();
    EXPECT_EQ(lines[0].find("Error al verificar la ruta de certificación -> Error: "), 0u) << lines[0];
    EXPECT_EQ(lines[1].find("Certificado nº1 de la ruta -> "), 0u) << lines[1];
}

TEST_F(Verify, EmptyCertificateThrows)
{
    CWincryptCertificate empty;
    CaughtFailure e = Capture([&] { empty.Verify(); });
    ASSERT_TRUE(e.bThrown);
    EXPECT_EQ(e.nKind, EXC_WINDOWS);
    EXPECT_EQ(e.strContext, "CWincryptCertificate::Verify");
}

}  // namespace
