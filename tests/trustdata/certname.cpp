// Prints the names of certificates as the library reads them (CertNameToStrA
// through CWincryptCertificate): for each file, the subject on one line and the
// issuer on the next, in the ANSI code page, nothing else.
// Usage: certname.exe CERT.der [CERT.der ...]
#include <windows.h>

#include <stdio.h>

#include <fstream>
#include <iterator>
#include <vector>

#include "api/CTarvoselException.h"
#include "cert/wincrypt/CAPIWincrypt.h"
#include "cert/wincrypt/CWincryptCertificate.h"

int main(int argc, char** argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: certname CERT.der [CERT.der ...]\n");
        return 2;
    }
    try {
        CAPIWincrypt::Load();
        for (int i = 1; i < argc; ++i) {
            std::ifstream in(argv[i], std::ios::binary);
            std::vector<BYTE> der((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
            CWincryptCertificate certificate;
            certificate.Create2(der.data(), static_cast<DWORD>(der.size()));
            printf("%s\n%s\n", certificate.GetSubject().c_str(), certificate.GetIssuer().c_str());
        }
    } catch (CTarvoselException* e) {
        fprintf(stderr, "certname: %s\n", e->GetDescription().c_str());
        delete e;
        return 1;
    }
    return 0;
}
