// CWincryptCertStore over the user's system stores that the pki fixture filled.
#include "tests/cert/CertTestSupport.h"

#include <set>

#include "cert/wincrypt/CWincryptCertStore.h"

using namespace certtest;

namespace
{

class CertStore : public CertTest
{
};

void DeleteAll(CCertificateArray& list)
{
    for (CCertificate* c : list)
        delete c;
    list.clear();
}

TEST_F(CertStore, TrustStoreListsWhatTheFixturePutThere)
{
    CWincryptCertStore store;
    store.Open(0, "Trust");
    CWincryptCertificate notOwned;
    CCertificateArray list(1, &notOwned);  // emptied, not deleted
    store.GetCertificates(list);
    ASSERT_EQ(list.size(), 2u);
    std::set<std::string> thumbprints, subjects;
    for (CCertificate* c : list)
    {
        thumbprints.insert(c->GetThumbprint());
        subjects.insert(c->GetSubject());
    }
    EXPECT_EQ(thumbprints, (std::set<std::string>{PkiRecord("soft-ds").pszThumbprint,
                                                  PkiRecord("accents").pszThumbprint}));
    EXPECT_EQ(subjects.count("CN=MUÑOZ PEÑA JOSÉ; OU=Pruebas; O=Ormavia; C=ES"), 1u);
    DeleteAll(list);
}

TEST_F(CertStore, CheckCertificateComparesSubjectsExactly)
{
    CWincryptCertStore store;
    store.Open(0, "Trust");
    static const struct { const char* subject; int found; } cases[] = {
        {"CN=DIAZ MORA CARLOS; OU=Personal; O=Ormavia; C=ES", 1},
        {"CN=MUÑOZ PEÑA JOSÉ; OU=Pruebas; O=Ormavia; C=ES", 1},
        {"CN=diaz mora carlos; OU=Personal; O=Ormavia; C=ES", 0},
        {"CN=DIAZ MORA CARLOS; OU=Personal; O=Ormavia", 0},
        {"CN=DIAZ MORA CARLOS; OU=Personal; O=Ormavia; C=ES ", 0},
        {"", 0},
        // In MY, not in Trust.
        {"CN=GARCIA LOPEZ JUAN (FIRMA); OU=Ciudadanos; O=Ormavia; C=ES", 0},
    };
    for (const auto& t : cases)
        EXPECT_EQ(store.CheckCertificate(t.subject), t.found) << t.subject;
}

TEST_F(CertStore, EmptyAndUnopenedStores)
{
    CWincryptCertStore unopened;
    CWincryptCertificate notOwned;
    CCertificateArray list(1, &notOwned);
    unopened.GetCertificates(list);
    EXPECT_TRUE(list.empty());
    EXPECT_EQ(unopened.CheckCertificate("CN=DIAZ MORA CARLOS; OU=Personal; O=Ormavia; C=ES"), 0);

    CWincryptCertStore empty;
    empty.Open(0, "TvlAlmacenVacio");
    empty.GetCertificates(list);
    EXPECT_TRUE(list.empty());
    EXPECT_EQ(empty.CheckCertificate(""), 0);

    // Opening again replaces the open store.
    empty.Open(0, "Trust");
    EXPECT_EQ(empty.CheckCertificate("CN=DIAZ MORA CARLOS; OU=Personal; O=Ormavia; C=ES"), 1);
}

TEST_F(CertStore, ImportAndDeleteChangeNothing)
{
    CWincryptCertStore store;
    store.Open(0, "Trust");
    EXPECT_EQ(store.ImportCertificate(PkiPath("certs/serial.der")), "");
    store.DeleteCertificate("CN=DIAZ MORA CARLOS; OU=Personal; O=Ormavia; C=ES");
    CCertificateArray list;
    store.GetCertificates(list);
    EXPECT_EQ(list.size(), 2u);
    DeleteAll(list);
}

TEST_F(CertStore, MyStoreHoldsEveryPersonalCertificate)
{
    CWincryptCertStore store;
    store.Open(0, "MY");
    CCertificateArray list;
    store.GetCertificates(list);
    std::set<std::string> thumbprints;
    for (CCertificate* c : list)
        thumbprints.insert(c->GetThumbprint());
    for (const TestPkiCert& rec : g_aTestPki)
        EXPECT_EQ(thumbprints.count(rec.pszThumbprint), 1u) << rec.pszName;
    DeleteAll(list);
}

TEST_F(CertStore, UnreadableCertificateIsLeftOutAndLogged)
{
    Bytes broken = PkiDer("dni-auth");
    ASSERT_TRUE(BreakSubjectAltName(broken));
    {
        HCERTSTORE h = CAPIWincrypt::CertOpenSystemStoreW(0, L"TvlAlmacenRoto");
        ASSERT_NE(h, nullptr);
        CCertStorePtr raw(h);
        for (const Bytes& der : {broken, PkiDer("serial")})
        {
            CCertContextPtr ctx = ContextFromBytes(der);
            ASSERT_TRUE(ctx);
            ASSERT_TRUE(CAPIWincrypt::CertAddCertificateContextToStore(h, ctx.get(),
                                                                       CERT_STORE_ADD_REPLACE_EXISTING, nullptr));
        }
        ASSERT_TRUE(CertControlStore(h, CERT_STORE_CTRL_COMMIT_FORCE_FLAG, CERT_STORE_CTRL_COMMIT, nullptr));
    }

    LogCapture log;
    CWincryptCertStore store;
    store.Open(0, "TvlAlmacenRoto");
    CCertificateArray list;
    store.GetCertificates(list);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0]->GetSerialNumber(), "030201");
    EXPECT_NE(log.Text().find("CWincryptCertificate::GetOwnerData"), std::string::npos) << log.Text();
    DeleteAll(list);
}

}  // namespace
