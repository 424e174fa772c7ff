#include "CTestPki.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace {

const char CONFIG[] =
    "[req]\n"
    "distinguished_name = dn\n"
    "[dn]\n"
    "[ca_ext]\n"
    "basicConstraints = critical,CA:TRUE\n"
    "keyUsage = critical,keyCertSign,cRLSign\n"
    "subjectKeyIdentifier = hash\n"
    "[ee_ext]\n"
    "basicConstraints = CA:FALSE\n"
    "keyUsage = critical,digitalSignature,nonRepudiation\n"
    "subjectKeyIdentifier = hash\n"
    "authorityKeyIdentifier = keyid\n";

}  // namespace

CTestPki& CTestPki::Get()
{
    static CTestPki pki;
    if (!pki.m_bOk)
        throw std::runtime_error("test certificates could not be made; see " +
                                 pki.Path("openssl.log"));
    return pki;
}

CTestPki::CTestPki()
{
    const char* pszTmp = getenv("TMPDIR");
    std::string strTemplate = std::string(pszTmp && *pszTmp ? pszTmp : "/tmp") + "/tvlpkcs7.XXXXXX";
    if (!mkdtemp(&strTemplate[0]))
        return;
    m_strDir = strTemplate;
    std::ofstream(Path("openssl.cnf")) << CONFIG;
    std::string cnf = " -config " + Path("openssl.cnf");
    bool ok = OpenSsl("req -x509 -new" + cnf +
                      " -extensions ca_ext -newkey rsa:2048 -nodes -keyout " + Path("ca.key") +
                      " -out " + CaPem() + " -subj /CN=Tarvosel-Test-CA -days 3650") == 0;
    for (int n = 1; ok && n <= 2; ++n) {
        std::string base = Path("ee" + std::to_string(n));
        ok = OpenSsl("req -new" + cnf + " -newkey rsa:2048 -nodes -keyout " + KeyPem(n) + " -out " +
                     base + ".csr -subj /CN=Signer-" + std::to_string(n)) == 0 &&
             OpenSsl("x509 -req -in " + base + ".csr -CA " + CaPem() + " -CAkey " + Path("ca.key") +
                     " -set_serial 0x100" + std::to_string(n) + " -days 3650 -extfile " +
                     Path("openssl.cnf") + " -extensions ee_ext -out " + CertPem(n)) == 0 &&
             OpenSsl("x509 -in " + CertPem(n) + " -outform DER -out " + base + ".der") == 0;
    }
    if (ok) {
        m_cert1 = ReadFile(Path("ee1.der"));
        m_cert2 = ReadFile(Path("ee2.der"));
        m_bOk = !m_cert1.empty() && !m_cert2.empty();
    }
}

CTestPki::~CTestPki()
{
    if (!m_strDir.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(m_strDir, ec);
    }
}

int CTestPki::OpenSsl(const std::string& args) const
{
    std::string cmd =
        std::string(TVL_OPENSSL_CLI) + " " + args + " >>" + Path("openssl.log") + " 2>&1";
    int rc = std::system(cmd.c_str());
    return rc == -1 ? -1 : WEXITSTATUS(rc);
}

std::vector<uint8_t> CTestPki::ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in),
                                std::istreambuf_iterator<char>());
}

bool CTestPki::WriteFile(const std::string& path, const std::vector<uint8_t>& data)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()),
              static_cast<std::streamsize>(data.size()));
    return static_cast<bool>(out);
}
