// The fax cover page: the template for the paper size with the message body of cover.ini,
// or the single "From: " line.
#include "fax/fax.h"
#include "fax/fax_cover.h"
#include "util/misc.h"
#include "util/trace.h"
#include <strsafe.h>
#include <stdio.h>

#define FAX_MODE_TEMPLATE   1
#define FAX_MODE_FROM_LINE  2
#define FAX_ORIENTATION_X   1

static const WCHAR c_szFromPrefix[] = L"From: ";
static const INT   c_FromSize = 25;
static const INT   c_FromX = 20;
static const INT   c_FromY = 20;
static const UINT  c_FromStyle = 1;
static const UINT  c_BodyStyle = 0;
static const WCHAR c_CR = 0x000D;
static const WCHAR c_LF = 0x000A;
static const BYTE  c_UnicodeMark[2] = { 0xFF, 0xFE };

// Opens cover.ini for reading; a missing file is created holding only its byte-order mark.
// The file is only read, so it is opened read-only: a message file that is write-protected
// still gives its lines, and an existing file is never truncated by the creation.
static FILE* OpenCoverFile(LPCWSTR pszCoverIni)
{
    FILE* fp = _wfopen(pszCoverIni, L"rb");
    if (fp)
        return fp;
    if (GetFileAttributesW(pszCoverIni) != INVALID_FILE_ATTRIBUTES) {
        TRACE_Print(TRACE_LEVEL_ERROR, L"%s cannot be read", pszCoverIni);
        return NULL;
    }
    TRACE_Print(TRACE_LEVEL_ERROR, L"xyz.txt not exist!");
    fp = _wfopen(pszCoverIni, L"wb");
    if (!fp) {
        TRACE_Print(TRACE_LEVEL_ERROR, L"create %s fail!", pszCoverIni);
        return NULL;
    }
    fwrite(c_UnicodeMark, 1, sizeof(c_UnicodeMark), fp);
    fclose(fp);
    return _wfopen(pszCoverIni, L"rb");
}

static void DrawBodyLine(HDC hdc, const RECT* prcClip, const FaxBodyLayout* pBody, LPCWSTR pszLine, int n)
{
    LONGLONG y = (LONGLONG)pBody->yFirst + (LONGLONG)n * pBody->yStep;
    TextOutForCoverPage(hdc, prcClip, pBody->fontSize, pszLine, pBody->x, (INT)y, c_BodyStyle);
}

int FaxDrawCoverBody(HDC hdc, const RECT* prcClip, const FaxBodyLayout* pBody, LPCWSTR pszCoverIni)
{
    TRACE_FuncIn(TRACE_LEVEL_INFO, L"FaxDrawCoverBody");
    FILE* fp = OpenCoverFile(pszCoverIni);
    if (!fp) {
        TRACE_FuncOut(TRACE_LEVEL_INFO);
        return -1;
    }
    // The first unit is taken as the byte-order mark without being checked.
    fseek(fp, sizeof(c_UnicodeMark), SEEK_SET);

    // Lines below the page cannot be seen; reading stops there.
    LONGLONG yLimit = (LONGLONG)prcClip->bottom * FAX_UNITS_DPI / FAX_PAGE_DPI_Y + 1;
    WCHAR szLine[FAX_CCH_LINE];
    size_t cchLine = 0;
    WCHAR prev = 0;
    int n = 0;
    BOOL fCut = FALSE;
    WCHAR unit;
    // A whole unit or nothing: an odd trailing byte is not a unit.
    while (fread(&unit, sizeof(unit), 1, fp) == 1) {
        if (cchLine < ARRAYSIZE(szLine) - 1)
            szLine[cchLine++] = unit;
        else
            fCut = TRUE;     // the rest of an overlong line is dropped up to its CR LF
        if (unit == c_LF && prev == c_CR) {
            if (fCut)
                TRACE_Print(TRACE_LEVEL_ERROR, L"line %d cut to %d units", n, (int)cchLine);
            // The line end itself is not drawn: fonts without glyphs for CR and LF would
            // show two boxes at the end of every line.
            if (!fCut)
                cchLine -= 2;
            else if (szLine[cchLine - 1] == c_CR)
                cchLine--;
            szLine[cchLine] = 0;
            DrawBodyLine(hdc, prcClip, pBody, szLine, n);
            cchLine = 0;
            fCut = FALSE;
            n++;
            unit = 0;
            if ((LONGLONG)pBody->yFirst + (LONGLONG)n * pBody->yStep >= yLimit)
                break;
        }
        prev = unit;
    }
    if (cchLine > 0) {
        szLine[cchLine] = 0;
        DrawBodyLine(hdc, prcClip, pBody, szLine, n);
        n++;
    }
    fclose(fp);
    TRACE_Print(TRACE_LEVEL_INFO, L"%d lines", n);
    TRACE_FuncOut(TRACE_LEVEL_INFO);
    return n;
}

int FaxDrawCoverTemplate(HDC hdc, const RECT* prcClip, CoverPageItem* pTemplate,
                         const FaxBodyLayout* pBody, LPCWSTR pszStrIni, LPCWSTR pszCoverIni, int nRes)
{
    TRACE_FuncIn(TRACE_LEVEL_INFO, L"FaxDrawCoverTemplate");
    TRACE_Print(TRACE_LEVEL_INFO, L"res = %d, clip = %d x %d", nRes, prcClip->right, prcClip->bottom);
    FaxLoadCoverText(pTemplate, pszStrIni);
    for (int i = 0; i < FAX_TEMPLATE_ITEMS; i++) {
        const CoverPageItem* p = &pTemplate[i];
        if (p->kind == FAX_ITEM_TEXT)
            TextOutForCoverPage(hdc, prcClip, p->size, p->text, p->x, p->y, p->style);
        else if (p->kind == FAX_ITEM_LINE)
            FaxLineTo(hdc, p->x, p->y, p->x2, p->y2, p->size);
    }
    FaxDrawCoverBody(hdc, prcClip, pBody, pszCoverIni);
    TRACE_FuncOut(TRACE_LEVEL_INFO);
    return 1;
}

static int DrawTemplateWithPaths(HDC hdc, const RECT* prcClip, CoverPageItem* pTemplate,
                                 const FaxBodyLayout* pBody, int nRes)
{
    WCHAR szStrIni[SM_CCH_PATH] = L"";
    WCHAR szCoverIni[SM_CCH_PATH] = L"";
    FAX_GetPathName(szStrIni, ARRAYSIZE(szStrIni), FAX_PATH_STR_INI);
    FAX_GetPathName(szCoverIni, ARRAYSIZE(szCoverIni), FAX_PATH_COVER_INI);
    return FaxDrawCoverTemplate(hdc, prcClip, pTemplate, pBody, szStrIni, szCoverIni, nRes);
}

int MakeCoverPageTemp(HDC hdc, const RECT* prcClip)
{
    return DrawTemplateWithPaths(hdc, prcClip, g_CoverTemplateA4, &g_CoverBodyA4, 0);
}

int MakeCoverPageTempA3(HDC hdc, const RECT* prcClip)
{
    return DrawTemplateWithPaths(hdc, prcClip, g_CoverTemplateA3, &g_CoverBodyA3, 0);
}

int MakeCoverPageTempB4(HDC hdc, const RECT* prcClip)
{
    return DrawTemplateWithPaths(hdc, prcClip, g_CoverTemplateB4, &g_CoverBodyB4, 0);
}

// Only the sender's name after "From: ", composed in 260 units (253 of the name fit).
static int DrawFromLine(HDC hdc, const RECT* prcClip, LPCWSTR pszStrIni)
{
    WCHAR szName[FAX_CCH_TEXT] = L"";
    WCHAR szLine[FAX_CCH_TEXT] = L"";
    GetPrivateProfileStringW(FAX_SECTION_SENDER, L"Name", L"", szName, ARRAYSIZE(szName), pszStrIni);
    StringCchCopyW(szLine, ARRAYSIZE(szLine), c_szFromPrefix);
    StringCchCatW(szLine, ARRAYSIZE(szLine), szName);   // cut to what fits
    return TextOutForCoverPage(hdc, prcClip, c_FromSize, szLine, c_FromX, c_FromY, c_FromStyle);
}

int FaxDrawCoverPage(HDC hdc, const RECT* prcClip, LPCWSTR pszStrIni, LPCWSTR pszCoverIni)
{
    TRACE_FuncIn(TRACE_LEVEL_INFO, L"FaxDrawCoverPage");
    int paper = (int)GetPrivateProfileIntW(FAX_SECTION_SETTINGS, L"PaperSize", 0, pszStrIni);
    int res = (int)GetPrivateProfileIntW(FAX_SECTION_SETTINGS, L"Yres", 0, pszStrIni);
    int mode = (int)GetPrivateProfileIntW(FAX_SECTION_SETTINGS, L"enableCoverPage", 0, pszStrIni);
    int orientation = (int)GetPrivateProfileIntW(FAX_SECTION_SETTINGS, L"Orientation", 0, pszStrIni);
    if (orientation == FAX_ORIENTATION_X)
        res = (int)GetPrivateProfileIntW(FAX_SECTION_SETTINGS, L"Xres", 0, pszStrIni);
    TRACE_Print(TRACE_LEVEL_INFO, L"PaperSize = %d, res = %d, enableCoverPage = %d, Orientation = %d",
                paper, res, mode, orientation);

    int rc = 1;
    if (mode == FAX_MODE_TEMPLATE) {
        TRACE_Print(TRACE_LEVEL_INFO, L"str.ini = %s", pszStrIni);
        TRACE_Print(TRACE_LEVEL_INFO, L"cover.ini = %s", pszCoverIni);
        switch (paper) {
        case FAX_PAPER_A3:
            FaxDrawCoverTemplate(hdc, prcClip, g_CoverTemplateA3, &g_CoverBodyA3, pszStrIni, pszCoverIni, res);
            break;
        case FAX_PAPER_A4:
            FaxDrawCoverTemplate(hdc, prcClip, g_CoverTemplateA4, &g_CoverBodyA4, pszStrIni, pszCoverIni, res);
            break;
        case FAX_PAPER_B4:
            FaxDrawCoverTemplate(hdc, prcClip, g_CoverTemplateB4, &g_CoverBodyB4, pszStrIni, pszCoverIni, res);
            break;
        default:
            TRACE_Print(TRACE_LEVEL_INFO, L"no template for paper %d", paper);
            rc = 0;
            break;
        }
    } else if (mode == FAX_MODE_FROM_LINE) {
        rc = DrawFromLine(hdc, prcClip, pszStrIni);
    } else {
        TRACE_Print(TRACE_LEVEL_INFO, L"enableCoverPage fail");
        rc = 0;
    }
    TRACE_FuncOut(TRACE_LEVEL_INFO);
    return rc;
}

int WmForFax(HDC hdc, const RECT* prcClip)
{
    TRACE_FuncIn(TRACE_LEVEL_INFO, L"WmForFax");
    if (!hdc || !prcClip) {
        TRACE_Print(TRACE_LEVEL_ERROR, L"bad argument");
        TRACE_FuncOut(TRACE_LEVEL_INFO);
        return 0;
    }
    WCHAR szStrIni[SM_CCH_PATH] = L"";
    WCHAR szCoverIni[SM_CCH_PATH] = L"";
    FAX_GetPathName(szStrIni, ARRAYSIZE(szStrIni), FAX_PATH_STR_INI);
    FAX_GetPathName(szCoverIni, ARRAYSIZE(szCoverIni), FAX_PATH_COVER_INI);
    int rc = FaxDrawCoverPage(hdc, prcClip, szStrIni, szCoverIni);
    TRACE_FuncOut(TRACE_LEVEL_INFO);
    return rc;
}
