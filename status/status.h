// Printer status monitoring: what the application shell and other modules use.
#pragma once
#include <windows.h>

extern HWND g_hStatusDlg;
