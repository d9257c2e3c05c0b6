// Watermark text filled from its glyph outlines. The platform rasterises each turned glyph of a
// watermark (several hundred pixels tall) afresh in every process, which costs a job more than
// all its other work; the outlines come at a fraction of that and are filled here straight into
// the 1-bit rows. The glyphs are placed as the platform's text output places them, so only the
// edge pixels where two rasterisers may decide differently can differ from the platform's.
#include "bitmap/wmtile.h"
#include <math.h>
#include <stddef.h>
#include <stdlib.h>
#include <string.h>

// Flattened curves stay within this many pixels of the curve.
static const double c_FlatTolerance = 1.0 / 32;
static const MAT2 c_Identity = { { 0, 1 }, { 0, 0 }, { 0, 0 }, { 0, 1 } };

// Characters drawn as their glyph in a row, one after the other, with no shaping, joining or
// reordering by the platform; other text is left to the platform's own text output.
static BOOL IsPlainChar(WCHAR ch)
{
    static const WCHAR c_Ranges[][2] = {
        { 0x0020, 0x007E }, { 0x00A0, 0x02FF }, { 0x0370, 0x0482 }, { 0x048A, 0x058F },
        { 0x1E00, 0x1FFF }, { 0x2010, 0x2027 }, { 0x2030, 0x205E }, { 0x2070, 0x20CF },
        { 0x2100, 0x2BFF }, { 0x2E80, 0x3029 }, { 0x3030, 0x3098 }, { 0x309B, 0x9FFF },
        { 0xAC00, 0xD7A3 }, { 0xF900, 0xFAFF }, { 0xFF01, 0xFFEF },
    };
    for (size_t i = 0; i < ARRAYSIZE(c_Ranges); i++)
        if (ch >= c_Ranges[i][0] && ch <= c_Ranges[i][1])
            return TRUE;
    return FALSE;
}

static BOOL AddEdge(WM_TEXT_INK* pInk, double x0, double y0, double x1, double y1)
{
    if (y0 == y1)
        return TRUE;            // a level piece crosses no row's centre line
    if (pInk->cEdges == pInk->cAlloc) {
        int cNew = pInk->cAlloc ? 2 * pInk->cAlloc : 1024;
        WM_EDGE* p = (WM_EDGE*)(pInk->pEdges ? HeapReAlloc(GetProcessHeap(), 0, pInk->pEdges, sizeof(WM_EDGE) * (size_t)cNew)
                                             : HeapAlloc(GetProcessHeap(), 0, sizeof(WM_EDGE) * (size_t)cNew));
        if (!p)
            return FALSE;
        pInk->pEdges = p;
        pInk->cAlloc = cNew;
    }
    WM_EDGE* e = &pInk->pEdges[pInk->cEdges++];
    e->winding = y1 > y0 ? 1 : -1;
    if (y1 < y0) {
        double t = x0; x0 = x1; x1 = t;
        t = y0; y0 = y1; y1 = t;
    }
    e->yTop = y0;
    e->yBottom = y1;
    e->xTop = x0;
    e->dxdy = (x1 - x0) / (y1 - y0);
    pInk->yMin = y0 < pInk->yMin ? y0 : pInk->yMin;
    pInk->yMax = y1 > pInk->yMax ? y1 : pInk->yMax;
    return TRUE;
}

// Pieces of a curve through the control points p[0..n] (n = 2 quadratic, 3 cubic), enough for the
// tolerance: over a parameter step h a curve strays from its chord by at most |B''| h^2 / 8, and
// |B''| is at most 2 (quadratic) or 6 (cubic) times the largest second difference of the points.
static BOOL AddCurve(WM_TEXT_INK* pInk, const double (*p)[2], int n)
{
    double d = 0;
    for (int i = 0; i + 2 <= n; i++) {
        double dx = p[i][0] - 2 * p[i + 1][0] + p[i + 2][0], dy = p[i][1] - 2 * p[i + 1][1] + p[i + 2][1];
        double m = sqrt(dx * dx + dy * dy);
        d = m > d ? m : d;
    }
    double bound = (n == 2 ? 2.0 : 6.0) * d / 8;
    int cPieces = (int)ceil(sqrt(bound / c_FlatTolerance));
    cPieces = cPieces < 1 ? 1 : cPieces > 256 ? 256 : cPieces;
    double x0 = p[0][0], y0 = p[0][1];
    for (int k = 1; k <= cPieces; k++) {
        double t = (double)k / cPieces, u = 1 - t, x, y;
        if (n == 2) {
            x = u * u * p[0][0] + 2 * u * t * p[1][0] + t * t * p[2][0];
            y = u * u * p[0][1] + 2 * u * t * p[1][1] + t * t * p[2][1];
        } else {
            x = u * u * u * p[0][0] + 3 * u * u * t * p[1][0] + 3 * u * t * t * p[2][0] + t * t * t * p[3][0];
            y = u * u * u * p[0][1] + 3 * u * u * t * p[1][1] + 3 * u * t * t * p[2][1] + t * t * t * p[3][1];
        }
        if (!AddEdge(pInk, x0, y0, x, y))
            return FALSE;
        x0 = x;
        y0 = y;
    }
    return TRUE;
}

// A glyph's upright outline turned by the escapement, its origin at (gx, gy) from the start.
struct WM_GLYPH_PLACE {
    int gx, gy;
    double cosEsc, sinEsc;
};

// A point of the outline (y up from the glyph's origin) on the device, y down.
static void PlacePoint(const WM_GLYPH_PLACE* pPlace, const POINTFX* pfx, double* px, double* py)
{
    double x = pfx->x.value + pfx->x.fract / 65536.0, y = pfx->y.value + pfx->y.fract / 65536.0;
    *px = pPlace->gx + x * pPlace->cosEsc - y * pPlace->sinEsc;
    *py = pPlace->gy - (x * pPlace->sinEsc + y * pPlace->cosEsc);
}

// The edges of one glyph's outline in the platform's native form.
static BOOL AddGlyph(WM_TEXT_INK* pInk, const BYTE* pOutline, DWORD cbOutline, const WM_GLYPH_PLACE* pPlace)
{
    const BYTE* p = pOutline;
    while (p + sizeof(TTPOLYGONHEADER) <= pOutline + cbOutline) {
        const TTPOLYGONHEADER* pHeader = (const TTPOLYGONHEADER*)p;
        if (pHeader->dwType != TT_POLYGON_TYPE || pHeader->cb < sizeof(TTPOLYGONHEADER) ||
            pHeader->cb > (DWORD)(pOutline + cbOutline - p))
            return FALSE;
        double pt[4][2];
        double xStart, yStart;
        PlacePoint(pPlace, &pHeader->pfxStart, &xStart, &yStart);
        double x = xStart, y = yStart;
        const BYTE* q = p + sizeof(TTPOLYGONHEADER);
        while (q + offsetof(TTPOLYCURVE, apfx) <= p + pHeader->cb) {
            const TTPOLYCURVE* c = (const TTPOLYCURVE*)q;
            size_t cb = offsetof(TTPOLYCURVE, apfx) + sizeof(POINTFX) * (size_t)c->cpfx;
            if (cb > (size_t)(p + pHeader->cb - q))
                return FALSE;
            for (int i = 0; i < c->cpfx;) {
                double ax, ay;
                PlacePoint(pPlace, &c->apfx[i], &ax, &ay);
                if (c->wType == TT_PRIM_LINE) {
                    if (!AddEdge(pInk, x, y, ax, ay))
                        return FALSE;
                    x = ax;
                    y = ay;
                    i++;
                } else if (c->wType == TT_PRIM_QSPLINE && i + 1 < c->cpfx) {
                    // Between two off-curve points lies an implied on-curve point halfway.
                    double bx, by;
                    PlacePoint(pPlace, &c->apfx[i + 1], &bx, &by);
                    if (i + 2 < c->cpfx) {
                        bx = (ax + bx) / 2;
                        by = (ay + by) / 2;
                    }
                    pt[0][0] = x; pt[0][1] = y; pt[1][0] = ax; pt[1][1] = ay; pt[2][0] = bx; pt[2][1] = by;
                    if (!AddCurve(pInk, pt, 2))
                        return FALSE;
                    x = bx;
                    y = by;
                    i++;
                    if (i + 1 == c->cpfx)
                        i++;
                } else if (c->wType == TT_PRIM_CSPLINE && i + 2 < c->cpfx) {
                    pt[0][0] = x; pt[0][1] = y; pt[1][0] = ax; pt[1][1] = ay;
                    for (int k = 1; k <= 2; k++)
                        PlacePoint(pPlace, &c->apfx[i + k], &pt[k + 1][0], &pt[k + 1][1]);
                    if (!AddCurve(pInk, pt, 3))
                        return FALSE;
                    x = pt[3][0];
                    y = pt[3][1];
                    i += 3;
                } else {
                    return FALSE;
                }
            }
            q += cb;
        }
        if (!AddEdge(pInk, x, y, xStart, yStart))
            return FALSE;
        p += pHeader->cb;
    }
    return TRUE;
}

static int CompareEdges(const void* a, const void* b)
{
    double d = ((const WM_EDGE*)a)->yTop - ((const WM_EDGE*)b)->yTop;
    return d < 0 ? -1 : d > 0 ? 1 : 0;
}

void WM_FreeTextInk(WM_TEXT_INK* pInk)
{
    if (pInk->pEdges)
        HeapFree(GetProcessHeap(), 0, pInk->pEdges);
    pInk->pEdges = NULL;
    pInk->cEdges = pInk->cAlloc = 0;
}

// The outline of the text in the DC's font with its reference point at the device point
// (x, y), aligned at its top left. FALSE when the platform is to draw the text itself: a font
// without outlines, underlined or struck out, a character it has no glyph for (the platform may
// take it from a linked font) or one it shapes or reorders, spacing set on the context.
static BOOL MakeTextInk(HDC hdc, int x, int y, LPCWSTR pszText, int cch, WM_TEXT_INK* pInk)
{
    ZeroMemory(pInk, sizeof(*pInk));
    pInk->yMin = 1e300;
    pInk->yMax = -1e300;
    LOGFONTW lf;
    TEXTMETRICW tm;
    HFONT hFont = (HFONT)GetCurrentObject(hdc, OBJ_FONT);
    if (cch <= 0 || cch > WM_TEXT_MAX_LEN || !hFont || GetObjectW(hFont, sizeof(lf), &lf) != sizeof(lf) ||
        lf.lfUnderline || lf.lfStrikeOut || lf.lfFaceName[0] == L'@' || !GetTextMetricsW(hdc, &tm) ||
        !(tm.tmPitchAndFamily & TMPF_VECTOR) || GetTextCharacterExtra(hdc) != 0)
        return FALSE;
    WORD glyphs[WM_TEXT_MAX_LEN];
    for (int i = 0; i < cch; i++)
        if (!IsPlainChar(pszText[i]))
            return FALSE;
    if (GetGlyphIndicesW(hdc, pszText, cch, glyphs, GGI_MARK_NONEXISTING_GLYPHS) != (DWORD)cch)
        return FALSE;
    for (int i = 0; i < cch; i++)
        if (glyphs[i] == 0xFFFF)
            return FALSE;
    INT advance[WM_TEXT_MAX_LEN];
    SIZE ext;
    if (!GetTextExtentExPointW(hdc, pszText, cch, 0, NULL, advance, &ext))
        return FALSE;

    // The baseline starts at the reference point moved by the ascent along the turned vertical,
    // cut to whole pixels; each glyph's origin is the start moved by the turned advance so far,
    // again cut to whole pixels.
    double cosEsc = 1, sinEsc = 0;
    if (lf.lfEscapement != 0) {
        cosEsc = cos(lf.lfEscapement * WM_PI / 1800);
        sinEsc = sin(lf.lfEscapement * WM_PI / 1800);
    }
    pInk->ptStart.x = (int)(x + tm.tmAscent * sinEsc);
    pInk->ptStart.y = (int)(y + tm.tmAscent * cosEsc);

    // The outlines are taken upright and turned here, so that the glyphs turn with the escapement
    // whether or not the platform turns the outline of a turned font.
    LOGFONTW lfUpright = lf;
    lfUpright.lfEscapement = 0;
    lfUpright.lfOrientation = 0;
    HFONT hUpright = CreateFontIndirectW(&lfUpright);
    HGDIOBJ hOldFont = hUpright ? SelectObject(hdc, hUpright) : NULL;
    DWORD cbBuffer = 0;
    BYTE* pOutline = NULL;
    BOOL fMade = hOldFont != NULL;
    for (int i = 0; i < cch && fMade; i++) {
        int total = i > 0 ? advance[i - 1] : 0;
        WM_GLYPH_PLACE place = { (int)(cosEsc * total), (int)(-sinEsc * total), cosEsc, sinEsc };
        GLYPHMETRICS gm;
        DWORD cb = GetGlyphOutlineW(hdc, pszText[i], GGO_NATIVE, &gm, 0, NULL, &c_Identity);
        if (cb == GDI_ERROR) {
            fMade = FALSE;
            break;
        }
        if (cb == 0)
            continue;           // a glyph without ink
        if (cb > cbBuffer) {
            BYTE* p = (BYTE*)(pOutline ? HeapReAlloc(GetProcessHeap(), 0, pOutline, cb) : HeapAlloc(GetProcessHeap(), 0, cb));
            if (!p) {
                fMade = FALSE;
                break;
            }
            pOutline = p;
            cbBuffer = cb;
        }
        fMade = GetGlyphOutlineW(hdc, pszText[i], GGO_NATIVE, &gm, cbBuffer, pOutline, &c_Identity) == cb &&
                AddGlyph(pInk, pOutline, cb, &place);
    }
    if (hOldFont)
        SelectObject(hdc, hOldFont);
    if (hUpright)
        DeleteObject(hUpright);
    if (pOutline)
        HeapFree(GetProcessHeap(), 0, pOutline);
    if (!fMade) {
        WM_FreeTextInk(pInk);
        return FALSE;
    }
    qsort(pInk->pEdges, (size_t)pInk->cEdges, sizeof(WM_EDGE), CompareEdges);
    return TRUE;
}

// Makes the pixels [x0, x1) of a 1-bit row black.
static void InkSpan(BYTE* pRow, int x0, int x1)
{
    int j0 = x0 / 8, j1 = (x1 - 1) / 8;
    BYTE first = (BYTE)(0xFFu >> (x0 % 8)), last = (BYTE)(0xFF00u >> ((x1 - 1) % 8 + 1));
    if (j0 == j1) {
        pRow[j0] &= (BYTE)~(first & last);
        return;
    }
    pRow[j0] &= (BYTE)~first;
    if (j1 > j0 + 1)
        memset(pRow + j0 + 1, 0, (size_t)(j1 - j0 - 1));
    pRow[j1] &= (BYTE)~last;
}

struct WM_CROSSING {
    double x;
    int winding;
};

// A pixel is ink where its centre lies inside the outline by the non-zero winding rule.
BOOL WM_FillTextInk(const WM_TEXT_INK* pInk, const WM_PAGE_BITS* pPage, const RECT* prc, int yShift)
{
    const int dx = pInk->ptStart.x, dy = pInk->ptStart.y + yShift;
    RECT rcPage = { 0, 0, pPage->cx, pPage->cy }, rc;
    if (!IntersectRect(&rc, &rcPage, prc) || pInk->cEdges == 0)
        return TRUE;
    int yFirst = (int)floor(pInk->yMin - 0.5) + dy, yEnd = (int)ceil(pInk->yMax + 0.5) + dy;
    yFirst = yFirst > rc.top ? yFirst : rc.top;
    yEnd = yEnd < rc.bottom ? yEnd : rc.bottom;
    if (yFirst >= yEnd)
        return TRUE;
    int* pActive = (int*)HeapAlloc(GetProcessHeap(), 0, sizeof(int) * (size_t)pInk->cEdges);
    WM_CROSSING* pCross = (WM_CROSSING*)HeapAlloc(GetProcessHeap(), 0, sizeof(WM_CROSSING) * (size_t)pInk->cEdges);
    BOOL fFilled = pActive && pCross;
    int cActive = 0, iNext = 0;
    for (int y = yFirst; fFilled && y < yEnd; y++) {
        double yc = y - dy + 0.5;
        while (iNext < pInk->cEdges && pInk->pEdges[iNext].yTop <= yc)
            pActive[cActive++] = iNext++;
        int cCross = 0;
        for (int k = 0; k < cActive;) {
            const WM_EDGE* e = &pInk->pEdges[pActive[k]];
            if (e->yBottom <= yc) {
                pActive[k] = pActive[--cActive];
                continue;
            }
            WM_CROSSING c = { e->xTop + (yc - e->yTop) * e->dxdy, e->winding };
            int j = cCross++;
            for (; j > 0 && pCross[j - 1].x > c.x; j--)
                pCross[j] = pCross[j - 1];
            pCross[j] = c;
            k++;
        }
        BYTE* pRow = pPage->pBits + (size_t)(pPage->cy - 1 - y) * pPage->stride;
        int winding = 0;
        for (int j = 0; j + 1 < cCross; j++) {
            winding += pCross[j].winding;
            if (winding == 0)
                continue;
            // Pixels whose centres (x + 0.5) lie between the crossings, the right one excluded.
            int x0 = dx + (int)ceil(pCross[j].x - 0.5), x1 = dx + (int)ceil(pCross[j + 1].x - 0.5);
            x0 = x0 > rc.left ? x0 : rc.left;
            x1 = x1 < rc.right ? x1 : rc.right;
            if (x0 < x1)
                InkSpan(pRow, x0, x1);
        }
    }
    if (pActive)
        HeapFree(GetProcessHeap(), 0, pActive);
    if (pCross)
        HeapFree(GetProcessHeap(), 0, pCross);
    return fFilled;
}

BOOL WM_MakeTextInk(HDC hdc, int x, int y, LPCWSTR pszText, int cch, WM_TEXT_INK* pInk, WM_PAGE_BITS* pPage,
                    POINT* pptOffset)
{
    ZeroMemory(pInk, sizeof(*pInk));
    // The platform draws what is not black, transparent text aligned at its top left on a plain
    // black-and-white bitmap.
    return (GetTextAlign(hdc) & (TA_UPDATECP | TA_RIGHT | TA_CENTER | TA_BOTTOM | TA_BASELINE | TA_RTLREADING)) == 0 &&
           GetTextColor(hdc) == RGB(0, 0, 0) && GetBkMode(hdc) == TRANSPARENT && GetLayout(hdc) == 0 &&
           WM_GetPageBits(hdc, pPage, pptOffset) &&
           MakeTextInk(hdc, x + pptOffset->x, y + pptOffset->y, pszText, cch, pInk);
}

BOOL WM_DrawText(HDC hdc, int x, int y, UINT fuOptions, const RECT* prcClip, LPCWSTR pszText, int cch)
{
    WM_PAGE_BITS page;
    POINT ptOffset;
    WM_TEXT_INK ink;
    if ((fuOptions & ~ETO_CLIPPED) != 0 || !WM_MakeTextInk(hdc, x, y, pszText, cch, &ink, &page, &ptOffset))
        return ExtTextOutW(hdc, x, y, fuOptions, prcClip, pszText, (UINT)cch, NULL);
    RECT rc = { 0, 0, page.cx, page.cy };
    if ((fuOptions & ETO_CLIPPED) && prcClip) {
        rc = *prcClip;
        OffsetRect(&rc, ptOffset.x, ptOffset.y);
    }
    BOOL fDrawn = GdiFlush() && WM_FillTextInk(&ink, &page, &rc, 0);
    WM_FreeTextInk(&ink);
    return fDrawn || ExtTextOutW(hdc, x, y, fuOptions, prcClip, pszText, (UINT)cch, NULL);
}
