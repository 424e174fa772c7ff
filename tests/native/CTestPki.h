// Throwaway keys and certificates made with the openssl command line once per
// test run: a CA and two RSA-2048 signers issued by it. The directory is
// removed at exit.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class CTestPki {
public:
    static CTestPki& Get();
    ~CTestPki();

    const std::string& Dir() const { return m_strDir; }
    std::string Path(const std::string& name) const { return m_strDir + "/" + name; }
    // Signer 1 or 2: certificate (PEM, DER bytes) and key (PEM).
    std::string CertPem(int n) const { return Path("ee" + std::to_string(n) + ".pem"); }
    std::string KeyPem(int n) const { return Path("ee" + std::to_string(n) + ".key"); }
    const std::vector<uint8_t>& CertDer(int n) const { return n == 1 ? m_cert1 : m_cert2; }
    std::string CaPem() const { return Path("ca.pem"); }

    // Runs "openssl ARGS" with output to the log file; returns the exit status.
    int OpenSsl(const std::string& args) const;

    static std::vector<uint8_t> ReadFile(const std::string& path);
    static bool WriteFile(const std::string& path, const std::vector<uint8_t>& data);

private:
    CTestPki();
    bool m_bOk = false;
    std::string m_strDir;
    std::vector<uint8_t> m_cert1;
    std::vector<uint8_t> m_cert2;
};
