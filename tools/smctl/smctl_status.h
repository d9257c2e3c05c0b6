// smctl status commands: the driver's side of the status exchange file, and a running monitor.
#pragma once
#include <windows.h>

// For other commands: the exchange file resolved as the program does, a value written, and an
// announcement with a fresh "LastMsg"; errors are reported on standard error. Open makes the
// file as the program does (UTF-16, made when absent) for the commands that write; Locate only
// names it, for the commands that inspect.
bool SmctlStatus_Open(void);
bool SmctlStatus_Locate(void);
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

