// Windows driver of the session's signing and of the signed-file decoding, for
// the OpenSSL interoperability check (interop.sh) and the benchmarks:
//   sessioncli sign file|c2|baner SIGNCERT AUTHCERT ALGORITHM IN OUT
//   sessioncli check IN OUT [LOG]
//   sessioncli pipeline-sign SIGNCERT AUTHCERT IN OUT BASE64 GZIP
//   sessioncli pipeline-check SIGNCERT AUTHCERT IN OUT BASE64 GZIP
// Certificates are named as in the test PKI and read from the user's "MY" store.
// The pipeline commands run the application object's SignFile and
// CheckSignedFile (flags 0 or 1), with the temporary folder beside OUT.
// Each command ends with a line "ms=N op-ms=N peak-kb=N": ms since the
// process started, op-ms of the operation alone.
#include <windows.h>
#include <psapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "api/CLog.h"
#include "api/CTarvoselException.h"
#include "app/CTarvoselApp.h"
#include "cert/wincrypt/CAPIWincrypt.h"
#include "cert/wincrypt/CWincryptSession.h"
#include "tests/session/SessionTestSupport.h"

namespace {
DWORD g_dwStart = GetTickCount();

double Now()
{
    LARGE_INTEGER freq, t;
    QueryPerformanceFrequency(&freq);
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) * 1000.0 / static_cast<double>(freq.QuadPart);
}

void PrintFigures(double dOpMs)
{
    PROCESS_MEMORY_COUNTERS pmc = {};
    pmc.cb = sizeof(pmc);
    GetProcessMemoryInfo(GetCurrentProcess(), &pmc, sizeof(pmc));
    printf("ms=%lu op-ms=%.1f peak-kb=%lu\n", GetTickCount() - g_dwStart, dOpMs,
           static_cast<unsigned long>(pmc.PeakWorkingSetSize / 1024));
}

// The application object with a session on the two certificates, as after a
// login; the ini file it needs is written beside the executable.
int RunPipeline(char** argv)
{
    const bool bSign = strcmp(argv[1], "pipeline-sign") == 0;
    char szExe[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, szExe, MAX_PATH);
    std::string strIni = std::string(szExe, n);
    strIni = strIni.substr(0, strIni.find_last_of("\\/") + 1) + "tarvosel.ini";
    FILE* pIni = fopen(strIni.c_str(), "wb");
    if (pIni != nullptr) {
        fputs("[Configuracion tarvosel]\r\nLog=0\r\n", pIni);
        fclose(pIni);
    }
    CTarvoselApp& app = GetTarvoselApp();
    app.Initialize(0);
    std::string strOut = argv[5];
    app.SetTempDir(strOut.substr(0, strOut.find_last_of("\\/") + 1));
    sessiontest::Choice c(argv[2], argv[3]);
    if (!c.IsComplete()) {
        fprintf(stderr, "certificate not in MY\n");
        return 2;
    }
    CWincryptSession* pSession = new CWincryptSession;
    pSession->Open(&c.login);
    c.choice.lstCertificates.clear();
    app.AdoptSession(pSession);
    const int bBase64 = atoi(argv[6]), bGzip = atoi(argv[7]);
    double t0 = Now();
    if (bSign)
        app.SignFile(argv[4], argv[5], "MD5WITHRSA", bBase64, bGzip);
    else
        app.CheckSignedFile(argv[4], argv[5], bBase64, bGzip);
    double dMs = Now() - t0;
    printf(bSign ? "signed\n" : "checked\n");
    PrintFigures(dMs);
    app.Finalize();
    DeleteFileA(strIni.c_str());
    return 0;
}
}  // namespace

int main(int argc, char** argv)
{
    try {
        CAPIWincrypt::Load();
        if (argc == 8 && strcmp(argv[1], "sign") == 0) {
            sessiontest::Choice c(argv[3], argv[4]);
            if (!c.IsComplete()) {
                fprintf(stderr, "certificate not in MY\n");
                return 2;
            }
            CWincryptSession session;
            session.Open(&c.login);
            c.choice.lstCertificates.clear();
            double t0 = Now();
            if (strcmp(argv[2], "file") == 0)
                session.SignFile(argv[6], argv[7], argv[5]);
            else if (strcmp(argv[2], "c2") == 0)
                session.SignFileC2(argv[6], argv[7], argv[5]);
            else
                session.SignFileC2BANER(argv[6], argv[7], argv[5]);
            double dMs = Now() - t0;
            printf("signed\n");
            PrintFigures(dMs);
            return 0;
        }
        if ((argc == 4 || argc == 5) && strcmp(argv[1], "check") == 0) {
            if (argc == 5) {
                CLog::SetEnabled(1);
                CLog::SetPath(argv[4]);
            }
            CSignInfoList signers;
            double t0 = Now();
            GetTarvoselApp().CheckSignedFile_(argv[2], argv[3], signers);
            double dMs = Now() - t0;
            printf("signers=%u\n", static_cast<unsigned>(signers.size()));
            for (CS_SIGNINFO* p : signers)
                printf("signer %s trusted=%d time=%d\n", p->pCertificate->GetThumbprint().c_str(),
                       p->bTrusted, p->bHasSigningTime);
            DeleteSignInfoList(signers);
            PrintFigures(dMs);
            return 0;
        }
        if (argc == 8 && (strcmp(argv[1], "pipeline-sign") == 0 ||
                          strcmp(argv[1], "pipeline-check") == 0))
            return RunPipeline(argv);
    } catch (CTarvoselException* e) {
        printf("error %d %s\n", e->GetResultCode(), e->GetDescription().c_str());
        delete e;
        return 1;
    }
    fprintf(stderr, "usage: sessioncli sign file|c2|baner SIGN AUTH ALG IN OUT | check IN OUT [LOG] | "
                    "pipeline-sign|pipeline-check SIGN AUTH IN OUT BASE64 GZIP\n");
    return 2;
}
