// Text watermark rendering: draws the rotated text (or the fax cover page) on a white 1-bit
// page, screens the ink with a halftone table and writes the page as a bitmap file.
#include "bitmap/bitmap.h"
#include "fax/fax.h"
#include "util/trace.h"
#include <strsafe.h>
#include <math.h>
#include <string.h>

WM_PHASE_TIMES g_WmPhaseTimes;

// Density levels by wDensity / 20 - 1.
const BYTE g_WmDensityLevel[WM_DENSITY_LEVELS] = { 30, 54, 84, 114, 150 };

static const WCHAR c_szTagRender[] = L"iBitmap_BMPCreateTextWM";
static const size_t c_cbWhiteBlock = 256 * 1024;
static const size_t c_cbStrip = 256 * 1024;        // rows of a page or tile drawn at a time
static const double c_Pi = 3.14159265358979323846;

BYTE WM_DensityLevel(WORD wDensity)
{
    int i = wDensity / 20 - 1;
    if (i < 0) i = 0;
    if (i >= WM_DENSITY_LEVELS) i = WM_DENSITY_LEVELS - 1;
    return g_WmDensityLevel[i];
}

void WM_BuildScreenPattern(const BYTE* pTable, UINT32 nTableW, UINT32 nTableH, BYTE level,
                           BYTE pPattern[WM_PATTERN_DIM][WM_PATTERN_DIM])
{
    memset(pPattern, 0, WM_PATTERN_DIM * WM_PATTERN_DIM);
    UINT32 i = 0;
    for (UINT32 r = 0; r < nTableH && r < WM_PATTERN_DIM; r++) {
        for (UINT32 b = 0; b < nTableW / 8 && b < WM_PATTERN_DIM; b++) {
            BYTE v = 0;
            for (int k = 0; k < 8; k++) {
                if (pTable[i + k] <= level)
                    v |= (BYTE)(1u << k);
            }
            pPattern[r][b] = v;
            i += 8;
        }
    }
}

// Each output byte is NOT(p AND NOT c), which is c OR NOT p: a byte of eight white pixels
// stays 0xFF by itself, so whole words can be done without a test.
void WM_ScreenRows(BYTE* pBits, int stride, int nRows,
                   const BYTE pPattern[WM_PATTERN_DIM][WM_PATTERN_DIM],
                   UINT32 nTableW, UINT32 nTableH, UINT32 iFirstRow)
{
    UINT32 cbPattern = nTableW / 8;
    if (stride <= 0 || nRows <= 0 || cbPattern == 0 || nTableH == 0)
        return;
    // NOT p laid out along a whole row, once per pattern row.
    BYTE* pMasks = (BYTE*)HeapAlloc(GetProcessHeap(), 0, (size_t)nTableH * stride);
    if (!pMasks) {
        for (int y = 0; y < nRows; y++) {
            BYTE* row = pBits + (size_t)y * stride;
            const BYTE* pat = pPattern[(iFirstRow + (UINT32)y) % nTableH];
            for (int x = 0; x < stride; x++) {
                BYTE c = row[x];
                if (c != 0xFF)
                    row[x] = (BYTE)~(pat[(UINT32)x % cbPattern] & (BYTE)~c);
            }
        }
        return;
    }
    for (UINT32 r = 0; r < nTableH; r++) {
        BYTE* m = pMasks + (size_t)r * stride;
        for (int x = 0; x < stride; x++)
            m[x] = (BYTE)~pPattern[r][(UINT32)x % cbPattern];
    }
    int cWords = stride / 8;
    for (int y = 0; y < nRows; y++) {
        BYTE* row = pBits + (size_t)y * stride;
        const BYTE* m = pMasks + (size_t)((iFirstRow + (UINT32)y) % nTableH) * stride;
        for (int w = 0; w < cWords; w++) {
            unsigned long long c, k;
            memcpy(&c, row + 8 * w, 8);
            memcpy(&k, m + 8 * w, 8);
            c |= k;
            memcpy(row + 8 * w, &c, 8);
        }
        for (int x = cWords * 8; x < stride; x++)
            row[x] |= m[x];
    }
    HeapFree(GetProcessHeap(), 0, pMasks);
}

void WM_FillRowsWhite(BYTE* pBits, int stride, int nWidth, int nRows)
{
    // White is every bit set (colour-table entry 1), written straight into the section's memory
    // at memory speed. A row's padding after the last pixel is 0, as a blit leaves it in a fresh
    // bitmap.
    int cbFull = nWidth / 8;
    int cBitsLeft = nWidth % 8;
    if (cbFull == stride) {
        memset(pBits, 0xFF, (size_t)stride * (size_t)nRows);
        return;
    }
    BYTE last = (BYTE)(0xFF00u >> cBitsLeft);
    for (int y = 0; y < nRows; y++) {
        BYTE* row = pBits + (size_t)y * stride;
        memset(row, 0xFF, (size_t)cbFull);
        if (cBitsLeft)
            row[cbFull] = last;
        int cbPixels = cbFull + (cBitsLeft ? 1 : 0);
        memset(row + cbPixels, 0, (size_t)(stride - cbPixels));
    }
}

static int CALLBACK FontCharsetProc(const LOGFONTW* plf, const TEXTMETRICW*, DWORD, LPARAM lParam)
{
    *(BYTE*)lParam = plf->lfCharSet;
    return 0;       // the first font is enough
}

HFONT CreateWatermarkFont(HDC hdc, LPCWSTR pszFace, int nHeight, WORD wStyle, int iEscapement)
{
    TRACE_FuncIn(TRACE_LEVEL_INFO, L"CreateWatermarkFont");
    WCHAR szFace[WM_FONTFACE_MAX_LEN];
    StringCchCopyW(szFace, ARRAYSIZE(szFace), pszFace ? pszFace : L"");
    BYTE charset = ANSI_CHARSET;
    if (szFace[0])
        EnumFontFamiliesW(hdc, szFace, FontCharsetProc, (LPARAM)&charset);

    int saved = SaveDC(hdc);
    SetViewportOrgEx(hdc, 0, 0, NULL);
    SetWindowOrgEx(hdc, 0, 0, NULL);
    int vertRes = GetDeviceCaps(hdc, VERTRES);
    int vertSize = GetDeviceCaps(hdc, VERTSIZE);
    int cyDpi = vertSize > 0 ? (int)(vertRes * (double)25.4f / vertSize)
                             : GetDeviceCaps(hdc, LOGPIXELSY);
    POINT pt = { 0, (LONG)((long long)cyDpi * nHeight / 72) };
    DPtoLP(hdc, &pt, 1);
    double fy = (double)(float)labs(pt.y);
    int lfHeight = (int)(fy / 10 + 0.5);
    TRACE_Print(TRACE_LEVEL_INFO, L"charset = %d, cyDpi = %d, pt.y = %d, lfHeight = %d",
                charset, cyDpi, (int)pt.y, lfHeight);
    HFONT hFont = NULL;
    if (lfHeight != 0) {
        LOGFONTW lf;
        ZeroMemory(&lf, sizeof(lf));
        lf.lfHeight = lfHeight;
        lf.lfEscapement = iEscapement;
        lf.lfWeight = (wStyle & 0x1) ? FW_BOLD : 0;
        lf.lfItalic = (wStyle & 0x2) ? 1 : 0;
        lf.lfUnderline = (wStyle & 0x4) ? 1 : 0;
        lf.lfStrikeOut = (wStyle & 0x8) ? 1 : 0;
        lf.lfCharSet = charset;
        StringCchCopyW(lf.lfFaceName, ARRAYSIZE(lf.lfFaceName), szFace);
        hFont = CreateFontIndirectW(&lf);
    }
    if (saved)
        RestoreDC(hdc, saved);
    TRACE_FuncOut(TRACE_LEVEL_INFO);
    return hFont;
}

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
static POINT BaselineShift(const WM_TEXT_TILE* pTile, int x, int y)
{
    int xStart = (int)(x + pTile->cyAlign * pTile->sinEsc);
    int yStart = (int)(y + pTile->cyAlign * pTile->cosEsc);
    POINT pt = { xStart - x, yStart - y };
    return pt;
}

// The strip that ends before row yEnd: it starts on the last row yFirst + k * cStripRows below
// yEnd where moving the window origin there keeps the centred copy's baseline start (no layout:
// any such row; yFirst itself is taken as it comes).
static int StripStart(const WM_TEXT_TILE* pLayout, POINT ptCopy, POINT ptShift, int yFirst, int yEnd,
                      int cStripRows)
{
    int y = yFirst + (yEnd - 1 - yFirst) / cStripRows * cStripRows;
    for (; pLayout && y > yFirst; y -= cStripRows) {
        POINT pt = BaselineShift(pLayout, ptCopy.x, ptCopy.y - y);
        if (pt.x == ptShift.x && pt.y == ptShift.y)
            break;
    }
    return y;
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
static BOOL TileHasInk(const WM_TEXT_TILE* pTile)
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
    pTile->ptShift = BaselineShift(pTile, xOrg, yOrg);
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
    int cStripRows = (int)(c_cbStrip / (size_t)stride) > 0 ? (int)(c_cbStrip / (size_t)stride) : 1;
    POINT ptOrg = { pTile->xOrg, pTile->yOrg };
    int cDibRows = 0;
    for (int y = cy; y > 0;) {
        int yStrip = StripStart(pTile, ptOrg, pTile->ptShift, 0, y, cStripRows);
        cDibRows = y - yStrip > cDibRows ? y - yStrip : cDibRows;
        y = yStrip;
    }
    struct { BITMAPINFOHEADER bmiHeader; RGBQUAD bmiColors[2]; } bmi;
    iBitmap_FillInfoHeader(&bmi.bmiHeader, 1, 600, cx, cDibRows, (DWORD)stride * (DWORD)cDibRows);
    iBitmap_FillPalette(reinterpret_cast<BITMAPINFO*>(&bmi), 1);
    void* pvBits = NULL;
    HBITMAP hbm = NULL;
    HGDIOBJ hOldBitmap = NULL, hOldFont = NULL;
    BOOL fMade = FALSE;
    HDC hdcTile = CreateCompatibleDC(hdc);
    if (hdcTile)
        hbm = CreateDIBSection(hdcTile, reinterpret_cast<BITMAPINFO*>(&bmi), DIB_RGB_COLORS, &pvBits, NULL, 0);
    if (hbm && pvBits) {
        hOldBitmap = SelectObject(hdcTile, hbm);
        hOldFont = SelectObject(hdcTile, hFont);
        SetTextColor(hdcTile, GetTextColor(hdc));
        SetBkMode(hdcTile, TRANSPARENT);
        SetTextAlign(hdcTile, GetTextAlign(hdc));
        SetTextCharacterExtra(hdcTile, GetTextCharacterExtra(hdc));
        fMade = TRUE;
        for (int y = cy; y > 0 && fMade;) {
            int yStrip = StripStart(pTile, ptOrg, pTile->ptShift, 0, y, cStripRows);
            int cRows = y - yStrip;
            // The strip is the bitmap's top cRows rows, that is its last cRows rows bottom-up.
            BYTE* pRows = (BYTE*)pvBits + (size_t)(cDibRows - cRows) * stride;
            memset(pRows, 0xFF, (size_t)stride * (size_t)cRows);
            SetWindowOrgEx(hdcTile, 0, yStrip, NULL);
            fMade = ExtTextOutW(hdcTile, ptOrg.x, ptOrg.y, 0, NULL, pTile->pszText, (UINT)pTile->cch, NULL) &&
                    GdiFlush() && KeepTileRows(pTile, pRows, stride, yStrip, cRows);
            y = yStrip;
        }
        SelectObject(hdcTile, hOldFont);
        SelectObject(hdcTile, hOldBitmap);
    }
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
static BOOL LayOutTile(HDC hdc, LPCWSTR pszText, int cch, WM_TEXT_TILE* pLayout, RECT* prcCell, int* pMargin)
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
    CellBounds(0, 0, ext.cx, ext.cy, lf.lfEscapement * c_Pi / 1800, prcCell);
    // Glyphs may reach beyond their cell (italics, overhangs).
    *pMargin = ext.cy / 4 + 4;
    int escapement = (tm.tmPitchAndFamily & TMPF_VECTOR) ? lf.lfEscapement : 0;
    pLayout->cosEsc = 1;
    pLayout->sinEsc = 0;
    if (escapement != 0) {
        pLayout->cosEsc = cos(escapement * c_Pi / 1800);
        pLayout->sinEsc = sin(escapement * c_Pi / 1800);
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
    if (!LayOutTile(hdc, pszText, cch, &layout, &rcCell, &margin))
        return FALSE;
    HFONT hFont = (HFONT)GetCurrentObject(hdc, OBJ_FONT);
    // Ink that touches the tile's edge may have been cut, so the tile is made again with more
    // room.
    for (int attempt = 0; attempt < WM_TILE_ATTEMPTS; attempt++, margin *= 4) {
        if (!RenderTextTile(hdc, hFont, &layout, &rcCell, margin, pTile))
            return FALSE;
        const RECT* r = &pTile->rcInk;
        if (IsRectEmpty(r) || (r->left > 0 && r->top > 0 && r->right < pTile->cx && r->bottom < pTile->cy))
            return TRUE;
        WM_FreeTextTile(pTile);
    }
    return FALSE;
}

// The bottom-up 1-bit rows behind a DC whose logical pixels are its bitmap's pixels, black 0
// and white 1, with nothing clipped: there the tile's ink can be ANDed in directly.
struct WM_PAGE_BITS {
    BYTE* pBits;
    int stride, cx, cy;
};

static BOOL GetPlainPageBits(HDC hdc, WM_PAGE_BITS* pPage)
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
        !GetViewportOrgEx(hdc, &ptViewport) || !GetWindowOrgEx(hdc, &ptWindow) ||
        ptViewport.x || ptViewport.y || ptWindow.x || ptWindow.y ||
        GetClipBox(hdc, &rcClip) != SIMPLEREGION || rcClip.left != 0 || rcClip.top != 0 ||
        rcClip.right != ds.dsBm.bmWidth || rcClip.bottom != ds.dsBm.bmHeight)
        return FALSE;
    pPage->pBits = (BYTE*)ds.dsBm.bmBits;
    pPage->stride = ds.dsBm.bmWidthBytes;
    pPage->cx = ds.dsBm.bmWidth;
    pPage->cy = ds.dsBm.bmHeight;
    return TRUE;
}

// Ink of the tile placed at dx, dy, ANDed into the page's rows within the rectangle, row by row
// over each row's ink only.
static void StampBits(const WM_PAGE_BITS* pPage, const RECT* prcPart, const WM_TEXT_TILE* pTile, int dx, int dy)
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
static POINT StampOffset(const WM_TEXT_TILE* pTile, int x, int y)
{
    POINT ptShift = BaselineShift(pTile, x, y);
    POINT pt = { x + ptShift.x - pTile->xOrg - pTile->ptShift.x, y + ptShift.y - pTile->yOrg - pTile->ptShift.y };
    return pt;
}

BOOL WM_StampTextTile(HDC hdc, const RECT* prcClip, const WM_TEXT_TILE* pTile, int x, int y)
{
    WM_PAGE_BITS page;
    POINT ptShift = BaselineShift(pTile, x, y);
    BOOL fCutAlike = ptShift.x == pTile->ptShift.x && ptShift.y == pTile->ptShift.y;
    if (!TileHasInk(pTile) || !(fCutAlike || pTile->fLeftAligned) || !GetPlainPageBits(hdc, &page) || !GdiFlush()) {
        ExtTextOutW(hdc, x, y, ETO_CLIPPED, prcClip, pTile->pszText, (UINT)pTile->cch, NULL);
        return FALSE;
    }
    POINT d = StampOffset(pTile, x, y);
    StampBits(&page, prcClip, pTile, d.x, d.y);
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
        !LayOutTile(hdc, pszText, cch, &layout, &rcCell, &margin) || !GetPlainPageBits(hdc, &page))
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
    pTile->ptShift = BaselineShift(pTile, x, y);
    *pfDrawn = TRUE;
    BOOL fDrawn = ExtTextOutW(hdc, x, y, ETO_CLIPPED, prcClip, pszText, (UINT)cch, NULL) && GdiFlush();
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

static void NoteCopy(WM_TEXT_INFO* pInfo, int x, int y, int tcx, int tcy, double a)
{
    if (!pInfo)
        return;
    RECT rc;
    CellBounds(x, y, tcx, tcy, a, &rc);
    pInfo->nCopies++;
    if (rc.left < pInfo->rcPage.left || rc.top < pInfo->rcPage.top || rc.right > pInfo->rcPage.right
        || rc.bottom > pInfo->rcPage.bottom)
        pInfo->nCopiesCut++;
}

// The realised face and the characters it has no glyph for.
static void NoteFace(HDC hdc, LPCWSTR pszText, int n, WM_TEXT_INFO* pInfo)
{
    GetTextFaceW(hdc, ARRAYSIZE(pInfo->szFaceUsed), pInfo->szFaceUsed);
    UINT cb = GetOutlineTextMetricsW(hdc, 0, NULL);
    if (cb >= sizeof(OUTLINETEXTMETRICW)) {
        OUTLINETEXTMETRICW* pOtm = (OUTLINETEXTMETRICW*)HeapAlloc(GetProcessHeap(), 0, cb);
        if (pOtm && GetOutlineTextMetricsW(hdc, cb, pOtm))
            StringCchCopyW(pInfo->szFamilyUsed, ARRAYSIZE(pInfo->szFamilyUsed),
                           (LPCWSTR)((BYTE*)pOtm + (ULONG_PTR)pOtm->otmpFamilyName));
        if (pOtm)
            HeapFree(GetProcessHeap(), 0, pOtm);
    }
    WORD glyphs[WM_TEXT_MAX_LEN];
    if (n > 0 && GetGlyphIndicesW(hdc, pszText, n, glyphs, GGI_MARK_NONEXISTING_GLYPHS) != GDI_ERROR) {
        for (int i = 0; i < n; i++) {
            if (glyphs[i] != 0xFFFF)
                continue;
            bool seen = false;
            for (int j = 0; j < pInfo->nMissing && j < WM_MISSING_MAX; j++)
                seen = seen || pInfo->wszMissing[j] == pszText[i];
            if (seen)
                continue;
            if (pInfo->nMissing < WM_MISSING_MAX)
                pInfo->wszMissing[pInfo->nMissing] = pszText[i];
            pInfo->nMissing++;
        }
    }
}

// Reference points of tiled copies, column by column from the first: each column's copies
// run down from yFirst while above yEnd, the columns right from xFirst while left of xEnd.
struct WM_TILING {
    int xFirst, yFirst, rowPitch, colPitch, xEnd, yEnd;
};

static BOOL FirstCopy(const WM_TILING* pTiling, POINT* pt)
{
    pt->x = pTiling->xFirst;
    pt->y = pTiling->yFirst;
    return TRUE;
}

static BOOL NextCopy(const WM_TILING* pTiling, POINT* pt)
{
    pt->y += pTiling->rowPitch;
    if (pt->y < pTiling->yEnd)
        return TRUE;
    pt->y = pTiling->yFirst;
    pt->x += pTiling->colPitch;
    return pt->x < pTiling->xEnd;
}

// The job's font: its face, size, style and escapement (tenths of a degree, also returned).
static HFONT CreateJobFont(HDC hdc, const TyWM* wm, int nFontSizeScale, int* pEscapement)
{
    // Kept in a full int: 288 points at twice the size and scale 2.0 would wrap in 16 bits.
    int iFontHeight = (int)wm->wFontSize * nFontSizeScale;
    *pEscapement = ((int)wm->wAngleDegree * 10) % 3600;
    WCHAR szFace[WM_FONTFACE_MAX_LEN];
    StringCchCopyNW(szFace, ARRAYSIZE(szFace), wm->wszFontFace, WM_FONTFACE_MAX_LEN - 1);
    HFONT hFont = CreateWatermarkFont(hdc, szFace, iFontHeight, wm->wStyle, *pEscapement);
    TRACE_Print(TRACE_LEVEL_INFO, L"iFontHeight = %d, iEscapement = %d, hFont = %p",
                iFontHeight, *pEscapement, hFont);
    return hFont;
}

// Where the turned text goes on a cx x cy area: its turned size, the reference point within
// that box, and the top of a centred box.
struct WM_PLACE {
    double a, C, S;            // the angle, |cos| and |sin|
    int rotCx, rotCy;
    int X0, Y0;
    int CenterH;
    POINT ptCentred;           // the reference point of the centred copy, for the area at (0, 0)
};

static void PlaceText(int iEscapement, SIZE ext, int cx, int cy, WM_PLACE* p)
{
    int tcx = ext.cx, tcy = ext.cy;
    p->a = iEscapement * c_Pi / 1800;
    p->C = fabs(cos(p->a));
    p->S = fabs(sin(p->a));
    bool fRightAngle = (iEscapement % 900) == 0;
    p->rotCx = (int)(tcx * p->C) + (fRightAngle ? (int)(p->S * tcy) : 0);
    p->rotCy = (int)(p->S * tcx) + (fRightAngle ? (int)(tcy * p->C) : 0);
    if (iEscapement <= 900) {
        p->X0 = 0;
        p->Y0 = (int)(tcx * p->S);
    } else if (iEscapement <= 1800) {
        p->X0 = (int)(tcx * p->C);
        p->Y0 = p->rotCy;
    } else if (iEscapement <= 2700) {
        p->X0 = p->rotCx;
        p->Y0 = p->rotCy - (int)(tcx * p->S);
    } else {
        p->X0 = p->rotCx - (int)(tcx * p->C);
        p->Y0 = 0;
    }
    p->CenterH = (cy - p->rotCy) / 2;
    p->ptCentred.x = p->X0 + (cx - p->rotCx) / 2;
    p->ptCentred.y = p->Y0 + p->CenterH;
    TRACE_Print(TRACE_LEVEL_INFO, L"tcx = %d, tcy = %d, rotCx = %d, rotCy = %d", tcx, tcy, p->rotCx, p->rotCy);
}

// Where the tiled copies go on the drawing rectangle; FALSE when the text leaves no room to tile.
static BOOL LayOutCopies(const RECT* prc, const WM_PLACE* pPlace, SIZE ext, int cch, WM_TILING* pTiling)
{
    int spacing = pPlace->rotCx / cch;
    double fMoveH = ext.cx;
    if (pPlace->C >= 0.001) {
        double f = (ext.cy + 1) / pPlace->C;
        fMoveH = f < ext.cx ? f : ext.cx;
    }
    int moveH = (int)fMoveH;
    if (moveH <= 0)
        return FALSE;
    int y0 = pPlace->CenterH - ((pPlace->CenterH + moveH - 1) / moveH) * moveH - pPlace->rotCy;
    int rowPitch = moveH + spacing;
    int colPitch = pPlace->rotCx + spacing;
    TRACE_Print(TRACE_LEVEL_INFO, L"tiled: y0 = %d, rowPitch = %d, colPitch = %d", y0, rowPitch, colPitch);
    pTiling->xFirst = prc->left + pPlace->X0;
    pTiling->yFirst = prc->top + pPlace->Y0 + y0;
    pTiling->rowPitch = rowPitch;
    pTiling->colPitch = colPitch;
    pTiling->xEnd = prc->left + pPlace->X0 + (prc->right - prc->left);
    pTiling->yEnd = prc->top + pPlace->Y0 + (prc->bottom - prc->top);
    return TRUE;
}

// The job's text in a context: its font selected, black, transparent, aligned at the top left,
// and its extent; EndJobText puts back what was there (safe on a zeroed or failed one).
struct WM_JOB_TEXT {
    HDC hdc;
    HFONT hFont;
    HGDIOBJ hOldFont;
    COLORREF oldColor;
    int oldBkMode;
    UINT oldAlign;
    int iEscapement;
    WCHAR szText[WM_TEXT_MAX_LEN];
    int cch;
    SIZE ext;
};

static BOOL BeginJobText(HDC hdc, const TyWM* wm, int nFontSizeScale, WM_JOB_TEXT* pText)
{
    ZeroMemory(pText, sizeof(*pText));
    pText->hFont = CreateJobFont(hdc, wm, nFontSizeScale, &pText->iEscapement);
    if (!pText->hFont)
        return FALSE;
    pText->hdc = hdc;
    pText->hOldFont = SelectObject(hdc, pText->hFont);
    pText->oldColor = SetTextColor(hdc, RGB(0, 0, 0));
    pText->oldBkMode = SetBkMode(hdc, TRANSPARENT);
    pText->oldAlign = SetTextAlign(hdc, TA_LEFT | TA_TOP);
    StringCchCopyNW(pText->szText, ARRAYSIZE(pText->szText), wm->wszText, WM_TEXT_MAX_LEN - 1);
    pText->cch = (int)wcslen(pText->szText);
    GetTextExtentPoint32W(hdc, pText->szText, pText->cch, &pText->ext);
    return TRUE;
}

static void EndJobText(WM_JOB_TEXT* pText)
{
    if (!pText->hFont)
        return;
    SetTextAlign(pText->hdc, pText->oldAlign);
    SetBkMode(pText->hdc, pText->oldBkMode);
    SetTextColor(pText->hdc, pText->oldColor);
    SelectObject(pText->hdc, pText->hOldFont);
    DeleteObject(pText->hFont);
    pText->hFont = NULL;
}

void DrawWatermarkText(HDC hdc, const RECT* prc, const WmBitmapParam* pParam, int nFontSizeScale,
                       WM_TEXT_INFO* pInfo)
{
    TRACE_FuncIn(TRACE_LEVEL_INFO, L"DrawWatermarkText");
    const TyWM* wm = &pParam->tyWM;
    int cx = prc->right - prc->left;
    int cy = prc->bottom - prc->top;
    WM_JOB_TEXT text;
    if (cx <= 0 || cy <= 0 || !BeginJobText(hdc, wm, nFontSizeScale, &text)) {
        TRACE_FuncOut(TRACE_LEVEL_INFO);
        return;
    }
    const LPCWSTR szText = text.szText;
    const int n = text.cch;
    const int tcx = text.ext.cx, tcy = text.ext.cy;
    if (pInfo) {
        pInfo->sizeText = text.ext;
        NoteFace(hdc, szText, n, pInfo);
    }

    WM_PLACE place;
    PlaceText(text.iEscapement, text.ext, cx, cy, &place);
    const double a = place.a;
    if (place.rotCx != 0 && place.rotCy != 0 && n > 0) {
        if (wm->wPlacement == 0) {
            int x = prc->left + place.ptCentred.x, y = prc->top + place.ptCentred.y;
            ExtTextOutW(hdc, x, y, ETO_CLIPPED, prc, szText, (UINT)n, NULL);
            NoteCopy(pInfo, x, y, tcx, tcy, a);
        } else {
            WM_TILING tiling;
            if (LayOutCopies(prc, &place, text.ext, n, &tiling)) {
                // Every copy is the same image: the first copy that lies wholly on the page is
                // drawn and taken as the tile, else the text is rasterised apart; the others are
                // stamped (a tile that cannot be made draws each copy).
                WM_TEXT_TILE tile;
                POINT pt, ptTaken = { 0, 0 };
                BOOL fTaken = FALSE, fDrawn = FALSE;
                for (BOOL f = FirstCopy(&tiling, &pt); f && !fDrawn; f = NextCopy(&tiling, &pt)) {
                    fTaken = WM_CaptureTextTile(hdc, prc, szText, n, pt.x, pt.y, &tile, &fDrawn);
                    ptTaken = pt;
                }
                if (!fTaken)
                    WM_MakeTextTile(hdc, szText, n, &tile);
                for (BOOL f = FirstCopy(&tiling, &pt); f; f = NextCopy(&tiling, &pt)) {
                    if (!fTaken || pt.x != ptTaken.x || pt.y != ptTaken.y)
                        WM_StampTextTile(hdc, prc, &tile, pt.x, pt.y);
                    NoteCopy(pInfo, pt.x, pt.y, tcx, tcy, a);
                }
                WM_FreeTextTile(&tile);
            }
        }
    }

    EndJobText(&text);
    TRACE_FuncOut(TRACE_LEVEL_INFO);
}

static double ElapsedMs(LARGE_INTEGER* pLast)
{
    LARGE_INTEGER now, freq;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&freq);
    double ms = (double)(now.QuadPart - pLast->QuadPart) * 1000.0 / (double)freq.QuadPart;
    *pLast = now;
    return ms;
}

int WM_FontSizeScale(float fTextScale, int nDstScale)
{
    return (int)((double)fTextScale * 69.0 * nDstScale);
}

// TRUE when a 1-bit row (white 1, its padding 0) holds ink.
static BOOL RowInked(const BYTE* pRow, int nWidth)
{
    int cbUsed = (nWidth + 7) / 8;
    BYTE padding = (BYTE)(0xFFu >> (nWidth % 8 ? nWidth % 8 : 8));
    for (int b = 0; b < cbUsed; b++) {
        if ((BYTE)(pRow[b] | (b == cbUsed - 1 ? padding : 0)) != 0xFF)
            return TRUE;
    }
    return FALSE;
}

// The screen pattern of the record's density level (HeapFree it); NULL without memory.
static BYTE (*MakeScreenPattern(const WmBitmapParam* pParam, const BYTE* pTable, UINT32 nTableW,
                                UINT32 nTableH))[WM_PATTERN_DIM]
{
    BYTE (*pPattern)[WM_PATTERN_DIM] = (BYTE(*)[WM_PATTERN_DIM])HeapAlloc(GetProcessHeap(), 0, WM_PATTERN_DIM * WM_PATTERN_DIM);
    if (!pPattern) {
        TRACE_TagError(c_szTagRender, L"alloc memory fail!");
        return NULL;
    }
    BYTE level = WM_DensityLevel(pParam->tyWM.wDensity);
    TRACE_Print(TRACE_LEVEL_INFO, L"density level = %d", level);
    WM_BuildScreenPattern(pTable, nTableW, nTableH, level, pPattern);
    return pPattern;
}

void iBitmap_FreePage(WM_PAGE* pPage)
{
    if (pPage->hOldBitmap)
        SelectObject(pPage->hdc, pPage->hOldBitmap);
    if (pPage->hbm)
        DeleteObject(pPage->hbm);
    if (pPage->hdc)
        DeleteDC(pPage->hdc);
    if (pPage->pInfo)
        GlobalUnlock(pPage->hInfo);
    if (pPage->hInfo)
        GlobalFree(pPage->hInfo);
    ZeroMemory(pPage, sizeof(*pPage));
}

// The arguments of a job as the watermark job checks them; IBMP_OK or IBMP_E_ARG.
static int CheckJob(const WmBitmapParam* pParam, int nWidth, int nHeight, int nPageDensity,
                    int nMaxPageDensity, const BYTE* pTable, UINT32 nTableW, UINT32 nTableH)
{
    if (!pParam) {
        TRACE_TagError(c_szTagRender, L"watermark record null!");
        return IBMP_E_ARG;
    }
    if (!pTable) {
        TRACE_TagError(c_szTagRender, L"halftone table null!");
        return IBMP_E_ARG;
    }
    if (nTableW < 16 || nTableW > 128 || nTableH < 16 || nTableH > 128) {
        TRACE_TagError(c_szTagRender, L"halftone table size can't accept %d x %d!", (int)nTableW, (int)nTableH);
        return IBMP_E_ARG;
    }
    if (nPageDensity <= 0 || nMaxPageDensity <= 0 || nPageDensity > nMaxPageDensity) {
        TRACE_TagError(c_szTagRender, L"density value error nPageDensity = %d!", nPageDensity);
        TRACE_TagError(c_szTagRender, L"density value error nMaxPageDensity = %d!", nMaxPageDensity);
        return IBMP_E_ARG;
    }
    // A size whose 1-bit row would not fit the 16-bit row size, or whose file would not fit the
    // 32-bit size fields, is refused before any drawing.
    if (nWidth <= 0 || nHeight <= 0 || ((long long)nWidth + 7) / 8 > 0xFFFC
            || !iBitmap_SizeFitsFile(1, nWidth, nHeight)) {
        TRACE_TagError(c_szTagRender, L"bitmap size error %d x %d!", nWidth, nHeight);
        return IBMP_E_ARG;
    }
    return IBMP_OK;
}

// The text's drawing rectangle on a page: the page, larger when the text is scaled up.
static void DrawingRect(int nWidth, int nHeight, float fTextScale, RECT* prc)
{
    SetRect(prc, 0, 0, nWidth, nHeight);
    if (fTextScale > 1.0f) {
        prc->right = (LONG)((double)fTextScale * nWidth);
        prc->bottom = (LONG)((double)fTextScale * nHeight);
    }
}

int iBitmap_DrawPage(WM_PAGE* pPage, const WmBitmapParam* pParam, int nWidth, int nHeight, int nDstScale,
                     int nPageDensity, int nMaxPageDensity, float fTextScale,
                     const BYTE* pTable, UINT32 nTableW, UINT32 nTableH, UINT32 DriverType,
                     WM_TEXT_INFO* pTextInfo)
{
    ZeroMemory(pPage, sizeof(*pPage));
    LARGE_INTEGER tick;
    QueryPerformanceCounter(&tick);
    int rc = CheckJob(pParam, nWidth, nHeight, nPageDensity, nMaxPageDensity, pTable, nTableW, nTableH);
    if (rc != IBMP_OK)
        return rc;
    pPage->nWidth = nWidth;
    pPage->nHeight = nHeight;
    pPage->stride = iBitmap_GetRowBytes(1, nWidth);
    DrawingRect(nWidth, nHeight, fTextScale, &pPage->rcDraw);

    pPage->hdc = CreateCompatibleDC(NULL);
    if (!pPage->hdc) {
        TRACE_TagError(c_szTagRender, L"create DC fail!");
        return IBMP_E_NODC;
    }

    // The header of the 1-bit page (black 0, white 1) describes the bitmap the text is drawn
    // into; its rows are then the bottom-up buffer that is screened and written.
    pPage->hInfo = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(BITMAPINFOHEADER) + 2 * sizeof(RGBQUAD));
    if (!pPage->hInfo) {
        TRACE_TagError(c_szTagRender, L"alloc memory fail!");
        return IBMP_E_NOMEM;
    }
    pPage->pInfo = (BITMAPINFO*)GlobalLock(pPage->hInfo);
    if (!pPage->pInfo) {
        TRACE_TagError(c_szTagRender, L"lock memory fail!");
        return IBMP_E_NOLOCK;
    }
    iBitmap_FillInfoHeader(&pPage->pInfo->bmiHeader, 1, 600, nWidth, nHeight,
                           (DWORD)pPage->stride * (DWORD)nHeight);
    iBitmap_FillPalette(pPage->pInfo, 1);
    void* pvBits = NULL;
    pPage->hbm = CreateDIBSection(pPage->hdc, pPage->pInfo, DIB_RGB_COLORS, &pvBits, NULL, 0);
    pPage->pBits = (BYTE*)pvBits;
    if (!pPage->hbm || !pPage->pBits) {
        TRACE_TagError(c_szTagRender, L"CreateBitmap fail!");
        return IBMP_E_NOBITMAP;
    }
    pPage->hOldBitmap = SelectObject(pPage->hdc, pPage->hbm);
    WM_FillRowsWhite(pPage->pBits, pPage->stride, nWidth, nHeight);
    g_WmPhaseTimes.msSetup = ElapsedMs(&tick);

    if (DriverType & WM_DRIVER_FAX) {
        RECT rcClip = { 0, 0, nWidth, nHeight };
        WmForFax(pPage->hdc, &rcClip);
    } else {
        int nFontSizeScale = WM_FontSizeScale(fTextScale, nDstScale);
        TRACE_Print(TRACE_LEVEL_INFO, L"rect = %d x %d, nFontSizeScale = %d",
                    (int)pPage->rcDraw.right, (int)pPage->rcDraw.bottom, nFontSizeScale);
        if (pTextInfo)
            SetRect(&pTextInfo->rcPage, 0, 0, nWidth, nHeight);
        DrawWatermarkText(pPage->hdc, &pPage->rcDraw, pParam, nFontSizeScale, pTextInfo);
    }
    g_WmPhaseTimes.msDraw = ElapsedMs(&tick);
    if (!GdiFlush())
        return IBMP_E_READBACK;
    g_WmPhaseTimes.msReadBack = ElapsedMs(&tick);
    return IBMP_OK;
}

int iBitmap_ScreenPage(WM_PAGE* pPage, const WmBitmapParam* pParam, const BYTE* pTable,
                       UINT32 nTableW, UINT32 nTableH)
{
    BYTE (*pPattern)[WM_PATTERN_DIM] = MakeScreenPattern(pParam, pTable, nTableW, nTableH);
    if (!pPattern)
        return IBMP_E_NOMEM;
    WM_ScreenRows(pPage->pBits, pPage->stride, pPage->nHeight, pPattern, nTableW, nTableH);
    HeapFree(GetProcessHeap(), 0, pPattern);
    return IBMP_OK;
}

// A text written a strip of rows at a time, each strip drawn into one small bitmap, screened and
// written before the next. Centred: the rows its turned cell and a tile's margin can reach (the
// band) are drawn with the window origin on the strip's first row; strips start only where that
// keeps the platform's baseline start of the copy as on the whole page, and the page's other rows
// are white, written from a block of screened white rows. Tiled: the text is rasterised once and
// every copy is stamped into each strip it reaches. Returns IBMP_OK, a bitmap error, or
// WM_WHOLE_PAGE: the page is to be drawn whole (no band or tile can be made, or ink reaches the
// band's edge and may go on past it; the file is then written again).
#define WM_WHOLE_PAGE 0
static int WriteTextStrips(LPCWSTR pszFileName, const WmBitmapParam* pParam, int nWidth, int nHeight,
                           const RECT* prcDraw, int nFontSizeScale, const BYTE* pTable, UINT32 nTableW,
                           UINT32 nTableH)
{
    int rc = WM_WHOLE_PAGE;
    LARGE_INTEGER tick;
    QueryPerformanceCounter(&tick);
    const BOOL fTiled = pParam->tyWM.wPlacement != 0;
    int stride = iBitmap_GetRowBytes(1, nWidth);
    int cStripRows = (int)(c_cbStrip / (size_t)stride) > 0 ? (int)(c_cbStrip / (size_t)stride) : 1;
    HDC hdc = NULL;
    HBITMAP hbm = NULL;
    HGDIOBJ hOldBitmap = NULL;
    BYTE* pBits = NULL;
    BYTE* pWhite = NULL;
    BYTE (*pPattern)[WM_PATTERN_DIM] = NULL;
    WM_JOB_TEXT text;
    WM_TEXT_TILE layout, tile;
    WM_TILING tiling;
    WM_PLACE place;
    IBMP_WRITER writer;
    BOOL fWriting = FALSE;
    ZeroMemory(&text, sizeof(text));
    ZeroMemory(&tile, sizeof(tile));
    RECT rcCell;
    int margin = 0, yFirst = 0, yEnd = nHeight, cDibRows = 0, cWhiteRows = 0;
    POINT ptCopy = { 0, 0 }, ptShift = { 0, 0 };

    TRACE_Print(TRACE_LEVEL_INFO, L"rect = %d x %d, nFontSizeScale = %d", (int)prcDraw->right, (int)prcDraw->bottom,
                nFontSizeScale);
    hdc = CreateCompatibleDC(NULL);
    if (!hdc || !BeginJobText(hdc, &pParam->tyWM, nFontSizeScale, &text) || text.cch <= 0 ||
            !LayOutTile(hdc, text.szText, text.cch, &layout, &rcCell, &margin))
        goto done;
    PlaceText(text.iEscapement, text.ext, prcDraw->right - prcDraw->left, prcDraw->bottom - prcDraw->top, &place);
    if (place.rotCx == 0 || place.rotCy == 0)
        goto done;
    if (fTiled) {
        if (!LayOutCopies(prcDraw, &place, text.ext, text.cch, &tiling))
            goto done;
        g_WmPhaseTimes.msSetup += ElapsedMs(&tick);
        BOOL fTile = WM_MakeTextTile(hdc, text.szText, text.cch, &tile);
        g_WmPhaseTimes.msDraw += ElapsedMs(&tick);
        if (!fTile || !TileHasInk(&tile) || !tile.fLeftAligned)
            goto done;
    } else {
        ptCopy.x = prcDraw->left + place.ptCentred.x;
        ptCopy.y = prcDraw->top + place.ptCentred.y;
        OffsetRect(&rcCell, ptCopy.x, ptCopy.y);
        yFirst = rcCell.top - margin > 0 ? rcCell.top - margin : 0;
        yEnd = rcCell.bottom + margin < nHeight ? rcCell.bottom + margin : nHeight;
        ptShift = BaselineShift(&layout, ptCopy.x, ptCopy.y);
        POINT pt = BaselineShift(&layout, ptCopy.x, ptCopy.y - yFirst);
        if (yFirst >= yEnd || pt.x != ptShift.x || pt.y != ptShift.y)
            goto done;
    }
    for (int y = yEnd; y > yFirst;) {
        int yStrip = StripStart(fTiled ? NULL : &layout, ptCopy, ptShift, yFirst, y, cStripRows);
        cDibRows = y - yStrip > cDibRows ? y - yStrip : cDibRows;
        y = yStrip;
    }
    TRACE_Print(TRACE_LEVEL_INFO, L"rows drawn = %d to %d of %d, in strips of %d", yFirst, yEnd, nHeight, cDibRows);

    {
        struct { BITMAPINFOHEADER bmiHeader; RGBQUAD bmiColors[2]; } bmi;
        iBitmap_FillInfoHeader(&bmi.bmiHeader, 1, 600, nWidth, cDibRows, (DWORD)stride * (DWORD)cDibRows);
        iBitmap_FillPalette(reinterpret_cast<BITMAPINFO*>(&bmi), 1);
        void* pvBits = NULL;
        hbm = CreateDIBSection(hdc, reinterpret_cast<BITMAPINFO*>(&bmi), DIB_RGB_COLORS, &pvBits, NULL, 0);
        pBits = (BYTE*)pvBits;
    }
    if (!hbm || !pBits) {
        TRACE_TagError(c_szTagRender, L"CreateBitmap fail!");
        rc = IBMP_E_NOBITMAP;
        goto done;
    }
    hOldBitmap = SelectObject(hdc, hbm);
    pPattern = MakeScreenPattern(pParam, pTable, nTableW, nTableH);
    if (!pPattern) {
        rc = IBMP_E_NOMEM;
        goto done;
    }
    if (yFirst > 0 || yEnd < nHeight) {
        // About 256 KB of white rows, a whole number of pattern rows, for the writer to repeat.
        int cPeriods = (int)(c_cbWhiteBlock / ((size_t)stride * nTableH));
        cWhiteRows = (cPeriods > 1 ? cPeriods : 1) * (int)nTableH;
        pWhite = (BYTE*)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, (size_t)stride * cWhiteRows);
        if (!pWhite) {
            TRACE_TagError(c_szTagRender, L"alloc memory fail!");
            rc = IBMP_E_NOMEM;
            goto done;
        }
        WM_FillRowsWhite(pWhite, stride, nWidth, cWhiteRows);
        WM_ScreenRows(pWhite, stride, cWhiteRows, pPattern, nTableW, nTableH);
    }
    g_WmPhaseTimes.msSetup += ElapsedMs(&tick);

    // Bottom-up: white rows below the band, the strips from the band's bottom, white rows above.
    fWriting = TRUE;
    if (iBitmap_BeginBMP(&writer, pszFileName, 1, 600, nWidth, nHeight) != IBMP_OK) {
        rc = writer.rc;
        goto done;
    }
    if (yEnd < nHeight) {
        IBMP_ROWS below = { pWhite, (DWORD)(nHeight - yEnd), (DWORD)cWhiteRows, 0 };
        iBitmap_WriteRows(&writer, &below);
    }
    g_WmPhaseTimes.msWrite += ElapsedMs(&tick);
    for (int y = yEnd; y > yFirst && writer.rc == IBMP_OK;) {
        int yStrip = StripStart(fTiled ? NULL : &layout, ptCopy, ptShift, yFirst, y, cStripRows);
        int cRows = y - yStrip;
        // The strip is the bitmap's top cRows rows, that is its last cRows rows bottom-up.
        BYTE* pRows = pBits + (size_t)(cDibRows - cRows) * stride;
        WM_FillRowsWhite(pRows, stride, nWidth, cRows);
        g_WmPhaseTimes.msSetup += ElapsedMs(&tick);
        if (fTiled) {
            WM_PAGE_BITS strip = { pBits, stride, nWidth, cDibRows };
            RECT rcPart = { 0, 0, nWidth, cRows }, rcClip = *prcDraw;
            OffsetRect(&rcClip, 0, -yStrip);
            IntersectRect(&rcPart, &rcPart, &rcClip);
            POINT pt;
            for (BOOL f = FirstCopy(&tiling, &pt); f; f = NextCopy(&tiling, &pt)) {
                POINT d = StampOffset(&tile, pt.x, pt.y);
                StampBits(&strip, &rcPart, &tile, d.x, d.y - yStrip);
            }
        } else {
            SetWindowOrgEx(hdc, 0, yStrip, NULL);
            ExtTextOutW(hdc, ptCopy.x, ptCopy.y, ETO_CLIPPED, prcDraw, text.szText, (UINT)text.cch, NULL);
            if (!GdiFlush()) {
                rc = IBMP_E_READBACK;
                goto done;
            }
            if ((y == yEnd && yEnd < nHeight && RowInked(pRows, nWidth)) ||
                (yStrip == yFirst && yFirst > 0 && RowInked(pRows + (size_t)(cRows - 1) * stride, nWidth))) {
                TRACE_Print(TRACE_LEVEL_INFO, L"ink at the edge of rows %d to %d, drawn again on the whole page",
                            yFirst, yEnd);
                goto done;
            }
        }
        g_WmPhaseTimes.msDraw += ElapsedMs(&tick);
        WM_ScreenRows(pRows, stride, cRows, pPattern, nTableW, nTableH, (UINT32)(nHeight - y) % nTableH);
        g_WmPhaseTimes.msScreen += ElapsedMs(&tick);
        IBMP_ROWS strip = { pRows, (DWORD)cRows, (DWORD)cRows, 0 };
        iBitmap_WriteRows(&writer, &strip);
        g_WmPhaseTimes.msWrite += ElapsedMs(&tick);
        y = yStrip;
    }
    if (yFirst > 0) {
        IBMP_ROWS above = { pWhite, (DWORD)yFirst, (DWORD)cWhiteRows, (DWORD)(nHeight - yFirst) % (DWORD)cWhiteRows };
        iBitmap_WriteRows(&writer, &above);
    }
    rc = IBMP_OK;

done:
    if (fWriting) {
        int rcWrite = iBitmap_EndBMP(&writer);
        if (rc == IBMP_OK)
            rc = rcWrite;
        g_WmPhaseTimes.msWrite += ElapsedMs(&tick);
    }
    WM_FreeTextTile(&tile);
    EndJobText(&text);
    if (hOldBitmap)
        SelectObject(hdc, hOldBitmap);
    if (hbm)
        DeleteObject(hbm);
    if (hdc)
        DeleteDC(hdc);
    if (pWhite)
        HeapFree(GetProcessHeap(), 0, pWhite);
    if (pPattern)
        HeapFree(GetProcessHeap(), 0, pPattern);
    return rc;
}

int iBitmap::iBitmap_BMPCreateTextWM(LPCWSTR pszFileName, const WmBitmapParam* pParam,
                                     int nWidth, int nHeight, int nDstScale,
                                     int nPageDensity, int nMaxPageDensity, float fTextScale,
                                     const BYTE* pTable, UINT32 nTableW, UINT32 nTableH,
                                     UINT32 DriverType)
{
    TRACE_FuncIn(TRACE_LEVEL_INFO, L"iBitmap_BMPCreateTextWM");
    int rc = IBMP_OK;
    WM_PAGE page;
    ZeroMemory(&page, sizeof(page));
    LARGE_INTEGER tick;
    QueryPerformanceCounter(&tick);
    ZeroMemory(&g_WmPhaseTimes, sizeof(g_WmPhaseTimes));

    if (!pszFileName || !pszFileName[0]) {
        TRACE_TagError(c_szTagRender, L"file name error!");
        rc = IBMP_E_ARG;
        goto done;
    }
    if (!(DriverType & WM_DRIVER_FAX) && pParam) {
        rc = CheckJob(pParam, nWidth, nHeight, nPageDensity, nMaxPageDensity, pTable, nTableW, nTableH);
        if (rc != IBMP_OK)
            goto done;
        RECT rcDraw;
        DrawingRect(nWidth, nHeight, fTextScale, &rcDraw);
        rc = WriteTextStrips(pszFileName, pParam, nWidth, nHeight, &rcDraw, WM_FontSizeScale(fTextScale, nDstScale),
                                pTable, nTableW, nTableH);
        if (rc != WM_WHOLE_PAGE)
            goto done;
        ZeroMemory(&g_WmPhaseTimes, sizeof(g_WmPhaseTimes));
        QueryPerformanceCounter(&tick);
    }
    rc = iBitmap_DrawPage(&page, pParam, nWidth, nHeight, nDstScale, nPageDensity, nMaxPageDensity, fTextScale,
                          pTable, nTableW, nTableH, DriverType, NULL);
    if (rc != IBMP_OK)
        goto done;
    QueryPerformanceCounter(&tick);

    rc = iBitmap_ScreenPage(&page, pParam, pTable, nTableW, nTableH);
    if (rc != IBMP_OK)
        goto done;
    g_WmPhaseTimes.msScreen = ElapsedMs(&tick);

    rc = iBitmap_CreateBMP(pszFileName, 1, 600, nWidth, nHeight, page.pBits);
    g_WmPhaseTimes.msWrite = ElapsedMs(&tick);

done:
    iBitmap_FreePage(&page);
    TRACE_Print(TRACE_LEVEL_INFO, L"rc = %d", rc);
    TRACE_FuncOut(TRACE_LEVEL_INFO);
    return rc;
}
