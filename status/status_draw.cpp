// Status dialog drawing: the item table that places each fault on the printer pictures,
// the ordering of the active items over the two columns, and the pictures, frames, leader
// lines and markers.
#include "status/status.h"
#include "app/app.h"
#include "res/resource.h"
#include "util/trace.h"

// Items are collected in this order, and the order decides ties (276 stands before 275).
MsgItem g_MsgItemTable[SM_MSG_ITEMS] = {
    {     1,   0,   0, 0, 0 },
    {     2, 115, 118, 0, 0 },
    {     3,   0,   0, 0, 0 },
    {     4, 115, 118, 0, 0 },
    {     5,  92, 101, 0, 0 },
    {     6, 119,  90, 0, 0 },
    {     7,   0,   0, 0, 0 },
    {    32,   0,   0, 0, 0 },
    {    33,   0,   0, 0, 0 },
    {    34,   0,   0, 0, 0 },
    {    35,   0,   0, 0, 0 },
    {    48,   0,   0, 0, 0 },
    {    80,  94,  83, 0, 0 },
    {   112,   0,   0, 0, 0 },
    {   117,   0,   0, 0, 0 },
    {   118,   0,   0, 0, 0 },
    {   126,   0,   0, 0, 0 },
    { 65535,   0,   0, 0, 0 },
    {   135, 119,  88, 0, 0 },
    {   136, 119,  88, 0, 0 },
    {   256,   0,   0, 0, 0 },
    {   257,  28, 113, 0, 1 },
    {   258,   0,   0, 0, 0 },
    {   259,   0,   0, 0, 0 },
    {   260,  92,  70, 0, 0 },
    {   261,  94,  41, 0, 0 },
    {   262,  36, 132, 0, 1 },
    {   263,  76,  78, 0, 1 },
    {   264,  76, 100, 0, 1 },
    {   265,  94,  58, 0, 0 },
    {   265,  58,  88, 0, 3 },
    {   266,  74,  80, 0, 1 },
    {   267,  94,  71, 0, 0 },
    {   268,  91, 115, 0, 0 },
    {   269,  94,  71, 0, 0 },
    {   270,  91, 115, 0, 0 },
    {   271,   0,   0, 0, 0 },
    {   272,   0,   0, 0, 0 },
    {   273,   0,   0, 0, 0 },
    {   274,   0,   0, 0, 0 },
    {   276,   0,   0, 0, 0 },
    {   275,   0,   0, 0, 0 },
    {   277,   0,   0, 0, 0 },
    {   278,  91, 137, 0, 2 },
    {   279,  91, 141, 0, 2 },
    {   280,  91, 115, 0, 0 },
    {   281,  91, 137, 0, 2 },
    {   282,   0,   0, 0, 0 },
};

static const COLORREF c_crMarker = RGB(0, 0, 255);
static const int      c_cchMsgText = 128;
static const int      c_cbAnsiText = 260;
static const int      c_cxErase = 20;     // the cleared area's inset from the window rectangle
static const int      c_cyEraseTop = 45;
static const int      c_cyEraseBottom = 80;
static const int      c_cxDot = 8;

static BOOL IsLowerPicture(const MsgItem* pItem)
{
    return pItem->nPicture == 1 || pItem->nPicture == 3;
}

// Vertical key of an item: the lower picture's markers lie 180 below the upper's.
static LONG VerticalKey(int pos)
{
    const MsgItem* pItem = &g_MsgItemTable[pos];
    return IsLowerPicture(pItem) ? pItem->nY + 180 : pItem->nY;
}

static void SwapSlots(int* pList, int a, int b)
{
    int t = pList[a];
    pList[a] = pList[b];
    pList[b] = t;
}

// Orders one column by the vertical key. On equal keys the left column takes the later
// slot and the right column keeps the earlier one.
static void SortColumn(int* pList, int first, int end, BOOL fLaterWinsTies)
{
    for (int p = first; p < end; p++) {
        int cand = p;
        for (int q = p + 1; q < end; q++) {
            LONG kq = VerticalKey(pList[q]);
            LONG kc = VerticalKey(pList[cand]);
            if (fLaterWinsTies ? (kq <= kc) : (kq < kc))
                cand = q;
        }
        SwapSlots(pList, p, cand);
    }
}

void SM_MarkItems(const LONG* pErrCodes, int count)
{
    for (int i = 0; i < SM_MSG_ITEMS; i++)
        g_MsgItemTable[i].bGot = 0;
    for (int c = 0; c < count && c < SM_MAX_ERRCODES; c++) {
        for (int i = 0; i < SM_MSG_ITEMS; i++) {
            if (g_MsgItemTable[i].nErrCode == pErrCodes[c]) {
                g_MsgItemTable[i].bGot = 1;
                TRACE_Print(TRACE_LEVEL_INFO, L"SM_ShowPrinterStatus::got error code = %d",
                            (int)pErrCodes[c]);
            }
        }
    }
}

int SM_SlotOfLine(int k, int n)
{
    int left = (n + 1) / 2;
    return k < left ? IDC_SM_MSG_FIRST + k : IDC_SM_MSG_RIGHT_FIRST + (k - left);
}

BOOL SM_UsesAltLower(const int* pList, int n)
{
    for (int k = 0; k < n; k++) {
        if (g_MsgItemTable[pList[k]].nPicture == 1)
            return TRUE;
    }
    return FALSE;
}

void SM_PictureLayout(const RECT* prcClient, SM_PICTURES* pLayout)
{
    pLayout->xPicture = (prcClient->right - prcClient->left - SM_PICTURE_SIZE) / 2;
    int cyHalf = (prcClient->bottom - prcClient->top) / 2;
    pLayout->yUpper = (cyHalf - SM_PICTURE_SIZE) / 2;
    pLayout->yLower = cyHalf + pLayout->yUpper;
}

BOOL SM_MarkerDot(const MsgItem* pItem, const SM_PICTURES* pLayout, RECT* prcDot)
{
    if (pItem->nX <= 0 || pItem->nY <= 0)
        return FALSE;
    int yBase = IsLowerPicture(pItem) ? pLayout->yLower : pLayout->yUpper;
    prcDot->left = pLayout->xPicture + pItem->nX;
    prcDot->top = yBase + pItem->nY;
    prcDot->right = prcDot->left + c_cxDot;
    prcDot->bottom = prcDot->top + c_cxDot;
    return TRUE;
}

void SM_SortXYCoordinate(int pList[SM_MAX_SHOWN_ITEMS], int* pCount)
{
    TRACE_FuncIn(TRACE_LEVEL_INFO, L"SM_SortXYCoordinate");
    int n = 0;
    for (int pos = 0; pos < SM_MSG_ITEMS && n < SM_MAX_SHOWN_ITEMS; pos++) {
        if (g_MsgItemTable[pos].bGot == 1)
            pList[n++] = pos;
    }

    for (int p = 0; p < n; p++) {
        int best = p;
        for (int q = p + 1; q < n; q++) {
            if (g_MsgItemTable[pList[q]].nX < g_MsgItemTable[pList[best]].nX)
                best = q;
        }
        SwapSlots(pList, p, best);
    }

    int left = (n + 1) / 2;
    SortColumn(pList, 0, left, TRUE);
    SortColumn(pList, left, n, FALSE);

    TRACE_Print(TRACE_LEVEL_INFO, L"Index = %d", n);
    *pCount = n;
    TRACE_FuncOut(TRACE_LEVEL_INFO);
}

void SM_DrawImage(HDC hdc, int x, int y, UINT idImage, UINT idMask, DWORD dwRop)
{
    HDC hdcMem = CreateCompatibleDC(hdc);
    TRACE_FuncIn(TRACE_LEVEL_INFO, L"SM_DrawImage");
    if (!hdcMem) {
        TRACE_Print(TRACE_LEVEL_ERROR, L"CreateCompatibleDC fail!");
        TRACE_FuncOut(TRACE_LEVEL_INFO);
        return;
    }

    HGDIOBJ hOldBitmap = NULL;
    HBITMAP hImage = NULL;
    HBITMAP hMask = LoadBitmapW(g_hInst, MAKEINTRESOURCEW(idMask));
    if (!hMask) {
        TRACE_Print(TRACE_LEVEL_ERROR, L"LoadBitmap Fail");
    } else {
        BITMAP bm;
        hOldBitmap = SelectObject(hdcMem, hMask);

        // The dialog's own background under the picture. A paint DC may clip (1, 1) away.
        COLORREF crBack = GetPixel(hdc, 1, 1);
        if (crBack == CLR_INVALID)
            crBack = GetSysColor(COLOR_BTNFACE);
        RECT rc = { x, y, x + SM_PICTURE_SIZE, y + SM_PICTURE_SIZE };
        HBRUSH hbrBack = CreateSolidBrush(crBack);
        if (hbrBack) {
            FillRect(hdc, &rc, hbrBack);
            DeleteObject(hbrBack);
        }

        if (GetObjectW(hMask, sizeof(bm), &bm) == sizeof(bm)) {
            StretchBlt(hdc, x, y, SM_PICTURE_SIZE, SM_PICTURE_SIZE,
                       hdcMem, 0, 0, bm.bmWidth, bm.bmHeight, SRCAND);
        }

        hImage = LoadBitmapW(g_hInst, MAKEINTRESOURCEW(idImage));
        if (!hImage) {
            TRACE_Print(TRACE_LEVEL_ERROR, L"LoadBitmap Fail");
        } else {
            SelectObject(hdcMem, hImage);
            if (GetObjectW(hImage, sizeof(bm), &bm) == sizeof(bm)) {
                StretchBlt(hdc, x, y, SM_PICTURE_SIZE, SM_PICTURE_SIZE,
                           hdcMem, 0, 0, bm.bmWidth, bm.bmHeight, dwRop);
            }
        }
    }

    if (hOldBitmap)
        SelectObject(hdcMem, hOldBitmap);
    if (hImage)
        DeleteObject(hImage);
    if (hMask)
        DeleteObject(hMask);
    DeleteDC(hdcMem);
    TRACE_FuncOut(TRACE_LEVEL_INFO);
}

// A control's rectangle in the dialog's client coordinates.
static BOOL GetControlRect(HWND hDlg, int id, RECT* pRect)
{
    HWND hCtl = GetDlgItem(hDlg, id);
    if (!hCtl || !GetWindowRect(hCtl, pRect))
        return FALSE;
    MapWindowPoints(NULL, hDlg, (POINT*)pRect, 2);
    return TRUE;
}

int SM_SlotTextToAnsi(UINT codePage, LPCWSTR pszText, char* pszAnsi, int cbAnsi, BOOL* pfDefaultUsed)
{
    return WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, pszText, -1, pszAnsi, cbAnsi, NULL,
                               pfDefaultUsed);
}

static void SetSlotText(HWND hDlg, int id, LPCWSTR pszText)
{
    if (MISC_IsNTClass(g_OSVersion)) {
        SetDlgItemTextW(hDlg, id, pszText);
        return;
    }
    char szAnsi[c_cbAnsiText];
    ZeroMemory(szAnsi, sizeof(szAnsi));
    int cb = SM_SlotTextToAnsi(g_CodePage, pszText, szAnsi, sizeof(szAnsi), NULL);
    if (cb > 0) {
        szAnsi[sizeof(szAnsi) - 1] = '\0';
        SetDlgItemTextA(hDlg, id, szAnsi);
    }
}

// A solid pen and brush of one colour, selected into a DC until released.
struct DrawTools {
    HBRUSH hbr;
    HPEN hpen;
    HGDIOBJ hOldBrush;
    HGDIOBJ hOldPen;
};

static void SelectTools(HDC hdc, COLORREF cr, DrawTools* pTools)
{
    pTools->hbr = CreateSolidBrush(cr);
    pTools->hpen = CreatePen(PS_SOLID, 1, cr);
    pTools->hOldBrush = pTools->hbr ? SelectObject(hdc, pTools->hbr) : NULL;
    pTools->hOldPen = pTools->hpen ? SelectObject(hdc, pTools->hpen) : NULL;
}

static void ReleaseTools(HDC hdc, DrawTools* pTools)
{
    if (pTools->hOldBrush)
        SelectObject(hdc, pTools->hOldBrush);
    if (pTools->hOldPen)
        SelectObject(hdc, pTools->hOldPen);
    if (pTools->hbr)
        DeleteObject(pTools->hbr);
    if (pTools->hpen)
        DeleteObject(pTools->hpen);
    ZeroMemory(pTools, sizeof(*pTools));
}

void SM_DrawStatus(HWND hDlg, HDC hdc, BOOL fErase, BOOL fSetTexts)
{
    TRACE_FuncIn(TRACE_LEVEL_INFO, L"SM_DrawStatus");
    WCHAR szText[c_cchMsgText];
    ZeroMemory(szText, sizeof(szText));

    // The caller's DC comes back as it was: background mode and the clipping of a repaint.
    int nSavedDC = SaveDC(hdc);
    SetBkMode(hdc, TRANSPARENT);
    DrawTools tools;
    SelectTools(hdc, GetSysColor(COLOR_BTNFACE), &tools);

    RECT rcWindow, rcClient;
    GetWindowRect(hDlg, &rcWindow);
    MapWindowPoints(NULL, hDlg, (POINT*)&rcWindow, 2);
    GetClientRect(hDlg, &rcClient);

    SM_PICTURES layout;
    SM_PictureLayout(&rcClient, &layout);
    int xPicture = layout.xPicture;
    int yUpper = layout.yUpper;
    int yLower = layout.yLower;

    if (fErase) {
        Rectangle(hdc, rcWindow.left + c_cxErase, rcWindow.top + c_cyEraseTop,
                  rcWindow.right - c_cxErase, rcWindow.bottom - c_cyEraseBottom);
        // Frames and leader lines of the list shown before may reach past that area: the
        // slots' frames, and the band between the columns down to the lower picture's bottom.
        // No control lies in that band; the slots are refilled below anyway.
        for (int i = 0; i < IDC_SM_MSG_SLOTS; i++) {
            RECT rc;
            if (GetControlRect(hDlg, IDC_SM_MSG_FIRST + i, &rc))
                Rectangle(hdc, rc.left - 2, rc.top - 2, rc.right + 2, rc.bottom + 2);
        }
        RECT rcLeft, rcRight;
        if (GetControlRect(hDlg, IDC_SM_MSG_FIRST, &rcLeft)
            && GetControlRect(hDlg, IDC_SM_MSG_RIGHT_FIRST, &rcRight)) {
            Rectangle(hdc, rcLeft.right + 2, rcLeft.top - 2, rcRight.left - 1,
                      yLower + SM_PICTURE_SIZE + 1);
        }
    }
    SM_DrawImage(hdc, xPicture, yUpper, IDB_UPPER, IDB_UPPER_MASK, SRCINVERT);
    SM_DrawImage(hdc, xPicture, yLower, IDB_LOWER, IDB_LOWER_MASK, SRCINVERT);

    int list[SM_MAX_SHOWN_ITEMS];
    int n = 0;
    SM_SortXYCoordinate(list, &n);
    TRACE_Print(TRACE_LEVEL_INFO, L"SM_SortXYCoordinate::ErrorNum = %d", n);
    if (SM_UsesAltLower(list, n))
        SM_DrawImage(hdc, xPicture, yLower, IDB_LOWER_ALT, IDB_LOWER_MASK, SRCINVERT);

    // Face-colour tools out, blue ones in.
    ReleaseTools(hdc, &tools);
    SelectTools(hdc, c_crMarker, &tools);

    if (fSetTexts) {
        for (int i = 0; i < IDC_SM_MSG_SLOTS; i++)
            SetDlgItemTextW(hDlg, IDC_SM_MSG_FIRST + i, L"");
    }

    for (int k = 0; k < n; k++) {
        const MsgItem* pItem = &g_MsgItemTable[list[k]];
        int id = SM_SlotOfLine(k, n);
        BOOL fLeft = id < IDC_SM_MSG_RIGHT_FIRST;

        RECT rc;
        if (!GetControlRect(hDlg, id, &rc))
            continue;
        if (!fSetTexts) {
            // Repainting: the slot's own text is the control's; only its frame is ours.
            ExcludeClipRect(hdc, rc.left, rc.top, rc.right, rc.bottom);
        }
        Rectangle(hdc, rc.left - 2, rc.top - 2, rc.right + 2, rc.bottom + 2);
        POINT ptStart = { fLeft ? rc.right + 2 : rc.left - 2, rc.top + (rc.bottom - rc.top) / 2 };

        if (fSetTexts) {
            szText[0] = L'\0';
            SM_GetStatusMessage((DWORD)pItem->nErrCode, szText, c_cchMsgText);
            szText[c_cchMsgText - 1] = L'\0';
            SetSlotText(hDlg, id, szText);
        }

        RECT rcDot;
        if (SM_MarkerDot(pItem, &layout, &rcDot)) {
            TRACE_Print(TRACE_LEVEL_INFO, L"ErrIndex=%d start.x= %d start.y = %d ",
                        k, (int)ptStart.x, (int)ptStart.y);
            int xEdge = fLeft ? xPicture : xPicture + SM_PICTURE_SIZE;
            int xDot = rcDot.left;
            int yDot = rcDot.top;
            MoveToEx(hdc, ptStart.x, ptStart.y, NULL);
            LineTo(hdc, xEdge, yDot + c_cxDot / 2);
            LineTo(hdc, xDot + c_cxDot / 2, yDot + c_cxDot / 2);
            RoundRect(hdc, xDot, yDot, xDot + c_cxDot, yDot + c_cxDot, c_cxDot, c_cxDot);
        }
    }

    ReleaseTools(hdc, &tools);
    if (nSavedDC)
        RestoreDC(hdc, nSavedDC);
    TRACE_FuncOut(TRACE_LEVEL_INFO);
}

void SM_DrawMsgItem(BOOL fErase)
{
    HDC hdc = g_hStatusDlg ? GetDC(g_hStatusDlg) : NULL;
    TRACE_FuncIn(TRACE_LEVEL_INFO, L"SM_DrawMsgItem");
    if (!g_hStatusDlg) {
        TRACE_Print(TRACE_LEVEL_ERROR, L"dialog handle is null!");
        TRACE_FuncOut(TRACE_LEVEL_INFO);
        return;
    }
    if (!hdc) {
        TRACE_Print(TRACE_LEVEL_ERROR, L"dialog dc is null!");
        TRACE_FuncOut(TRACE_LEVEL_INFO);
        return;
    }
    SM_DrawStatus(g_hStatusDlg, hdc, fErase, TRUE);
    ReleaseDC(g_hStatusDlg, hdc);
    TRACE_FuncOut(TRACE_LEVEL_INFO);
}
