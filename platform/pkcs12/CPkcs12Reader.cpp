#include "platform/pkcs12/CPkcs12Reader.h"

#include "asn1/Asn1Oids.h"
#include "asn1/Asn1Tags.h"
#include "asn1/CAsn1Util.h"
#include "platform/pkcs12/CPkcs12Pbe.h"

namespace {
const unsigned kMaxDepth = 4;

struct CMacHash {
    const char* pszOid;
    CCryptoPrimitives::EHash eHash;
};
const CMacHash kMacHashes[] = {{Asn1Oids::kSha1, CCryptoPrimitives::HASH_SHA1},
                               {Asn1Oids::kSha256, CCryptoPrimitives::HASH_SHA256},
                               {Asn1Oids::kSha384, CCryptoPrimitives::HASH_SHA384},
                               {Asn1Oids::kSha512, CCryptoPrimitives::HASH_SHA512}};

bool ConstantTimeEqual(const Bytes& a, const Bytes& b)
{
    if (a.size() != b.size())
        return false;
    uint8_t nDiff = 0;
    for (size_t i = 0; i < a.size(); ++i)
        nDiff |= a[i] ^ b[i];
    return nDiff == 0;
}

// ContentInfo { OID, [0] EXPLICIT content }: the OID and the content element.
bool SplitContentInfo(const CBerElement& info, std::string& strOid, CBerElement& content)
{
    std::vector<CBerElement> parts, wrapped;
    if (!CAsn1Util::Children(info, Asn1Tag::kSequence, parts) || parts.size() != 2 ||
        !CAsn1Util::Children(parts[1], Asn1Tag::ContextConstructed(0), wrapped) ||
        wrapped.size() != 1)
        return false;
    strOid = CAsn1Util::Oid(parts[0]);
    content = wrapped[0];
    return true;
}

std::wstring BmpText(const CBerElement& element)
{
    std::wstring str;
    if (element.Tag() != Asn1Tag::kBmpString)
        return str;
    for (size_t i = 0; i + 1 < element.ContentSize(); i += 2)
        str += static_cast<wchar_t>((element.Content()[i] << 8) | element.Content()[i + 1]);
    return str;
}
}  // namespace

EPkcs12Error CPkcs12Reader::Read(const uint8_t* pData, size_t nSize,
                                 const std::wstring& strPassword, std::vector<CPkcs12Bag>& bags)
{
    bags.clear();
    CBerElement pfx;
    std::vector<CBerElement> fields;
    long nVersion = 0;
    if (pData == nullptr || pfx.ParseAll(pData, nSize) != EAsn1Error::Ok ||
        !CAsn1Util::Children(pfx, Asn1Tag::kSequence, fields) || fields.size() < 2 ||
        fields.size() > 3 || !CAsn1Util::SmallInt(fields[0], nVersion) || nVersion != 3)
        return EPkcs12Error::NotPkcs12;
    std::string strOid;
    CBerElement content;
    Bytes authSafe;
    if (!SplitContentInfo(fields[1], strOid, content) || strOid != Asn1Oids::kData ||
        !CAsn1Util::OctetString(content, authSafe))
        return EPkcs12Error::NotPkcs12;
    // Without the MAC nothing ties the file to the password.
    if (fields.size() != 3)
        return EPkcs12Error::Unprotected;
    EPkcs12Error eMac = CheckMac(fields[2], authSafe, strPassword);
    if (eMac != EPkcs12Error::Ok)
        return eMac;

    CBerElement safe;
    std::vector<CBerElement> infos;
    if (!CAsn1Util::ParseWhole(authSafe.data(), authSafe.size(), Asn1Tag::kSequence, safe) ||
        !CAsn1Util::Children(safe, Asn1Tag::kSequence, infos))
        return EPkcs12Error::NotPkcs12;
    if (infos.size() > MAX_BAGS)
        return EPkcs12Error::LimitExceeded;
    CPkcs12Pbe pbe(m_crypto);
    EPkcs12Error e = EPkcs12Error::Ok;
    for (size_t i = 0; i < infos.size() && e == EPkcs12Error::Ok; ++i) {
        if (!SplitContentInfo(infos[i], strOid, content)) {
            e = EPkcs12Error::NotPkcs12;
            break;
        }
        Bytes safeContents;
        if (strOid == Asn1Oids::kData) {
            if (!CAsn1Util::OctetString(content, safeContents))
                e = EPkcs12Error::NotPkcs12;
        } else if (strOid == Asn1Oids::kEncryptedData) {
            // EncryptedData { version, EncryptedContentInfo { type, algorithm, [0] IMPLICIT data } }
            std::vector<CBerElement> encryptedData, info;
            Bytes encrypted;
            if (!CAsn1Util::Children(content, Asn1Tag::kSequence, encryptedData) ||
                encryptedData.size() < 2 ||
                !CAsn1Util::Children(encryptedData[1], Asn1Tag::kSequence, info) ||
                info.size() != 3 ||
                (info[2].Tag() != Asn1Tag::Context(0) &&
                 info[2].Tag() != Asn1Tag::ContextConstructed(0))) {
                e = EPkcs12Error::NotPkcs12;
                break;
            }
            if (info[2].Tag() == Asn1Tag::Context(0)) {
                encrypted.assign(info[2].Content(), info[2].Content() + info[2].ContentSize());
            } else {
                // Constructed: the segments are OCTET STRINGs.
                std::vector<CBerElement> segments;
                info[2].Children(segments);
                for (const CBerElement& s : segments) {
                    Bytes part;
                    if (!CAsn1Util::OctetString(s, part)) {
                        e = EPkcs12Error::NotPkcs12;
                        break;
                    }
                    encrypted.insert(encrypted.end(), part.begin(), part.end());
                }
            }
            if (e == EPkcs12Error::Ok)
                e = pbe.Decrypt(info[1], strPassword, encrypted, safeContents);
        }
        // Other content types (public-key enveloped) are not for us.
        if (e == EPkcs12Error::Ok && !safeContents.empty())
            e = ReadSafeContents(safeContents, strPassword, bags, 0);
        WipeBytes(safeContents);
    }
    if (e != EPkcs12Error::Ok) {
        for (CPkcs12Bag& bag : bags)
            WipeBytes(bag.data);
        bags.clear();
    }
    return e;
}

EPkcs12Error CPkcs12Reader::CheckMac(const CBerElement& macData, const Bytes& authSafe,
                                     const std::wstring& strPassword)
{
    // MacData { DigestInfo { algorithm, digest }, salt, iterations DEFAULT 1 }
    std::vector<CBerElement> fields, digestInfo, algorithm;
    Bytes expected, salt;
    long nIterations = 1;
    if (!CAsn1Util::Children(macData, Asn1Tag::kSequence, fields) || fields.size() < 2 ||
        !CAsn1Util::Children(fields[0], Asn1Tag::kSequence, digestInfo) || digestInfo.size() != 2 ||
        !CAsn1Util::Children(digestInfo[0], Asn1Tag::kSequence, algorithm) || algorithm.empty() ||
        !CAsn1Util::OctetString(digestInfo[1], expected) ||
        !CAsn1Util::OctetString(fields[1], salt) ||
        (fields.size() > 2 && !CAsn1Util::SmallInt(fields[2], nIterations)) || nIterations < 1)
        return EPkcs12Error::NotPkcs12;
    if (nIterations > CPkcs12Pbe::MAX_ITERATIONS)
        return EPkcs12Error::LimitExceeded;
    const CMacHash* pHash = nullptr;
    for (const CMacHash& h : kMacHashes) {
        if (CAsn1Util::IsOid(algorithm[0], h.pszOid))
            pHash = &h;
    }
    if (pHash == nullptr)
        return EPkcs12Error::Unsupported;
    Bytes password = CPkcs12Pbe::BmpPassword(strPassword), key, mac;
    bool bOk = m_crypto.Pkcs12Kdf(pHash->eHash, password, salt, static_cast<unsigned>(nIterations), 3,
                                  CCryptoPrimitives::HashSize(pHash->eHash), key) &&
               m_crypto.Hmac(pHash->eHash, key, authSafe.data(), authSafe.size(), mac);
    WipeBytes(password);
    WipeBytes(key);
    if (!bOk)
        return EPkcs12Error::Crypto;
    return ConstantTimeEqual(mac, expected) ? EPkcs12Error::Ok : EPkcs12Error::BadPassword;
}

EPkcs12Error CPkcs12Reader::ReadSafeContents(const Bytes& der, const std::wstring& strPassword,
                                             std::vector<CPkcs12Bag>& bags, unsigned nDepth)
{
    if (nDepth > kMaxDepth)
        return EPkcs12Error::LimitExceeded;
    CBerElement contents;
    std::vector<CBerElement> list;
    if (!CAsn1Util::ParseWhole(der.data(), der.size(), Asn1Tag::kSequence, contents) ||
        !CAsn1Util::Children(contents, Asn1Tag::kSequence, list))
        return EPkcs12Error::NotPkcs12;
    for (const CBerElement& bag : list) {
        EPkcs12Error e = ReadBag(bag, strPassword, bags, nDepth);
        if (e != EPkcs12Error::Ok)
            return e;
    }
    return EPkcs12Error::Ok;
}

EPkcs12Error CPkcs12Reader::ReadBag(const CBerElement& bag, const std::wstring& strPassword,
                                    std::vector<CPkcs12Bag>& bags, unsigned nDepth)
{
    // SafeBag { bagId, [0] EXPLICIT bagValue, bagAttributes SET OF Attribute OPTIONAL }
    std::vector<CBerElement> fields, wrapped;
    if (!CAsn1Util::Children(bag, Asn1Tag::kSequence, fields) || fields.size() < 2 ||
        fields.size() > 3 ||
        !CAsn1Util::Children(fields[1], Asn1Tag::ContextConstructed(0), wrapped) ||
        wrapped.size() != 1)
        return EPkcs12Error::NotPkcs12;
    if (bags.size() >= MAX_BAGS)
        return EPkcs12Error::LimitExceeded;
    std::string strBagId = CAsn1Util::Oid(fields[0]);
    const CBerElement& value = wrapped[0];

    CPkcs12Bag entry;
    if (strBagId == Asn1Oids::kCertBag) {
        std::vector<CBerElement> cert, certValue;
        if (!CAsn1Util::Children(value, Asn1Tag::kSequence, cert) || cert.size() != 2 ||
            !CAsn1Util::Children(cert[1], Asn1Tag::ContextConstructed(0), certValue) ||
            certValue.size() != 1)
            return EPkcs12Error::NotPkcs12;
        if (!CAsn1Util::IsOid(cert[0], Asn1Oids::kX509Certificate))
            return EPkcs12Error::Ok;  // SDSI certificates are not ours
        entry.eType = CPkcs12Bag::BAG_CERTIFICATE;
        if (!CAsn1Util::OctetString(certValue[0], entry.data))
            return EPkcs12Error::NotPkcs12;
    } else if (strBagId == Asn1Oids::kKeyBag) {
        return EPkcs12Error::Unprotected;  // a key in the clear
    } else if (strBagId == Asn1Oids::kShroudedKeyBag) {
        // EncryptedPrivateKeyInfo { algorithm, encryptedData }
        std::vector<CBerElement> info;
        Bytes encrypted;
        if (!CAsn1Util::Children(value, Asn1Tag::kSequence, info) || info.size() != 2 ||
            !CAsn1Util::OctetString(info[1], encrypted))
            return EPkcs12Error::NotPkcs12;
        entry.eType = CPkcs12Bag::BAG_KEY;
        CPkcs12Pbe pbe(m_crypto);
        EPkcs12Error e = pbe.Decrypt(info[0], strPassword, encrypted, entry.data);
        if (e != EPkcs12Error::Ok)
            return e;
    } else if (strBagId == Asn1Oids::kSafeContentsBag) {
        return ReadSafeContents(value.Bytes(), strPassword, bags, nDepth + 1);
    } else {
        return EPkcs12Error::Ok;  // CRLs and secrets
    }

    if (fields.size() == 3) {
        std::vector<CBerElement> attributes;
        if (!CAsn1Util::Children(fields[2], Asn1Tag::kSet, attributes)) {
            WipeBytes(entry.data);
            return EPkcs12Error::NotPkcs12;
        }
        for (const CBerElement& attribute : attributes) {
            std::vector<CBerElement> parts, values;
            if (!CAsn1Util::Children(attribute, Asn1Tag::kSequence, parts) || parts.size() != 2 ||
                !CAsn1Util::Children(parts[1], Asn1Tag::kSet, values) || values.empty())
                continue;
            if (CAsn1Util::IsOid(parts[0], Asn1Oids::kLocalKeyId))
                CAsn1Util::OctetString(values[0], entry.localKeyId);
            else if (CAsn1Util::IsOid(parts[0], Asn1Oids::kFriendlyName))
                entry.strFriendlyName = BmpText(values[0]);
        }
    }
    bags.push_back(std::move(entry));
    return EPkcs12Error::Ok;
}
