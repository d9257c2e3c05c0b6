// The accounting dialog (108): a user name and a password, handed to the driver as the printer
// data values "ActName" and "ActPWD" of g_PrinterName.
#include "dialogs/dialogs.h"
#include "dialogs/credentials.h"
#include "app/app.h"
#include "res/resource.h"
#include "util/trace.h"
#include <strsafe.h>
#include <winspool.h>

WCHAR g_ActIDLast[SM_CCH_PATH];
WCHAR g_ActPasswordLast[SM_CCH_PATH];

void Accounting_InitDialog(HWND hDlg)
{
    TRACE_FuncIn(TRACE_LEVEL_INFO, L"Accounting_InitDialog");
    SetFocus(GetDlgItem(hDlg, IDC_ACT_NAME));
    SendDlgItemMessageW(hDlg, IDC_ACT_NAME, EM_LIMITTEXT, ACT_CCH_NAME_LIMIT, 0);
    SetDlgItemTextW(hDlg, IDC_ACT_NAME, L"");
    SendDlgItemMessageW(hDlg, IDC_ACT_PASSWORD, EM_LIMITTEXT, ACT_CCH_NAME_LIMIT, 0);
    SetDlgItemTextW(hDlg, IDC_ACT_PASSWORD, L"");
    DLG_PlaceDialog(hDlg);
    TRACE_FuncOut(TRACE_LEVEL_INFO);
}

static void Accounting_SetTexts(HWND hDlg)
{
    static const struct { int id; int row; } c_Texts[] = {
        { IDC_ACT_NAME_LABEL,     DLG_ROW_ACT_NAME_LABEL },
        { IDC_ACT_NAME_HELP,      DLG_ROW_ACT_NAME_HELP },
        { IDC_ACT_PASSWORD_LABEL, DLG_ROW_ACT_PWD_LABEL },
        { IDC_ACT_PASSWORD_HELP,  DLG_ROW_ACT_PWD_HELP },
        { IDC_ACT_OK,             DLG_ROW_ACT_OK },
    };
    SetWindowTextW(hDlg, DLG_GetText(DLG_ROW_TITLE_ACCOUNTING, g_LanguageIndex));
    for (size_t i = 0; i < ARRAYSIZE(c_Texts); i++)
        SetDlgItemTextW(hDlg, c_Texts[i].id, DLG_GetText(c_Texts[i].row, g_LanguageIndex));
}

BOOL Accounting_CmdProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    TRACE_FuncIn(TRACE_LEVEL_INFO, L"Accounting_CmdProc");
    int id = LOWORD(wParam);
    int code = HIWORD(wParam);
    BOOL fEditNote = code == EN_KILLFOCUS || code == EN_CHANGE;
    if (id == IDC_ACT_NAME && fEditNote) {
        DLG_CheckEditBox(hDlg, IDC_ACT_NAME, MISC_CLASS_NAME, g_ActIDLast, ARRAYSIZE(g_ActIDLast),
                         L"ActName", FALSE);
    } else if (id == IDC_ACT_PASSWORD && fEditNote) {
        DLG_CheckEditBox(hDlg, IDC_ACT_PASSWORD, MISC_CLASS_PRINTABLE, g_ActPasswordLast,
                         ARRAYSIZE(g_ActPasswordLast), L"ActPassword", TRUE);
    } else if (id == IDC_ACT_OK) {
        DLG_TraceMaskedBox(hDlg, IDC_ACT_PASSWORD, L"ActPassword");
        PostMessageW(hDlg, WM_CLOSE, 0, 0);
    }
    TRACE_FuncOut(TRACE_LEVEL_INFO);
    return TRUE;
}

// As for the secure print dialog: every close request writes "Message" = 1028; the close is
// accepted only with both a user name and a password.
static BOOL Accounting_OnClose(HWND hDlg)
{
    TRACE_FuncIn(TRACE_LEVEL_INFO, L"Accounting_OnClose");
    DLG_WriteAliveMessage();

    BOOL fPasswordOff = !IsWindowEnabled(GetDlgItem(hDlg, IDC_ACT_PASSWORD));
    if (g_ActIDLast[0] == 0 || (!fPasswordOff && g_ActPasswordLast[0] == 0)) {
        TRACE_Print(TRACE_LEVEL_INFO, L"close refused: user name or password missing");
        TRACE_FuncOut(TRACE_LEVEL_INFO);
        return FALSE;
    }

    DWORD dwError = ERROR_SUCCESS;
    HANDLE hPrinter = DLG_OpenPrinter(g_PrinterName, &dwError);
    if (hPrinter) {
        DWORD rc = DLG_SetPrinterString(hPrinter, L"ActName", g_ActIDLast);
        if (rc != ERROR_SUCCESS)
            TRACE_Print(TRACE_LEVEL_ERROR, L"set ActName error");
        DLG_KeepError(&dwError, rc);
        rc = DLG_SetPrinterString(hPrinter, L"ActPWD", g_ActPasswordLast);
        if (rc != ERROR_SUCCESS)
            TRACE_Print(TRACE_LEVEL_ERROR, L"set ActPWD error");
        DLG_KeepError(&dwError, rc);
        ClosePrinter(hPrinter);
    }
    if (!DLG_EndAfterHandOver(hDlg, IDC_ACT_NOTE, dwError)) {
        TRACE_FuncOut(TRACE_LEVEL_INFO);
        return FALSE;
    }

    // Emptied boxes first: the focus leaving a box as the dialog ends would otherwise check
    // its text again and put it back into the wiped store.
    SetDlgItemTextW(hDlg, IDC_ACT_PASSWORD, L"");
    SetDlgItemTextW(hDlg, IDC_ACT_NAME, L"");
    SecureZeroMemory(g_ActIDLast, sizeof(g_ActIDLast));
    SecureZeroMemory(g_ActPasswordLast, sizeof(g_ActPasswordLast));
    EndDialog(hDlg, dwError == ERROR_SUCCESS ? DLG_END_STORED : DLG_END_NOT_STORED);
    TRACE_FuncOut(TRACE_LEVEL_INFO);
    return TRUE;
}

INT_PTR CALLBACK Accounting_DlgProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    TRACE_FuncIn(TRACE_LEVEL_INFO, L"Accounting_DlgProc");
    INT_PTR result = FALSE;
    switch (uMsg) {
    case WM_INITDIALOG:
        // FALSE keeps the focus that Accounting_InitDialog gave the user name box.
        Accounting_InitDialog(hDlg);
        break;
    case WM_PAINT:
        Accounting_SetTexts(hDlg);
        break;
    case WM_COMMAND:
        result = Accounting_CmdProc(hDlg, uMsg, wParam, lParam);
        break;
    case WM_CLOSE:
        result = Accounting_OnClose(hDlg);
        break;
    default:
        break;
    }
    TRACE_FuncOut(TRACE_LEVEL_INFO);
    return result;
}
