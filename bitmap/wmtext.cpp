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
static const size_t c_cbWhiteBlock = 256 * 1024;
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

static void NoteCopy(WM_TEXT_INFO* pInfo, int x, int y, int tcx, int tcy, double a)
{
    if (!pInfo)
        return;
    RECT rc;
    WM_CellBounds(x, y, tcx, tcy, a, &rc);
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
            WM_DrawText(hdc, x, y, ETO_CLIPPED, prc, szText, n);
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
    int cStripRows = WM_StripRowCount(stride);
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
    WM_TEXT_INK ink;
    WM_PAGE_BITS stripBits;
    POINT ptOffset;
    BOOL fInk = FALSE;
    ZeroMemory(&text, sizeof(text));
    ZeroMemory(&tile, sizeof(tile));
    ZeroMemory(&ink, sizeof(ink));
    RECT rcCell;
    int margin = 0, yFirst = 0, yEnd = nHeight, cDibRows = 0, cWhiteRows = 0;
    POINT ptCopy = { 0, 0 }, ptShift = { 0, 0 };

    TRACE_Print(TRACE_LEVEL_INFO, L"rect = %d x %d, nFontSizeScale = %d", (int)prcDraw->right, (int)prcDraw->bottom,
                nFontSizeScale);
    hdc = CreateCompatibleDC(NULL);
    if (!hdc || !BeginJobText(hdc, &pParam->tyWM, nFontSizeScale, &text) || text.cch <= 0)
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
        if (!fTile || !WM_TileHasInk(&tile) || !tile.fLeftAligned)
            goto done;
    } else {
        if (!WM_LayOutTile(hdc, text.szText, text.cch, &layout, &rcCell, &margin))
            goto done;
        ptCopy.x = prcDraw->left + place.ptCentred.x;
        ptCopy.y = prcDraw->top + place.ptCentred.y;
        OffsetRect(&rcCell, ptCopy.x, ptCopy.y);
        yFirst = rcCell.top - margin > 0 ? rcCell.top - margin : 0;
        yEnd = rcCell.bottom + margin < nHeight ? rcCell.bottom + margin : nHeight;
        ptShift = WM_BaselineShift(&layout, ptCopy.x, ptCopy.y);
        POINT pt = WM_BaselineShift(&layout, ptCopy.x, ptCopy.y - yFirst);
        if (yFirst >= yEnd || pt.x != ptShift.x || pt.y != ptShift.y)
            goto done;
    }
    cDibRows = WM_TallestStrip(fTiled ? NULL : &layout, ptCopy, ptShift, yFirst, yEnd, cStripRows);
    TRACE_Print(TRACE_LEVEL_INFO, L"rows drawn = %d to %d of %d, in strips of %d", yFirst, yEnd, nHeight, cDibRows);

    hbm = WM_CreateRowsBitmap(hdc, nWidth, cDibRows, &pBits);
    if (!hbm) {
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
    // A centred text's outline is made once, on the page's own pixels, for all its strips.
    if (!fTiled)
        fInk = WM_MakeTextInk(hdc, ptCopy.x, ptCopy.y, text.szText, text.cch, &ink, &stripBits, &ptOffset);
    TRACE_Print(TRACE_LEVEL_INFO, L"text filled from its outline = %d", fInk);
    g_WmPhaseTimes.msDraw += ElapsedMs(&tick);

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
        int yStrip = WM_StripStart(fTiled ? NULL : &layout, ptCopy, ptShift, yFirst, y, cStripRows);
        int cRows = y - yStrip;
        BYTE* pRows = WM_StripRows(pBits, stride, cDibRows, cRows);
        WM_FillRowsWhite(pRows, stride, nWidth, cRows);
        g_WmPhaseTimes.msSetup += ElapsedMs(&tick);
        if (fTiled) {
            WM_PAGE_BITS strip = { pBits, stride, nWidth, cDibRows };
            RECT rcPart = { 0, 0, nWidth, cRows }, rcClip = *prcDraw;
            OffsetRect(&rcClip, 0, -yStrip);
            IntersectRect(&rcPart, &rcPart, &rcClip);
            POINT pt;
            for (BOOL f = FirstCopy(&tiling, &pt); f; f = NextCopy(&tiling, &pt)) {
                POINT d = WM_StampOffset(&tile, pt.x, pt.y);
                WM_StampBits(&strip, &rcPart, &tile, d.x, d.y - yStrip);
            }
        } else {
            BOOL fFilled = FALSE;
            if (fInk) {
                RECT rcRows = { 0, 0, nWidth, cRows }, rcClip = *prcDraw;
                OffsetRect(&rcClip, 0, -yStrip);
                IntersectRect(&rcClip, &rcClip, &rcRows);
                fFilled = WM_FillTextInk(&ink, &stripBits, &rcClip, -yStrip);
            }
            if (!fFilled) {
                SetWindowOrgEx(hdc, 0, yStrip, NULL);
                WM_DrawText(hdc, ptCopy.x, ptCopy.y, ETO_CLIPPED, prcDraw, text.szText, text.cch);
            }
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
    WM_FreeTextInk(&ink);
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
