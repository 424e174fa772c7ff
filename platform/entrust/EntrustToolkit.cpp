#include "platform/entrust/EntrustToolkit.h"

namespace {
struct CodeText {
    short nCode;
    const char* pszText;
};

// Codes the library maps to its own result codes; others have no text.
const CodeText kTexts[] = {
    {-13095, "Export of the certificate failed"},
    {-8599, "Out of memory"},
    {-4064, "Signature verification failed"},
    {-4060, "File write error"},
    {-4059, "File read error"},
    {-3991, "Bad signature"},
    {-3983, "File read error"},
    {-1400, "Out of memory"},
    {-1093, "Initialization file error"},
    {-1086, "Incorrect password"},
    {-1074, "Certificate revoked"},
    {-1073, "Certificate revoked"},
    {-1072, "Certificate expired"},
    {-1055, "Profile is read-only"},
    {-996, "Signature verification failed"},
    {-795, "Certificate expired"},
    {-790, "Certificate expired"},
    {-598, "User certificate error"},
    {-597, "User certificate error"},
    {-596, "User certificate error"},
    {-595, "Incorrect password"},
    {-594, "User certificate error"},
    {-498, "Operation completed with warnings"},
    {-296, "Signer not trusted"},
    {-291, "Certificate revoked"},
    {-195, "Signing failed"},
    {-194, "Signing failed"},
    {-193, "Signing failed"},
    {-141, "Profile could not be opened"},
    {-138, "Profile could not be opened"},
};
}  // namespace

const char* EntLogToString(short nCode)
{
    for (const CodeText& t : kTexts) {
        if (t.nCode == nCode)
            return t.pszText;
    }
    return nullptr;
}

// Warnings are the positive codes.
int QueryEntLogWarning(short nCode)
{
    return nCode > 0;
}

void RemoveWarning(short* pnCode)
{
    if (pnCode != nullptr && (*pnCode > 0 || *pnCode == -498))
        *pnCode = 0;
}
