// Halftone threshold tables, their selection by the job's table type, and screening of 1-bit
// rows with them.
#include "bitmap/bitmap.h"
#include "bitmap/halftone_tables.h"
#include "util/trace.h"
#include <string.h>

// Index 0 is the default; 1..8 are the table types.
static const HALFTONE_TABLE_INFO c_HalftoneTables[] = {
    { L"FINE_TAry_16",       16,  FINE_TAry_16 },
    { L"FINE_TAry_128",      128, FINE_TAry_128 },
    { L"LSU_106_K60",        64,  LSU_106_K60 },
    { L"Nimsa2_212",         64,  Nimsa2_212 },
    { L"Vorel_212",          64,  Vorel_212 },
    { L"Vorel_106",          64,  Vorel_106 },
    { L"Vorel_1200_160",     64,  Vorel_1200_160 },
    { L"QX3_A4_1200_106LPI", 64,  QX3_A4_1200_106LPI },
    { L"A4_LSU_600_212LPI",  64,  A4_LSU_600_212LPI },
};

const HALFTONE_TABLE_INFO* MISC_HalftoneTableInfo(UINT32 HalftoneType)
{
    if (HalftoneType >= 1 && HalftoneType < ARRAYSIZE(c_HalftoneTables))
        return &c_HalftoneTables[HalftoneType];
    return &c_HalftoneTables[0];
}

void MISC_GetHalftoneTable(UINT32 HalftoneType, UINT32* pWidth, UINT32* pHeight, BYTE** ppTable)
{
    TRACE_FuncIn(TRACE_LEVEL_INFO, L"MISC_GetHalftoneTable");
    const HALFTONE_TABLE_INFO* pInfo = MISC_HalftoneTableInfo(HalftoneType);
    TRACE_Print(TRACE_LEVEL_INFO, L"using %s", pInfo->pszName);
    *pWidth = pInfo->nSize;
    *pHeight = pInfo->nSize;
    SIZE_T cb = (SIZE_T)pInfo->nSize * pInfo->nSize;
    BYTE* pCopy = (BYTE*)HeapAlloc(GetProcessHeap(), 0, cb);
    if (pCopy)
        CopyMemory(pCopy, pInfo->pTable, cb);
    else
        TRACE_Print(TRACE_LEVEL_ERROR, L"MEMALLOC fail!");
    *ppTable = pCopy;
    TRACE_FuncOut(TRACE_LEVEL_INFO);
}

void MISC_FreeHalftoneTable(BYTE* pTable)
{
    if (pTable)
        HeapFree(GetProcessHeap(), 0, pTable);
}

// Density levels by wDensity / 20 - 1.
const BYTE g_WmDensityLevel[WM_DENSITY_LEVELS] = { 30, 54, 84, 114, 150 };

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
