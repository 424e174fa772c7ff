// Throughput and peak memory of the PKCS#7 writer and reader on the host:
// pkcs7_native_bench MEGABYTES CERT.der KEY.pem
// Phase 1 signs generated content (output discarded, timed as the writer);
// phase 2 signs again and feeds the output straight into the reader in
// 4096-byte blocks (only the reader's calls are timed).
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

#include "COpenSslTestCrypto.h"
#include "cert/pkcs7/CPkcs7Reader.h"
#include "cert/pkcs7/CPkcs7Writer.h"

namespace {

const char MD5[] = "1.2.840.113549.2.5";
const unsigned char TIME[] = {0x17, 0x0D, '2', '6', '0', '1', '0', '1',
                              '1',  '2',  '0', '0', '0', '0', 'Z'};

double Seconds(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

bool Sign(COpenSslTestCrypto& crypto, const std::vector<uint8_t>& cert, const char* key,
          uint64_t size, const CPkcs7Writer::FOutput& out)
{
    CPkcs7Writer writer(crypto, out);
    if (writer.Begin(cert.data(), cert.size(), MD5, TIME, sizeof(TIME)) != EPkcs7Error::Ok)
        return false;
    std::vector<uint8_t> block(4096);
    for (size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<uint8_t>(i * 31 + 7);
    for (uint64_t done = 0; done < size; done += block.size()) {
        size_t n = size - done < block.size() ? static_cast<size_t>(size - done) : block.size();
        block[0] = static_cast<uint8_t>(done >> 12);
        if (writer.Update(block.data(), n) != EPkcs7Error::Ok)
            return false;
    }
    return writer.Finish(
               [&](const std::string& oid, const uint8_t* p, size_t n, std::vector<uint8_t>& sig) {
                   return crypto.Sign(key, oid, p, n, sig);
               }) == EPkcs7Error::Ok;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s MEGABYTES CERT.der KEY.pem\n", argv[0]);
        return 2;
    }
    uint64_t size = std::strtoull(argv[1], nullptr, 10) * 1024 * 1024;
    std::ifstream in(argv[2], std::ios::binary);
    std::vector<uint8_t> cert((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
    COpenSslTestCrypto crypto;

    uint64_t written = 0;
    auto t0 = std::chrono::steady_clock::now();
    if (!Sign(crypto, cert, argv[3], size, [&](const uint8_t*, size_t n) {
            written += n;
            return true;
        })) {
        std::fprintf(stderr, "writer failed\n");
        return 1;
    }
    double tWrite = Seconds(t0);

    // Reader fed in 4096-byte blocks, as the library reads files.
    uint64_t content = 0;
    CPkcs7Reader reader(crypto, [&](const uint8_t*, size_t n) {
        content += n;
        return true;
    });
    std::vector<uint8_t> pending;
    double tRead = 0;
    bool ok = Sign(crypto, cert, argv[3], size, [&](const uint8_t* p, size_t n) {
        pending.insert(pending.end(), p, p + n);
        size_t at = 0;
        auto t = std::chrono::steady_clock::now();
        for (; pending.size() - at >= 4096; at += 4096)
            if (reader.Update(pending.data() + at, 4096) != EPkcs7Error::Ok)
                return false;
        tRead += Seconds(t);
        pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(at));
        return true;
    });
    auto t1 = std::chrono::steady_clock::now();
    ok = ok && reader.Update(pending.data(), pending.size()) == EPkcs7Error::Ok &&
         reader.Finish() == EPkcs7Error::Ok && content == size &&
         reader.Verify(0, cert.data(), cert.size()) == EPkcs7Error::Ok;
    tRead += Seconds(t1);
    if (!ok) {
        std::fprintf(stderr, "reader failed\n");
        return 1;
    }
    rusage ru;
    getrusage(RUSAGE_SELF, &ru);
    double mb = static_cast<double>(size) / (1024.0 * 1024.0);
    std::printf(
        "%8.0f MB  message %12llu bytes  write %7.1f MB/s  read+verify %7.1f MB/s  peak RSS %6.1f "
        "MB\n",
        mb, static_cast<unsigned long long>(written), tWrite > 0 ? mb / tWrite : 0.0, mb / tRead,
        static_cast<double>(ru.ru_maxrss) / 1024.0);
    return 0;
}
