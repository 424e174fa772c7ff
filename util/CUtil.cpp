#include "util/CUtil.h"

#include <errno.h>
#include <share.h>
#include <stdio.h>
#include <string.h>

#include <memory>
#include <string>
#include <vector>

#include <zlib.h>

#include "api/CLog.h"
#include "api/CTarvoselException.h"
#include "api/ResultCodes.h"
#include "util/CByteStream.h"
#include "util/CBase64Decoder.h"
#include "util/CBase64Encoder.h"

namespace {

// Files are read and written in blocks of this size: under the platform layer
// every call has a fixed cost, small blocks multiply it.
const size_t kIoBlock = 1024 * 1024;

typedef std::unique_ptr<FILE, int (*)(FILE*)> CrtFile;
typedef std::unique_ptr<gzFile_s, int (*)(gzFile)> GzFile;
typedef std::unique_ptr<void, BOOL(WINAPI*)(HANDLE)> Win32Handle;

[[noreturn]] void Fail(int nCode, const char* pszContext)
{
    throw new CTarvoselException(EXC_OWN, nCode, pszContext);
}

bool IsEmpty(const char* psz)
{
    return !psz || !*psz;
}

// One pass over a stream in fixed blocks, as zlib streams: read(p, n, bEnd)
// fills up to n bytes and says when the stream has ended, put takes each
// block as it comes, end closes once. Memory stays one block whatever the size.
template <typename Read, typename Put, typename End>
void PumpBlocks(Read read, Put put, End end)
{
    std::vector<unsigned char> block(kIoBlock);
    bool bEnd = false;
    while (!bEnd) {
        size_t n = read(block.data(), block.size(), bEnd);
        put(block.data(), n);
    }
    end();
}

// Reads a C file; a read error is logged and fails with nCode. A short block
// is the end: fread gives less only there.
auto ReadCrt(FILE* pFile, const char* pszPath, int nCode, const char* pszContext)
{
    return [=](unsigned char* p, size_t n, bool& bEnd) {
        size_t nRead = fread(p, 1, n, pFile);
        if (ferror(pFile)) {
            LogInfo("Error al leer fichero '%s'", pszPath);
            Fail(nCode, pszContext);
        }
        bEnd = nRead < n;
        return nRead;
    };
}

void FailWrite(const char* pszPath, const char* pszContext)
{
    LogInfo("Error al escribir en fichero '%s'", pszPath);
    Fail(ERR_FILE_WRITE, pszContext);
}

// Writes to a C file; a short write is logged and fails as ERR_FILE_WRITE.
auto WriteCrt(FILE* pFile, const char* pszPath, const char* pszContext)
{
    return [=](const unsigned char* p, size_t n) {
        if (fwrite(p, 1, n, pFile) != n)
            FailWrite(pszPath, pszContext);
    };
}

// Opens a path only to ask who it is; directories included.
Win32Handle OpenForIdentity(const char* pszPath)
{
    HANDLE h = CreateFileA(pszPath, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           NULL, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
    return Win32Handle(h == INVALID_HANDLE_VALUE ? NULL : h, CloseHandle);
}

}  // namespace

bool CUtil::IsSameFile(const char* pszPath1, const char* pszPath2)
{
    // The second (a destination) first: when it does not exist the first (a
    // source, perhaps a pipe that one open would use up) is never touched.
    Win32Handle h2 = OpenForIdentity(pszPath2);
    if (!h2)
        return false;
    Win32Handle h1 = OpenForIdentity(pszPath1);
    if (!h1)
        return false;
    BY_HANDLE_FILE_INFORMATION info1, info2;
    if (GetFileInformationByHandle(h1.get(), &info1) &&
        GetFileInformationByHandle(h2.get(), &info2)) {
        return info1.dwVolumeSerialNumber == info2.dwVolumeSerialNumber &&
               info1.nFileIndexHigh == info2.nFileIndexHigh &&
               info1.nFileIndexLow == info2.nFileIndexLow;
    }
    char szFull1[MAX_PATH], szFull2[MAX_PATH];
    DWORD n1 = GetFullPathNameA(pszPath1, MAX_PATH, szFull1, NULL);
    DWORD n2 = GetFullPathNameA(pszPath2, MAX_PATH, szFull2, NULL);
    return n1 && n1 < MAX_PATH && n2 && n2 < MAX_PATH && lstrcmpiA(szFull1, szFull2) == 0;
}

void CUtil::ThrowSameFile(const char* pszDest, int nCode, const char* pszContext)
{
    LogInfo("Error al escribir en fichero '%s': es el fichero de origen", pszDest);
    Fail(nCode, pszContext);
}

namespace {
// The source of a compression, once both paths are known to be usable; a
// destination that is the source itself must then not be deleted.
CrtFile OpenZipSource(const char* pszSource, const char* pszDest, const char* pszContext,
                      bool& bDeleteDest)
{
    if (IsEmpty(pszSource))
        Fail(ERR_FILE_READ, pszContext);
    CrtFile src(fopen(pszSource, "rb"), fclose);
    if (!src) {
        LogInfo("Error al abrir fichero '%s'", pszSource);
        Fail(ERR_FILE_READ, pszContext);
    }
    if (IsEmpty(pszDest))
        Fail(ERR_FILE_WRITE, pszContext);
    if (CUtil::IsSameFile(pszSource, pszDest)) {
        bDeleteDest = false;
        CUtil::ThrowSameFile(pszDest, ERR_FILE_WRITE, pszContext);
    }
    return src;
}
}  // namespace

void CUtil::ZipFile(const char* pszSource, const char* pszDest)
{
    const char* const pszContext = "CUtil::ZipFile";
    // Never delete the destination when it is the source itself.
    bool bDeleteDest = true;
    try {
        CrtFile src = OpenZipSource(pszSource, pszDest, pszContext, bDeleteDest);
        GzFile gz(gzopen(pszDest, "wb"), gzclose);
        if (!gz) {
            LogInfo("Error al escribir en fichero '%s'", pszDest);
            Fail(ERR_FILE_WRITE, pszContext);
        }
        // How the input is cut does not change the compressed bytes: the writer
        // runs deflate without flushing until the close.
        gzbuffer(gz.get(), kIoBlock);
        auto failCompress = [&] {
            LogInfo("Error al comprimir fichero '%s'", pszDest);
            Fail(ERR_COMPRESS, pszContext);
        };
        PumpBlocks(ReadCrt(src.get(), pszSource, ERR_COMPRESS, pszContext),
                   [&](const unsigned char* p, size_t n) {
                       // gzwrite takes all or reports an error; anything short loses data.
                       if (n > 0 && gzwrite(gz.get(), p, (unsigned)n) != (int)n)
                           failCompress();
                   },
                   [&] {
                       // The close writes the last deflate block and the trailer.
                       if (gzclose(gz.release()) != Z_OK)
                           failCompress();
                   });
    } catch (CTarvoselException*) {
        if (bDeleteDest && !IsEmpty(pszDest))
            DeleteFileA(pszDest);
        throw;
    }
}

void CUtil::ZipFileTo(const char* pszSource, const char* pszDest, CByteSink& sink,
                      const std::function<void()>& fnCreated)
{
    const char* const pszContext = "CUtil::ZipFile";
    bool bDeleteDest = true;
    z_stream zs = {};
    bool bDeflating = false;
    try {
        CrtFile src = OpenZipSource(pszSource, pszDest, pszContext, bDeleteDest);
        CrtFile dest(fopen(pszDest, "wb"), fclose);
        if (!dest) {
            LogInfo("Error al escribir en fichero '%s'", pszDest);
            Fail(ERR_FILE_WRITE, pszContext);
        }
        dest.reset();
        if (fnCreated)
            fnCreated();
        // What zlib's gzip writer opened with "wb" sets up: the same stream.
        if (deflateInit2(&zs, Z_DEFAULT_COMPRESSION, Z_DEFLATED, MAX_WBITS + 16, 8,
                         Z_DEFAULT_STRATEGY) != Z_OK) {
            LogInfo("Error al comprimir fichero '%s'", pszDest);
            Fail(ERR_COMPRESS, pszContext);
        }
        bDeflating = true;
        std::vector<unsigned char> out(kIoBlock / 4);
        auto deflateInto = [&](int nFlush) {
            int nResult;
            do {
                zs.next_out = out.data();
                zs.avail_out = (uInt)out.size();
                nResult = deflate(&zs, nFlush);
                DWORD dwError = 0;
                size_t nOut = out.size() - zs.avail_out;
                bool bStuck = nFlush == Z_FINISH && nResult == Z_BUF_ERROR && zs.avail_out > 0;
                if (nResult == Z_STREAM_ERROR || bStuck ||
                    (nOut > 0 && !sink.Write(out.data(), nOut, dwError))) {
                    LogInfo("Error al comprimir fichero '%s'", pszDest);
                    Fail(ERR_COMPRESS, pszContext);
                }
            } while (zs.avail_out == 0 || (nFlush == Z_FINISH && nResult != Z_STREAM_END));
        };
        PumpBlocks(ReadCrt(src.get(), pszSource, ERR_COMPRESS, pszContext),
                   [&](const unsigned char* p, size_t n) {
                       zs.next_in = const_cast<unsigned char*>(p);
                       zs.avail_in = (uInt)n;
                       deflateInto(Z_NO_FLUSH);
                   },
                   [&] {
                       deflateInto(Z_FINISH);
                       deflateEnd(&zs);
                   });
    } catch (CTarvoselException*) {
        if (bDeflating)
            deflateEnd(&zs);
        if (bDeleteDest && !IsEmpty(pszDest))
            DeleteFileA(pszDest);
        throw;
    }
}

void CUtil::UnzipFile(const char* pszSource, const char* pszDest)
{
    const char* const pszContext = "CUtil::UnzipFile";
    bool bDeleteDest = true;
    try {
        if (IsEmpty(pszSource))
            Fail(ERR_FILE_READ, pszContext);
        GzFile gz(gzopen(pszSource, "rb"), gzclose);
        if (!gz) {
            LogInfo("Error al abrir fichero '%s'", pszSource);
            Fail(ERR_FILE_READ, pszContext);
        }
        if (IsEmpty(pszDest))
            Fail(ERR_FILE_WRITE, pszContext);
        if (IsSameFile(pszSource, pszDest)) {
            bDeleteDest = false;
            ThrowSameFile(pszDest, ERR_FILE_WRITE, pszContext);
        }
        CrtFile dest(fopen(pszDest, "wb"), fclose);
        if (!dest)
            FailWrite(pszDest, pszContext);
        gzbuffer(gz.get(), kIoBlock);
        auto failDecompress = [&] {
            LogInfo("Error al descomprimir fichero '%s'", pszSource);
            Fail(ERR_DECOMPRESS, pszContext);
        };
        PumpBlocks(
            [&](unsigned char* p, size_t n, bool& bEnd) {
                int nRead = gzread(gz.get(), p, (unsigned)n);
                if (nRead < 0)
                    failDecompress();
                if (nRead == 0) {
                    // zlib ends a truncated stream like a complete one and only
                    // remembers the fault.
                    int nError = Z_OK;
                    gzerror(gz.get(), &nError);
                    if (nError != Z_OK)
                        failDecompress();
                }
                bEnd = nRead == 0;
                return (size_t)nRead;
            },
            WriteCrt(dest.get(), pszDest, pszContext),
            [&] {
                if (gzclose(gz.release()) != Z_OK)
                    failDecompress();
                if (fclose(dest.release()) != 0)
                    FailWrite(pszDest, pszContext);
            });
    } catch (CTarvoselException*) {
        if (bDeleteDest && !IsEmpty(pszDest))
            DeleteFileA(pszDest);
        throw;
    }
}

void CUtil::UnzipBuffer(BYTE* pDest, unsigned long* pcbDest, const BYTE* pSrc,
                        unsigned long cbSrc)
{
    int nResult = Z_STREAM_ERROR;
    if (pcbDest && (pDest || *pcbDest == 0) && (pSrc || cbSrc == 0))
        nResult = uncompress(pDest, pcbDest, pSrc, cbSrc);
    if (nResult != Z_OK) {
        LogInfo("Error al descomprimir certificado");
        Fail(ERR_DECOMPRESS, "CUtil::UnzipBuffer");
    }
}

void CUtil::Base64EncodeFile(const char* pszSource, const char* pszDest)
{
    const char* const pszContext = "CUtil::Base64EncodeFile";
    if (!pszSource)
        pszSource = "";
    if (!pszDest)
        pszDest = "";
    CrtFile src(_fsopen(pszSource, "rb", _SH_DENYNO), fclose);
    if (!src) {
        LogInfo("Error al abrir fichero '%s': %s", pszSource, strerror(errno));
        Fail(ERR_FILE_READ, pszContext);
    }
    // Creating the destination would truncate the source before it is read.
    if (IsSameFile(pszSource, pszDest))
        ThrowSameFile(pszDest, ERR_FILE_WRITE, pszContext);
    CBase64Encoder encoder;
    if (!encoder.OpenFile(pszDest, 0)) {
        LogInfo("Error al escribir en fichero '%s'", pszDest);
        Fail(ERR_FILE_WRITE, pszContext);
    }
    PumpBlocks(ReadCrt(src.get(), pszSource, ERR_FILE_READ, pszContext),
               [&](const unsigned char* p, size_t n) {
                   encoder.Put(p, n);
                   if (!encoder.Good())
                       FailWrite(pszDest, pszContext);
               },
               [&] {
                   if (!encoder.Finish())
                       FailWrite(pszDest, pszContext);
               });
}

void CUtil::Base64WriteText(const char* pszText, const char* pszDest)
{
    const char* const pszContext = "CUtil::Base64EncodeFile";
    if (!pszDest)
        pszDest = "";
    CrtFile src(_fsopen(pszText, "rb", _SH_DENYNO), fclose);
    if (!src) {
        LogInfo("Error al abrir fichero '%s': %s", pszText, strerror(errno));
        Fail(ERR_FILE_READ, pszContext);
    }
    if (IsSameFile(pszText, pszDest))
        ThrowSameFile(pszDest, ERR_FILE_WRITE, pszContext);
    // Created as the encoder creates it.
    CrtFile dest(IsEmpty(pszDest) ? nullptr : fopen(pszDest, "wb"), fclose);
    if (!dest) {
        LogInfo("Error al escribir en fichero '%s'", pszDest);
        Fail(ERR_FILE_WRITE, pszContext);
    }
    PumpBlocks(ReadCrt(src.get(), pszText, ERR_FILE_READ, pszContext),
               WriteCrt(dest.get(), pszDest, pszContext), [&] {
                   if (fclose(dest.release()) != 0)
                       FailWrite(pszDest, pszContext);
               });
}

void CUtil::Base64DecodeFile(const char* pszSource, const char* pszDest)
{
    const char* const pszContext = "CUtil::Base64DecodeFile";
    if (!pszSource)
        pszSource = "";
    if (!pszDest)
        pszDest = "";
    CrtFile src(_fsopen(pszSource, "rb", _SH_DENYNO), fclose);
    if (!src) {
        LogInfo("Error al abrir fichero '%s': %s", pszSource, strerror(errno));
        Fail(ERR_FILE_READ, pszContext);
    }
    // No sharing: the destination cannot be the open source, nor be read half-written.
    CrtFile dest(_fsopen(pszDest, "wb", _SH_DENYRW), fclose);
    if (!dest) {
        LogInfo("Error al escribir en fichero '%s': %s", pszDest, strerror(errno));
        Fail(ERR_FILE_WRITE, pszContext);
    }
    CBase64Decoder decoder;
    std::vector<unsigned char> bytes(kIoBlock / 4 * 3 + 3);
    auto write = WriteCrt(dest.get(), pszDest, pszContext);
    PumpBlocks(ReadCrt(src.get(), pszSource, ERR_FILE_READ, pszContext),
               [&](const unsigned char* p, size_t n) {
                   write(bytes.data(),
                         decoder.Decode(reinterpret_cast<const char*>(p), n, bytes.data()));
               },
               [&] {
                   decoder.Finish();
                   if (fwrite(decoder.Data(), 1, decoder.Count(), dest.get()) !=
                           (size_t)decoder.Count() ||
                       fclose(dest.release()) != 0)
                       FailWrite(pszDest, pszContext);
               });
}

void CUtil::Base64EncodeBuffer(const BYTE* pData, DWORD cbData, int nLineLength,
                               char* pszOut, DWORD* pcchOut)
{
    if (!pData)
        cbData = 0;
    CBase64Encoder encoder;
    encoder.OpenString(nLineLength);
    for (DWORD i = 0; i < cbData; i++)
        encoder.Put(pData[i]);
    encoder.Finish();
    const std::string& strText = encoder.Text();
    if (!pszOut || !pcchOut || *pcchOut < strText.size() + 1) {
        LogInfo("Error al codificar en base64: el texto no cabe en el buffer");
        Fail(ERR_BASE64_ENCODE, "CUtil::Base64EncodeBuffer");
    }
    memcpy(pszOut, strText.data(), strText.size());
    pszOut[strText.size()] = '\0';
    *pcchOut = (DWORD)strText.size();
}

DWORD CUtil::Base64EncodedSize(DWORD cbData, int nLineLength)
{
    unsigned long long cchText = 4ULL * ((cbData + 2ULL) / 3);
    unsigned long long cBreaks = (nLineLength > 0 && cchText > 0) ? (cchText - 1) / nLineLength : 0;
    return (DWORD)(cchText + cBreaks + 1);
}

DWORD CUtil::WaitWithMessages(DWORD nCount, const HANDLE* pHandles, DWORD* pdwTimeout)
{
    const DWORD dwTimeout = *pdwTimeout;
    const DWORD dwStart = GetTickCount();
    DWORD dwLeft = dwTimeout;
    DWORD dwResult = MsgWaitForMultipleObjects(nCount, pHandles, FALSE, dwLeft, QS_ALLINPUT);
    while (dwResult == WAIT_OBJECT_0 + nCount) {
        MSG msg;
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        if (dwTimeout != INFINITE) {
            DWORD dwElapsed = GetTickCount() - dwStart;
            if (dwElapsed >= dwTimeout) {
                *pdwTimeout = 0;
                return WAIT_TIMEOUT;
            }
            dwLeft = dwTimeout - dwElapsed;
        }
        dwResult = MsgWaitForMultipleObjects(nCount, pHandles, FALSE, dwLeft, QS_ALLINPUT);
    }
    if (dwTimeout != INFINITE) {
        DWORD dwElapsed = GetTickCount() - dwStart;
        *pdwTimeout = (dwResult == WAIT_TIMEOUT || dwElapsed >= dwTimeout) ? 0
                                                                           : dwTimeout - dwElapsed;
    }
    return dwResult;
}
