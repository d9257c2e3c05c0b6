// Calibration for the monitor benchmark: a throw-away program doing only the monitor's idle work
// (a hidden window, a 250 ms timer, one GetPrivateProfileIntW of the exchange file per tick),
// linked against kernel32 and user32 alone. bench/monitor_bench.sh measures it beside the monitor.
#include <windows.h>

static WCHAR s_IniPath[MAX_PATH];

static LRESULT CALLBACK BaselineProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    switch (uMsg) {
    case WM_TIMER:
        GetPrivateProfileIntW(L"Printer Information", L"Message", 0, s_IniPath);
        return 0;
    case WM_USER + 2:
        DestroyWindow(hWnd);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(hWnd, uMsg, wParam, lParam);
}

int WINAPI wWinMain(HINSTANCE hInst, HINSTANCE, LPWSTR pszCmdLine, int)
{
    lstrcpynW(s_IniPath, pszCmdLine, MAX_PATH);
    WNDCLASSW wc = {};
    wc.lpfnWndProc = BaselineProc;
    wc.hInstance = hInst;
    wc.lpszClassName = L"SmMonitorBaseline";
    RegisterClassW(&wc);
    HWND hWnd = CreateWindowExW(0, wc.lpszClassName, L"baseline", WS_POPUP, 0, 0, 0, 0, NULL, NULL, hInst, NULL);
    if (!hWnd)
        return 1;
    SetTimer(hWnd, 1, 250, NULL);
    MSG msg;
    while (GetMessageW(&msg, NULL, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return (int)msg.wParam;
}
