#include "cert/AuthorityLabel.h"

namespace {
const char* const s_apszLabels[kAuthorityCount] = {
    "prod - raiz primera generacion",
    "prod - raiz segunda generacion",
    "prod - ca subordinada segunda generacion",
    "preexplotacion - raiz nueva generacion",
    "preexplotacion - raiz generacion anterior",
    "desarrollo - raiz nueva generacion",
    "desarrollo - raiz generacion anterior"};
}  // namespace

std::string AuthorityLabel(int nIndex)
{
    if (nIndex < 0 || nIndex >= kAuthorityCount)
        return "ca no incluida en almacen interno";
    return s_apszLabels[nIndex];
}
