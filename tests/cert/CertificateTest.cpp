// CWincryptCertificate over the test PKI: every extracted field, PEM, provider
// data, the card kind, and what bad input gives.
#include "tests/cert/CertTestSupport.h"

#include <cstdio>
#include <cstdlib>

#include "cert/CertificateText.h"

using namespace certtest;

namespace
{

// Seconds since 1970 of a "YYYYMMDDHHMMSSZ" text, read as it stands.
TIME64 Seconds(const char* pszTime)
{
    SYSTEMTIME st = {};
    sscanf(pszTime, "%4hu%2hu%2hu%2hu%2hu%2hu", &st.wYear, &st.wMonth, &st.wDay, &st.wHour,
           &st.wMinute, &st.wSecond);
    FILETIME ft;
    SystemTimeToFileTime(&st, &ft);
    ULARGE_INTEGER u;
    u.LowPart = ft.dwLowDateTime;
    u.HighPart = ft.dwHighDateTime;
    return (TIME64)((u.QuadPart - 116444736000000000ULL) / 10000000ULL);
}

class Certificate : public CertTest
{
};

TEST_F(Certificate, FieldsMatchTheIndexForEveryTestCertificate)
{
    for (const TestPkiCert& rec : g_aTestPki)
    {
        SCOPED_TRACE(rec.pszName);
        std::unique_ptr<CWincryptCertificate> c = PkiCertificate(rec.pszName);
        EXPECT_EQ(c->GetOwnerName(), rec.pszOwnerName);
        EXPECT_EQ(c->GetOwnerId(), rec.pszOwnerId);
        EXPECT_EQ(c->GetDisplayName(), rec.pszDisplayName);
        EXPECT_EQ(c->GetSubject(), rec.pszSubject);
        EXPECT_EQ(c->GetSubjectOid(), rec.pszSubjectOid);
        EXPECT_EQ(c->GetIssuer(), rec.pszIssuer);
        EXPECT_EQ(c->GetSerialNumber(), rec.pszSerial);
        EXPECT_EQ(c->GetThumbprint(), rec.pszThumbprint);
        EXPECT_EQ(c->GetKeyUsage(), rec.nKeyUsage);
        EXPECT_EQ(c->GetSignatureUsage(), rec.nSignatureUsage);
        EXPECT_EQ(KeyUsageText(c->GetKeyUsage()), rec.pszKeyUsageText);
        EXPECT_EQ(c->GetEnhancedKeyUsage(), rec.pszEnhancedKeyUsage);
        EXPECT_EQ(c->GetValidityStatus(), rec.nValidity);
        EXPECT_EQ(c->GetVersion(), "V3");
        EXPECT_EQ(c->GetRenewalDate(), 0);
        EXPECT_EQ(c->GetKeyExpiryDate(), 0);
    }
}

// The cases the owner-data extraction distinguishes, one certificate each.
TEST_F(Certificate, OwnerDataFollowsEachSourceInTurn)
{
    static const struct { const char* name; const char* owner; const char* id; } cases[] = {
        {"dni-auth", "JUAN GARCIA LOPEZ", "12345678Z"},       // family 1
        {"fam2", "MARIA FERNANDEZ RUIZ", "87654321X"},        // family 2 wins over 1's name
        {"fam3", "PEDRO SANCHEZ GIL", "11111111H"},           // family 3
        {"uid-cn", "ANA MARTIN PEREZ", "22222222J"},          // user id, CN split at "|"
        {"uid-cn-plain", "LUIS GOMEZ", "33333333P"},          // CN without "|"
        {"subject-attrs", "ELENA TORRES BLANCO", "44444444A"}, // subject G, SN, SERIALNUMBER
        {"cn-only", "GARCIA LOPEZ JUAN", "12345678Z"},        // "NOMBRE ... - NIF ..."
        {"cn-only-nonif", "ROMERO VEGA LUCIA", ""},           // "NOMBRE ..." alone
        {"soft-ds-nr", "SELLO DE PRUEBAS", ""},               // display name as it is
        {"accents", "JOSÉ MUÑOZ PEÑA", "66666666Q"},          // UTF8String values, cp1252 out
    };
    for (const auto& t : cases)
    {
        SCOPED_TRACE(t.name);
        std::unique_ptr<CWincryptCertificate> c = PkiCertificate(t.name);
        EXPECT_EQ(c->GetOwnerName(), t.owner);
        EXPECT_EQ(c->GetOwnerId(), t.id);
    }
}

TEST_F(Certificate, SerialIsWrittenMostSignificantByteFirst)
{
    EXPECT_EQ(PkiCertificate("serial")->GetSerialNumber(), "030201");
}

TEST_F(Certificate, EnhancedKeyUsageKeepsAnEmptyNameForAnUnknownOid)
{
    EXPECT_EQ(PkiCertificate("eku")->GetEnhancedKeyUsage(), ";Client Authentication");
    EXPECT_EQ(PkiCertificate("dni-auth")->GetEnhancedKeyUsage(), "Client Authentication");
    EXPECT_EQ(PkiCertificate("dni-sign")->GetEnhancedKeyUsage(), "");
}

// The suite runs in the users' zone, Europe/Madrid: an hour ahead of UTC in
// winter, two in summer. Expected texts are written out, not converted here.
TEST_F(Certificate, DatesAreTheMadridTimeOfTheUtcValidity)
{
    static const struct { const char* name; const char* notBefore; const char* notAfter; } cases[] = {
        {"dni-auth", "01/01/2024, a las 01:00", "01/01/2047, a las 00:59"},
        {"expired", "01/01/2020, a las 01:00", "01/01/2023, a las 00:59"},
        {"notyet", "01/01/2040, a las 01:00", "01/01/2046, a las 00:59"},
    };
    for (const auto& t : cases)
    {
        SCOPED_TRACE(t.name);
        std::unique_ptr<CWincryptCertificate> c = PkiCertificate(t.name);
        EXPECT_EQ(FormatTime64(c->GetNotBefore(), "%d/%m/%Y, a las %H:%M"), t.notBefore);
        EXPECT_EQ(FormatTime64(c->GetNotAfter(), "%d/%m/%Y, a las %H:%M"), t.notAfter);
    }
    // With no conversion the texts are the certificate's own.
    EXPECT_EQ(FormatTime64(Seconds("20461231235959Z"), "%d/%m/%Y, a las %H:%M"), "31/12/2046, a las 23:59");
    EXPECT_EQ(FormatTime64(0, "%d/%m/%Y"), "01/01/1970");
}

TEST_F(Certificate, UtcTimesBecomeMadridTimeInWinterAndSummer)
{
    static const struct { const char* utc; const char* local; } cases[] = {
        {"20260115103000Z", "15/01/2026, a las 11:30"},  // winter, UTC+1
        {"20260715103000Z", "15/07/2026, a las 12:30"},  // summer, UTC+2
        {"20260329005900Z", "29/03/2026, a las 01:59"},  // last minute of winter time
        {"20260329010000Z", "29/03/2026, a las 03:00"},  // clocks go forward
        {"20261025005900Z", "25/10/2026, a las 02:59"},  // last minute of summer time
        {"20261025010000Z", "25/10/2026, a las 02:00"},  // clocks go back
    };
    for (const auto& t : cases)
    {
        SCOPED_TRACE(t.utc);
        ULARGE_INTEGER u;
        u.QuadPart = (ULONGLONG)Seconds(t.utc) * 10000000ULL + 116444736000000000ULL;
        FILETIME ft = {u.LowPart, u.HighPart};
        EXPECT_EQ(FormatTime64(FileTimeToLocalTime64(ft), "%d/%m/%Y, a las %H:%M"), t.local);
    }
}

// Contexts the certificate code frees and duplicates, in order.
std::vector<std::pair<char, PCCERT_CONTEXT>> g_contextCalls;
decltype(CAPIWincrypt::CertFreeCertificateContext) g_pfnRealFree = nullptr;
decltype(CAPIWincrypt::CertDuplicateCertificateContext) g_pfnRealDuplicate = nullptr;

BOOL WINAPI RecordingFree(PCCERT_CONTEXT p)
{
    g_contextCalls.push_back({'F', p});
    return g_pfnRealFree(p);
}

PCCERT_CONTEXT WINAPI RecordingDuplicate(PCCERT_CONTEXT p)
{
    g_contextCalls.push_back({'D', p});
    return g_pfnRealDuplicate(p);
}

TEST_F(Certificate, RebuildingFromItsOwnContextNeverTouchesAFreedContext)
{
    // The object holds the only reference: freeing it first would free the context.
    std::unique_ptr<CWincryptCertificate> c = PkiCertificate("soft-ds");
    PCCERT_CONTEXT pOwn = c->GetContext();
    g_contextCalls.clear();
    g_pfnRealFree = CAPIWincrypt::CertFreeCertificateContext;
    g_pfnRealDuplicate = CAPIWincrypt::CertDuplicateCertificateContext;
    CAPIWincrypt::CertFreeCertificateContext = RecordingFree;
    CAPIWincrypt::CertDuplicateCertificateContext = RecordingDuplicate;
    c->Create2(pOwn);
    CAPIWincrypt::CertFreeCertificateContext = g_pfnRealFree;
    CAPIWincrypt::CertDuplicateCertificateContext = g_pfnRealDuplicate;

    bool bFreed = false;
    for (const auto& call : g_contextCalls)
    {
        if (call.second != pOwn)
            continue;
        if (call.first == 'F')
            bFreed = true;
        else
            EXPECT_FALSE(bFreed) << "duplicated after it was freed";
    }
    EXPECT_EQ(c->GetThumbprint(), PkiRecord("soft-ds").pszThumbprint);
    EXPECT_EQ(c->GetSubject(), PkiRecord("soft-ds").pszSubject);
}

TEST_F(Certificate, PemIsTheFixturePemByteForByte)
{
    for (const TestPkiCert& rec : g_aTestPki)
    {
        SCOPED_TRACE(rec.pszName);
        std::string pemFile = PkiPath(rec.pszDerFile);
        pemFile.replace(pemFile.size() - 4, 4, ".pem");
        std::string expected = ReadText(pemFile);
        expected.erase(std::remove(expected.begin(), expected.end(), '\r'), expected.end());
        EXPECT_EQ(PkiCertificate(rec.pszName)->GetPEM(), expected);
    }
    EXPECT_EQ(CWincryptCertificate().GetPEM(), "");
}

TEST_F(Certificate, CopiesAndRebuildsKeepNothingOfBefore)
{
    std::unique_ptr<CWincryptCertificate> a = PkiCertificate("eku");
    CWincryptCertificate copy(*a);
    EXPECT_EQ(copy.GetThumbprint(), a->GetThumbprint());
    EXPECT_EQ(copy.GetEnhancedKeyUsage(), ";Client Authentication");
    EXPECT_NE(copy.GetContext(), nullptr);

    // A second build replaces every field rather than adding to it.
    Bytes der = PkiDer("dni-sign");
    copy.Create2(der.data(), (DWORD)der.size());
    EXPECT_EQ(copy.GetEnhancedKeyUsage(), "");
    EXPECT_EQ(copy.GetSerialNumber(), "54560000000102");
    EXPECT_EQ(copy.GetOwnerName(), "JUAN GARCIA LOPEZ");

    // The source context stays with its owner.
    CCertContextPtr ctx = ContextFromBytes(PkiDer("serial"));
    {
        CWincryptCertificate fromContext(ctx.get());
        EXPECT_EQ(fromContext.GetSerialNumber(), "030201");
    }
    EXPECT_EQ(ctx->pCertInfo->SerialNumber.cbData, 3u);

    CWincryptCertificate empty;
    EXPECT_EQ(empty.GetContext(), nullptr);
    EXPECT_EQ(empty.GetNotBefore(), 0);
    EXPECT_EQ(empty.GetValidityStatus(), 0);
    EXPECT_EQ(empty.GetSubject(), "");
}

TEST_F(Certificate, BytesThatAreNoCertificateThrowFromCreate2)
{
    static const BYTE garbage[] = {0x30, 0x03, 0x02, 0x01, 0x05};
    Bytes truncated = PkiDer("dni-auth");
    truncated.resize(truncated.size() / 2);
    const Bytes inputs[] = {Bytes(std::begin(garbage), std::end(garbage)), truncated, Bytes(1, 0)};
    for (const Bytes& in : inputs)
    {
        SCOPED_TRACE(in.size());
        CWincryptCertificate c;
        CaughtFailure e = Capture([&] { c.Create2(in.data(), (DWORD)in.size()); });
        ASSERT_TRUE(e.bThrown);
        EXPECT_EQ(e.nKind, EXC_WINDOWS);
        EXPECT_NE(e.nSubCode, 0);
        EXPECT_EQ(e.strContext, "CWincryptCertificate::Create2");
        EXPECT_EQ(c.GetContext(), nullptr);
    }
}

TEST_F(Certificate, UndecodableSubjectAltNameThrowsFromGetOwnerData)
{
    Bytes der = PkiDer("dni-auth");
    ASSERT_TRUE(BreakSubjectAltName(der));
    // The platform takes the certificate: extension values are opaque to it.
    CCertContextPtr ctx = ContextFromBytes(der);
    ASSERT_TRUE(ctx) << GetLastError();

    CaughtFailure e = Capture([&] { CWincryptCertificate c(ctx.get()); });
    ASSERT_TRUE(e.bThrown);
    EXPECT_EQ(e.nKind, EXC_WINDOWS);
    EXPECT_NE(e.nSubCode, 0);
    EXPECT_EQ(e.strContext, "CWincryptCertificate::GetOwnerData");

    CWincryptCertificate c;
    e = Capture([&] { c.Create2(der.data(), (DWORD)der.size()); });
    ASSERT_TRUE(e.bThrown);
    EXPECT_EQ(e.strContext, "CWincryptCertificate::GetOwnerData");
}

TEST_F(Certificate, NameAttributeLookup)
{
    const std::string name =
        "2.5.4.3=GARCIA LOPEZ JUAN;  OID.1.3.6.1.4.1.5734.1.4 = 12345678Z ; 1.3.6.1.4.1.5734.1.1=JUAN; "
        "cn=minusculas; 2.5.4.5=; 2.5.4.11=despues; 2.5.4.10=\"A=B\"; 2.5.4.7=tras igual";
    static const struct { const char* oid; const char* value; } cases[] = {
        {"2.5.4.3", "GARCIA LOPEZ JUAN"},
        {"1.3.6.1.4.1.5734.1.4", "12345678Z"},      // key written with "OID."
        {"OID.1.3.6.1.4.1.5734.1.1", "JUAN"},       // key written without it
        {"oid.1.3.6.1.4.1.5734.1.1", "JUAN"},
        {"CN", "minusculas"},                       // case ignored
        {"2.5.4.4", ""},                            // absent
        {"1.3.6.1.4.1.5734.1", ""},                 // a prefix is no match
        {"2.5.4.10", "\"A"},                        // a value is cut at "="
        {"2.5.4.5", ""},                            // empty
        {"2.5.4.11", "despues"},                    // found after an empty value,
        {"2.5.4.7", "tras igual"},                  // and after one holding "="
    };
    for (const auto& t : cases)
    {
        SCOPED_TRACE(t.oid);
        EXPECT_EQ(GetNameAttribute(name, t.oid), t.value);
    }
    EXPECT_EQ(GetNameAttribute("", "2.5.4.3"), "");
    EXPECT_EQ(GetNameAttribute("2.5.4.3", "2.5.4.3"), "");
}

TEST_F(Certificate, KeyUsageText)
{
    static const struct { int flags; const char* text; } cases[] = {
        {0x00, ""},
        {0x20, "No repudio"},
        {0x12, "Firma digital; Cifrado de clave"},
        {0x01, "Cifrado de datos"},
        {0x41, "Cifrado de datos; Firma de CRL"},
        {0x0C, "Acuerdo de clave; Firma de certificado"},
        {0x7F, "Cifrado de datos; Firma digital; Acuerdo de clave; Firma de certificado; "
               "Cifrado de clave; No repudio; Firma de CRL"},
        {0x180, ""},
    };
    for (const auto& t : cases)
        EXPECT_EQ(KeyUsageText(t.flags), t.text) << t.flags;
}

TEST_F(Certificate, ProviderDataOfAnInstalledCertificate)
{
    // The pki fixture put dni-sign into MY with its key in a container of its own.
    HCERTSTORE hMy = CAPIWincrypt::CertOpenSystemStoreW(0, L"MY");
    ASSERT_NE(hMy, nullptr);
    CCertStorePtr my(hMy);
    CCertContextPtr file = ContextFromBytes(PkiDer("dni-sign"));
    BYTE hash[20];
    DWORD size = sizeof(hash);
    ASSERT_TRUE(CAPIWincrypt::CertGetCertificateContextProperty(file.get(), CERT_SHA1_HASH_PROP_ID, hash, &size));
    CRYPT_HASH_BLOB blob = {size, hash};
    CCertContextPtr installed(CAPIWincrypt::CertFindCertificateInStore(
        hMy, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0, CERT_FIND_SHA1_HASH, &blob, nullptr));
    ASSERT_TRUE(installed);

    CWincryptCertificate c(installed.get());
    std::string provider = "x", container = "x";
    c.GetProviderData(provider, container);
    EXPECT_EQ(provider, MS_ENHANCED_PROV_A);
    EXPECT_EQ(container, "tvlpki-dni-sign");
}

TEST_F(Certificate, ProviderDataWithoutTheProperty)
{
    std::unique_ptr<CWincryptCertificate> c = PkiCertificate("dni-sign");
    std::string provider, container;
    CaughtFailure e = Capture([&] { c->GetProviderData(provider, container); });
    ASSERT_TRUE(e.bThrown);
    EXPECT_EQ(e.nKind, EXC_WINDOWS);
    EXPECT_EQ(e.nSubCode, (long)CRYPT_E_NOT_FOUND);
    EXPECT_EQ(e.strContext, "CWincryptCertificate::GetProviderData");

    CWincryptCertificate empty;
    e = Capture([&] { empty.GetProviderData(provider, container); });
    ASSERT_TRUE(e.bThrown);
    EXPECT_EQ(e.strContext, "CWincryptCertificate::GetProviderData");
}

TEST_F(Certificate, CardTypeFollowsIssuerAndProvider)
{
    // Same length as the issuer's name, so the DER stays well formed.
    Bytes dgp = PkiDer("serial");
    ASSERT_TRUE(PatchText(dgp, "Ormavia CA Subordinada Produccion G2", "DIRECCION GENERAL DE LA POLICIA - G2"));
    Bytes plain = PkiDer("serial");

    static const struct { bool dgp; const wchar_t* provider; int type; } cases[] = {
        {true, L"Microsoft Enhanced Cryptographic Provider v1.0", 1},
        {true, L"TEMD_CSP", 1},  // the issuer decides first
        {false, L"TEMD_CSP", 3},
        {false, L"temd_csp", 3},
        {false, L"TEMD_CSP2", 0},
        {false, L"Microsoft Enhanced Cryptographic Provider v1.0", 0},
    };
    for (const auto& t : cases)
    {
        SCOPED_TRACE(t.type);
        CCertContextPtr ctx = ContextFromBytes(t.dgp ? dgp : plain);
        ASSERT_TRUE(ctx);
        ASSERT_TRUE(SetProvider(ctx.get(), t.provider, L"contenedor"));
        CWincryptCertificate c(ctx.get());
        if (t.dgp)
        {
            EXPECT_EQ(c.GetIssuer(), "CN=DIRECCION GENERAL DE LA POLICIA - G2, OU=Servicios de Certificacion, "
                                     "O=Ormavia, C=ES");
        }
        EXPECT_EQ(GetCertificateCardType(&c), t.type);
    }
    EXPECT_EQ(GetCertificateCardType(nullptr), 0);
}

TEST_F(Certificate, CardTypeWithoutKeyProviderLogsAndGivesZero)
{
    LogCapture log;
    std::unique_ptr<CWincryptCertificate> c = PkiCertificate("soft-ds");
    EXPECT_EQ(GetCertificateCardType(c.get()), 0);
    std::vector<std::string> lines = log.Lines();
    ASSERT_EQ(lines.size(), 6u) << log.Text();
    EXPECT_EQ(lines[0].find("Excepción Sistema en CWincryptCertificate::GetProviderData"), 0u) << lines[0];
    EXPECT_EQ(lines[1], "DN: CN=DIAZ MORA CARLOS; OU=Personal; O=Ormavia; C=ES");
    EXPECT_EQ(lines[5], "Emitido por: CN=Ormavia CA Subordinada Produccion G2, "
                        "OU=Servicios de Certificacion, O=Ormavia, C=ES");
}

TEST_F(Certificate, LogDetailsWritesFiveLines)
{
    LogCapture log;
    std::unique_ptr<CWincryptCertificate> c = PkiCertificate("soft-ds-ke");
    c->LogDetails();
    std::vector<std::string> lines = log.Lines();
    ASSERT_EQ(lines.size(), 5u) << log.Text();
    EXPECT_EQ(lines[0], "DN: CN=CIFRADO Y FIRMA; OU=Personal; O=Ormavia; C=ES");
    EXPECT_EQ(lines[1], "N. serie: 54560000000503");
    EXPECT_EQ(lines[2], "Uso: Firma digital; Cifrado de clave\tUso mejorado: ");
    // 2024-01-01 00:00 and 2046-12-31 23:59 UTC, in Madrid's winter time.
    EXPECT_EQ(lines[3], "Válido desde 01/01/2024, a las 01:00, hasta 01/01/2047, a las 00:59");
    EXPECT_EQ(lines[4], "Emitido por: CN=Ormavia CA Subordinada Produccion G2, "
                        "OU=Servicios de Certificacion, O=Ormavia, C=ES");
}

}  // namespace
