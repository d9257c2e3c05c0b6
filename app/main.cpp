// WinMain: names and paths, the command word, and for "install" the resident monitor.
#include "app/app.h"
#include "status/status.h"
#include "util/trace.h"
#include <strsafe.h>

static const DWORD c_msStartDelay = 200;
static const UINT  c_SystemMenuRemoved[] = { SC_MOVE, SC_SIZE, SC_MAXIMIZE, SC_MINIMIZE, SC_RESTORE };

static int RunMessageLoop(void)
{
    MSG msg = {};
    while (GetMessageW(&msg, NULL, 0, 0) > 0) {
        if (SM_IsStrayKey(&msg))
            continue;
        if (g_hStatusDlg && IsDialogMessageW(g_hStatusDlg, &msg))
            continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return (int)msg.wParam;
}

static HWND CreateMainWindow(void)
{
    WNDCLASSW wc = {};
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = WndProc;
    wc.hInstance = g_hInst;
    wc.hIcon = LoadIconW(NULL, IDI_APPLICATION);
    wc.hCursor = LoadCursorW(NULL, IDC_ARROW);
    wc.hbrBackground = (HBRUSH)GetStockObject(WHITE_BRUSH);
    wc.lpszClassName = g_ClassName;
    if (!RegisterClassW(&wc)) {
        TRACE_Print(TRACE_LEVEL_ERROR, L"RegisterClass fail!");
        return NULL;
    }
    HWND hWnd = CreateWindowExW(0, g_ClassName, SM_MAIN_WINDOW_TITLE, WS_POPUP, 0, 0, 0, 0,
                                NULL, NULL, g_hInst, NULL);
    if (!hWnd) {
        TRACE_Print(TRACE_LEVEL_ERROR, L"create window fail!");
        return NULL;
    }
    HMENU hSysMenu = GetSystemMenu(hWnd, FALSE);
    if (hSysMenu) {
        for (size_t i = 0; i < ARRAYSIZE(c_SystemMenuRemoved); i++)
            DeleteMenu(hSysMenu, c_SystemMenuRemoved[i], MF_BYCOMMAND);
    }
    return hWnd;
}

// The process's exit code for what the command word did.
static int ExitCodeOf(int rcDispatch)
{
    switch (rcDispatch) {
    case SM_DISPATCH_NOT_STORED: return SM_EXIT_NOT_STORED;
    case SM_DISPATCH_START_REFUSED: return 0;      // another start of the monitor is under way
    default: return SM_EXIT_ONE_SHOT;
    }
}

int WINAPI wWinMain(HINSTANCE hInstance, HINSTANCE, LPWSTR, int)
{
    TRACE_ConfigureFromEnvironment();
    g_hInst = hInstance;
    MISC_GetPathName(g_StatusIniPath, ARRAYSIZE(g_StatusIniPath), MISC_BASE_SHARED_DOCS | MISC_MODE_STATUS_INI);
    TRACE_FuncIn(TRACE_LEVEL_INFO, L"WinMain");

    WCHAR szProgramPath[SM_CCH_PATH] = L"";
    // A path that fills the buffer was cut: names made from it would be another program's.
    DWORD cchProgramPath = GetModuleFileNameW(NULL, szProgramPath, ARRAYSIZE(szProgramPath));
    if (cchProgramPath == 0 || cchProgramPath >= ARRAYSIZE(szProgramPath)) {
        TRACE_Print(TRACE_LEVEL_ERROR, L"program path not usable, %u", (unsigned)cchProgramPath);
        TRACE_FuncOut(TRACE_LEVEL_INFO);
        return 0;
    }
    SM_ClassNameFromPath(szProgramPath, g_ClassName, ARRAYSIZE(g_ClassName));
    TRACE_Tag(L"WinMain", L"FieldName = %s", g_ClassName);
    SM_BuildMsgIniPath(g_MsgIniPath, ARRAYSIZE(g_MsgIniPath));
    g_OSVersion = MISC_GetOSVersion();

    int argc = 0;
    LPWSTR* argv = SM_SplitCommandLine(GetCommandLineW(), &argc);
    MISC_DebugOut(L"%d", argc);
    for (int i = 0; argv && i < argc; i++)
        MISC_DebugOut(L"argv[%d] = %s", i, argv[i]);

    int rcDispatch = SM_DispatchCommand(argv, argv ? argc : 0, g_ClassName, szProgramPath);
    if (argv)
        LocalFree(argv);
    if (rcDispatch != SM_DISPATCH_MONITOR) {
        TRACE_FuncOut(TRACE_LEVEL_INFO);
        return ExitCodeOf(rcDispatch);
    }

    // "install" holds the start lock: looking for a running monitor and making the window are
    // one step per class name, so that of two "install" started together exactly one becomes
    // the monitor, and an "uninstall" meanwhile waits for the window it is to end.
    if (FindWindowW(g_ClassName, NULL)) {
        SM_ReleaseStartLock();
        TRACE_Print(TRACE_LEVEL_INFO, L"SM executed");
        TRACE_FuncOut(TRACE_LEVEL_INFO);
        return 0;
    }
    TRACE_Print(TRACE_LEVEL_INFO, L"not found SM");
    Sleep(c_msStartDelay);
    TRACE_Print(TRACE_LEVEL_INFO, L"create WndProc");
    LoadStringForApp();

    // A monitor without its window could never be told to quit: end as after a failed registration.
    HWND hWnd = CreateMainWindow();
    SM_ReleaseStartLock();
    if (!hWnd) {
        TRACE_FuncOut(TRACE_LEVEL_INFO);
        return 0;
    }
    g_hWndMain = hWnd;
    TRACE_Print(TRACE_LEVEL_INFO, L"HIDE window");
    ShowWindow(hWnd, SW_HIDE);
    ZeroMemory(g_ShownErrCodes, sizeof(g_ShownErrCodes));

    int exitCode = RunMessageLoop();
    TRACE_FuncOut(TRACE_LEVEL_INFO);
    return exitCode;
}
