// Windows driver of the session's signing and of the signed-file decoding, for
// the OpenSSL interoperability check (interop.sh):
//   sessioncli sign file|c2|baner SIGNCERT AUTHCERT ALGORITHM IN OUT
//   sessioncli check IN OUT [LOG]
// Certificates are named as in the test PKI and read from the user's "MY" store.
// Each command ends with a line "ms=N peak-kb=N" for the benchmarks.
#include <windows.h>
#include <psapi.h>
#include <stdio.h>
#include <string.h>

#include "api/CLog.h"
#include "api/CTarvoselException.h"
#include "app/CTarvoselApp.h"
#include "cert/wincrypt/CAPIWincrypt.h"
#include "cert/wincrypt/CWincryptSession.h"
#include "tests/session/SessionTestSupport.h"

namespace {
DWORD g_dwStart = GetTickCount();

void PrintFigures()
{
    PROCESS_MEMORY_COUNTERS pmc = {};
    pmc.cb = sizeof(pmc);
    GetProcessMemoryInfo(GetCurrentProcess(), &pmc, sizeof(pmc));
    printf("ms=%lu peak-kb=%lu\n", GetTickCount() - g_dwStart,
           static_cast<unsigned long>(pmc.PeakWorkingSetSize / 1024));
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
            if (strcmp(argv[2], "file") == 0)
                session.SignFile(argv[6], argv[7], argv[5]);
            else if (strcmp(argv[2], "c2") == 0)
                session.SignFileC2(argv[6], argv[7], argv[5]);
            else
                session.SignFileC2BANER(argv[6], argv[7], argv[5]);
            printf("signed\n");
            PrintFigures();
            return 0;
        }
        if ((argc == 4 || argc == 5) && strcmp(argv[1], "check") == 0) {
            if (argc == 5) {
                CLog::SetEnabled(1);
                CLog::SetPath(argv[4]);
            }
            CSignInfoList signers;
            GetTarvoselApp().CheckSignedFile_(argv[2], argv[3], signers);
            printf("signers=%u\n", static_cast<unsigned>(signers.size()));
            for (CS_SIGNINFO* p : signers)
                printf("signer %s trusted=%d time=%d\n", p->pCertificate->GetThumbprint().c_str(),
                       p->bTrusted, p->bHasSigningTime);
            DeleteSignInfoList(signers);
            PrintFigures();
            return 0;
        }
    } catch (CTarvoselException* e) {
        printf("error %d %s\n", e->GetResultCode(), e->GetDescription().c_str());
        delete e;
        return 1;
    }
    fprintf(stderr, "usage: sessioncli sign file|c2|baner SIGN AUTH ALG IN OUT | check IN OUT [LOG]\n");
    return 2;
}
