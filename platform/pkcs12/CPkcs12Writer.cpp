#include "platform/pkcs12/CPkcs12Writer.h"

#include <algorithm>

#include "cert/pkcs7/CDerWriter.h"
#include "platform/pkcs12/CAsn1Util.h"
#include "platform/pkcs12/CPkcs12Pbe.h"

namespace {
const char kData[] = "1.2.840.113549.1.7.1";
const char kEncryptedData[] = "1.2.840.113549.1.7.6";
const char kShroudedKeyBag[] = "1.2.840.113549.1.12.10.1.2";
const char kCertBag[] = "1.2.840.113549.1.12.10.1.3";
const char kX509Certificate[] = "1.2.840.113549.1.9.22.1";
const char kFriendlyName[] = "1.2.840.113549.1.9.20";
const char kLocalKeyId[] = "1.2.840.113549.1.9.21";
const char kSha1[] = "1.3.14.3.2.26";
const char kSha256[] = "2.16.840.1.101.3.4.2.1";

// ContentInfo { OID, [0] EXPLICIT content }
Bytes ContentInfo(const char* pszOid, const Bytes& content)
{
    Bytes body;
    CAsn1Util::AppendOid(body, pszOid);
    CDerWriter::Append(body, 0xA0, content);
    return CAsn1Util::Wrap(0x30, body);
}

Bytes Attribute(const char* pszOid, const Bytes& value)
{
    Bytes body;
    CAsn1Util::AppendOid(body, pszOid);
    CDerWriter::Append(body, 0x31, value);
    return CAsn1Util::Wrap(0x30, body);
}
}  // namespace

void CPkcs12Writer::AppendAttributes(Bytes& bag, const CPkcs12Bag& entry)
{
    std::vector<Bytes> attributes;
    if (!entry.strFriendlyName.empty()) {
        Bytes bmp = CPkcs12Pbe::BmpPassword(entry.strFriendlyName);
        bmp.resize(bmp.size() - 2);  // a BMPString carries no terminating zero
        attributes.push_back(Attribute(kFriendlyName, CAsn1Util::Wrap(0x1E, bmp)));
    }
    if (!entry.localKeyId.empty())
        attributes.push_back(Attribute(kLocalKeyId, CAsn1Util::Wrap(0x04, entry.localKeyId)));
    if (attributes.empty())
        return;
    std::sort(attributes.begin(), attributes.end(), CDerWriter::SetOfLess);
    Bytes set;
    for (const Bytes& a : attributes)
        set.insert(set.end(), a.begin(), a.end());
    CDerWriter::Append(bag, 0x31, set);
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
            CAsn1Util::AppendOid(certBag, kX509Certificate);
            CDerWriter::Append(certBag, 0xA0, CAsn1Util::Wrap(0x04, entry.data));
            CAsn1Util::AppendOid(bag, kCertBag);
            CDerWriter::Append(bag, 0xA0, CAsn1Util::Wrap(0x30, certBag));
        } else {
            Bytes algorithm, encrypted;
            EPkcs12Error e = encrypt(entry.data, algorithm, encrypted);
            if (e != EPkcs12Error::Ok)
                return e;
            Bytes info = algorithm;
            CAsn1Util::AppendOctetString(info, encrypted);
            CAsn1Util::AppendOid(bag, kShroudedKeyBag);
            CDerWriter::Append(bag, 0xA0, CAsn1Util::Wrap(0x30, info));
        }
        AppendAttributes(bag, entry);
        CDerWriter::Append(entry.eType == CPkcs12Bag::BAG_CERTIFICATE ? certBags : keyBags, 0x30,
                           bag);
    }

    Bytes authSafe;
    if (!certBags.empty()) {
        // EncryptedData { 0, EncryptedContentInfo { data, algorithm, [0] IMPLICIT bytes } }
        Bytes algorithm, encrypted;
        EPkcs12Error e = encrypt(CAsn1Util::Wrap(0x30, certBags), algorithm, encrypted);
        if (e != EPkcs12Error::Ok)
            return e;
        Bytes contentInfo;
        CAsn1Util::AppendOid(contentInfo, kData);
        contentInfo.insert(contentInfo.end(), algorithm.begin(), algorithm.end());
        CDerWriter::Append(contentInfo, 0x80, encrypted);
        Bytes encryptedData;
        CAsn1Util::AppendSmallInt(encryptedData, 0);
        CDerWriter::Append(encryptedData, 0x30, contentInfo);
        Bytes part = ContentInfo(kEncryptedData, CAsn1Util::Wrap(0x30, encryptedData));
        authSafe.insert(authSafe.end(), part.begin(), part.end());
    }
    if (!keyBags.empty()) {
        Bytes part =
            ContentInfo(kData, CAsn1Util::Wrap(0x04, CAsn1Util::Wrap(0x30, keyBags)));
        authSafe.insert(authSafe.end(), part.begin(), part.end());
    }
    Bytes authSafeDer = CAsn1Util::Wrap(0x30, authSafe);

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
    CAsn1Util::AppendAlgorithm(digestInfo, bAes ? kSha256 : kSha1);
    CAsn1Util::AppendOctetString(digestInfo, mac);
    Bytes macData = CAsn1Util::Wrap(0x30, digestInfo);
    CAsn1Util::AppendOctetString(macData, salt);
    CAsn1Util::AppendSmallInt(macData, static_cast<long>(nIterations));

    Bytes pfx;
    CAsn1Util::AppendSmallInt(pfx, 3);
    Bytes authSafeInfo = ContentInfo(kData, CAsn1Util::Wrap(0x04, authSafeDer));
    pfx.insert(pfx.end(), authSafeInfo.begin(), authSafeInfo.end());
    CDerWriter::Append(pfx, 0x30, macData);
    out = CAsn1Util::Wrap(0x30, pfx);
    return EPkcs12Error::Ok;
}
