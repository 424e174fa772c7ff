#pragma once
// Names of the authorities the library carries, for the log and the tray: the
// same for every certificate back end.
#include <string>

// The authorities in the order they are tried: 0-2 production (first-generation
// root, second-generation root, its subordinate), 3-4 pre-production, 5-6
// development.
const int kAuthorityCount = 7;

// Environment and generation of an authority index; "ca no incluida en almacen
// interno" outside 0-6. Only the production labels contain "prod".
std::string AuthorityLabel(int nIndex);
