#pragma once
#include <memory>

#include "platform/entrust/BinData.h"
#include "platform/entrust/EntX509.h"
#include "platform/entrust/EntrustToolkit.h"
#include "platform/entrust/GString.h"

class EntFile;

// A certificate as the toolkit hands it out: the user's own, the issuer's, an
// address-book entry's, or one built from encoded bytes. Copies share the
// parsed certificate. An empty object answers every getter with
// ENT_ERR_NO_CERTIFICATE.
class EntCertificate {
public:
    explicit EntCertificate(EntFile* pFile = nullptr);
    // From DER or PEM bytes; an unreadable certificate leaves the object empty.
    // bCopy: the bytes are copied (the only way this toolkit keeps them).
    EntCertificate(EntFile* pFile, const BinData& encoded, int bCopy);

    bool IsEmpty() const { return !m_pCert; }

    // DER; bCopy 1 for a copy in memory, 0 for bytes to write to a file (also a copy).
    short GetCertificate(BinData& encoded, int bCopy) const;
    short GetKeyUsage(KEY_USAGE eUsage, int& bSet) const;
    short GetSubject(GString& strSubject) const;
    short GetSubjectCommonName(GString& strName) const;
    short GetIssuer(GString& strIssuer) const;
    short GetSHA1Fingerprint(GString& strFingerprint) const;
    short GetValidity(EntTime& tFrom, EntTime& tTo) const;
    // The end of the private key's use: the private key usage period when the
    // certificate has one (0 when that period has no end), else the end of validity.
    short GetPrivateKeyEndValidity(EntTime& tEnd) const;
    short GetVersion(int& nVersion) const;  // 0 for v1 ... 2 for v3
    // ENT_ERR_SERIAL_TOO_LONG when the serial does not fit 32 bits.
    short GetSerialNumber(unsigned long& nSerial) const;
    short GetLongSerialNumber(BinData& serial) const;

    // Toolkit side.
    EntCertificate(EntFile* pFile, std::shared_ptr<const EntX509> pCert);
    const std::shared_ptr<const EntX509>& X509() const { return m_pCert; }

private:
    EntFile* m_pFile;
    std::shared_ptr<const EntX509> m_pCert;
};
