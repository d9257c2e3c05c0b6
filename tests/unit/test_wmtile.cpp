// Tiled watermark copies stamped from one rasterised tile against the platform drawing each
// copy itself: the pages must be byte-identical, copies overlapping, cut by the clip rectangle
// and reaching past the page's edges included.
#include <gtest/gtest.h>
#include "bitmap/bitmap.h"
#include <string.h>
#include <vector>

namespace {

// A white 1-bit page (black 0, white 1) selected into its own memory DC.
struct TestPage {
    HDC hdc = NULL;
    HBITMAP hbm = NULL;
    HGDIOBJ hOld = NULL;
    BYTE* bits = NULL;
    size_t cb = 0;
    TestPage(int w, int h)
    {
        struct { BITMAPINFOHEADER bmih; RGBQUAD colors[2]; } bi = {};
        int stride = iBitmap_GetRowBytes(1, w);
        iBitmap_FillInfoHeader(&bi.bmih, 1, 600, w, h, (DWORD)stride * h);
        iBitmap_FillPalette((BITMAPINFO*)&bi, 1);
        hdc = CreateCompatibleDC(NULL);
        void* pv = NULL;
        hbm = CreateDIBSection(hdc, (BITMAPINFO*)&bi, DIB_RGB_COLORS, &pv, NULL, 0);
        bits = (BYTE*)pv;
        cb = (size_t)stride * h;
        if (bits)
            memset(bits, 0xFF, cb);
        hOld = SelectObject(hdc, hbm);
        SetTextColor(hdc, RGB(0, 0, 0));
        SetBkMode(hdc, TRANSPARENT);
        SetTextAlign(hdc, TA_LEFT | TA_TOP);
    }
    ~TestPage()
    {
        SelectObject(hdc, hOld);
        DeleteObject(hbm);
        DeleteDC(hdc);
    }
    long Ink() const
    {
        long n = 0;
        for (size_t i = 0; i < cb; i++)
            for (BYTE b = (BYTE)~bits[i]; b; b &= (BYTE)(b - 1))
                n++;
        return n;
    }
};

}  // namespace

TEST(WmTile, StampedCopiesEqualDrawnCopies)
{
    static const struct {
        const wchar_t* face;
        int height;            // cell height in pixels
        int escapement;        // tenths of a degree
        int weight;
        BYTE italic;
        const wchar_t* text;
    } cases[] = {
        { L"Arial",           120,    0,   0, 0, L"CONFIDENTIAL" },
        { L"Arial",           160,  450, 700, 0, L"CONFIDENTIAL" },
        { L"Arial",            11,  450,   0, 0, L"Draft copy" },
        { L"Times New Roman", 140,  900,   0, 1, L"Wg fj" },
        { L"Times New Roman",  90, 1350, 700, 1, L"Internal" },
        { L"Courier New",     100, 2000,   0, 0, L"DO NOT COPY" },
        { L"Courier New",     230, 3150, 700, 1, L"VOID" },
        { L"Arial",            75, 3300,   0, 1, L"fff///" },
    };
    const int w = 1500, h = 1300;
    const RECT clip = { 37, 23, w - 51, h - 19 };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "face " << c.face << " height " << c.height
                                        << " escapement " << c.escapement);
        LOGFONTW lf = {};
        lf.lfHeight = c.height;
        lf.lfEscapement = c.escapement;
        lf.lfWeight = c.weight;
        lf.lfItalic = c.italic;
        wcscpy(lf.lfFaceName, c.face);
        HFONT hFont = CreateFontIndirectW(&lf);
        ASSERT_TRUE(hFont != NULL);
        TestPage drawn(w, h), stamped(w, h);
        ASSERT_TRUE(drawn.bits && stamped.bits);
        HGDIOBJ oldDrawn = SelectObject(drawn.hdc, hFont);
        HGDIOBJ oldStamped = SelectObject(stamped.hdc, hFont);
        int n = (int)wcslen(c.text);
        WM_TEXT_TILE tile;
        ASSERT_TRUE(WM_MakeTextTile(stamped.hdc, c.text, n, &tile));
        // Pitches below the text's size, so that copies overlap; starts outside the page.
        int copies = 0, stampable = 0;
        for (int y = -c.height * 3; y < h + c.height; y += c.height + 29)
            for (int x = -c.height * 4; x < w + c.height; x += 3 * c.height + 17) {
                ExtTextOutW(drawn.hdc, x, y, ETO_CLIPPED, &clip, c.text, (UINT)n, NULL);
                WM_StampTextTile(stamped.hdc, &clip, &tile, x, y);
                copies++;
                stampable += x - tile.xOrg + tile.rcInk.left >= 0 &&
                             y - tile.yOrg + tile.rcInk.bottom > tile.cGlyphReach;
            }
        WM_FreeTextTile(&tile);
        EXPECT_EQ(NULL, tile.hdc);
        GdiFlush();
        SelectObject(drawn.hdc, oldDrawn);
        SelectObject(stamped.hdc, oldStamped);
        DeleteObject(hFont);
        EXPECT_GE(stampable, 3) << copies;       // copies that really are stamped
        EXPECT_GT(drawn.Ink(), 0);
        EXPECT_EQ(drawn.Ink(), stamped.Ink());
        EXPECT_EQ(0, memcmp(drawn.bits, stamped.bits, drawn.cb));
    }
}
