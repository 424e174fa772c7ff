// The exported interface as a host sees it: the real DLL, loaded by name, its
// exports found by their decorated names.
#include <windows.h>
#include <oleauto.h>
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "api/Exports.h"
#include "api/ResultCodes.h"
#include "tests/support/LoginDriver.h"
#include "tests/support/ProcessCounts.h"
#include "tests/support/TestFiles.h"
#include "tests/support/TestWait.h"

namespace {
class ExportsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_strIni = tvltest::ExeFolder() + "tarvosel.ini";
        m_strLog = tvltest::ExeFolder() + "exports-" + std::to_string(GetCurrentProcessId()) + ".log";
        DeleteFileA(m_strLog.c_str());
        WriteIni("Log=1\r\n");
        m_hDll = LoadLibraryA((tvltest::ExeFolder() + "..\\tarvosel.dll").c_str());
        ASSERT_NE(nullptr, m_hDll);
        Resolve(TVL_EXPORT_NAME(Inicializar, 4), Inicializar);
        Resolve(TVL_EXPORT_NAME(Finalizar, 0), Finalizar);
        Resolve(TVL_EXPORT_NAME(Login, 4), Login);
        Resolve(TVL_EXPORT_NAME(Logout, 0), Logout);
        Resolve(TVL_EXPORT_NAME(UsuarioValidado, 0), UsuarioValidado);
        Resolve(TVL_EXPORT_NAME(InfoSesion, 4), InfoSesion);
        Resolve(TVL_EXPORT_NAME(FirmarFichero, 16), FirmarFichero);
        Resolve(TVL_EXPORT_NAME(ComprobarFirmaFichero, 16), ComprobarFirmaFichero);
        Resolve(TVL_EXPORT_NAME(ExportarCertificado, 12), ExportarCertificado);
        Resolve(TVL_EXPORT_NAME(ObtenerHandleSSL, 4), ObtenerHandleSSL);
        Resolve(TVL_EXPORT_NAME(ObtenerUltimoError, 0), ObtenerUltimoError);
        Resolve(TVL_EXPORT_NAME(DescripcionError, 4), DescripcionError);
        Resolve(TVL_EXPORT_NAME(AsignarRutaLog, 4), AsignarRutaLog);
        Resolve(TVL_EXPORT_NAME(AsignarDirectorioTemp, 4), AsignarDirectorioTemp);
    }
    void TearDown() override
    {
        if (Finalizar != nullptr)
            Finalizar();
        if (m_hDll != nullptr)
            FreeLibrary(m_hDll);
        DeleteFileA(m_strIni.c_str());
        DeleteFileA(m_strLog.c_str());
    }
    template <typename T>
    void Resolve(const char* pszName, T& pfn)
    {
        pfn = reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(m_hDll, pszName)));
        ASSERT_NE(nullptr, pfn) << pszName;
    }
    void WriteIni(const std::string& strKeys)
    {
        tvltest::WriteAll(m_strIni, "[Configuracion tarvosel]\r\n" + strKeys);
    }
    std::string Describe(int nCode)
    {
        BSTR b = DescripcionError(nCode);
        std::string s(reinterpret_cast<const char*>(b), SysStringByteLen(b));
        SysFreeString(b);
        return s;
    }
    std::string Log() { return tvltest::ReadAll(m_strLog); }

    HMODULE m_hDll = nullptr;
    std::string m_strIni, m_strLog;
    decltype(&::Inicializar) Inicializar = nullptr;
    decltype(&::Finalizar) Finalizar = nullptr;
    decltype(&::Login) Login = nullptr;
    decltype(&::Logout) Logout = nullptr;
    decltype(&::UsuarioValidado) UsuarioValidado = nullptr;
    decltype(&::InfoSesion) InfoSesion = nullptr;
    decltype(&::FirmarFichero) FirmarFichero = nullptr;
    decltype(&::ComprobarFirmaFichero) ComprobarFirmaFichero = nullptr;
    decltype(&::ExportarCertificado) ExportarCertificado = nullptr;
    decltype(&::ObtenerHandleSSL) ObtenerHandleSSL = nullptr;
    decltype(&::ObtenerUltimoError) ObtenerUltimoError = nullptr;
    decltype(&::DescripcionError) DescripcionError = nullptr;
    decltype(&::AsignarRutaLog) AsignarRutaLog = nullptr;
    decltype(&::AsignarDirectorioTemp) AsignarDirectorioTemp = nullptr;
};

const char kLine[] = "  [0-9]{2}:[0-9]{2}:[0-9]{2}\\([0-9]+\\) - ";
}  // namespace

TEST_F(ExportsTest, DescripcionErrorGivesTheCp1252BytesAndClearsTheLastError)
{
    EXPECT_EQ(ERR_NOT_INITIALISED, FirmarFichero("a", "b", 0, 0));
    EXPECT_EQ(ERR_NOT_INITIALISED, ObtenerUltimoError());
    EXPECT_EQ("No existe una sesi\xF3n de usuario abierta", Describe(-1002));
    EXPECT_EQ(RESULT_OK, ObtenerUltimoError());
    for (int nCode = -1040; nCode <= -1000; ++nCode)
        EXPECT_EQ(ResultCodeMessage(nCode), Describe(nCode)) << nCode;
    for (int nCode : {0, 10001, 10002, 10003, 12345, -1})
        EXPECT_EQ(ResultCodeMessage(nCode), Describe(nCode)) << nCode;
    EXPECT_EQ("Error desconocido", Describe(12345));
}

TEST_F(ExportsTest, BeforeInicializarOnlyTheFreeExportsWork)
{
    char szPath[5000] = "untouched", szPassword[5000] = "untouched";
    CS_LOGINDATA data = {};
    data.nType = 7;
    EXPECT_EQ(ERR_NOT_INITIALISED, UsuarioValidado());
    EXPECT_EQ(ERR_NOT_INITIALISED, Login(&data));
    EXPECT_EQ(-1, data.nType);
    EXPECT_EQ(ERR_NOT_INITIALISED, Logout());
    EXPECT_EQ(ERR_NOT_INITIALISED, InfoSesion(&data));
    EXPECT_EQ(ERR_NOT_INITIALISED, FirmarFichero("a", "b", 1, 1));
    EXPECT_EQ(ERR_NOT_INITIALISED, ComprobarFirmaFichero("a", "b", 1, 1));
    EXPECT_EQ(ERR_NOT_INITIALISED, ExportarCertificado(nullptr, szPath, szPassword));
    EXPECT_STREQ("untouched", szPath);
    EXPECT_EQ(ERR_NOT_INITIALISED, ObtenerHandleSSL(nullptr));
    EXPECT_EQ(ERR_NOT_INITIALISED, AsignarDirectorioTemp("C:\\"));
    EXPECT_EQ(RESULT_OK, Finalizar());
    EXPECT_EQ(RESULT_OK, AsignarRutaLog(m_strLog.c_str()));
    EXPECT_EQ(RESULT_OK, ObtenerUltimoError());
    // Logging is off until initialisation.
    EXPECT_EQ(ERR_NOT_INITIALISED, FirmarFichero("a", "b", 0, 0));
    EXPECT_FALSE(tvltest::Exists(m_strLog));
}

TEST_F(ExportsTest, LogKeyZeroKeepsTheLogClosed)
{
    WriteIni("Log=0\r\n");
    AsignarRutaLog(m_strLog.c_str());
    ASSERT_EQ(RESULT_OK, Inicializar(0));
    EXPECT_EQ(ERR_NO_SESSION, FirmarFichero("a", "b", 0, 0));
    EXPECT_FALSE(tvltest::Exists(m_strLog));
}

TEST_F(ExportsTest, SigningWithoutSessionWritesTheExampleBlock)
{
    AsignarRutaLog(m_strLog.c_str());
    ASSERT_EQ(RESULT_OK, Inicializar(0));
    EXPECT_EQ(ERR_NO_SESSION, FirmarFichero("a", "b", 0, 0));
    EXPECT_EQ(ERR_NO_SESSION, ObtenerUltimoError());
    EXPECT_EQ(RESULT_OK, AsignarDirectorioTemp("C:\\"));
    EXPECT_EQ(RESULT_OK, ObtenerUltimoError());

    std::regex block(std::string("(.|\r|\n)*Tarvosel FirmarFichero \\[Ver: 6\\.0\\.0\\.25\\]\r\n\\{\r\n") +
                     kLine +
                     "Excepci\xF3n Tarvosel en CTarvoselApp::SignFile: -1002 -> 'No existe una "
                     "sesi\xF3n de usuario abierta'\r\n" +
                     kLine + "Resultado: -1002\r\n\\}\r\n\r\n");
    EXPECT_TRUE(std::regex_match(Log(), block)) << Log();
}

TEST_F(ExportsTest, NullAndSentinelPointersAreHandled)
{
    AsignarRutaLog(m_strLog.c_str());
    ASSERT_EQ(RESULT_OK, Inicializar(0));
    EXPECT_EQ(ERR_NO_SESSION, ObtenerHandleSSL(nullptr));
    EXPECT_EQ(ERR_NO_SESSION, ObtenerHandleSSL(reinterpret_cast<const char*>(1)));
    EXPECT_EQ(ERR_NO_SESSION, ExportarCertificado(reinterpret_cast<const char*>(1), nullptr, nullptr));
    EXPECT_EQ(ERR_NO_SESSION, FirmarFichero(nullptr, nullptr, 0, 0));
    EXPECT_EQ(ERR_NO_SESSION, ComprobarFirmaFichero(nullptr, nullptr, 0, 0));
    EXPECT_EQ(ERR_NO_SESSION, InfoSesion(nullptr));
    EXPECT_EQ(0, UsuarioValidado());
    EXPECT_EQ(RESULT_OK, Logout());
    EXPECT_EQ(RESULT_OK, AsignarDirectorioTemp(nullptr));
    // The login sheet shows; the person cancels it.
    DWORD dwThread = GetCurrentThreadId();
    bool bCancelled = false;
    tvltest::CDriver driver([&] { bCancelled = tvltest::CancelLoginSheet(dwThread); }, dwThread);
    EXPECT_EQ(0, Login(nullptr));
    driver.Join();
    EXPECT_TRUE(bCancelled);
    std::string s = Log();
    EXPECT_NE(std::string::npos,
              s.find("Tarvosel ObtenerHandleSSL [Ver: 6.0.0.25]\r\n{\r\n"));
    EXPECT_NE(std::string::npos,
              s.find("Excepci\xF3n Tarvosel en CTarvoselApp::GetSSLHandle: -1002"));
}

TEST_F(ExportsTest, InicializarWithoutIniFails)
{
    DeleteFileA(m_strIni.c_str());
    EXPECT_EQ(ERR_INI_FILE, Inicializar(0));
    EXPECT_EQ(ERR_NOT_INITIALISED, UsuarioValidado());
    WriteIni("Log=1\r\n");
    EXPECT_EQ(RESULT_OK, Inicializar(0));
    EXPECT_EQ(RESULT_OK, Inicializar(0));
    EXPECT_EQ(0, UsuarioValidado());
    EXPECT_EQ(RESULT_OK, Finalizar());
    EXPECT_EQ(ERR_NOT_INITIALISED, UsuarioValidado());
    EXPECT_EQ(RESULT_OK, Inicializar(0));
}

// A host that unloads the library without Finalizar must not pull the code from
// under the library's own thread: the thread keeps the library loaded. With
// Finalizar first, the library really goes.
TEST(ExportsUnload, LibraryStaysWhileItsThreadRuns)
{
    std::string strIni = tvltest::ExeFolder() + "tarvosel.ini";
    tvltest::WriteAll(strIni, "[Configuracion tarvosel]\r\nLog=0\r\n");
    std::string strDll = tvltest::ExeFolder() + "..\\tarvosel.dll";
    typedef int(__stdcall * PFN_INIT)(int);
    typedef int(__stdcall * PFN_FIN)();

    HMODULE hDll = LoadLibraryA(strDll.c_str());
    ASSERT_NE(nullptr, hDll);
    auto pfnInit = reinterpret_cast<PFN_INIT>(reinterpret_cast<void*>(GetProcAddress(hDll, TVL_EXPORT_NAME(Inicializar, 4))));
    auto pfnFin = reinterpret_cast<PFN_FIN>(reinterpret_cast<void*>(GetProcAddress(hDll, TVL_EXPORT_NAME(Finalizar, 0))));
    ASSERT_EQ(RESULT_OK, pfnInit(0));
    ASSERT_EQ(RESULT_OK, pfnFin());
    FreeLibrary(hDll);
    EXPECT_EQ(nullptr, GetModuleHandleA("tarvosel.dll"));

    hDll = LoadLibraryA(strDll.c_str());
    ASSERT_NE(nullptr, hDll);
    pfnInit = reinterpret_cast<PFN_INIT>(reinterpret_cast<void*>(GetProcAddress(hDll, TVL_EXPORT_NAME(Inicializar, 4))));
    ASSERT_EQ(RESULT_OK, pfnInit(0));
    FreeLibrary(hDll);
    ASSERT_NE(nullptr, GetModuleHandleA("tarvosel.dll"));
    // A host that comes back takes a reference of its own (calling through the
    // thread's reference alone would run Finalizar in code that the thread's
    // end unmaps): Finalizar stops the thread, whose end gives its reference
    // back, and the host's FreeLibrary is then the last.
    hDll = LoadLibraryA(strDll.c_str());
    ASSERT_NE(nullptr, hDll);
    pfnFin = reinterpret_cast<PFN_FIN>(reinterpret_cast<void*>(GetProcAddress(hDll, TVL_EXPORT_NAME(Finalizar, 0))));
    EXPECT_EQ(RESULT_OK, pfnFin());
    FreeLibrary(hDll);
    EXPECT_EQ(nullptr, GetModuleHandleA("tarvosel.dll"));
    DeleteFileA(strIni.c_str());
}

namespace {
// What the other threads of a host call while the main thread works.
struct OtherThreads {
    decltype(&::DescripcionError) DescripcionError;
    decltype(&::ObtenerUltimoError) ObtenerUltimoError;
    decltype(&::UsuarioValidado) UsuarioValidado;
    decltype(&::AsignarRutaLog) AsignarRutaLog;
    const char* pszLog;
    volatile LONG bStop;
    volatile LONG nCalls;
};

DWORD WINAPI CallTheLibrary(LPVOID pParam)
{
    OtherThreads* p = static_cast<OtherThreads*>(pParam);
    while (!p->bStop) {
        SysFreeString(p->DescripcionError(-1002));
        p->ObtenerUltimoError();
        p->UsuarioValidado();
        p->AsignarRutaLog(p->pszLog);
        InterlockedIncrement(&p->nCalls);
    }
    return 0;
}
}  // namespace

// A host that calls the library from several threads: every failing call
// returns its own failure, whatever the other threads' calls do meanwhile to
// the process's last error, which ObtenerUltimoError keeps answering.
TEST_F(ExportsTest, EachCallReturnsItsOwnResultWhileOtherThreadsCall)
{
    AsignarRutaLog(m_strLog.c_str());
    ASSERT_EQ(RESULT_OK, Inicializar(0));
    OtherThreads other = {DescripcionError, ObtenerUltimoError, UsuarioValidado, AsignarRutaLog,
                          m_strLog.c_str(), 0, 0};
    const int kThreads = 8;
    HANDLE hThreads[kThreads];
    for (HANDLE& h : hThreads) {
        h = CreateThread(nullptr, 0, CallTheLibrary, &other, 0, nullptr);
        ASSERT_NE(nullptr, h);
    }
    while (other.nCalls < 10)
        Sleep(1);
    int nWrong = 0, nCalls = 0;
    for (int i = 0; i < 100; ++i) {
        nWrong += ObtenerHandleSSL(nullptr) != ERR_NO_SESSION;
        nWrong += FirmarFichero("a", "b", 0, 0) != ERR_NO_SESSION;
        nWrong += InfoSesion(nullptr) != ERR_NO_SESSION;
        nCalls += 3;
    }
    InterlockedExchange(&other.bStop, 1);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(kThreads, hThreads, TRUE, 10000));
    for (HANDLE h : hThreads)
        CloseHandle(h);
    EXPECT_EQ(0, nWrong) << "of " << nCalls << " failing calls, with " << other.nCalls
                         << " rounds of calls on the other threads";
    // From one thread nothing changes: the last error is the last call's.
    EXPECT_EQ(ERR_NO_SESSION, ObtenerHandleSSL(nullptr));
    EXPECT_EQ(ERR_NO_SESSION, ObtenerUltimoError());
    EXPECT_EQ(0, UsuarioValidado());
    EXPECT_EQ(RESULT_OK, ObtenerUltimoError());
}

// A host that loads the library for every job: after the first cycle, load,
// initialise, a failing call, finalise and unload leave no handle and no TLS
// index behind (the C++ runtime's own thread layer used to keep some per load).
TEST(ExportsUnload, LoadCyclesLeaveNoHandleNorTlsIndex)
{
    std::string strIni = tvltest::ExeFolder() + "tarvosel.ini";
    tvltest::WriteAll(strIni, "[Configuracion tarvosel]\r\nLog=0\r\n");
    std::string strDll = tvltest::ExeFolder() + "..\\tarvosel.dll";
    typedef int(__stdcall * PFN_INIT)(int);
    typedef int(__stdcall * PFN_VOID)();
    typedef int(__stdcall * PFN_SSL)(const char*);
    auto cycle = [&] {
        HMODULE hDll = LoadLibraryA(strDll.c_str());
        ASSERT_NE(nullptr, hDll);
        auto pfnInit = reinterpret_cast<PFN_INIT>(
            reinterpret_cast<void*>(GetProcAddress(hDll, TVL_EXPORT_NAME(Inicializar, 4))));
        auto pfnFin = reinterpret_cast<PFN_VOID>(
            reinterpret_cast<void*>(GetProcAddress(hDll, TVL_EXPORT_NAME(Finalizar, 0))));
        auto pfnSsl = reinterpret_cast<PFN_SSL>(
            reinterpret_cast<void*>(GetProcAddress(hDll, TVL_EXPORT_NAME(ObtenerHandleSSL, 4))));
        EXPECT_EQ(RESULT_OK, pfnInit(0));
        EXPECT_EQ(ERR_NO_SESSION, pfnSsl(nullptr));
        EXPECT_EQ(RESULT_OK, pfnFin());
        FreeLibrary(hDll);
        EXPECT_EQ(nullptr, GetModuleHandleA("tarvosel.dll"));
    };
    cycle();
    tvltest::ProcessCounts before = tvltest::TakeProcessCounts();
    for (int i = 0; i < 20; ++i)
        cycle();
    tvltest::ProcessCounts after = tvltest::TakeProcessCounts();
    EXPECT_EQ("none", after.DiffFrom(before));
    EXPECT_EQ(before.nNextTls, after.nNextTls);
    EXPECT_EQ(before.nThreads, after.nThreads);
    DeleteFileA(strIni.c_str());
}
