// Watermark bitmaps: the job record and its INI encoding, halftone tables, text rendering
// and the bitmap file writer.
#pragma once
#include <windows.h>
#include <stddef.h>

// Results of the bitmap operations (1 is success).
#define IBMP_OK              1
#define IBMP_E_NOMEM        (-1)
#define IBMP_E_NOLOCK       (-2)
#define IBMP_E_PALETTE      (-3)
#define IBMP_E_OPEN         (-4)
#define IBMP_E_WRITE        (-5)
#define IBMP_E_FILL         (-6)
#define IBMP_E_ARG          (-7)
#define IBMP_E_READBACK     (-8)
#define IBMP_E_NODC         (-9)
#define IBMP_E_NOBITMAP     (-10)
#define IBMP_E_RECORD       (-11)

#define WM_TEXT_MAX_LEN       260
#define WM_FONTFACE_MAX_LEN   32
#define WM_FILENAME_MAX_LEN   260
#define WM_DRIVER_FAX         0x200u      // DriverType bit: draw the fax cover page
#define WM_STYLE_BOLD         0x1
#define WM_STYLE_ITALIC       0x2
#define WM_RECORD_SIZE        2348
#define WM_RECORD_CCH_BASE64  3132        // 4 * ceil(2348 / 3)
#define WM_INI_SECTION        L"Job Information"
#define WM_INI_KEY            L"Param"

#pragma pack(push, 1)
// The driver's description of the watermark: the first 1784 bytes of the job record.
struct TyWM {
    BYTE  reserved0[132];
    WCHAR wszText[WM_TEXT_MAX_LEN];
    WORD  reserved1;
    WORD  wDensity;                        // percent, 20..100
    WCHAR wszFontFace[WM_FONTFACE_MAX_LEN];
    WORD  wFontSize;                       // points, 1..288
    WORD  wStyle;                          // bit 0 bold, bit 1 italic
    WORD  wAngleDegree;                    // counter-clockwise, 0..360
    WORD  wPlacement;                      // 0 centred, 1 tiled
    BYTE  reserved2[1052];
    SHORT xShift;                          // not applied
    SHORT yShift;                          // not applied
};

// The watermark job record, stored base64-encoded in the job INI file.
struct WmBitmapParam {
    TyWM  tyWM;
    INT32 nWidth;
    INT32 nHeight;
    INT32 nDstScale;                       // 1 or 2
    INT32 nPageDensity;                    // 1..7, not above nMaxPageDensity
    INT32 nMaxPageDensity;                 // 1..7
    INT32 nTextScale;                      // hundredths, 5..200
    UINT32 nTableW;                        // set from the selected halftone table
    UINT32 nTableH;
    WCHAR wmFileName[WM_FILENAME_MAX_LEN];
    UINT32 HalftoneType;                   // 1..8, anything else: the 16 x 16 default
    UINT32 DriverType;                     // WM_DRIVER_FAX: fax cover page
    BYTE  reserved3[4];
};
#pragma pack(pop)

static_assert(sizeof(TyWM) == 1784, "TyWM is 1784 bytes");
static_assert(sizeof(WmBitmapParam) == WM_RECORD_SIZE, "WmBitmapParam is 2348 bytes");
static_assert(offsetof(TyWM, wszText) == 132, "wszText");
static_assert(offsetof(TyWM, wDensity) == 654, "wDensity");
static_assert(offsetof(TyWM, wszFontFace) == 656, "wszFontFace");
static_assert(offsetof(TyWM, wFontSize) == 720, "wFontSize");
static_assert(offsetof(TyWM, wStyle) == 722, "wStyle");
static_assert(offsetof(TyWM, wAngleDegree) == 724, "wAngleDegree");
static_assert(offsetof(TyWM, wPlacement) == 726, "wPlacement");
static_assert(offsetof(TyWM, xShift) == 1780, "xShift");
static_assert(offsetof(TyWM, yShift) == 1782, "yShift");
static_assert(offsetof(WmBitmapParam, nWidth) == 1784, "nWidth");
static_assert(offsetof(WmBitmapParam, nHeight) == 1788, "nHeight");
static_assert(offsetof(WmBitmapParam, nDstScale) == 1792, "nDstScale");
static_assert(offsetof(WmBitmapParam, nPageDensity) == 1796, "nPageDensity");
static_assert(offsetof(WmBitmapParam, nMaxPageDensity) == 1800, "nMaxPageDensity");
static_assert(offsetof(WmBitmapParam, nTextScale) == 1804, "nTextScale");
static_assert(offsetof(WmBitmapParam, nTableW) == 1808, "nTableW");
static_assert(offsetof(WmBitmapParam, nTableH) == 1812, "nTableH");
static_assert(offsetof(WmBitmapParam, wmFileName) == 1816, "wmFileName");
static_assert(offsetof(WmBitmapParam, HalftoneType) == 2336, "HalftoneType");
static_assert(offsetof(WmBitmapParam, DriverType) == 2340, "DriverType");

// Rows for the writer, bottom-up: cRows rows, row i being row (iFirst + i) % cPeriod of the
// cPeriod rows at pBits (a whole image: cPeriod == cRows, iFirst 0; or a block repeated).
struct IBMP_ROWS {
    const BYTE* pBits;
    DWORD cRows;
    DWORD cPeriod;
    DWORD iFirst;
};

// A bitmap being written: the headers, then runs of rows that together give the image's rows,
// bottom-up, to a file or to memory. A file is written under a temporary name beside the named
// one and put in its place by EndBMP when every row was written; a failure leaves the named file
// as it was. Begin, write, and end it in any case. A failure in one step makes the later ones do
// nothing.
struct IBMP_WRITER {
    HANDLE hFile;
    BYTE* pMemory;             // memory: the rows, bottom-up (NULL: a file)
    LPCWSTR pszFileName;
    WCHAR szTemp[MAX_PATH];
    DWORD cbRow;
    DWORD cRowsPerWrite;
    DWORD cRowsLeft, cRowsTotal;
    int rc;                    // IBMP_OK or the first failure
};
int  iBitmap_BeginBMP(IBMP_WRITER* pWriter, LPCWSTR pszFileName, int nBitsPerPixel, int nDpi,
                      int nWidth, int nHeight);
// The rows go to pRows (row size x nHeight bytes) instead of a file.
int  iBitmap_BeginBMPMemory(IBMP_WRITER* pWriter, BYTE* pRows, int nBitsPerPixel, int nWidth, int nHeight);
int  iBitmap_WriteRows(IBMP_WRITER* pWriter, const IBMP_ROWS* pRun);
int  iBitmap_EndBMP(IBMP_WRITER* pWriter);

// The per-job bitmap object: rendering and file writing run on it; it keeps no state between calls.
class iBitmap {
public:
    iBitmap();
    ~iBitmap();
    iBitmap(const iBitmap&) = delete;
    iBitmap& operator=(const iBitmap&) = delete;

    int iBitmap_CreateBMP(LPCWSTR pszFileName, int nBitsPerPixel, int nDpi,
                          int nWidth, int nHeight, const BYTE* pBits);
    // The same file from runs of rows that together give the nHeight rows.
    int iBitmap_CreateBMPRows(LPCWSTR pszFileName, int nBitsPerPixel, int nDpi,
                              int nWidth, int nHeight, const IBMP_ROWS* pRuns, int cRuns);
    int iBitmap_BMPCreateTextWM(LPCWSTR pszFileName, const WmBitmapParam* pParam,
                                int nWidth, int nHeight, int nDstScale,
                                int nPageDensity, int nMaxPageDensity, float fTextScale,
                                const BYTE* pTable, UINT32 nTableW, UINT32 nTableH,
                                UINT32 DriverType);
};

// Bitmap headers (bmpfile.cpp).
WORD iBitmap_GetRowBytes(int nBitsPerPixel, int nWidth);
void iBitmap_FillFileHeader(BITMAPFILEHEADER* pHeader, DWORD cbFile, DWORD cbOffBits);
void iBitmap_FillInfoHeader(BITMAPINFOHEADER* pHeader, int nBitsPerPixel, int nDpi,
                            int nWidth, int nHeight, DWORD cbImage);
// Fills the colour table after the header; returns 0, or -1 for a depth without one.
int  iBitmap_FillPalette(BITMAPINFO* pInfo, int nBitsPerPixel);
// Rows per write of the pixel data: as many as fit in one band of 6,451,200 bytes.
DWORD iBitmap_RowsPerWrite(DWORD cbRow, int nHeight);
// Number of colour-table entries for a depth (0 above 8 bits).
int  iBitmap_PaletteEntries(int nBitsPerPixel);
// FALSE when the file of a positive size would not fit its 32-bit size fields (bfSize, biSizeImage).
BOOL iBitmap_SizeFitsFile(int nBitsPerPixel, int nWidth, int nHeight);

// Job record (wmrecord.cpp).
int  MISC_GetPrivateProfileStruct(LPCWSTR pszSection, LPCWSTR pszKey, void* pDest,
                                  UINT cbDest, LPCWSTR pszIniPath);
// The inverse, for the driver-side tools: base64 of cbSrc bytes written as the key's value.
int  MISC_WritePrivateProfileStruct(LPCWSTR pszSection, LPCWSTR pszKey, const void* pSrc,
                                    UINT cbSrc, LPCWSTR pszIniPath);
// Standard padded base64 of cbSrc bytes into pszOut (4 * ceil(cbSrc / 3) + 1 units needed).
BOOL MISC_Base64Encode(const void* pSrc, UINT cbSrc, LPWSTR pszOut, size_t cchOut);
// Decodes ceil(cbDest / 3) groups of pszIn as the job reader does (characters outside the
// alphabet count as 0 in place) and copies cbDest bytes to pDest.
void MISC_Base64DecodeGroups(const char* pszIn, size_t cbIn, BYTE* pDest, UINT cbDest);
// Checks a record in the order the job does; 0 when it passes, else the number of the first
// rule that fails (1..9) with its error line in pszWhy.
int  SM_CheckWmBitmapParam(const WmBitmapParam* pParam, LPWSTR pszWhy, size_t cchWhy);
int  SM_CreateTextBMPUsingIni_New(LPCWSTR pszIniPath);

// Halftone tables (halftone.cpp).
struct HALFTONE_TABLE_INFO {
    LPCWSTR pszName;
    UINT32 nSize;          // width and height
    const BYTE* pTable;
};
// Copies the table chosen by the type; *ppTable is NULL when the copy cannot be made.
// Release the copy with MISC_FreeHalftoneTable.
void MISC_GetHalftoneTable(UINT32 HalftoneType, UINT32* pWidth, UINT32* pHeight, BYTE** ppTable);
void MISC_FreeHalftoneTable(BYTE* pTable);
// The constant table that a type selects (types outside 1..8 give the default).
const HALFTONE_TABLE_INFO* MISC_HalftoneTableInfo(UINT32 HalftoneType);

// Text drawing (wmtext.cpp).
#define WM_DENSITY_LEVELS 5
extern const BYTE g_WmDensityLevel[WM_DENSITY_LEVELS];
BYTE  WM_DensityLevel(WORD wDensity);
// What a text drawing did, for the driver-side proof tool: the caller sets rcPage, the drawing
// fills the rest.
#define WM_MISSING_MAX 32
struct WM_TEXT_INFO {
    RECT  rcPage;                          // in: the page's edges
    WCHAR szFaceUsed[LF_FACESIZE];         // the face the font was realised with
    WCHAR szFamilyUsed[LF_FACESIZE];       // the family of the font file behind it
    SIZE  sizeText;                        // the text's extent, unrotated
    int   nCopies;                         // copies drawn
    int   nCopiesCut;                      // copies whose rotated text cell crosses a page edge
    int   nMissing;                        // distinct characters without a glyph in the face used
    WCHAR wszMissing[WM_MISSING_MAX];      // the first of them
};
// The platform's own drawing of the watermark text on a context: every copy drawn there.
void  DrawWatermarkText(HDC hdc, const RECT* prc, const WmBitmapParam* pParam, int nFontSizeScale,
                        WM_TEXT_INFO* pInfo = NULL);
HFONT CreateWatermarkFont(HDC hdc, LPCWSTR pszFace, int nHeight, WORD wStyle, int iEscapement);
// Makes 1-bit rows white, each row's padding 0.
void  WM_FillRowsWhite(BYTE* pBits, int stride, int nWidth, int nRows);
// Screen pattern: 128 rows of 128 bytes; row r, bit k of byte b set where table entry
// (running over the rows) is at or below the level.
#define WM_PATTERN_DIM 128
void  WM_BuildScreenPattern(const BYTE* pTable, UINT32 nTableW, UINT32 nTableH, BYTE level,
                            BYTE pPattern[WM_PATTERN_DIM][WM_PATTERN_DIM]);
// Screens the bottom-up 1-bit rows in place: ink stays only where the pattern bit is set. The
// first row takes pattern row iFirstRow (rows of a page held in part).
void  WM_ScreenRows(BYTE* pBits, int stride, int nRows,
                    const BYTE pPattern[WM_PATTERN_DIM][WM_PATTERN_DIM],
                    UINT32 nTableW, UINT32 nTableH, UINT32 iFirstRow = 0);

// The rows a watermark job writes, to a writer begun for nWidth x nHeight at 1 bit per pixel (a
// file, or memory for a proof), screened or with the ink as drawn; the arguments as the job has
// checked them. The text is drawn once by the platform and its copies stamped in strips of rows;
// the fax cover page is drawn on a whole page. IBMP_OK or a bitmap error (also left in the writer).
int  iBitmap_WriteTextWM(IBMP_WRITER* pWriter, const WmBitmapParam* pParam, int nWidth, int nHeight,
                         int nDstScale, float fTextScale, const BYTE* pTable, UINT32 nTableW, UINT32 nTableH,
                         UINT32 DriverType, BOOL fScreen, WM_TEXT_INFO* pInfo);
// A page rendered in memory: bottom-up 1-bit rows, black 0.
struct WM_PAGE {
    BYTE* pBits;
    int stride;
    int nWidth;
    int nHeight;
    RECT rcDraw;                           // the text's drawing rectangle (larger when scaled up)
};
// Checks the arguments as the watermark job does and renders its rows, unscreened, into the page;
// IBMP_OK or a bitmap error. Release the page with iBitmap_FreePage in any case.
int  iBitmap_DrawPage(WM_PAGE* pPage, const WmBitmapParam* pParam, int nWidth, int nHeight, int nDstScale,
                      int nPageDensity, int nMaxPageDensity, float fTextScale,
                      const BYTE* pTable, UINT32 nTableW, UINT32 nTableH, UINT32 DriverType,
                      WM_TEXT_INFO* pTextInfo);
// Screens the drawn page with the table at the record's density level.
int  iBitmap_ScreenPage(WM_PAGE* pPage, const WmBitmapParam* pParam, const BYTE* pTable,
                        UINT32 nTableW, UINT32 nTableH);
void iBitmap_FreePage(WM_PAGE* pPage);
// The font height scale of a job: the text scale and the destination scale at 69 per point.
int  WM_FontSizeScale(float fTextScale, int nDstScale);

// Time spent in each phase of the last rendering job, in milliseconds (for the benchmark).
struct WM_PHASE_TIMES {
    double msSetup;        // context, bitmap, white fill
    double msDraw;         // text or cover page
    double msReadBack;     // (no longer a phase of its own: 0)
    double msScreen;
    double msWrite;
};
extern WM_PHASE_TIMES g_WmPhaseTimes;
