// The Entrust certificate: owner data cut from the common name, renewal date,
// key end, status, serial texts, export and the log lines.
#include <gtest/gtest.h>

#include <time.h>

#include "api/ResultCodes.h"
#include "cert/entrust/CEntrustCertificate.h"
#include "platform/entrust/BinData.h"
#include "tests/entrust/EntrustTestSupport.h"
#include "tests/support/TestCapture.h"

using epftest::kDay;
using epftest::kDay0;

namespace {
std::unique_ptr<CEntrustCertificate> Load(const char* pszName)
{
    std::vector<BYTE> bytes = epftest::FixtureBytes(pszName);
    BinData der;
    der.Assign(bytes.data(), bytes.size());
    std::unique_ptr<CEntrustCertificate> p(new CEntrustCertificate());
    p->Create(der, nullptr);
    return p;
}
}  // namespace

TEST(EntrustCertificate, OwnerNameAndIdFromTheCommonName)
{
    const struct {
        const char* pszCommonName;
        const char* pszName;
        const char* pszId;
    } aCases[] = {
        {"NOMBRE GARCIA LOPEZ JUAN - NIF 12345678Z", "GARCIA LOPEZ JUAN", "12345678Z"},
        {"NOMBRE SANZ VIDAL LUIS - NIE X1234567L", "SANZ VIDAL LUIS", "X1234567L"},
        {"GARCIA LOPEZ JUAN - NIF 12345678Z", "GARCIA LOPEZ JUAN", "12345678Z"},
        {"NOMBRE ROS PONS EVA", "ROS PONS EVA", ""},
        {"NOMBRE ROS PONS EVA - NIF 22222222J (AUTENTICACION)", "ROS PONS EVA", "22222222J"},
        {"NOMBRE A - NIE Y7654321G - NIF 33333333P", "A", "33333333P"},
        {"  NOMBRE   ESPACIOS  - NIF  44444444A ", "ESPACIOS", ""},
        {"SELLO DE PRUEBAS", "SELLO DE PRUEBAS", ""},
        {"", "", ""},
    };
    for (const auto& c : aCases) {
        SCOPED_TRACE(c.pszCommonName);
        std::string strName, strId;
        CEntrustCertificate::CutOwner(c.pszCommonName, strName, strId);
        EXPECT_EQ(strName, c.pszName);
        EXPECT_EQ(strId, c.pszId);
    }
    std::unique_ptr<CEntrustCertificate> p = Load("ab-luis.der");
    EXPECT_EQ(p->GetOwnerName(), "SANZ VIDAL LUIS");
    EXPECT_EQ(p->GetOwnerId(), "X1234567L");
}

// Renewal starts 100 days before the key ends, but not before the middle of
// the validity (nor before its start when the key ends before the middle).
TEST(EntrustCertificate, RenewalDateArithmetic)
{
    const struct {
        const char* pszCase;
        long long nStart, nEnd, nKeyEnd, nRenewal;
    } aCases[] = {
        {"0-720", 0, 720, 720, 620},
        {"0-150 (mid)", 0, 150, 150, 75},
        {"0-200 (exactly 100)", 0, 200, 200, 100},
        {"key end 50 before mid", 0, 720, 50, 0},
        {"key end 400 after mid", 0, 720, 400, 360},
        {"key end 0", 0, 720, 0, 0},
    };
    for (const auto& c : aCases) {
        SCOPED_TRACE(c.pszCase);
        TIME64 tKeyEnd = c.nKeyEnd == 0 ? 0 : kDay0 + c.nKeyEnd * kDay;
        TIME64 tExpected = c.nKeyEnd == 0 ? 0 : kDay0 + c.nRenewal * kDay;
        EXPECT_EQ(CEntrustCertificate::RenewalDate(kDay0 + c.nStart * kDay, kDay0 + c.nEnd * kDay, tKeyEnd),
                  tExpected);
    }
    // The same through certificates: the key end of an encryption certificate is
    // its end, a signing certificate's is its key usage period's.
    const struct {
        const char* pszName;
        long long nKeyEnd, nRenewal;
    } aCerts[] = {{"ren-enc-720.der", 720, 620}, {"ren-enc-150.der", 150, 75}, {"ren-sign-keymid.der", 50, 0}};
    for (const auto& c : aCerts) {
        SCOPED_TRACE(c.pszName);
        std::unique_ptr<CEntrustCertificate> p = Load(c.pszName);
        EXPECT_EQ(p->GetNotBefore(), kDay0);
        EXPECT_EQ(p->GetKeyExpiryDate(), kDay0 + c.nKeyEnd * kDay);
        EXPECT_EQ(p->GetRenewalDate(), kDay0 + c.nRenewal * kDay);
        EXPECT_EQ(p->GetValidityStatus(), VALIDITY_NOT_YET_VALID);
    }
    // A signing certificate whose key end is reported as 0: no renewal date,
    // and its key counts as expired although the certificate is current.
    std::unique_ptr<CEntrustCertificate> p = Load("ren-sign-key0.der");
    EXPECT_EQ(p->GetKeyExpiryDate(), 0);
    EXPECT_EQ(p->GetRenewalDate(), 0);
    EXPECT_EQ(p->GetValidityStatus(), VALIDITY_KEY_EXPIRED);
}

TEST(EntrustCertificate, StatusFirstRuleThatHolds)
{
    const TIME64 tNow = 1000000;
    const struct {
        TIME64 tStart, tEnd, tKeyEnd, tRenewal;
        int nStatus;
    } aCases[] = {
        {10, 999999, 999999, 500000, VALIDITY_EXPIRED},
        {10, 2000000, 999999, 500000, VALIDITY_KEY_EXPIRED},
        {10, 2000000, 0, 0, VALIDITY_KEY_EXPIRED},
        {10, 2000000, 1500000, 999999, VALIDITY_RENEWAL},
        {10, 2000000, 1500000, 1000000, VALIDITY_VALID},
        {1000000, 2000000, 1500000, 1200000, VALIDITY_NOT_YET_VALID},
    };
    for (const auto& c : aCases)
        EXPECT_EQ(CEntrustCertificate::Status(tNow, c.tStart, c.tEnd, c.tKeyEnd, c.tRenewal), c.nStatus);
}

TEST(EntrustCertificate, TextsUsagesAndSerials)
{
    std::unique_ptr<CEntrustCertificate> p = Load("user-sign.der");
    EXPECT_EQ(p->GetSubject(), "CN=NOMBRE GARCIA LOPEZ JUAN - NIF 12345678Z, OU=PERSONAL, O=ORMAVIA, C=ES");
    EXPECT_EQ(p->GetDisplayName(), "NOMBRE GARCIA LOPEZ JUAN - NIF 12345678Z");
    EXPECT_EQ(p->GetIssuer(),
              "CN=ORMAVIA CA SUBORDINADA PRODUCCION G2, OU=SERVICIOS DE CERTIFICACION, O=ORMAVIA, C=ES");
    EXPECT_EQ(p->GetOwnerName(), "GARCIA LOPEZ JUAN");
    EXPECT_EQ(p->GetOwnerId(), "12345678Z");
    EXPECT_EQ(p->GetKeyUsage(), KU_DIGITAL_SIGNATURE | KU_NON_REPUDIATION);
    EXPECT_EQ(p->GetSignatureUsage(), 0);
    EXPECT_EQ(p->GetVersion(), "V3");
    EXPECT_EQ(p->GetSerialNumber(), "45504600000001");
    EXPECT_EQ(p->GetThumbprint().size(), 59u);
    EXPECT_EQ(p->GetValidityStatus(), VALIDITY_VALID);
    EXPECT_EQ(p->GetEnhancedKeyUsage(), "");
    std::string strProvider = "x", strContainer = "y";
    p->GetProviderData(strProvider, strContainer);
    EXPECT_EQ(strProvider, "Entrust");
    EXPECT_EQ(strContainer, "");

    EXPECT_EQ(Load("serial-short.der")->GetSerialNumber(), "000A0B0C");
    p = Load("user-enc.der");
    EXPECT_EQ(p->GetKeyUsage(), KU_KEY_ENCIPHERMENT | KU_DATA_ENCIPHERMENT);
    EXPECT_EQ(p->GetKeyExpiryDate(), p->GetNotAfter());

    // What the toolkit cannot read keeps the defaults.
    BinData garbage;
    garbage.Assign("no certificate", 14);
    CEntrustCertificate none;
    none.Create(garbage, nullptr);
    EXPECT_EQ(none.GetSubject(), "");
    EXPECT_EQ(none.GetDisplayName(), "No disponible");
    EXPECT_EQ(none.GetIssuer(), "No disponible");
    EXPECT_EQ(none.GetThumbprint(), "No disponible");
    EXPECT_EQ(none.GetNotBefore(), 0);
}

TEST(EntrustCertificate, ExportWritesTheEncodedCertificate)
{
    std::string strDir = tvltest::MakeScratchFolder("entrust-cert-export");
    tvltest::LogCapture log("entrust-cert");
    std::unique_ptr<CEntrustCertificate> p = Load("user-enc.der");
    ASSERT_EQ(tvltest::ResultOf([&] { p->ExportCertificate(strDir + "me.cer"); }), 0);
    EXPECT_EQ(tvltest::ReadBytes(strDir + "me.cer"), epftest::FixtureBytes("user-enc.der"));
    tvltest::CaughtFailure r = tvltest::Capture([&] { p->ExportCertificate(strDir + "no\\such\\me.cer"); });
    EXPECT_EQ(r.nCode, ERR_FILE_WRITE);
    EXPECT_EQ(r.strContext, "CEntrustCertificate::ExportCertificate");
    EXPECT_FALSE(log.Text().empty());
    BinData garbage;
    CEntrustCertificate none;
    none.Create(garbage, nullptr);
    r = tvltest::Capture([&] { none.ExportCertificate(strDir + "none.cer"); });
    EXPECT_EQ(r.nKind, EXC_ENTRUST);
    EXPECT_EQ(r.strContext, "CEntrustCertificate::ExportCertificate");
    EXPECT_FALSE(tvltest::Exists(strDir + "none.cer"));
    tvltest::RemoveFolder(strDir);
}

// Dates in the log are local wall-clock times of the zone the process runs in
// (Madrid: the certificate's midnights in UTC are one o'clock there).
TEST(EntrustCertificate, LogDetailsWritesFourLines)
{
    tvltest::LogCapture log("entrust-cert-log");
    Load("ren-sign-keymid.der")->LogDetails();
    std::vector<std::string> lines = log.Lines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0].rfind("N. serie: 455046", 0), 0u) << lines[0];
    EXPECT_EQ(lines[1], "V\xE1lido desde 01/01/2031, a las 01:00, hasta 21/12/2032, a las 01:00");
    EXPECT_EQ(lines[2], "Expiraci\xF3n clave: 20/02/2031, a las 01:00");
    EXPECT_EQ(lines[3], "Entrada en periodo de renovaci\xF3n: 01/01/2031, a las 01:00");
}
