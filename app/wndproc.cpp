// The hidden main window: poll timer and the monitor's private messages.
#include "app/app.h"
#include "status/status.h"
#include "util/trace.h"
#include <strsafe.h>

LONG g_ShownErrCodes[SM_MAX_ERRCODES];
LONG g_LastMsg;
UINT g_CodePage;

static const UINT_PTR c_PollTimerId = 1;
static const UINT     c_msPollPeriod = SM_MS_POLL_PERIOD;
static const DWORD    c_msCloseDelay = 64;
static const DWORD    c_msSettle = 100;      // quiet time of the file that makes a list whole
static const WCHAR    c_TraceTag[] = L"WndProc";

UINT SM_MessageCodePage(void)
{
    return GetPrivateProfileIntW(L"string", L"codepage", 0, g_MsgIniPath);
}

SM_POLL_ACTION SM_PollAction(UINT message, LONG lastMsg, LONG lastSeen)
{
    if (message == WM_SM_EXIT)
        return SM_POLL_RESET;
    if (message != WM_SM_PSTATUS)
        return SM_POLL_OTHER_MESSAGE;
    if (lastMsg == 0)
        return SM_POLL_NO_SEQUENCE;
    if (lastMsg == lastSeen)
        return SM_POLL_SEQUENCE_SEEN;
    return SM_POLL_READ_LIST;
}

int SM_DifferingSlots(const LONG* pCodes, const LONG* pShown)
{
    int n = 0;
    for (int i = 0; i < SM_MAX_ERRCODES; i++) {
        if (pCodes[i] != pShown[i])
            n++;
    }
    return n;
}

// Milliseconds since the exchange file was last written, or 0 when that cannot be told (a
// file time ahead of the clock included).
static DWORD MsSinceWritten(void)
{
    WIN32_FILE_ATTRIBUTE_DATA fad;
    if (!GetFileAttributesExW(g_StatusIniPath, GetFileExInfoStandard, &fad))
        return 0;
    FILETIME ftNow;
    GetSystemTimeAsFileTime(&ftNow);
    ULARGE_INTEGER now, written;
    now.LowPart = ftNow.dwLowDateTime;
    now.HighPart = ftNow.dwHighDateTime;
    written.LowPart = fad.ftLastWriteTime.dwLowDateTime;
    written.HighPart = fad.ftLastWriteTime.dwHighDateTime;
    if (written.QuadPart >= now.QuadPart)
        return 0;
    ULONGLONG ms = (now.QuadPart - written.QuadPart) / 10000;
    return ms > MAXDWORD ? MAXDWORD : (DWORD)ms;
}

// A new list is acted on only when it was read whole. The driver's side may write "Status" in
// pieces (a first part, the whole some tens of milliseconds later): a list read from a file that
// was not written for the settling time is whole; otherwise a second read at the end of that
// time must find the same "LastMsg" and the same text. A text that does not end with a bar is
// cut inside a field, or ends in text that is no field: it is taken only when the next tick
// reads it again unchanged. Otherwise the announcement stays unread and the next tick reads it
// anew.
static BOOL IsWholeList(LONG lastMsg, LPCWSTR pszStatus)
{
    static WCHAR s_szUnended[SM_CCH_STATUS_VALUE];
    static LONG s_lastMsgUnended;
    WCHAR szAgain[SM_CCH_STATUS_VALUE] = L"";
    DWORD msQuiet = MsSinceWritten();
    if (msQuiet >= c_msSettle) {
        StringCchCopyW(szAgain, ARRAYSIZE(szAgain), pszStatus);
    } else {
        Sleep(c_msSettle - msQuiet);
        LONG lastMsgAgain = (LONG)SM_GetIniInt(SM_SECTION_PRINTER, L"LastMsg", 0);
        SM_GetIniString(SM_SECTION_PRINTER, L"Status", szAgain, ARRAYSIZE(szAgain));
        if (lastMsgAgain != lastMsg || wcscmp(szAgain, pszStatus) != 0)
            return FALSE;
    }
    size_t cch = wcslen(szAgain);
    if (cch > 0 && szAgain[cch - 1] == L'|') {
        s_szUnended[0] = 0;
        return TRUE;
    }
    BOOL fSeen = s_lastMsgUnended == lastMsg && wcscmp(s_szUnended, szAgain) == 0;
    StringCchCopyW(s_szUnended, ARRAYSIZE(s_szUnended), szAgain);
    s_lastMsgUnended = lastMsg;
    return fSeen;
}

// One tick: acts on the exchange file's "Message" value.
static void Poll(HWND hWnd)
{
    UINT message = SM_GetIniInt(SM_SECTION_PRINTER, L"Message", 0);
    LONG lastMsg = message == WM_SM_PSTATUS ? (LONG)SM_GetIniInt(SM_SECTION_PRINTER, L"LastMsg", 0) : 0;
    SM_POLL_ACTION action = SM_PollAction(message, lastMsg, g_LastMsg);
    if (action == SM_POLL_RESET) {
        TRACE_Print(TRACE_LEVEL_INFO, L"WndProc: sm exit!");
        ZeroMemory(g_ShownErrCodes, sizeof(g_ShownErrCodes));
        SM_CloseSM(c_msCloseDelay, TRUE);
        return;
    }
    if (action == SM_POLL_OTHER_MESSAGE)
        return;

    TRACE_Print(TRACE_LEVEL_INFO, L"WndProc: WM_SM_PSTATUS");
    if (action != SM_POLL_READ_LIST)
        return;

    LONG codes[SM_MAX_ERRCODES] = {};
    DWORD count = 0;
    WCHAR szStatus[SM_CCH_STATUS_VALUE] = L"";
    GetErrCode(codes, &count, szStatus, ARRAYSIZE(szStatus));
    if (count == 0) {
        // A cleared fault leaves the dialog, the spooler status and the shown list as they are.
        // The announcement is not taken as acted on: an empty list may be a read that met the
        // driver half-way through rewriting the file, so the next tick reads it again.
        TRACE_Print(TRACE_LEVEL_INFO, L"WndProc: no error");
        return;
    }
    if (!IsWholeList(lastMsg, szStatus)) {
        TRACE_Print(TRACE_LEVEL_INFO, L"WndProc: list not whole yet");
        return;
    }
    g_LastMsg = lastMsg;
    int nDiffering = SM_DifferingSlots(codes, g_ShownErrCodes);
    for (int i = 0; i < nDiffering; i++)
        TRACE_Print(TRACE_LEVEL_INFO, L"WndProc: NeedUpdate status");
    BOOL fChanged = nDiffering > 0;
    if (fChanged) {
        TRACE_Print(TRACE_LEVEL_INFO, L"WndProc: update status");
        SM_SetSMStatus(hWnd, codes, count);
    } else {
        TRACE_Print(TRACE_LEVEL_INFO, L"WndProc: Error status same");
    }
}

LRESULT CALLBACK WndProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    switch (uMsg) {
    case WM_CREATE:
        TRACE_Tag(c_TraceTag, L"WndProc: WM_CREATE");
        g_CodePage = SM_MessageCodePage();
        SetTimer(hWnd, c_PollTimerId, c_msPollPeriod, NULL);
        break;
    case WM_DESTROY:
        TRACE_Tag(c_TraceTag, L"WndProc: WM_DESTROY");
        KillTimer(hWnd, c_PollTimerId);
        SM_ResetSpoolerStatus();
        if (g_hWndMain == hWnd)
            g_hWndMain = NULL;
        PostQuitMessage(0);
        return 0;
    case WM_TIMER:
        Poll(hWnd);
        return 0;
    case WM_SM_EXIT:
        TRACE_Tag(c_TraceTag, L"WndProc: WM_SM_EXIT");
        DestroyWindow(hWnd);
        return 0;
    case WM_SM_PSTATUS:
        TRACE_Tag(c_TraceTag, L"WndProc: WM_SM_PSTATUS");
        return 0;
    case WM_LM_ALIVE:
        TRACE_Tag(c_TraceTag, L"WndProc: WM_LM_ALIVE");
        return 0;
    }
    return DefWindowProcW(hWnd, uMsg, wParam, lParam);
}

void SM_CloseSM(DWORD dwDelay, BOOL fReset)
{
    TRACE_FuncIn(TRACE_LEVEL_INFO, L"SM_CloseSM");
    if (g_hStatusDlg)
        DestroyWindow(g_hStatusDlg);
    g_hStatusDlg = NULL;
    if (dwDelay > 0)
        Sleep(dwDelay);
    if (!g_hWndMain) {
        TRACE_FuncOut(TRACE_LEVEL_INFO);
        return;
    }
    if (fReset) {
        MISC_WriteProfileString(g_StatusIniPath, SM_SECTION_PRINTER, L"Message", L"0");
        SM_ResetSpoolerStatus();
        ZeroMemory(g_ShownErrCodes, sizeof(g_ShownErrCodes));
        ZeroMemory(g_StoreName, sizeof(g_StoreName));
    }
    if (MISC_IsNTClass(g_OSVersion)) {
        TRACE_Print(TRACE_LEVEL_INFO, L"HIDE window");
        ShowWindow(g_hWndMain, SW_HIDE);
    } else {
        // On a 9x-class system closing the dialog ends the program.
        TRACE_Print(TRACE_LEVEL_INFO, L"Call DestroyWindow");
        DestroyWindow(g_hWndMain);
    }
    TRACE_FuncOut(TRACE_LEVEL_INFO);
}
