/* The public header as a C host compiles it: the host's record in the natural
 * layout of its width, which is what the library fills in. */
#include "api/tarvosel.h"

#include <stddef.h>

typedef char tvl_issuer_follows_the_type[offsetof(CS_LOGINDATA, pszIssuer) == sizeof(void*) ? 1 : -1];
typedef char tvl_online_is_last[offsetof(CS_LOGINDATA, bOnline) == 6 * sizeof(void*) ? 1 : -1];
typedef char tvl_record_size[sizeof(CS_LOGINDATA) == 7 * sizeof(void*) ? 1 : -1];
