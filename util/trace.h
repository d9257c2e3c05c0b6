// Trace facility: indented entry/exit and message lines to the debugger output and,
// when file output is on, to a log file in the ANSI code page. Off by default.
#pragma once
#include <windows.h>

#define TRACE_LEVEL_INFO  1
#define TRACE_LEVEL_ERROR 4

#define TRACE_CCH_LINE        1024
#define TRACE_CB_ANSI         1024
#define TRACE_NAME_STACK      50
#define TRACE_CCH_NAME        50
#define TRACE_CCH_PREFIX      52   // 51 characters and the terminator
#define TRACE_MAX_INDENT      512
#define TRACE_CHANNELS        5

// Operator settings; nothing in the program changes the defaults except TRACE_ConfigureFromEnvironment.
struct TRACE_SETTINGS {
    DWORD threshold;                 // 0: off; else the lowest level written
    LONG  activeChannel;             // 1..5, anything else: off
    DWORD channelSwitch[TRACE_CHANNELS];
    DWORD fileOutput;                // non-zero: lines are appended to logPath too
    WCHAR logPath[MAX_PATH];
    WCHAR prefix[TRACE_CCH_PREFIX];
};

// Name of the environment variable read once at start-up, for example
//   SM_TRACE=threshold=1;channel=1;switch=1;file=1;path=C:\sm.log;prefix=SM>
#define TRACE_ENV_VAR L"SM_TRACE"

void  TRACE_GetDefaultSettings(TRACE_SETTINGS* pSettings);
void  TRACE_Configure(const TRACE_SETTINGS* pSettings);
BOOL  TRACE_ParseSettings(LPCWSTR pszSpec, TRACE_SETTINGS* pSettings);
void  TRACE_ConfigureFromEnvironment(void);
void  TRACE_GetCounters(int* pIndent, int* pDepth);
void  TRACE_ResetCounters(void);

DWORD TRACE_IsEnabled(void);
void  TRACE_FuncIn(UINT level, LPCWSTR pszName);
void  TRACE_FuncOut(UINT level);
void  TRACE_Print(UINT level, LPCWSTR pszFormat, ...);
void  TRACE_Tag(LPCWSTR pszTag, LPCWSTR pszFormat, ...);
void  TRACE_TagError(LPCWSTR pszTag, LPCWSTR pszFormat, ...);
int   TRACE_WriteFile(LPCWSTR pszLine);

// Bounded printf into a wide buffer, Windows conventions (%s takes a wide string).
// The result is always terminated; text that does not fit is cut.
void  MISC_Format(LPWSTR pszBuf, size_t cchBuf, LPCWSTR pszFormat, ...);
// A formatted line straight to the debugger output (always written, outside the facility).
void  MISC_DebugOut(LPCWSTR pszFormat, ...);
