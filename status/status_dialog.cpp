// The status dialog: a modeless, always-on-top window with the printer pictures, up to twelve
// message lines, and Delete and Continue buttons.
#include "status/status.h"
#include "app/app.h"
#include "res/resource.h"
#include "util/trace.h"
#include <winspool.h>

HWND g_hStatusDlg;

static const DWORD c_msCloseDelay = 64;
static const LONG  c_CodePaperMismatch = 35;
static const LONG  c_CodeStoreNameChanged = 277;

// The dialog comes forward with a button focused while the user may be typing elsewhere: for
// this long after it is shown or updated, keys that would press a button are dropped.
static const DWORD c_msStrayKeyGuard = 700;
static DWORD s_tickShown;

// The DPI the dialog was last laid out for by a DPI change (0: none since it was created), and
// the controls' font made for it.
static UINT  s_dpiDialog;
static HFONT s_hFontScaled;

typedef UINT (WINAPI* GETDPIFORWINDOW_FN)(HWND);
typedef BOOL (WINAPI* SETDIALOGDPICHANGEBEHAVIOR_FN)(HWND, DIALOG_DPI_CHANGE_BEHAVIORS, DIALOG_DPI_CHANGE_BEHAVIORS);

// A function of newer user32 versions, or NULL where the system lacks it.
static void* User32Proc(const char* pszName)
{
    HMODULE hUser = GetModuleHandleW(L"user32.dll");
    return hUser ? reinterpret_cast<void*>(GetProcAddress(hUser, pszName)) : NULL;
}

UINT SM_DialogDpi(HWND hDlg)
{
    if (hDlg && hDlg == g_hStatusDlg && s_dpiDialog)
        return s_dpiDialog;
    GETDPIFORWINDOW_FN pfn = reinterpret_cast<GETDPIFORWINDOW_FN>(User32Proc("GetDpiForWindow"));
    UINT dpi = pfn && hDlg ? pfn(hDlg) : 0;
    if (!dpi) {
        HDC hdc = GetDC(NULL);
        dpi = hdc ? (UINT)GetDeviceCaps(hdc, LOGPIXELSY) : 0;
        if (hdc)
            ReleaseDC(NULL, hdc);
    }
    return dpi ? dpi : SM_DPI_DEFAULT;
}

// The logo drawn for the dialog's scale. It is decorative: its name for assistive tools is empty
// (the template gives it the bitmap's number as text). The text is set past the control, which
// would take it for the name of a bitmap to load.
static void SetLogo(HWND hDlg, UINT dpi, BOOL fAlways)
{
    HWND hLogo = GetDlgItem(hDlg, IDC_SM_LOGO);
    if (!hLogo)
        return;
    DefWindowProcW(hLogo, WM_SETTEXT, 0, (LPARAM)L"");
    UINT idArt = SM_ArtIdOffset(dpi);
    if (idArt == 0 && !fAlways)
        return;
    HBITMAP hBitmap = LoadBitmapW(g_hInst, MAKEINTRESOURCEW(IDB_LOGO + idArt));
    if (!hBitmap)
        return;
    HGDIOBJ hOld = (HGDIOBJ)SendMessageW(hLogo, STM_SETIMAGE, IMAGE_BITMAP, (LPARAM)hBitmap);
    if (hOld && hOld != hBitmap)
        DeleteObject(hOld);
}

// A DPI change (the window moved to another monitor, or the scale changed): the controls and
// their font grow or shrink in proportion, the window takes the size the system suggests, and
// the pictures are drawn again for the new DPI.
static void OnDpiChanged(HWND hDlg, UINT dpiNew, const RECT* prcSuggested)
{
    UINT dpiOld = SM_DialogDpi(hDlg);
    s_dpiDialog = dpiNew;
    if (dpiNew && dpiOld && dpiNew != dpiOld) {
        HFONT hFont = (HFONT)SendDlgItemMessageW(hDlg, IDC_SM_MSG_FIRST, WM_GETFONT, 0, 0);
        LOGFONTW lf;
        HFONT hNew = NULL;
        if (hFont && GetObjectW(hFont, sizeof(lf), &lf) == sizeof(lf)) {
            lf.lfHeight = MulDiv(lf.lfHeight, (int)dpiNew, (int)dpiOld);
            hNew = CreateFontIndirectW(&lf);
        }
        for (HWND hCtl = GetWindow(hDlg, GW_CHILD); hCtl; hCtl = GetWindow(hCtl, GW_HWNDNEXT)) {
            RECT rc;
            GetWindowRect(hCtl, &rc);
            MapWindowPoints(NULL, hDlg, (POINT*)&rc, 2);
            MoveWindow(hCtl, MulDiv(rc.left, (int)dpiNew, (int)dpiOld), MulDiv(rc.top, (int)dpiNew, (int)dpiOld),
                       MulDiv(rc.right - rc.left, (int)dpiNew, (int)dpiOld),
                       MulDiv(rc.bottom - rc.top, (int)dpiNew, (int)dpiOld), FALSE);
            if (hNew)
                SendMessageW(hCtl, WM_SETFONT, (WPARAM)hNew, FALSE);
        }
        if (hNew) {
            if (s_hFontScaled)
                DeleteObject(s_hFontScaled);
            s_hFontScaled = hNew;
        }
        SetLogo(hDlg, dpiNew, TRUE);
    }
    // The system suggests the window's new rectangle; without one the client area grows in
    // proportion, as the controls did.
    RECT rc, rcClient;
    GetWindowRect(hDlg, &rc);
    GetClientRect(hDlg, &rcClient);
    if (prcSuggested) {
        rc = *prcSuggested;
    } else if (dpiNew && dpiOld) {
        rc.right += MulDiv(rcClient.right, (int)dpiNew, (int)dpiOld) - rcClient.right;
        rc.bottom += MulDiv(rcClient.bottom, (int)dpiNew, (int)dpiOld) - rcClient.bottom;
    }
    SetWindowPos(hDlg, NULL, rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top, SWP_NOZORDER | SWP_NOACTIVATE);
    InvalidateRect(hDlg, NULL, TRUE);
}

BOOL SM_OffersContinue(LONG firstCode)
{
    return firstCode == c_CodePaperMismatch || firstCode == c_CodeStoreNameChanged;
}

static void CloseStatus(BOOL fReset)
{
    SM_CloseSM(c_msCloseDelay, fReset);
}

// A caption from the message file, cut to the buffer.
static void ReadCaption(LPCWSTR pszKey, LPCWSTR pszDefault, LPWSTR pszOut, DWORD cchOut)
{
    GetPrivateProfileStringW(L"string", pszKey, pszDefault, pszOut, cchOut, g_MsgIniPath);
    pszOut[cchOut - 1] = L'\0';
}

int SM_ShowPrinterStatus(HWND hWndOwner, const LONG* pErrCodes, int count)
{
    UINT nShow = SM_GetIniInt(SM_SECTION_PRINTER, L"ShowQelSM", 1);
    TRACE_FuncIn(TRACE_LEVEL_INFO, L"SM_ShowPrinterStatus");
    TRACE_Print(TRACE_LEVEL_INFO, L"Count = %d", count);

    if (nShow == 0 || memcmp(pErrCodes, g_ShownErrCodes, sizeof(g_ShownErrCodes)) == 0) {
        TRACE_FuncOut(TRACE_LEVEL_INFO);
        return 1;
    }

    SM_MarkItems(pErrCodes, count);

    WCHAR szGroup[SM_CCH_PATH], szDelete[SM_CCH_PATH], szContinue[SM_CCH_PATH];
    ReadCaption(L"group", L"Status Message", szGroup, ARRAYSIZE(szGroup));
    ReadCaption(L"btn001", L"Delete", szDelete, ARRAYSIZE(szDelete));
    ReadCaption(L"btn002", L"Continue", szContinue, ARRAYSIZE(szContinue));

    if (g_hStatusDlg) {
        TRACE_Print(TRACE_LEVEL_INFO, L"HIDE hMainWND");
        ShowWindow(g_hWndMain, SW_HIDE);
    } else {
        g_hStatusDlg = CreateDialogParamW(g_hInst, MAKEINTRESOURCEW(IDD_STATUS_DIALOG),
                                          hWndOwner, MsgDlgProc, 0);
        if (!g_hStatusDlg) {
            TRACE_Print(TRACE_LEVEL_ERROR, L"Create Dialog fail!");
            TRACE_FuncOut(TRACE_LEVEL_INFO);
            return 0;
        }
    }

    SetWindowTextW(g_hStatusDlg, SM_MAIN_WINDOW_TITLE);
    SetDlgItemTextW(g_hStatusDlg, IDC_SM_GROUP, szGroup);
    SetDlgItemTextW(g_hStatusDlg, IDC_SM_DELETE, szDelete);
    SetDlgItemTextW(g_hStatusDlg, IDC_SM_CONTINUE, szContinue);

    SetWindowPos(g_hStatusDlg, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
    SM_DrawMsgItem(TRUE);

    HWND hContinue = GetDlgItem(g_hStatusDlg, IDC_SM_CONTINUE);
    if (SM_OffersContinue(pErrCodes[0])) {
        ShowWindow(hContinue, SW_SHOW);
        SetFocus(hContinue);
    } else {
        ShowWindow(hContinue, SW_HIDE);
        SetFocus(GetDlgItem(g_hStatusDlg, IDC_SM_DELETE));
    }

    ShowWindow(g_hWndMain, SW_SHOW);
    SetForegroundWindow(g_hStatusDlg);
    SetActiveWindow(g_hStatusDlg);

    s_tickShown = GetTickCount();
    // Assistive tools hear that the faults shown are new; each changed line has said so.
    NotifyWinEvent(EVENT_SYSTEM_ALERT, g_hStatusDlg, OBJID_CLIENT, CHILDID_SELF);

    CopyMemory(g_ShownErrCodes, pErrCodes, sizeof(g_ShownErrCodes));
    TRACE_FuncOut(TRACE_LEVEL_INFO);
    return 1;
}

BOOL SM_IsStrayKey(const MSG* pMsg)
{
    if (!g_hStatusDlg || pMsg->message < WM_KEYFIRST || pMsg->message > WM_KEYLAST)
        return FALSE;
    // Releases press nothing by themselves; dropping one would leave a button held down.
    if (pMsg->message == WM_KEYUP || pMsg->message == WM_SYSKEYUP)
        return FALSE;
    if (pMsg->hwnd != g_hStatusDlg && !IsChild(g_hStatusDlg, pMsg->hwnd))
        return FALSE;
    // A key pressed within that time counts even when it is taken from the queue later.
    if (GetTickCount() - s_tickShown >= c_msStrayKeyGuard
        && pMsg->time - s_tickShown >= c_msStrayKeyGuard)
        return FALSE;
    TRACE_Print(TRACE_LEVEL_INFO, L"SM_IsStrayKey: message 0x%x, key 0x%x dropped",
                pMsg->message, (UINT)pMsg->wParam);
    return TRUE;
}

// Continue: tell the driver's side to go on printing. A value already there counts as written.
static void OnContinue(void)
{
    if (MISC_WriteProfileString(g_StatusIniPath, SM_SECTION_PRINTER, L"ContinuePrint", L"1")) {
        CloseStatus(FALSE);
        return;
    }
    if (SM_GetIniInt(SM_SECTION_PRINTER, L"ContinuePrint", 0) == 1) {
        TRACE_Print(TRACE_LEVEL_INFO, L"R ContinuePrint == 1");
        CloseStatus(FALSE);
    } else {
        TRACE_Print(TRACE_LEVEL_INFO, L"R/W ContinuePrint == 0");
    }
}

INT_PTR CALLBACK MsgDlgProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    INT_PTR result = FALSE;
    TRACE_FuncIn(TRACE_LEVEL_INFO, L"MsgDlgProc");
    switch (uMsg) {
    case WM_INITDIALOG:
        TRACE_Print(TRACE_LEVEL_INFO, L"MsgDlgProc: WM_INITDIALOG");
        s_dpiDialog = 0;
        {
            // The dialog lays itself out on a DPI change (below), the same on every system.
            SETDIALOGDPICHANGEBEHAVIOR_FN pfn =
                reinterpret_cast<SETDIALOGDPICHANGEBEHAVIOR_FN>(User32Proc("SetDialogDpiChangeBehavior"));
            if (pfn)
                pfn(hDlg, DDC_DISABLE_ALL, DDC_DISABLE_ALL);
        }
        SetLogo(hDlg, SM_DialogDpi(hDlg), FALSE);
        result = TRUE;
        break;
    case WM_DPICHANGED:
        OnDpiChanged(hDlg, HIWORD(wParam), (const RECT*)lParam);
        result = TRUE;
        break;
    case WM_PAINT: {
        // The pictures, frames and lines come back whenever the dialog is repainted.
        TRACE_Print(TRACE_LEVEL_INFO, L"MsgDlgProc: WM_PAINT");
        PAINTSTRUCT ps;
        HDC hdc = BeginPaint(hDlg, &ps);
        if (hdc) {
            SM_DrawStatus(hDlg, hdc, FALSE, FALSE);
            EndPaint(hDlg, &ps);
        }
        result = TRUE;
        break;
    }
    case WM_CLOSE:
        TRACE_Print(TRACE_LEVEL_INFO, L"MsgDlgProc: WM_CLOSE");
        CloseStatus(FALSE);
        result = TRUE;
        break;
    case WM_COMMAND:
        TRACE_Print(TRACE_LEVEL_INFO, L"MsgDlgProc: WM_COMMAND");
        if (LOWORD(wParam) == IDC_SM_DELETE) {
            SM_SetPrinterJob(JOB_CONTROL_CANCEL);
            CloseStatus(TRUE);
            result = TRUE;
        } else if (LOWORD(wParam) == IDC_SM_CONTINUE) {
            OnContinue();
            result = TRUE;
        }
        break;
    case WM_DESTROY: {
        // The logo control does not free the bitmap it loaded from the template everywhere;
        // taking it back makes it ours to delete.
        HGDIOBJ hLogo = (HGDIOBJ)SendDlgItemMessageW(hDlg, IDC_SM_LOGO, STM_SETIMAGE, IMAGE_BITMAP, 0);
        if (hLogo)
            DeleteObject(hLogo);
        break;
    }
    case WM_NCDESTROY:
        // Destroyed with its owner: forget the handle so that the next list creates it anew.
        if (g_hStatusDlg == hDlg)
            g_hStatusDlg = NULL;
        if (s_hFontScaled) {
            DeleteObject(s_hFontScaled);
            s_hFontScaled = NULL;
        }
        break;
    }
    TRACE_FuncOut(TRACE_LEVEL_INFO);
    return result;
}
