// Text watermark rendering: draws the rotated text (or the fax cover page) on a white 1-bit
// page, screens the ink with a halftone table and writes the page as a bitmap file.
#include "bitmap/bitmap.h"
#include "bitmap/wmtile.h"
#include "fax/fax.h"
#include "util/trace.h"
#include <strsafe.h>
#include <math.h>
#include <string.h>

WM_PHASE_TIMES g_WmPhaseTimes;

static const WCHAR c_szTagRender[] = L"iBitmap_BMPCreateTextWM";
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
    p->a = iEscapement * WM_PI / 1800;
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

// Reference points of the copies: cCols columns from xFirst, cRows rows in each from yFirst.
struct WM_TILING {
    int xFirst, yFirst, rowPitch, colPitch, cCols, cRows;
};

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
    int cx = prc->right - prc->left, cy = prc->bottom - prc->top;
    // The first row of each column and the first column are always drawn.
    pTiling->cCols = cx > colPitch ? (cx + colPitch - 1) / colPitch : 1;
    pTiling->cRows = cy - y0 > rowPitch ? (cy - y0 + rowPitch - 1) / rowPitch : 1;
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

// Copies drawn and copies whose turned text cell crosses a page edge.
static void NoteCopies(WM_TEXT_INFO* pInfo, const WM_TILING* pTiling, const RECT* prcCell)
{
    for (int i = 0; pInfo && i < pTiling->cCols; i++) {
        for (int k = 0; k < pTiling->cRows; k++) {
            RECT rc = *prcCell;
            OffsetRect(&rc, pTiling->xFirst + i * pTiling->colPitch, pTiling->yFirst + k * pTiling->rowPitch);
            pInfo->nCopies++;
            const RECT* pg = &pInfo->rcPage;
            pInfo->nCopiesCut += rc.left < pg->left || rc.top < pg->top || rc.right > pg->right || rc.bottom > pg->bottom;
        }
    }
}

// The job's text on a cx x cy drawing rectangle at (left, top): where its copies go. FALSE when
// nothing is drawn (empty text, a degenerate turned box, no room to tile).
static BOOL PlaceCopies(const WM_JOB_TEXT* pText, BOOL fTiled, const RECT* prc, WM_TILING* pTiling)
{
    WM_PLACE place;
    int cx = prc->right - prc->left, cy = prc->bottom - prc->top;
    if (cx <= 0 || cy <= 0 || pText->cch <= 0)
        return FALSE;
    PlaceText(pText->iEscapement, pText->ext, cx, cy, &place);
    if (place.rotCx == 0 || place.rotCy == 0)
        return FALSE;
    if (fTiled)
        return LayOutCopies(prc, &place, pText->ext, pText->cch, pTiling);
    WM_TILING centred = { prc->left + place.ptCentred.x, prc->top + place.ptCentred.y, 1, 1, 1, 1 };
    *pTiling = centred;
    return TRUE;
}

// The platform's own drawing of the watermark: every copy drawn on the context.
void DrawWatermarkText(HDC hdc, const RECT* prc, const WmBitmapParam* pParam, int nFontSizeScale,
                       WM_TEXT_INFO* pInfo)
{
    TRACE_FuncIn(TRACE_LEVEL_INFO, L"DrawWatermarkText");
    WM_JOB_TEXT text;
    WM_TILING tiling;
    if (BeginJobText(hdc, &pParam->tyWM, nFontSizeScale, &text) &&
            PlaceCopies(&text, pParam->tyWM.wPlacement != 0, prc, &tiling)) {
        for (int i = 0; i < tiling.cCols; i++)
            for (int k = 0; k < tiling.cRows; k++)
                ExtTextOutW(hdc, tiling.xFirst + i * tiling.colPitch, tiling.yFirst + k * tiling.rowPitch,
                            ETO_CLIPPED, prc, text.szText, (UINT)text.cch, NULL);
        WM_TEXT_LAYOUT layout;
        if (pInfo && WM_LayOutText(hdc, text.szText, text.cch, &layout))
            NoteCopies(pInfo, &tiling, &layout.rcCell);
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

// The text's copies put into the page's rows, a strip at a time from the bottom, screened and
// written: the rows the copies' ink reaches (the band) in strips, the others from a block of
// screened white rows. A single copy is drawn by the platform straight into each strip; many
// are stamped from one tile.
struct WM_STRIPS {
    HDC hdc;                                    // the text's context
    const WM_TEXT_LAYOUT* pLayout;
    const WM_TEXT_TILE* pTile;                  // NULL: the single copy is drawn
    const WM_TILING* pTiling;
    int nWidth, nHeight, stride;
    const BYTE (*pPattern)[WM_PATTERN_DIM];     // NULL: the ink is not screened
    UINT32 nTableW, nTableH;
};

// The first and one past the last of cCount copies, pitch apart from first, whose pixels from
// inkFirst to inkEnd past their baseline start (align after the reference point, cut to a
// whole pixel) can reach [from, to).
static void CopiesReaching(int first, int pitch, int cCount, double align, int inkFirst, int inkEnd,
                           int from, int to, int* piFirst, int* piEnd)
{
    double lo = floor((from - inkEnd - align - 1 - first) / (double)pitch);
    double hi = ceil((to - inkFirst - align + 1 - first) / (double)pitch) + 1;
    *piFirst = lo < 0 ? 0 : (lo > cCount ? cCount : (int)lo);
    *piEnd = hi < 0 ? 0 : (hi > cCount ? cCount : (int)hi);
}

// cRows white rows, screened from the pattern's first row.
static void FillWhiteBlock(const WM_STRIPS* s, BYTE* pRows, int cRows)
{
    WM_FillRowsWhite(pRows, s->stride, s->nWidth, cRows);
    if (s->pPattern)
        WM_ScreenRows(pRows, s->stride, cRows, s->pPattern, s->nTableW, s->nTableH);
}

// Whether the copy whose baseline starts at ptStart on the page inks page row y, drawn into the
// top row of the strip bitmap (ink 0).
static BOOL CopyInksRow(const WM_STRIPS* s, POINT ptStart, int y, BYTE* pTopRow)
{
    WM_FillRowsWhite(pTopRow, s->stride, s->nWidth, 1);
    POINT pt = { ptStart.x, ptStart.y - y };
    if (!WM_DrawCopy(s->hdc, s->pLayout, pt))
        return TRUE;
    int cbFull = s->nWidth / 8, cBitsLeft = s->nWidth % 8;
    for (int b = 0; b < cbFull; b++)
        if (pTopRow[b] != 0xFF)
            return TRUE;
    return cBitsLeft && pTopRow[cbFull] != (BYTE)(0xFF00u >> cBitsLeft);
}

// The rows of the page a single copy inks, [*pyFirst, *pyEnd): its area, grown while the platform
// draws ink on a row just outside it; every row when it does at the last attempt.
static void SingleCopyBand(const WM_STRIPS* s, POINT ptStart, BYTE* pTopRow, int* pyFirst, int* pyEnd)
{
    for (int attempt = 0; attempt < WM_TILE_ATTEMPTS; attempt++) {
        RECT rc;
        WM_CopyArea(s->pLayout, attempt, &rc);
        int yFirst = ptStart.y + rc.top, yEnd = ptStart.y + rc.bottom;
        *pyFirst = yFirst > 0 ? yFirst : 0;
        *pyEnd = yEnd < s->nHeight ? yEnd : s->nHeight;
        if ((yFirst <= 0 || !CopyInksRow(s, ptStart, yFirst - 1, pTopRow)) &&
                (yEnd >= s->nHeight || !CopyInksRow(s, ptStart, yEnd, pTopRow)))
            return;
    }
    *pyFirst = 0;
    *pyEnd = s->nHeight;
}

static int WriteStrips(IBMP_WRITER* pWriter, const WM_STRIPS* s)
{
    const WM_TILING* t = s->pTiling;
    const WM_TEXT_TILE* pTile = s->pTile;
    LARGE_INTEGER tick;
    QueryPerformanceCounter(&tick);
    int yFirst = 0, yEnd = 0, cStripRows = WM_StripRowCount(s->stride);
    int iColFirst = 0, iColEnd = 0, yInk = 0, yInkEnd = 0;
    // One bitmap for the strips and, in its bottom rows, the block of white rows (a whole number
    // of pattern rows) that the writer repeats.
    int cDibRows = cStripRows < s->nHeight ? cStripRows : s->nHeight;
    cDibRows = cDibRows > (int)s->nTableH ? cDibRows : (int)s->nTableH;
    const int cWhiteRows = cDibRows - cDibRows % (int)s->nTableH;
    BYTE* pBits = NULL;
    HBITMAP hbm = WM_CreateRowsBitmap(s->hdc, s->nWidth, cDibRows, &pBits, FALSE);
    HGDIOBJ hOld = hbm ? SelectObject(s->hdc, hbm) : NULL;
    POINT ptSingle = WM_BaselineStart(s->pLayout, t->xFirst, t->yFirst);
    g_WmPhaseTimes.msSetup += ElapsedMs(&tick);
    if (!hbm) {
        // no strips
    } else if (!pTile) {
        if (t->cCols > 0)
            SingleCopyBand(s, ptSingle, pBits + (size_t)(cDibRows - 1) * s->stride, &yFirst, &yEnd);
    } else if (!IsRectEmpty(&pTile->rcInk)) {
        const RECT* k = &pTile->rcInk;
        yInk = pTile->rcTile.top + k->top;
        yInkEnd = pTile->rcTile.top + k->bottom;
        // The band: the first copy's top row to the last copy's bottom row.
        POINT ptFirst = WM_BaselineStart(s->pLayout, t->xFirst, t->yFirst);
        POINT ptLast = WM_BaselineStart(s->pLayout, t->xFirst, t->yFirst + (t->cRows - 1) * t->rowPitch);
        yFirst = ptFirst.y + yInk > 0 ? ptFirst.y + yInk : 0;
        yEnd = ptLast.y + yInkEnd < s->nHeight ? ptLast.y + yInkEnd : s->nHeight;
        CopiesReaching(t->xFirst, t->colPitch, t->cCols, s->pLayout->xAlign, pTile->rcTile.left + k->left,
                       pTile->rcTile.left + k->right, 0, s->nWidth, &iColFirst, &iColEnd);
    }
    if (yEnd <= yFirst)
        yFirst = yEnd = s->nHeight;
    g_WmPhaseTimes.msDraw += ElapsedMs(&tick);      // a single copy's band is found by drawing
    TRACE_Print(TRACE_LEVEL_INFO, L"rows drawn = %d to %d of %d, in strips of %d", yFirst, yEnd, s->nHeight, cStripRows);
    if (!hbm) {
        TRACE_TagError(c_szTagRender, L"alloc memory fail!");
        pWriter->rc = IBMP_E_NOMEM;
    }
    if (yEnd < s->nHeight && hbm)
        FillWhiteBlock(s, pBits, cWhiteRows);
    g_WmPhaseTimes.msSetup += ElapsedMs(&tick);
    if (yEnd < s->nHeight && hbm) {
        IBMP_ROWS below = { pBits, (DWORD)(s->nHeight - yEnd), (DWORD)cWhiteRows, 0 };
        iBitmap_WriteRows(pWriter, &below);
    }
    g_WmPhaseTimes.msWrite += ElapsedMs(&tick);
    for (int y = yEnd; y > yFirst && pWriter->rc == IBMP_OK;) {
        int yStrip = y - cStripRows > yFirst ? y - cStripRows : yFirst, cRows = y - yStrip;
        // The strip is the bitmap's top rows, and the rows are bottom-up.
        BYTE* pRows = pBits + (size_t)(cDibRows - cRows) * s->stride;
        WM_FillRowsWhite(pRows, s->stride, s->nWidth, cRows);
        if (!pTile) {
            POINT pt = { ptSingle.x, ptSingle.y - yStrip };
            if (!WM_DrawCopy(s->hdc, s->pLayout, pt))
                pWriter->rc = IBMP_E_READBACK;
        } else {
            RECT rcPart = { 0, 0, s->nWidth, cRows };
            int iRowFirst, iRowEnd;
            CopiesReaching(t->yFirst, t->rowPitch, t->cRows, s->pLayout->yAlign, yInk, yInkEnd, yStrip, y,
                           &iRowFirst, &iRowEnd);
            for (int i = iColFirst; i < iColEnd; i++) {
                int x = t->xFirst + i * t->colPitch;
                for (int r = iRowFirst; r < iRowEnd; r++)
                    WM_StampTile(pRows, s->stride, cRows, yStrip, &rcPart, pTile,
                                 WM_BaselineStart(s->pLayout, x, t->yFirst + r * t->rowPitch));
            }
        }
        g_WmPhaseTimes.msDraw += ElapsedMs(&tick);
        if (s->pPattern)
            WM_ScreenRows(pRows, s->stride, cRows, s->pPattern, s->nTableW, s->nTableH,
                          (UINT32)(s->nHeight - y) % s->nTableH);
        g_WmPhaseTimes.msScreen += ElapsedMs(&tick);
        IBMP_ROWS strip = { pRows, (DWORD)cRows, (DWORD)cRows, 0 };
        iBitmap_WriteRows(pWriter, &strip);
        g_WmPhaseTimes.msWrite += ElapsedMs(&tick);
        y = yStrip;
    }
    if (yFirst > 0 && hbm) {
        FillWhiteBlock(s, pBits, cWhiteRows);
        IBMP_ROWS above = { pBits, (DWORD)yFirst, (DWORD)cWhiteRows, (DWORD)(s->nHeight - yFirst) % (DWORD)cWhiteRows };
        iBitmap_WriteRows(pWriter, &above);
    }
    if (hbm) {
        SelectObject(s->hdc, hOld);
        DeleteObject(hbm);
    }
    g_WmPhaseTimes.msWrite += ElapsedMs(&tick);
    return pWriter->rc;
}

// The pixels of a copy that the page needs, from its baseline's start: those that land on the
// page from one of the copies (all of the copy when there are many).
static const RECT* NeededPixels(const WM_TEXT_LAYOUT* pLayout, const WM_TILING* t, int nWidth, int nHeight, RECT* prc)
{
    if ((long long)t->cCols * t->cRows > 4096)
        return NULL;
    SetRectEmpty(prc);
    for (int i = 0; i < t->cCols; i++) {
        for (int k = 0; k < t->cRows; k++) {
            POINT pt = WM_BaselineStart(pLayout, t->xFirst + i * t->colPitch, t->yFirst + k * t->rowPitch);
            RECT rcPage = { -pt.x, -pt.y, nWidth - pt.x, nHeight - pt.y };
            UnionRect(prc, prc, &rcPage);
        }
    }
    return prc;
}

// The job's text: measured once, drawn once into a tile by the platform, its copies stamped.
static int WriteText(IBMP_WRITER* pWriter, const WmBitmapParam* pParam, int nWidth, int nHeight,
                     const RECT* prcDraw, int nFontSizeScale, WM_STRIPS* pStrips, WM_TEXT_INFO* pInfo)
{
    LARGE_INTEGER tick;
    QueryPerformanceCounter(&tick);
    WM_JOB_TEXT text;
    WM_TEXT_LAYOUT layout;
    WM_TEXT_TILE tile;
    WM_TILING tiling = { 0, 0, 1, 1, 0, 0 };
    RECT rcNeed;
    BOOL fTile = TRUE;
    ZeroMemory(&text, sizeof(text));
    ZeroMemory(&layout, sizeof(layout));
    ZeroMemory(&tile, sizeof(tile));
    HDC hdc = CreateCompatibleDC(NULL);
    if (!hdc) {
        TRACE_TagError(c_szTagRender, L"create DC fail!");
        pWriter->rc = IBMP_E_NODC;
        return pWriter->rc;
    }
    TRACE_Print(TRACE_LEVEL_INFO, L"rect = %d x %d, nFontSizeScale = %d", (int)prcDraw->right, (int)prcDraw->bottom,
                nFontSizeScale);
    if (BeginJobText(hdc, &pParam->tyWM, nFontSizeScale, &text) && pInfo) {
        pInfo->sizeText = text.ext;
        NoteFace(hdc, text.szText, text.cch, pInfo);
    }
    if (text.hFont && PlaceCopies(&text, pParam->tyWM.wPlacement != 0, prcDraw, &tiling) &&
            WM_LayOutText(hdc, text.szText, text.cch, &layout)) {
        g_WmPhaseTimes.msSetup += ElapsedMs(&tick);
        fTile = (long long)tiling.cCols * tiling.cRows > 1;
        if (fTile && !WM_MakeTextTile(hdc, &layout, NeededPixels(&layout, &tiling, nWidth, nHeight, &rcNeed), &tile)) {
            TRACE_TagError(c_szTagRender, L"alloc memory fail!");
            pWriter->rc = IBMP_E_NOMEM;
        }
        g_WmPhaseTimes.msDraw += ElapsedMs(&tick);
        NoteCopies(pInfo, &tiling, &layout.rcCell);
    } else {
        tiling.cCols = tiling.cRows = 0;
    }
    pStrips->hdc = hdc;
    pStrips->pLayout = &layout;
    pStrips->pTile = fTile ? &tile : NULL;
    pStrips->pTiling = &tiling;
    if (pWriter->rc == IBMP_OK)
        WriteStrips(pWriter, pStrips);
    WM_FreeTextTile(&tile);
    EndJobText(&text);
    DeleteDC(hdc);
    return pWriter->rc;
}

// The fax cover page: drawn whole on a page, screened and written.
static int WriteFaxPage(IBMP_WRITER* pWriter, WM_STRIPS* s)
{
    LARGE_INTEGER tick;
    QueryPerformanceCounter(&tick);
    BYTE* pBits = NULL;
    HBITMAP hbm = NULL;
    HDC hdc = CreateCompatibleDC(NULL);
    if (!hdc) {
        TRACE_TagError(c_szTagRender, L"create DC fail!");
        return pWriter->rc = IBMP_E_NODC;
    }
    hbm = WM_CreateRowsBitmap(hdc, s->nWidth, s->nHeight, &pBits, FALSE);
    if (!hbm) {
        TRACE_TagError(c_szTagRender, L"CreateBitmap fail!");
        DeleteDC(hdc);
        return pWriter->rc = IBMP_E_NOBITMAP;
    }
    HGDIOBJ hOld = SelectObject(hdc, hbm);
    WM_FillRowsWhite(pBits, s->stride, s->nWidth, s->nHeight);
    g_WmPhaseTimes.msSetup += ElapsedMs(&tick);
    RECT rcClip = { 0, 0, s->nWidth, s->nHeight };
    WmForFax(hdc, &rcClip);
    if (!GdiFlush())
        pWriter->rc = IBMP_E_READBACK;
    g_WmPhaseTimes.msDraw += ElapsedMs(&tick);
    if (s->pPattern)
        WM_ScreenRows(pBits, s->stride, s->nHeight, s->pPattern, s->nTableW, s->nTableH);
    g_WmPhaseTimes.msScreen += ElapsedMs(&tick);
    IBMP_ROWS rows = { pBits, (DWORD)s->nHeight, (DWORD)s->nHeight, 0 };
    iBitmap_WriteRows(pWriter, &rows);
    g_WmPhaseTimes.msWrite += ElapsedMs(&tick);
    SelectObject(hdc, hOld);
    DeleteObject(hbm);
    DeleteDC(hdc);
    return pWriter->rc;
}

int iBitmap_WriteTextWM(IBMP_WRITER* pWriter, const WmBitmapParam* pParam, int nWidth, int nHeight,
                        int nDstScale, float fTextScale, const BYTE* pTable, UINT32 nTableW, UINT32 nTableH,
                        UINT32 DriverType, BOOL fScreen, WM_TEXT_INFO* pInfo)
{
    WM_STRIPS strips;
    ZeroMemory(&strips, sizeof(strips));
    strips.nWidth = nWidth;
    strips.nHeight = nHeight;
    strips.stride = iBitmap_GetRowBytes(1, nWidth);
    strips.nTableW = nTableW;
    strips.nTableH = nTableH;
    BYTE (*pPattern)[WM_PATTERN_DIM] = NULL;
    if (pWriter->rc == IBMP_OK && fScreen) {
        pPattern = MakeScreenPattern(pParam, pTable, nTableW, nTableH);
        if (!pPattern)
            pWriter->rc = IBMP_E_NOMEM;
        strips.pPattern = pPattern;
    }
    if (pInfo)
        SetRect(&pInfo->rcPage, 0, 0, nWidth, nHeight);
    if (pWriter->rc != IBMP_OK) {
        // nothing more to do
    } else if (DriverType & WM_DRIVER_FAX) {
        WriteFaxPage(pWriter, &strips);
    } else {
        RECT rcDraw;
        DrawingRect(nWidth, nHeight, fTextScale, &rcDraw);
        WriteText(pWriter, pParam, nWidth, nHeight, &rcDraw, WM_FontSizeScale(fTextScale, nDstScale), &strips, pInfo);
    }
    if (pPattern)
        HeapFree(GetProcessHeap(), 0, pPattern);
    return pWriter->rc;
}

void iBitmap_FreePage(WM_PAGE* pPage)
{
    if (pPage->pBits)
        HeapFree(GetProcessHeap(), 0, pPage->pBits);
    ZeroMemory(pPage, sizeof(*pPage));
}

int iBitmap_DrawPage(WM_PAGE* pPage, const WmBitmapParam* pParam, int nWidth, int nHeight, int nDstScale,
                     int nPageDensity, int nMaxPageDensity, float fTextScale,
                     const BYTE* pTable, UINT32 nTableW, UINT32 nTableH, UINT32 DriverType,
                     WM_TEXT_INFO* pTextInfo)
{
    ZeroMemory(pPage, sizeof(*pPage));
    int rc = CheckJob(pParam, nWidth, nHeight, nPageDensity, nMaxPageDensity, pTable, nTableW, nTableH);
    if (rc != IBMP_OK)
        return rc;
    pPage->nWidth = nWidth;
    pPage->nHeight = nHeight;
    pPage->stride = iBitmap_GetRowBytes(1, nWidth);
    DrawingRect(nWidth, nHeight, fTextScale, &pPage->rcDraw);
    pPage->pBits = (BYTE*)HeapAlloc(GetProcessHeap(), 0, (size_t)pPage->stride * (size_t)nHeight);
    if (!pPage->pBits) {
        TRACE_TagError(c_szTagRender, L"alloc memory fail!");
        return IBMP_E_NOMEM;
    }
    IBMP_WRITER writer;
    iBitmap_BeginBMPMemory(&writer, pPage->pBits, 1, nWidth, nHeight);
    iBitmap_WriteTextWM(&writer, pParam, nWidth, nHeight, nDstScale, fTextScale, pTable, nTableW, nTableH,
                        DriverType, FALSE, pTextInfo);
    return iBitmap_EndBMP(&writer);
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

int iBitmap::iBitmap_BMPCreateTextWM(LPCWSTR pszFileName, const WmBitmapParam* pParam,
                                     int nWidth, int nHeight, int nDstScale,
                                     int nPageDensity, int nMaxPageDensity, float fTextScale,
                                     const BYTE* pTable, UINT32 nTableW, UINT32 nTableH,
                                     UINT32 DriverType)
{
    TRACE_FuncIn(TRACE_LEVEL_INFO, L"iBitmap_BMPCreateTextWM");
    ZeroMemory(&g_WmPhaseTimes, sizeof(g_WmPhaseTimes));
    int rc = IBMP_E_ARG;
    if (!pszFileName || !pszFileName[0])
        TRACE_TagError(c_szTagRender, L"file name error!");
    else
        rc = CheckJob(pParam, nWidth, nHeight, nPageDensity, nMaxPageDensity, pTable, nTableW, nTableH);
    if (rc == IBMP_OK) {
        IBMP_WRITER writer;
        if (iBitmap_BeginBMP(&writer, pszFileName, 1, 600, nWidth, nHeight) == IBMP_OK)
            iBitmap_WriteTextWM(&writer, pParam, nWidth, nHeight, nDstScale, fTextScale, pTable, nTableW, nTableH,
                                DriverType, TRUE, NULL);
        rc = iBitmap_EndBMP(&writer);
    }
    TRACE_Print(TRACE_LEVEL_INFO, L"rc = %d", rc);
    TRACE_FuncOut(TRACE_LEVEL_INFO);
    return rc;
}
