// The secure/storage print dialog (103): a job ID, a password for secure print, and whether the
// stored job is deleted after printing, handed to the driver as printer data of g_PrinterName.
#include "dialogs/dialogs.h"
#include "dialogs/credentials.h"
#include "app/app.h"
#include "res/resource.h"
#include "util/trace.h"
#include <strsafe.h>
#include <winspool.h>

WCHAR g_JobIDLast[SM_CCH_PATH];
WCHAR g_JobPasswordLast[SM_CCH_PATH];

void Secure_InitDialog(HWND hDlg)
{
    TRACE_FuncIn(TRACE_LEVEL_INFO, L"Secure_InitDialog");
    SetFocus(GetDlgItem(hDlg, IDC_SEC_JOBID));
    SendDlgItemMessageW(hDlg, IDC_SEC_JOBID, EM_LIMITTEXT, SEC_CCH_JOBID_LIMIT, 0);
    SetDlgItemTextW(hDlg, IDC_SEC_JOBID, L"");
    SendDlgItemMessageW(hDlg, IDC_SEC_PASSWORD, EM_LIMITTEXT, SEC_CCH_JOBID_LIMIT, 0);
    SetDlgItemTextW(hDlg, IDC_SEC_PASSWORD, L"");
    CheckDlgButton(hDlg, IDC_SEC_REMOVEFILE, BST_CHECKED);

    DLG_PlaceDialog(hDlg);

    int row = g_SecurityType == SEC_TYPE_STORAGE ? DLG_ROW_TITLE_STORAGE : DLG_ROW_TITLE_SECURITY;
    SetWindowTextW(hDlg, DLG_GetText(row, g_LanguageIndex));
    if (g_SecurityType == SEC_TYPE_STORAGE) {
        // A storage print has no password; the check box keeps its checked state.
        EnableWindow(GetDlgItem(hDlg, IDC_SEC_PASSWORD), FALSE);
        EnableWindow(GetDlgItem(hDlg, IDC_SEC_REMOVEFILE), FALSE);
    }
    TRACE_FuncOut(TRACE_LEVEL_INFO);
}

static void Secure_SetTexts(HWND hDlg)
{
    static const struct { int id; int row; } c_Texts[] = {
        { IDC_SEC_JOBID_LABEL,    DLG_ROW_SEC_ID_LABEL },
        { IDC_SEC_JOBID_HELP,     DLG_ROW_SEC_ID_HELP },
        { IDC_SEC_PASSWORD_LABEL, DLG_ROW_SEC_PWD_LABEL },
        { IDC_SEC_PASSWORD_HELP,  DLG_ROW_SEC_PWD_HELP },
        { IDC_SEC_REMOVEFILE,     DLG_ROW_SEC_REMOVEFILE },
        { IDC_SEC_OK,             DLG_ROW_SEC_OK },
    };
    for (size_t i = 0; i < ARRAYSIZE(c_Texts); i++)
        SetDlgItemTextW(hDlg, c_Texts[i].id, DLG_GetText(c_Texts[i].row, g_LanguageIndex));
}

BOOL Secure_CmdProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    TRACE_FuncIn(TRACE_LEVEL_INFO, L"Secure_CmdProc");
    int id = LOWORD(wParam);
    int code = HIWORD(wParam);
    BOOL fEditNote = code == EN_KILLFOCUS || code == EN_CHANGE;
    if (id == IDC_SEC_JOBID && fEditNote) {
        DLG_CheckEditBox(hDlg, IDC_SEC_JOBID, MISC_CLASS_NAME, g_JobIDLast, ARRAYSIZE(g_JobIDLast),
                         L"JobID", FALSE);
    } else if (id == IDC_SEC_PASSWORD && fEditNote) {
        DLG_CheckEditBox(hDlg, IDC_SEC_PASSWORD, MISC_CLASS_PRINTABLE, g_JobPasswordLast,
                         ARRAYSIZE(g_JobPasswordLast), L"JobPassword", TRUE);
    } else if (id == IDC_SEC_OK) {
        DLG_TraceMaskedBox(hDlg, IDC_SEC_PASSWORD, L"JobPassword");
        PostMessageW(hDlg, WM_CLOSE, 0, 0);
    }
    TRACE_FuncOut(TRACE_LEVEL_INFO);
    return TRUE;
}

// Every close request tells the monitor "nothing to do"; the close itself is accepted only
// with an ID, and for secure print a password, and when the printer refused the values only
// once the note has said so. Returns TRUE when the dialog ended.
static BOOL Secure_OnClose(HWND hDlg)
{
    TRACE_FuncIn(TRACE_LEVEL_INFO, L"Secure_OnClose");
    DLG_WriteAliveMessage();

    BOOL fPasswordOff = !IsWindowEnabled(GetDlgItem(hDlg, IDC_SEC_PASSWORD));
    if (g_JobIDLast[0] == 0 || (!fPasswordOff && g_JobPasswordLast[0] == 0)) {
        TRACE_Print(TRACE_LEVEL_INFO, L"close refused: ID or password missing");
        TRACE_FuncOut(TRACE_LEVEL_INFO);
        return FALSE;
    }

    MISC_DebugOut(L"WM_CLOSE, %s", g_PrinterName);
    DWORD dwError = ERROR_SUCCESS;
    HANDLE hPrinter = DLG_OpenPrinter(g_PrinterName, &dwError);
    if (hPrinter) {
        MISC_DebugOut(L"SetPrinterData, SecID, %s", g_JobIDLast);
        DWORD rc = DLG_SetPrinterString(hPrinter, L"SecID", g_JobIDLast);
        if (rc != ERROR_SUCCESS)
            TRACE_Print(TRACE_LEVEL_ERROR, L"set SecID error");
        DLG_KeepError(&dwError, rc);

        // The password itself never reaches the debugger output, which any program can read.
        WCHAR szMasked[SM_CCH_PATH];
        DLG_MaskText(g_JobPasswordLast, szMasked, ARRAYSIZE(szMasked));
        MISC_DebugOut(L"SetPrinterData, SecPassWord, %s", szMasked);
        rc = DLG_SetPrinterString(hPrinter, L"SecPassWord", g_JobPasswordLast);
        if (rc != ERROR_SUCCESS)
            TRACE_Print(TRACE_LEVEL_ERROR, L"set SecPassWord error");
        DLG_KeepError(&dwError, rc);

        DWORD dwRemove = IsDlgButtonChecked(hDlg, IDC_SEC_REMOVEFILE) == BST_CHECKED ? 1 : 0;
        MISC_DebugOut(L"SetPrinterData, SecRemoveFile, %d", (int)dwRemove);
        rc = SetPrinterDataW(hPrinter, const_cast<LPWSTR>(L"SecRemoveFile"), REG_DWORD,
                             reinterpret_cast<LPBYTE>(&dwRemove), sizeof(dwRemove));
        if (rc != ERROR_SUCCESS)
            TRACE_Print(TRACE_LEVEL_ERROR, L"set SecRemoveFile error");
        DLG_KeepError(&dwError, rc);
        ClosePrinter(hPrinter);
    }
    if (!DLG_EndAfterHandOver(hDlg, IDC_SEC_NOTE, dwError)) {
        TRACE_FuncOut(TRACE_LEVEL_INFO);
        return FALSE;
    }

    // Emptied boxes first: the focus leaving a box as the dialog ends would otherwise check
    // its text again and put it back into the wiped store.
    SetDlgItemTextW(hDlg, IDC_SEC_PASSWORD, L"");
    SetDlgItemTextW(hDlg, IDC_SEC_JOBID, L"");
    SecureZeroMemory(g_JobIDLast, sizeof(g_JobIDLast));
    SecureZeroMemory(g_JobPasswordLast, sizeof(g_JobPasswordLast));
    EndDialog(hDlg, dwError == ERROR_SUCCESS ? DLG_END_STORED : DLG_END_NOT_STORED);
    TRACE_FuncOut(TRACE_LEVEL_INFO);
    return TRUE;
}

INT_PTR CALLBACK Secure_DlgProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    TRACE_FuncIn(TRACE_LEVEL_INFO, L"Secure_DlgProc");
    INT_PTR result = FALSE;
    switch (uMsg) {
    case WM_INITDIALOG:
        // FALSE keeps the focus that Secure_InitDialog gave the ID box.
        Secure_InitDialog(hDlg);
        break;
    case WM_PAINT:
        Secure_SetTexts(hDlg);
        break;
    case WM_COMMAND:
        result = Secure_CmdProc(hDlg, uMsg, wParam, lParam);
        break;
    case WM_CLOSE:
        result = Secure_OnClose(hDlg);
        break;
    default:
        break;
    }
    TRACE_FuncOut(TRACE_LEVEL_INFO);
    return result;
}
