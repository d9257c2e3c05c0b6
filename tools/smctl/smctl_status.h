// smctl status commands: the driver's side of the status exchange file, and a running monitor.
#pragma once
#include <windows.h>

// For other commands: the exchange file resolved as the program does, a value written, and an
// announcement with a fresh "LastMsg"; errors are reported on standard error.
bool SmctlStatus_Open(void);
bool SmctlStatus_Write(LPCWSTR pszSection, LPCWSTR pszKey, LPCWSTR pszValue);
bool SmctlStatus_Announce(LPCWSTR pszStatus);

int Smctl_Printer(int argc, wchar_t** argv);
int Smctl_Announce(int argc, wchar_t** argv);
int Smctl_Reset(int argc, wchar_t** argv);
int Smctl_JobId(int argc, wchar_t** argv);
int Smctl_ShowQel(int argc, wchar_t** argv);
int Smctl_Message(int argc, wchar_t** argv);
int Smctl_State(int argc, wchar_t** argv);
int Smctl_Exit(int argc, wchar_t** argv);
int Smctl_Stress(int argc, wchar_t** argv);

#define SMCTL_PRINTER_USAGE  L"<name>                 \"PrinterName\": the printer the monitor watches"
#define SMCTL_ANNOUNCE_USAGE L"<status> [lastmsg]   \"Status\" (for example 33|5|), a fresh \"LastMsg\" (or the one given), \"Message\" 1027"
#define SMCTL_RESET_USAGE    L"                       \"Message\" 1026: the monitor closes its dialog and resets"
#define SMCTL_JOBID_USAGE    L"<id>                   \"JobID\" of section \"Job Information\""
#define SMCTL_SHOWQEL_USAGE  L"<0|1>                 \"ShowQelSM\": 0 suppresses the status dialog"
#define SMCTL_MESSAGE_USAGE  L"<n>                    \"Message\" = n (0 nothing, 1026 reset, 1027 new status, 1028 alive)"
#define SMCTL_STATE_USAGE    L"[class]                prints the exchange file's values and whether a monitor runs"
#define SMCTL_EXIT_USAGE     L"[class]                 posts WM_SM_EXIT to the running monitor (exit code 1: none)"
#define SMCTL_STRESS_USAGE   L"<count>               that many announcements in a row, a new list each time; prints the last"
