// Process-wide values set up at start-up, and the entry points of the application shell.
#pragma once
#include <windows.h>
#include "util/misc.h"

#define SM_ARG_SLOTS        50
#define SM_APP_STRINGS      18
#define SM_CCH_APP_STRING   256
#define SM_MAX_ERRCODES     48

// Private window messages; the same numbers are the exchange file's "Message" values.
#define WM_SM_EXIT      (WM_USER + 2)   // 1026
#define WM_SM_PSTATUS   (WM_USER + 3)   // 1027
#define WM_LM_ALIVE     (WM_USER + 4)   // 1028

#define SM_MS_POLL_PERIOD   250         // the exchange file is polled this often

#define SM_MAIN_WINDOW_TITLE L"MFP Status Monitor"
#define SM_MSG_INI_NAME      L"smen.ini"

extern HINSTANCE g_hInst;
extern WCHAR g_ClassName[SM_CCH_PATH];
extern WCHAR g_MsgIniPath[SM_CCH_PATH];
extern WORD  g_OSVersion;
extern LONG  g_Language;
extern LONG  g_LanguageIndex;
extern LONG  g_SecurityType;
extern WCHAR g_PrinterName[SM_CCH_PATH];
extern HWND  g_hWndMain;
extern WCHAR g_AppString[SM_APP_STRINGS][SM_CCH_APP_STRING];
extern LONG  g_ShownErrCodes[SM_MAX_ERRCODES];
extern LONG  g_LastMsg;
extern UINT  g_CodePage;

// What a command word leaves to WinMain. Exit codes: 1 after a one-shot command (the job's
// outcome aside), SM_EXIT_NOT_STORED when a credential dialog's values did not reach the printer,
// 0 when "install" finds a monitor or cannot take the start lock.
enum SM_DISPATCH_RESULT {
    SM_DISPATCH_DONE,               // a one-shot command ran (or none was recognised)
    SM_DISPATCH_MONITOR,            // "install" with the start lock held: become the monitor
    SM_DISPATCH_NOT_STORED,         // the dialog's values were not handed to the printer
    SM_DISPATCH_START_REFUSED,      // "install" did not get the start lock in time
};
#define SM_EXIT_ONE_SHOT    1
#define SM_EXIT_NOT_STORED  2
// The start lock of the monitor of g_ClassName (waits up to 30 s); TRUE when held.
BOOL SM_TakeStartLock(void);
void SM_ReleaseStartLock(void);

// The 50-slot argument table of the dispatcher: slot 0 the program, 1 the command word.
typedef WCHAR SM_ARGTABLE[SM_ARG_SLOTS][SM_CCH_PATH];
int  SM_FillArgTable(SM_ARGTABLE table, LPWSTR* argv, int argc, ULONGLONG* pCutSlots = NULL);
int  SM_DispatchCommand(LPWSTR* argv, int argc, LPCWSTR pszClassName, LPCWSTR pszProgramPath);

// The command line split into arguments by the shell's rules (CommandLineToArgvW), without
// loading the shell; one block, freed with LocalFree. NULL when out of memory.
LPWSTR* SM_SplitCommandLine(LPCWSTR pszCmdLine, int* pArgc);
int  SM_ClassNameFromPath(LPCWSTR pszModulePath, LPWSTR pszOut, size_t cchOut);
LONG MISC_GetLanguageIndex(LONG languageId);
LONG SM_LanguageIndexOf(LONG languageId);     // the table alone, without debugger output
int  SM_FormatRunCommand(LPCWSTR pszProgramPath, LPWSTR pszOut, size_t cchOut);
int  SM_AddRunValue(LPCWSTR pszValueName, LPCWSTR pszProgramPath);
int  SM_DeleteRunValue(LPCWSTR pszValueName);
void SM_BuildMsgIniPath(LPWSTR pszBuf, size_t cchBuf);
void LoadStringForApp(void);

// What one poll does with the exchange file's "Message" and "LastMsg" values, given the
// "LastMsg" the monitor acted on last.
enum SM_POLL_ACTION {
    SM_POLL_RESET,              // 1026: close the dialog and reset
    SM_POLL_OTHER_MESSAGE,      // neither 1026 nor 1027: nothing
    SM_POLL_NO_SEQUENCE,        // 1027 with "LastMsg" 0: nothing
    SM_POLL_SEQUENCE_SEEN,      // 1027 with the "LastMsg" acted on already: nothing
    SM_POLL_READ_LIST,          // 1027 with a new "LastMsg": the list is read
};
// "codepage" of the message file: the code page of message texts on a 9x-class system (0: CP_ACP).
UINT SM_MessageCodePage(void);
SM_POLL_ACTION SM_PollAction(UINT message, LONG lastMsg, LONG lastSeen);
// How many slots of a 48-slot list differ from the list shown; 0: the monitor does not update.
int SM_DifferingSlots(const LONG* pCodes, const LONG* pShown);

LRESULT CALLBACK WndProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
void SM_CloseSM(DWORD dwDelay, BOOL fReset);
