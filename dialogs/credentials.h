// Pieces shared by the two credential dialogs (used only inside this folder).
#pragma once
#include <windows.h>

// Reads an edit box and checks its text with the class: a text that passes is copied into
// pszStore (cchStore units); one that fails is replaced by the stored text, caret at its end.
// pszName names the box in trace lines; fSecret keeps its text out of them. Returns 1 on pass.
int  DLG_CheckEditBox(HWND hDlg, int idEdit, int charClass, LPWSTR pszStore, size_t cchStore,
                      LPCWSTR pszName, BOOL fSecret);
// Centres the dialog on the desktop, topmost, without a Move command, in the foreground.
void DLG_PlaceDialog(HWND hDlg);
// Tells the monitor that nothing is asked of it: "Message" = "1028" in the exchange file.
void DLG_WriteAliveMessage(void);
#ifndef PRINTER_ACCESS_MANAGE_LIMITED
#define PRINTER_ACCESS_MANAGE_LIMITED 0x00000040    // documented since Windows 8.1
#endif
// Opens the printer with the least right that lets it take printer data; NULL when it cannot
// be opened. *pdwError (when given) gets ERROR_SUCCESS or the reason (ERROR_ACCESS_DENIED: the
// user may not administer the printer).
HANDLE DLG_OpenPrinter(LPWSTR pszPrinterName, DWORD* pdwError = NULL);
// Keeps the first failure of a hand-over in *pdwKept; a refusal outweighs any other failure.
void DLG_KeepError(DWORD* pdwKept, DWORD dwError);
// After a hand-over: FALSE when it was refused and the note (idNote) is still empty; the note
// then says so and the dialog stays. TRUE when the dialog may end.
BOOL DLG_EndAfterHandOver(HWND hDlg, int idNote, DWORD dwError);
// Writes a REG_SZ printer data value from a whole 260-unit buffer (520 bytes). Returns its result.
DWORD DLG_SetPrinterString(HANDLE hPrinter, LPCWSTR pszValueName, LPWSTR pszBuffer260);
// One asterisk per character of pszSecret (cut to the buffer), for trace and debugger lines.
void DLG_MaskText(LPCWSTR pszSecret, LPWSTR pszOut, size_t cchOut);
// Reads an edit box's text only to trace it masked; the local copy is wiped.
void DLG_TraceMaskedBox(HWND hDlg, int idEdit, LPCWSTR pszName);
