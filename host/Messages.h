#pragma once

// Window and thread messages of the library.
const unsigned int WM_TRAY_NOTIFY = 1524;     // WM_USER + 500: the notification-area entry
const unsigned int WM_REFRESH = 1527;         // a window reloads what it shows
const unsigned int WM_STOP_INTERFACE = 1528;  // the interface thread ends
const unsigned int WM_CARD_EVENT = 1531;      // wParam 1 card present, 0 removed; lParam reader
