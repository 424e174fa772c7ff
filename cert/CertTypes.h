#pragma once
#include <stdint.h>
#include <memory>
#include <string>
#include <vector>

class CCertificate;

// Seconds since 1970 in local time (the certificate's UTC times are converted
// when a certificate is built).
typedef int64_t TIME64;

// Ordered list of certificates (CCertificateList is the list control that
// shows one). Who deletes the entries depends on the source:
// a session lends its own, a store hands out new ones.
typedef std::vector<CCertificate*> CCertificateArray;

// Program's own key-usage flags (not the X.509 bit order).
enum KeyUsageFlag {
    KU_DATA_ENCIPHERMENT = 0x01,
    KU_DIGITAL_SIGNATURE = 0x02,
    KU_KEY_AGREEMENT = 0x04,
    KU_KEY_CERT_SIGN = 0x08,
    KU_KEY_ENCIPHERMENT = 0x10,
    KU_NON_REPUDIATION = 0x20,
    KU_CRL_SIGN = 0x40
};

enum ValidityStatus {
    VALIDITY_EXPIRED = 1,
    VALIDITY_KEY_EXPIRED = 2,
    VALIDITY_RENEWAL = 4,
    VALIDITY_VALID = 8,
    VALIDITY_NOT_YET_VALID = 16
};

enum SessionState {
    SESSION_OPEN = 0x01,
    SESSION_CLOSED = 0x02,
    SESSION_INVALID = 0x10
};

enum SessionKind {
    SESSION_KIND_ENTRUST = 0,
    SESSION_KIND_CAPI = 1
};

// Session data filled by CSession::GetSessionData; the caller owns it.
struct CS_SESSIONINFO {
    int nType = -1;
    std::string strIssuer;
    std::string strName;
    std::string strNIF;
    void* pDetails = nullptr;  // CS_CARDINFO or CS_EPFPROFILE, owned by the session
    // The session that pDetails points into, kept alive for as long as the
    // record lives (set by the application object, which lends sessions).
    std::shared_ptr<void> pDetailsOwner;

    // The details as the record of their kind (CS_CARDINFO, CS_EPFPROFILE):
    // null when the session is of another kind or has none.
    template <class TDetails>
    const TDetails* Details() const
    {
        return nType == TDetails::kSessionKind ? static_cast<const TDetails*>(pDetails) : nullptr;
    }
};
