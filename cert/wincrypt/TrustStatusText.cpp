#include "cert/wincrypt/TrustStatusText.h"

namespace {

struct FlagText {
    DWORD dwFlag;
    const char* pszText;
};

// Order matters: the texts are written in this order, not in bit order.
const FlagText s_aTrustError[] = {
    {0x1, "CERT_TRUST_IS_NOT_TIME_VALID"},
    {0x2, "Error: CERT_TRUST_IS_NOT_TIME_NESTED"},
    {0x4, "CERT_TRUST_IS_REVOKED"},
    {0x8, "CERT_TRUST_IS_NOT_SIGNATURE_VALID"},
    {0x10, "CERT_TRUST_IS_NOT_VALID_FOR_USAGE"},
    {0x20, "CERT_TRUST_IS_UNTRUSTED_ROOT"},
    {0x40, "CERT_TRUST_REVOCATION_STATUS_UNKNOWN"},
    {0x80, "CERT_TRUST_IS_CYCLIC"},
    {0x100, "CERT_TRUST_INVALID_EXTENSION"},
    {0x200, "CERT_TRUST_INVALID_POLICY_CONSTRAINTS"},
    {0x400, "CERT_TRUST_INVALID_BASIC_CONSTRAINTS"},
    {0x800, "CERT_TRUST_INVALID_NAME_CONSTRAINTS"},
    {0x1000, "CERT_TRUST_HAS_NOT_SUPPORTED_NAME_CONSTRAINT"},
    {0x2000, "CERT_TRUST_HAS_NOT_DEFINED_NAME_CONSTRAINT"},
    {0x4000, "CERT_TRUST_HAS_NOT_PERMITTED_NAME_CONSTRAINT"},
    {0x8000, "CERT_TRUST_HAS_EXCLUDED_NAME_CONSTRAINT"},
    {0x1000000, "CERT_TRUST_IS_OFFLINE_REVOCATION"},
    {0x2000000, "CERT_TRUST_NO_ISSUANCE_CHAIN_POLICY"},
    {0x10000, "CERT_TRUST_IS_PARTIAL_CHAIN"},
    {0x20000, "CERT_TRUST_CTL_IS_NOT_TIME_VALID"},
    {0x40000, "CERT_TRUST_CTL_IS_NOT_SIGNATURE_VALID"},
    {0x80000, "CERT_TRUST_CTL_IS_NOT_VALID_FOR_USAGE"}};

const FlagText s_aTrustInfo[] = {
    {0x1, "CERT_TRUST_HAS_EXACT_MATCH_ISSUER"},
    {0x2, "CERT_TRUST_HAS_KEY_MATCH_ISSUER"},
    {0x4, "CERT_TRUST_HAS_NAME_MATCH_ISSUER"},
    {0x8, "CERT_TRUST_IS_SELF_SIGNED"},
    {0x100, "CERT_TRUST_HAS_PREFERRED_ISSUER"},
    {0x200, "CERT_TRUST_HAS_ISSUANCE_CHAIN_POLICY"},
    {0x400, "CERT_TRUST_HAS_VALID_NAME_CONSTRAINTS"},
    {0x10000, "CERT_TRUST_IS_COMPLEX_CHAIN"}};

template <size_t N>
std::string JoinFlags(const FlagText (&aTable)[N], DWORD dwFlags)
{
    std::string strText;
    for (const FlagText& f : aTable) {
        if (dwFlags & f.dwFlag) {
            strText += f.pszText;
            strText += " | ";
        }
    }
    if (!strText.empty())
        strText.erase(strText.size() - 3);
    return strText;
}

}  // namespace

std::string TrustStatusText(DWORD dwErrorStatus, DWORD dwInfoStatus)
{
    std::string strText;
    std::string strErrors = JoinFlags(s_aTrustError, dwErrorStatus);
    if (!strErrors.empty())
        strText = "Error: " + strErrors + " ";
    std::string strInfo = JoinFlags(s_aTrustInfo, dwInfoStatus);
    if (!strInfo.empty())
        strText += "Info: " + strInfo;
    return strText;
}
