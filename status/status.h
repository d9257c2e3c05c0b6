// Printer status monitoring: what the application shell and other modules use.
#pragma once
#include <windows.h>

extern HWND g_hStatusDlg;

// Shows or updates the status dialog for a 48-slot fault list; 1 on success.
int SM_ShowPrinterStatus(HWND hWndOwner, const LONG* pErrCodes, int count);

// Status dialog (resource 102): control identifiers.
#define IDC_SM_MSG_FIRST        1001    // 1001..1006 left column, top to bottom
#define IDC_SM_MSG_RIGHT_FIRST  1007    // 1007..1012 right column
#define IDC_SM_MSG_SLOTS        12
#define IDC_SM_DELETE           1117
#define IDC_SM_GROUP            1118
#define IDC_SM_CONTINUE         1119

// Where each fault is marked on the dialog's pictures. nX and nY are the marker's top-left
// corner in the picture (0: no marker); nPicture 0 and 2 the upper picture, 1 and 3 the lower,
// and 1 also swaps in the alternative lower picture.
struct MsgItem {
    LONG nErrCode;
    LONG nX;
    LONG nY;
    LONG bGot;
    LONG nPicture;
};

#define SM_MSG_ITEMS        48
#define SM_MAX_SHOWN_ITEMS  12
#define SM_PICTURE_SIZE     170

extern MsgItem g_MsgItemTable[SM_MSG_ITEMS];

// Orders the active items (bGot) over the two columns: positions in g_MsgItemTable.
void SM_SortXYCoordinate(int pList[SM_MAX_SHOWN_ITEMS], int* pCount);
// Draws pictures, frames, texts and markers into g_hStatusDlg.
void SM_DrawMsgItem(BOOL fErase);
// The same drawing on any DC of the dialog; fSetTexts also refills the twelve slots.
void SM_DrawStatus(HWND hDlg, HDC hdc, BOOL fErase, BOOL fSetTexts);
// One masked 170 by 170 picture at (x, y).
void SM_DrawImage(HDC hdc, int x, int y, UINT idImage, UINT idMask, DWORD dwRop);
// Dialog procedure of the status dialog.
INT_PTR CALLBACK MsgDlgProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam);
