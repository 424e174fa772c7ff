#include "platform/entrust/EntrustToolkit.h"

namespace {
struct CodeText {
    short nCode;
    const char* pszText;
};

const CodeText kTexts[] = {
    {ENT_WARN_DIRECTORY_UNAVAILABLE, "The directory did not answer: working offline"},
    {ENT_WARN_REVOCATION_UNKNOWN, "The revocation status of the user certificates is unknown"},
    {ENT_ERR_PROFILE_OPEN, "Profile could not be opened"},
    {ENT_ERR_PROFILE_FORMAT, "The file is not a profile or the profile is damaged"},
    {ENT_ERR_SIGN_ALGORITHM, "Signing algorithm not supported"},
    {-194, "Signing failed"},
    {ENT_ERR_SIGN, "Signing failed"},
    {-291, "Certificate revoked"},
    {-296, "Signer not trusted"},
    {-498, "Operation completed with warnings"},
    {-594, "User certificate error"},
    {-595, "Incorrect password"},
    {ENT_ERR_USER_CERTIFICATES, "The profile holds no usable user certificate"},
    {ENT_ERR_KEY_MISMATCH, "A private key of the profile does not match its certificate"},
    {-598, "User certificate error"},
    {-790, "Certificate expired"},
    {-795, "Certificate expired"},
    {-996, "Signature verification failed"},
    {ENT_ERR_READ_ONLY, "The profile is read-only"},
    {ENT_ERR_CERT_EXPIRED, "A user certificate has expired"},
    {ENT_ERR_CERT_REVOKED, "A user certificate has been revoked"},
    {-1074, "Certificate revoked"},
    {ENT_ERR_BAD_PASSWORD, "Incorrect password"},
    {ENT_ERR_INI_FILE, "The initialization file could not be read"},
    {-1400, "Out of memory"},
    {ENT_ERR_INVALID_ARGUMENT, "Invalid argument"},
    {ENT_ERR_NOT_LOGGED_IN, "The profile is not open"},
    {ENT_ERR_NO_CERTIFICATE, "No certificate"},
    {ENT_ERR_POLICY_MISSING, "The policy certificate is missing"},
    {ENT_ERR_POLICY_INVALID, "The policy certificate is not valid for this profile"},
    {ENT_ERR_POLICY_EXPIRED, "The policy certificate has expired"},
    {ENT_ERR_NO_PAB, "The profile has no address book"},
    {ENT_ERR_PAB_DAMAGED, "The address book is damaged"},
    {ENT_ERR_ENTRY_NOT_FOUND, "No such address book entry"},
    {ENT_ERR_NOT_A_CERTIFICATE, "The file holds no certificate"},
    {ENT_ERR_BAD_OPTIONS, "Protection options not supported"},
    {ENT_ERR_UNSUPPORTED_PROFILE, "The profile uses an algorithm this toolkit does not support"},
    {ENT_ERR_SERIAL_TOO_LONG, "The serial number does not fit 32 bits"},
    {-3983, "File read error"},
    {-3991, "Bad signature"},
    {ENT_ERR_FILE_READ, "File read error"},
    {ENT_ERR_FILE_WRITE, "File write error"},
    {-4064, "Signature verification failed"},
    {ENT_ERR_NO_MEMORY, "Out of memory"},
    {ENT_ERR_EXPORT_POLICY, "Export refused: the policy certificate is missing, invalid or expired"},
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
