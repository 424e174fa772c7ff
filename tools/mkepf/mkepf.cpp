// Makes and shows profiles of the profile toolkit (test material, or a
// person's own key and certificate in a profile).
//
//   mkepf make OUT.epf PASSWORD [--iterations N]
//         --pair KEY CERT [signing|encryption] ... [--cert CERT] ...
//   mkepf show PROFILE PASSWORD
//
// Keys and certificates are PEM or DER files. A pair without a role gets its
// role from the certificate's key usage; --cert adds a certificate without a
// key (the issuer's). "show" opens the profile offline and prints what the
// toolkit reads from it.
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "platform/entrust/EntFile.h"
#include "platform/entrust/EntProfile.h"
#include "platform/pkcs12/CCryptoPrimitives.h"
#include "platform/pkcs12/CPkcs12Writer.h"

namespace {
std::vector<uint8_t> ReadFileBytes(const char* pszPath)
{
    std::ifstream f(pszPath, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

std::wstring Wide(const char* psz)
{
    std::wstring str;
    int n = MultiByteToWideChar(CP_ACP, 0, psz, -1, nullptr, 0);
    if (n > 1) {
        str.resize(n - 1);
        MultiByteToWideChar(CP_ACP, 0, psz, -1, &str[0], n);
    }
    return str;
}

bool LoadKey(const char* pszPath, CRsaPrivateKey& key)
{
    std::vector<uint8_t> data = ReadFileBytes(pszPath);
    if (!data.empty() && data[0] == 0x30)
        return key.Parse(data.data(), data.size());
    for (const char* pszLabel : {"PRIVATE KEY", "RSA PRIVATE KEY"}) {
        std::vector<std::vector<uint8_t>> blocks = EntX509::PemBlocks(data.data(), data.size(), pszLabel);
        if (!blocks.empty())
            return key.Parse(blocks[0].data(), blocks[0].size());
    }
    return false;
}

int Usage()
{
    fprintf(stderr,
            "usage: mkepf make OUT.epf PASSWORD [--iterations N] --pair KEY CERT [signing|encryption]"
            " ... [--cert CERT] ...\n       mkepf show PROFILE PASSWORD\n");
    return 2;
}

int Make(int argc, char** argv)
{
    if (argc < 4)
        return Usage();
    const char* pszOut = argv[2];
    const char* pszPassword = argv[3];
    unsigned nIterations = 2048;
    std::vector<std::unique_ptr<EntProfile::CKeyPair>> pairs;
    std::vector<std::shared_ptr<const EntX509>> others;
    for (int i = 4; i < argc; ++i) {
        std::string strArg = argv[i];
        if (strArg == "--iterations" && i + 1 < argc) {
            nIterations = static_cast<unsigned>(atoi(argv[++i]));
        } else if (strArg == "--pair" && i + 2 < argc) {
            std::unique_ptr<EntProfile::CKeyPair> pPair(new EntProfile::CKeyPair());
            if (!LoadKey(argv[i + 1], pPair->key)) {
                fprintf(stderr, "mkepf: no RSA private key in %s\n", argv[i + 1]);
                return 1;
            }
            std::vector<uint8_t> cert = ReadFileBytes(argv[i + 2]);
            pPair->pCert = EntX509::Parse(cert.data(), cert.size());
            if (!pPair->pCert || pPair->pCert->Modulus() != pPair->key.Modulus()) {
                fprintf(stderr, "mkepf: %s is no certificate of the key %s\n", argv[i + 2], argv[i + 1]);
                return 1;
            }
            i += 2;
            if (i + 1 < argc && (strcmp(argv[i + 1], "signing") == 0 ||
                                 strcmp(argv[i + 1], "encryption") == 0))
                pPair->strFriendlyName = Wide(argv[++i]);
            pairs.push_back(std::move(pPair));
        } else if (strArg == "--cert" && i + 1 < argc) {
            std::vector<uint8_t> cert = ReadFileBytes(argv[++i]);
            std::shared_ptr<const EntX509> pCert = EntX509::Parse(cert.data(), cert.size());
            if (!pCert) {
                fprintf(stderr, "mkepf: no certificate in %s\n", argv[i]);
                return 1;
            }
            others.push_back(pCert);
        } else {
            return Usage();
        }
    }
    if (pairs.empty())
        return Usage();
    CCryptoPrimitives crypto;
    std::vector<const EntProfile::CKeyPair*> pointers;
    for (const auto& p : pairs)
        pointers.push_back(p.get());
    std::vector<CPkcs12Bag> bags;
    std::vector<uint8_t> pfx;
    CPkcs12Writer writer(crypto);
    // Only the toolkit reads profiles: the AES form, as OpenSSL makes them today.
    if (!EntProfile::MakeBags(pointers, others, crypto, bags) ||
        writer.Write(bags, Wide(pszPassword), nIterations, pfx, CPkcs12Writer::FORMAT_AES) !=
            EPkcs12Error::Ok) {
        fprintf(stderr, "mkepf: cannot make the profile (error 0x%08lX)\n", crypto.GetError());
        return 1;
    }
    EntProfile::WipeBags(bags);
    std::ofstream out(pszOut, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(pfx.data()), static_cast<std::streamsize>(pfx.size()));
    out.close();
    if (out.fail()) {
        fprintf(stderr, "mkepf: cannot write %s\n", pszOut);
        return 1;
    }
    printf("%s\n", pszOut);
    return 0;
}

void ShowCertificate(const char* pszRole, EntCertificate& cert)
{
    GString strSubject, strIssuer;
    EntTime tFrom = 0, tTo = 0, tKeyEnd = 0;
    cert.GetSubject(strSubject);
    cert.GetIssuer(strIssuer);
    cert.GetValidity(tFrom, tTo);
    cert.GetPrivateKeyEndValidity(tKeyEnd);
    printf("%s: %s\n  issuer: %s\n  valid: %lld to %lld, key end %lld\n", pszRole,
           strSubject.c_str(), strIssuer.c_str(), static_cast<long long>(tFrom),
           static_cast<long long>(tTo), static_cast<long long>(tKeyEnd));
}

int Show(int argc, char** argv)
{
    if (argc != 4)
        return Usage();
    // An empty initialisation file: offline anyway.
    char szTemp[MAX_PATH], szIni[MAX_PATH];
    GetTempPathA(MAX_PATH, szTemp);
    GetTempFileNameA(szTemp, "epf", 0, szIni);
    EntFile file(argv[2], argv[3], szIni, 1);
    short nCode = file.GetConstructorError();
    DeleteFileA(szIni);
    const char* pszText = EntLogToString(nCode);
    printf("open: %d%s%s\n", nCode, pszText != nullptr ? " " : "", pszText != nullptr ? pszText : "");
    if (nCode < 0)
        return 1;
    EntCertificate signing, encryption, issuer;
    file.GetUserVerificationCertificate(signing);
    file.GetUserEncryptionCertificate(encryption);
    ShowCertificate("signing", signing);
    ShowCertificate("encryption", encryption);
    if (file.GetIssuerVerificationCertificate(issuer) == ENT_OK)
        ShowCertificate("issuer", issuer);
    short nDays = 0;
    nCode = file.GetPolicyCertificateInformation(POLICY_INFO_DAYS_LEFT, nDays);
    if (nCode == ENT_OK)
        printf("policy: %d days left\n", nDays);
    else
        printf("policy: %d %s\n", nCode, EntLogToString(nCode));
    return 0;
}
}  // namespace

int main(int argc, char** argv)
{
    if (argc >= 2 && strcmp(argv[1], "make") == 0)
        return Make(argc, argv);
    if (argc >= 2 && strcmp(argv[1], "show") == 0)
        return Show(argc, argv);
    return Usage();
}
