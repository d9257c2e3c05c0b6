// Pieces shared by the secure print and accounting dialogs: the checked edit boxes, the
// placement of the dialog, the exchange-file note and the printer data writes.
#include "dialogs/dialogs.h"
#include "dialogs/credentials.h"
#include "app/app.h"
#include "util/trace.h"
#include <strsafe.h>
#include <winspool.h>

int DLG_CheckEditBox(HWND hDlg, int idEdit, int charClass, LPWSTR pszStore, size_t cchStore,
                     LPCWSTR pszName, BOOL fSecret)
{
    TRACE_FuncIn(TRACE_LEVEL_INFO, L"DLG_CheckEditBox");
    WCHAR szText[SM_CCH_PATH];
    szText[0] = 0;
    GetDlgItemTextW(hDlg, idEdit, szText, ARRAYSIZE(szText));
    int cch = lstrlenW(szText);
    int pass = MISC_CheckString(szText, cch, charClass);
    if (pass) {
        // Wiped first: a shorter text must not leave the tail of a longer one behind its
        // terminator, since the whole buffer goes to the printer.
        SecureZeroMemory(pszStore, cchStore * sizeof(WCHAR));
        StringCchCopyW(pszStore, cchStore, szText);
        if (fSecret)
            TRACE_Print(TRACE_LEVEL_INFO, L"%s accepted, %d characters", pszName, cch);
        else
            TRACE_Print(TRACE_LEVEL_INFO, L"%s = %s", pszName, pszStore);
    } else {
        if (fSecret)
            TRACE_Print(TRACE_LEVEL_INFO, L"check fail, %s of %d characters", pszName, cch);
        else
            TRACE_Print(TRACE_LEVEL_INFO, L"check fail, %s = %s", pszName, szText);
        // Putting the last valid text back raises EN_CHANGE again, which then passes.
        SetDlgItemTextW(hDlg, idEdit, pszStore);
        SendDlgItemMessageW(hDlg, idEdit, EM_SETSEL, 0, -1);
        SendDlgItemMessageW(hDlg, idEdit, EM_SETSEL, (WPARAM)-1, -1);
    }
    SecureZeroMemory(szText, sizeof(szText));
    TRACE_FuncOut(TRACE_LEVEL_INFO);
    return pass;
}

void DLG_PlaceDialog(HWND hDlg)
{
    TRACE_FuncIn(TRACE_LEVEL_INFO, L"DLG_PlaceDialog");
    RECT rcDesktop = { 0, 0, 0, 0 };
    RECT rcClient = { 0, 0, 0, 0 };
    GetWindowRect(GetDesktopWindow(), &rcDesktop);
    GetClientRect(hDlg, &rcClient);
    // C++ division truncates toward zero; a dialog wider than the desktop goes to the edge.
    int x = (rcDesktop.right - rcClient.right) / 2;
    int y = (rcDesktop.bottom - rcClient.bottom) / 2;
    if (x < 0) x = 0;
    if (y < 0) y = 0;
    SetWindowPos(hDlg, HWND_TOPMOST, x, y, 0, 0, SWP_NOSIZE);

    HMENU hMenu = GetSystemMenu(hDlg, FALSE);
    if (hMenu)
        DeleteMenu(hMenu, SC_MOVE, MF_BYCOMMAND);
    SetForegroundWindow(hDlg);
    SetActiveWindow(hDlg);
    TRACE_FuncOut(TRACE_LEVEL_INFO);
}

void DLG_WriteAliveMessage(void)
{
    TRACE_FuncIn(TRACE_LEVEL_INFO, L"DLG_WriteAliveMessage");
    WCHAR szValue[16];
    MISC_Format(szValue, ARRAYSIZE(szValue), L"%d", WM_LM_ALIVE);
    if (!MISC_WriteProfileString(g_StatusIniPath, SM_SECTION_PRINTER, L"Message", szValue))
        TRACE_Print(TRACE_LEVEL_ERROR, L"write Message fail");
    TRACE_FuncOut(TRACE_LEVEL_INFO);
}

HANDLE DLG_OpenPrinter(LPWSTR pszPrinterName, DWORD* pdwError)
{
    TRACE_FuncIn(TRACE_LEVEL_INFO, L"DLG_OpenPrinter");
    // Printer data needs administration of the printer. The limited right that covers it is
    // tried first where the system knows it (Windows 8.1 and later, which report themselves as
    // 6.2 to a program that does not declare them; on Windows 8 itself it is refused and the
    // full right follows).
    static const DWORD c_Access[] = { PRINTER_ACCESS_MANAGE_LIMITED, PRINTER_ACCESS_ADMINISTER };
    size_t first = g_OSVersion >= MISC_OS_WIN8 ? 0 : 1;
    HANDLE hPrinter = NULL;
    DWORD dwError = ERROR_INVALID_PRINTER_NAME;
    if (!pszPrinterName || !pszPrinterName[0]) {
        // An empty name would open the print server itself, not a printer.
        TRACE_Print(TRACE_LEVEL_ERROR, L"no printer name");
    }
    for (size_t i = first; !hPrinter && pszPrinterName && pszPrinterName[0] && i < ARRAYSIZE(c_Access); i++) {
        PRINTER_DEFAULTSW defaults = { NULL, NULL, c_Access[i] };
        if (OpenPrinterW(pszPrinterName, &hPrinter, &defaults)) {
            dwError = ERROR_SUCCESS;
        } else {
            dwError = GetLastError();
            hPrinter = NULL;
            TRACE_Print(TRACE_LEVEL_ERROR, L"OpenPrinter %s fail, %u", pszPrinterName, (unsigned)dwError);
            if (dwError != ERROR_ACCESS_DENIED)
                break;
        }
    }
    if (pdwError)
        *pdwError = dwError;
    TRACE_FuncOut(TRACE_LEVEL_INFO);
    return hPrinter;
}

void DLG_KeepError(DWORD* pdwKept, DWORD dwError)
{
    if (dwError != ERROR_SUCCESS && (*pdwKept == ERROR_SUCCESS || dwError == ERROR_ACCESS_DENIED))
        *pdwKept = dwError;
}

BOOL DLG_EndAfterHandOver(HWND hDlg, int idNote, DWORD dwError)
{
    HWND hNote = GetDlgItem(hDlg, idNote);
    if (dwError != ERROR_ACCESS_DENIED || !hNote || GetWindowTextLengthW(hNote) > 0)
        return TRUE;
    // Refused: the note tells the user once, in the dialog's language; the next close ends the dialog.
    TRACE_Print(TRACE_LEVEL_ERROR, L"printer data refused: the values were not stored");
    SetWindowTextW(hNote, DLG_GetText(DLG_ROW_NOT_STORED, g_LanguageIndex));
    // A screen reader announces the note: the focus stays where it was.
    NotifyWinEvent(EVENT_OBJECT_NAMECHANGE, hNote, OBJID_CLIENT, CHILDID_SELF);
    NotifyWinEvent(EVENT_SYSTEM_ALERT, hNote, OBJID_CLIENT, CHILDID_SELF);
    return FALSE;
}

DWORD DLG_SetPrinterString(HANDLE hPrinter, LPCWSTR pszValueName, LPWSTR pszBuffer260)
{
    TRACE_FuncIn(TRACE_LEVEL_INFO, L"DLG_SetPrinterString");
    // The whole buffer goes, whatever the text's length: the driver reads a fixed 520 bytes.
    DWORD rc = SetPrinterDataW(hPrinter, const_cast<LPWSTR>(pszValueName), REG_SZ,
                               reinterpret_cast<LPBYTE>(pszBuffer260), SM_CCH_PATH * sizeof(WCHAR));
    TRACE_FuncOut(TRACE_LEVEL_INFO);
    return rc;
}

void DLG_MaskText(LPCWSTR pszSecret, LPWSTR pszOut, size_t cchOut)
{
    if (!pszOut || cchOut == 0)
        return;
    size_t i = 0;
    for (; pszSecret && pszSecret[i] && i + 1 < cchOut; i++)
        pszOut[i] = L'*';
    pszOut[i] = 0;
}

void DLG_TraceMaskedBox(HWND hDlg, int idEdit, LPCWSTR pszName)
{
    TRACE_FuncIn(TRACE_LEVEL_INFO, L"DLG_TraceMaskedBox");
    WCHAR szText[SM_CCH_PATH];
    WCHAR szMasked[SM_CCH_PATH];
    szText[0] = 0;
    GetDlgItemTextW(hDlg, idEdit, szText, ARRAYSIZE(szText));
    DLG_MaskText(szText, szMasked, ARRAYSIZE(szMasked));
    SecureZeroMemory(szText, sizeof(szText));
    TRACE_Print(TRACE_LEVEL_INFO, L"%s = %s", pszName, szMasked);
    TRACE_FuncOut(TRACE_LEVEL_INFO);
}
