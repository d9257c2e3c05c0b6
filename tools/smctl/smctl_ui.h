// smctl: the monitor's status dialog seen from outside (found by its title, read and pictured
// through window messages), and a hidden copy of the dialog's template for measuring.
#pragma once
#include <windows.h>

// The visible status dialog, waiting up to msWait for it; NULL when there is none.
HWND SmctlUi_WaitForDialog(DWORD msWait);
// A control's text through WM_GETTEXT, always terminated.
void SmctlUi_ControlText(HWND hDlg, int id, LPWSTR pszBuf, int cchBuf);
// The whole window, frame and caption included, as a bottom-up 24-bit BMP file.
bool SmctlUi_SaveShot(HWND hDlg, LPCWSTR pszPath);
// A hidden, untitled instance of the status dialog's template (the program's resource linked
// into smctl): its font and slot rectangles are the dialog's own. NULL without a display.
HWND SmctlUi_CreateMeasureDialog(void);
