/*
 * tarvosel.h: the interface of tarvosel.dll for host programs, in C or C++,
 * for 32-bit and 64-bit hosts alike. This header needs nothing but the
 * Windows headers.
 *
 * Texts are 8-bit Windows-1252. Every function returns 0 or a result code
 * (negative); DescripcionError gives a code's Spanish text. ObtenerHandleSSL
 * returns the certificate context (PCCERT_CONTEXT) of the session's
 * authentication certificate as a pointer-sized value, or a result code.
 *
 * Exported names: a 32-bit DLL exports the decorated __stdcall names
 * ("_Inicializar@4"), a 64-bit DLL the plain ones ("Inicializar").
 * TVL_EXPORT_NAME gives the right one for GetProcAddress.
 */
#ifndef TARVOSEL_H
#define TARVOSEL_H

#include <windows.h>
#include <oleauto.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The record a host passes to Login and InfoSesion; the host owns it and
 * every buffer it points to. */
typedef struct CS_LOGINDATA {
    int nType;
    char* pszIssuer;
    char* pszIniFile;
    char* pszName;
    char* pszNIF;
    char* pszDetail;
    int bOnline;
} CS_LOGINDATA;

int __stdcall Inicializar(int nFlags);
int __stdcall Finalizar(void);
int __stdcall Login(CS_LOGINDATA* pData);
int __stdcall Logout(void);
int __stdcall UsuarioValidado(void);
int __stdcall InfoSesion(CS_LOGINDATA* pData);
int __stdcall FirmarFichero(const char* pszSource, const char* pszDestination, int bBase64,
                            int bCompress);
int __stdcall ComprobarFirmaFichero(const char* pszSource, const char* pszDestination,
                                    int bBase64, int bDecompress);
int __stdcall ExportarCertificado(const char* pszPolicyPath, char* pszExportedPath,
                                  char* pszPassword);
INT_PTR __stdcall ObtenerHandleSSL(const char* pszPolicyPath);
int __stdcall ObtenerUltimoError(void);
BSTR __stdcall DescripcionError(int nCode);
int __stdcall AsignarRutaLog(const char* pszPath);
int __stdcall AsignarDirectorioTemp(const char* pszDirectory);

/* For hosts that load the library with LoadLibrary. */
typedef int(__stdcall* PFN_TVL_INT)(int);
typedef int(__stdcall* PFN_TVL_VOID)(void);
typedef int(__stdcall* PFN_TVL_LOGINDATA)(CS_LOGINDATA*);
typedef int(__stdcall* PFN_TVL_FILES)(const char*, const char*, int, int);
typedef int(__stdcall* PFN_TVL_EXPORT)(const char*, char*, char*);
typedef INT_PTR(__stdcall* PFN_TVL_SSL)(const char*);
typedef int(__stdcall* PFN_TVL_TEXT)(const char*);
typedef BSTR(__stdcall* PFN_TVL_DESCRIPTION)(int);

/* TVL_EXPORT_NAME(Inicializar, 4): the exported name of a function whose
 * arguments take 4 bytes on a 32-bit host. */
#ifdef _WIN64
#define TVL_EXPORT_NAME(name, argbytes) #name
#else
#define TVL_EXPORT_NAME(name, argbytes) "_" #name "@" #argbytes
#endif

#ifdef __cplusplus
}
#endif

#endif /* TARVOSEL_H */
