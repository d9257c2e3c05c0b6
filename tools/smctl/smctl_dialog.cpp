// smctl dialog: finds the monitor's status dialog by its title, prints its captions, message
// lines and buttons, saves a 24-bit picture of the whole window, and presses its buttons, all
// through window messages, as another program on the desktop can.
#include "tools/smctl/smctl.h"
#include "tools/smctl/smctl_dialog.h"
#include "status/status.h"
#include "app/app.h"
#include <stdio.h>
#include <stdlib.h>
#include <vector>

static const WCHAR c_DialogClass[] = L"#32770";

static HWND WaitForDialog(DWORD msWait)
{
    DWORD start = GetTickCount();
    for (;;) {
        HWND h = FindWindowW(c_DialogClass, SM_MAIN_WINDOW_TITLE);
        if (h && IsWindowVisible(h))
            return h;
        if (GetTickCount() - start >= msWait)
            return NULL;
        Sleep(50);
    }
}

static void ControlText(HWND hDlg, int id, LPWSTR pszBuf, int cchBuf)
{
    pszBuf[0] = 0;
    SendDlgItemMessageW(hDlg, id, WM_GETTEXT, (WPARAM)cchBuf, (LPARAM)pszBuf);
    pszBuf[cchBuf - 1] = 0;
}

static void PrintDialog(HWND hDlg)
{
    WCHAR text[512];
    GetWindowTextW(hDlg, text, ARRAYSIZE(text));
    wprintf(L"title: %ls\n", text);
    ControlText(hDlg, IDC_SM_GROUP, text, ARRAYSIZE(text));
    wprintf(L"group: %ls\n", text);
    for (int i = 0; i < IDC_SM_MSG_SLOTS; i++) {
        ControlText(hDlg, IDC_SM_MSG_FIRST + i, text, ARRAYSIZE(text));
        if (text[0])
            wprintf(L"%ls %d: %ls\n", i < IDC_SM_MSG_SLOTS / 2 ? L"left " : L"right", IDC_SM_MSG_FIRST + i, text);
    }
    const int buttons[] = { IDC_SM_CONTINUE, IDC_SM_DELETE };
    for (int id : buttons) {
        ControlText(hDlg, id, text, ARRAYSIZE(text));
        wprintf(L"button %d: %ls (%ls)\n", id, text,
                IsWindowVisible(GetDlgItem(hDlg, id)) ? L"shown" : L"hidden");
    }
    wprintf(L"topmost: %ls\n", (GetWindowLongW(hDlg, GWL_EXSTYLE) & WS_EX_TOPMOST) ? L"yes" : L"no");
}

// The whole window, frame and caption included, as a bottom-up 24-bit BMP file.
static bool SaveShot(HWND hDlg, LPCWSTR pszPath)
{
    RECT rc;
    if (!GetWindowRect(hDlg, &rc))
        return false;
    int cx = rc.right - rc.left, cy = rc.bottom - rc.top;
    if (cx <= 0 || cy <= 0)
        return false;

    BITMAPINFO bmi = {};
    bmi.bmiHeader.biSize = sizeof(bmi.bmiHeader);
    bmi.bmiHeader.biWidth = cx;
    bmi.bmiHeader.biHeight = cy;
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 24;
    bmi.bmiHeader.biCompression = BI_RGB;
    const DWORD cbStride = ((DWORD)cx * 3 + 3) & ~3u;
    bmi.bmiHeader.biSizeImage = cbStride * (DWORD)cy;

    bool ok = false;
    void* pBits = NULL;
    HDC hdcWin = GetWindowDC(hDlg);
    HDC hdcMem = hdcWin ? CreateCompatibleDC(hdcWin) : NULL;
    HBITMAP hbm = hdcMem ? CreateDIBSection(hdcWin, &bmi, DIB_RGB_COLORS, &pBits, NULL, 0) : NULL;
    if (hbm) {
        HGDIOBJ hOld = SelectObject(hdcMem, hbm);
        ok = BitBlt(hdcMem, 0, 0, cx, cy, hdcWin, 0, 0, SRCCOPY) != FALSE;
        GdiFlush();
        SelectObject(hdcMem, hOld);
    }
    if (ok) {
        BITMAPFILEHEADER bfh = {};
        bfh.bfType = 0x4D42;
        bfh.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
        bfh.bfSize = bfh.bfOffBits + bmi.bmiHeader.biSizeImage;
        HANDLE hFile = CreateFileW(pszPath, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
        DWORD cb1 = 0, cb2 = 0, cb3 = 0;
        ok = hFile != INVALID_HANDLE_VALUE
            && WriteFile(hFile, &bfh, sizeof(bfh), &cb1, NULL) && cb1 == sizeof(bfh)
            && WriteFile(hFile, &bmi.bmiHeader, sizeof(bmi.bmiHeader), &cb2, NULL) && cb2 == sizeof(bmi.bmiHeader)
            && WriteFile(hFile, pBits, bmi.bmiHeader.biSizeImage, &cb3, NULL) && cb3 == bmi.bmiHeader.biSizeImage;
        if (hFile != INVALID_HANDLE_VALUE)
            CloseHandle(hFile);
    }
    if (hbm)
        DeleteObject(hbm);
    if (hdcMem)
        DeleteDC(hdcMem);
    if (hdcWin)
        ReleaseDC(hDlg, hdcWin);
    return ok;
}

int Smctl_Dialog(int argc, wchar_t** argv)
{
    DWORD msWait = 0;
    const wchar_t* pszShot = NULL;
    int pressId = 0;
    bool bad = false;
    for (int i = 0; i < argc && !bad; i++) {
        const wchar_t* value = i + 1 < argc ? argv[i + 1] : NULL;
        if (!value) {
            bad = true;
        } else if (wcscmp(argv[i], L"--wait") == 0) {
            msWait = wcstoul(value, NULL, 10);
        } else if (wcscmp(argv[i], L"--shot") == 0) {
            pszShot = value;
        } else if (wcscmp(argv[i], L"--press") == 0 && _wcsicmp(value, L"delete") == 0) {
            pressId = IDC_SM_DELETE;
        } else if (wcscmp(argv[i], L"--press") == 0 && _wcsicmp(value, L"continue") == 0) {
            pressId = IDC_SM_CONTINUE;
        } else {
            bad = true;
        }
        i++;
    }
    if (bad) {
        Smctl_Error(L"usage: dialog %ls", SMCTL_DIALOG_USAGE);
        return 2;
    }

    HWND hDlg = WaitForDialog(msWait);
    if (!hDlg) {
        wprintf(L"no status dialog\n");
        return 1;
    }
    // Let a fresh update finish painting before it is read or pictured.
    Sleep(msWait ? 300 : 0);
    PrintDialog(hDlg);
    if (pszShot && !SaveShot(hDlg, pszShot)) {
        Smctl_Error(L"cannot save a picture of the dialog to %ls", pszShot);
        return 1;
    }
    if (pressId) {
        HWND hButton = GetDlgItem(hDlg, pressId);
        if (!IsWindowVisible(hButton)) {
            Smctl_Error(L"the button %d is not shown", pressId);
            return 1;
        }
        SendMessageW(hButton, BM_CLICK, 0, 0);
        wprintf(L"pressed %d\n", pressId);
    }
    return 0;
}
