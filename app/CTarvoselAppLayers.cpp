// The signing pipeline with its layers running side by side: compression on a
// thread of its own, the signing on the host's thread (where the provider may
// ask for the PIN), Base64 on a third thread, connected by pipes of fixed
// blocks instead of files. Everything the host and the log see is what the
// layers one after the other give: the same bytes, the same log lines in the
// same order, the same failure (that of the first layer that fails), the
// destination untouched until the signature is made, the same temporary names.
#include "app/CTarvoselApp.h"

#include "api/CLog.h"
#include "api/CTarvoselException.h"
#include "api/ResultCodes.h"
#include "cert/CSession.h"
#include "host/CHostSettings.h"
#include "platform/framework/CLibraryThread.h"
#include "util/CBase64Encoder.h"
#include "util/CBlockPipe.h"
#include "util/CUtil.h"

namespace {

// A failure that cut a pipe short; the reader fails with it.
const DWORD kCutShort = ERROR_OPERATION_ABORTED;

// The compression layer: the source into the pipe, ZipFile's lines in the log.
struct CCompressStage {
    std::string strSource, strTemp;
    CBlockPipe pipe;
    HANDLE hCreated = nullptr;  // set once the temporary file exists
    CTarvoselException* pError = nullptr;
    CLibraryThread thread;

    static DWORD Run(void* pParam)
    {
        CCompressStage* p = static_cast<CCompressStage*>(pParam);
        try {
            CUtil::ZipFileTo(p->strSource.c_str(), p->strTemp.c_str(), p->pipe,
                             [p] { SetEvent(p->hCreated); });
            LogInfo("...OK");
            p->pipe.Close(0);
        } catch (CTarvoselException* e) {
            p->pError = e;
            p->pipe.Close(kCutShort);
        }
        return 0;
    }
};

// The Base64 layer: the signed message from the pipe into the text of a
// temporary file, opened when the first bytes come (the signing has made the
// file by then). A failure leaves it taking what comes, so that the signing
// runs to its end as it would have.
struct CBase64Stage {
    std::string strTemp;
    CBlockPipe pipe;
    bool bFailed = false;
    CLibraryThread thread;

    static DWORD Run(void* pParam)
    {
        CBase64Stage* p = static_cast<CBase64Stage*>(pParam);
        CBase64Encoder encoder;
        std::vector<uint8_t> block(CBlockPipe::BLOCK_SIZE);
        bool bOpen = false, bEnded = false;
        while (!bEnded) {
            size_t nRead = 0;
            DWORD dwError = 0;
            if (!p->pipe.Read(block.data(), block.size(), nRead, dwError)) {
                p->bFailed = true;  // the signing failed: it reports
                break;
            }
            bEnded = nRead < block.size();
            if (p->bFailed || nRead == 0)
                continue;
            if (!bOpen) {
                bOpen = true;
                p->bFailed = !encoder.OpenFile(p->strTemp.c_str(), 0);
                if (p->bFailed)
                    continue;
            }
            encoder.Put(block.data(), nRead);
            p->bFailed = !encoder.Good();
        }
        if (!p->bFailed && bOpen)
            p->bFailed = !encoder.Finish();
        if (!bEnded)
            p->pipe.Drain();
        return 0;
    }
};

// Ends whatever still runs when the attempt leaves, whatever the way out.
struct CStagesGuard {
    CCompressStage* pCompress;
    CBase64Stage* pBase64;
    ~CStagesGuard()
    {
        if (pBase64 != nullptr && pBase64->thread.IsStarted()) {
            pBase64->pipe.Close(kCutShort);
            pBase64->thread.Wait(INFINITE);
        }
        if (pCompress != nullptr && pCompress->thread.IsStarted()) {
            pCompress->pipe.Drain();
            pCompress->thread.Wait(INFINITE);
        }
        CLog::ReleaseThread(GetCurrentThreadId(), false);
    }
};

}  // namespace

void CTarvoselApp::SignLayersTogether(CSession& session, CSession::ESignVariant eVariant,
                                      const std::string& strSource,
                                      const std::string& strDestination,
                                      const std::string& strAlgorithm, int bCompress,
                                      std::string& strInputTemp, std::string& strOutputTemp,
                                      const std::function<void()>& fnSigned)
{
    const char* pszContext = "CTarvoselApp::SignFile";
    std::unique_ptr<CCompressStage> pCompress;
    std::unique_ptr<CBase64Stage> pBase64(new CBase64Stage);
    CStagesGuard guard = {nullptr, nullptr};
    std::string strIn = strSource;
    if (bCompress) {
        pCompress.reset(new CCompressStage);
        pCompress->strSource = strSource;
        pCompress->strTemp = strInputTemp = m_settings.MakeTempFileName("tmp");
        pCompress->hCreated = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        if (pCompress->hCreated == nullptr)
            throw new CTarvoselException(EXC_WINDOWS, GetLastError(), pszContext);
        LogInfo("Comprimiendo fichero en '%s'...", strInputTemp.c_str());
        DWORD dwError = pCompress->thread.Start(CCompressStage::Run, pCompress.get(),
                                                CWinApp::PinModule());
        if (dwError != 0) {
            CloseHandle(pCompress->hCreated);
            throw new CTarvoselException(EXC_WINDOWS, dwError, pszContext);
        }
        guard.pCompress = pCompress.get();
        // The next temporary name must see this one taken: wait until the
        // compression has made its file, or has failed without it.
        HANDLE ahWait[2] = {pCompress->hCreated, pCompress->thread.GetHandle()};
        WaitForMultipleObjects(2, ahWait, FALSE, INFINITE);
        CloseHandle(pCompress->hCreated);
        pCompress->hCreated = nullptr;
        if (pCompress->thread.Wait(0) && pCompress->pError != nullptr) {
            CTarvoselException* e = pCompress->pError;
            pCompress->pError = nullptr;
            throw e;
        }
        strIn = strInputTemp;
        // The signing's lines come after the compression's, as they would.
        CLog::HoldThread(GetCurrentThreadId());
    }
    pBase64->strTemp = strOutputTemp = m_settings.MakeTempFileName("tmp");
    DWORD dwError = pBase64->thread.Start(CBase64Stage::Run, pBase64.get(), CWinApp::PinModule());
    if (dwError != 0)
        throw new CTarvoselException(EXC_WINDOWS, dwError, pszContext);
    guard.pBase64 = pBase64.get();

    CTarvoselException* pSignError = nullptr;
    try {
        session.SignStream(eVariant, pCompress ? &pCompress->pipe : nullptr, &pBase64->pipe, strIn,
                           strOutputTemp, strAlgorithm);
    } catch (CTarvoselException* e) {
        pSignError = e;
    }
    pBase64->pipe.Close(pSignError != nullptr ? kCutShort : 0);
    pBase64->thread.Wait(INFINITE);
    guard.pBase64 = nullptr;
    if (pCompress) {
        // A signing that stopped early leaves the compression to finish, as it
        // would have before the signing began.
        pCompress->pipe.Drain();
        pCompress->thread.Wait(INFINITE);
        guard.pCompress = nullptr;
        if (pCompress->pError != nullptr) {
            CLog::ReleaseThread(GetCurrentThreadId(), false);
            delete pSignError;
            CTarvoselException* e = pCompress->pError;
            pCompress->pError = nullptr;
            throw e;
        }
        CLog::ReleaseThread(GetCurrentThreadId(), true);
    }
    if (pSignError != nullptr)
        throw pSignError;
    fnSigned();

    LogInfo("Codificando (base64) fichero en '%s'...", strDestination.c_str());
    if (pBase64->bFailed) {
        // The text could not be written: as when the destination cannot be.
        LogInfo("Error al escribir en fichero '%s'", strDestination.c_str());
        throw new CTarvoselException(EXC_OWN, ERR_FILE_WRITE, "CUtil::Base64EncodeFile");
    }
    CUtil::Base64WriteText(strOutputTemp.c_str(), strDestination.c_str());
    DeleteFileA(strOutputTemp.c_str());
    strOutputTemp.clear();
    LogInfo("...OK");
}
