#pragma once
// Outputs of the signing and checking pipelines kept in tests/fixtures/pinned:
// a change that alters one byte of a signed, compressed or Base64 file, or a
// line of the log, fails the comparison. A test run never writes them: an
// output that differs is kept in pinned-actual beside the test executable, and
// tests/fixtures/pinned/regenerate.sh copies those over the pinned ones (only
// on purpose: the point is that they do not change).
#include <windows.h>

#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "tests/support/TestFiles.h"

#ifndef TVL_PINNED_DIR
#error "TVL_PINNED_DIR must name tests/fixtures/pinned"
#endif

namespace tvltest {

inline std::string PinnedPath(const std::string& strName)
{
    return std::string(TVL_PINNED_DIR) + "\\" + strName;
}

// The pinned file's bytes. When strActual differs from them it is kept as
// pinned-actual\strName beside the executable, for the regenerating script.
inline std::string Pinned(const std::string& strName, const std::string& strActual)
{
    bool bOpened = false;
    std::string strPinned = ReadAll(PinnedPath(strName), &bOpened);
    if (!bOpened || strPinned != strActual) {
        const std::string strFolder = ExeFolder() + "pinned-actual";
        CreateDirectoryA(strFolder.c_str(), nullptr);
        WriteAll(strFolder + "\\" + strName, strActual);
    }
    return strPinned;
}

// A document of nSize bytes that is the same on every run: text lines, some of
// them with runs of noise, so that it compresses as a real mixed document does
// (several deflate blocks, literals and matches) and holds every byte value.
inline std::string PinnedDocument(size_t nSize)
{
    static const char* const kWords[] = {"firma", "documento", "certificado", "fichero",
                                         "tarjeta", "entorno", "l\xEDnea",  "a\xF1o"};
    std::string s;
    s.reserve(nSize + 128);
    uint32_t x = 20250615u;
    auto next = [&x] {
        x = x * 1103515245u + 12345u;
        return x >> 16;
    };
    for (unsigned nLine = 0; s.size() < nSize; ++nLine) {
        s += std::to_string(nLine) + ": ";
        for (unsigned i = next() % 12; i > 0; --i) {
            s += kWords[next() % 8];
            s += ' ';
        }
        if (next() % 5 == 0) {
            for (unsigned i = next() % 200; i > 0; --i)
                s += static_cast<char>(next() & 0xFF);
        }
        s += "\r\n";
    }
    s.resize(nSize);
    return s;
}

// Log messages (without the time) with the scratch folders written as names,
// one per line, for comparing with a pinned log.
inline std::string PinnedLogText(const std::vector<std::string>& lines,
                                 const std::vector<std::pair<std::string, std::string>>& names)
{
    std::string strText;
    for (std::string strLine : lines) {
        for (const auto& name : names) {
            for (size_t n = strLine.find(name.first); n != std::string::npos;
                 n = strLine.find(name.first, n + name.second.size()))
                strLine.replace(n, name.first.size(), name.second);
        }
        strText += strLine + "\n";
    }
    return strText;
}

// Plain Base64 (one line, "=" padding), apart from the library's codec.
inline std::string EncodeBase64(const std::string& strData)
{
    static const char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string s;
    for (size_t i = 0; i < strData.size(); i += 3) {
        uint32_t n = static_cast<uint8_t>(strData[i]) << 16;
        if (i + 1 < strData.size())
            n |= static_cast<uint8_t>(strData[i + 1]) << 8;
        if (i + 2 < strData.size())
            n |= static_cast<uint8_t>(strData[i + 2]);
        s += kAlphabet[n >> 18];
        s += kAlphabet[(n >> 12) & 63];
        s += i + 1 < strData.size() ? kAlphabet[(n >> 6) & 63] : '=';
        s += i + 2 < strData.size() ? kAlphabet[n & 63] : '=';
    }
    return s;
}

inline std::string DecodeBase64(const std::string& strText)
{
    static const char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string s;
    uint32_t n = 0;
    int nBits = 0;
    for (char ch : strText) {
        const char* p = ch != '\0' ? strchr(kAlphabet, ch) : nullptr;
        if (p == nullptr)
            continue;
        n = (n << 6) | static_cast<uint32_t>(p - kAlphabet);
        nBits += 6;
        if (nBits >= 8) {
            nBits -= 8;
            s += static_cast<char>((n >> nBits) & 0xFF);
        }
    }
    return s;
}

}  // namespace tvltest
