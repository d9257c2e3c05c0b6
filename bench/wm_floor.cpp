// Yardsticks for the watermark benchmark, each a whole Wine process like the command it is set
// beside: with no argument it creates and deletes a memory DC (what any drawing program pays
// for GDI and the display driver) and returns; "nothing" returns at once; "resident" keeps a
// hidden window alive, so that the desktop process stays up between the timed runs as it does
// on a Windows desktop; "text" also draws one short string in a font, on a small bitmap, to
// show what the font system adds to the floor.
#include <windows.h>

static LRESULT CALLBACK ResidentProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    if (uMsg == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(hWnd, uMsg, wParam, lParam);
}

int WINAPI wWinMain(HINSTANCE hInst, HINSTANCE, LPWSTR pszCmdLine, int)
{
    if (lstrcmpW(pszCmdLine, L"nothing") == 0)
        return 0;
    if (lstrcmpW(pszCmdLine, L"resident") == 0) {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = ResidentProc;
        wc.hInstance = hInst;
        wc.lpszClassName = L"SmWmBenchResident";
        RegisterClassW(&wc);
        HWND hWnd = CreateWindowExW(0, wc.lpszClassName, L"resident", WS_POPUP, 0, 0, 0, 0,
                                    NULL, NULL, hInst, NULL);
        if (!hWnd)
            return 1;
        MSG msg;
        while (GetMessageW(&msg, NULL, 0, 0) > 0)
            DispatchMessageW(&msg);
        return 0;
    }
    HDC hdc = CreateCompatibleDC(NULL);
    if (!hdc)
        return 1;
    // "bigtext": the watermark's string at its A4 size (662-pixel cell, 45 degrees) on the same
    // small bitmap, to show what the glyphs of that size add.
    BOOL fBig = lstrcmpW(pszCmdLine, L"bigtext") == 0;
    if (fBig || lstrcmpW(pszCmdLine, L"text") == 0) {
        HBITMAP hbm = CreateBitmap(64, 64, 1, 1, NULL);
        HFONT hFont = CreateFontW(fBig ? 662 : 40, 0, 450, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, L"Arial");
        HGDIOBJ hOldBitmap = SelectObject(hdc, hbm);
        HGDIOBJ hOldFont = SelectObject(hdc, hFont);
        if (fBig)
            ExtTextOutW(hdc, 0, 3000, 0, NULL, L"CONFIDENTIAL", 12, NULL);
        else
            ExtTextOutW(hdc, 0, 40, 0, NULL, L"AB", 2, NULL);
        SelectObject(hdc, hOldFont);
        SelectObject(hdc, hOldBitmap);
        DeleteObject(hFont);
        DeleteObject(hbm);
    }
    DeleteDC(hdc);
    return 0;
}
