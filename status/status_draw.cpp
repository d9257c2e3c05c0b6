// Status dialog drawing: the item table that places each fault on the printer pictures,
// the ordering of the active items over the two columns, and the pictures, frames, leader
// lines and markers.
#include "status/status.h"
#include "app/app.h"
#include "res/resource.h"
#include "util/trace.h"
#include <limits.h>
#include <math.h>
#include <stdlib.h>

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
static const COLORREF c_crCasing = RGB(0, 0, 0);
static const int      c_cchMsgText = 128;
static const int      c_cbAnsiText = 260;
// Lengths in pixels at 96 dpi, scaled to the dialog's DPI when drawn.
static const int      c_cxErase = 20;     // the cleared area's inset from the window rectangle
static const int      c_cyEraseTop = 45;
static const int      c_cyEraseBottom = 80;
static const int      c_cxDot = 8;
static const int      c_cxFrame = 2;      // the frame about a message line
static const int      c_cxPen = 1;
static const double   c_MinContrast = 3.0;

// Artwork drawn for each scale (percent); a set's resource ids are the 100 % ids plus its offset.
static const struct {
    int nPercent;
    UINT idOffset;
} c_ArtSets[] = {
    { 100, 0 }, { 125, 100 }, { 150, 200 }, { 175, 300 }, { 200, 400 }, { 250, 500 }, { 300, 600 },
};

// Colours that may stand in for the marker blue, in order of preference: the scheme's link,
// selection and button text colours (a high-contrast scheme sets all three).
static const int c_MarkerFallbacks[] = { COLOR_HOTLIGHT, COLOR_HIGHLIGHT, COLOR_BTNTEXT };

int SM_Scale(int n, UINT dpi)
{
    return MulDiv(n, (int)dpi, SM_DPI_DEFAULT);
}

UINT SM_ArtIdOffset(UINT dpi)
{
    int percent = SM_Scale(100, dpi);
    UINT best = 0;
    int bestDiff = INT_MAX;
    for (const auto& set : c_ArtSets) {
        int diff = abs(set.nPercent - percent);
        if (diff < bestDiff) {
            bestDiff = diff;
            best = set.idOffset;
        }
    }
    return best;
}

static double Luminance(COLORREF cr)
{
    const BYTE channels[3] = { GetRValue(cr), GetGValue(cr), GetBValue(cr) };
    const double weights[3] = { 0.2126, 0.7152, 0.0722 };
    double l = 0;
    for (int i = 0; i < 3; i++) {
        double c = channels[i] / 255.0;
        l += weights[i] * (c <= 0.04045 ? c / 12.92 : pow((c + 0.055) / 1.055, 2.4));
    }
    return l;
}

double SM_Contrast(COLORREF a, COLORREF b)
{
    double la = Luminance(a), lb = Luminance(b);
    return la > lb ? (la + 0.05) / (lb + 0.05) : (lb + 0.05) / (la + 0.05);
}

COLORREF SM_MarkerColour(COLORREF crFace)
{
    if (SM_Contrast(c_crMarker, crFace) >= c_MinContrast)
        return c_crMarker;
    COLORREF best = c_crMarker;
    for (int index : c_MarkerFallbacks) {
        COLORREF cr = GetSysColor(index);
        if (SM_Contrast(cr, crFace) >= c_MinContrast)
            return cr;
        if (SM_Contrast(cr, crFace) > SM_Contrast(best, crFace))
            best = cr;
    }
    return best;
}

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

void SM_PictureLayoutSized(const RECT* prcClient, int cxPicture, SM_PICTURES* pLayout)
{
    pLayout->xPicture = (prcClient->right - prcClient->left - cxPicture) / 2;
    int cyHalf = (prcClient->bottom - prcClient->top) / 2;
    pLayout->yUpper = (cyHalf - cxPicture) / 2;
    pLayout->yLower = cyHalf + pLayout->yUpper;
}

void SM_PictureLayout(const RECT* prcClient, SM_PICTURES* pLayout)
{
    SM_PictureLayoutSized(prcClient, SM_PICTURE_SIZE, pLayout);
}

BOOL SM_MarkerDot(const MsgItem* pItem, const SM_PICTURES* pLayout, UINT dpi, RECT* prcDot)
{
    if (pItem->nX <= 0 || pItem->nY <= 0)
        return FALSE;
    // The item table places the dot's corner at 96 dpi; its centre is what scales.
    const int cxDot = SM_Scale(c_cxDot, dpi);
    int yBase = IsLowerPicture(pItem) ? pLayout->yLower : pLayout->yUpper;
    prcDot->left = pLayout->xPicture + SM_Scale(pItem->nX + c_cxDot / 2, dpi) - cxDot / 2;
    prcDot->top = yBase + SM_Scale(pItem->nY + c_cxDot / 2, dpi) - cxDot / 2;
    prcDot->right = prcDot->left + cxDot;
    prcDot->bottom = prcDot->top + cxDot;
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
    SM_DrawImageSized(hdc, x, y, SM_PICTURE_SIZE, idImage, idMask, dwRop);
}

void SM_DrawImageSized(HDC hdc, int x, int y, int cxPicture, UINT idImage, UINT idMask, DWORD dwRop)
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
        RECT rc = { x, y, x + cxPicture, y + cxPicture };
        HBRUSH hbrBack = CreateSolidBrush(crBack);
        if (hbrBack) {
            FillRect(hdc, &rc, hbrBack);
            DeleteObject(hbrBack);
        }

        // Artwork of a neighbouring scale is stretched whole pixels at a time, never blended.
        int nOldMode = SetStretchBltMode(hdc, COLORONCOLOR);
        if (GetObjectW(hMask, sizeof(bm), &bm) == sizeof(bm)) {
            StretchBlt(hdc, x, y, cxPicture, cxPicture,
                       hdcMem, 0, 0, bm.bmWidth, bm.bmHeight, SRCAND);
        }

        hImage = LoadBitmapW(g_hInst, MAKEINTRESOURCEW(idImage));
        if (!hImage) {
            TRACE_Print(TRACE_LEVEL_ERROR, L"LoadBitmap Fail");
        } else {
            SelectObject(hdcMem, hImage);
            if (GetObjectW(hImage, sizeof(bm), &bm) == sizeof(bm)) {
                StretchBlt(hdc, x, y, cxPicture, cxPicture,
                           hdcMem, 0, 0, bm.bmWidth, bm.bmHeight, dwRop);
            }
        }
        if (nOldMode)
            SetStretchBltMode(hdc, nOldMode);
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

static void SelectTools(HDC hdc, COLORREF cr, int cxPen, DrawTools* pTools)
{
    pTools->hbr = CreateSolidBrush(cr);
    pTools->hpen = CreatePen(PS_SOLID, cxPen, cr);
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

// A line's text into its slot: an empty slot is hidden, so that assistive tools meet only the
// lines shown, and a slot whose text changes tells them so.
static void FillSlot(HWND hDlg, int id, LPCWSTR pszText)
{
    HWND hSlot = GetDlgItem(hDlg, id);
    if (!hSlot)
        return;
    WCHAR szOld[c_cchMsgText], szNew[c_cchMsgText];
    szOld[0] = szNew[0] = L'\0';
    GetWindowTextW(hSlot, szOld, ARRAYSIZE(szOld));
    // Emptied first: a text that does not convert leaves the slot empty.
    SetDlgItemTextW(hDlg, id, L"");
    if (pszText[0])
        SetSlotText(hDlg, id, pszText);
    GetWindowTextW(hSlot, szNew, ARRAYSIZE(szNew));
    ShowWindow(hSlot, szNew[0] ? SW_SHOWNA : SW_HIDE);
    if (wcscmp(szOld, szNew) != 0)
        NotifyWinEvent(EVENT_OBJECT_NAMECHANGE, hSlot, OBJID_CLIENT, CHILDID_SELF);
}

// A leader line from a line's frame, along the edge of the picture and across it to the dot.
static void DrawLeader(HDC hdc, POINT ptStart, int xEdge, int xDot, int yDot, int cxDot)
{
    MoveToEx(hdc, ptStart.x, ptStart.y, NULL);
    LineTo(hdc, xEdge, yDot);
    LineTo(hdc, xDot, yDot);
    RoundRect(hdc, xDot - cxDot / 2, yDot - cxDot / 2, xDot - cxDot / 2 + cxDot, yDot - cxDot / 2 + cxDot,
              cxDot, cxDot);
}

void SM_DrawStatus(HWND hDlg, HDC hdc, BOOL fErase, BOOL fSetTexts)
{
    TRACE_FuncIn(TRACE_LEVEL_INFO, L"SM_DrawStatus");
    WCHAR szText[c_cchMsgText];
    ZeroMemory(szText, sizeof(szText));

    // Everything is laid out for the dialog's DPI; at 96 dpi these are the lengths as given.
    const UINT dpi = SM_DialogDpi(hDlg);
    const int cxPicture = SM_Scale(SM_PICTURE_SIZE, dpi);
    const int cxDot = SM_Scale(c_cxDot, dpi);
    const int cxFrame = SM_Scale(c_cxFrame, dpi);
    const int cxPen = SM_Scale(c_cxPen, dpi);
    const UINT idArt = SM_ArtIdOffset(dpi);
    const COLORREF crFace = GetSysColor(COLOR_BTNFACE);
    const COLORREF crMarker = SM_MarkerColour(crFace);

    // The caller's DC comes back as it was: background mode and the clipping of a repaint.
    int nSavedDC = SaveDC(hdc);
    SetBkMode(hdc, TRANSPARENT);
    DrawTools tools;
    SelectTools(hdc, crFace, 1, &tools);

    RECT rcWindow, rcClient;
    GetWindowRect(hDlg, &rcWindow);
    MapWindowPoints(NULL, hDlg, (POINT*)&rcWindow, 2);
    GetClientRect(hDlg, &rcClient);

    SM_PICTURES layout;
    SM_PictureLayoutSized(&rcClient, cxPicture, &layout);
    int xPicture = layout.xPicture;
    int yUpper = layout.yUpper;
    int yLower = layout.yLower;

    if (fErase) {
        // The cleared area ends above the logo and the buttons, whatever the scale.
        int yEraseEnd = rcWindow.bottom - SM_Scale(c_cyEraseBottom, dpi);
        const int bottomRow[] = { IDC_SM_LOGO, IDC_SM_DELETE };
        for (int id : bottomRow) {
            RECT rc;
            if (GetControlRect(hDlg, id, &rc) && rc.top < yEraseEnd)
                yEraseEnd = rc.top;
        }
        Rectangle(hdc, rcWindow.left + SM_Scale(c_cxErase, dpi), rcWindow.top + SM_Scale(c_cyEraseTop, dpi),
                  rcWindow.right - SM_Scale(c_cxErase, dpi), yEraseEnd);
        // Frames and leader lines of the list shown before may reach past that area: the
        // slots' frames, and the band between the columns down to the lower picture's bottom.
        // No control lies in that band; the slots are refilled below anyway.
        for (int i = 0; i < IDC_SM_MSG_SLOTS; i++) {
            RECT rc;
            if (GetControlRect(hDlg, IDC_SM_MSG_FIRST + i, &rc))
                Rectangle(hdc, rc.left - cxFrame, rc.top - cxFrame, rc.right + cxFrame, rc.bottom + cxFrame);
        }
        RECT rcLeft, rcRight;
        if (GetControlRect(hDlg, IDC_SM_MSG_FIRST, &rcLeft)
            && GetControlRect(hDlg, IDC_SM_MSG_RIGHT_FIRST, &rcRight)) {
            Rectangle(hdc, rcLeft.right + cxFrame, rcLeft.top - cxFrame, rcRight.left - 1,
                      yLower + cxPicture + 1);
        }
    }
    SM_DrawImageSized(hdc, xPicture, yUpper, cxPicture, IDB_UPPER + idArt, IDB_UPPER_MASK + idArt, SRCINVERT);
    SM_DrawImageSized(hdc, xPicture, yLower, cxPicture, IDB_LOWER + idArt, IDB_LOWER_MASK + idArt, SRCINVERT);

    int list[SM_MAX_SHOWN_ITEMS];
    int n = 0;
    SM_SortXYCoordinate(list, &n);
    TRACE_Print(TRACE_LEVEL_INFO, L"SM_SortXYCoordinate::ErrorNum = %d", n);
    if (SM_UsesAltLower(list, n)) {
        SM_DrawImageSized(hdc, xPicture, yLower, cxPicture, IDB_LOWER_ALT + idArt, IDB_LOWER_MASK + idArt,
                          SRCINVERT);
    }

    // Face-colour tools out, marker ones in.
    ReleaseTools(hdc, &tools);
    SelectTools(hdc, crMarker, cxPen, &tools);

    WCHAR szSlots[IDC_SM_MSG_SLOTS][c_cchMsgText];
    ZeroMemory(szSlots, sizeof(szSlots));
    for (int k = 0; k < n; k++) {
        const MsgItem* pItem = &g_MsgItemTable[list[k]];
        int id = SM_SlotOfLine(k, n);
        BOOL fLeft = id < IDC_SM_MSG_RIGHT_FIRST;

        if (fSetTexts) {
            szText[0] = L'\0';
            SM_GetStatusMessage((DWORD)pItem->nErrCode, szText, c_cchMsgText);
            szText[c_cchMsgText - 1] = L'\0';
            lstrcpynW(szSlots[id - IDC_SM_MSG_FIRST], szText, c_cchMsgText);
        }
        RECT rc;
        if (!GetControlRect(hDlg, id, &rc))
            continue;
        if (!fSetTexts) {
            // Repainting: the slot's own text is the control's; only its frame is ours.
            ExcludeClipRect(hdc, rc.left, rc.top, rc.right, rc.bottom);
        }
        Rectangle(hdc, rc.left - cxFrame, rc.top - cxFrame, rc.right + cxFrame, rc.bottom + cxFrame);
        POINT ptStart = { fLeft ? rc.right + cxFrame : rc.left - cxFrame, rc.top + (rc.bottom - rc.top) / 2 };

        RECT rcDot;
        if (SM_MarkerDot(pItem, &layout, dpi, &rcDot)) {
            TRACE_Print(TRACE_LEVEL_INFO, L"ErrIndex=%d start.x= %d start.y = %d ",
                        k, (int)ptStart.x, (int)ptStart.y);
            int xEdge = fLeft ? xPicture : xPicture + cxPicture;
            // The dot's centre, where the line ends.
            int xDot = rcDot.left + cxDot / 2;
            int yDot = rcDot.top + cxDot / 2;
            if (crMarker != c_crMarker) {
                // A colour chosen against a dark face is light, as the artwork is: on the
                // picture the line and the dot stand on a black casing.
                DrawTools casing;
                const int cxCasing = SM_Scale(1, dpi);
                SelectTools(hdc, c_crCasing, cxPen + 2 * cxCasing, &casing);
                MoveToEx(hdc, xEdge, yDot, NULL);
                LineTo(hdc, xDot, yDot);
                const int xyCasing = cxDot / 2 + cxCasing;
                RoundRect(hdc, xDot - xyCasing, yDot - xyCasing, xDot - cxDot / 2 + cxDot + cxCasing,
                          yDot - cxDot / 2 + cxDot + cxCasing, cxDot + 2 * cxCasing, cxDot + 2 * cxCasing);
                ReleaseTools(hdc, &casing);
            }
            DrawLeader(hdc, ptStart, xEdge, xDot, yDot, cxDot);
        }
    }
    ReleaseTools(hdc, &tools);

    if (fSetTexts) {
        for (int i = 0; i < IDC_SM_MSG_SLOTS; i++)
            FillSlot(hDlg, IDC_SM_MSG_FIRST + i, szSlots[i]);
    }

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
