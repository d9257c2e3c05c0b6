// The hidden main window: poll timer and the monitor's private messages.
#include "app/app.h"
#include "status/status.h"
#include "util/trace.h"

LONG g_ShownErrCodes[SM_MAX_ERRCODES];
LONG g_LastMsg;
UINT g_CodePage;

static const UINT_PTR c_PollTimerId = 1;
static const UINT     c_msPollPeriod = 250;

LRESULT CALLBACK WndProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    switch (uMsg) {
    case WM_CREATE:
        TRACE_Tag(L"WndProc", L"WndProc: WM_CREATE");
        g_CodePage = GetPrivateProfileIntW(L"string", L"codepage", 0, g_MsgIniPath);
        SetTimer(hWnd, c_PollTimerId, c_msPollPeriod, NULL);
        break;
    case WM_DESTROY:
        TRACE_Tag(L"WndProc", L"WndProc: WM_DESTROY");
        KillTimer(hWnd, c_PollTimerId);
        PostQuitMessage(0);
        return 0;
    case WM_TIMER:
        return 0;
    case WM_SM_EXIT:
        TRACE_Tag(L"WndProc", L"WndProc: WM_SM_EXIT");
        DestroyWindow(hWnd);
        return 0;
    case WM_SM_PSTATUS:
        TRACE_Tag(L"WndProc", L"WndProc: WM_SM_PSTATUS");
        return 0;
    case WM_LM_ALIVE:
        TRACE_Tag(L"WndProc", L"WndProc: WM_LM_ALIVE");
        return 0;
    }
    return DefWindowProcW(hWnd, uMsg, wParam, lParam);
}
