#pragma once
#include <string>

// Card block of a CryptoAPI session (the pDetails of CS_SESSIONINFO), owned by
// the session.
struct CS_CARDINFO {
    std::string strCardName;
    int nReader = -1;  // -1: the certificates are not on a card
    std::string strAuthSubject;
};
