// Tiles of watermark text: one copy rasterised (or taken from the page) once, kept as each row's
// ink, and stamped wherever a copy goes.
#include "bitmap/wmtile.h"
#include "util/trace.h"
#include <math.h>
#include <string.h>

// The rotated text cell of a copy drawn at (x, y), the text's top-left corner.
void WM_CellBounds(int x, int y, int tcx, int tcy, double a, RECT* prc)
{
    const double c = cos(a), s = sin(a);
    const double xs[4] = { 0, tcx * c, tcy * s, tcx * c + tcy * s };
    const double ys[4] = { 0, -tcx * s, tcy * c, -tcx * s + tcy * c };
    double x0 = xs[0], x1 = xs[0], y0 = ys[0], y1 = ys[0];
    for (int i = 1; i < 4; i++) {
        x0 = xs[i] < x0 ? xs[i] : x0;
        x1 = xs[i] > x1 ? xs[i] : x1;
        y0 = ys[i] < y0 ? ys[i] : y0;
        y1 = ys[i] > y1 ? ys[i] : y1;
    }
    SetRect(prc, x + (int)floor(x0), y + (int)floor(y0), x + (int)ceil(x1), y + (int)ceil(y1));
}

// First and one past the last byte of a row that is not all white; first == last when none.
static void RowInkBytes(const BYTE* row, int cb, int* pFirst, int* pLast)
{
    static const unsigned long long c_White = ~0ULL;
    int first = 0, last = cb;
    while (first + 8 <= cb) {
        unsigned long long w;
        memcpy(&w, row + first, 8);
        if (w != c_White)
            break;
        first += 8;
    }
    while (first < cb && row[first] == 0xFF)
        first++;
    while (last - 8 >= first) {
        unsigned long long w;
        memcpy(&w, row + last - 8, 8);
        if (w != c_White)
            break;
        last -= 8;
    }
    while (last > first && row[last - 1] == 0xFF)
        last--;
    *pFirst = first;
    *pLast = last;
}

// Where the platform starts the baseline of a copy drawn at (x, y), from the reference point:
// the point moved by the alignment along the turned vertical, each coordinate cut to a whole
// pixel toward zero. A start left of or above the origin is cut the other way, and near a right
// angle so is one where a coordinate's magnitude leaves no room for the turn's rounding error;
// the glyphs are then placed from the start, the same at every start.
POINT WM_BaselineShift(const WM_TEXT_TILE* pTile, int x, int y)
{
    int xStart = (int)(x + pTile->cyAlign * pTile->sinEsc);
    int yStart = (int)(y + pTile->cyAlign * pTile->cosEsc);
    POINT pt = { xStart - x, yStart - y };
    return pt;
}

// The strip that ends before row yEnd: it starts on the last row yFirst + k * cStripRows below
// yEnd where moving the window origin there keeps the centred copy's baseline start (no layout:
// any such row; yFirst itself is taken as it comes).
int WM_StripStart(const WM_TEXT_TILE* pLayout, POINT ptCopy, POINT ptShift, int yFirst, int yEnd,
                      int cStripRows)
{
    int y = yFirst + (yEnd - 1 - yFirst) / cStripRows * cStripRows;
    for (; pLayout && y > yFirst; y -= cStripRows) {
        POINT pt = WM_BaselineShift(pLayout, ptCopy.x, ptCopy.y - y);
        if (pt.x == ptShift.x && pt.y == ptShift.y)
            break;
    }
    return y;
}

int WM_StripRowCount(int stride)
{
    int cRows = (int)(WM_CB_STRIP / (size_t)stride);
    return cRows > 0 ? cRows : 1;
}

int WM_TallestStrip(const WM_TEXT_TILE* pLayout, POINT ptCopy, POINT ptShift, int yFirst, int yEnd, int cStripRows)
{
    int cTallest = 0;
    for (int y = yEnd; y > yFirst;) {
        int yStrip = WM_StripStart(pLayout, ptCopy, ptShift, yFirst, y, cStripRows);
        cTallest = y - yStrip > cTallest ? y - yStrip : cTallest;
        y = yStrip;
    }
    return cTallest;
}

BYTE* WM_StripRows(BYTE* pBits, int stride, int cBitmapRows, int cRows)
{
    // The strip is drawn from the bitmap's top row, and the rows are bottom-up.
    return pBits + (size_t)(cBitmapRows - cRows) * stride;
}

HBITMAP WM_CreateRowsBitmap(HDC hdc, int cx, int cy, BYTE** ppBits)
{
    struct { BITMAPINFOHEADER bmiHeader; RGBQUAD bmiColors[2]; } bmi;
    iBitmap_FillInfoHeader(&bmi.bmiHeader, 1, 600, cx, cy, (DWORD)iBitmap_GetRowBytes(1, cx) * (DWORD)cy);
    iBitmap_FillPalette(reinterpret_cast<BITMAPINFO*>(&bmi), 1);
    void* pvBits = NULL;
    HBITMAP hbm = CreateDIBSection(hdc, reinterpret_cast<BITMAPINFO*>(&bmi), DIB_RGB_COLORS, &pvBits, NULL, 0);
    if (hbm && !pvBits) {
        DeleteObject(hbm);
        hbm = NULL;
    }
    *ppBits = (BYTE*)pvBits;
    return hbm;
}

static const size_t c_cbTileChunk = 64 * 1024;

// Room for cb more bytes of kept rows (a row never spans two chunks); NULL without memory.
static BYTE* TileBytes(WM_TEXT_TILE* pTile, size_t cb)
{
    if (cb > pTile->cbFree) {
        size_t cbChunk = sizeof(BYTE*) + (cb > c_cbTileChunk ? cb : c_cbTileChunk);
        BYTE* pChunk = (BYTE*)HeapAlloc(GetProcessHeap(), 0, cbChunk);
        if (!pChunk)
            return NULL;
        memcpy(pChunk, &pTile->pChunks, sizeof(BYTE*));
        pTile->pChunks = pChunk;
        pTile->pFree = pChunk + sizeof(BYTE*);
        pTile->cbFree = cbChunk - sizeof(BYTE*);
    }
    BYTE* p = pTile->pFree;
    pTile->pFree += cb;
    pTile->cbFree -= cb;
    return p;
}

// Keeps the ink of cRows rows of the tile from its row yTile on, read from bottom-up 1-bit rows
// that are white past the tile's width: each row's span and the bytes that hold it.
static BOOL KeepTileRows(WM_TEXT_TILE* pTile, const BYTE* pSrc, int strideSrc, int yTile, int cRows)
{
    int cbUsed = (pTile->cx + 7) / 8;
    for (int i = 0; i < cRows; i++) {
        const BYTE* row = pSrc + (size_t)(cRows - 1 - i) * strideSrc;
        WM_TILE_ROW* pRow = &pTile->pRows[yTile + i];
        int first, last;
        RowInkBytes(row, cbUsed, &first, &last);
        ZeroMemory(pRow, sizeof(*pRow));
        if (first >= last)
            continue;
        int l = first * 8, r = last * 8 - 1;
        while (row[first] & (0x80 >> (l % 8)))
            l++;
        while (row[last - 1] & (0x80 >> (r % 8)))
            r--;
        BYTE* p = TileBytes(pTile, (size_t)(last - first));
        if (!p)
            return FALSE;
        memcpy(p, row + first, (size_t)(last - first));
        pRow->left = l;
        pRow->right = r + 1;
        pRow->iFirstByte = first;
        pRow->cb = last - first;
        pRow->p = p;
    }
    return TRUE;
}

// The box of the kept rows' ink; FALSE when there is none.
static BOOL FindTileInk(WM_TEXT_TILE* pTile)
{
    RECT rc = { pTile->cx, -1, 0, -1 };
    for (int y = 0; y < pTile->cy; y++) {
        const WM_TILE_ROW* pRow = &pTile->pRows[y];
        if (pRow->left >= pRow->right)
            continue;
        if (rc.top < 0)
            rc.top = y;
        rc.bottom = y + 1;
        rc.left = pRow->left < rc.left ? pRow->left : rc.left;
        rc.right = pRow->right > rc.right ? pRow->right : rc.right;
    }
    if (rc.top < 0) {
        SetRectEmpty(&pTile->rcInk);
        return FALSE;
    }
    pTile->rcInk = rc;
    return TRUE;
}

// TRUE when the tile can be stamped: it was made and holds ink.
BOOL WM_TileHasInk(const WM_TEXT_TILE* pTile)
{
    return pTile->pRows && !IsRectEmpty(&pTile->rcInk);
}

void WM_FreeTextTile(WM_TEXT_TILE* pTile)
{
    while (pTile->pChunks) {
        BYTE* pNext;
        memcpy(&pNext, pTile->pChunks, sizeof(BYTE*));
        HeapFree(GetProcessHeap(), 0, pTile->pChunks);
        pTile->pChunks = pNext;
    }
    if (pTile->pRows)
        HeapFree(GetProcessHeap(), 0, pTile->pRows);
    pTile->pRows = NULL;
    pTile->pFree = NULL;
    pTile->cbFree = 0;
    SetRectEmpty(&pTile->rcInk);
}

// Sets the tile's size and reference point and gives it its rows; FALSE without memory.
static BOOL StartTile(WM_TEXT_TILE* pTile, int cx, int cy, int xOrg, int yOrg)
{
    pTile->cx = cx;
    pTile->cy = cy;
    pTile->xOrg = xOrg;
    pTile->yOrg = yOrg;
    pTile->ptShift = WM_BaselineShift(pTile, xOrg, yOrg);
    pTile->pRows = (WM_TILE_ROW*)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(WM_TILE_ROW) * (size_t)cy);
    return pTile->pRows != NULL;
}

// Draws one copy into a white tile with room of `margin` pixels around the rotated text cell, a
// strip of rows at a time into one small bitmap (each strip starting where the copy's baseline
// start stays as in the whole tile), keeping only each row's ink; FALSE when the tile cannot be
// made.
static BOOL RenderTextTile(HDC hdc, HFONT hFont, const WM_TEXT_TILE* pLayout, const RECT* prcCell,
                           int margin, WM_TEXT_TILE* pTile)
{
    *pTile = *pLayout;
    int cx = prcCell->right - prcCell->left + 2 * margin;
    int cy = prcCell->bottom - prcCell->top + 2 * margin;
    if (cx <= 0 || cy <= 0 || (long long)cx * cy > WM_TILE_MAX_PIXELS ||
            !StartTile(pTile, cx, cy, margin - prcCell->left, margin - prcCell->top))
        return FALSE;
    int stride = iBitmap_GetRowBytes(1, cx);
    int cStripRows = WM_StripRowCount(stride);
    POINT ptOrg = { pTile->xOrg, pTile->yOrg };
    int cDibRows = WM_TallestStrip(pTile, ptOrg, pTile->ptShift, 0, cy, cStripRows);
    BYTE* pvBits = NULL;
    HBITMAP hbm = NULL;
    HGDIOBJ hOldBitmap = NULL, hOldFont = NULL;
    BOOL fMade = FALSE, fInk = FALSE;
    WM_TEXT_INK ink;
    WM_PAGE_BITS bits;
    POINT ptOffset;
    ZeroMemory(&ink, sizeof(ink));
    HDC hdcTile = CreateCompatibleDC(hdc);
    if (hdcTile)
        hbm = WM_CreateRowsBitmap(hdcTile, cx, cDibRows, &pvBits);
    if (hbm) {
        hOldBitmap = SelectObject(hdcTile, hbm);
        hOldFont = SelectObject(hdcTile, hFont);
        SetTextColor(hdcTile, GetTextColor(hdc));
        SetBkMode(hdcTile, TRANSPARENT);
        SetTextAlign(hdcTile, GetTextAlign(hdc));
        SetTextCharacterExtra(hdcTile, GetTextCharacterExtra(hdc));
        // The outline, where the text has one, is made once for all the strips.
        fInk = WM_MakeTextInk(hdcTile, ptOrg.x, ptOrg.y, pTile->pszText, pTile->cch, &ink, &bits, &ptOffset);
        fMade = TRUE;
        for (int y = cy; y > 0 && fMade;) {
            int yStrip = WM_StripStart(pTile, ptOrg, pTile->ptShift, 0, y, cStripRows);
            int cRows = y - yStrip;
            BYTE* pRows = WM_StripRows(pvBits, stride, cDibRows, cRows);
            memset(pRows, 0xFF, (size_t)stride * (size_t)cRows);
            RECT rcRows = { 0, 0, cx, cRows };
            if (fInk) {
                fMade = WM_FillTextInk(&ink, &bits, &rcRows, -yStrip);
            } else {
                SetWindowOrgEx(hdcTile, 0, yStrip, NULL);
                fMade = ExtTextOutW(hdcTile, ptOrg.x, ptOrg.y, 0, NULL, pTile->pszText, (UINT)pTile->cch, NULL);
            }
            fMade = fMade && GdiFlush() && KeepTileRows(pTile, pRows, stride, yStrip, cRows);
            y = yStrip;
        }
        SelectObject(hdcTile, hOldFont);
        SelectObject(hdcTile, hOldBitmap);
    }
    WM_FreeTextInk(&ink);
    if (hbm)
        DeleteObject(hbm);
    if (hdcTile)
        DeleteDC(hdcTile);
    if (!fMade) {
        WM_FreeTextTile(pTile);
        return FALSE;
    }
    FindTileInk(pTile);
    return TRUE;
}

// What a tile of the text in the DC's font needs before it is drawn: the text's turned cell
// around its reference point, the room left around it, and how the platform turns and aligns
// the text. FALSE when the text cannot be measured.
BOOL WM_LayOutTile(HDC hdc, LPCWSTR pszText, int cch, WM_TEXT_TILE* pLayout, RECT* prcCell, int* pMargin)
{
    ZeroMemory(pLayout, sizeof(*pLayout));
    pLayout->pszText = pszText;
    pLayout->cch = cch;
    HFONT hFont = (HFONT)GetCurrentObject(hdc, OBJ_FONT);
    LOGFONTW lf;
    SIZE ext = { 0, 0 };
    TEXTMETRICW tm;
    UINT align = GetTextAlign(hdc);
    if (!hFont || cch <= 0 || GetObjectW(hFont, sizeof(lf), &lf) != sizeof(lf) ||
        !GetTextExtentPoint32W(hdc, pszText, cch, &ext) || !GetTextMetricsW(hdc, &tm) ||
        (align & TA_UPDATECP))
        return FALSE;
    // The text cell turned by the escapement (counter-clockwise on a y-down page): the
    // baseline runs along (cos a, -sin a), the cell's height along (sin a, cos a).
    WM_CellBounds(0, 0, ext.cx, ext.cy, lf.lfEscapement * WM_PI / 1800, prcCell);
    // Glyphs may reach beyond their cell (italics, overhangs).
    *pMargin = ext.cy / 4 + 4;
    int escapement = (tm.tmPitchAndFamily & TMPF_VECTOR) ? lf.lfEscapement : 0;
    pLayout->cosEsc = 1;
    pLayout->sinEsc = 0;
    if (escapement != 0) {
        pLayout->cosEsc = cos(escapement * WM_PI / 1800);
        pLayout->sinEsc = sin(escapement * WM_PI / 1800);
    }
    // Text aligned on its right or centre is moved by its width before the start is cut.
    pLayout->fLeftAligned = (align & (TA_LEFT | TA_RIGHT | TA_CENTER)) == TA_LEFT;
    if ((align & (TA_TOP | TA_BOTTOM | TA_BASELINE)) == TA_TOP)
        pLayout->cyAlign = tm.tmAscent;
    else if ((align & (TA_TOP | TA_BOTTOM | TA_BASELINE)) == TA_BOTTOM)
        pLayout->cyAlign = -tm.tmDescent;
    return TRUE;
}

BOOL WM_MakeTextTile(HDC hdc, LPCWSTR pszText, int cch, WM_TEXT_TILE* pTile)
{
    WM_TEXT_TILE layout;
    RECT rcCell;
    int margin;
    ZeroMemory(pTile, sizeof(*pTile));
    if (!WM_LayOutTile(hdc, pszText, cch, &layout, &rcCell, &margin))
        return FALSE;
    HFONT hFont = (HFONT)GetCurrentObject(hdc, OBJ_FONT);
    // Ink that touches the tile's edge may have been cut, so the tile is made again with more
    // room.
    for (int attempt = 0; attempt < WM_TILE_ATTEMPTS; attempt++, margin *= 4) {
        if (!RenderTextTile(hdc, hFont, &layout, &rcCell, margin, pTile))
            return FALSE;
        const RECT* r = &pTile->rcInk;
        if (IsRectEmpty(r) || (r->left > 0 && r->top > 0 && r->right < pTile->cx && r->bottom < pTile->cy)) {
            size_t cbKept = 0;
            for (int y = 0; y < pTile->cy; y++)
                cbKept += (size_t)pTile->pRows[y].cb;
            TRACE_Print(TRACE_LEVEL_INFO, L"tile = %d x %d, %u bytes kept", pTile->cx, pTile->cy, (unsigned)cbKept);
            return TRUE;
        }
        WM_FreeTextTile(pTile);
    }
    return FALSE;
}

BOOL WM_GetPageBits(HDC hdc, WM_PAGE_BITS* pPage, POINT* pptOffset)
{
    DIBSECTION ds;
    HGDIOBJ hbm = GetCurrentObject(hdc, OBJ_BITMAP);
    if (!hbm || GetObjectW(hbm, sizeof(ds), &ds) != sizeof(ds) || !ds.dsBm.bmBits ||
        ds.dsBm.bmBitsPixel != 1 || ds.dsBmih.biHeight <= 0)
        return FALSE;
    RGBQUAD rgb[2];
    if (GetDIBColorTable(hdc, 0, 2, rgb) != 2 || (rgb[0].rgbRed | rgb[0].rgbGreen | rgb[0].rgbBlue) != 0 ||
        (rgb[1].rgbRed & rgb[1].rgbGreen & rgb[1].rgbBlue) != 0xFF)
        return FALSE;
    POINT ptViewport, ptWindow;
    RECT rcClip;
    if (GetMapMode(hdc) != MM_TEXT || GetGraphicsMode(hdc) != GM_COMPATIBLE ||
        !GetViewportOrgEx(hdc, &ptViewport) || !GetWindowOrgEx(hdc, &ptWindow))
        return FALSE;
    POINT ptOffset = { ptViewport.x - ptWindow.x, ptViewport.y - ptWindow.y };
    RECT rcBitmap = { 0, 0, ds.dsBm.bmWidth, ds.dsBm.bmHeight };
    OffsetRect(&rcBitmap, -ptOffset.x, -ptOffset.y);
    if ((!pptOffset && (ptOffset.x || ptOffset.y)) || GetClipBox(hdc, &rcClip) != SIMPLEREGION ||
        !EqualRect(&rcClip, &rcBitmap))
        return FALSE;
    pPage->pBits = (BYTE*)ds.dsBm.bmBits;
    pPage->stride = ds.dsBm.bmWidthBytes;
    pPage->cx = ds.dsBm.bmWidth;
    pPage->cy = ds.dsBm.bmHeight;
    if (pptOffset)
        *pptOffset = ptOffset;
    return TRUE;
}

// Ink of the tile placed at dx, dy, ANDed into the page's rows within the rectangle, row by row
// over each row's ink only.
void WM_StampBits(const WM_PAGE_BITS* pPage, const RECT* prcPart, const WM_TEXT_TILE* pTile, int dx, int dy)
{
    RECT rcInk = pTile->rcInk;
    OffsetRect(&rcInk, dx, dy);
    RECT rcPage = { 0, 0, pPage->cx, pPage->cy };
    RECT rc;
    if (!IntersectRect(&rc, &rcInk, prcPart) || !IntersectRect(&rc, &rc, &rcPage))
        return;
    const int shift = ((-dx) % 8 + 8) % 8;          // where a page byte's first pixel sits in its tile byte
    for (int y = rc.top; y < rc.bottom; y++) {
        const WM_TILE_ROW* pRow = &pTile->pRows[y - dy];
        int x0 = pRow->left + dx, x1 = pRow->right + dx;
        x0 = x0 > rc.left ? x0 : rc.left;
        x1 = x1 < rc.right ? x1 : rc.right;
        if (x0 >= x1)
            continue;
        BYTE* dst = pPage->pBits + (size_t)(pPage->cy - 1 - y) * pPage->stride;
        int jFirst = x0 / 8, jLast = (x1 - 1) / 8;
        for (int j = jFirst; j <= jLast; j++) {
            int q = (8 * j - dx - shift) / 8;       // the tile byte holding the byte's first pixel
            int i = q - pRow->iFirstByte;           // the same among the row's kept bytes
            if (j > jFirst && j + 8 < jLast && i >= 0 && i + 9 <= pRow->cb) {
                // Eight bytes at once: the pixels run most significant bit first through the
                // bytes, so the words are taken big-endian to be shifted.
                unsigned long long hi, out;
                memcpy(&hi, pRow->p + i, 8);
                hi = __builtin_bswap64(hi) << shift;
                if (shift)
                    hi |= (unsigned long long)(pRow->p[i + 8] >> (8 - shift));
                memcpy(&out, dst + j, 8);
                out &= __builtin_bswap64(hi);
                memcpy(dst + j, &out, 8);
                j += 7;
                continue;
            }
            BYTE hi = i >= 0 && i < pRow->cb ? pRow->p[i] : 0xFF;
            BYTE lo = i + 1 >= 0 && i + 1 < pRow->cb ? pRow->p[i + 1] : 0xFF;
            BYTE ink = (BYTE)((hi << shift) | (lo >> (8 - shift)));
            // Pixels of the byte outside the span keep the page's value.
            if (j == jFirst)
                ink |= (BYTE)(0xFF00u >> (x0 - 8 * j));
            if (j == jLast)
                ink |= (BYTE)(0xFFu >> (x1 - 8 * j));
            dst[j] &= ink;
        }
    }
}

// Where the tile goes for a copy at (x, y): a copy is its glyphs placed from the whole pixel
// where its baseline starts (cut by the page's edges or the clip rectangle), so the tile moves by
// the difference of the starts.
POINT WM_StampOffset(const WM_TEXT_TILE* pTile, int x, int y)
{
    POINT ptShift = WM_BaselineShift(pTile, x, y);
    POINT pt = { x + ptShift.x - pTile->xOrg - pTile->ptShift.x, y + ptShift.y - pTile->yOrg - pTile->ptShift.y };
    return pt;
}

BOOL WM_StampTextTile(HDC hdc, const RECT* prcClip, const WM_TEXT_TILE* pTile, int x, int y)
{
    WM_PAGE_BITS page;
    POINT ptShift = WM_BaselineShift(pTile, x, y);
    BOOL fCutAlike = ptShift.x == pTile->ptShift.x && ptShift.y == pTile->ptShift.y;
    if (!WM_TileHasInk(pTile) || !(fCutAlike || pTile->fLeftAligned) || !WM_GetPageBits(hdc, &page, NULL) || !GdiFlush()) {
        WM_DrawText(hdc, x, y, ETO_CLIPPED, prcClip, pTile->pszText, pTile->cch);
        return FALSE;
    }
    POINT d = WM_StampOffset(pTile, x, y);
    WM_StampBits(&page, prcClip, pTile, d.x, d.y);
    return TRUE;
}

BOOL WM_CaptureTextTile(HDC hdc, const RECT* prcClip, LPCWSTR pszText, int cch, int x, int y,
                        WM_TEXT_TILE* pTile, BOOL* pfDrawn)
{
    *pfDrawn = FALSE;
    WM_TEXT_TILE layout;
    RECT rcCell, rcArea;
    int margin;
    WM_PAGE_BITS page;
    ZeroMemory(pTile, sizeof(*pTile));
    // The cell is placed from the text's top left corner.
    if ((GetTextAlign(hdc) & (TA_CENTER | TA_BOTTOM | TA_BASELINE)) != (TA_LEFT | TA_TOP) ||
        !WM_LayOutTile(hdc, pszText, cch, &layout, &rcCell, &margin) || !WM_GetPageBits(hdc, &page, NULL))
        return FALSE;
    // The area the tile is taken from: the cell with its margin as far as the page and the clip
    // rectangle go, from a whole byte on. The cell itself must lie within them; ink that leaves
    // it and is cut there reaches the area's border, and then no tile is taken.
    RECT rcPage = { 0, 0, page.cx, page.cy }, rcOn, rcIn;
    if (!IntersectRect(&rcOn, &rcPage, prcClip))
        return FALSE;
    OffsetRect(&rcCell, x, y);
    rcArea = rcCell;
    InflateRect(&rcArea, margin, margin);
    if (!IntersectRect(&rcIn, &rcCell, &rcOn) || !EqualRect(&rcIn, &rcCell) ||
        !IntersectRect(&rcArea, &rcArea, &rcOn))
        return FALSE;
    int xBorder = rcArea.left;          // the area's left border before the byte boundary
    rcArea.left &= ~7;
    int cx = rcArea.right - rcArea.left, cy = rcArea.bottom - rcArea.top;
    if ((long long)cx * cy > WM_TILE_MAX_PIXELS)
        return FALSE;
    *pTile = layout;
    BYTE* pRow = (BYTE*)HeapAlloc(GetProcessHeap(), 0, (size_t)iBitmap_GetRowBytes(1, cx));
    if (!pRow || !StartTile(pTile, cx, cy, x - rcArea.left, y - rcArea.top)) {
        if (pRow)
            HeapFree(GetProcessHeap(), 0, pRow);
        WM_FreeTextTile(pTile);
        return FALSE;
    }
    // The copy drawn on the page starts its baseline as the page cuts it.
    pTile->ptShift = WM_BaselineShift(pTile, x, y);
    *pfDrawn = TRUE;
    BOOL fDrawn = WM_DrawText(hdc, x, y, ETO_CLIPPED, prcClip, pszText, cch) && GdiFlush();
    // The area held nothing but white before (left of its border too), so now it holds this copy
    // alone. Pixels past the area's right edge are made white, as in a fresh tile.
    int cbUsed = (cx + 7) / 8;
    BYTE lastMask = (BYTE)(0xFFu >> (cx % 8 ? cx % 8 : 8));
    for (int ty = 0; fDrawn && ty < cy; ty++) {
        const BYTE* src = page.pBits + (size_t)(page.cy - 1 - (rcArea.top + ty)) * page.stride + rcArea.left / 8;
        memcpy(pRow, src, (size_t)cbUsed);
        pRow[cbUsed - 1] |= lastMask;
        fDrawn = KeepTileRows(pTile, pRow, 0, ty, 1);
    }
    HeapFree(GetProcessHeap(), 0, pRow);
    const RECT* r = &pTile->rcInk;
    if (!fDrawn || !FindTileInk(pTile) || r->left <= xBorder - rcArea.left || r->top == 0 ||
        r->right == cx || r->bottom == cy) {
        WM_FreeTextTile(pTile);
        return FALSE;
    }
    return TRUE;
}

