#pragma once
#include <string>
#include <vector>

#include "platform/entrust/EntrustName.h"

// The address book file beside a profile ("<profile>.pab"): DER, readable with
// `openssl asn1parse -inform DER`:
//
//   AddressBook ::= SEQUENCE { version INTEGER (1), entries SEQUENCE OF Entry }
//   Entry ::= SEQUENCE {
//       uniqueName  UTF8String,
//       attributes  SEQUENCE OF SEQUENCE { type UTF8String, values SEQUENCE OF UTF8String },
//       encryptionCertificate   [0] EXPLICIT Certificate OPTIONAL,
//       verificationCertificate [1] EXPLICIT Certificate OPTIONAL }
//
// Every change rewrites the whole file through a temporary one beside it.
class EntAddressBook {
public:
    explicit EntAddressBook(const std::string& strPath) : m_strPath(strPath) {}

    bool Exists() const;
    // An empty book when none exists; a toolkit code.
    short Create() const;
    short Load(std::vector<EntrustName>& entries) const;
    short Save(const std::vector<EntrustName>& entries) const;

    // An entry for the certificates of a file: the encryption certificate is
    // the first that allows key or data encipherment, the verification one the
    // first that allows signing; the unique name is the subject of the first.
    static bool MakeEntry(const std::vector<std::shared_ptr<const EntX509>>& certs,
                          EntrustName& entry);

private:
    std::string m_strPath;
};
