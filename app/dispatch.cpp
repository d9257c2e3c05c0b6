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
    return 0;
}

static int Cmd_PreHeat(SM_ARGTABLE args, LPCWSTR, LPCWSTR)
{
    TRACE_Print(TRACE_LEVEL_INFO, L"PrintName = %s", args[2]);
    SM_SendPreHeatJob(args[2], reinterpret_cast<const BYTE*>(c_PreHeatJob), c_cbPreHeatJob);
    return 0;
}

static int Cmd_Uninstall(SM_ARGTABLE, LPCWSTR pszClassName, LPCWSTR)
{
    HWND hWnd = FindWindowW(pszClassName, NULL);
    if (hWnd) {
        TRACE_Print(TRACE_LEVEL_INFO, L"PostMessage WM_QUIT");
        PostMessageW(hWnd, WM_QUIT, 0, 0);
    }
    SM_DeleteRunValue(pszClassName);
    return 0;
}

static int Cmd_Install(SM_ARGTABLE, LPCWSTR pszClassName, LPCWSTR pszProgramPath)
{
    SM_AddRunValue(pszClassName, pszProgramPath);
    return 1;
}

static int Cmd_SetATM(SM_ARGTABLE args, LPCWSTR pszClassName, LPCWSTR)
{
    TRACE_Print(TRACE_LEVEL_INFO, L"OnOff = %s", args[2]);
    MISC_SetRegValue(L"AtmMode", (DWORD)_wtoi(args[2]), pszClassName);
    return 0;
}

static int Cmd_Charset(SM_ARGTABLE args, LPCWSTR pszClassName, LPCWSTR)
{
    TRACE_Print(TRACE_LEVEL_INFO, L"LanID = %s", args[2]);
    MISC_SetRegValue(L"Language", (DWORD)_wtoi(args[2]), pszClassName);
    return 0;
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
    if (g_SecurityType == SEC_TYPE_STORAGE || g_SecurityType == SEC_TYPE_SECURITY)
        DialogBoxParamW(g_hInst, MAKEINTRESOURCEW(IDD_SECURE_DIALOG), NULL, Secure_DlgProc, 0);
    return 0;
}

static int Cmd_Accounting(SM_ARGTABLE args, LPCWSTR, LPCWSTR)
{
    LoadStringForApp();
    StringCchCopyW(g_PrinterName, ARRAYSIZE(g_PrinterName), args[2]);
    MISC_DebugOut(L"accounting, printer is %s", g_PrinterName);
    g_Language = _wtoi(args[3]);
    g_LanguageIndex = MISC_GetLanguageIndex(g_Language);
    MISC_DebugOut(L"security, g_Language is %d", (int)g_Language);
    DialogBoxParamW(g_hInst, MAKEINTRESOURCEW(IDD_ACCOUNTING_DIALOG), NULL, Accounting_DlgProc, 0);
    return 0;
}

static const struct {
    LPCWSTR pszWord;
    LPCWSTR pszLabel;
    SM_COMMAND_HANDLER pfnHandler;
} c_Commands[] = {
    { L"CreateTextBMP", L"SM_PARAM_BMP",       Cmd_CreateTextBMP },
    { L"PREHEAT",       L"SM_PARAM_PREHEAT",   Cmd_PreHeat },
    { L"uninstall",     L"SM_PARAM_UNINSTALL", Cmd_Uninstall },
    { L"install",       L"SM_PARAM_INSTALL",   Cmd_Install },
    { L"SetATM",        L"SM_PARAM_ATM_SET",   Cmd_SetATM },
    { L"charset",       L"SM_PARAM_LANGUAGE",  Cmd_Charset },
    { L"security",      L"SECURITY_DIALOG",    Cmd_Security },
    { L"accounting",    L"accounting",         Cmd_Accounting },
};

// Copies up to 50 arguments, each cut to 259 characters, into the zeroed table and echoes
// them to the debugger output. Returns the number of slots filled.
int SM_FillArgTable(SM_ARGTABLE table, LPWSTR* argv, int argc)
{
    ZeroMemory(table, sizeof(SM_ARGTABLE));
    int cArgs = argc < SM_ARG_SLOTS ? argc : SM_ARG_SLOTS;
    for (int i = 0; i < cArgs; i++) {
        if (!argv || !argv[i])
            continue;
        StringCchCopyW(table[i], SM_CCH_PATH, argv[i]);
        OutputDebugStringW(argv[i]);
    }
    return cArgs < 0 ? 0 : cArgs;
}

int SM_DispatchCommand(LPWSTR* argv, int argc, LPCWSTR pszClassName, LPCWSTR pszProgramPath)
{
    TRACE_FuncIn(TRACE_LEVEL_INFO, L"SM_DispatchCommand");
    // 26 KB: kept off the stack of the message loop that may follow.
    static SM_ARGTABLE s_Args;
    SM_FillArgTable(s_Args, argv, argc);

    int rc = 0;
    for (size_t i = 0; i < ARRAYSIZE(c_Commands); i++) {
        if (wcscmp(s_Args[1], c_Commands[i].pszWord) == 0) {
            OutputDebugStringW(c_Commands[i].pszLabel);
            rc = c_Commands[i].pfnHandler(s_Args, pszClassName, pszProgramPath);
            break;
        }
    }
    TRACE_FuncOut(TRACE_LEVEL_INFO);
    return rc;
}
