// Drawing primitives of the cover page: its font, one text, one ruled line.
#include "fax/fax_cover.h"
#include "util/trace.h"
#include <strsafe.h>
#include <stdlib.h>

static const WCHAR c_szCoverFace[] = L"Arial";
static const LONG  c_CoverFontWeight = 100;
// 25.4 mm per inch as the single-precision value, carried in double precision: exact
// resolutions come out just below the integer and truncate to one less.
static const double c_MmPerInch = (double)25.4f;
static const int c_TenthsPerUnit = 10;
static const int c_PointsPerInch = 72;

// Stops at the first font of the face and keeps its character set.
static int CALLBACK FirstCharSetProc(const LOGFONTW* plf, const TEXTMETRICW*, DWORD, LPARAM lParam)
{
    *(BYTE*)lParam = plf->lfCharSet;
    return 0;
}

int FaxCyDpiFromCaps(int vertRes, int vertSize)
{
    if (vertSize <= 0)
        return 0;
    return (int)((double)vertRes * c_MmPerInch / (double)vertSize);
}

int FaxGetCyDpi(HDC hdc)
{
    return FaxCyDpiFromCaps(GetDeviceCaps(hdc, VERTRES), GetDeviceCaps(hdc, VERTSIZE));
}

HFONT FaxCreateFont(HDC hdc, LPCWSTR pszFace, INT size, UINT style)
{
    return FaxCreateFontAtDpi(hdc, pszFace, size, style, FaxGetCyDpi(hdc));
}

HFONT FaxCreateFontAtDpi(HDC hdc, LPCWSTR pszFace, INT size, UINT style, int cyDpi)
{
    TRACE_FuncIn(TRACE_LEVEL_INFO, L"FaxCreateFont");
    TRACE_Print(TRACE_LEVEL_INFO, L"face = %s, size = %d, style = %u", pszFace, size, style);

    BYTE charSet = 0;
    EnumFontFamiliesW(hdc, pszFace, (FONTENUMPROCW)FirstCharSetProc, (LPARAM)&charSet);

    int saved = SaveDC(hdc);
    SetViewportOrgEx(hdc, 0, 0, NULL);
    SetWindowOrgEx(hdc, 0, 0, NULL);

    POINT pt = { 0, (LONG)((LONGLONG)size * c_TenthsPerUnit * cyDpi / c_PointsPerInch) };
    DPtoLP(hdc, &pt, 1);
    float fy = (float)abs(pt.y);
    LONG lfHeight = (LONG)(fy / c_TenthsPerUnit + 0.5);
    TRACE_Print(TRACE_LEVEL_INFO, L"cyDpi = %d, lfHeight = %d", cyDpi, lfHeight);

    HFONT hFont = NULL;
    if (lfHeight == 0) {
        TRACE_Print(TRACE_LEVEL_ERROR, L"font height 0");
        if (saved)
            RestoreDC(hdc, -1);
        TRACE_FuncOut(TRACE_LEVEL_INFO);
        return NULL;
    }

    LOGFONTW lf;
    ZeroMemory(&lf, sizeof(lf));
    lf.lfHeight = lfHeight;
    lf.lfWeight = c_CoverFontWeight;
    lf.lfItalic = (style & FAX_STYLE_ITALIC) ? 1 : 0;
    lf.lfUnderline = (style & FAX_STYLE_UNDERLINE) ? 1 : 0;
    lf.lfStrikeOut = (style & FAX_STYLE_STRIKEOUT) ? 1 : 0;
    lf.lfCharSet = charSet;
    StringCchCopyW(lf.lfFaceName, ARRAYSIZE(lf.lfFaceName), pszFace);

    // Measure the average width at the full height, then narrow the height to the
    // page's 196/204 aspect while keeping that width.
    HFONT hProbe = CreateFontIndirectW(&lf);
    if (!hProbe) {
        TRACE_Print(TRACE_LEVEL_ERROR, L"CreateFontIndirect fail!");
    } else {
        TEXTMETRICW tm;
        ZeroMemory(&tm, sizeof(tm));
        HGDIOBJ hOld = SelectObject(hdc, hProbe);
        BOOL fMetrics = GetTextMetricsW(hdc, &tm);
        SelectObject(hdc, hOld);
        DeleteObject(hProbe);
        if (!fMetrics) {
            TRACE_Print(TRACE_LEVEL_ERROR, L"GetTextMetrics fail!");
        } else {
            lf.lfWidth = tm.tmAveCharWidth;
            lf.lfHeight = lfHeight * FAX_PAGE_DPI_Y / FAX_PAGE_DPI_X;
            hFont = CreateFontIndirectW(&lf);
            TRACE_Print(TRACE_LEVEL_INFO, L"lfWidth = %d, lfHeight = %d", lf.lfWidth, lf.lfHeight);
        }
    }
    if (saved)
        RestoreDC(hdc, -1);
    TRACE_FuncOut(TRACE_LEVEL_INFO);
    return hFont;
}

int TextOutForCoverPage(HDC hdc, const RECT* prcClip, INT size, LPCWSTR pszText, INT x, INT y, UINT style)
{
    TRACE_FuncIn(TRACE_LEVEL_INFO, L"TextOutForCoverPage");
    TRACE_Print(TRACE_LEVEL_INFO, L"size = %d, x = %d, y = %d, style = %u", size, x, y, style);
    // 64-bit products: a body line far down a long message must not wrap around.
    int X = (int)((LONGLONG)x * FAX_PAGE_DPI_X / FAX_UNITS_DPI);
    int Y = (int)((LONGLONG)y * FAX_PAGE_DPI_Y / FAX_UNITS_DPI);

    HFONT hFont = FaxCreateFont(hdc, c_szCoverFace, size, style);
    if (!hFont) {
        TRACE_Print(TRACE_LEVEL_ERROR, L"return 0");
        TRACE_FuncOut(TRACE_LEVEL_INFO);
        return 0;
    }
    size_t cch = 0;
    if (FAILED(StringCchLengthW(pszText, STRSAFE_MAX_CCH, &cch)))
        cch = 0;
    HGDIOBJ hOld = SelectObject(hdc, hFont);
    int rc = 1;
    if (!ExtTextOutW(hdc, X, Y, ETO_CLIPPED, prcClip, pszText, (UINT)cch, NULL)) {
        TRACE_Print(TRACE_LEVEL_ERROR, L"ExtTextOut fail!!");
        rc = 0;
    }
    SelectObject(hdc, hOld);
    DeleteObject(hFont);
    TRACE_FuncOut(TRACE_LEVEL_INFO);
    return rc;
}

int FaxLineTo(HDC hdc, INT x, INT y, INT x2, INT y2, INT width)
{
    TRACE_FuncIn(TRACE_LEVEL_INFO, L"FaxLineTo");
    TRACE_Print(TRACE_LEVEL_INFO, L"(%d, %d) - (%d, %d), width = %d", x, y, x2, y2, width);
    HPEN hPen = CreatePen(PS_SOLID, width, RGB(0, 0, 0));
    if (!hPen) {
        TRACE_Print(TRACE_LEVEL_ERROR, L"createpen fail!");
        TRACE_FuncOut(TRACE_LEVEL_INFO);
        return 0;
    }
    HGDIOBJ hOld = SelectObject(hdc, hPen);
    MoveToEx(hdc, x, 2 * y, NULL);
    LineTo(hdc, x2, 2 * y2);
    SelectObject(hdc, hOld);
    DeleteObject(hPen);
    TRACE_FuncOut(TRACE_LEVEL_INFO);
    return 1;
}
