// The job's bitmap object and the bitmap file writer with its header routines.
#include "bitmap/bitmap.h"
#include "util/trace.h"
#include <strsafe.h>
#include <string.h>

#define IBMP_CB_BAND   6451200u        // largest single write of pixel rows
#define IBMP_CB_FILEHDR 14
#define IBMP_CB_INFOHDR 40

static const WCHAR c_szTagWriter[] = L"iBitmap_CreateBMP";
static const WCHAR c_szTempPrefix[] = L"~wm";
static const WCHAR c_szTempSuffix[] = L".tmp";

iBitmap::iBitmap() {}
iBitmap::~iBitmap() {}

// The row size before it is taken to 16 bits (0 for a depth without one).
static long long RowBytesWide(int nBitsPerPixel, int nWidth)
{
    long long w = nWidth;
    switch (nBitsPerPixel) {
    case 1:  return ((w + 7) / 8 + 3) / 4 * 4;
    case 4:  return ((w + 1) / 2 + 3) / 4 * 4;
    case 8:  return (w + 3) / 4 * 4;
    case 16: return (2 * w + 3) / 4 * 4;
    case 24: return (3 * w + 3) / 4 * 4;
    case 32: return 4 * w;
    default: return 0;
    }
}

WORD iBitmap_GetRowBytes(int nBitsPerPixel, int nWidth)
{
    return (WORD)(RowBytesWide(nBitsPerPixel, nWidth) & 0xFFFF);
}

DWORD iBitmap_RowsPerWrite(DWORD cbRow, int nHeight)
{
    if (nHeight <= 0)
        return 0;
    DWORD cRows = cbRow ? IBMP_CB_BAND / cbRow : (DWORD)nHeight;
    return cRows < (DWORD)nHeight ? cRows : (DWORD)nHeight;
}

int iBitmap_PaletteEntries(int nBitsPerPixel)
{
    return (nBitsPerPixel >= 0 && nBitsPerPixel <= 8) ? (1 << nBitsPerPixel) : 0;
}

BOOL iBitmap_SizeFitsFile(int nBitsPerPixel, int nWidth, int nHeight)
{
    if (nWidth <= 0 || nHeight <= 0)
        return TRUE;        // refused elsewhere, with the size in the trace
    unsigned long long cbHeaders = IBMP_CB_FILEHDR + IBMP_CB_INFOHDR + 4ull * iBitmap_PaletteEntries(nBitsPerPixel);
    unsigned long long cbImage = (unsigned long long)RowBytesWide(nBitsPerPixel, nWidth) * (unsigned long long)nHeight;
    return cbHeaders + cbImage <= 0xFFFFFFFFull;
}

void iBitmap_FillFileHeader(BITMAPFILEHEADER* pHeader, DWORD cbFile, DWORD cbOffBits)
{
    ZeroMemory(pHeader, sizeof(*pHeader));
    pHeader->bfType = 0x4D42;      // "BM"
    pHeader->bfSize = cbFile;
    pHeader->bfOffBits = cbOffBits;
}

void iBitmap_FillInfoHeader(BITMAPINFOHEADER* pHeader, int nBitsPerPixel, int nDpi,
                            int nWidth, int nHeight, DWORD cbImage)
{
    ZeroMemory(pHeader, sizeof(*pHeader));
    pHeader->biSize = sizeof(BITMAPINFOHEADER);
    pHeader->biWidth = nWidth;
    pHeader->biHeight = nHeight;
    pHeader->biPlanes = 1;
    pHeader->biBitCount = (WORD)nBitsPerPixel;
    pHeader->biCompression = BI_RGB;
    pHeader->biSizeImage = cbImage;
    pHeader->biXPelsPerMeter = (LONG)((long long)nDpi * 10000 / 254);
    pHeader->biYPelsPerMeter = pHeader->biXPelsPerMeter;
}

int iBitmap_FillPalette(BITMAPINFO* pInfo, int nBitsPerPixel)
{
    RGBQUAD* pColors = pInfo->bmiColors;
    int nEntries;
    switch (nBitsPerPixel) {
    case 1:
        nEntries = 2;
        pColors[0] = RGBQUAD{ 0, 0, 0, 0 };
        pColors[1] = RGBQUAD{ 255, 255, 255, 0 };
        break;
    case 4:
        nEntries = 16;
        for (int i = 0; i < 16; i++) {
            BYTE g = (BYTE)(i == 15 ? 255 : 16 * i);
            pColors[i] = RGBQUAD{ g, g, g, 0 };
        }
        break;
    case 8:
        nEntries = 256;
        for (int i = 0; i < 256; i++)
            pColors[i] = RGBQUAD{ (BYTE)i, (BYTE)i, (BYTE)i, 0 };
        break;
    case 16:
    case 24:
        nEntries = 0;
        break;
    default:
        return -1;
    }
    pInfo->bmiHeader.biClrUsed = (DWORD)nEntries;
    pInfo->bmiHeader.biClrImportant = (DWORD)nEntries;
    return 0;
}

// TRUE when the runs hold rows and give exactly nHeight of them.
static BOOL RunsCover(const IBMP_ROWS* pRuns, int cRuns, int nHeight)
{
    unsigned long long cRows = 0;
    for (int i = 0; pRuns && i < cRuns; i++) {
        if (!pRuns[i].pBits || pRuns[i].cPeriod == 0)
            return FALSE;
        cRows += pRuns[i].cRows;
    }
    return pRuns && cRows == (unsigned long long)nHeight;
}

// One write of cb bytes at the file pointer; FALSE unless all of them were written.
static BOOL WriteAll(HANDLE hFile, const void* pData, DWORD cb)
{
    DWORD cbWritten = 0;
    return WriteFile(hFile, pData, cb, &cbWritten, NULL) && cbWritten == cb;
}

// A new, empty file beside the named one, its name in szTemp: the image is written there and put
// in the named file's place only when it is complete, so that a job that fails or is ended part
// way leaves the old file as it was. The file is "~wm<name>.tmp": what a killed job leaves, the
// next job for the same file writes over, so such files do not pile up. A unique name is taken
// when that one is held (another job for the same file) or too long.
static HANDLE OpenTempFile(LPCWSTR pszFileName, LPWSTR pszTemp, size_t cchTemp)
{
    WCHAR szDir[MAX_PATH];
    pszTemp[0] = 0;
    if (!pszFileName || FAILED(StringCchCopyW(szDir, ARRAYSIZE(szDir), pszFileName)) || cchTemp < MAX_PATH)
        return INVALID_HANDLE_VALUE;
    LPWSTR pszName = szDir;
    for (LPWSTR p = szDir; *p; p++)
        if (*p == L'\\' || *p == L'/' || *p == L':')
            pszName = p + 1;
    const int cchDir = (int)(pszName - szDir);
    LPCWSTR pszOwnName = pszFileName + cchDir;
    // A file that could not be written over (read-only, held without sharing) is refused before
    // anything is written, as opening it would be.
    HANDLE hOld = CreateFileW(pszFileName, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    DWORD dwError = hOld == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
    if (hOld != INVALID_HANDLE_VALUE)
        CloseHandle(hOld);
    DWORD dwAttributes = GetFileAttributesW(pszFileName);
    if ((dwError != ERROR_SUCCESS && dwError != ERROR_FILE_NOT_FOUND) ||
            (dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_READONLY)))
        return INVALID_HANDLE_VALUE;
    HANDLE hFile = INVALID_HANDLE_VALUE;
    if (SUCCEEDED(StringCchPrintfW(pszTemp, cchTemp, L"%.*s%s%s%s", cchDir, szDir, c_szTempPrefix, pszOwnName,
                                   c_szTempSuffix)))
        hFile = CreateFileW(pszTemp, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (hFile != INVALID_HANDLE_VALUE)
        return hFile;
    if (cchDir == 0)
        StringCchCopyW(szDir, ARRAYSIZE(szDir), L".");
    else
        *pszName = 0;
    if (!GetTempFileNameW(szDir, c_szTempPrefix, 0, pszTemp))
        return INVALID_HANDLE_VALUE;
    hFile = CreateFileW(pszTemp, GENERIC_WRITE, 0, NULL, TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (hFile == INVALID_HANDLE_VALUE) {
        DeleteFileW(pszTemp);
        pszTemp[0] = 0;
    }
    return hFile;
}

int iBitmap::iBitmap_CreateBMP(LPCWSTR pszFileName, int nBitsPerPixel, int nDpi,
                               int nWidth, int nHeight, const BYTE* pBits)
{
    IBMP_ROWS rows = { pBits, nHeight > 0 ? (DWORD)nHeight : 0, nHeight > 0 ? (DWORD)nHeight : 1, 0 };
    return iBitmap_CreateBMPRows(pszFileName, nBitsPerPixel, nDpi, nWidth, nHeight, &rows, 1);
}

int iBitmap::iBitmap_CreateBMPRows(LPCWSTR pszFileName, int nBitsPerPixel, int nDpi,
                                   int nWidth, int nHeight, const IBMP_ROWS* pRuns, int cRuns)
{
    // Rows that do not make up the image are refused before the file is touched.
    if (nHeight > 0 && !RunsCover(pRuns, cRuns, nHeight)) {
        TRACE_TagError(c_szTagWriter, L"image size error %d x %d!", nWidth, nHeight);
        return IBMP_E_ARG;
    }
    IBMP_WRITER writer;
    iBitmap_BeginBMP(&writer, pszFileName, nBitsPerPixel, nDpi, nWidth, nHeight);
    for (int i = 0; i < cRuns; i++)
        iBitmap_WriteRows(&writer, &pRuns[i]);
    return iBitmap_EndBMP(&writer);
}

int iBitmap_BeginBMP(IBMP_WRITER* pWriter, LPCWSTR pszFileName, int nBitsPerPixel, int nDpi,
                     int nWidth, int nHeight)
{
    TRACE_FuncIn(TRACE_LEVEL_INFO, L"iBitmap_CreateBMP");
    int rc = IBMP_OK;
    HGLOBAL hMem01 = NULL, hMem02 = NULL;
    BITMAPFILEHEADER* pFileHd = NULL;
    BITMAPINFO* pBmpInfo = NULL;
    HANDLE hFile = INVALID_HANDLE_VALUE;

    int nEntries = iBitmap_PaletteEntries(nBitsPerPixel);
    DWORD cbInfo = IBMP_CB_INFOHDR + 4u * (DWORD)nEntries;
    DWORD cbRow = iBitmap_GetRowBytes(nBitsPerPixel, nWidth);
    ZeroMemory(pWriter, sizeof(*pWriter));
    pWriter->hFile = INVALID_HANDLE_VALUE;

    if (!iBitmap_SizeFitsFile(nBitsPerPixel, nWidth, nHeight)) {
        TRACE_TagError(c_szTagWriter, L"image size error %d x %d!", nWidth, nHeight);
        rc = IBMP_E_ARG;
        goto done;
    }
    hMem01 = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, IBMP_CB_FILEHDR);
    if (!hMem01) {
        TRACE_TagError(c_szTagWriter, L"alloc hMem01 fail!");
        rc = IBMP_E_NOMEM;
        goto done;
    }
    hMem02 = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, cbInfo);
    if (!hMem02) {
        TRACE_TagError(c_szTagWriter, L"alloc hMem02 fail!");
        rc = IBMP_E_NOMEM;
        goto done;
    }
    pFileHd = (BITMAPFILEHEADER*)GlobalLock(hMem01);
    if (!pFileHd) {
        TRACE_TagError(c_szTagWriter, L"lock fileHd fail!");
        rc = IBMP_E_NOLOCK;
        goto done;
    }
    pBmpInfo = (BITMAPINFO*)GlobalLock(hMem02);
    if (!pBmpInfo) {
        TRACE_TagError(c_szTagWriter, L"lock bmpInfo fail!");
        rc = IBMP_E_NOLOCK;
        goto done;
    }

    {
        DWORD cbImage = cbRow * (DWORD)(nHeight > 0 ? nHeight : 0);
        iBitmap_FillFileHeader(pFileHd, IBMP_CB_FILEHDR + cbInfo + cbImage, IBMP_CB_FILEHDR + cbInfo);
        iBitmap_FillInfoHeader(&pBmpInfo->bmiHeader, nBitsPerPixel, nDpi, nWidth, nHeight, cbImage);
        if (iBitmap_FillPalette(pBmpInfo, nBitsPerPixel) != 0) {
            TRACE_TagError(c_szTagWriter, L"fill pallete data fail!");
            rc = IBMP_E_PALETTE;
            goto done;
        }
    }
    // A size the header cannot describe is refused before the file is touched.
    if (nWidth <= 0 || nHeight <= 0 || RowBytesWide(nBitsPerPixel, nWidth) > 0xFFFF) {
        TRACE_TagError(c_szTagWriter, L"image size error %d x %d!", nWidth, nHeight);
        rc = IBMP_E_ARG;
        goto done;
    }

    hFile = OpenTempFile(pszFileName, pWriter->szTemp, ARRAYSIZE(pWriter->szTemp));
    if (hFile == INVALID_HANDLE_VALUE) {
        TRACE_TagError(c_szTagWriter, L"open file %s fail!", pszFileName);
        rc = IBMP_E_OPEN;
        goto done;
    }
    pWriter->hFile = hFile;
    pWriter->pszFileName = pszFileName;
    if (!WriteAll(hFile, pFileHd, IBMP_CB_FILEHDR)) {
        TRACE_TagError(c_szTagWriter, L"write file header data fail!");
        rc = IBMP_E_WRITE;
        goto done;
    }
    if (!WriteAll(hFile, pBmpInfo, cbInfo)) {
        TRACE_TagError(c_szTagWriter, L"write file info data fail!");
        rc = IBMP_E_WRITE;
        goto done;
    }
    pWriter->cbRow = cbRow;
    pWriter->cRowsPerWrite = iBitmap_RowsPerWrite(cbRow, nHeight);
    pWriter->cRowsLeft = pWriter->cRowsTotal = (DWORD)nHeight;

done:
    pWriter->rc = rc;
    if (pBmpInfo)
        GlobalUnlock(hMem02);
    if (pFileHd)
        GlobalUnlock(hMem01);
    if (hMem02)
        GlobalFree(hMem02);
    if (hMem01)
        GlobalFree(hMem01);
    return rc;
}

int iBitmap_BeginBMPMemory(IBMP_WRITER* pWriter, BYTE* pRows, int nBitsPerPixel, int nWidth, int nHeight)
{
    TRACE_FuncIn(TRACE_LEVEL_INFO, L"iBitmap_BeginBMPMemory");
    ZeroMemory(pWriter, sizeof(*pWriter));
    pWriter->hFile = INVALID_HANDLE_VALUE;
    pWriter->rc = IBMP_OK;
    pWriter->cbRow = iBitmap_GetRowBytes(nBitsPerPixel, nWidth);
    if (!pRows || nWidth <= 0 || nHeight <= 0 || pWriter->cbRow == 0) {
        TRACE_TagError(c_szTagWriter, L"image size error %d x %d!", nWidth, nHeight);
        pWriter->rc = IBMP_E_ARG;
    } else {
        pWriter->pMemory = pRows;
        pWriter->cRowsPerWrite = (DWORD)nHeight;
        pWriter->cRowsLeft = pWriter->cRowsTotal = (DWORD)nHeight;
    }
    TRACE_FuncOut(TRACE_LEVEL_INFO);
    return pWriter->rc;
}

int iBitmap_WriteRows(IBMP_WRITER* pWriter, const IBMP_ROWS* pRun)
{
    if (pWriter->rc != IBMP_OK)
        return pWriter->rc;
    if (!pRun->pBits || pRun->cPeriod == 0 || pRun->cRows > pWriter->cRowsLeft) {
        TRACE_TagError(c_szTagWriter, L"rows error: %u rows of %u left!", (unsigned)pRun->cRows,
                       (unsigned)pWriter->cRowsLeft);
        return pWriter->rc = IBMP_E_ARG;
    }
    for (DWORD i = 0; i < pRun->cRows;) {
        DWORD r = (pRun->iFirst + i) % pRun->cPeriod;
        DWORD cRows = pRun->cRows - i;
        if (cRows > pRun->cPeriod - r)
            cRows = pRun->cPeriod - r;
        if (cRows > pWriter->cRowsPerWrite)
            cRows = pWriter->cRowsPerWrite;
        const BYTE* pSrc = pRun->pBits + (size_t)r * pWriter->cbRow;
        if (pWriter->pMemory) {
            memcpy(pWriter->pMemory + (size_t)(pWriter->cRowsTotal - pWriter->cRowsLeft + i) * pWriter->cbRow, pSrc,
                   (size_t)cRows * pWriter->cbRow);
        } else if (!WriteAll(pWriter->hFile, pSrc, cRows * pWriter->cbRow)) {
            TRACE_TagError(c_szTagWriter, L"fwrite fail!");
            return pWriter->rc = IBMP_E_WRITE;
        }
        i += cRows;
    }
    pWriter->cRowsLeft -= pRun->cRows;
    return IBMP_OK;
}

int iBitmap_EndBMP(IBMP_WRITER* pWriter)
{
    int rc = pWriter->rc;
    if (rc == IBMP_OK && pWriter->cRowsLeft != 0) {
        TRACE_TagError(c_szTagWriter, L"rows error: %u rows not written!", (unsigned)pWriter->cRowsLeft);
        rc = IBMP_E_ARG;
    }
    if (pWriter->hFile != INVALID_HANDLE_VALUE) {
        if (!CloseHandle(pWriter->hFile) && rc == IBMP_OK) {
            TRACE_TagError(c_szTagWriter, L"fwrite fail!");
            rc = IBMP_E_WRITE;
        }
        pWriter->hFile = INVALID_HANDLE_VALUE;
        // A file that cannot be replaced (held open without sharing, mapped, read-only) keeps
        // its contents, as when it cannot be opened.
        if (rc == IBMP_OK && !MoveFileExW(pWriter->szTemp, pWriter->pszFileName,
                                          MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            TRACE_TagError(c_szTagWriter, L"open file %s fail!", pWriter->pszFileName);
            rc = IBMP_E_OPEN;
        }
        if (rc != IBMP_OK)
            DeleteFileW(pWriter->szTemp);
    }
    pWriter->rc = rc;
    TRACE_Print(TRACE_LEVEL_INFO, L"rc = %d", rc);
    TRACE_FuncOut(TRACE_LEVEL_INFO);
    return rc;
}
