#include "platform/entrust/EntFile.h"

#include "platform/entrust/EntAddressBook.h"
#include "platform/entrust/EntFileIo.h"
#include "platform/entrust/EntProfile.h"

namespace {
const size_t kMaxCertificateFile = 1024 * 1024;

std::string Upper(std::string strText)
{
    if (!strText.empty())
        CharUpperBuffA(&strText[0], static_cast<DWORD>(strText.size()));
    return strText;
}

// Distinguished names match whatever the letter case, as in a directory: a
// certificate's facts give the subject in upper case.
bool SameUniqueName(const std::string& strA, const std::string& strB)
{
    return Upper(strA) == Upper(strB);
}

bool CommonNameContains(const EntrustName& entry, const std::string& strUpperPart)
{
    for (const EntrustName::CAttribute& a : entry.Attributes()) {
        if (a.strName != "cn")
            continue;
        for (const std::string& v : a.values) {
            if (Upper(v).find(strUpperPart) != std::string::npos)
                return true;
        }
    }
    return false;
}
}  // namespace

short EntFile::CreatePAB(void* pReserved)
{
    if (!m_pProfile)
        return ENT_ERR_NOT_LOGGED_IN;
    return EntAddressBook(SiblingPath(m_strProfilePath, ".pab")).Create();
}

short EntFile::HavePAB()
{
    if (!m_pProfile)
        return ENT_ERR_NOT_LOGGED_IN;
    return EntAddressBook(SiblingPath(m_strProfilePath, ".pab")).Exists() ? ENT_OK : ENT_ERR_NO_PAB;
}

short EntFile::DirectorySearch(const char* pszCommonName, const char* pszReserved1,
                               const char* pszReserved2, EntrustNameList& names, int nLocation,
                               int nDepth)
{
    names.Clear();
    if (!m_pProfile)
        return ENT_ERR_NOT_LOGGED_IN;
    if (nLocation != 1 || nDepth != 2)
        return ENT_ERR_INVALID_ARGUMENT;
    std::vector<EntrustName> entries;
    short nCode = EntAddressBook(SiblingPath(m_strProfilePath, ".pab")).Load(entries);
    if (nCode != ENT_OK)
        return nCode;
    std::string strPart = Upper(pszCommonName != nullptr ? pszCommonName : "");
    for (const EntrustName& entry : entries) {
        if (strPart.empty() || CommonNameContains(entry, strPart))
            names.Add(entry);
    }
    return ENT_OK;
}

short EntFile::ImportCertificate(const char* pszPath, EntrustName& name)
{
    if (!m_pProfile)
        return ENT_ERR_NOT_LOGGED_IN;
    if (pszPath == nullptr)
        return ENT_ERR_INVALID_ARGUMENT;
    std::vector<uint8_t> data;
    switch (EntFileIo::ReadWhole(pszPath, kMaxCertificateFile, data)) {
    case EntFileIo::IO_OK: break;
    case EntFileIo::IO_TOO_BIG: return ENT_ERR_NOT_A_CERTIFICATE;
    default: return ENT_ERR_FILE_READ;
    }
    EntrustName entry;
    if (!EntAddressBook::MakeEntry(EntX509::ParseAll(data.data(), data.size()), entry))
        return ENT_ERR_NOT_A_CERTIFICATE;

    EntAddressBook book(SiblingPath(m_strProfilePath, ".pab"));
    std::vector<EntrustName> entries;
    short nCode = book.Load(entries);
    if (nCode != ENT_OK && nCode != ENT_ERR_NO_PAB)
        return nCode;
    bool bReplaced = false;
    for (EntrustName& e : entries) {
        if (SameUniqueName(e.UniqueName(), entry.UniqueName())) {
            e = entry;
            bReplaced = true;
        }
    }
    if (!bReplaced)
        entries.push_back(entry);
    nCode = book.Save(entries);
    if (nCode == ENT_OK)
        name = entry;
    return nCode;
}

short EntFile::DeleteAddressFromPAB(const char* pszUniqueName)
{
    if (!m_pProfile)
        return ENT_ERR_NOT_LOGGED_IN;
    EntAddressBook book(SiblingPath(m_strProfilePath, ".pab"));
    std::vector<EntrustName> entries;
    short nCode = book.Load(entries);
    if (nCode != ENT_OK)
        return nCode;
    size_t nBefore = entries.size();
    std::string strName = pszUniqueName != nullptr ? pszUniqueName : "";
    for (size_t i = entries.size(); i-- > 0;) {
        if (SameUniqueName(entries[i].UniqueName(), strName))
            entries.erase(entries.begin() + i);
    }
    if (entries.size() == nBefore)
        return ENT_ERR_ENTRY_NOT_FOUND;
    return book.Save(entries);
}
