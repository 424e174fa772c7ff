#pragma once
#include <string>

#include "cert/CCertificateCopy.h"
#include "cert/CertTypes.h"

class CByteSink;
class CByteSource;
class CCertStore;

// One logged-in user, whatever back-end holds the identity.
class CSession {
public:
    virtual ~CSession() {}
    virtual int Open(void* pLoginRequest) = 0;
    virtual void Close() = 0;
    virtual void Invalidate() = 0;
    virtual void Reopen() = 0;
    virtual void GetSessionData(CS_SESSIONINFO* pInfo) = 0;
    virtual int GetState() = 0;
    // Empties the list and appends the session's own certificates (lent: valid
    // until the session closes or reopens).
    virtual void GetCertificates(CCertificateArray& lstCertificates) = 0;
    // Appends copies of the session's own certificates, which the caller
    // deletes. Unlike GetCertificates it may be called from any thread while
    // the host's operations run: a back-end whose certificates change under
    // its operations copies them under the lock that guards them.
    virtual void CopyCertificates(CCertificateArray& lstCopies)
    {
        CCertificateArray lstOwn;
        GetCertificates(lstOwn);
        CCertificateCopy::CopyList(lstOwn, lstCopies);
    }
    virtual void SignFile(std::string strIn, std::string strOut, std::string strAlgorithm) = 0;
    virtual void SignFileC2(std::string strIn, std::string strOut, std::string strAlgorithm) = 0;
    virtual void SignFileC2BANER(std::string strIn, std::string strOut,
                                 std::string strAlgorithm) = 0;
    virtual CCertStore* GetCertStore() = 0;
    virtual void ExportCertificates(std::string& strPath, int nSelection,
                                    std::string& strPassword) = 0;
    virtual INT_PTR GetSSLHandle() = 0;
    virtual void ChangePolicyCertificate(std::string strPath) = 0;

    // How a signing is made: as SignFile, SignFileC2 or SignFileC2BANER.
    enum ESignVariant { SIGN_CERT_KEY = 0, SIGN_SESSION_KEY = 1, SIGN_SESSION_KEY_BANER = 2 };

    // Whether SignStream works: signs as the variant's file signing does, but
    // reads the bytes from pSource (or the file strIn when null) and hands the
    // signed message to pSink instead of writing it into strOut, which is only
    // created, empty, and named in the log.
    virtual bool CanSignStream() { return false; }
    virtual void SignStream(ESignVariant eVariant, CByteSource* pSource, CByteSink* pSink,
                            std::string strIn, std::string strOut, std::string strAlgorithm)
    {
    }
};
