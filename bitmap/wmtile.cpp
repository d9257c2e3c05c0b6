// Tiles of watermark text: one copy drawn by the platform once, kept as each row's ink, and
// stamped wherever a copy goes.
#include "bitmap/wmtile.h"
#include "util/trace.h"
#include <math.h>
#include <string.h>

// The rotated text cell of a copy drawn at (x, y), the text's top-left corner.
static void CellBounds(int x, int y, int tcx, int tcy, double a, RECT* prc)
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

BOOL WM_LayOutText(HDC hdc, LPCWSTR pszText, int cch, WM_TEXT_LAYOUT* pLayout)
{
    ZeroMemory(pLayout, sizeof(*pLayout));
    pLayout->pszText = pszText;
    pLayout->cch = cch;
    HFONT hFont = (HFONT)GetCurrentObject(hdc, OBJ_FONT);
    LOGFONTW lf;
    TEXTMETRICW tm;
    if (!hFont || cch <= 0 || GetObjectW(hFont, sizeof(lf), &lf) != sizeof(lf) ||
        !GetTextExtentPoint32W(hdc, pszText, cch, &pLayout->ext) || !GetTextMetricsW(hdc, &tm))
        return FALSE;
    // The cell turned counter-clockwise on a y-down page: the baseline runs along (cos a, -sin a),
    // the cell's height along (sin a, cos a). Raster fonts are not turned.
    pLayout->a = lf.lfEscapement * WM_PI / 1800;
    CellBounds(0, 0, pLayout->ext.cx, pLayout->ext.cy, pLayout->a, &pLayout->rcCell);
    double a = (tm.tmPitchAndFamily & TMPF_VECTOR) ? pLayout->a : 0;
    pLayout->xAlign = a != 0 ? tm.tmAscent * sin(a) : 0;
    pLayout->yAlign = a != 0 ? tm.tmAscent * cos(a) : tm.tmAscent;
    return TRUE;
}

POINT WM_BaselineStart(const WM_TEXT_LAYOUT* pLayout, int x, int y)
{
    POINT pt = { (int)(x + pLayout->xAlign), (int)(y + pLayout->yAlign) };
    return pt;
}

// A reference point coordinate whose baseline start is cut to `start` (every start has one).
static int ReferenceFor(int start, double align)
{
    int r = start - (int)floor(align);
    for (int i = 0; i < 3 && (int)(r + align) != start; i++)
        r += start - (int)(r + align);
    return r;
}

// First and one past the last byte of a row that is not all white; first == last when none.
static void RowInkBytes(const BYTE* row, int cb, int* pFirst, int* pLast)
{
    static const unsigned long long c_White = 0;
    int first = 0, last = cb;
    while (first + 8 <= cb) {
        unsigned long long w;
        memcpy(&w, row + first, 8);
        if (w != c_White)
            break;
        first += 8;
    }
    while (first < cb && row[first] == 0)
        first++;
    while (last - 8 >= first) {
        unsigned long long w;
        memcpy(&w, row + last - 8, 8);
        if (w != c_White)
            break;
        last -= 8;
    }
    while (last > first && row[last - 1] == 0)
        last--;
    *pFirst = first;
    *pLast = last;
}

int WM_StripRowCount(int stride)
{
    int cRows = (int)(WM_CB_STRIP / (size_t)stride);
    return cRows > 0 ? cRows : 1;
}

HBITMAP WM_CreateRowsBitmap(HDC hdc, int cx, int cy, BYTE** ppBits, BOOL fWhiteZero)
{
    struct { BITMAPINFOHEADER bmiHeader; RGBQUAD bmiColors[2]; } bmi;
    iBitmap_FillInfoHeader(&bmi.bmiHeader, 1, 600, cx, cy, (DWORD)iBitmap_GetRowBytes(1, cx) * (DWORD)cy);
    iBitmap_FillPalette(reinterpret_cast<BITMAPINFO*>(&bmi), 1);
    if (fWhiteZero) {
        RGBQUAD t = bmi.bmiColors[0];
        bmi.bmiColors[0] = bmi.bmiColors[1];
        bmi.bmiColors[1] = t;
    }
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
// that are white past the tile's width: each row's span and the bytes that hold it, copied or
// (rows that stay) in place.
static BOOL KeepTileRows(WM_TEXT_TILE* pTile, BYTE* pSrc, int strideSrc, int yTile, int cRows, BOOL fInPlace)
{
    int cbUsed = (pTile->rcTile.right - pTile->rcTile.left + 7) / 8;
    for (int i = 0; i < cRows; i++) {
        BYTE* row = pSrc + (size_t)(cRows - 1 - i) * strideSrc;
        WM_TILE_ROW* pRow = &pTile->pRows[yTile + i];
        int first, last;
        RowInkBytes(row, cbUsed, &first, &last);
        ZeroMemory(pRow, sizeof(*pRow));
        if (first >= last)
            continue;
        int l = first * 8, r = last * 8 - 1;
        while (!(row[first] & (0x80 >> (l % 8))))
            l++;
        while (!(row[last - 1] & (0x80 >> (r % 8))))
            r--;
        BYTE* p = row + first;
        if (!fInPlace) {
            p = TileBytes(pTile, (size_t)(last - first));
            if (!p)
                return FALSE;
            memcpy(p, row + first, (size_t)(last - first));
        }
        for (int b = 0; b < last - first; b++)
            p[b] = (BYTE)~p[b];         // kept as the page has it, ink 0
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
    RECT rc = { pTile->rcTile.right - pTile->rcTile.left, -1, 0, -1 };
    for (int y = 0; y < pTile->rcTile.bottom - pTile->rcTile.top; y++) {
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
    if (pTile->hbmKept)
        DeleteObject(pTile->hbmKept);
    pTile->hbmKept = NULL;
    pTile->pRows = NULL;
    pTile->pFree = NULL;
    pTile->cbFree = 0;
    SetRectEmpty(&pTile->rcTile);
    SetRectEmpty(&pTile->rcInk);
}

// Draws the tile's rows a strip at a time into one bitmap (ink 1), each strip with the reference
// point that starts the baseline where it starts in the tile, keeping each row's ink.
static BOOL RenderTile(HDC hdc, const WM_TEXT_LAYOUT* pLayout, WM_TEXT_TILE* pTile)
{
    int cx = pTile->rcTile.right - pTile->rcTile.left, cy = pTile->rcTile.bottom - pTile->rcTile.top;
    int stride = iBitmap_GetRowBytes(1, cx);
    // One drawing where the tile is small enough (fresh memory costs more than the drawing),
    // strips of a large one.
    int cStripRows = (int)(WM_CB_TILE_STRIP / (size_t)stride);
    cStripRows = cStripRows > 0 ? cStripRows : 1;
    int cDibRows = cy < cStripRows ? cy : cStripRows;
    pTile->pRows = (WM_TILE_ROW*)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(WM_TILE_ROW) * (size_t)cy);
    BYTE* pvBits = NULL;
    HBITMAP hbm = NULL;
    BOOL fMade = FALSE;
    HDC hdcTile = pTile->pRows ? CreateCompatibleDC(hdc) : NULL;
    if (hdcTile)
        hbm = WM_CreateRowsBitmap(hdcTile, cx, cDibRows, &pvBits, TRUE);
    if (hbm) {
        HGDIOBJ hOldBitmap = SelectObject(hdcTile, hbm);
        HGDIOBJ hOldFont = SelectObject(hdcTile, GetCurrentObject(hdc, OBJ_FONT));
        SetTextColor(hdcTile, RGB(0, 0, 0));
        SetBkMode(hdcTile, TRANSPARENT);
        SetTextAlign(hdcTile, TA_LEFT | TA_TOP);
        fMade = TRUE;
        for (int y = 0; y < cy && fMade; y += cStripRows) {
            int cRows = cy - y < cStripRows ? cy - y : cStripRows;
            // The strip is drawn from the bitmap's top row, and the rows are bottom-up.
            BYTE* pRows = pvBits + (size_t)(cDibRows - cRows) * stride;
            // A fresh bitmap is white already: its memory is first touched where ink goes.
            if (cDibRows < cy)
                memset(pRows, 0, (size_t)stride * (size_t)cRows);
            POINT ptStart = { -pTile->rcTile.left, -(pTile->rcTile.top + y) };
            fMade = WM_DrawCopy(hdcTile, pLayout, ptStart) && KeepTileRows(pTile, pRows, stride, y, cRows, cy == cRows);
        }
        SelectObject(hdcTile, hOldFont);
        SelectObject(hdcTile, hOldBitmap);
        // A tile drawn in one piece is kept in its bitmap.
        if (fMade && cDibRows == cy)
            pTile->hbmKept = hbm;
        else
            DeleteObject(hbm);
    }
    if (hdcTile)
        DeleteDC(hdcTile);
    return fMade;
}

BOOL WM_DrawCopy(HDC hdc, const WM_TEXT_LAYOUT* pLayout, POINT ptStart)
{
    return ExtTextOutW(hdc, ReferenceFor(ptStart.x, pLayout->xAlign), ReferenceFor(ptStart.y, pLayout->yAlign), 0,
                       NULL, pLayout->pszText, (UINT)pLayout->cch, NULL) && GdiFlush();
}

void WM_CopyArea(const WM_TEXT_LAYOUT* pLayout, int attempt, RECT* prc)
{
    // Glyphs may reach beyond their cell (italics, overhangs): room around it, more at each attempt.
    int margin = (pLayout->ext.cy / 4 + 4) << (2 * attempt);
    *prc = pLayout->rcCell;
    InflateRect(prc, margin, margin);
    OffsetRect(prc, -(int)pLayout->xAlign, -(int)pLayout->yAlign);
}

BOOL WM_MakeTextTile(HDC hdc, const WM_TEXT_LAYOUT* pLayout, const RECT* prcNeed, WM_TEXT_TILE* pTile)
{
    ZeroMemory(pTile, sizeof(*pTile));
    // Ink that touches the edge of the room left around the cell may have been cut: the tile is
    // made again with more room.
    for (int attempt = 0; attempt < WM_TILE_ATTEMPTS; attempt++) {
        RECT rcArea;
        WM_CopyArea(pLayout, attempt, &rcArea);
        if (prcNeed && !IntersectRect(&pTile->rcTile, &rcArea, prcNeed))
            return TRUE;            // no pixel of the copy is needed
        if (!prcNeed)
            pTile->rcTile = rcArea;
        RECT* r = &pTile->rcTile;
        // Edges of the room that are not needed may cut ink.
        BOOL fOpen[4] = { r->left > rcArea.left, r->top > rcArea.top, r->right < rcArea.right,
                          r->bottom < rcArea.bottom };
        r->left -= ((r->left % 8) + 8) % 8;      // whole bytes from the start
        if ((long long)(r->right - r->left) * (r->bottom - r->top) > WM_TILE_MAX_PIXELS ||
                !RenderTile(hdc, pLayout, pTile)) {
            WM_FreeTextTile(pTile);
            return FALSE;
        }
        if (!FindTileInk(pTile))
            return TRUE;
        const RECT* k = &pTile->rcInk;
        int cx = r->right - r->left, cy = r->bottom - r->top;
        if ((k->left > 0 || fOpen[0]) && (k->top > 0 || fOpen[1]) && (k->right < cx || fOpen[2]) &&
                (k->bottom < cy || fOpen[3])) {
            TRACE_Print(TRACE_LEVEL_INFO, L"tile = %d x %d", cx, cy);
            return TRUE;
        }
        WM_FreeTextTile(pTile);
    }
    return FALSE;
}

// Row by row over each row's ink only.
void WM_StampTile(BYTE* pBits, int stride, int cRows, int yFirst, const RECT* prcPart,
                  const WM_TEXT_TILE* pTile, POINT ptStart)
{
    const int dx = ptStart.x + pTile->rcTile.left, dy = ptStart.y + pTile->rcTile.top - yFirst;
    RECT rcInk = pTile->rcInk;
    OffsetRect(&rcInk, dx, dy);
    RECT rcRows = { prcPart->left, 0, prcPart->right, cRows };
    RECT rc;
    if (!IntersectRect(&rc, &rcInk, prcPart) || !IntersectRect(&rc, &rc, &rcRows))
        return;
    const int shift = ((-dx) % 8 + 8) % 8;          // where a page byte's first pixel sits in its tile byte
    for (int y = rc.top; y < rc.bottom; y++) {
        const WM_TILE_ROW* pRow = &pTile->pRows[y - dy];
        int x0 = pRow->left + dx, x1 = pRow->right + dx;
        x0 = x0 > rc.left ? x0 : rc.left;
        x1 = x1 < rc.right ? x1 : rc.right;
        if (x0 >= x1)
            continue;
        BYTE* dst = pBits + (size_t)(cRows - 1 - y) * stride;
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

