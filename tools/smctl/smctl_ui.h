// smctl: the monitor's status dialog seen from outside (found by its title, read and pictured
// through window messages), and a hidden copy of the dialog's template for measuring.
#pragma once
#include <windows.h>
#include <string>

#define SMCTL_MS_MAX_WAIT 600000        // the longest wait or timeout any command takes (10 minutes)

// The window class of the running monitor: the one given, else the program's own (its file name).
void SmctlUi_MonitorClass(LPCWSTR pszGiven, LPWSTR pszClass, size_t cchClass);
// Waits until the monitor has polled the exchange file at least once after this call and has
// finished acting on what it read (its thread came back to its message loop twice, a poll
// period apart). false when the monitor does not run or did not answer within msTimeout.
bool SmctlUi_WaitForPoll(HWND hMonitor, DWORD msTimeout);
// The program's message file (smen.ini) as the profile functions find it: a bare name lies in
// the Windows folder.
std::wstring SmctlUi_MessageFile(void);
// Whether the printer the exchange file names has the job queued, read as the monitor reads its
// queue (again when it grew meanwhile); false with the reason when the queue cannot be read.
bool SmctlUi_JobQueued(DWORD jobId, bool* pQueued, std::wstring* pWhy);
// The visible status dialog, waiting up to msWait for it; NULL when there is none.
HWND SmctlUi_WaitForDialog(DWORD msWait);
// A control's text through WM_GETTEXT, always terminated.
void SmctlUi_ControlText(HWND hDlg, int id, LPWSTR pszBuf, int cchBuf);
// The whole window, frame and caption included, as a 24-bit BMP file from the program's writer.
bool SmctlUi_SaveShot(HWND hDlg, LPCWSTR pszPath);
// A hidden, untitled instance of the status dialog's template (the program's resource linked
// into smctl): its font and slot rectangles are the dialog's own. NULL without a display.
HWND SmctlUi_CreateMeasureDialog(void);
