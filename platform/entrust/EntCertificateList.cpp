#include "platform/entrust/EntCertificateList.h"

short EntCertificateList::GetEntry(int nIndex, EntCertificate& cert) const
{
    if (nIndex < 0 || nIndex >= GetNumberOfEntries())
        return ENT_ERR_INVALID_ARGUMENT;
    cert = m_entries[nIndex];
    return ENT_OK;
}

short EntCertificateList::AddEntry(const EntCertificate& cert)
{
    if (cert.IsEmpty())
        return ENT_ERR_NO_CERTIFICATE;
    m_entries.push_back(cert);
    return ENT_OK;
}
