#include "TestMessages.h"

#include "CTestPki.h"
#include "asn1/CAsn1Oid.h"
#include "asn1/CDerWriter.h"
#include "cert/pkcs7/CPkcs7Writer.h"

namespace tm_oid {
const char MD2[] = "1.2.840.113549.2.2";
const char MD5[] = "1.2.840.113549.2.5";
const char SHA1[] = "1.3.14.3.2.26";
const char SHA256[] = "2.16.840.1.101.3.4.2.1";
}  // namespace tm_oid

Bytes SigningTimeDer()
{
    std::string t = "260314101520Z";
    Bytes b{0x17, static_cast<uint8_t>(t.size())};
    b.insert(b.end(), t.begin(), t.end());
    return b;
}

std::string Hex(const Bytes& b)
{
    static const char* d = "0123456789abcdef";
    std::string s;
    for (uint8_t c : b) {
        s += d[c >> 4];
        s += d[c & 15];
    }
    return s;
}

Bytes Pattern(size_t nSize, unsigned nSeed)
{
    Bytes b(nSize);
    uint32_t x = 2463534242u + nSeed;
    for (size_t i = 0; i < nSize; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b[i] = static_cast<uint8_t>(x);
    }
    return b;
}

Bytes SignWithWriter(COpenSslTestCrypto& crypto, int nSigner, const std::string& strDigestOid,
                     const Bytes& content, size_t nBlock)
{
    Bytes out;
    CPkcs7Writer writer(crypto, [&](const uint8_t* p, size_t n) {
        out.insert(out.end(), p, p + n);
        return true;
    });
    const Bytes& cert = CTestPki::Get().CertDer(nSigner);
    Bytes time = SigningTimeDer();
    if (writer.Begin(cert.data(), cert.size(), strDigestOid, time.data(), time.size()) !=
        EPkcs7Error::Ok)
        return Bytes();
    for (size_t at = 0; at < content.size(); at += nBlock) {
        size_t n = std::min(nBlock, content.size() - at);
        if (writer.Update(content.data() + at, n) != EPkcs7Error::Ok)
            return Bytes();
    }
    std::string key = CTestPki::Get().KeyPem(nSigner);
    EPkcs7Error e = writer.Finish([&](const std::string& oid, const uint8_t* p, size_t n,
                                      Bytes& sig) { return crypto.Sign(key, oid, p, n, sig); });
    return e == EPkcs7Error::Ok ? out : Bytes();
}

EPkcs7Error ReadInBlocks(CPkcs7Reader& reader, const Bytes& message, size_t nBlock)
{
    for (size_t at = 0; at < message.size(); at += nBlock) {
        size_t n = std::min(nBlock, message.size() - at);
        EPkcs7Error e = reader.Update(message.data() + at, n);
        if (e != EPkcs7Error::Ok)
            return e;
    }
    return reader.Finish();
}

Bytes Tlv(uint8_t nTag, const Bytes& content)
{
    Bytes out;
    CDerWriter::Append(out, nTag, content);
    return out;
}

Bytes Indef(uint8_t nTag, const Bytes& content)
{
    Bytes out{nTag, 0x80};
    out.insert(out.end(), content.begin(), content.end());
    out.push_back(0);
    out.push_back(0);
    return out;
}

Bytes Oid(const char* dotted)
{
    Bytes content;
    CAsn1Oid::Encode(dotted, content);
    return Tlv(0x06, content);
}

Bytes Cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes SignedDataMessage(const Bytes& content, const Bytes& afterContent)
{
    Bytes alg = Tlv(0x30, Cat({Oid(tm_oid::MD5), Bytes{0x05, 0x00}}));
    Bytes inner = Tlv(0x30, Cat({Oid("1.2.840.113549.1.7.1"), Tlv(0xA0, Tlv(0x04, content))}));
    Bytes sd = Tlv(0x30, Cat({Bytes{0x02, 0x01, 0x01}, Tlv(0x31, alg), inner, afterContent}));
    return Tlv(0x30, Cat({Oid("1.2.840.113549.1.7.2"), Tlv(0xA0, sd)}));
}

size_t FindBytes(const Bytes& hay, const Bytes& needle, size_t from)
{
    if (needle.empty() || hay.size() < needle.size())
        return std::string::npos;
    for (size_t i = from; i + needle.size() <= hay.size(); ++i)
        if (std::equal(needle.begin(), needle.end(), hay.begin() + static_cast<std::ptrdiff_t>(i)))
            return i;
    return std::string::npos;
}
