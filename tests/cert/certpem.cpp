// Writes the PEM text of certificates for the interop check with openssl.
// Usage: certpem.exe IN.der OUT.pem [IN.der OUT.pem ...]
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
    if (argc < 3 || argc % 2 == 0) {
        fprintf(stderr, "usage: certpem IN.der OUT.pem [IN.der OUT.pem ...]\n");
        return 2;
    }
    try {
        CAPIWincrypt::Load();
        for (int i = 1; i + 1 < argc; i += 2) {
            std::ifstream in(argv[i], std::ios::binary);
            std::vector<BYTE> der((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            CWincryptCertificate certificate;
            certificate.Create2(der.data(), (DWORD)der.size());
            std::string pem = certificate.GetPEM();
            std::ofstream out(argv[i + 1], std::ios::binary);
            out << pem;
            if (!out) {
                fprintf(stderr, "certpem: cannot write %s\n", argv[i + 1]);
                return 1;
            }
        }
    } catch (CTarvoselException* e) {
        fprintf(stderr, "certpem: %s\n", e->GetDescription().c_str());
        delete e;
        return 1;
    }
    return 0;
}
