// smctl: the status dialog from outside, and a hidden instance of its template.
#include "tools/smctl/smctl_ui.h"
#include "app/app.h"
#include "res/resource.h"
#include "bitmap/bitmap.h"
#include "status/status.h"
#include "util/misc.h"
#include <winspool.h>
#include <stdlib.h>
#include <string.h>

static const WCHAR c_DialogClass[] = L"#32770";
static const WCHAR c_ProgramFile[] = L"StatusMonitor.exe";
static const int   c_ShotDpi = 96;

void SmctlUi_MonitorClass(LPCWSTR pszGiven, LPWSTR pszClass, size_t cchClass)
{
    if (pszGiven)
        lstrcpynW(pszClass, pszGiven, (int)cchClass);
    else
        SM_ClassNameFromPath(c_ProgramFile, pszClass, cchClass);
}

std::wstring SmctlUi_MessageFile(void)
{
    WCHAR szName[SM_CCH_PATH] = L"", szDir[MAX_PATH] = L"";
    SM_BuildMsgIniPath(szName, ARRAYSIZE(szName));
    if (wcschr(szName, L'\\') || wcschr(szName, L'/'))
        return szName;
    GetWindowsDirectoryW(szDir, ARRAYSIZE(szDir));
    return std::wstring(szDir) + L"\\" + szName;
}

bool SmctlUi_JobQueued(DWORD jobId, bool* pQueued, std::wstring* pWhy)
{
    *pQueued = false;
    SM_GetPrinterNameFromIni();
    HANDLE hPrinter = NULL;
    if (!OpenPrinterW(g_MonitorPrinterName, &hPrinter, NULL)) {
        *pWhy = L"cannot open the printer \"" + std::wstring(g_MonitorPrinterName) + L"\"";
        return false;
    }
    BYTE* pJobs = NULL;
    DWORD cReturned = 0;
    bool ok = SM_EnumJobs(hPrinter, 1, &pJobs, &cReturned) != FALSE;
    if (ok) {
        const JOB_INFO_1W* pInfo = reinterpret_cast<const JOB_INFO_1W*>(pJobs);
        for (DWORD i = 0; i < cReturned; i++)
            *pQueued = *pQueued || pInfo[i].JobId == jobId;
    } else {
        *pWhy = L"EnumJobsW failed";
    }
    free(pJobs);
    ClosePrinter(hPrinter);
    return ok;
}

// One message that the monitor's thread answers from its message loop.
static bool Answered(HWND hMonitor, DWORD msTimeout)
{
    DWORD_PTR result = 0;
    return SendMessageTimeoutW(hMonitor, WM_NULL, 0, 0, SMTO_BLOCK | SMTO_ABORTIFHUNG, msTimeout, &result) != 0;
}

bool SmctlUi_WaitForPoll(HWND hMonitor, DWORD msTimeout)
{
    // After the first answer the thread waits for messages: within a poll period its timer
    // comes due and a poll reads the file as it is now. The second answer comes only after
    // that poll and what it did (the thread runs one message at a time).
    DWORD start = GetTickCount();
    if (!IsWindow(hMonitor) || !Answered(hMonitor, msTimeout))
        return false;
    Sleep(SM_MS_POLL_PERIOD + SM_MS_POLL_PERIOD / 4);
    DWORD spent = GetTickCount() - start;
    return Answered(hMonitor, spent < msTimeout ? msTimeout - spent : 1);
}

HWND SmctlUi_WaitForDialog(DWORD msWait)
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

void SmctlUi_ControlText(HWND hDlg, int id, LPWSTR pszBuf, int cchBuf)
{
    pszBuf[0] = 0;
    SendDlgItemMessageW(hDlg, id, WM_GETTEXT, (WPARAM)cchBuf, (LPARAM)pszBuf);
    pszBuf[cchBuf - 1] = 0;
}

bool SmctlUi_SaveShot(HWND hDlg, LPCWSTR pszPath)
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
    bmi.bmiHeader.biHeight = cy;            // bottom-up, as the writer takes its rows
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 24;
    bmi.bmiHeader.biCompression = BI_RGB;

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
        iBitmap writer;
        ok = writer.iBitmap_CreateBMP(pszPath, 24, c_ShotDpi, cx, cy, (const BYTE*)pBits) == IBMP_OK;
    }
    if (hbm)
        DeleteObject(hbm);
    if (hdcMem)
        DeleteDC(hdcMem);
    if (hdcWin)
        ReleaseDC(hDlg, hdcWin);
    return ok;
}

static INT_PTR CALLBACK MeasureDlgProc(HWND, UINT, WPARAM, LPARAM)
{
    return FALSE;
}

HWND SmctlUi_CreateMeasureDialog(void)
{
    HINSTANCE hInst = GetModuleHandleW(NULL);
    HRSRC hRes = FindResourceW(hInst, MAKEINTRESOURCEW(IDD_STATUS_DIALOG), (LPCWSTR)RT_DIALOG);
    HGLOBAL hData = hRes ? LoadResource(hInst, hRes) : NULL;
    const void* pTemplate = hData ? LockResource(hData) : NULL;
    DWORD cbTemplate = hRes ? SizeofResource(hInst, hRes) : 0;
    if (!pTemplate || cbTemplate < sizeof(DLGTEMPLATE))
        return NULL;
    // A copy without WS_VISIBLE, so that nothing shows; the style is the first DWORD of a
    // classic template and at offset 12 of an extended one.
    BYTE* pCopy = (BYTE*)malloc(cbTemplate);
    if (!pCopy)
        return NULL;
    memcpy(pCopy, pTemplate, cbTemplate);
    const WORD* pw = (const WORD*)pCopy;
    DWORD* pStyle = (DWORD*)(pCopy + (pw[0] == 1 && pw[1] == 0xFFFF ? 12 : 0));
    *pStyle &= ~(DWORD)WS_VISIBLE;
    HWND hDlg = CreateDialogIndirectParamW(hInst, (LPCDLGTEMPLATEW)pCopy, NULL, MeasureDlgProc, 0);
    free(pCopy);
    if (hDlg)
        SetWindowTextW(hDlg, L"");      // never taken for the monitor's dialog
    return hDlg;
}
