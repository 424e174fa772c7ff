#pragma once
#include <windows.h>

#include <functional>

class CByteSink;

// File and buffer transformations around the signing pipeline, and a wait that
// keeps the calling thread's window messages flowing. Failures are thrown as
// CTarvoselException (kind Own) named "CUtil::<function>". Paths are ANSI texts.
class CUtil {
public:
    // gzip file compression; a half-written destination is deleted on failure.
    static void ZipFile(const char* pszSource, const char* pszDest);
    // ZipFile, with the checks, log lines and failures of ZipFile, but the
    // compressed bytes (the same bytes) go to sink; pszDest is only created,
    // empty, and deleted on failure. fnCreated, when given, is called once
    // pszDest exists, before the compression starts.
    static void ZipFileTo(const char* pszSource, const char* pszDest, CByteSink& sink,
                          const std::function<void()>& fnCreated = nullptr);
    // gzip decompression; data that is not gzip is copied unchanged.
    static void UnzipFile(const char* pszSource, const char* pszDest);
    // One-shot zlib stream; *pcbDest is the capacity in and the length out.
    static void UnzipBuffer(BYTE* pDest, unsigned long* pcbDest, const BYTE* pSrc,
                            unsigned long cbSrc);

    // Base64 as one line without a line end.
    static void Base64EncodeFile(const char* pszSource, const char* pszDest);
    // The last step of Base64EncodeFile for a text already encoded into
    // pszText: the text into pszDest, with Base64EncodeFile's failures.
    static void Base64WriteText(const char* pszText, const char* pszDest);
    // Skips anything outside the Base64 alphabet.
    static void Base64DecodeFile(const char* pszSource, const char* pszDest);
    // Zero-terminated Base64 text in pszOut, lines of nLineLength characters
    // separated by LF (no breaks when 0 or less). *pcchOut is the size of pszOut
    // in (size it with Base64EncodedSize) and the text's length without the zero
    // out. A buffer too small is left untouched: ERR_BASE64_ENCODE.
    static void Base64EncodeBuffer(const BYTE* pData, DWORD cbData, int nLineLength,
                                   char* pszOut, DWORD* pcchOut);
    // Characters Base64EncodeBuffer writes, the terminating zero included.
    static DWORD Base64EncodedSize(DWORD cbData, int nLineLength);

    // Waits for any of the handles while dispatching the thread's messages.
    // *pdwTimeout is the time-out in and the time left out.
    static DWORD WaitWithMessages(DWORD nCount, const HANDLE* pHandles, DWORD* pdwTimeout);

    // True when both paths name one existing file (links and spellings included);
    // the first is opened only when the second exists.
    static bool IsSameFile(const char* pszPath1, const char* pszPath2);
    // Logs and throws nCode for a destination that is the source itself: creating
    // it would empty the source before it is read.
    [[noreturn]] static void ThrowSameFile(const char* pszDest, int nCode, const char* pszContext);

private:
    CUtil();
};
