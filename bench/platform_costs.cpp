// Per-call costs of the platform functions the pipelines use, under Wine:
// ReadFile, WriteFile and CryptHashData with blocks of several sizes, crc32,
// deflate at the default level, and a plain memory copy.
//   platform_costs FILE MEBIBYTES
// FILE is created (MEBIBYTES of mixed data), read back and deleted.
#include <windows.h>
#include <wincrypt.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include <zlib.h>

namespace {

double Now()
{
    static LARGE_INTEGER freq = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / static_cast<double>(freq.QuadPart);
}

void Row(const char* pszWhat, DWORD nBlock, double dSeconds, unsigned long long nBytes,
         unsigned long long nCalls)
{
    printf("%-34s %8lu %9.1f %10.0f %9.2f\n", pszWhat, static_cast<unsigned long>(nBlock),
           dSeconds * 1000.0, nBytes / 1048576.0 / dSeconds, dSeconds * 1e6 / nCalls);
}

// Mixed data: a quarter noise, the rest numbered text lines.
void Fill(std::vector<BYTE>& data)
{
    unsigned x = 12345;
    size_t i = 0;
    char line[64];
    while (i < data.size()) {
        if ((i / 65536) % 4 == 0) {
            x = x * 1103515245u + 12345u;
            data[i++] = static_cast<BYTE>(x >> 16);
            continue;
        }
        int n = snprintf(line, sizeof(line), "%u\n", static_cast<unsigned>(i));
        for (int k = 0; k < n && i < data.size(); ++k)
            data[i++] = static_cast<BYTE>(line[k]);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: platform_costs FILE MEBIBYTES\n");
        return 2;
    }
    const char* pszFile = argv[1];
    const unsigned long long nTotal = strtoull(argv[2], nullptr, 10) * 1048576ULL;
    const DWORD kBlocks[] = {4096, 65536, 1048576};
    std::vector<BYTE> data(1048576 * 8);
    Fill(data);
    std::vector<BYTE> buffer(1048576 + 16);

    printf("%-34s %8s %9s %10s %9s\n", "call", "block", "ms", "MiB/s", "us/call");
    for (DWORD nBlock : kBlocks) {
        HANDLE h = CreateFileA(pszFile, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE)
            return 1;
        double t0 = Now();
        unsigned long long nCalls = 0;
        for (unsigned long long done = 0; done < nTotal; done += nBlock, ++nCalls) {
            DWORD dw;
            WriteFile(h, data.data() + done % (data.size() - nBlock), nBlock, &dw, nullptr);
        }
        CloseHandle(h);
        Row("WriteFile", nBlock, Now() - t0, nTotal, nCalls);
    }
    {
        // The writer's pattern: a 4-byte header, then the 4096 bytes.
        HANDLE h = CreateFileA(pszFile, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        double t0 = Now();
        unsigned long long nCalls = 0;
        for (unsigned long long done = 0; done < nTotal; done += 4096, nCalls += 2) {
            DWORD dw;
            WriteFile(h, "\x04\x82\x10\x00", 4, &dw, nullptr);
            WriteFile(h, data.data() + done % (data.size() - 4096), 4096, &dw, nullptr);
        }
        CloseHandle(h);
        Row("WriteFile 4 + 4096", 4096, Now() - t0, nTotal, nCalls);
    }
    for (DWORD nBlock : kBlocks) {
        HANDLE h = CreateFileA(pszFile, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        double t0 = Now();
        unsigned long long nCalls = 0, nBytes = 0;
        for (;;) {
            DWORD dw = 0;
            ++nCalls;
            if (!ReadFile(h, buffer.data(), nBlock, &dw, nullptr) || dw == 0)
                break;
            nBytes += dw;
        }
        CloseHandle(h);
        Row("ReadFile", nBlock, Now() - t0, nBytes, nCalls);
    }
    DeleteFileA(pszFile);

    HCRYPTPROV hProv = 0;
    if (!CryptAcquireContextA(&hProv, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT))
        return 1;
    for (DWORD nBlock : kBlocks) {
        HCRYPTHASH hHash = 0;
        CryptCreateHash(hProv, CALG_MD5, 0, 0, &hHash);
        double t0 = Now();
        unsigned long long nCalls = 0;
        for (unsigned long long done = 0; done < nTotal; done += nBlock, ++nCalls)
            CryptHashData(hHash, data.data() + done % (data.size() - nBlock), nBlock, 0);
        Row("CryptHashData MD5", nBlock, Now() - t0, nTotal, nCalls);
        CryptDestroyHash(hHash);
    }
    CryptReleaseContext(hProv, 0);

    for (DWORD nBlock : kBlocks) {
        double t0 = Now();
        unsigned long long nCalls = 0;
        uLong crc = crc32(0, nullptr, 0);
        for (unsigned long long done = 0; done < nTotal; done += nBlock, ++nCalls)
            crc = crc32(crc, data.data() + done % (data.size() - nBlock), nBlock);
        Row("crc32", nBlock, Now() - t0, nTotal, nCalls);
        if (crc == 1)
            printf("\n");
    }
    for (DWORD nBlock : kBlocks) {
        double t0 = Now();
        unsigned long long nCalls = 0;
        for (unsigned long long done = 0; done < nTotal; done += nBlock, ++nCalls)
            memcpy(buffer.data(), data.data() + done % (data.size() - nBlock), nBlock);
        Row("memcpy", nBlock, Now() - t0, nTotal, nCalls);
    }
    {
        // Deflate at the default level into a memory buffer: the compression alone.
        const unsigned long long nDeflate = nTotal < 256ULL * 1048576 ? nTotal : 256ULL * 1048576;
        z_stream zs = {};
        deflateInit2(&zs, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY);
        std::vector<BYTE> out(65536);
        double t0 = Now();
        unsigned long long nOut = 0, nCalls = 0;
        for (unsigned long long done = 0; done < nDeflate; done += 4096, ++nCalls) {
            zs.next_in = data.data() + done % (data.size() - 4096);
            zs.avail_in = 4096;
            do {
                zs.next_out = out.data();
                zs.avail_out = static_cast<uInt>(out.size());
                deflate(&zs, Z_NO_FLUSH);
                nOut += out.size() - zs.avail_out;
            } while (zs.avail_out == 0);
        }
        deflateEnd(&zs);
        Row("deflate level 6 (to memory)", 4096, Now() - t0, nDeflate, nCalls);
        printf("deflate ratio %.3f\n", static_cast<double>(nOut) / nDeflate);
    }
    return 0;
}
