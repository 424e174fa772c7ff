#include "platform/entrust/EntAddressBook.h"

#include <windows.h>

#include "asn1/Asn1Tags.h"
#include "asn1/CAsn1Util.h"
#include "asn1/CDerWriter.h"
#include "platform/entrust/EntFileIo.h"
#include "platform/entrust/EntrustToolkit.h"

namespace {
// An address book of a few thousand people stays far below this.
const size_t kMaxSize = 16 * 1024 * 1024;

std::string Convert(const std::string& str, UINT nFrom, UINT nTo)
{
    if (str.empty())
        return str;
    int nWide = MultiByteToWideChar(nFrom, 0, str.data(), static_cast<int>(str.size()), nullptr, 0);
    std::wstring wide(nWide > 0 ? nWide : 0, L'\0');
    if (nWide > 0)
        MultiByteToWideChar(nFrom, 0, str.data(), static_cast<int>(str.size()), &wide[0], nWide);
    int n = WideCharToMultiByte(nTo, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                nullptr, nullptr);
    std::string out(n > 0 ? n : 0, '\0');
    if (n > 0)
        WideCharToMultiByte(nTo, 0, wide.data(), static_cast<int>(wide.size()), &out[0], n, nullptr,
                            nullptr);
    return out;
}

void AppendText(std::vector<uint8_t>& out, const std::string& strAnsi)
{
    std::string strUtf8 = Convert(strAnsi, 1252, CP_UTF8);
    CDerWriter::Append(out, Asn1Tag::kUtf8String, reinterpret_cast<const uint8_t*>(strUtf8.data()),
                       strUtf8.size());
}

bool ReadText(const CBerElement& element, std::string& strAnsi)
{
    if (element.Tag() != Asn1Tag::kUtf8String)
        return false;
    std::string strUtf8(reinterpret_cast<const char*>(element.Content()), element.ContentSize());
    strAnsi = Convert(strUtf8, CP_UTF8, 1252);
    return true;
}

// The attribute name the address book uses for a name label.
const char* AttributeName(const std::string& strLabel)
{
    static const struct {
        const char* pszLabel;
        const char* pszName;
    } kNames[] = {{"CN", "cn"}, {"O", "o"},   {"OU", "ou"},           {"C", "c"},
                  {"L", "l"},   {"S", "st"}, {"SERIALNUMBER", "serialNumber"}, {"E", "mail"},
                  {"SN", "sn"}, {"G", "givenName"}};
    for (const auto& n : kNames) {
        if (strLabel == n.pszLabel)
            return n.pszName;
    }
    return nullptr;
}

// The attributes of an entry from the certificate's subject name.
std::vector<EntrustName::CAttribute> SubjectAttributes(const EntX509& cert)
{
    std::vector<EntrustName::CAttribute> attributes;
    CBerElement name;
    std::vector<CBerElement> rdns;
    if (!CAsn1Util::ParseWhole(cert.SubjectName().data(), cert.SubjectName().size(),
                               Asn1Tag::kSequence, name) ||
        !CAsn1Util::Children(name, Asn1Tag::kSequence, rdns))
        return attributes;
    for (const CBerElement& rdn : rdns) {
        // One RDN at a time through the name formatter: "LABEL=value".
        std::vector<uint8_t> single;
        CDerWriter::Append(single, Asn1Tag::kSequence, rdn.Data(), rdn.Size());
        CBerElement one;
        CAsn1Util::ParseWhole(single.data(), single.size(), Asn1Tag::kSequence, one);
        std::string strText = EntX509::NameText(one);
        size_t nEq = strText.find('=');
        if (nEq == std::string::npos || strText.find(" + ") != std::string::npos)
            continue;
        const char* pszName = AttributeName(strText.substr(0, nEq));
        if (pszName == nullptr)
            continue;
        std::string strValue = strText.substr(nEq + 1);
        if (strValue.size() >= 2 && strValue.front() == '"' && strValue.back() == '"')
            strValue = strValue.substr(1, strValue.size() - 2);
        bool bAdded = false;
        for (EntrustName::CAttribute& a : attributes) {
            if (a.strName == pszName) {
                a.values.push_back(strValue);
                bAdded = true;
            }
        }
        if (!bAdded)
            attributes.push_back(EntrustName::CAttribute{pszName, {strValue}});
    }
    return attributes;
}
}  // namespace

bool EntAddressBook::Exists() const
{
    DWORD dwAttributes = GetFileAttributesA(m_strPath.c_str());
    return dwAttributes != INVALID_FILE_ATTRIBUTES && !(dwAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

short EntAddressBook::Create() const
{
    if (Exists())
        return ENT_OK;
    return Save(std::vector<EntrustName>());
}

short EntAddressBook::Load(std::vector<EntrustName>& entries) const
{
    entries.clear();
    std::vector<uint8_t> data;
    switch (EntFileIo::ReadWhole(m_strPath, kMaxSize, data)) {
    case EntFileIo::IO_OK: break;
    case EntFileIo::IO_CANNOT_OPEN: return Exists() ? ENT_ERR_FILE_READ : ENT_ERR_NO_PAB;
    default: return ENT_ERR_PAB_DAMAGED;
    }

    CBerElement book;
    std::vector<CBerElement> fields, list;
    long nVersion = 0;
    if (!CAsn1Util::ParseWhole(data.data(), data.size(), Asn1Tag::kSequence, book) ||
        !CAsn1Util::Children(book, Asn1Tag::kSequence, fields) || fields.size() != 2 ||
        !CAsn1Util::SmallInt(fields[0], nVersion) || nVersion != 1 ||
        !CAsn1Util::Children(fields[1], Asn1Tag::kSequence, list))
        return ENT_ERR_PAB_DAMAGED;
    for (const CBerElement& item : list) {
        std::vector<CBerElement> parts, attributes;
        std::string strName;
        if (!CAsn1Util::Children(item, Asn1Tag::kSequence, parts) || parts.size() < 2 ||
            !ReadText(parts[0], strName) ||
            !CAsn1Util::Children(parts[1], Asn1Tag::kSequence, attributes))
            return ENT_ERR_PAB_DAMAGED;
        std::vector<EntrustName::CAttribute> values;
        for (const CBerElement& attribute : attributes) {
            std::vector<CBerElement> pair, texts;
            EntrustName::CAttribute a;
            if (!CAsn1Util::Children(attribute, Asn1Tag::kSequence, pair) || pair.size() != 2 ||
                !ReadText(pair[0], a.strName) ||
                !CAsn1Util::Children(pair[1], Asn1Tag::kSequence, texts))
                return ENT_ERR_PAB_DAMAGED;
            for (const CBerElement& t : texts) {
                std::string strValue;
                if (!ReadText(t, strValue))
                    return ENT_ERR_PAB_DAMAGED;
                a.values.push_back(strValue);
            }
            values.push_back(a);
        }
        std::shared_ptr<const EntX509> certs[2];
        for (size_t i = 2; i < parts.size(); ++i) {
            std::vector<CBerElement> wrapped;
            uint8_t nTag = parts[i].Tag();
            if ((nTag != Asn1Tag::ContextConstructed(0) &&
                 nTag != Asn1Tag::ContextConstructed(1)) ||
                !CAsn1Util::Children(parts[i], nTag, wrapped) || wrapped.size() != 1)
                return ENT_ERR_PAB_DAMAGED;
            certs[nTag - Asn1Tag::ContextConstructed(0)] =
                EntX509::Parse(wrapped[0].Data(), wrapped[0].Size());
            if (!certs[nTag - Asn1Tag::ContextConstructed(0)])
                return ENT_ERR_PAB_DAMAGED;
        }
        EntrustName entry;
        entry.Set(strName, values, certs[0], certs[1]);
        entries.push_back(entry);
    }
    return ENT_OK;
}

short EntAddressBook::Save(const std::vector<EntrustName>& entries) const
{
    std::vector<uint8_t> list;
    for (const EntrustName& entry : entries) {
        std::vector<uint8_t> item, attributes;
        AppendText(item, entry.UniqueName());
        for (const EntrustName::CAttribute& a : entry.Attributes()) {
            std::vector<uint8_t> pair, texts;
            AppendText(pair, a.strName);
            for (const std::string& v : a.values)
                AppendText(texts, v);
            CDerWriter::Append(pair, Asn1Tag::kSequence, texts);
            CDerWriter::Append(attributes, Asn1Tag::kSequence, pair);
        }
        CDerWriter::Append(item, Asn1Tag::kSequence, attributes);
        if (entry.Encryption())
            CDerWriter::Append(item, Asn1Tag::ContextConstructed(0), entry.Encryption()->Der());
        if (entry.Verification())
            CDerWriter::Append(item, Asn1Tag::ContextConstructed(1), entry.Verification()->Der());
        CDerWriter::Append(list, Asn1Tag::kSequence, item);
    }
    std::vector<uint8_t> book;
    CAsn1Util::AppendSmallInt(book, 1);
    CDerWriter::Append(book, Asn1Tag::kSequence, list);
    std::vector<uint8_t> data = CAsn1Util::Wrap(Asn1Tag::kSequence, book);

    std::string strTemp = m_strPath + ".tmp";
    if (!EntFileIo::WriteWhole(strTemp, data))
        return ENT_ERR_FILE_WRITE;
    if (!MoveFileExA(strTemp.c_str(), m_strPath.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DeleteFileA(strTemp.c_str());
        return ENT_ERR_FILE_WRITE;
    }
    return ENT_OK;
}

bool EntAddressBook::MakeEntry(const std::vector<std::shared_ptr<const EntX509>>& certs,
                               EntrustName& entry)
{
    if (certs.empty())
        return false;
    std::shared_ptr<const EntX509> pEncryption, pVerification;
    for (const std::shared_ptr<const EntX509>& p : certs) {
        if (!pEncryption && (p->HasKeyUsage(KEY_USAGE_KEY_ENCIPHERMENT) ||
                             p->HasKeyUsage(KEY_USAGE_DATA_ENCIPHERMENT)))
            pEncryption = p;
        if (!pVerification && (p->HasKeyUsage(KEY_USAGE_DIGITAL_SIGNATURE) ||
                               p->HasKeyUsage(KEY_USAGE_NON_REPUDIATION)))
            pVerification = p;
    }
    const EntX509& first = *certs.front();
    if (first.SubjectText().empty())
        return false;
    entry.Set(first.SubjectText(), SubjectAttributes(first), pEncryption, pVerification);
    return true;
}
