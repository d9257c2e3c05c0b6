// Halftone threshold tables and their selection by the job's table type.
#include "bitmap/bitmap.h"
#include "bitmap/halftone_tables.h"
#include "util/trace.h"

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
