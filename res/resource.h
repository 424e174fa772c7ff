#pragma once
#define IDD_HTTPS 1000
#define IDC_HTTPS_CONTROL 1001

// Login sheet and its Windows-certificate page.
#define IDD_LOGIN_WINCRYPT 106
#define IDC_CERT_LIST 1037
#define IDC_REFRESH 1023
#define IDC_VIEW 1034
#define IDB_LOGIN_BANNER 1010
#define IDB_LOGIN_SEPARATOR 1016

// Certificate list and properties dialog.
#define IDD_CERT_PROPERTIES 1023
#define IDC_PROP_LIST 1030
#define IDC_PROP_PREVIOUS 1031
#define IDC_PROP_NEXT 1032
#define IDC_PROP_COUNTER 1033
#define IDI_CERTIFICATE 143
#define IDI_IDENTITY_CARD 1022
#define IDI_PHOTO_CARD 164
#define IDI_CERTIFICATE_PEN 144

// Insert-card dialog.
#define IDD_SCARD 1007
#define IDC_SCARD_TEXT 1040
#define IDC_SCARD_ANIMATION 1017
#define IDR_AVI_CARD 1014

// Profile selection dialog and the login sheet's profile page.
#define IDD_EPF_SELECTION 1025
#define IDD_LOGIN_EPF 1012
#define IDC_EPF_PASSWORD 1002
#define IDC_EPF_BROWSE 1004
#define IDC_EPF_BANNER 1005
#define IDC_EPF_PROFILE 1008
#define IDC_EPF_OFFLINE 1009

// Notification-area icons: no session, with a session, the window class; the
// VGA copies for systems older than XP.
#define IDI_TRAY_NO_SESSION 129
#define IDI_TRAY_SESSION 130
#define IDI_TRAY_WINDOW 131
#define IDI_TRAY_NO_SESSION_VGA 161
#define IDI_TRAY_WINDOW_VGA 162
#define IDI_TRAY_SESSION_VGA 163

// Session information dialog.
#define IDD_SESSION_INFO 136
#define IDC_INFO_USER 1021
#define IDC_INFO_USER_LIST 1031
#define IDC_INFO_EXPORT_PUBLIC 1024
#define IDC_INFO_EXPORT_ALL 1027
#define IDC_INFO_EXPORT_ENCRYPTION 1026
#define IDC_INFO_EXPORT_SIGNING 1025
#define IDC_INFO_VIEW_USER 1035
#define IDC_INFO_EXPORT 1003
#define IDC_INFO_BOOK_LIST 1030
#define IDC_INFO_VIEW_BOOK 1036
#define IDC_INFO_DELETE 1006
#define IDC_INFO_IMPORT 1005

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
