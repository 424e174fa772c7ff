#pragma once
#include <vector>

#include "platform/entrust/EntCertificate.h"

// An ordered list of toolkit certificates (copies).
class EntCertificateList {
public:
    int GetNumberOfEntries() const { return static_cast<int>(m_entries.size()); }
    short GetEntry(int nIndex, EntCertificate& cert) const;
    short AddEntry(const EntCertificate& cert);
    void Clear() { m_entries.clear(); }

private:
    std::vector<EntCertificate> m_entries;
};
