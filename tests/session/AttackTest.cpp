// Signed files made wrong on purpose, one fault each, signed with the keys of
// the test PKI: the checker refuses every one with the result the host gets and
// a log line that names the real cause.
#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "api/ResultCodes.h"
#include "app/CTarvoselApp.h"
#include "cert/wincrypt/CAPIWincrypt.h"
#include "cert/wincrypt/CWincryptCertificate.h"
#include "cert/wincrypt/CWincryptPkcs7Crypto.h"
#include "tests/session/SessionTestSupport.h"
#include "tests/support/Pkcs7Forge.h"
#include "tests/support/TestCapture.h"
#include "tests/support/TestFiles.h"

using namespace pkcs7forge;
using tvltest::ResultOf;

namespace {

// A test PKI certificate from "MY" with its private key.
struct CKeyedCertificate {
    std::unique_ptr<CWincryptCertificate> pCert;
    HCRYPTPROV hProv = 0;
    DWORD dwKeySpec = 0;
    BOOL bFree = FALSE;

    explicit CKeyedCertificate(const char* pszName) : pCert(sessiontest::LoadFromMy(pszName))
    {
        if (pCert && !CAPIWincrypt::CryptAcquireCertificatePrivateKey(
                         pCert->GetContext(), 0, nullptr, &hProv, &dwKeySpec, &bFree))
            hProv = 0;
    }
    ~CKeyedCertificate()
    {
        if (bFree && hProv != 0)
            CAPIWincrypt::CryptReleaseContext(hProv, 0);
    }
    Bytes Der() const
    {
        const CERT_CONTEXT* p = pCert->GetContext();
        return Bytes(p->pbCertEncoded, p->pbCertEncoded + p->cbCertEncoded);
    }
    FSign Signer() const
    {
        return [this](const std::string& strOid, const Bytes& data) {
            Bytes signature;
            CWincryptPkcs7Crypto::Sign(hProv, dwKeySpec, strOid, data.data(), data.size(),
                                       signature);
            return signature;
        };
    }
};

Bytes DigestOf(const std::string& strOid, const Bytes& data)
{
    CWincryptPkcs7Crypto crypto;
    std::unique_ptr<CPkcs7Digest> digest = crypto.CreateDigest(strOid);
    Bytes value;
    if (digest && digest->Update(data.data(), data.size()))
        digest->Final(value);
    return value;
}

class AttackTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { CAPIWincrypt::Load(); }
    void SetUp() override { m_strDir = tvltest::MakeScratchFolder("attack"); }
    void TearDown() override { tvltest::RemoveFolder(m_strDir); }
    std::string Path(const char* pszName) const { return m_strDir + pszName; }
    std::string m_strDir;
};

// The certificate cut after its issuer: the signer's issuer and serial number
// are still there to find it by, but it is no certificate the platform can read.
Bytes CutAfterIssuer(const Bytes& cert)
{
    CBerElement el;
    std::vector<CBerElement> outer, tbs;
    if (el.ParseAll(cert.data(), cert.size()) != EAsn1Error::Ok ||
        el.Children(outer) != EAsn1Error::Ok || outer.size() != 3 ||
        outer[0].Children(tbs) != EAsn1Error::Ok || tbs.size() < 7)
        return Bytes();
    // [0] version, serial, signature, issuer
    Bytes body;
    for (size_t i = 0; i < 4; ++i)
        body = Cat({body, tbs[i].Bytes()});
    return Tlv(0x30, Cat({Tlv(0x30, body), outer[1].Bytes(), outer[2].Bytes()}));
}

struct CS_ATTACK {
    const char* pszWhat;
    std::function<void(CS_FORGE&, const Bytes& impostor)> make;
    bool bImpostorSigns;   // signed with the impostor's key instead of the signer's
    int nResult;
    const char* pszCause;  // the log line that names it; null: none expected
    int bTrusted = 1;      // the verdict on the signer of a message read whole
};

}  // namespace

TEST_F(AttackTest, EachFaultIsRefusedForItsOwnReason)
{
    CKeyedCertificate signer("soft-ds");
    CKeyedCertificate other("soft-ds-ke");
    ASSERT_TRUE(signer.pCert && signer.hProv != 0);
    ASSERT_TRUE(other.pCert && other.hProv != 0);
    // The signer's name and serial number with the other certificate's key.
    const Bytes impostor = WithKeyOf(signer.Der(), other.Der());
    ASSERT_FALSE(impostor.empty());

    const char* const kSeveral =
        "el mensaje contiene varios certificados distintos con el emisor y el n\xFAmero de serie "
        "del firmante";
    const Bytes unreadable = CutAfterIssuer(signer.Der());
    ASSERT_FALSE(unreadable.empty());
    const CS_ATTACK attacks[] = {
        {"honest", [](CS_FORGE&, const Bytes&) {}, false, 0, nullptr},
        {"md5WithRSA", [](CS_FORGE& f, const Bytes&) { f.strSignatureOid = OID_MD5_RSA; }, false,
         0, nullptr},
        {"messageDigest missing",
         [](CS_FORGE& f, const Bytes&) {
             f.edit = [](std::vector<CS_ATTRIBUTE>& a, const Bytes&) { a.pop_back(); };
         },
         false, ERR_WINDOWS_UNKNOWN, "falta el resumen del contenido"},
        {"messageDigest twice",
         [](CS_FORGE& f, const Bytes&) {
             f.edit = [](std::vector<CS_ATTRIBUTE>& a, const Bytes&) { a.push_back(a.back()); };
         },
         false, ERR_BAD_SIGNATURE,
         "el resumen del contenido aparece m\xE1s de una vez en los atributos firmados"},
        {"messageDigest with two values",
         [](CS_FORGE& f, const Bytes&) {
             f.edit = [](std::vector<CS_ATTRIBUTE>& a, const Bytes&) {
                 a.back().values.push_back(a.back().values[0]);
             };
         },
         false, ERR_BAD_SIGNATURE,
         "el resumen del contenido aparece m\xE1s de una vez en los atributos firmados"},
        {"contentType naming another type",
         [](CS_FORGE& f, const Bytes&) {
             f.edit = [](std::vector<CS_ATTRIBUTE>& a, const Bytes&) {
                 a[0].values = {Oid(OID_SIGNED_DATA)};
             };
         },
         false, ERR_BAD_SIGNATURE,
         "el tipo de contenido de los atributos firmados no coincide con el del mensaje"},
        {"content of another type",
         [](CS_FORGE& f, const Bytes&) { f.strContentType = OID_ENVELOPED_DATA; }, false,
         ERR_BAD_SIGNATURE,
         "Mensaje firmado no v\xE1lido: el contenido firmado no es de tipo datos"},
        {"detached content", [](CS_FORGE& f, const Bytes&) { f.bDetached = true; }, false,
         ERR_BAD_SIGNATURE, "Mensaje firmado no v\xE1lido: el mensaje no contiene los datos firmados"},
        {"DSA signature algorithm",
         [](CS_FORGE& f, const Bytes&) { f.strSignatureOid = OID_DSA_SHA1; }, false,
         ERR_BAD_SIGNATURE, "algoritmo de firma no soportado"},
        {"sha256WithRSA over an MD5 digest",
         [](CS_FORGE& f, const Bytes&) { f.strSignatureOid = OID_SHA256_RSA; }, false,
         ERR_BAD_SIGNATURE, "el algoritmo de firma no corresponde al algoritmo de resumen"},
        {"digest not announced", [](CS_FORGE& f, const Bytes&) { f.announced = {OID_SHA1}; },
         false, ERR_BAD_SIGNATURE,
         "el algoritmo de resumen de la firma no figura entre los del mensaje"},
        {"another key before the signer's certificate, signer's key",
         [](CS_FORGE& f, const Bytes& imp) { f.certs = {imp, f.signerCert}; }, false,
         ERR_BAD_SIGNATURE, kSeveral},
        {"another key after the signer's certificate, signer's key",
         [](CS_FORGE& f, const Bytes& imp) { f.certs = {f.signerCert, imp}; }, false,
         ERR_BAD_SIGNATURE, kSeveral},
        {"another key before the signer's certificate, that key",
         [](CS_FORGE& f, const Bytes& imp) { f.certs = {imp, f.signerCert}; }, true,
         ERR_BAD_SIGNATURE, kSeveral},
        {"another key after the signer's certificate, that key",
         [](CS_FORGE& f, const Bytes& imp) { f.certs = {f.signerCert, imp}; }, true,
         ERR_BAD_SIGNATURE, kSeveral},
        // The platform's own readers refuse these; the cause names the part, then
        // the platform's reason follows.
        {"signing time that is not a time",
         [](CS_FORGE& f, const Bytes&) {
             f.edit = [](std::vector<CS_ATTRIBUTE>& a, const Bytes&) {
                 a[1].values = {Tlv(0x02, Bytes{0x01})};
             };
         },
         false, ERR_BAD_SIGNATURE, "Fecha de firma no v\xE1lida:"},
        {"signing time with a month 13",
         [](CS_FORGE& f, const Bytes&) {
             f.edit = [](std::vector<CS_ATTRIBUTE>& a, const Bytes&) {
                 const std::string t = "261314101520Z";
                 a[1].values = {Tlv(0x17, Bytes(t.begin(), t.end()))};
             };
         },
         false, ERR_WINDOWS_UNKNOWN, "Fecha de firma no v\xE1lida:"},
        {"carried certificate the platform cannot read",
         [&unreadable](CS_FORGE& f, const Bytes&) { f.certs = {unreadable}; }, false,
         ERR_BAD_SIGNATURE, "Certificado del firmante no v\xE1lido:"},
        {"the signer's name and serial with another key, alone, that key",
         [](CS_FORGE& f, const Bytes& imp) { f.certs = {imp}; }, true, 0,
         "...error en la verificaci\xF3n. No se conf\xED"
         "a en el certificado",
         0},
    };
    const std::string strContent(6000, 'c');
    for (const CS_ATTACK& a : attacks) {
        SCOPED_TRACE(a.pszWhat);
        CS_FORGE f;
        f.content.assign(strContent.begin(), strContent.end());
        f.signerCert = signer.Der();
        a.make(f, impostor);
        Bytes msg = Forge(f, DigestOf, a.bImpostorSigns ? other.Signer() : signer.Signer());
        ASSERT_FALSE(msg.empty());
        ASSERT_TRUE(tvltest::WriteAll(Path("attack.p7"), std::string(msg.begin(), msg.end())));

        tvltest::LogCapture log("attack");
        CSignInfoList signers;
        int nResult = ResultOf(
            [&] { GetTarvoselApp().CheckSignedFile_(Path("attack.p7"), Path("content"), signers); });
        size_t nSigners = signers.size();
        int bTrusted = nSigners == 1 ? signers[0]->bTrusted : -1;
        DeleteSignInfoList(signers);
        EXPECT_EQ(nResult, a.nResult);
        std::string s = log.Text();
        if (a.pszCause != nullptr) {
            // A cause ending in ":" goes on with the platform's reason.
            const std::string strCause = std::string(" - ") + a.pszCause;
            EXPECT_NE(s.find(strCause.back() == ':' ? strCause + " " : strCause + "\r\n"),
                      std::string::npos)
                << s;
        }
        if (a.nResult != 0) {
            EXPECT_EQ(nSigners, 0u);
        } else {
            EXPECT_EQ(nSigners, 1u);
            EXPECT_EQ(bTrusted, a.bTrusted);
            EXPECT_EQ(tvltest::ReadAll(Path("content")), strContent);
        }
        // None of these is a bad signature or a changed content: neither may be logged.
        EXPECT_EQ(s.find(" - la firma no es correcta\r\n"), std::string::npos);
        EXPECT_EQ(s.find(" - el contenido no coincide con el resumen firmado\r\n"), std::string::npos);
        if (f.strContentType != OID_DATA)
            EXPECT_EQ(tvltest::ReadAll(Path("content")), "");
    }
}
