// Helpers shared by the codec tests: content patterns, signing with the
// writer, reading with the reader in blocks, and building BER by hand.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "COpenSslTestCrypto.h"
#include "asn1/Bytes.h"
#include "cert/pkcs7/CPkcs7Reader.h"

namespace tm_oid {
extern const char MD2[];
extern const char MD5[];
extern const char SHA1[];
extern const char SHA256[];
}  // namespace tm_oid

// "260314101520Z" as a UTCTime element.
Bytes SigningTimeDer();
Bytes Pattern(size_t nSize, unsigned nSeed = 0);
// Lower-case hex of the bytes, for comparing encodings in failure messages.
std::string Hex(const Bytes& b);

// Signs content with signer 1 or 2 of the test PKI, fed in blocks.
Bytes SignWithWriter(COpenSslTestCrypto& crypto, int nSigner, const std::string& strDigestOid,
                     const Bytes& content, size_t nBlock = 4096);

// Feeds the message in blocks and finishes; the first error, or Finish's result.
EPkcs7Error ReadInBlocks(CPkcs7Reader& reader, const Bytes& message, size_t nBlock);

// Hand-made BER.
Bytes Tlv(uint8_t nTag, const Bytes& content);
Bytes Indef(uint8_t nTag, const Bytes& content);
Bytes Oid(const char* dotted);
Bytes Cat(std::initializer_list<Bytes> parts);
// A ContentInfo of signed data with the given SignedData members after the
// digest algorithms (MD5) and the content.
Bytes SignedDataMessage(const Bytes& content, const Bytes& afterContent);

size_t FindBytes(const Bytes& hay, const Bytes& needle, size_t from = 0);
