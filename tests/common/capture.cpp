#include "smtest.h"

static bool CaptureFromDC(HDC hdcSrc, int x, int y, int cx, int cy, SmImage* pImage)
{
    if (cx <= 0 || cy <= 0)
        return false;
    BITMAPINFO bmi = {};
    bmi.bmiHeader.biSize = sizeof(bmi.bmiHeader);
    bmi.bmiHeader.biWidth = cx;
    bmi.bmiHeader.biHeight = -cy;
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 32;
    bmi.bmiHeader.biCompression = BI_RGB;
    void* pBits = NULL;
    HDC hdcMem = CreateCompatibleDC(hdcSrc);
    HBITMAP hbm = CreateDIBSection(hdcSrc, &bmi, DIB_RGB_COLORS, &pBits, NULL, 0);
    bool ok = false;
    if (hdcMem && hbm) {
        HGDIOBJ hOld = SelectObject(hdcMem, hbm);
        ok = BitBlt(hdcMem, 0, 0, cx, cy, hdcSrc, x, y, SRCCOPY) != FALSE;
        GdiFlush();
        SelectObject(hdcMem, hOld);
        if (ok) {
            pImage->width = cx;
            pImage->height = cy;
            pImage->pixels.assign(static_cast<DWORD*>(pBits), static_cast<DWORD*>(pBits) + (size_t)cx * cy);
        }
    }
    if (hbm)
        DeleteObject(hbm);
    if (hdcMem)
        DeleteDC(hdcMem);
    return ok;
}

bool SmCaptureWindow(HWND hwnd, SmImage* pImage)
{
    RECT rc;
    if (!GetWindowRect(hwnd, &rc))
        return false;
    HDC hdc = GetWindowDC(hwnd);
    if (!hdc)
        return false;
    bool ok = CaptureFromDC(hdc, 0, 0, rc.right - rc.left, rc.bottom - rc.top, pImage);
    ReleaseDC(hwnd, hdc);
    return ok;
}

bool SmCaptureClient(HWND hwnd, SmImage* pImage)
{
    RECT rc;
    if (!GetClientRect(hwnd, &rc))
        return false;
    HDC hdc = GetDC(hwnd);
    if (!hdc)
        return false;
    bool ok = CaptureFromDC(hdc, 0, 0, rc.right, rc.bottom, pImage);
    ReleaseDC(hwnd, hdc);
    return ok;
}

bool SmSaveImageBmp(const SmImage& image, const std::wstring& path)
{
    if (image.width <= 0 || image.height <= 0)
        return false;
    const DWORD cbRow = ((DWORD)image.width * 3 + 3) & ~3u;
    const DWORD cbPixels = cbRow * (DWORD)image.height;
    BITMAPFILEHEADER bfh = {};
    BITMAPINFOHEADER bih = {};
    bfh.bfType = 0x4D42;
    bfh.bfOffBits = sizeof(bfh) + sizeof(bih);
    bfh.bfSize = bfh.bfOffBits + cbPixels;
    bih.biSize = sizeof(bih);
    bih.biWidth = image.width;
    bih.biHeight = image.height;
    bih.biPlanes = 1;
    bih.biBitCount = 24;
    bih.biSizeImage = cbPixels;
    std::vector<BYTE> file(bfh.bfSize, 0);
    memcpy(file.data(), &bfh, sizeof(bfh));
    memcpy(file.data() + sizeof(bfh), &bih, sizeof(bih));
    for (int y = 0; y < image.height; y++) {
        BYTE* row = file.data() + bfh.bfOffBits + (size_t)(image.height - 1 - y) * cbRow;
        for (int x = 0; x < image.width; x++) {
            DWORD p = image.At(x, y);
            row[x * 3 + 0] = (BYTE)(p & 0xFF);
            row[x * 3 + 1] = (BYTE)((p >> 8) & 0xFF);
            row[x * 3 + 2] = (BYTE)((p >> 16) & 0xFF);
        }
    }
    return SmWriteFile(path, file.data(), file.size());
}
