// smctl watermark jobs: builds a job INI from options, and decodes and checks one.
#include "tools/smctl/smctl.h"
#include "tools/smctl/smctl_wm.h"
#include <stdio.h>
#include <stdlib.h>
#include <strsafe.h>

struct WM_PAGE_SIZE {
    const wchar_t* name;
    int cx, cy;            // pixels at 600 dpi
};
static const WM_PAGE_SIZE c_PageSizes[] = {
    { L"A4", 4961, 7016 },
    { L"A3", 7016, 9921 },
    { L"A5", 3508, 4961 },
    { L"Letter", 5100, 6600 },
    { L"Legal", 5100, 8400 },
};

void SmctlWm_DefaultParam(WmBitmapParam* p)
{
    ZeroMemory(p, sizeof(*p));
    StringCchCopyW(p->tyWM.wszText, ARRAYSIZE(p->tyWM.wszText), L"CONFIDENTIAL");
    StringCchCopyW(p->tyWM.wszFontFace, ARRAYSIZE(p->tyWM.wszFontFace), L"Arial");
    p->tyWM.wDensity = 60;
    p->tyWM.wFontSize = 72;
    p->tyWM.wAngleDegree = 45;
    p->nWidth = 4961;
    p->nHeight = 7016;
    p->nDstScale = 1;
    p->nPageDensity = 1;
    p->nMaxPageDensity = 1;
    p->nTextScale = 100;
}

static bool ParseLong(const wchar_t* s, long long* pv)
{
    if (!s || !*s)
        return false;
    wchar_t* end = NULL;
    long long v = _wcstoi64(s, &end, 0);
    if (*end)
        return false;
    *pv = v;
    return true;
}

static bool ParsePage(const wchar_t* s, WmBitmapParam* p)
{
    for (size_t i = 0; i < ARRAYSIZE(c_PageSizes); i++) {
        if (_wcsicmp(s, c_PageSizes[i].name) == 0) {
            p->nWidth = c_PageSizes[i].cx;
            p->nHeight = c_PageSizes[i].cy;
            return true;
        }
    }
    int cx = 0, cy = 0;
    wchar_t tail = 0;
    if (swscanf(s, L"%dx%d%lc", &cx, &cy, &tail) == 2) {
        p->nWidth = cx;
        p->nHeight = cy;
        return true;
    }
    return false;
}

int SmctlWm_ApplyOption(WmBitmapParam* p, int argc, wchar_t** argv, int* pi)
{
    const wchar_t* opt = argv[*pi];
    if (wcscmp(opt, L"--fax") == 0) {
        p->DriverType |= WM_DRIVER_FAX;
        *pi += 1;
        return 1;
    }
    static const wchar_t* const c_WithValue[] = {
        L"--text", L"--face", L"--size", L"--style", L"--angle", L"--density", L"--placement",
        L"--page", L"--dstscale", L"--textscale", L"--pagedensity", L"--maxpagedensity",
        L"--table", L"--drivertype", L"--out",
    };
    bool known = false;
    for (size_t i = 0; i < ARRAYSIZE(c_WithValue); i++)
        known = known || wcscmp(opt, c_WithValue[i]) == 0;
    if (!known)
        return 0;
    if (*pi + 1 >= argc) {
        Smctl_Error(L"%s needs a value", opt);
        return -1;
    }
    const wchar_t* val = argv[*pi + 1];
    *pi += 2;
    long long v = 0;
    bool num = ParseLong(val, &v);
    TyWM* wm = &p->tyWM;
    // Out-of-range numbers are stored as given (cut to the field): a record that the job
    // rejects is something a driver developer may want to make on purpose.
    if (wcscmp(opt, L"--text") == 0) {
        if (FAILED(StringCchCopyW(wm->wszText, ARRAYSIZE(wm->wszText), val)))
            Smctl_Error(L"text cut to %d characters", (int)ARRAYSIZE(wm->wszText) - 1);
        return 1;
    }
    if (wcscmp(opt, L"--face") == 0) {
        if (FAILED(StringCchCopyW(wm->wszFontFace, ARRAYSIZE(wm->wszFontFace), val)))
            Smctl_Error(L"face name cut to %d characters", WM_FONTFACE_MAX_LEN - 1);
        return 1;
    }
    if (wcscmp(opt, L"--out") == 0) {
        if (FAILED(StringCchCopyW(p->wmFileName, ARRAYSIZE(p->wmFileName), val))) {
            Smctl_Error(L"output file name longer than %d characters", WM_FILENAME_MAX_LEN - 1);
            return -1;
        }
        return 1;
    }
    if (wcscmp(opt, L"--page") == 0) {
        if (!ParsePage(val, p)) {
            Smctl_Error(L"page size %s: A4, A3, A5, Letter, Legal or WIDTHxHEIGHT", val);
            return -1;
        }
        return 1;
    }
    if (wcscmp(opt, L"--style") == 0 && !num) {
        if (_wcsicmp(val, L"regular") == 0) v = 0;
        else if (_wcsicmp(val, L"bold") == 0) v = WM_STYLE_BOLD;
        else if (_wcsicmp(val, L"italic") == 0) v = WM_STYLE_ITALIC;
        else if (_wcsicmp(val, L"bolditalic") == 0) v = WM_STYLE_BOLD | WM_STYLE_ITALIC;
        else {
            Smctl_Error(L"style %s: regular, bold, italic, bolditalic or a number", val);
            return -1;
        }
        wm->wStyle = (WORD)v;
        return 1;
    }
    if (wcscmp(opt, L"--placement") == 0 && !num) {
        if (_wcsicmp(val, L"centred") == 0 || _wcsicmp(val, L"centered") == 0) v = 0;
        else if (_wcsicmp(val, L"tiled") == 0) v = 1;
        else {
            Smctl_Error(L"placement %s: centred, tiled or a number", val);
            return -1;
        }
        wm->wPlacement = (WORD)v;
        return 1;
    }
    if (!num) {
        Smctl_Error(L"%s: %s is not a number", opt, val);
        return -1;
    }
    if (wcscmp(opt, L"--size") == 0) wm->wFontSize = (WORD)v;
    else if (wcscmp(opt, L"--style") == 0) wm->wStyle = (WORD)v;
    else if (wcscmp(opt, L"--angle") == 0) wm->wAngleDegree = (WORD)v;
    else if (wcscmp(opt, L"--density") == 0) wm->wDensity = (WORD)v;
    else if (wcscmp(opt, L"--placement") == 0) wm->wPlacement = (WORD)v;
    else if (wcscmp(opt, L"--dstscale") == 0) p->nDstScale = (INT32)v;
    else if (wcscmp(opt, L"--textscale") == 0) p->nTextScale = (INT32)v;
    else if (wcscmp(opt, L"--pagedensity") == 0) p->nPageDensity = (INT32)v;
    else if (wcscmp(opt, L"--maxpagedensity") == 0) p->nMaxPageDensity = (INT32)v;
    else if (wcscmp(opt, L"--table") == 0) p->HalftoneType = (UINT32)v;
    else if (wcscmp(opt, L"--drivertype") == 0) p->DriverType = (UINT32)v;
    return 1;
}

int SmctlWm_WriteJob(LPCWSTR pszIniPath, const WmBitmapParam* p)
{
    return MISC_WritePrivateProfileStruct(WM_INI_SECTION, WM_INI_KEY, p, sizeof(*p), pszIniPath);
}

int SmctlWm_PrintParam(const WmBitmapParam* p)
{
    const TyWM* wm = &p->tyWM;
    WCHAR szText[WM_TEXT_MAX_LEN], szFace[WM_FONTFACE_MAX_LEN], szFile[WM_FILENAME_MAX_LEN];
    StringCchCopyNW(szText, ARRAYSIZE(szText), wm->wszText, ARRAYSIZE(szText) - 1);
    StringCchCopyNW(szFace, ARRAYSIZE(szFace), wm->wszFontFace, ARRAYSIZE(szFace) - 1);
    StringCchCopyNW(szFile, ARRAYSIZE(szFile), p->wmFileName, ARRAYSIZE(szFile) - 1);
    const HALFTONE_TABLE_INFO* pTable = MISC_HalftoneTableInfo(p->HalftoneType);
    wprintf(L"wszText         = \"%ls\"\n", szText);
    wprintf(L"wDensity        = %u\n", wm->wDensity);
    wprintf(L"wszFontFace     = \"%ls\"\n", szFace);
    wprintf(L"wFontSize       = %u\n", wm->wFontSize);
    wprintf(L"wStyle          = %u\n", wm->wStyle);
    wprintf(L"wAngleDegree    = %u\n", wm->wAngleDegree);
    wprintf(L"wPlacement      = %u\n", wm->wPlacement);
    wprintf(L"xShift          = %d\n", wm->xShift);
    wprintf(L"yShift          = %d\n", wm->yShift);
    wprintf(L"nWidth          = %d\n", p->nWidth);
    wprintf(L"nHeight         = %d\n", p->nHeight);
    wprintf(L"nDstScale       = %d\n", p->nDstScale);
    wprintf(L"nPageDensity    = %d\n", p->nPageDensity);
    wprintf(L"nMaxPageDensity = %d\n", p->nMaxPageDensity);
    wprintf(L"nTextScale      = %d\n", p->nTextScale);
    wprintf(L"nTableW         = %u\n", p->nTableW);
    wprintf(L"nTableH         = %u\n", p->nTableH);
    wprintf(L"wmFileName      = \"%ls\"\n", szFile);
    wprintf(L"HalftoneType    = %u (%ls, %u x %u)\n", p->HalftoneType, pTable->pszName,
            pTable->nSize, pTable->nSize);
    wprintf(L"DriverType      = 0x%08X%ls\n", p->DriverType,
            (p->DriverType & WM_DRIVER_FAX) ? L" (fax cover page)" : L"");
    WCHAR szWhy[64];
    int rule = SM_CheckWmBitmapParam(p, szWhy, ARRAYSIZE(szWhy));
    if (rule == 0) {
        wprintf(L"verdict         = valid\n");
    } else {
        wprintf(L"verdict         = rejected by rule %d: %ls (result -11)\n", rule, szWhy);
    }
    // What the renderer refuses after the record has passed.
    if (rule == 0 && p->nPageDensity > p->nMaxPageDensity)
        wprintf(L"note            = nPageDensity above nMaxPageDensity: the renderer gives -7\n");
    if (rule == 0 && (p->nWidth <= 0 || p->nHeight <= 0 || ((long long)p->nWidth + 7) / 8 > 0xFFFC))
        wprintf(L"note            = bitmap size refused by the renderer: -7\n");
    if (rule == 0 && !szFile[0])
        wprintf(L"note            = no output file: the renderer gives -7\n");
    return rule;
}

int Smctl_WmMake(int argc, wchar_t** argv)
{
    if (argc < 1) {
        Smctl_Error(L"wm-make %s", SMCTL_WM_MAKE_USAGE);
        return 2;
    }
    WmBitmapParam param;
    SmctlWm_DefaultParam(&param);
    for (int i = 1; i < argc;) {
        int r = SmctlWm_ApplyOption(&param, argc, argv, &i);
        if (r == 0) {
            Smctl_Error(L"unknown option %s", argv[i]);
            return 2;
        }
        if (r < 0)
            return 2;
    }
    if (!param.wmFileName[0]) {
        Smctl_Error(L"--out is required");
        return 2;
    }
    if (!SmctlWm_WriteJob(argv[0], &param)) {
        Smctl_Error(L"cannot write %s", argv[0]);
        return 1;
    }
    return 0;
}

int Smctl_WmShow(int argc, wchar_t** argv)
{
    if (argc != 1) {
        Smctl_Error(L"wm-show %s", SMCTL_WM_SHOW_USAGE);
        return 2;
    }
    WmBitmapParam param;
    ZeroMemory(&param, sizeof(param));
    if (!MISC_GetPrivateProfileStruct(WM_INI_SECTION, WM_INI_KEY, &param, sizeof(param), argv[0])) {
        Smctl_Error(L"no \"Param\" value in section \"Job Information\" of %s", argv[0]);
        return 1;
    }
    return SmctlWm_PrintParam(&param) == 0 ? 0 : 3;
}

// A w x h image of the depth, black on the left half and white on the right, written by the
// program's own writer: for checking a bitmap reader on the driver's side.
int Smctl_WmSample(int argc, wchar_t** argv)
{
    if (argc != 4) {
        Smctl_Error(L"wm-sample %s", SMCTL_WM_SAMPLE_USAGE);
        return 2;
    }
    int bpp = _wtoi(argv[1]), w = _wtoi(argv[2]), h = _wtoi(argv[3]);
    if (w <= 0 || h <= 0 || w > 20000 || h > 20000) {
        Smctl_Error(L"size %d x %d: 1 to 20000 each", w, h);
        return 2;
    }
    int stride = iBitmap_GetRowBytes(bpp, w);
    BYTE* pBits = (BYTE*)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, (SIZE_T)(stride ? stride : 4) * h);
    if (!pBits) {
        Smctl_Error(L"out of memory");
        return 1;
    }
    for (int y = 0; y < h; y++) {
        BYTE* row = pBits + (size_t)y * stride;
        for (int x = w / 2; x < w; x++) {
            switch (bpp) {
            case 1:  row[x / 8] |= (BYTE)(0x80 >> (x % 8)); break;
            case 4:  row[x / 2] |= (BYTE)((x % 2) ? 0x0F : 0xF0); break;
            case 8:  row[x] = 0xFF; break;
            case 16: row[2 * x] = 0xFF; row[2 * x + 1] = 0x7F; break;
            case 24: row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = 0xFF; break;
            default: break;
            }
        }
    }
    iBitmap bmp;
    int rc = bmp.iBitmap_CreateBMP(argv[0], bpp, 600, w, h, pBits);
    HeapFree(GetProcessHeap(), 0, pBits);
    if (rc != 1) {
        Smctl_Error(L"writing %s failed: %d", argv[0], rc);
        return 1;
    }
    return 0;
}
