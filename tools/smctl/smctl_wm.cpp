// smctl watermark jobs: builds a job INI from options, and decodes and checks one.
#include "tools/smctl/smctl.h"
#include "tools/smctl/smctl_wm.h"
#include "util/misc.h"
#include "util/trace.h"
#include <limits.h>
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

static bool ParsePage(const wchar_t* s, WmBitmapParam* p)
{
    for (size_t i = 0; i < ARRAYSIZE(c_PageSizes); i++) {
        if (_wcsicmp(s, c_PageSizes[i].name) == 0) {
            p->nWidth = c_PageSizes[i].cx;
            p->nHeight = c_PageSizes[i].cy;
            return true;
        }
    }
    std::wstring size = s;
    size_t x = size.find_first_of(L"xX");
    long long cx = 0, cy = 0;
    if (x == std::wstring::npos || !Smctl_ParseNumber(size.substr(0, x).c_str(), 1, INT_MAX, &cx)
        || !Smctl_ParseNumber(size.substr(x + 1).c_str(), 1, INT_MAX, &cy))
        return false;
    p->nWidth = (INT32)cx;
    p->nHeight = (INT32)cy;
    return true;
}

// The range of each numeric option: the record field it is stored in.
struct WM_NUMBER_FIELD {
    const wchar_t* option;
    long long minimum, maximum;
};
static const WM_NUMBER_FIELD c_NumberFields[] = {
    { L"--size", 0, USHRT_MAX },        { L"--style", 0, USHRT_MAX },      { L"--angle", 0, USHRT_MAX },
    { L"--density", 0, USHRT_MAX },     { L"--placement", 0, USHRT_MAX },  { L"--dstscale", INT_MIN, INT_MAX },
    { L"--textscale", INT_MIN, INT_MAX }, { L"--pagedensity", INT_MIN, INT_MAX },
    { L"--maxpagedensity", INT_MIN, INT_MAX }, { L"--table", 0, UINT_MAX }, { L"--drivertype", 0, UINT_MAX },
};

static const WM_NUMBER_FIELD* NumberField(const wchar_t* opt)
{
    for (const WM_NUMBER_FIELD& f : c_NumberFields) {
        if (wcscmp(opt, f.option) == 0)
            return &f;
    }
    return NULL;
}

int SmctlWm_ApplyOption(WmBitmapParam* p, int argc, wchar_t** argv, int* pi)
{
    const wchar_t* opt = argv[*pi];
    if (wcscmp(opt, L"--fax") == 0) {
        p->DriverType |= WM_DRIVER_FAX;
        *pi += 1;
        return 1;
    }
    std::wstring padded = L" " + std::wstring(opt) + L" ";
    if (!wcsstr(SMCTL_WM_VALUE_OPTIONS, padded.c_str()))
        return 0;
    if (*pi + 1 >= argc) {
        Smctl_Usage(L"wm-make", (std::wstring(opt) + L" needs a value").c_str());
        return -1;
    }
    const wchar_t* val = argv[*pi + 1];
    *pi += 2;
    long long v = 0;
    const WM_NUMBER_FIELD* field = NumberField(opt);
    bool num = field && Smctl_ParseNumber(val, field->minimum, field->maximum, &v, true);
    TyWM* wm = &p->tyWM;
    // Out-of-range numbers are stored as given (cut to the field): a record that the job
    // rejects is something a driver developer may want to make on purpose.
    if (wcscmp(opt, L"--text") == 0) {
        if (FAILED(StringCchCopyW(wm->wszText, ARRAYSIZE(wm->wszText), val))) {
            Smctl_Error(L"the text is longer than %d characters; shorten it", (int)ARRAYSIZE(wm->wszText) - 1);
            return -1;
        }
        return 1;
    }
    if (wcscmp(opt, L"--face") == 0) {
        if (FAILED(StringCchCopyW(wm->wszFontFace, ARRAYSIZE(wm->wszFontFace), val))) {
            Smctl_Error(L"the face name is longer than %d characters; shorten it", WM_FONTFACE_MAX_LEN - 1);
            return -1;
        }
        return 1;
    }
    if (wcscmp(opt, L"--out") == 0) {
        if (FAILED(StringCchCopyW(p->wmFileName, ARRAYSIZE(p->wmFileName), Smctl_FullPath(val).c_str()))) {
            Smctl_Error(L"the output path is longer than %d characters; choose a shorter one", WM_FILENAME_MAX_LEN - 1);
            return -1;
        }
        return 1;
    }
    if (wcscmp(opt, L"--page") == 0) {
        if (!ParsePage(val, p)) {
            Smctl_Usage(L"wm-make", L"--page takes A4, A3, A5, Letter, Legal or WIDTHxHEIGHT");
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
            Smctl_Usage(L"wm-make", L"--style takes regular, bold, italic, bolditalic or 0 to 65535");
            return -1;
        }
        wm->wStyle = (WORD)v;
        return 1;
    }
    if (wcscmp(opt, L"--placement") == 0 && !num) {
        if (_wcsicmp(val, L"centred") == 0 || _wcsicmp(val, L"centered") == 0) v = 0;
        else if (_wcsicmp(val, L"tiled") == 0) v = 1;
        else {
            Smctl_Usage(L"wm-make", L"--placement takes centred, tiled or 0 to 65535");
            return -1;
        }
        wm->wPlacement = (WORD)v;
        return 1;
    }
    if (!num) {
        WCHAR sz[160];
        MISC_Format(sz, ARRAYSIZE(sz), L"%s \"%s\" is not a whole number from %I64d to %I64d", opt, val,
                    field ? field->minimum : 0, field ? field->maximum : 0);
        Smctl_Usage(L"wm-make", sz);
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

int SmctlWm_ReadJob(LPCWSTR pszIniPath, WmBitmapParam* p)
{
    ZeroMemory(p, sizeof(*p));
    if (MISC_GetPrivateProfileStruct(WM_INI_SECTION, WM_INI_KEY, p, sizeof(*p), pszIniPath))
        return 1;
    Smctl_Error(L"no \"Param\" value in section \"Job Information\" of %s; make one with smctl wm-make",
                pszIniPath);
    return 0;
}

int SmctlWm_PrintParam(const WmBitmapParam* p)
{
    const TyWM* wm = &p->tyWM;
    WCHAR szText[WM_TEXT_MAX_LEN], szFace[WM_FONTFACE_MAX_LEN], szFile[WM_FILENAME_MAX_LEN];
    StringCchCopyNW(szText, ARRAYSIZE(szText), wm->wszText, ARRAYSIZE(szText) - 1);
    StringCchCopyNW(szFace, ARRAYSIZE(szFace), wm->wszFontFace, ARRAYSIZE(szFace) - 1);
    StringCchCopyNW(szFile, ARRAYSIZE(szFile), p->wmFileName, ARRAYSIZE(szFile) - 1);
    const HALFTONE_TABLE_INFO* pTable = MISC_HalftoneTableInfo(p->HalftoneType);
    Smctl_Print(L"wszText         = \"%s\"\n", szText);
    Smctl_Print(L"wDensity        = %u\n", wm->wDensity);
    Smctl_Print(L"wszFontFace     = \"%s\"\n", szFace);
    Smctl_Print(L"wFontSize       = %u\n", wm->wFontSize);
    Smctl_Print(L"wStyle          = %u\n", wm->wStyle);
    Smctl_Print(L"wAngleDegree    = %u\n", wm->wAngleDegree);
    Smctl_Print(L"wPlacement      = %u\n", wm->wPlacement);
    Smctl_Print(L"xShift          = %d\n", wm->xShift);
    Smctl_Print(L"yShift          = %d\n", wm->yShift);
    Smctl_Print(L"nWidth          = %d\n", p->nWidth);
    Smctl_Print(L"nHeight         = %d\n", p->nHeight);
    Smctl_Print(L"nDstScale       = %d\n", p->nDstScale);
    Smctl_Print(L"nPageDensity    = %d\n", p->nPageDensity);
    Smctl_Print(L"nMaxPageDensity = %d\n", p->nMaxPageDensity);
    Smctl_Print(L"nTextScale      = %d\n", p->nTextScale);
    Smctl_Print(L"nTableW         = %u\n", p->nTableW);
    Smctl_Print(L"nTableH         = %u\n", p->nTableH);
    Smctl_Print(L"wmFileName      = \"%s\"\n", szFile);
    Smctl_Print(L"HalftoneType    = %u (%s, %u x %u)\n", p->HalftoneType, pTable->pszName,
            pTable->nSize, pTable->nSize);
    Smctl_Print(L"DriverType      = 0x%08X%s\n", p->DriverType,
            (p->DriverType & WM_DRIVER_FAX) ? L" (fax cover page)" : L"");
    WCHAR szWhy[64];
    int rule = SM_CheckWmBitmapParam(p, szWhy, ARRAYSIZE(szWhy));
    if (rule == 0) {
        Smctl_Print(L"verdict         = valid\n");
    } else {
        Smctl_Print(L"verdict         = rejected by rule %d: %s (result -11)\n", rule, szWhy);
    }
    // What the renderer refuses after the record has passed.
    if (rule == 0 && p->nPageDensity > p->nMaxPageDensity)
        Smctl_Print(L"note            = nPageDensity above nMaxPageDensity: the renderer gives -7\n");
    if (rule == 0 && (p->nWidth <= 0 || p->nHeight <= 0 || ((long long)p->nWidth + 7) / 8 > 0xFFFC))
        Smctl_Print(L"note            = bitmap size refused by the renderer: -7\n");
    if (rule == 0 && !szFile[0])
        Smctl_Print(L"note            = no output file: the renderer gives -7\n");
    return rule;
}

int Smctl_WmMake(int argc, wchar_t** argv)
{
    if (argc < 1 || argv[0][0] == L'-')
        return Smctl_Usage(L"wm-make", L"a job file is needed");
    WmBitmapParam param;
    SmctlWm_DefaultParam(&param);
    for (int i = 1; i < argc;) {
        int r = SmctlWm_ApplyOption(&param, argc, argv, &i);
        if (r == 0)
            return Smctl_Usage(L"wm-make", (L"one job file only, not also " + std::wstring(argv[i])).c_str());
        if (r < 0)
            return SMCTL_EXIT_USAGE;
    }
    if (!param.wmFileName[0])
        return Smctl_Usage(L"wm-make", L"--out FILE.bmp is required");
    std::wstring job = Smctl_FullPath(argv[0]);
    if (!SmctlWm_WriteJob(job.c_str(), &param)) {
        Smctl_Error(L"cannot write %s; check the folder", job.c_str());
        return SMCTL_EXIT_FAILED;
    }
    return SMCTL_EXIT_DONE;
}

int Smctl_WmShow(int argc, wchar_t** argv)
{
    if (argc != 1)
        return Smctl_Usage(L"wm-show", L"one job file");
    std::wstring job = Smctl_FullPath(argv[0]);
    WmBitmapParam param;
    if (!SmctlWm_ReadJob(job.c_str(), &param))
        return SMCTL_EXIT_USAGE;
    return SmctlWm_PrintParam(&param) == 0 ? SMCTL_EXIT_DONE : SMCTL_EXIT_FAILED;
}

// The depths the program's writer takes.
static const int c_SampleDepths[] = { 1, 4, 8, 16, 24 };
static const long long c_SampleMaxSide = 20000;

// A w x h image of the depth, black on the left half and white on the right, written by the
// program's own writer: for checking a bitmap reader on the driver's side.
int Smctl_WmSample(int argc, wchar_t** argv)
{
    if (argc != 4)
        return Smctl_Usage(L"wm-sample", L"a file, a depth, a width and a height");
    long long bpp = 0, w = 0, h = 0;
    if (!Smctl_Number(L"wm-sample", L"bits per pixel", argv[1], 1, 24, &bpp)
        || !Smctl_Number(L"wm-sample", L"width", argv[2], 1, c_SampleMaxSide, &w)
        || !Smctl_Number(L"wm-sample", L"height", argv[3], 1, c_SampleMaxSide, &h))
        return SMCTL_EXIT_USAGE;
    bool depthKnown = false;
    for (int d : c_SampleDepths)
        depthKnown = depthKnown || d == bpp;
    if (!depthKnown)
        return Smctl_Usage(L"wm-sample", L"bits per pixel: 1, 4, 8, 16 or 24");
    std::wstring file = Smctl_FullPath(argv[0]);
    int stride = iBitmap_GetRowBytes((int)bpp, (int)w);
    BYTE* pBits = (BYTE*)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, (SIZE_T)(stride ? stride : 4) * h);
    if (!pBits) {
        Smctl_Error(L"out of memory; choose a smaller size");
        return SMCTL_EXIT_FAILED;
    }
    for (int y = 0; y < h; y++) {
        BYTE* row = pBits + (size_t)y * stride;
        for (int x = (int)w / 2; x < w; x++) {
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
    int rc = bmp.iBitmap_CreateBMP(file.c_str(), (int)bpp, 600, (int)w, (int)h, pBits);
    HeapFree(GetProcessHeap(), 0, pBits);
    if (rc != IBMP_OK) {
        Smctl_Error(L"writing %s failed (%d); check the folder", file.c_str(), rc);
        return SMCTL_EXIT_FAILED;
    }
    return SMCTL_EXIT_DONE;
}
