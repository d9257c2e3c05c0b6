// Turned text filled from its outline, drawn once and stamped: what the watermark renderer
// (wmtext.cpp), the tiles (wmtile.cpp) and the outline fill (wmoutline.cpp) share inside the
// bitmap module.
#pragma once
#include "bitmap/bitmap.h"

#define WM_CB_STRIP (256 * 1024)   // rows of a page or tile drawn at a time
#define WM_PI 3.14159265358979323846

// The rotated text cell of a copy drawn at (x, y), the text's top-left corner.
void  WM_CellBounds(int x, int y, int tcx, int tcy, double a, RECT* prc);
// What a tile of the text in the DC's font needs before it is drawn: the text's turned cell
// around its reference point, the room left around it, and how the platform turns and aligns
// the text. FALSE when the text cannot be measured.
BOOL  WM_LayOutTile(HDC hdc, LPCWSTR pszText, int cch, WM_TEXT_TILE* pLayout, RECT* prcCell, int* pMargin);
// Whole pixels from a copy's reference point at (x, y) to where the platform starts its baseline.
POINT WM_BaselineShift(const WM_TEXT_TILE* pLayout, int x, int y);
// The first row of the strip that ends before row yEnd, strips of cStripRows rows from yFirst
// on; with a layout, only rows where moving the window origin there keeps the baseline start
// ptShift of the copy at ptCopy.
int   WM_StripStart(const WM_TEXT_TILE* pLayout, POINT ptCopy, POINT ptShift, int yFirst, int yEnd,
                    int cStripRows);
// Rows in a strip of 1-bit rows of this stride (at least one).
int   WM_StripRowCount(int stride);
// The tallest strip WM_StripStart gives from yEnd back to yFirst.
int   WM_TallestStrip(const WM_TEXT_TILE* pLayout, POINT ptCopy, POINT ptShift, int yFirst, int yEnd,
                      int cStripRows);
// The first of a strip's cRows rows, bottom-up, in a bitmap of cBitmapRows rows that the strip is
// drawn into from its top row.
BYTE* WM_StripRows(BYTE* pBits, int stride, int cBitmapRows, int cRows);
// A white-1, black-0 1-bit DIB section of cx x cy pixels, bottom-up, and its bits; NULL on failure.
HBITMAP WM_CreateRowsBitmap(HDC hdc, int cx, int cy, BYTE** ppBits);
// TRUE when the tile can be stamped: it was made and holds ink.
BOOL  WM_TileHasInk(const WM_TEXT_TILE* pTile);

// The bottom-up 1-bit rows behind a DC whose logical pixels are its bitmap's pixels, black 0
// and white 1, with nothing clipped: there the tile's ink can be ANDed in directly.
struct WM_PAGE_BITS {
    BYTE* pBits;
    int stride, cx, cy;
};
// The rows behind a DC that draws on a black-0, white-1 1-bit DIB section with nothing clipped,
// and the shift from its logical to its device pixels (NULL: there must be none).
BOOL  WM_GetPageBits(HDC hdc, WM_PAGE_BITS* pPage, POINT* pptOffset);
// The outline of a text, kept from its baseline's start (a whole pixel) so that every copy is
// filled alike wherever it starts.
struct WM_EDGE {
    double yTop, yBottom;      // yTop < yBottom, y down; a pixel's centre is at its row + 0.5
    double xTop, dxdy;         // x at yTop and its change per unit of y
    int winding;               // +1 where the outline runs down the page, -1 up
};
struct WM_TEXT_INK {
    WM_EDGE* pEdges;           // sorted by yTop
    int cEdges, cAlloc;
    double yMin, yMax;
    POINT ptStart;             // the baseline's start on the device
};
// The text in the DC's font, drawn at (x, y) as ExtTextOutW would, as an outline to fill into the
// rows behind the DC (*pPage, logical to device *pptOffset): for black, transparent text aligned
// at its top left on a DC WM_GetPageBits accepts, in a font with outlines and characters the
// platform neither shapes nor takes from another font. FALSE: the platform is to draw it. Free
// the ink either way.
BOOL  WM_MakeTextInk(HDC hdc, int x, int y, LPCWSTR pszText, int cch, WM_TEXT_INK* pInk, WM_PAGE_BITS* pPage,
                     POINT* pptOffset);
// Makes the ink's pixels black in the page's rows within the rectangle (device pixels), the ink
// moved down by yShift rows; FALSE without memory.
BOOL  WM_FillTextInk(const WM_TEXT_INK* pInk, const WM_PAGE_BITS* pPage, const RECT* prc, int yShift);
void  WM_FreeTextInk(WM_TEXT_INK* pInk);
// ExtTextOutW(hdc, x, y, fuOptions, prcClip, pszText, cch, NULL), the text filled from its
// outline where WM_MakeTextInk can make one.
BOOL  WM_DrawText(HDC hdc, int x, int y, UINT fuOptions, const RECT* prcClip, LPCWSTR pszText, int cch);
// Ink of the tile placed at dx, dy, ANDed into the page's rows within the rectangle.
void  WM_StampBits(const WM_PAGE_BITS* pPage, const RECT* prcPart, const WM_TEXT_TILE* pTile, int dx, int dy);
// Where the tile goes for a copy at (x, y).
POINT WM_StampOffset(const WM_TEXT_TILE* pTile, int x, int y);
