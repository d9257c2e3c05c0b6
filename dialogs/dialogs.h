// Job credential dialogs: the secure/storage print dialog (103) and the accounting dialog (108),
// their shared character-class check and their text table in three languages.
#pragma once
#include <windows.h>
#include "util/misc.h"

#define DLG_TEXT_ROWS       15
#define DLG_TEXT_LANGUAGES  13

// Rows of g_DialogTextTable.
#define DLG_ROW_TITLE_STORAGE     0
#define DLG_ROW_TITLE_SECURITY    1
#define DLG_ROW_SEC_ID_LABEL      2
#define DLG_ROW_SEC_ID_HELP       3
#define DLG_ROW_SEC_PWD_LABEL     4
#define DLG_ROW_SEC_PWD_HELP      5
#define DLG_ROW_SEC_REMOVEFILE    6
#define DLG_ROW_SEC_OK            7
#define DLG_ROW_TITLE_ACCOUNTING  8
#define DLG_ROW_ACT_NAME_LABEL    9
#define DLG_ROW_ACT_NAME_HELP     10
#define DLG_ROW_ACT_PWD_LABEL     11
#define DLG_ROW_ACT_PWD_HELP      12
#define DLG_ROW_ACT_OK            13
#define DLG_ROW_NOT_STORED        14  // both dialogs: the printer refused the values

// Character classes of MISC_CheckString.
#define MISC_CLASS_PRINTABLE  0   // 0x20..0x7E: the password boxes
#define MISC_CLASS_NAME       3   // digits, unaccented letters and ". - _ @ ; space #": ID and user name

// What a credential dialog's EndDialog gives its command: the values reached the printer, or not.
#define DLG_END_STORED      1
#define DLG_END_NOT_STORED  2

#define SEC_TYPE_STORAGE   1
#define SEC_TYPE_SECURITY  2

#define SEC_CCH_JOBID_LIMIT     16
#define ACT_CCH_NAME_LIMIT      28

// Row r, language index L: cell r * DLG_TEXT_LANGUAGES + L.
extern const LPCWSTR g_DialogTextTable[DLG_TEXT_ROWS * DLG_TEXT_LANGUAGES];
// The text of a row in a language column; an index outside 0..12 reads column 0.
LPCWSTR DLG_GetText(int row, LONG languageIndex);

// 1 when each of the first count units of pszText belongs to the class, else 0; count 0 gives 1.
int MISC_CheckString(LPCWSTR pszText, int count, int charClass);

// The last values that passed the check: what is written to the printer when the dialog closes.
extern WCHAR g_JobIDLast[SM_CCH_PATH];
extern WCHAR g_JobPasswordLast[SM_CCH_PATH];
extern WCHAR g_ActIDLast[SM_CCH_PATH];
extern WCHAR g_ActPasswordLast[SM_CCH_PATH];

INT_PTR CALLBACK Secure_DlgProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam);
void Secure_InitDialog(HWND hDlg);
BOOL Secure_CmdProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam);

INT_PTR CALLBACK Accounting_DlgProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam);
void Accounting_InitDialog(HWND hDlg);
BOOL Accounting_CmdProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam);
