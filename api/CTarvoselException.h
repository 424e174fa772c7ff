#pragma once
#include <stdint.h>
#include <string>

enum ExceptionKind {
    EXC_OWN = 0,      // value is a result code
    EXC_ENTRUST = 1,  // value is the toolkit's 16-bit return code
    EXC_WINDOWS = 2   // value is a Windows error number or HRESULT
};

// The library's only failure type. Created with new and thrown by pointer:
//   throw new CTarvoselException(EXC_WINDOWS, GetLastError(), "CFoo::Bar");
// A handler that handles it deletes it; a cleanup-only handler rethrows the pointer.
class CTarvoselException {
public:
    CTarvoselException(int nKind, long nValue, const char* pszContext);
    virtual ~CTarvoselException() {}

    int GetResultCode() const { return m_nCode; }
    int GetKind() const { return m_nKind; }
    // Own: result code; Entrust: toolkit code sign-extended; Windows: error number.
    long GetSubCode() const;
    const std::string& GetContext() const { return m_strContext; }
    // One line for the log; never throws.
    std::string GetDescription() const;

    static int ResultFromEntrust(int16_t nEntrust);
    static int ResultFromWindows(uint32_t dwError);

private:
    std::string m_strContext;
    int m_nKind;
    int m_nCode;
    int16_t m_nEntrustCode;
    uint32_t m_dwWindowsCode;
};

// True when a toolkit return code must be thrown as a failure.
bool IsEntrustFailure(int16_t nCode);
