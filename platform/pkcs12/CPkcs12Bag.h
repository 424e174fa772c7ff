#pragma once
#include <cstdint>
#include <string>
#include <vector>

// One entry of a PKCS#12 file as our reader gives it and our writer takes it:
// a certificate (DER) or a private key (unencrypted PrivateKeyInfo DER, wiped
// by the owner), with the attributes that pair them.
struct CPkcs12Bag {
    enum EType { BAG_CERTIFICATE, BAG_KEY };

    EType eType = BAG_CERTIFICATE;
    std::vector<uint8_t> data;
    std::vector<uint8_t> localKeyId;  // equal on a key and its certificate; may be empty
    std::wstring strFriendlyName;
};

enum class EPkcs12Error {
    Ok = 0,
    NotPkcs12,    // not a PKCS#12 file, or damaged
    BadPassword,  // the integrity check or a decryption failed with this password
    Unsupported,  // an algorithm or form this code does not handle
    Crypto,       // the platform's cryptography failed
    LimitExceeded, // more entries, nesting or iterations than a profile can need
    Unprotected   // no integrity MAC, or a key stored without encryption: any
                  // password would open it
};

const char* Pkcs12ErrorText(EPkcs12Error e);
