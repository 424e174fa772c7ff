// Secrets must not stay behind in freed memory: the key's numbers, plain text
// before encryption, derived keys and passwords. This program replaces the
// allocator so that, while a secret is watched, every block given back is
// searched for it; the code under test must wipe a buffer before it goes and
// reserve a buffer's whole size before filling it (a reallocation gives the old
// block back unwiped).
#include <gtest/gtest.h>

#include <windows.h>

#include <malloc.h>
#include <stdlib.h>

#include <algorithm>
#include <functional>
#include <new>

#include "platform/entrust/EntFile.h"
#include "platform/pkcs12/CPkcs12Pbe.h"
#include "platform/pkcs12/CPkcs12Reader.h"
#include "platform/pkcs12/CRsaPrivateKey.h"
#include "tests/entrust/EntrustTestSupport.h"

namespace {
// Plain data only: the allocator reads it.
struct CWatch {
    volatile LONG bArmed;
    const uint8_t* pSecret;
    size_t nSecret;
    volatile LONG nHits;
};
CWatch g_watch = {0, nullptr, 0, 0};

void Inspect(void* p)
{
    if (!g_watch.bArmed || p == nullptr)
        return;
    const uint8_t* pBlock = static_cast<const uint8_t*>(p);
    size_t nBlock = _msize(p);
    if (nBlock >= g_watch.nSecret &&
        std::search(pBlock, pBlock + nBlock, g_watch.pSecret, g_watch.pSecret + g_watch.nSecret) !=
            pBlock + nBlock)
        InterlockedIncrement(&g_watch.nHits);
}

// How many blocks freed during the operation held the secret.
int FreedCopies(const std::vector<uint8_t>& secret, const std::function<void()>& operation)
{
    g_watch.pSecret = secret.data();
    g_watch.nSecret = secret.size();
    g_watch.nHits = 0;
    InterlockedExchange(&g_watch.bArmed, 1);
    operation();
    InterlockedExchange(&g_watch.bArmed, 0);
    return g_watch.nHits;
}

std::vector<uint8_t> Part(const std::vector<uint8_t>& bytes, size_t nFrom, size_t nSize)
{
    return std::vector<uint8_t>(bytes.begin() + nFrom, bytes.begin() + nFrom + nSize);
}
}  // namespace

void* operator new(size_t n)
{
    void* p = malloc(n != 0 ? n : 1);
    if (p == nullptr)
        throw std::bad_alloc();
    return p;
}
void* operator new[](size_t n)
{
    return operator new(n);
}
void operator delete(void* p) noexcept
{
    Inspect(p);
    free(p);
}
void operator delete[](void* p) noexcept
{
    operator delete(p);
}
void operator delete(void* p, size_t) noexcept
{
    operator delete(p);
}
void operator delete[](void* p, size_t) noexcept
{
    operator delete(p);
}

// The watch itself sees a copy freed unwiped, and not one wiped first.
TEST(SecretWipe, TheWatchSeesAnUnwipedCopy)
{
    std::vector<uint8_t> secret = {0x5E, 0xC2, 0xE7, 0x01, 0x02, 0x03, 0x04, 0x05, 0x99, 0xAB};
    // The compiler may not drop the copy: its address escapes.
    EXPECT_EQ(FreedCopies(secret, [&] {
                  std::vector<uint8_t> copy = secret;
                  asm volatile("" : : "g"(copy.data()) : "memory");
              }),
              1);
    EXPECT_EQ(FreedCopies(secret, [&] {
                  std::vector<uint8_t> copy = secret;
                  asm volatile("" : : "g"(copy.data()) : "memory");
                  WipeBytes(copy);
              }),
              0);
}

// Each operation that handles a secret gives back no block holding it.
TEST(SecretWipe, KeysPlainTextDerivedKeysAndPasswordsAreWipedBeforeTheyAreFreed)
{
    std::vector<uint8_t> pkcs8;
    {
        std::vector<BYTE> data = epftest::FixtureBytes("single.epf");
        CCryptoPrimitives crypto;
        CPkcs12Reader reader(crypto);
        std::vector<CPkcs12Bag> bags;
        ASSERT_EQ(reader.Read(data.data(), data.size(), L"Prueba1234", bags), EPkcs12Error::Ok);
        for (const CPkcs12Bag& bag : bags) {
            if (bag.eType == CPkcs12Bag::BAG_KEY)
                pkcs8 = bag.data;
        }
    }
    CRsaPrivateKey key;
    ASSERT_TRUE(key.Parse(pkcs8.data(), pkcs8.size()));
    // A piece of the first prime, as DER carries it and as a key blob does.
    std::vector<uint8_t> prime;
    {
        std::vector<uint8_t> blob;
        ASSERT_TRUE(key.ToPrivateKeyBlob(CALG_RSA_KEYX, blob));
        size_t nFull = key.Modulus().size();
        prime = Part(blob, 20 + nFull + 40, 24);  // after the header and the modulus
        WipeBytes(blob);
    }
    std::vector<uint8_t> primeBigEndian(prime.rbegin(), prime.rend());

    CCryptoPrimitives crypto;
    ASSERT_TRUE(crypto.IsReady());
    const std::vector<uint8_t> salt = {1, 2, 3, 4, 5, 6, 7, 8}, iv = {8, 7, 6, 5, 4, 3, 2, 1};
    const std::wstring strPassword = L"una contrase\u00f1a bastante larga de perfil 2024";
    std::vector<uint8_t> bmp = CPkcs12Pbe::BmpPassword(strPassword);
    std::vector<uint8_t> kdfKey, pbkdf2Key;
    ASSERT_TRUE(crypto.Pkcs12Kdf(CCryptoPrimitives::HASH_SHA1, bmp, salt, 50, 1, 24, kdfKey));
    ASSERT_TRUE(crypto.Pbkdf2(CCryptoPrimitives::HASH_SHA1, bmp, salt, 50, 32, pbkdf2Key));

    std::vector<uint8_t> out;
    const struct {
        const char* pszCase;
        std::vector<uint8_t> secret;
        std::function<void()> operation;
    } aCases[] = {
        {"key to PKCS#8", primeBigEndian, [&] { out = key.ToPkcs8(); }},
        {"key to a key blob", prime, [&] { ASSERT_TRUE(key.ToPrivateKeyBlob(CALG_RSA_KEYX, out)); }},
        {"signing with the key", prime, [&] {
             const uint8_t data[] = "documento";
             ASSERT_TRUE(crypto.RsaSign(key, CCryptoPrimitives::HASH_SHA256, data, sizeof(data), out));
         }},
        {"encrypting the key", primeBigEndian, [&] {
             ASSERT_TRUE(crypto.Encrypt(CCryptoPrimitives::CIPHER_DES3, kdfKey, iv, pkcs8, out));
         }},
        {"PKCS#12 key derivation", Part(kdfKey, 0, 16), [&] {
             ASSERT_TRUE(crypto.Pkcs12Kdf(CCryptoPrimitives::HASH_SHA1, bmp, salt, 50, 1, 24, out));
         }},
        {"PBKDF2", Part(pbkdf2Key, 0, 16), [&] {
             ASSERT_TRUE(crypto.Pbkdf2(CCryptoPrimitives::HASH_SHA1, bmp, salt, 50, 32, out));
         }},
        {"password as a BMPString", Part(bmp, 0, 24), [&] { out = CPkcs12Pbe::BmpPassword(strPassword); }},
    };
    for (const auto& c : aCases) {
        SCOPED_TRACE(c.pszCase);
        EXPECT_EQ(FreedCopies(c.secret, c.operation), 0);
        // Released, so that the next case grows its output from nothing.
        WipeBytes(out);
        std::vector<uint8_t>().swap(out);
    }
    WipeBytes(pkcs8);
    WipeBytes(bmp);
}

// The export password, in the wide form the writer takes, goes wiped too.
TEST(SecretWipe, TheExportPasswordIsWipedBeforeItIsFreed)
{
    std::string strDir = tvltest::MakeScratchFolder("SecretWipeExport");
    std::string strProfile = epftest::CopyProfile(strDir, "user");
    std::string strIni = epftest::WriteIni(strDir + "offline.ini", "<none>");
    {
        EntFile file(strProfile.c_str(), epftest::kPassword, strIni.c_str(), 1);
        ASSERT_EQ(file.GetConstructorError(), ENT_OK);
        EntCertificateList all;
        ASSERT_EQ(file.GetPKCS12ExportableCertificates(all), ENT_OK);
        const char kExportPassword[] = "Exportacion-secreta-1234";
        std::vector<uint8_t> wide;  // UTF-16LE, as the wide string holds it
        for (const char* p = kExportPassword; *p != 0; ++p) {
            wide.push_back(static_cast<uint8_t>(*p));
            wide.push_back(0);
        }
        std::string strOut = strDir + "out.pfx";
        EXPECT_EQ(FreedCopies(wide, [&] {
                      EXPECT_EQ(file.ExportCertificateListPKCS12(epftest::kPassword, strOut.c_str(),
                                                                 kExportPassword, all, 2000),
                                ENT_OK);
                  }),
                  0);
    }
    tvltest::RemoveFolder(strDir);
}
