#include "cert/entrust/CPAB.h"

#include <mbstring.h>

#include "api/CLog.h"
#include "api/LogEscape.h"
#include "api/CTarvoselException.h"
#include "api/ResultCodes.h"
#include "cert/entrust/CEntrustCertificate.h"
#include "cert/entrust/EntrustCode.h"
#include "platform/entrust/EntFile.h"

namespace {
std::string Upper(std::string strText)
{
    if (!strText.empty())
        CharUpperBuffA(&strText[0], static_cast<DWORD>(strText.size()));
    return strText;
}

short NoProfile()
{
    return ENT_ERR_NOT_LOGGED_IN;
}
}  // namespace

void CPAB::Bind(EntFile* pEntFile)
{
    m_pEntFile = pEntFile;
    if (m_pEntFile != nullptr)
        m_pEntFile->CreatePAB(nullptr);
}

void CPAB::GetCertificates(CCertificateArray& lstCertificates)
{
    lstCertificates.clear();
    if (m_pEntFile == nullptr)
        return;
    EntrustNameList names;
    m_pEntFile->DirectorySearch("", "", "", names, 1, 2);
    for (int i = 0; i < names.GetNumberOfNames(); ++i) {
        EntrustName entry;
        EntCertificate cert(m_pEntFile);
        if (names.GetEntrustName(i, entry) != 0 || entry.GetEncryptionCertificate(cert) != 0)
            continue;
        BinData encoded;
        cert.GetCertificate(encoded, 1);
        CEntrustCertificate* pCert = new CEntrustCertificate();
        pCert->Create(encoded, m_pEntFile);
        lstCertificates.push_back(pCert);
    }
}

std::string CPAB::ImportCertificate(std::string strPath)
{
    static const char kContext[] = "CPAB::ImportCertificate";
    EntrustName name;
    CheckEntrustCode(m_pEntFile != nullptr ? m_pEntFile->ImportCertificate(strPath.c_str(), name)
                                           : NoProfile(),
                     kContext);
    GString strName;
    name.GetUniqueName(strName);
    return strName.str();
}

void CPAB::DeleteCertificate(std::string strName)
{
    CheckEntrustCode(m_pEntFile != nullptr ? m_pEntFile->DeleteAddressFromPAB(strName.c_str())
                                           : NoProfile(),
                     "CPAB::DeleteCertificate");
}

bool CPAB::GetAttributeByName(const EntrustName& entry, const char* pszAttribute,
                              std::string& strText)
{
    strText.clear();
    for (int i = 0; i < entry.GetNumberOfAttributes(); ++i) {
        GString strName;
        entry.GetAttribute(i, strName);
        if (!(strName == pszAttribute))
            continue;
        if (entry.GetNumberOfAttributeValues(i) >= 1) {
            GString strValue;
            entry.GetAttributeValue(i, 0, strValue);
            strText = strValue.str();
        }
        return true;
    }
    return false;
}

int CPAB::CheckCertificate(std::string strName)
{
    static const char kContext[] = "CPAB::CheckCertificate";
    if (m_pEntFile == nullptr || m_pEntFile->HavePAB() != 0)
        return 0;
    EntrustNameList names;
    CheckEntrustCode(m_pEntFile->DirectorySearch("", "", "", names, 1, 2), kContext);
    int nNames = names.GetNumberOfNames();
    if (nNames == 0 || nNames == -1)
        return 0;
    std::string strWanted = Upper(strName);
    for (int i = 0; i < names.GetNumberOfNames(); ++i) {
        EntrustName entry;
        names.GetEntrustName(i, entry);
        std::string strCommonName;
        if (!GetAttributeByName(entry, "cn", strCommonName)) {
            GString strUnique;
            entry.GetUniqueName(strUnique);
            LogInfo("No se ha podido recuperar el cn de la entrada del PAB '%s'",
                    LogEscape(strUnique.c_str()).c_str());
            continue;
        }
        strCommonName = Upper(strCommonName);
        if (_mbsicmp(reinterpret_cast<const unsigned char*>(strCommonName.c_str()),
                     reinterpret_cast<const unsigned char*>(strWanted.c_str())) == 0)
            return 1;
    }
    return 0;
}
