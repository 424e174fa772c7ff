// Takes the bench cards' certificates out of "MY" (CTest cleanup of the card
// tests: a test that died cannot leave them to the tests that come after).
#include <cstdio>
#include <string>

#include "CCardCertificates.h"

int main()
{
    std::string strError;
    if (!CCardCertificates::RemoveAll(&strError)) {
        std::fprintf(stderr, "cardcerts: %s\n", strError.c_str());
        return 1;
    }
    std::printf("card certificates: none left in MY\n");
    return 0;
}
