#include "platform/pkcs12/CPkcs12Writer.h"

#include <algorithm>

#include "asn1/Asn1Oids.h"
#include "asn1/Asn1Tags.h"
#include "asn1/CAsn1Util.h"
#include "asn1/CDerWriter.h"
#include "platform/pkcs12/CPkcs12Pbe.h"

namespace {

// ContentInfo { OID, [0] EXPLICIT content }
Bytes ContentInfo(const char* pszOid, const Bytes& content)
{
    Bytes body;
    CAsn1Util::AppendOid(body, pszOid);
    CDerWriter::Append(body, Asn1Tag::ContextConstructed(0), content);
    return CAsn1Util::Wrap(Asn1Tag::kSequence, body);
}

Bytes Attribute(const char* pszOid, const Bytes& value)
{
    Bytes body;
    CAsn1Util::AppendOid(body, pszOid);
    CDerWriter::Append(body, Asn1Tag::kSet, value);
    return CAsn1Util::Wrap(Asn1Tag::kSequence, body);
}
}  // namespace

void CPkcs12Writer::AppendAttributes(Bytes& bag, const CPkcs12Bag& entry)
{
    std::vector<Bytes> attributes;
    if (!entry.strFriendlyName.empty()) {
        Bytes bmp = CPkcs12Pbe::BmpPassword(entry.strFriendlyName);
        bmp.resize(bmp.size() - 2);  // a BMPString carries no terminating zero
        attributes.push_back(
            Attribute(Asn1Oids::kFriendlyName, CAsn1Util::Wrap(Asn1Tag::kBmpString, bmp)));
    }
    if (!entry.localKeyId.empty())
        attributes.push_back(Attribute(Asn1Oids::kLocalKeyId,
                                       CAsn1Util::Wrap(Asn1Tag::kOctetString, entry.localKeyId)));
    if (attributes.empty())
        return;
    std::sort(attributes.begin(), attributes.end(), CDerWriter::SetOfLess);
    Bytes set;
    for (const Bytes& a : attributes)
        set.insert(set.end(), a.begin(), a.end());
    CDerWriter::Append(bag, Asn1Tag::kSet, set);
}

EPkcs12Error CPkcs12Writer::Write(const std::vector<CPkcs12Bag>& bags,
                                  const std::wstring& strPassword, unsigned nIterations, Bytes& out,
                                  EFormat eFormat)
{
    out.clear();
    CPkcs12Pbe pbe(m_crypto);
    const bool bAes = eFormat == FORMAT_AES;
    auto encrypt = [&](const Bytes& plain, Bytes& algorithm, Bytes& encrypted) {
        return bAes ? pbe.Encrypt(strPassword, nIterations, plain, algorithm, encrypted)
                    : pbe.EncryptTripleDes(strPassword, nIterations, plain, algorithm, encrypted);
    };
    Bytes certBags, keyBags;
    for (const CPkcs12Bag& entry : bags) {
        Bytes bag;
        if (entry.eType == CPkcs12Bag::BAG_CERTIFICATE) {
            Bytes certBag;
            CAsn1Util::AppendOid(certBag, Asn1Oids::kX509Certificate);
            CDerWriter::Append(certBag, Asn1Tag::ContextConstructed(0),
                               CAsn1Util::Wrap(Asn1Tag::kOctetString, entry.data));
            CAsn1Util::AppendOid(bag, Asn1Oids::kCertBag);
            CDerWriter::Append(bag, Asn1Tag::ContextConstructed(0),
                               CAsn1Util::Wrap(Asn1Tag::kSequence, certBag));
        } else {
            Bytes algorithm, encrypted;
            EPkcs12Error e = encrypt(entry.data, algorithm, encrypted);
            if (e != EPkcs12Error::Ok)
                return e;
            Bytes info = algorithm;
            CAsn1Util::AppendOctetString(info, encrypted);
            CAsn1Util::AppendOid(bag, Asn1Oids::kShroudedKeyBag);
            CDerWriter::Append(bag, Asn1Tag::ContextConstructed(0),
                               CAsn1Util::Wrap(Asn1Tag::kSequence, info));
        }
        AppendAttributes(bag, entry);
        CDerWriter::Append(entry.eType == CPkcs12Bag::BAG_CERTIFICATE ? certBags : keyBags,
                           Asn1Tag::kSequence, bag);
    }

    Bytes authSafe;
    if (!certBags.empty()) {
        // EncryptedData { 0, EncryptedContentInfo { data, algorithm, [0] IMPLICIT bytes } }
        Bytes algorithm, encrypted;
        EPkcs12Error e =
            encrypt(CAsn1Util::Wrap(Asn1Tag::kSequence, certBags), algorithm, encrypted);
        if (e != EPkcs12Error::Ok)
            return e;
        Bytes contentInfo;
        CAsn1Util::AppendOid(contentInfo, Asn1Oids::kData);
        contentInfo.insert(contentInfo.end(), algorithm.begin(), algorithm.end());
        CDerWriter::Append(contentInfo, Asn1Tag::Context(0), encrypted);
        Bytes encryptedData;
        CAsn1Util::AppendSmallInt(encryptedData, 0);
        CDerWriter::Append(encryptedData, Asn1Tag::kSequence, contentInfo);
        Bytes part = ContentInfo(Asn1Oids::kEncryptedData,
                                 CAsn1Util::Wrap(Asn1Tag::kSequence, encryptedData));
        authSafe.insert(authSafe.end(), part.begin(), part.end());
    }
    if (!keyBags.empty()) {
        Bytes part = ContentInfo(
            Asn1Oids::kData,
            CAsn1Util::Wrap(Asn1Tag::kOctetString, CAsn1Util::Wrap(Asn1Tag::kSequence, keyBags)));
        authSafe.insert(authSafe.end(), part.begin(), part.end());
    }
    Bytes authSafeDer = CAsn1Util::Wrap(Asn1Tag::kSequence, authSafe);

    // MacData { DigestInfo { digest, mac }, salt, iterations }
    const CCryptoPrimitives::EHash eMacHash = bAes ? CCryptoPrimitives::HASH_SHA256
                                                   : CCryptoPrimitives::HASH_SHA1;
    Bytes salt(8), password = CPkcs12Pbe::BmpPassword(strPassword), key, mac;
    bool bOk = m_crypto.Random(salt.data(), salt.size()) &&
               m_crypto.Pkcs12Kdf(eMacHash, password, salt, nIterations, 3,
                                  CCryptoPrimitives::HashSize(eMacHash), key) &&
               m_crypto.Hmac(eMacHash, key, authSafeDer.data(), authSafeDer.size(), mac);
    WipeBytes(password);
    WipeBytes(key);
    if (!bOk)
        return EPkcs12Error::Crypto;
    Bytes digestInfo;
    CAsn1Util::AppendAlgorithm(digestInfo, bAes ? Asn1Oids::kSha256 : Asn1Oids::kSha1);
    CAsn1Util::AppendOctetString(digestInfo, mac);
    Bytes macData = CAsn1Util::Wrap(Asn1Tag::kSequence, digestInfo);
    CAsn1Util::AppendOctetString(macData, salt);
    CAsn1Util::AppendSmallInt(macData, static_cast<long>(nIterations));

    Bytes pfx;
    CAsn1Util::AppendSmallInt(pfx, 3);
    Bytes authSafeInfo =
        ContentInfo(Asn1Oids::kData, CAsn1Util::Wrap(Asn1Tag::kOctetString, authSafeDer));
    pfx.insert(pfx.end(), authSafeInfo.begin(), authSafeInfo.end());
    CDerWriter::Append(pfx, Asn1Tag::kSequence, macData);
    out = CAsn1Util::Wrap(Asn1Tag::kSequence, pfx);
    return EPkcs12Error::Ok;
}
