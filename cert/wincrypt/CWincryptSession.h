#pragma once
#include <windows.h>
#include <wincrypt.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cert/CSession.h"
#include "cert/wincrypt/CWincryptCertStore.h"
#include "cert/wincrypt/WincryptRecords.h"
#include "platform/framework/CCriticalSection.h"

class CHTTPSDlg;
class CWincryptCertificate;

// A user logged in with certificates of the Windows store or a smart card.
// The host's operations run one at a time; GetState, GetSessionData,
// CopyCertificates and Invalidate may come from another thread meanwhile (the interface thread on
// a card removal) and never wait for an operation to end.
class CWincryptSession : public CSession {
public:
    CWincryptSession();
    ~CWincryptSession() override;

    int Open(void* pLoginRequest) override;  // a CS_CAPILOGIN
    void Close() override;
    void Invalidate() override;
    void Reopen() override;
    void GetSessionData(CS_SESSIONINFO* pInfo) override;
    int GetState() override { return m_nState; }
    void GetCertificates(CCertificateArray& lstCertificates) override;
    void CopyCertificates(CCertificateArray& lstCopies) override;
    void SignFile(std::string strIn, std::string strOut, std::string strAlgorithm) override;
    void SignFileC2(std::string strIn, std::string strOut, std::string strAlgorithm) override;
    void SignFileC2BANER(std::string strIn, std::string strOut, std::string strAlgorithm) override;
    CCertStore* GetCertStore() override { return &m_Store; }
    void ExportCertificates(std::string& strPath, int nSelection, std::string& strPassword) override;
    INT_PTR GetSSLHandle() override;
    void ChangePolicyCertificate(std::string strPath) override {}
    bool CanSignStream() override { return true; }
    void SignStream(ESignVariant eVariant, CByteSource* pSource, CByteSink* pSink,
                    std::string strIn, std::string strOut, std::string strAlgorithm) override;

    void AcquireContext();
    static int GetProviderType(const std::string& strProvider);
    HCRYPTPROV GetProvider() const { return m_hProv; }
    // The hidden HTTP/S window, once GetSSLHandle has made it.
    HWND GetHTTPSWindow() const;

    // Digest OID of a signing algorithm name; empty for a name it does not know.
    static std::string DigestOidOfAlgorithm(const std::string& strAlgorithm);

    // Where signings take their signing time (UTC); null for the system's clock.
    // Tests fix it to compare signed files byte for byte.
    typedef void(WINAPI* PFN_CLOCK)(LPSYSTEMTIME);
    static void SetSigningClock(PFN_CLOCK pfnClock);

private:
    CWincryptSession(const CWincryptSession&) = delete;
    CWincryptSession& operator=(const CWincryptSession&) = delete;

    typedef ESignVariant SignVariant;
    void Sign(SignVariant eVariant, const std::string& strIn, const std::string& strOut,
              const std::string& strAlgorithm, const char* pszContext,
              CByteSource* pSource = nullptr, CByteSink* pSink = nullptr);
    // The provider and key spec a variant signs with, starting from the
    // session's provider; may put the certificate's key provider in its place.
    HCRYPTPROV ChooseSigningKey(SignVariant eVariant, HCRYPTPROV hSessionProv,
                                const char* pszContext, DWORD& dwKeySpec);
    static bool ReadSlices(CByteSource& source, const std::function<bool(const BYTE*, DWORD)>& fn,
                           DWORD& dwError);
    void ReleaseProvider();
    void DeleteCertificates();
    static void SetProviderWindow();
    // The key provider for an operation, acquired when there is none; until
    // EndProviderUse an invalidation leaves it to the operation to release.
    HCRYPTPROV BeginProviderUse();
    void EndProviderUse();
    // Puts hProv in place of the session's provider and releases the old one.
    void ReplaceProvider(HCRYPTPROV hProv);

    volatile LONG m_nState;
    // Guards the certificates against GetSessionData while they are replaced
    // or deleted.
    CCriticalSection m_csData;
    // Guards m_hProv and m_bProviderInUse; never held across a provider call.
    CCriticalSection m_csProvider;
    bool m_bProviderInUse = false;
    std::vector<CWincryptCertificate*> m_lstCertificates;
    CWincryptCertificate* m_pSignCertificate = nullptr;
    CWincryptCertificate* m_pAuthCertificate = nullptr;
    CWincryptCertStore m_Store;
    HCRYPTPROV m_hProv = 0;
    CS_CARDINFO m_CardInfo;
    std::unique_ptr<CHTTPSDlg> m_pHTTPSDlg;
    static PFN_CLOCK s_pfnClock;
};
