// Command-line dispatch: one command word per start.
#include "app/app.h"
#include "bitmap/bitmap.h"
#include "dialogs/dialogs.h"
#include "res/resource.h"
#include "status/status.h"
#include "util/trace.h"
#include <stdlib.h>
#include <strsafe.h>

// The wake-up job sent by "PREHEAT": 77 bytes, no terminating zero.
static const char c_PreHeatJob[] =
    "\x1b" "E"
    "\x1b" "%-12345X@PJL WAKEUP\r\n"
    "@PJL PREHEAT\r\n"
    "@PJL SET TIMEOUT=5\r\n"
    "@PJL EOJ\r\n"
    "\x1b" "%-12345X";
static const DWORD c_cbPreHeatJob = sizeof(c_PreHeatJob) - 1;
static_assert(sizeof(c_PreHeatJob) - 1 == 77, "the wake-up job is 77 bytes");

typedef int (*SM_COMMAND_HANDLER)(SM_ARGTABLE args, LPCWSTR pszClassName, LPCWSTR pszProgramPath);

static int Cmd_CreateTextBMP(SM_ARGTABLE args, LPCWSTR, LPCWSTR)
{
    SM_CreateTextBMPUsingIni_New(args[2]);
    return SM_DISPATCH_DONE;
}

static int Cmd_PreHeat(SM_ARGTABLE args, LPCWSTR, LPCWSTR)
{
    TRACE_Print(TRACE_LEVEL_INFO, L"PrintName = %s", args[2]);
    SM_SendPreHeatJob(args[2], reinterpret_cast<const BYTE*>(c_PreHeatJob), c_cbPreHeatJob);
    return SM_DISPATCH_DONE;
}

static int Cmd_Uninstall(SM_ARGTABLE, LPCWSTR pszClassName, LPCWSTR)
{
    // Under the start lock a monitor that is starting has its window, and is ended with it.
    // Without the lock (held too long) the monitor found is ended all the same.
    BOOL fLocked = SM_TakeStartLock();
    HWND hWnd = FindWindowW(pszClassName, NULL);
    if (hWnd) {
        TRACE_Print(TRACE_LEVEL_INFO, L"PostMessage WM_QUIT");
        PostMessageW(hWnd, WM_QUIT, 0, 0);
    }
    SM_DeleteRunValue(pszClassName);
    if (fLocked)
        SM_ReleaseStartLock();
    return SM_DISPATCH_DONE;
}

static int Cmd_Install(SM_ARGTABLE, LPCWSTR pszClassName, LPCWSTR pszProgramPath)
{
    // A start that cannot have the lock ends: another is under way, and two would make two monitors.
    if (!SM_TakeStartLock()) {
        TRACE_Print(TRACE_LEVEL_ERROR, L"install ends: another start of the monitor holds the lock");
        return SM_DISPATCH_START_REFUSED;
    }
    SM_AddRunValue(pszClassName, pszProgramPath);
    return SM_DISPATCH_MONITOR;
}

static int Cmd_SetATM(SM_ARGTABLE args, LPCWSTR pszClassName, LPCWSTR)
{
    TRACE_Print(TRACE_LEVEL_INFO, L"OnOff = %s", args[2]);
    MISC_SetRegValue(L"AtmMode", (DWORD)_wtoi(args[2]), pszClassName);
    return SM_DISPATCH_DONE;
}

static int Cmd_Charset(SM_ARGTABLE args, LPCWSTR pszClassName, LPCWSTR)
{
    TRACE_Print(TRACE_LEVEL_INFO, L"LanID = %s", args[2]);
    MISC_SetRegValue(L"Language", (DWORD)_wtoi(args[2]), pszClassName);
    return SM_DISPATCH_DONE;
}

static int Cmd_Security(SM_ARGTABLE args, LPCWSTR, LPCWSTR)
{
    g_SecurityType = _wtoi(args[2]);
    MISC_DebugOut(L"security, g_SecurityType is %d", (int)g_SecurityType);
    StringCchCopyW(g_PrinterName, ARRAYSIZE(g_PrinterName), args[3]);
    MISC_DebugOut(L"security, printer is %s", g_PrinterName);
    g_Language = _wtoi(args[4]);
    g_LanguageIndex = MISC_GetLanguageIndex(g_Language);
    MISC_DebugOut(L"security, g_Language is %d", (int)g_Language);
    INT_PTR result = 0;
    if (g_SecurityType == SEC_TYPE_STORAGE || g_SecurityType == SEC_TYPE_SECURITY)
        result = DialogBoxParamW(g_hInst, MAKEINTRESOURCEW(IDD_SECURE_DIALOG), NULL, Secure_DlgProc, 0);
    return result == DLG_END_NOT_STORED ? SM_DISPATCH_NOT_STORED : SM_DISPATCH_DONE;
}

static int Cmd_Accounting(SM_ARGTABLE args, LPCWSTR, LPCWSTR)
{
    LoadStringForApp();
    StringCchCopyW(g_PrinterName, ARRAYSIZE(g_PrinterName), args[2]);
    MISC_DebugOut(L"accounting, printer is %s", g_PrinterName);
    g_Language = _wtoi(args[3]);
    g_LanguageIndex = MISC_GetLanguageIndex(g_Language);
    MISC_DebugOut(L"security, g_Language is %d", (int)g_Language);
    INT_PTR result = DialogBoxParamW(g_hInst, MAKEINTRESOURCEW(IDD_ACCOUNTING_DIALOG), NULL, Accounting_DlgProc, 0);
    return result == DLG_END_NOT_STORED ? SM_DISPATCH_NOT_STORED : SM_DISPATCH_DONE;
}

// cOperands: the slots after the command word that the command reads (2 to 1 + cOperands).
static const struct {
    LPCWSTR pszWord;
    LPCWSTR pszLabel;
    int cOperands;
    SM_COMMAND_HANDLER pfnHandler;
} c_Commands[] = {
    { L"CreateTextBMP", L"SM_PARAM_BMP",       1, Cmd_CreateTextBMP },
    { L"PREHEAT",       L"SM_PARAM_PREHEAT",   1, Cmd_PreHeat },
    { L"uninstall",     L"SM_PARAM_UNINSTALL", 0, Cmd_Uninstall },
    { L"install",       L"SM_PARAM_INSTALL",   0, Cmd_Install },
    { L"SetATM",        L"SM_PARAM_ATM_SET",   1, Cmd_SetATM },
    { L"charset",       L"SM_PARAM_LANGUAGE",  1, Cmd_Charset },
    { L"security",      L"SECURITY_DIALOG",    3, Cmd_Security },
    { L"accounting",    L"accounting",         2, Cmd_Accounting },
};

// Copies up to 50 arguments, each cut to 259 characters, into the zeroed table and echoes
// them to the debugger output. Returns the number of slots filled; *pCutSlots (when given) gets
// one bit per slot whose argument did not fit.
int SM_FillArgTable(SM_ARGTABLE table, LPWSTR* argv, int argc, ULONGLONG* pCutSlots)
{
    ZeroMemory(table, sizeof(SM_ARGTABLE));
    if (pCutSlots)
        *pCutSlots = 0;
    int cArgs = argc < SM_ARG_SLOTS ? argc : SM_ARG_SLOTS;
    for (int i = 0; i < cArgs; i++) {
        if (!argv || !argv[i])
            continue;
        if (StringCchCopyW(table[i], SM_CCH_PATH, argv[i]) == STRSAFE_E_INSUFFICIENT_BUFFER && pCutSlots)
            *pCutSlots |= 1ULL << i;
        OutputDebugStringW(argv[i]);
    }
    return cArgs < 0 ? 0 : cArgs;
}

int SM_DispatchCommand(LPWSTR* argv, int argc, LPCWSTR pszClassName, LPCWSTR pszProgramPath)
{
    TRACE_FuncIn(TRACE_LEVEL_INFO, L"SM_DispatchCommand");
    // 26 KB: kept off the stack of the message loop that may follow.
    static SM_ARGTABLE s_Args;
    ULONGLONG cutSlots = 0;
    SM_FillArgTable(s_Args, argv, argc, &cutSlots);

    int rc = SM_DISPATCH_DONE;
    for (size_t i = 0; i < ARRAYSIZE(c_Commands); i++) {
        if (wcscmp(s_Args[1], c_Commands[i].pszWord) == 0) {
            OutputDebugStringW(c_Commands[i].pszLabel);
            // A cut operand names another printer or file than the caller's: the command does nothing.
            int slot = 2;
            while (slot < 2 + c_Commands[i].cOperands && !(cutSlots & (1ULL << slot)))
                slot++;
            if (slot < 2 + c_Commands[i].cOperands)
                TRACE_Print(TRACE_LEVEL_ERROR, L"operand %d too long, command refused", slot);
            else
                rc = c_Commands[i].pfnHandler(s_Args, pszClassName, pszProgramPath);
            break;
        }
    }
    TRACE_FuncOut(TRACE_LEVEL_INFO);
    return rc;
}
