#pragma once
#include <string>

#include "app/SignInfo.h"

class CHostSettings;
class CPkcs7Reader;

// The check of a signed file: its layers (Base64, the signed message,
// compression) undone into the destination, each signer reported in the log
// and the file accepted only when a trusted signer is one of the accepted
// names. Needs no session; the caller holds the platform's CryptoAPI table
// loaded for the whole check.
class CSignedFileChecker {
public:
    // nEnvironment picks the issuer lists of the configured environment.
    CSignedFileChecker(const CHostSettings& settings, int nEnvironment);

    // The whole check; throws on any refusal, leaving no temporary file.
    void Check(const std::string& strSource, const std::string& strDestination, int bBase64,
               int bDecompress);
    // Decodes the signed message of strIn into strOut, streaming, and checks its
    // signers into lstSigners (one record per signer that passed).
    void Decode(const std::string& strIn, const std::string& strOut, CSignInfoList& lstSigners);
    // The per-signer report over a completely decoded message.
    void Report(const CPkcs7Reader& message, CSignInfoList& lstSigners);

private:
    const CHostSettings& m_settings;
    int m_nEnvironment;
};
