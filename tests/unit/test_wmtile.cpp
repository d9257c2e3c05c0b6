// Tiled watermark copies stamped from one rasterised tile against drawing each copy: the pages
// must be byte-identical, copies overlapping, cut by the clip rectangle and reaching past the
// page's edges included. And the text filled from its outlines against the platform's drawing.
#include <gtest/gtest.h>
#include "bitmap/bitmap.h"
#include "bitmap/wmtile.h"
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

HFONT MakeFont(const wchar_t* face, int height, int escapement, int weight, BYTE italic, BYTE underline = 0)
{
    LOGFONTW lf = {};
    lf.lfHeight = height;
    lf.lfEscapement = escapement;
    lf.lfWeight = weight;
    lf.lfItalic = italic;
    lf.lfUnderline = underline;
    wcscpy(lf.lfFaceName, face);
    return CreateFontIndirectW(&lf);
}

}  // namespace

struct TileCase {
    const wchar_t* face;
    int height;            // cell height in pixels
    int escapement;        // tenths of a degree
    int weight;
    BYTE italic;
    UINT align;
    const wchar_t* text;
};

// Draws the copies both ways, pitches below the text's size so that copies overlap, starting
// outside the page and reaching past every edge; the pages must be the same bytes.
static void ExpectStampedEqualsDrawn(const TileCase& c, bool fFromPage, int* pTaken)
{
    SCOPED_TRACE(testing::Message() << (fFromPage ? "taken from the page, " : "rasterised apart, ") << "face " << c.face << " height " << c.height
                                    << " escapement " << c.escapement << " align " << c.align);
    const int w = 1500, h = 1300;
    const RECT clip = { 37, 23, w - 51, h - 19 };
    HFONT hFont = MakeFont(c.face, c.height, c.escapement, c.weight, c.italic);
    ASSERT_TRUE(hFont != NULL);
    TestPage drawn(w, h), stamped(w, h);
    ASSERT_TRUE(drawn.bits && stamped.bits);
    HGDIOBJ oldDrawn = SelectObject(drawn.hdc, hFont);
    HGDIOBJ oldStamped = SelectObject(stamped.hdc, hFont);
    SetTextAlign(drawn.hdc, c.align);
    SetTextAlign(stamped.hdc, c.align);
    int n = (int)wcslen(c.text);
    std::vector<POINT> at;
    for (int y = -c.height * 3; y < h + c.height; y += c.height + 29)
        for (int x = -c.height * 4; x < w + c.height; x += 3 * c.height + 17)
            at.push_back({ x, y });
    // The tile rasterised apart, or taken from the first copy drawn wholly on the page.
    WM_TEXT_TILE tile;
    size_t iTaken = at.size();
    if (fFromPage) {
        BOOL fDrawn = FALSE;
        for (size_t i = 0; i < at.size() && !fDrawn; i++) {
            if (WM_CaptureTextTile(stamped.hdc, &clip, c.text, n, at[i].x, at[i].y, &tile, &fDrawn))
                iTaken = i;
        }
        // Text whose copies never lie wholly on the page, or not placed from its top left
        // corner, is rasterised apart.
        if (iTaken < at.size())
            ++*pTaken;
        else
            ASSERT_TRUE(WM_MakeTextTile(stamped.hdc, c.text, n, &tile));
    } else {
        ASSERT_TRUE(WM_MakeTextTile(stamped.hdc, c.text, n, &tile));
    }
    int stamps = 0;
    for (size_t i = 0; i < at.size(); i++) {
        WM_DrawText(drawn.hdc, at[i].x, at[i].y, ETO_CLIPPED, &clip, c.text, n);
        if (i != iTaken)
            stamps += WM_StampTextTile(stamped.hdc, &clip, &tile, at[i].x, at[i].y) ? 1 : 0;
    }
    int copies = (int)at.size();
    WM_FreeTextTile(&tile);
    EXPECT_EQ(nullptr, tile.pRows);
    GdiFlush();
    SelectObject(drawn.hdc, oldDrawn);
    SelectObject(stamped.hdc, oldStamped);
    DeleteObject(hFont);
    EXPECT_GE(stamps, 3) << copies;         // copies that really are stamped
    EXPECT_GT(drawn.Ink(), 0);
    EXPECT_EQ(drawn.Ink(), stamped.Ink());
    EXPECT_EQ(0, memcmp(drawn.bits, stamped.bits, drawn.cb));
}

TEST(WmTile, StampedCopiesEqualDrawnCopies)
{
    const UINT topLeft = TA_LEFT | TA_TOP;
    static const TileCase cases[] = {
        { L"Arial",           120,    0,   0, 0, topLeft, L"CONFIDENTIAL" },
        { L"Arial",           160,  450, 700, 0, topLeft, L"CONFIDENTIAL" },
        { L"Arial",            11,  450,   0, 0, topLeft, L"Draft copy" },
        { L"Times New Roman", 140,  900,   0, 1, topLeft, L"Wg fj" },
        { L"Times New Roman",  90, 1350, 700, 1, topLeft, L"Internal" },
        { L"Courier New",     100, 2000,   0, 0, topLeft, L"DO NOT COPY" },
        { L"Courier New",     230, 3150, 700, 1, topLeft, L"VOID" },
        { L"Arial",            75, 3300,   0, 1, topLeft, L"fff///" },
        // Right angles: the turn's rounding error decides at some coordinates (y = 256 here).
        { L"Arial",           120, 2700,   0, 0, topLeft, L"CONFIDENTIAL" },
        { L"Arial",           120, 1800, 700, 0, topLeft, L"CONFIDENTIAL" },
        { L"Times New Roman", 200, 2100,   0, 0, topLeft, L"Wg fj" },
        { L"Arial",            90,  600,   0, 0, TA_BOTTOM | TA_RIGHT, L"Copy" },
        { L"Courier New",      80, 2450, 700, 0, TA_BASELINE | TA_CENTER, L"Sample" },
    };
    int taken = 0;
    for (const auto& c : cases) {
        ExpectStampedEqualsDrawn(c, false, &taken);
        ExpectStampedEqualsDrawn(c, true, &taken);
    }
    // Every 15 degrees, through the faces, sizes and styles.
    static const wchar_t* const faces[] = { L"Arial", L"Times New Roman", L"Courier New" };
    static const int heights[] = { 60, 120, 200 };
    static const wchar_t* const texts[] = { L"CONFIDENTIAL", L"Wg fj", L"fff///", L"DO NOT COPY" };
    for (int i = 0; i < 24; i++) {
        TileCase c = { faces[i % 3], heights[(i / 3) % 3], i * 150, (i % 2) ? 700 : 0,
                       (BYTE)(i % 5 == 0), topLeft, texts[i % 4] };
        ExpectStampedEqualsDrawn(c, i % 2 == 0, &taken);
    }
    EXPECT_GE(taken, 15);       // tiles taken from the page
    // Tiles taller than the strips they are rendered in, strips starting below the baseline.
    static const int slants[] = { 1600, 3400, 2200, 300 };
    for (int i = 0; i < 8; i++) {
        TileCase c = { faces[i % 3], 500 + 37 * i, slants[i % 4], 0, 0, topLeft, L"CONFIDENTIAL" };
        ExpectStampedEqualsDrawn(c, false, &taken);
    }
}

// Pixels of the reference on an edge of its ink (ink beside white), pixels that differ between
// the pages, and those of them further than two pixels from any edge of the reference.
struct PageDifference {
    long edge = 0, diff = 0, farFromEdge = 0;
};

static PageDifference ComparePages(const TestPage& ref, const TestPage& other, int w, int h)
{
    int stride = iBitmap_GetRowBytes(1, w);
    auto ink = [&](const TestPage& pg, int x, int y) {
        return x >= 0 && y >= 0 && x < w && y < h && !(pg.bits[(size_t)y * stride + x / 8] & (0x80 >> (x % 8)));
    };
    auto onEdge = [&](int x, int y) {
        bool a = ink(ref, x, y);
        return ink(ref, x - 1, y) != a || ink(ref, x + 1, y) != a || ink(ref, x, y - 1) != a || ink(ref, x, y + 1) != a;
    };
    PageDifference d;
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            d.edge += ink(ref, x, y) && onEdge(x, y);
            if (ink(ref, x, y) == ink(other, x, y))
                continue;
            d.diff++;
            bool fNear = false;
            for (int dy = -2; dy <= 2 && !fNear; dy++)
                for (int dx = -2; dx <= 2 && !fNear; dx++)
                    fNear = onEdge(x + dx, y + dy);
            d.farFromEdge += !fNear;
        }
    return d;
}

// The text filled from its outlines against the platform drawing it: the same glyphs in the same
// places, apart from edge pixels (the platform hints a glyph's outline for its own rasteriser,
// and the pixels whose centres lie within that difference of the outline go either way). Text the
// platform must shape, take from another font or draw with lines is left to it: byte-identical.
TEST(WmTile, OutlineTextMatchesThePlatform)
{
    struct DrawCase {
        const wchar_t* face;
        int height, escapement, weight;
        BYTE italic, underline;
        const wchar_t* text;
        bool fPlatform;        // drawn by the platform itself
    };
    static const DrawCase cases[] = {
        { L"Arial",           662,  450,   0, 0, 0, L"CONFIDENTIAL", false },
        { L"Arial",           400,    0, 700, 0, 0, L"Draft copy", false },
        { L"Times New Roman", 300,  900,   0, 1, 0, L"Wg fj@&%", false },
        { L"Courier New",     350, 2000,   0, 0, 0, L"DO NOT COPY", false },
        { L"Arial",           500, 3150, 700, 1, 0, L"VOID", false },
        { L"Times New Roman", 120, 1350,   0, 0, 0, L"Internal", false },
        { L"Arial",            40,  300,   0, 0, 0, L"small print", false },
        { L"WenQuanYi Micro Hei", 300, 450, 700, 1, 0, L"Made bold", false },   // no bold or italic face
        { L"Arial",           200,  450,   0, 0, 1, L"Underlined", true },
        { L"Arial",           200,  450,   0, 0, 0, L"\x05E9\x05DC\x05D5\x05DD abc", true },
        { L"Arial",           200,    0,   0, 0, 0, L"\x4E2D\x6587 text", true },
    };
    const int w = 2400, h = 2000;
    const RECT clip = { 0, 0, w, h };
    for (const DrawCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "face " << c.face << " height " << c.height << " escapement " << c.escapement);
        HFONT hFont = MakeFont(c.face, c.height, c.escapement, c.weight, c.italic, c.underline);
        ASSERT_TRUE(hFont != NULL);
        TestPage ours(w, h), platform(w, h);
        ASSERT_TRUE(ours.bits && platform.bits);
        HGDIOBJ oldOurs = SelectObject(ours.hdc, hFont), oldPlatform = SelectObject(platform.hdc, hFont);
        // Off the page's origin, so that the start and the glyphs' places are cut as they are
        // anywhere on it.
        int x = w / 2 - 7 * c.height / 4, y = h / 2 - c.height / 2 + 3;
        SetWindowOrgEx(ours.hdc, 13, -29, NULL);
        SetWindowOrgEx(platform.hdc, 13, -29, NULL);
        int n = (int)wcslen(c.text);
        WM_TEXT_INK ink;
        WM_PAGE_BITS bits;
        POINT ptOffset;
        EXPECT_EQ(!c.fPlatform, !!WM_MakeTextInk(ours.hdc, x, y, c.text, n, &ink, &bits, &ptOffset));
        WM_FreeTextInk(&ink);
        EXPECT_TRUE(WM_DrawText(ours.hdc, x, y, ETO_CLIPPED, &clip, c.text, n));
        EXPECT_TRUE(ExtTextOutW(platform.hdc, x, y, ETO_CLIPPED, &clip, c.text, (UINT)n, NULL));
        GdiFlush();
        SelectObject(ours.hdc, oldOurs);
        SelectObject(platform.hdc, oldPlatform);
        DeleteObject(hFont);
        PageDifference d = ComparePages(platform, ours, w, h);
        EXPECT_GT(platform.Ink(), 0);
        if (c.fPlatform) {
            EXPECT_EQ(0, memcmp(ours.bits, platform.bits, ours.cb));
            continue;
        }
        // Measured: 11 to 41 differing pixels per 100 edge pixels, none more than two pixels from
        // an edge; a glyph misplaced by two pixels or drawn from another outline is far off.
        EXPECT_EQ(0, d.farFromEdge);
        EXPECT_LE(d.diff * 2, d.edge);
    }
}
