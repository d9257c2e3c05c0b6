// Fax cover page internals, shared by the fax sources and their tests.
#pragma once
#include <windows.h>

#define FAX_CCH_TEXT        260     // a template text, terminator included
#define FAX_CCH_LINE        1000    // a body line: 999 units (CR LF included) and the terminator
#define FAX_TEMPLATE_ITEMS  19
#define FAX_TEMPLATE_TEXTS  12      // items 0 to 11 are texts, 12 to 18 lines

#define FAX_ITEM_EMPTY  0
#define FAX_ITEM_TEXT   1
#define FAX_ITEM_LINE   2

// Style bits of a text (bit 0 has no effect).
#define FAX_STYLE_ITALIC     0x02
#define FAX_STYLE_UNDERLINE  0x04
#define FAX_STYLE_STRIKEOUT  0x08

// Paper codes of the page (those of the Windows DEVMODE).
#define FAX_PAPER_A3  8
#define FAX_PAPER_A4  9
#define FAX_PAPER_B4  12

// Texts are placed in 1/600 inch and scaled to the page as x * 204/600, y * 196/600.
#define FAX_PAGE_DPI_X  204
#define FAX_PAGE_DPI_Y  196
#define FAX_UNITS_DPI   600

struct CoverPageItem {
    BYTE  kind;         // FAX_ITEM_*
    INT   size;         // text: points; line: pen width in pixels
    INT   x, y;         // text: upper-left corner in 1/600 inch; line: x in pixels, y in two-pixel units
    INT   x2, y2;       // end point of a line, in the units of its start point
    UINT  style;        // FAX_STYLE_* of a text
    WCHAR text[FAX_CCH_TEXT];
};

// Where the message body of a template goes.
struct FaxBodyLayout {
    INT fontSize;       // points
    INT x;              // 1/600 inch
    INT yFirst;         // 1/600 inch
    INT yStep;          // 1/600 inch between lines
};

// The three templates: process-wide, their texts filled in place before drawing.
extern CoverPageItem g_CoverTemplateA4[FAX_TEMPLATE_ITEMS];
extern CoverPageItem g_CoverTemplateA3[FAX_TEMPLATE_ITEMS];
extern CoverPageItem g_CoverTemplateB4[FAX_TEMPLATE_ITEMS];
extern const FaxBodyLayout g_CoverBodyA4;
extern const FaxBodyLayout g_CoverBodyA3;
extern const FaxBodyLayout g_CoverBodyB4;

// Fills the twelve texts of a template from str.ini (missing keys give their defaults).
void FaxLoadCoverText(CoverPageItem* pTemplate, LPCWSTR pszStrIni);

// Draws one template and the message body of cover.ini (created when missing).
int MakeCoverPageTemp(HDC hdc, const RECT* prcClip);
int MakeCoverPageTempA3(HDC hdc, const RECT* prcClip);
int MakeCoverPageTempB4(HDC hdc, const RECT* prcClip);
int FaxDrawCoverTemplate(HDC hdc, const RECT* prcClip, CoverPageItem* pTemplate,
                         const FaxBodyLayout* pBody, LPCWSTR pszStrIni, LPCWSTR pszCoverIni, int nRes);

// Draws the lines of cover.ini; returns the number of lines drawn, or -1 when the file
// could neither be opened nor created.
int FaxDrawCoverBody(HDC hdc, const RECT* prcClip, const FaxBodyLayout* pBody, LPCWSTR pszCoverIni);

// WmForFax on explicit file paths.
int FaxDrawCoverPage(HDC hdc, const RECT* prcClip, LPCWSTR pszStrIni, LPCWSTR pszCoverIni);

// One text at (x, y) in 1/600 inch, in Arial of the given points.
int TextOutForCoverPage(HDC hdc, const RECT* prcClip, INT size, LPCWSTR pszText, INT x, INT y, UINT style);
// A font for the cover page; the caller selects and deletes it. NULL when none can be made.
HFONT FaxCreateFont(HDC hdc, LPCWSTR pszFace, INT size, UINT style);
// The vertical resolution of hdc in dots per inch, as the font sizes are computed, and the
// same from a device's VERTRES (pixels) and VERTSIZE (millimetres).
int FaxGetCyDpi(HDC hdc);
int FaxCyDpiFromCaps(int vertRes, int vertSize);
// FaxCreateFont for a device whose vertical resolution is cyDpi.
HFONT FaxCreateFontAtDpi(HDC hdc, LPCWSTR pszFace, INT size, UINT style, int cyDpi);
// A horizontal or any line: (x, 2y) to (x2, 2y2) with a solid black pen.
int FaxLineTo(HDC hdc, INT x, INT y, INT x2, INT y2, INT width);

