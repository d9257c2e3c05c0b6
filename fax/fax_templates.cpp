// The three cover page templates (A4, A3, B4) and the str.ini texts that fill them.
#include "fax/fax.h"
#include "fax/fax_cover.h"
#include "util/trace.h"

#define T(size, x, y)          { FAX_ITEM_TEXT, size, x, y, 0, 0, 1, L"" }
#define L(width, x, x2, y)     { FAX_ITEM_LINE, width, x, y, x2, y, 1, L"" }

// Text positions in 1/600 inch; lines: pen width, x in pixels, y in two-pixel units.
CoverPageItem g_CoverTemplateA4[FAX_TEMPLATE_ITEMS] = {
    T(120,  200,  200),
    T( 55,  230,  785), T( 50, 1000,  805),
    T( 55,  230, 1040), T( 50, 1000, 1060),
    T( 55,  230, 1290), T( 50, 1000, 1310),
    T( 55,  230, 1540), T( 50, 1000, 1560),
    T( 55,  230, 1790), T( 50, 1000, 1810),
    T( 60,  300, 2160),
    L(5,  50, 1650, 120),
    L(3, 310, 1600, 163), L(3, 310, 1600, 204), L(3, 310, 1600, 245),
    L(3, 310, 1600, 286), L(3, 310, 1600, 327),
    L(5,  50, 1650, 405),
};

CoverPageItem g_CoverTemplateA3[FAX_TEMPLATE_ITEMS] = {
    T(120,  200,  205),
    T( 55,  230,  800), T( 55, 1200,  800),
    T( 55,  230, 1055), T( 55, 1200, 1055),
    T( 55,  230, 1305), T( 55, 1200, 1305),
    T( 55,  230, 1555), T( 55, 1200, 1555),
    T( 55,  230, 1805), T( 55, 1200, 1805),
    T( 60,  400, 2200),
    L(5,  60, 2370, 115),
    L(3, 400, 2340, 164), L(3, 400, 2340, 205), L(3, 400, 2340, 246),
    L(3, 400, 2340, 287), L(3, 400, 2340, 328),
    L(5,  60, 2370, 403),
};

CoverPageItem g_CoverTemplateB4[FAX_TEMPLATE_ITEMS] = {
    T(113,  200,  190),
    T( 55,  230,  800), T( 55, 1100,  800),
    T( 55,  230, 1050), T( 55, 1100, 1050),
    T( 55,  230, 1300), T( 55, 1100, 1300),
    T( 55,  230, 1550), T( 55, 1100, 1550),
    T( 55,  230, 1800), T( 55, 1100, 1800),
    T( 60,  400, 2200),
    L(5,  50, 1950, 110),
    L(3, 340, 1900, 163), L(3, 340, 1900, 204), L(3, 340, 1900, 245),
    L(3, 340, 1900, 286), L(3, 340, 1900, 327),
    L(5,  50, 1950, 403),
};

#undef T
#undef L

const FaxBodyLayout g_CoverBodyA4 = { 40, 350, 2560, 200 };
const FaxBodyLayout g_CoverBodyA3 = { 55, 350, 2560, 275 };
const FaxBodyLayout g_CoverBodyB4 = { 55, 350, 2630, 275 };

// Where each of the twelve texts comes from; the default is drawn when the key is missing.
static const struct {
    LPCWSTR section;
    LPCWSTR key;
    LPCWSTR defaultText;
} c_CoverTextSources[FAX_TEMPLATE_TEXTS] = {
    { FAX_SECTION_TEXTS,  L"FAX",    L"FAX" },
    { FAX_SECTION_TEXTS,  L"FROM",   L"FROM" },
    { FAX_SECTION_SENDER, L"Name",   L"nothing" },
    { FAX_SECTION_TEXTS,  L"COM",    L"COM" },
    { FAX_SECTION_SENDER, L"Com",    L"nothing" },
    { FAX_SECTION_TEXTS,  L"DEP",    L"DEP" },
    { FAX_SECTION_SENDER, L"Dep",    L"nothing" },
    { FAX_SECTION_TEXTS,  L"TEL",    L"TEL" },
    { FAX_SECTION_SENDER, L"Tel",    L"nothing" },
    { FAX_SECTION_TEXTS,  L"FAX",    L"FAX" },
    { FAX_SECTION_SENDER, L"FaxNum", L"nothing" },
    { FAX_SECTION_TEXTS,  L"MESG",   L"MESG" },
};

void FaxLoadCoverText(CoverPageItem* pTemplate, LPCWSTR pszStrIni)
{
    TRACE_FuncIn(TRACE_LEVEL_INFO, L"FaxLoadCoverText");
    for (int i = 0; i < FAX_TEMPLATE_TEXTS; i++) {
        GetPrivateProfileStringW(c_CoverTextSources[i].section, c_CoverTextSources[i].key,
                                 c_CoverTextSources[i].defaultText, pTemplate[i].text,
                                 ARRAYSIZE(pTemplate[i].text), pszStrIni);
        TRACE_Print(TRACE_LEVEL_INFO, L"item %d: %s = %s", i, c_CoverTextSources[i].key, pTemplate[i].text);
    }
    TRACE_FuncOut(TRACE_LEVEL_INFO);
}
