// Printer status monitoring: what the application shell and other modules use.
#pragma once
#include <windows.h>

extern HWND g_hStatusDlg;

// Shows or updates the status dialog for a 48-slot fault list; 1 on success.
int SM_ShowPrinterStatus(HWND hWndOwner, const LONG* pErrCodes, int count);
// TRUE for a key press meant for the status dialog that came too soon after it was shown or
// updated to be the user's answer to it; the message loop drops it.
BOOL SM_IsStrayKey(const MSG* pMsg);

// Status dialog (resource 102): control identifiers.
#define IDC_SM_MSG_FIRST        1001    // 1001..1006 left column, top to bottom
#define IDC_SM_MSG_RIGHT_FIRST  1007    // 1007..1012 right column
#define IDC_SM_MSG_SLOTS        12
#define IDC_SM_DELETE           1117
#define IDC_SM_GROUP            1118
#define IDC_SM_CONTINUE         1119
#define IDC_SM_LOGO             65535

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

// Sets bGot on every item whose code is in the list (code 265 marks two), clears the rest.
void SM_MarkItems(const LONG* pErrCodes, int count);
// The slot (control id) of line k of n ordered lines: the first ceil(n/2) go left.
int  SM_SlotOfLine(int k, int n);
// TRUE when an ordered item belongs on the alternative lower picture.
BOOL SM_UsesAltLower(const int* pList, int n);
// Where the two pictures stand in a dialog client area of that size.
struct SM_PICTURES {
    int xPicture;
    int yUpper;
    int yLower;
};
void SM_PictureLayout(const RECT* prcClient, SM_PICTURES* pLayout);
// The same for pictures of that width and height (pixels).
void SM_PictureLayoutSized(const RECT* prcClient, int cxPicture, SM_PICTURES* pLayout);
// The marker dot of an item in that layout at that DPI; FALSE for an item without a marker.
BOOL SM_MarkerDot(const MsgItem* pItem, const SM_PICTURES* pLayout, UINT dpi, RECT* prcDot);

// Scaled displays: the dialog's lengths are given for 96 dpi and scaled to its DPI.
#define SM_DPI_DEFAULT      96
// The DPI the status dialog is laid out for: the last one a DPI change carried, else the window's.
UINT SM_DialogDpi(HWND hDlg);
// A length of 96 dpi at that DPI (rounded half up).
int  SM_Scale(int n, UINT dpi);
// What to add to the 100 % bitmap ids for the artwork drawn for the scale nearest that DPI.
UINT SM_ArtIdOffset(UINT dpi);
// Contrast ratio of two colours (1 to 21) by their relative luminances.
double SM_Contrast(COLORREF a, COLORREF b);
// The colour of frames, leader lines and dots on that face colour: the blue where it reaches 3 : 1,
// else the first of the scheme's link, selection and button text colours that does.
COLORREF SM_MarkerColour(COLORREF crFace);
// TRUE when the dialog offers Continue for a list with this first code.
BOOL SM_OffersContinue(LONG firstCode);
// A line's text in the message code page, as a 9x-class system shows it; the byte count (0 when
// the conversion fails). pfDefaultUsed, when given, tells whether a character did not convert.
int  SM_SlotTextToAnsi(UINT codePage, LPCWSTR pszText, char* pszAnsi, int cbAnsi, BOOL* pfDefaultUsed);
// Orders the active items (bGot) over the two columns: positions in g_MsgItemTable.
void SM_SortXYCoordinate(int pList[SM_MAX_SHOWN_ITEMS], int* pCount);
// Draws pictures, frames, texts and markers into g_hStatusDlg.
void SM_DrawMsgItem(BOOL fErase);
// The same drawing on any DC of the dialog; fSetTexts also refills the twelve slots.
void SM_DrawStatus(HWND hDlg, HDC hdc, BOOL fErase, BOOL fSetTexts);
// One masked 170 by 170 picture at (x, y).
void SM_DrawImage(HDC hdc, int x, int y, UINT idImage, UINT idMask, DWORD dwRop);
// One masked picture stretched to cxPicture by cxPicture at (x, y).
void SM_DrawImageSized(HDC hdc, int x, int y, int cxPicture, UINT idImage, UINT idMask, DWORD dwRop);
// Dialog procedure of the status dialog.
INT_PTR CALLBACK MsgDlgProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam);

// Fault codes, spooler status and job control ---------------------------------------------------

#define SM_CCH_STATUS_VALUE     260     // the "Status" value is read into 260 units
#define SM_CCH_STORE_NAME       260

// Job-action codes of a fault list.
#define SM_CODE_BUSY            112     // never stored in a list
#define SM_CODE_CANCEL_JOB      117
#define SM_CODE_RESTART_JOB     118

extern WCHAR g_StoreName[SM_CCH_STORE_NAME];   // store-job name from the last "StoreName" field
extern LONG  g_LastSpoolerStatus;               // last status word set, -1 for none
extern BOOL  g_SpoolerBusy;                     // guard of SM_SetSpoolerStatus

// Parses a "Status" value into the caller's zero-filled 48-slot list: "|"-ended fields, each a
// code (as _wtoi) or "StoreName" followed by the store-job name; 112 is dropped, codes after the
// 48th are ignored. A name found is copied to pszStoreName. Returns the number of codes stored.
DWORD SM_ParseErrCodes(LPCWSTR pszStatus, LONG* pErrCodes, LPWSTR pszStoreName, size_t cchStoreName);
// What became of one field of a "Status" value.
enum SM_FIELD_KIND {
    SM_FIELD_CODE_KEPT,             // stored in the list
    SM_FIELD_CODE_BUSY,             // 112: never stored
    SM_FIELD_CODE_PAST_LIMIT,       // a code after the 48th
    SM_FIELD_STORE_NAME,            // the name that followed a "StoreName" field
    SM_FIELD_STORE_NAME_UNENDED,    // "StoreName" with no ended name after it: ignored
    SM_FIELD_TRAILING_TEXT,         // text after the last bar
};
typedef void (*SM_FIELD_FN)(void* pContext, SM_FIELD_KIND kind, LPCWSTR pszField, size_t cchField, LONG code);
// The parser itself; pfnField (may be NULL) hears of every field in order.
DWORD SM_WalkStatusFields(LPCWSTR pszStatus, LONG* pErrCodes, LPWSTR pszStoreName, size_t cchStoreName,
                          SM_FIELD_FN pfnField, void* pContext);
// Reads "Status" from the exchange file and parses it (store name into g_StoreName); the text
// read goes to pszStatus when given.
void GetErrCode(LONG* pErrCodes, DWORD* pCount, LPWSTR pszStatus = NULL, size_t cchStatus = 0);
// The spooler status word of a fault code; FALSE when the code sets none.
BOOL SM_SpoolerStatusForCode(LONG code, DWORD* pStatus);
// A new fault list: job actions for 117 and 118, else the first code's status word and the dialog.
void SM_SetSMStatus(HWND hWnd, const LONG* pErrCodes, DWORD count);
int  SM_SetSpoolerStatusByCode(LONG code);
int  SM_SetSpoolerStatus(DWORD dwStatus, DWORD dwCommand);
int  SM_ResetSpoolerStatus(void);
// JOB_CONTROL_CANCEL or JOB_CONTROL_RESTART on the job named by "JobID"; 1 when the spooler took it.
int  SM_SetPrinterJob(DWORD dwCommand);
// The printer's queue (first job 0, at most 255) at level 1 or 2, in a buffer to free() (also on
// FALSE, when it is NULL). The size is learned again when the queue grew before it was read.
BOOL SM_EnumJobs(HANDLE hPrinter, DWORD dwLevel, BYTE** ppJobs, DWORD* pcReturned);

// Message catalogue -------------------------------------------------------------------------------

#define SM_CATALOGUE_ENTRIES    48
#define SM_CCH_MESSAGE          128     // texts are read into 128 units (127 characters)
#define SM_CODE_STORE_NAME_CHANGED 277

struct SM_CATALOGUE_ENTRY {
    DWORD dwErrCode;
    LPCWSTR pszKey;         // "msg001" .. "msg048" in section "string" of smen.ini
    LPCWSTR pszDefault;
};
extern const SM_CATALOGUE_ENTRY g_Catalogue[SM_CATALOGUE_ENTRIES];

// The text of a fault code (localised from smen.ini, else the default), cut to cchBuf units.
void SM_GetStatusMessage(DWORD dwErrCode, LPWSTR pszBuf, DWORD cchBuf);

// Printer wake-up job ----------------------------------------------------------------------------

// Sends the bytes, 512 zero bytes and the bytes again as a raw job "PreHeat" to an online USB
// printer that has no such job queued. 1 when sent or already queued, else 0.
int SM_SendPreHeatJob(LPCWSTR pszPrinterName, const BYTE* pData, DWORD cbData);
// 1 when a job of the printer's queue has the document name (compared without case).
int SM_IsJobInQueue(HANDLE hPrinter, LPCWSTR pszDocName);
