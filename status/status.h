// Printer status monitoring: what the application shell and other modules use.
#pragma once
#include <windows.h>

extern HWND g_hStatusDlg;

// Shows or updates the status dialog for a 48-slot fault list; 1 on success.
int SM_ShowPrinterStatus(HWND hWndOwner, const LONG* pErrCodes, int count);
