#pragma once
#include <windows.h>
#include <wincrypt.h>
#include <gtest/gtest.h>
#include <functional>
#include <string>
#include "https/CHTTPSDlg.h"
#include "tests/fixtures/pki/TestPki.h"
#include "tests/support/TestFiles.h"

// Every test writes the library's log to a file of its own and reads it back.
class HttpsTest : public ::testing::Test {
protected:
    std::string ReadLog() const { return m_log.Text(); }

    tvltest::LogCapture m_log{"https"};
};

// A hidden dialog made for each test, as a session makes it.
class CHTTPSTest : public HttpsTest {
protected:
    void SetUp() override;

    // The session's sequence: store, subject, handle.
    INT_PTR Handle(const std::string& strStore, const char* pszSubject);

    CHTTPSDlg m_Dlg;
};

// Runs fn and checks that it throws the library's ERR_SSL_OBJECT with pszContext.
void ExpectSslObjectError(const std::function<void()>& fn, const char* pszContext);

const TestPkiCert& PkiCert(const char* pszName);
// "PFX\<pki dir>/pfx/<name>.pfx*<password>"
std::string PfxStoreText(const char* pszName, const char* pszPassword);
// The handle the component returned, as the certificate context it is.
PCCERT_CONTEXT AsCertificate(INT_PTR nHandle);
// "AB:CD:..." SHA-1 of the certificate, as the index writes it; empty on failure.
std::string Thumbprint(PCCERT_CONTEXT pCert);
bool HasKeyProvider(PCCERT_CONTEXT pCert);
