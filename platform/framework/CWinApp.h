#pragma once
#include <windows.h>

// Minimal stand-in for the framework's application class: the library's load
// and unload hooks and the module handle of the code that carries it.
class CWinApp {
public:
    CWinApp();
    virtual ~CWinApp();
    virtual BOOL InitInstance() { return TRUE; }
    virtual int ExitInstance() { return 0; }

    // The module holding this code and its resources: the DLL, or the executable
    // when the code is linked into one.
    static HINSTANCE GetInstanceHandle();
    static void SetInstanceHandle(HINSTANCE hInstance);

    // A thread that runs the library's code holds a reference on the library, so
    // that a host unloading it without closing it first does not pull the code
    // from under the thread. PinModule takes it (nullptr when the code is linked
    // into the executable); CLibraryThread gives it back.
    static HMODULE PinModule();

private:
    static HINSTANCE m_hInstance;
};
