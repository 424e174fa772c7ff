#pragma once
#define IDD_HTTPS 1000
#define IDC_HTTPS_CONTROL 1001
