// The watermark job record: its base64 INI storage, validation, and the "CreateTextBMP" job.
#include "bitmap/bitmap.h"
#include "util/trace.h"
#include "util/misc.h"
#include <strsafe.h>

static const char c_Base64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
static const WCHAR c_szTagStruct[] = L"MISC_GetPrivateProfileStruct";
static const WCHAR c_szTagJob[] = L"SM_CreateTextBMPUsingIni_New";

// 6-bit value of a character; anything outside the alphabet ("=", NUL, spaces) counts as 0.
static BYTE Base64Value(unsigned char c)
{
    if (c >= 'A' && c <= 'Z') return (BYTE)(c - 'A');
    if (c >= 'a' && c <= 'z') return (BYTE)(c - 'a' + 26);
    if (c >= '0' && c <= '9') return (BYTE)(c - '0' + 52);
    if (c == '+') return 62;
    if (c == '/') return 63;
    return 0;
}

void MISC_Base64DecodeGroups(const char* pszIn, size_t cbIn, BYTE* pDest, UINT cbDest)
{
    UINT cGroups = (cbDest + 2) / 3;
    for (UINT g = 0; g < cGroups; g++) {
        BYTE s[4];
        for (int k = 0; k < 4; k++) {
            size_t at = (size_t)g * 4 + k;
            s[k] = at < cbIn ? Base64Value((unsigned char)pszIn[at]) : 0;
        }
        BYTE out[3] = {
            (BYTE)((s[0] << 2) | (s[1] >> 4)),
            (BYTE)((s[1] << 4) | (s[2] >> 2)),
            (BYTE)((s[2] << 6) | s[3]),
        };
        for (UINT k = 0; k < 3 && g * 3 + k < cbDest; k++)
            pDest[g * 3 + k] = out[k];
    }
}

BOOL MISC_Base64Encode(const void* pSrc, UINT cbSrc, LPWSTR pszOut, size_t cchOut)
{
    const BYTE* p = (const BYTE*)pSrc;
    size_t cchNeeded = (size_t)(cbSrc + 2) / 3 * 4 + 1;
    if (cchOut < cchNeeded)
        return FALSE;
    size_t o = 0;
    for (UINT i = 0; i < cbSrc; i += 3) {
        UINT left = cbSrc - i;
        DWORD v = (DWORD)p[i] << 16;
        if (left > 1) v |= (DWORD)p[i + 1] << 8;
        if (left > 2) v |= p[i + 2];
        pszOut[o++] = (WCHAR)c_Base64Alphabet[(v >> 18) & 63];
        pszOut[o++] = (WCHAR)c_Base64Alphabet[(v >> 12) & 63];
        pszOut[o++] = left > 1 ? (WCHAR)c_Base64Alphabet[(v >> 6) & 63] : L'=';
        pszOut[o++] = left > 2 ? (WCHAR)c_Base64Alphabet[v & 63] : L'=';
    }
    pszOut[o] = 0;
    return TRUE;
}

int MISC_GetPrivateProfileStruct(LPCWSTR pszSection, LPCWSTR pszKey, void* pDest,
                                 UINT cbDest, LPCWSTR pszIniPath)
{
    TRACE_FuncIn(TRACE_LEVEL_INFO, L"MISC_GetPrivateProfileStruct");
    int rc = 0;
    HANDLE hHeap = GetProcessHeap();
    DWORD cchValue = (cbDest + 2) / 3 * 4;          // L
    char* pAnsi = (char*)HeapAlloc(hHeap, HEAP_ZERO_MEMORY, cchValue + 1);
    WCHAR* pWide = (WCHAR*)HeapAlloc(hHeap, HEAP_ZERO_MEMORY, (cchValue + 1) * sizeof(WCHAR));
    if (!pAnsi || !pWide) {
        TRACE_TagError(c_szTagStruct, L"MEMALLOC fail!");
        goto done;
    }
    {
        // The buffer holds L units and the terminator: a longer value is cut to L characters.
        DWORD cch = GetPrivateProfileStringW(pszSection, pszKey, L"", pWide, cchValue + 1, pszIniPath);
        if (cch == 0) {
            TRACE_TagError(c_szTagStruct, L"read INI fail!");
            goto done;
        }
        int cb = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, pWide, -1, pAnsi,
                                     (int)(cchValue + 1), NULL, NULL);
        if (cb == 0) {
            TRACE_TagError(c_szTagStruct, L"convert to unicode fail! err code = %d", (int)GetLastError());
            goto done;
        }
        TRACE_Print(TRACE_LEVEL_INFO, L"value length = %u", (unsigned)cch);
        // Past the converted text the buffer is zero, which decodes as 0 values.
        MISC_Base64DecodeGroups(pAnsi, cchValue + 1, (BYTE*)pDest, cbDest);
        rc = 1;
    }
done:
    if (pWide)
        HeapFree(hHeap, 0, pWide);
    if (pAnsi)
        HeapFree(hHeap, 0, pAnsi);
    TRACE_FuncOut(TRACE_LEVEL_INFO);
    return rc;
}

int MISC_WritePrivateProfileStruct(LPCWSTR pszSection, LPCWSTR pszKey, const void* pSrc,
                                   UINT cbSrc, LPCWSTR pszIniPath)
{
    TRACE_FuncIn(TRACE_LEVEL_INFO, L"MISC_WritePrivateProfileStruct");
    int rc = 0;
    size_t cch = (size_t)(cbSrc + 2) / 3 * 4 + 1;
    WCHAR* pValue = (WCHAR*)HeapAlloc(GetProcessHeap(), 0, cch * sizeof(WCHAR));
    if (!pValue) {
        TRACE_TagError(L"MISC_WritePrivateProfileStruct", L"MEMALLOC fail!");
    } else {
        MISC_Base64Encode(pSrc, cbSrc, pValue, cch);
        rc = MISC_WriteProfileString(pszIniPath, pszSection, pszKey, pValue);
        HeapFree(GetProcessHeap(), 0, pValue);
    }
    TRACE_FuncOut(TRACE_LEVEL_INFO);
    return rc;
}

int SM_CheckWmBitmapParam(const WmBitmapParam* p, LPWSTR pszWhy, size_t cchWhy)
{
    const TyWM* wm = &p->tyWM;
    int rule = 0;
    if (wm->wDensity < 20 || wm->wDensity > 100) {
        rule = 1;
        MISC_Format(pszWhy, cchWhy, L"wDensity error");
    } else if (wm->wFontSize < 1 || wm->wFontSize > 288) {
        rule = 2;
        MISC_Format(pszWhy, cchWhy, L"wFontSize error, %d", (int)wm->wFontSize);
    } else if (wm->wStyle > 3) {
        rule = 3;
        MISC_Format(pszWhy, cchWhy, L"wStyle error");
    } else if (wm->wAngleDegree > 360) {
        rule = 4;
        MISC_Format(pszWhy, cchWhy, L"wAngleDegree error");
    } else if (p->nDstScale < 1 || p->nDstScale > 2) {
        rule = 5;
        MISC_Format(pszWhy, cchWhy, L"nDstScale error");
    } else if (p->nPageDensity < 1 || p->nPageDensity > 7) {
        rule = 6;
        MISC_Format(pszWhy, cchWhy, L"nPageDensity error");
    } else if (p->nMaxPageDensity < 1 || p->nMaxPageDensity > 7) {
        rule = 7;
        MISC_Format(pszWhy, cchWhy, L"nMaxPageDensity error");
    } else if (p->nTextScale < 5 || p->nTextScale > 200) {
        rule = 8;
        MISC_Format(pszWhy, cchWhy, L"fTextScale = %d/100", (int)p->nTextScale);
    } else if (wm->wPlacement > 1) {
        rule = 9;
        MISC_Format(pszWhy, cchWhy, L"wPlacement error");
    } else if (cchWhy) {
        pszWhy[0] = 0;
    }
    return rule;
}

static void TraceRecord(const WmBitmapParam* p)
{
    const TyWM* wm = &p->tyWM;
    TRACE_Print(TRACE_LEVEL_INFO, L"sizeof(WmBitmapParam) = %u, sizeof(TyWM) = %u",
                (unsigned)sizeof(WmBitmapParam), (unsigned)sizeof(TyWM));
    TRACE_Print(TRACE_LEVEL_INFO, L"wDensity = %d, wFontSize = %d, wStyle = %d, wAngleDegree = %d, wPlacement = %d",
                wm->wDensity, wm->wFontSize, wm->wStyle, wm->wAngleDegree, wm->wPlacement);
    TRACE_Print(TRACE_LEVEL_INFO, L"nWidth = %d, nHeight = %d, nDstScale = %d, nPageDensity = %d, nMaxPageDensity = %d, nTextScale = %d",
                p->nWidth, p->nHeight, p->nDstScale, p->nPageDensity, p->nMaxPageDensity, p->nTextScale);
    TRACE_Print(TRACE_LEVEL_INFO, L"HalftoneType = %u, DriverType = 0x%x", p->HalftoneType, p->DriverType);
}

int SM_CreateTextBMPUsingIni_New(LPCWSTR pszIniPath)
{
    TRACE_FuncIn(TRACE_LEVEL_INFO, L"SM_CreateTextBMPUsingIni_New");
    int rc = 0;
    iBitmap bitmap;
    BYTE* pTable = NULL;
    WmBitmapParam* p = (WmBitmapParam*)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(WmBitmapParam));
    if (!p) {
        TRACE_Print(TRACE_LEVEL_ERROR, L"MEMALLOC fail!");
        goto done;
    }
    if (!MISC_GetPrivateProfileStruct(WM_INI_SECTION, WM_INI_KEY, p, sizeof(*p), pszIniPath)) {
        TRACE_TagError(c_szTagJob, L"read watermark setting fail!");
        goto done;
    }
    TraceRecord(p);
    {
        WCHAR szWhy[64];
        if (SM_CheckWmBitmapParam(p, szWhy, ARRAYSIZE(szWhy)) != 0) {
            TRACE_Print(TRACE_LEVEL_ERROR, L"%s", szWhy);
            rc = IBMP_E_RECORD;
            goto done;
        }
    }
    MISC_GetHalftoneTable(p->HalftoneType, &p->nTableW, &p->nTableH, &pTable);
    {
        // The stored name need not be terminated within its 260 units.
        WCHAR szFile[WM_FILENAME_MAX_LEN];
        StringCchCopyNW(szFile, ARRAYSIZE(szFile), p->wmFileName, ARRAYSIZE(p->wmFileName) - 1);
        float fTextScale = (float)p->nTextScale / 100.0f;
        rc = bitmap.iBitmap_BMPCreateTextWM(szFile, p, p->nWidth, p->nHeight, p->nDstScale,
                                            p->nPageDensity, p->nMaxPageDensity, fTextScale,
                                            pTable, p->nTableW, p->nTableH, p->DriverType);
    }
done:
    MISC_FreeHalftoneTable(pTable);
    if (p)
        HeapFree(GetProcessHeap(), 0, p);
    TRACE_Print(TRACE_LEVEL_INFO, L"rc = %d", rc);
    TRACE_FuncOut(TRACE_LEVEL_INFO);
    return rc;
}
