#include "platform/entrust/EntX509.h"

#include <windows.h>

#include <string.h>

#include "asn1/Asn1Oids.h"
#include "asn1/Asn1Tags.h"
#include "asn1/CAsn1Util.h"
#include "platform/pkcs12/CCryptoPrimitives.h"
#include "util/CBase64Decoder.h"

namespace {
// A certificate larger than this is no certificate of ours.
const size_t kMaxCertificate = 64 * 1024;

struct CNameLabel {
    const char* pszOid;
    const char* pszLabel;
};
const CNameLabel kLabels[] = {{Asn1Oids::kCommonName, "CN"},
                              {Asn1Oids::kSurname, "SN"},
                              {Asn1Oids::kSerialNumber, "SERIALNUMBER"},
                              {Asn1Oids::kCountryName, "C"},
                              {Asn1Oids::kLocalityName, "L"},
                              {Asn1Oids::kStateOrProvinceName, "S"},
                              {Asn1Oids::kStreetAddress, "STREET"},
                              {Asn1Oids::kOrganizationName, "O"},
                              {Asn1Oids::kOrganizationalUnitName, "OU"},
                              {Asn1Oids::kTitle, "T"},
                              {Asn1Oids::kGivenName, "G"},
                              {Asn1Oids::kEmailAddress, "E"},
                              {Asn1Oids::kDomainComponent, "DC"}};

struct CSignatureDigest {
    const char* pszSignatureOid;
    const char* pszDigestOid;
};
const CSignatureDigest kSignatureDigests[] = {
    {Asn1Oids::kMd2WithRsa, Asn1Oids::kMd2},       {Asn1Oids::kMd5WithRsa, Asn1Oids::kMd5},
    {Asn1Oids::kSha1WithRsa, Asn1Oids::kSha1},     {Asn1Oids::kSha256WithRsa, Asn1Oids::kSha256},
    {Asn1Oids::kSha384WithRsa, Asn1Oids::kSha384}, {Asn1Oids::kSha512WithRsa, Asn1Oids::kSha512}};

std::string WideToAnsi(const std::wstring& str)
{
    if (str.empty())
        return std::string();
    int n = WideCharToMultiByte(1252, 0, str.data(), static_cast<int>(str.size()), nullptr, 0,
                                nullptr, nullptr);
    std::string out(n > 0 ? n : 0, '\0');
    if (n > 0)
        WideCharToMultiByte(1252, 0, str.data(), static_cast<int>(str.size()), &out[0], n, nullptr,
                            nullptr);
    return out;
}

// A directory string in the code page of the library's texts.
std::string StringValue(const CBerElement& value)
{
    const char* p = reinterpret_cast<const char*>(value.Content());
    size_t n = value.ContentSize();
    switch (value.Tag()) {
        case Asn1Tag::kUtf8String: {  // UTF8String
            if (n == 0)
                return std::string();
            int nWide = MultiByteToWideChar(CP_UTF8, 0, p, static_cast<int>(n), nullptr, 0);
            std::wstring wide(nWide > 0 ? nWide : 0, L'\0');
            if (nWide > 0)
                MultiByteToWideChar(CP_UTF8, 0, p, static_cast<int>(n), &wide[0], nWide);
            return WideToAnsi(wide);
        }
        case Asn1Tag::kBmpString: {  // BMPString
            std::wstring wide;
            for (size_t i = 0; i + 1 < n; i += 2)
                wide += static_cast<wchar_t>((static_cast<uint8_t>(p[i]) << 8) |
                                             static_cast<uint8_t>(p[i + 1]));
            return WideToAnsi(wide);
        }
        case Asn1Tag::kPrintableString:  // PrintableString
        case Asn1Tag::kIa5String:        // IA5String
        case Asn1Tag::kTeletexString:    // TeletexString, read as Latin-1
        case Asn1Tag::kVisibleString:    // VisibleString
            return std::string(p, n);
        default:
            return std::string();
    }
}

// Values with separators or outer blanks are quoted, inner quotes doubled.
std::string QuotedValue(const std::string& strValue)
{
    bool bQuote = !strValue.empty() && (strValue.front() == ' ' || strValue.back() == ' ');
    for (char c : strValue)
        bQuote = bQuote || strchr(",+=\"\n<>#;", c) != nullptr;
    if (!bQuote)
        return strValue;
    std::string out = "\"";
    for (char c : strValue) {
        out += c;
        if (c == '"')
            out += '"';
    }
    return out + "\"";
}

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

bool Digits(const std::string& s, size_t nPos, size_t nCount, unsigned& nValue)
{
    nValue = 0;
    if (nPos + nCount > s.size())
        return false;
    for (size_t i = nPos; i < nPos + nCount; ++i) {
        if (s[i] < '0' || s[i] > '9')
            return false;
        nValue = nValue * 10 + static_cast<unsigned>(s[i] - '0');
    }
    return true;
}
}  // namespace

bool EntX509::ParseTimeText(const std::string& strText, bool bGeneralized, EntTime& t)
{
    unsigned y, mo, d, h, mi, s;
    size_t nPos = bGeneralized ? 4 : 2;
    if (!Digits(strText, 0, nPos, y) || !Digits(strText, nPos, 2, mo) ||
        !Digits(strText, nPos + 2, 2, d) || !Digits(strText, nPos + 4, 2, h) ||
        !Digits(strText, nPos + 6, 2, mi) || !Digits(strText, nPos + 8, 2, s))
        return false;
    // Fractions of a second are allowed and dropped; the zone must be UTC.
    size_t nEnd = nPos + 10;
    if (bGeneralized && nEnd < strText.size() && strText[nEnd] == '.')
        for (++nEnd; nEnd < strText.size() && strText[nEnd] >= '0' && strText[nEnd] <= '9';)
            ++nEnd;
    if (nEnd + 1 != strText.size() || strText[nEnd] != 'Z')
        return false;
    if (!bGeneralized)
        y += y < 50 ? 2000 : 1900;
    if (mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 60)
        return false;
    t = DaysFromCivil(y, mo, d) * 86400 + h * 3600 + mi * 60 + s;
    return true;
}

bool EntX509::ParseTime(const CBerElement& element, EntTime& t)
{
    if (element.Tag() != Asn1Tag::kUtcTime && element.Tag() != Asn1Tag::kGeneralizedTime)
        return false;
    std::string strText(reinterpret_cast<const char*>(element.Content()), element.ContentSize());
    return ParseTimeText(strText, element.Tag() == Asn1Tag::kGeneralizedTime, t);
}

std::string EntX509::SignatureDigest(const std::string& strSignatureOid)
{
    for (const CSignatureDigest& sd : kSignatureDigests) {
        if (strSignatureOid == sd.pszSignatureOid)
            return sd.pszDigestOid;
    }
    return std::string();
}

std::string EntX509::NameText(const CBerElement& name, std::string* pCommonName,
                              const char* pszSeparator)
{
    std::vector<CBerElement> rdns;
    if (!CAsn1Util::Children(name, Asn1Tag::kSequence, rdns))
        return std::string();
    std::string strText;
    // Most specific first, as the platform writes names for people.
    for (size_t i = rdns.size(); i-- > 0;) {
        std::vector<CBerElement> attributes;
        if (!CAsn1Util::Children(rdns[i], Asn1Tag::kSet, attributes))
            continue;
        std::string strRdn;
        for (const CBerElement& attribute : attributes) {
            std::vector<CBerElement> parts;
            if (!CAsn1Util::Children(attribute, Asn1Tag::kSequence, parts) || parts.size() != 2)
                continue;
            std::string strOid = CAsn1Util::Oid(parts[0]);
            std::string strLabel = strOid;
            for (const CNameLabel& l : kLabels) {
                if (strOid == l.pszOid)
                    strLabel = l.pszLabel;
            }
            std::string strValue = StringValue(parts[1]);
            if (pCommonName != nullptr && strOid == Asn1Oids::kCommonName && pCommonName->empty())
                *pCommonName = strValue;
            if (!strRdn.empty())
                strRdn += " + ";
            strRdn += strLabel + "=" + QuotedValue(strValue);
        }
        if (strRdn.empty())
            continue;
        if (!strText.empty())
            strText += pszSeparator;
        strText += strRdn;
    }
    return strText;
}

std::vector<Bytes> EntX509::PemBlocks(const uint8_t* pData, size_t nSize, const char* pszLabel)
{
    std::vector<Bytes> blocks;
    std::string strText(reinterpret_cast<const char*>(pData), nSize);
    std::string strBegin = std::string("-----BEGIN ") + pszLabel + "-----";
    std::string strEnd = std::string("-----END ") + pszLabel + "-----";
    for (size_t nPos = strText.find(strBegin); nPos != std::string::npos;
         nPos = strText.find(strBegin, nPos)) {
        size_t nStart = nPos + strBegin.size();
        size_t nStop = strText.find(strEnd, nStart);
        if (nStop == std::string::npos)
            break;
        CBase64Decoder decoder;
        Bytes der;
        for (size_t i = nStart; i < nStop; ++i) {
            if (!decoder.Put(strText[i])) {
                der.insert(der.end(), decoder.Data(), decoder.Data() + decoder.Count());
                decoder.Reset();
            }
        }
        decoder.Finish();
        der.insert(der.end(), decoder.Data(), decoder.Data() + decoder.Count());
        blocks.push_back(der);
        nPos = nStop + strEnd.size();
    }
    return blocks;
}

std::shared_ptr<const EntX509> EntX509::Parse(const uint8_t* pData, size_t nSize)
{
    std::vector<std::shared_ptr<const EntX509>> all = ParseAll(pData, nSize);
    return all.empty() ? nullptr : all.front();
}

std::vector<std::shared_ptr<const EntX509>> EntX509::ParseAll(const uint8_t* pData, size_t nSize)
{
    std::vector<std::shared_ptr<const EntX509>> certificates;
    if (pData == nullptr || nSize == 0)
        return certificates;
    std::vector<Bytes> ders;
    if (pData[0] == Asn1Tag::kSequence)
        ders.push_back(Bytes(pData, pData + nSize));
    else
        ders = PemBlocks(pData, nSize, "CERTIFICATE");
    for (const Bytes& der : ders) {
        std::shared_ptr<EntX509> pCert(new EntX509());
        if (!pCert->Load(der.data(), der.size()))
            return std::vector<std::shared_ptr<const EntX509>>();
        certificates.push_back(pCert);
    }
    return certificates;
}

bool EntX509::Load(const uint8_t* pDer, size_t nDer)
{
    CBerElement cert;
    std::vector<CBerElement> parts, tbs, algorithm, validity, spki, spkiAlgorithm;
    if (nDer > kMaxCertificate || !CAsn1Util::ParseWhole(pDer, nDer, Asn1Tag::kSequence, cert) ||
        !CAsn1Util::Children(cert, Asn1Tag::kSequence, parts) || parts.size() != 3 ||
        !CAsn1Util::Children(parts[0], Asn1Tag::kSequence, tbs) ||
        !CAsn1Util::Children(parts[1], Asn1Tag::kSequence, algorithm) || algorithm.empty() ||
        parts[2].Tag() != Asn1Tag::kBitString || parts[2].ContentSize() < 1 ||
        parts[2].Content()[0] != 0)
        return false;
    m_der.assign(pDer, pDer + nDer);
    m_tbs = parts[0].Bytes();
    m_signature.assign(parts[2].Content() + 1, parts[2].Content() + parts[2].ContentSize());
    m_strSignatureDigest = SignatureDigest(CAsn1Util::Oid(algorithm[0]));

    size_t i = 0;
    if (!tbs.empty() && tbs[0].Tag() == Asn1Tag::ContextConstructed(0)) {
        std::vector<CBerElement> version;
        long nVersion = 0;
        if (!CAsn1Util::Children(tbs[0], Asn1Tag::ContextConstructed(0), version) ||
            version.size() != 1 || !CAsn1Util::SmallInt(version[0], nVersion) || nVersion > 2)
            return false;
        m_nVersion = static_cast<int>(nVersion);
        ++i;
    }
    // serial, signature, issuer, validity, subject, subjectPublicKeyInfo
    if (tbs.size() < i + 6 || tbs[i].Tag() != Asn1Tag::kInteger || tbs[i].ContentSize() == 0 ||
        tbs[i].ContentSize() > 64 || tbs[i + 2].Tag() != Asn1Tag::kSequence ||
        !CAsn1Util::Children(tbs[i + 3], Asn1Tag::kSequence, validity) || validity.size() != 2 ||
        tbs[i + 4].Tag() != Asn1Tag::kSequence ||
        !CAsn1Util::Children(tbs[i + 5], Asn1Tag::kSequence, spki) || spki.size() != 2)
        return false;
    // Serial numbers are positive; a leading zero only keeps the sign.
    const uint8_t* pSerial = tbs[i].Content();
    size_t nSerial = tbs[i].ContentSize();
    while (nSerial > 1 && pSerial[0] == 0) {
        ++pSerial;
        --nSerial;
    }
    m_serial.assign(pSerial, pSerial + nSerial);
    m_issuerName = tbs[i + 2].Bytes();
    m_subjectName = tbs[i + 4].Bytes();
    m_strIssuer = NameText(tbs[i + 2]);
    m_strSubject = NameText(tbs[i + 4], &m_strCommonName);
    if (!ParseTime(validity[0], m_tNotBefore) || !ParseTime(validity[1], m_tNotAfter))
        return false;

    if (CAsn1Util::Children(spki[0], Asn1Tag::kSequence, spkiAlgorithm) && !spkiAlgorithm.empty() &&
        CAsn1Util::IsOid(spkiAlgorithm[0], Asn1Oids::kRsaEncryption) &&
        spki[1].Tag() == Asn1Tag::kBitString && spki[1].ContentSize() > 1) {
        CBerElement rsa;
        std::vector<CBerElement> rsaParts;
        if (CAsn1Util::ParseWhole(spki[1].Content() + 1, spki[1].ContentSize() - 1,
                                  Asn1Tag::kSequence, rsa) &&
            CAsn1Util::Children(rsa, Asn1Tag::kSequence, rsaParts) && rsaParts.size() == 2) {
            CAsn1Util::Unsigned(rsaParts[0], m_modulus);
            CAsn1Util::Unsigned(rsaParts[1], m_exponent);
        }
    }
    for (size_t j = i + 6; j < tbs.size(); ++j) {
        if (tbs[j].Tag() == Asn1Tag::ContextConstructed(3)) {
            std::vector<CBerElement> wrapped;
            if (!CAsn1Util::Children(tbs[j], Asn1Tag::ContextConstructed(3), wrapped) ||
                wrapped.size() != 1 || !LoadExtensions(wrapped[0]))
                return false;
        }
    }
    return true;
}

bool EntX509::LoadExtensions(const CBerElement& extensions)
{
    std::vector<CBerElement> list;
    if (!CAsn1Util::Children(extensions, Asn1Tag::kSequence, list))
        return false;
    for (const CBerElement& extension : list) {
        std::vector<CBerElement> parts;
        if (!CAsn1Util::Children(extension, Asn1Tag::kSequence, parts) || parts.size() < 2)
            return false;
        const CBerElement& value = parts.back();
        if (value.Tag() != Asn1Tag::kOctetString)
            return false;
        CBerElement inner;
        if (CAsn1Util::IsOid(parts[0], Asn1Oids::kKeyUsage)) {
            if (!CAsn1Util::ParseWhole(value.Content(), value.ContentSize(), Asn1Tag::kBitString,
                                       inner) ||
                inner.ContentSize() < 1)
                return false;
            m_bKeyUsage = true;
            m_nKeyUsage = 0;
            // BIT STRING: unused-bit count, then bits from the most significant.
            for (size_t k = 1; k < inner.ContentSize() && k < 3; ++k)
                for (int b = 0; b < 8; ++b)
                    if (inner.Content()[k] & (0x80 >> b))
                        m_nKeyUsage |= 1u << ((k - 1) * 8 + b);
        } else if (CAsn1Util::IsOid(parts[0], Asn1Oids::kExtendedKeyUsage)) {
            std::vector<CBerElement> usages;
            if (!CAsn1Util::ParseWhole(value.Content(), value.ContentSize(), Asn1Tag::kSequence,
                                       inner) ||
                !CAsn1Util::Children(inner, Asn1Tag::kSequence, usages))
                return false;
            for (const CBerElement& u : usages)
                m_extendedKeyUsages.push_back(CAsn1Util::Oid(u));
        } else if (CAsn1Util::IsOid(parts[0], Asn1Oids::kPrivateKeyUsagePeriod)) {
            std::vector<CBerElement> period;
            if (!CAsn1Util::ParseWhole(value.Content(), value.ContentSize(), Asn1Tag::kSequence,
                                       inner) ||
                !CAsn1Util::Children(inner, Asn1Tag::kSequence, period))
                return false;
            m_bKeyPeriod = true;
            for (const CBerElement& p : period) {
                // [1] IMPLICIT GeneralizedTime: the end of the key's use.
                if (p.Tag() == Asn1Tag::Context(1)) {
                    std::string strText(reinterpret_cast<const char*>(p.Content()), p.ContentSize());
                    if (!ParseTimeText(strText, true, m_tKeyPeriodEnd))
                        return false;
                }
            }
        }
    }
    return true;
}

bool EntX509::HasKeyUsage(int nBit) const
{
    if (nBit < 0 || nBit >= KU_BITS)
        return false;
    return !m_bKeyUsage || (m_nKeyUsage & (1u << nBit)) != 0;
}

bool EntX509::HasExtendedKeyUsage(const std::string& strOid) const
{
    for (const std::string& s : m_extendedKeyUsages) {
        if (s == strOid)
            return true;
    }
    return false;
}

std::string EntX509::Sha1Text() const
{
    CCryptoPrimitives crypto;
    Bytes hash;
    if (!crypto.Hash(CCryptoPrimitives::HASH_SHA1, m_der.data(), m_der.size(), hash))
        return std::string();
    static const char kHex[] = "0123456789ABCDEF";
    std::string strText;
    for (uint8_t b : hash) {
        if (!strText.empty())
            strText += ':';
        strText += kHex[b >> 4];
        strText += kHex[b & 0x0F];
    }
    return strText;
}
