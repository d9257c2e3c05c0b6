// The watermark text drawn by the platform, straight into the page's strips (one copy) or once
// into a tile stamped wherever a copy goes: what the renderer (wmtext.cpp) and the tiles
// (wmtile.cpp) share inside the bitmap module.
#pragma once
#include "bitmap/bitmap.h"

#define WM_CB_STRIP (256 * 1024)   // rows of a page stamped, screened and written at a time
#define WM_CB_TILE_STRIP (256 * 1024)   // rows of a tile drawn at a time
#define WM_PI 3.14159265358979323846
#define WM_TILE_ATTEMPTS    3
#define WM_TILE_MAX_PIXELS  (1024LL * 1024 * 1024)  // a tile's area at most (its kept ink: 128 MB)

// How the platform places a copy of the job's text: a copy drawn with its top-left reference
// point at (x, y) starts its baseline at the point moved by the ascent along the turned
// vertical, each coordinate cut toward zero, and places its glyphs from there, the same at every
// start.
struct WM_TEXT_LAYOUT {
    LPCWSTR pszText;
    int cch;
    SIZE ext;                  // the text's extent, unrotated
    double a;                  // the escapement in radians
    double xAlign, yAlign;     // reference point to baseline start, before the cut
    RECT rcCell;               // the turned text cell around a reference point at 0, 0
};
// The layout of a text in the DC's font (selected, aligned at its top left); FALSE when the text
// cannot be measured.
BOOL  WM_LayOutText(HDC hdc, LPCWSTR pszText, int cch, WM_TEXT_LAYOUT* pLayout);
// Where the baseline of a copy drawn at (x, y) starts.
POINT WM_BaselineStart(const WM_TEXT_LAYOUT* pLayout, int x, int y);

// Draws a copy whose baseline starts at ptStart of the DC's bitmap (FALSE when it fails).
BOOL  WM_DrawCopy(HDC hdc, const WM_TEXT_LAYOUT* pLayout, POINT ptStart);
// The pixels a copy may ink, from its baseline's start, at an attempt (0 up to WM_TILE_ATTEMPTS,
// more room at each).
void  WM_CopyArea(const WM_TEXT_LAYOUT* pLayout, int attempt, RECT* prc);

// One copy's pixels, kept as each row's ink, in pixels from its baseline's start.
struct WM_TILE_ROW {
    int left, right;           // the row's ink, first pixel to one past the last (equal: none)
    int iFirstByte, cb;        // the bytes kept, from the row's byte iFirstByte; white elsewhere
    const BYTE* p;
};
struct WM_TEXT_TILE {
    WM_TILE_ROW* pRows;        // one per row of rcTile, top-down
    HBITMAP hbmKept;           // the bitmap the rows were drawn in, when they are kept there
    BYTE* pChunks;             // else the kept bytes, in chunks chained through their first bytes
    BYTE* pFree;               // the rest of the newest chunk
    size_t cbFree;
    RECT rcTile;               // the pixels drawn, from the baseline's start
    RECT rcInk;                // the ink's box, in the tile's rows and columns (empty: none)
};
// Draws the text once into a tile of the pixels within rcNeed (from the baseline's start; NULL:
// the whole copy). FALSE when it cannot be made; free it either way.
BOOL  WM_MakeTextTile(HDC hdc, const WM_TEXT_LAYOUT* pLayout, const RECT* prcNeed, WM_TEXT_TILE* pTile);
void  WM_FreeTextTile(WM_TEXT_TILE* pTile);
// The tile's ink, its baseline starting at ptStart, ANDed into bottom-up 1-bit page rows (black
// 0) within the rectangle of rows and columns; row 0 of the rows is page row yFirst.
void  WM_StampTile(BYTE* pBits, int stride, int cRows, int yFirst, const RECT* prcPart,
                   const WM_TEXT_TILE* pTile, POINT ptStart);
// A white-1, black-0 (or white-0, black-1) 1-bit DIB section of cx x cy pixels, bottom-up, and its
// bits; NULL on failure.
HBITMAP WM_CreateRowsBitmap(HDC hdc, int cx, int cy, BYTE** ppBits, BOOL fWhiteZero);
// Rows in a strip of 1-bit rows of this stride (at least one).
int   WM_StripRowCount(int stride);
