#include <gtest/gtest.h>

#include "api/CTarvoselException.h"
#include "cert/wincrypt/CAPIWincrypt.h"
#include "tests/support/TestFiles.h"

TEST(CAPIWincrypt, LoadsOnceAndUnloads)
{
    tvltest::LogCapture log("wincrypt");
    CAPIWincrypt::Unload();
    EXPECT_FALSE(CAPIWincrypt::IsLoaded());
    CAPIWincrypt::Load();
    CAPIWincrypt::Load();
    EXPECT_TRUE(CAPIWincrypt::IsLoaded());
    EXPECT_EQ(1, log.Count(" - CryptoAPI cargada correctamente\r\n"));
    // Every entry is resolved, the ones nobody calls included.
    EXPECT_NE(nullptr, CAPIWincrypt::CertGetSubjectCertificateFromStore);
    EXPECT_NE(nullptr, CAPIWincrypt::CryptEnumProvidersA);
    EXPECT_NE(nullptr, CAPIWincrypt::CryptMsgControl);
    EXPECT_NE(nullptr, CAPIWincrypt::CryptImportPublicKeyInfo);
    CAPIWincrypt::Unload();
    EXPECT_FALSE(CAPIWincrypt::IsLoaded());
    CAPIWincrypt::Load();
    EXPECT_EQ(2, log.Count(" - CryptoAPI cargada correctamente\r\n"));
}

TEST(CAPIWincrypt, MissingEntryPointIsLoggedAndThrown)
{
    tvltest::LogCapture log("wincrypt-missing");
    HMODULE hCrypt32 = LoadLibraryA("crypt32.dll");
    ASSERT_NE(nullptr, hCrypt32);
    try {
        CAPIWincrypt::LoadFunction(hCrypt32, "CertNoSuchFunction");
        ADD_FAILURE() << "no exception";
    } catch (CTarvoselException* e) {
        EXPECT_EQ(EXC_WINDOWS, e->GetKind());
        EXPECT_EQ("CAPIWinSCard::LoadFunction", e->GetContext());
        EXPECT_EQ(ERROR_PROC_NOT_FOUND, static_cast<DWORD>(e->GetSubCode()));
        delete e;
    }
    EXPECT_NE(std::string::npos,
              log.Text().find(" - No se ha cargado la funcion: CertNoSuchFunction\r\n"));
    FreeLibrary(hCrypt32);
}
