// Our PKCS#12 reader and writer against files OpenSSL wrote, damaged files, and
// the platform's import.
#include <gtest/gtest.h>

#include <windows.h>
#include <wincrypt.h>

#include <algorithm>
#include <iterator>

#include "platform/entrust/EntX509.h"
#include "platform/pkcs12/CPkcs12Reader.h"
#include "platform/pkcs12/CPkcs12Writer.h"
#include "platform/pkcs12/CRsaPrivateKey.h"
#include "tests/entrust/EntrustTestSupport.h"

namespace {
std::vector<CPkcs12Bag> ReadBags(const std::vector<BYTE>& data, const wchar_t* pszPassword,
                                 EPkcs12Error& e)
{
    CCryptoPrimitives crypto;
    CPkcs12Reader reader(crypto);
    std::vector<CPkcs12Bag> bags;
    e = reader.Read(data.data(), data.size(), pszPassword, bags);
    return bags;
}

int Count(const std::vector<CPkcs12Bag>& bags, CPkcs12Bag::EType eType)
{
    int n = 0;
    for (const CPkcs12Bag& b : bags)
        n += b.eType == eType;
    return n;
}

bool Holds(const std::vector<uint8_t>& data, const std::vector<uint8_t>& part)
{
    return std::search(data.begin(), data.end(), part.begin(), part.end()) != data.end();
}
}  // namespace

// OpenSSL 3's default (PBES2, AES-256, SHA-256 MAC), its -legacy form (RC2-40 and
// triple DES, SHA-1 MAC) and the test PKI's files: every key pairs with its
// certificate by public key.
TEST(Pkcs12, ReadsWhatOpenSslWrites)
{
    const struct {
        std::string strPath;
        int nKeys, nCerts;
    } aCases[] = {
        {epftest::Fixture("single.epf"), 1, 2},
        {epftest::Fixture("legacy.epf"), 1, 2},
        {std::string(TVL_PKI_DIR) + "/pfx/soft-ds.pfx", 1, 1},
    };
    for (const auto& c : aCases) {
        SCOPED_TRACE(c.strPath);
        EPkcs12Error e;
        std::vector<CPkcs12Bag> bags = ReadBags(tvltest::ReadBytes(c.strPath), L"Prueba1234", e);
        ASSERT_EQ(e, EPkcs12Error::Ok);
        EXPECT_EQ(Count(bags, CPkcs12Bag::BAG_KEY), c.nKeys);
        EXPECT_EQ(Count(bags, CPkcs12Bag::BAG_CERTIFICATE), c.nCerts);
        CRsaPrivateKey key;
        for (const CPkcs12Bag& b : bags) {
            if (b.eType == CPkcs12Bag::BAG_KEY) {
                ASSERT_TRUE(key.Parse(b.data.data(), b.data.size()));
            }
        }
        bool bPaired = false;
        for (const CPkcs12Bag& b : bags) {
            std::shared_ptr<const EntX509> pCert = EntX509::Parse(b.data.data(), b.data.size());
            bPaired = bPaired || (b.eType == CPkcs12Bag::BAG_CERTIFICATE && pCert &&
                                  pCert->Modulus() == key.Modulus());
        }
        EXPECT_TRUE(bPaired);
    }
}

// A wrong password is told apart from a damaged file; no cut or changed byte
// makes the reader crash or hand out entries.
TEST(Pkcs12, WrongPasswordAndDamageAreRefused)
{
    EPkcs12Error e;
    for (const char* pszName : {"user.epf", "legacy.epf"}) {
        SCOPED_TRACE(pszName);
        std::vector<BYTE> data = epftest::FixtureBytes(pszName);
        ASSERT_FALSE(data.empty());
        EXPECT_TRUE(ReadBags(data, L"Prueba1235", e).empty());
        EXPECT_EQ(e, EPkcs12Error::BadPassword);
        EXPECT_TRUE(ReadBags(data, L"", e).empty());
        EXPECT_EQ(e, EPkcs12Error::BadPassword);
        for (size_t n = 0; n < data.size(); n += data.size() / 97 + 1) {
            std::vector<BYTE> cut(data.begin(), data.begin() + n);
            EXPECT_TRUE(ReadBags(cut, L"Prueba1234", e).empty()) << n;
            EXPECT_NE(e, EPkcs12Error::Ok) << n;
        }
        for (size_t i = 0; i < data.size(); i += data.size() / 61 + 1) {
            std::vector<BYTE> changed = data;
            changed[i] ^= 0x5A;
            EXPECT_TRUE(ReadBags(changed, L"Prueba1234", e).empty()) << i;
            EXPECT_NE(e, EPkcs12Error::Ok) << i;
        }
    }
    EXPECT_TRUE(ReadBags(std::vector<BYTE>(), L"x", e).empty());
    EXPECT_EQ(e, EPkcs12Error::NotPkcs12);
    EXPECT_TRUE(ReadBags(std::vector<BYTE>(3000, 0x30), L"x", e).empty());
    EXPECT_EQ(e, EPkcs12Error::NotPkcs12);
}

// A file the password does not protect is refused: without an integrity MAC
// whatever the password (any would open it), and with a key in the clear even
// with the right one (a wrong one fails the MAC first).
TEST(Pkcs12, UnprotectedFilesAreRefused)
{
    const struct {
        const char* pszName;
        const wchar_t* pszPassword;
        EPkcs12Error e;
    } aCases[] = {
        {"nomac.epf", L"Prueba1234", EPkcs12Error::Unprotected},
        {"nomac.epf", L"cualquiera", EPkcs12Error::Unprotected},
        {"nomac.epf", L"", EPkcs12Error::Unprotected},
        {"plainkey.epf", L"Prueba1234", EPkcs12Error::Unprotected},
        {"plainkey.epf", L"cualquiera", EPkcs12Error::BadPassword},
    };
    for (const auto& c : aCases) {
        SCOPED_TRACE(testing::Message() << c.pszName << " password length " << wcslen(c.pszPassword));
        std::vector<BYTE> data = epftest::FixtureBytes(c.pszName);
        ASSERT_FALSE(data.empty());
        EPkcs12Error e;
        EXPECT_TRUE(ReadBags(data, c.pszPassword, e).empty());
        EXPECT_EQ(e, c.e);
    }
}

// What our writer makes reads back the same with our reader, with an empty
// password too, and the platform's import opens it with the password. The
// default form is the one every Windows imports: triple DES for keys and
// certificates and a SHA-1 MAC, no AES nor SHA-256 anywhere; the AES form
// keeps triple DES for passwords beyond ASCII.
TEST(Pkcs12, WrittenFilesReadBackHereAndInThePlatform)
{
    std::vector<CPkcs12Bag> bags;
    EPkcs12Error e;
    bags = ReadBags(epftest::FixtureBytes("single.epf"), L"Prueba1234", e);
    ASSERT_EQ(e, EPkcs12Error::Ok);
    // Encoded object identifiers.
    const std::vector<uint8_t> kPbeSha1Des3 = {0x06, 0x0A, 0x2A, 0x86, 0x48, 0x86, 0xF7,
                                               0x0D, 0x01, 0x0C, 0x01, 0x03};
    const std::vector<uint8_t> kPbes2 = {0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x05, 0x0D};
    const std::vector<uint8_t> kSha1 = {0x06, 0x05, 0x2B, 0x0E, 0x03, 0x02, 0x1A};
    const std::vector<uint8_t> kSha256 = {0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x01};
    for (CPkcs12Writer::EFormat eFormat : {CPkcs12Writer::FORMAT_COMPATIBLE, CPkcs12Writer::FORMAT_AES})
    for (const wchar_t* pszPassword : {L"Otra clave 1", L"", L"contrase\u00f1a"}) {
        SCOPED_TRACE(testing::Message() << "format " << eFormat << ", password length "
                                         << wcslen(pszPassword));
        CCryptoPrimitives crypto;
        CPkcs12Writer writer(crypto);
        std::vector<uint8_t> pfx;
        if (eFormat == CPkcs12Writer::FORMAT_COMPATIBLE)
            ASSERT_EQ(writer.Write(bags, pszPassword, 2000, pfx), EPkcs12Error::Ok);
        else
            ASSERT_EQ(writer.Write(bags, pszPassword, 2000, pfx, eFormat), EPkcs12Error::Ok);
        std::vector<CPkcs12Bag> back = ReadBags(pfx, pszPassword, e);
        ASSERT_EQ(e, EPkcs12Error::Ok);
        ASSERT_EQ(back.size(), bags.size());
        for (const CPkcs12Bag& b : bags) {
            bool bFound = false;
            for (const CPkcs12Bag& c : back)
                bFound = bFound || (c.eType == b.eType && c.data == b.data);
            EXPECT_TRUE(bFound);
        }
        // A password beyond ASCII is taken as Unicode by the PKCS#12 scheme it then
        // gets; the platform's import here cuts each character to a byte instead.
        bool bAscii = true;
        for (const wchar_t* p = pszPassword; *p != 0; ++p)
            bAscii = bAscii && *p < 0x80;
        bool bAes = eFormat == CPkcs12Writer::FORMAT_AES;
        EXPECT_EQ(Holds(pfx, kPbeSha1Des3), !bAes || !bAscii);
        EXPECT_EQ(Holds(pfx, kPbes2), bAes && bAscii);
        EXPECT_EQ(Holds(pfx, kSha256), bAes);
        EXPECT_EQ(Holds(pfx, kSha1), !bAes);
        if (*pszPassword == L'\0' || !bAscii)
            continue;  // the platform treats an empty password as none
        CRYPT_DATA_BLOB blob = {static_cast<DWORD>(pfx.size()), pfx.data()};
        HCERTSTORE hStore = PFXImportCertStore(&blob, pszPassword, CRYPT_USER_KEYSET);
        ASSERT_NE(hStore, nullptr) << std::hex << GetLastError();
        int nCerts = 0;
        for (PCCERT_CONTEXT p = nullptr; (p = CertEnumCertificatesInStore(hStore, p)) != nullptr;)
            ++nCerts;
        EXPECT_EQ(nCerts, 2);
        // The platform put the key into the user's default container: remove it.
        PCCERT_CONTEXT pFirst = CertEnumCertificatesInStore(hStore, nullptr);
        DWORD cb = 0;
        if (pFirst != nullptr && CertGetCertificateContextProperty(pFirst, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &cb)) {
            std::vector<BYTE> info(cb);
            CertGetCertificateContextProperty(pFirst, CERT_KEY_PROV_INFO_PROP_ID, info.data(), &cb);
            const CRYPT_KEY_PROV_INFO* p = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(info.data());
            HCRYPTPROV hProv = 0;
            CryptAcquireContextW(&hProv, p->pwszContainerName, p->pwszProvName, p->dwProvType,
                                 CRYPT_DELETEKEYSET);
        }
        if (pFirst != nullptr)
            CertFreeCertificateContext(pFirst);
        CertCloseStore(hStore, 0);
    }
    // No entries at all is a valid file.
    CCryptoPrimitives crypto;
    CPkcs12Writer writer(crypto);
    std::vector<uint8_t> empty;
    ASSERT_EQ(writer.Write(std::vector<CPkcs12Bag>(), L"x1", 2000, empty), EPkcs12Error::Ok);
    EXPECT_TRUE(ReadBags(empty, L"x1", e).empty());
    EXPECT_EQ(e, EPkcs12Error::Ok);
}
