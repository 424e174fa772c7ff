#pragma once
#include <windows.h>
#include <oleauto.h>

// The record a host passes to Login and InfoSesion; the host owns it and every
// buffer it points to.
struct CS_LOGINDATA {
    int nType;
    char* pszIssuer;
    char* pszIniFile;
    char* pszName;
    char* pszNIF;
    char* pszDetail;
    int bOnline;
};

extern "C" {
int __stdcall Inicializar(int nFlags);
int __stdcall Finalizar();
int __stdcall Login(CS_LOGINDATA* pData);
int __stdcall Logout();
int __stdcall UsuarioValidado();
int __stdcall InfoSesion(CS_LOGINDATA* pData);
int __stdcall FirmarFichero(const char* pszSource, const char* pszDestination, int bBase64,
                            int bCompress);
int __stdcall ComprobarFirmaFichero(const char* pszSource, const char* pszDestination,
                                    int bBase64, int bDecompress);
int __stdcall ExportarCertificado(const char* pszPolicyPath, char* pszExportedPath,
                                  char* pszPassword);
int __stdcall ObtenerHandleSSL(const char* pszPolicyPath);
int __stdcall ObtenerUltimoError();
BSTR __stdcall DescripcionError(int nCode);
int __stdcall AsignarRutaLog(const char* pszPath);
int __stdcall AsignarDirectorioTemp(const char* pszDirectory);
}
