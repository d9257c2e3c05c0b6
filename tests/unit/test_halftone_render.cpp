// The renderer against the platform's own drawing: the page drawn whole on a 1-bit DIB section
// filled by a WHITENESS blit, every copy drawn with ExtTextOutW, GetDIBits. The job's rows, as
// drawn (in memory) and as written (the file), against the platform's, for every installed face, from 1 pixel to the largest size: pixels that differ
// lie within a pixel of an edge of the platform's ink, no copy vanishes, and from 36 pixels on
// the ink is within 1 % of the platform's.
#include <gtest/gtest.h>
#include "bitmap/bitmap.h"
#include "smtest.h"
#include <stdio.h>
#include <string.h>
#include <vector>

static WmBitmapParam Job(const wchar_t* text, WORD size, WORD angle, WORD placement, WORD density,
                         int w, int h, int textScale, UINT32 table, const wchar_t* face = L"Arial", int dstScale = 1)
{
    WmBitmapParam p;
    memset(&p, 0, sizeof(p));
    wcscpy(p.tyWM.wszText, text);
    wcscpy(p.tyWM.wszFontFace, face);
    p.tyWM.wDensity = density;
    p.tyWM.wFontSize = size;
    p.tyWM.wAngleDegree = angle;
    p.tyWM.wPlacement = placement;
    p.nWidth = w;
    p.nHeight = h;
    p.nDstScale = dstScale;
    p.nPageDensity = 1;
    p.nMaxPageDensity = 1;
    p.nTextScale = textScale;
    p.HalftoneType = table;
    return p;
}

// A face's jobs, centred and tiled, once a face ('@' names it turned for vertical writing).
static int CALLBACK AddFaceJobs(const LOGFONTW* plf, const TEXTMETRICW*, DWORD, LPARAM lParam)
{
    std::vector<WmBitmapParam>* pJobs = (std::vector<WmBitmapParam>*)lParam;
    if (plf->lfFaceName[0] != L'@' && wcscmp(pJobs->back().tyWM.wszFontFace, plf->lfFaceName) != 0) {
        pJobs->push_back(Job(L"Watermark Ag\u00c9j", 30, 45, 0, 60, 1240, 1754, 100, 0, plf->lfFaceName));
        pJobs->push_back(Job(L"Draft fj", 12, 300, 1, 60, 900, 700, 100, 0, plf->lfFaceName));
    }
    return 1;
}

static std::vector<BYTE> Reference(const WmBitmapParam& p)
{
    int w = p.nWidth, h = p.nHeight, stride = iBitmap_GetRowBytes(1, w);
    float scale = (float)p.nTextScale / 100.0f;
    struct { BITMAPINFOHEADER bmih; RGBQUAD colors[2]; } bi = {};
    iBitmap_FillInfoHeader(&bi.bmih, 1, 600, w, h, (DWORD)stride * h);
    iBitmap_FillPalette((BITMAPINFO*)&bi, 1);
    HDC hdc = CreateCompatibleDC(NULL);
    void* pvBits = NULL;
    HBITMAP hbm = CreateDIBSection(hdc, (BITMAPINFO*)&bi, DIB_RGB_COLORS, &pvBits, NULL, 0);
    HGDIOBJ old = SelectObject(hdc, hbm);
    BitBlt(hdc, 0, 0, w, h, NULL, 0, 0, WHITENESS);
    RECT rc = { 0, 0, w, h };
    if (scale > 1.0f) {
        rc.right = (LONG)((double)scale * w);
        rc.bottom = (LONG)((double)scale * h);
    }
    DrawWatermarkText(hdc, &rc, &p, (int)((double)scale * 69.0 * p.nDstScale));
    SelectObject(hdc, old);
    std::vector<BYTE> bits((size_t)stride * h);
    EXPECT_EQ(h, GetDIBits(hdc, hbm, 0, h, bits.data(), (BITMAPINFO*)&bi, DIB_RGB_COLORS));
    DeleteObject(hbm);
    DeleteDC(hdc);
    return bits;
}

static std::vector<BYTE> Render(const WmBitmapParam& p, const std::wstring& path)
{
    const HALFTONE_TABLE_INFO* info = MISC_HalftoneTableInfo(p.HalftoneType);
    iBitmap bmp;
    EXPECT_EQ(1, bmp.iBitmap_BMPCreateTextWM(path.c_str(), &p, p.nWidth, p.nHeight, p.nDstScale,
                                             p.nPageDensity, p.nMaxPageDensity, (float)p.nTextScale / 100.0f,
                                             info->pTable, info->nSize, info->nSize, p.DriverType));
    std::vector<BYTE> f = SmReadFile(path);
    if (f.size() < 62)
        return {};
    return std::vector<BYTE>(f.begin() + 62, f.end());
}

static bool InkAt(const std::vector<BYTE>& bits, int stride, int w, int h, int x, int y)
{
    return x >= 0 && y >= 0 && x < w && y < h && !(bits[(size_t)y * stride + x / 8] & (0x80 >> (x % 8)));
}

// The page against the platform's: ink of each, pixels that differ, how far the furthest of them
// lies from an edge of the platform's ink (0: on it; the smallest r whose (2r + 1)-square around
// the pixel holds both ink and white), and blocks of 32 x 32 where the platform has ink and the
// page none (a copy that vanished).
struct Fidelity {
    long inkRef = 0, inkOurs = 0, diff = 0, blocksLost = 0;
    int maxDistance = 0;
};

static Fidelity Compare(const std::vector<BYTE>& ref, const std::vector<BYTE>& ours, int w, int h)
{
    Fidelity f;
    int stride = iBitmap_GetRowBytes(1, w), bw = (w + 31) / 32;
    std::vector<char> blockRef((size_t)bw * ((h + 31) / 32)), blockOurs(blockRef.size());
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            bool a = InkAt(ref, stride, w, h, x, y), b = InkAt(ours, stride, w, h, x, y);
            f.inkRef += a;
            f.inkOurs += b;
            blockRef[(size_t)(y / 32) * bw + x / 32] |= a;
            blockOurs[(size_t)(y / 32) * bw + x / 32] |= b;
            if (a == b)
                continue;
            f.diff++;
            int r = 0;
            for (bool mixed = false; !mixed && r < 8; mixed || r++) {
                bool ink = false, white = false;
                for (int dy = -r; dy <= r; dy++)
                    for (int dx = -r; dx <= r; dx++)
                        (InkAt(ref, stride, w, h, x + dx, y + dy) ? ink : white) = true;
                mixed = ink && white;
            }
            f.maxDistance = r > f.maxDistance ? r : f.maxDistance;
        }
    for (size_t i = 0; i < blockRef.size(); i++)
        f.blocksLost += blockRef[i] && !blockOurs[i];
    return f;
}

TEST(WmRender, WithinAPixelOfThePlatformsDrawing)
{
    std::wstring dir = SmTempDir(L"wmrender_ref");
    std::wstring longLine(259, L'W');
    for (size_t i = 0; i < longLine.size(); i += 3)
        longLine[i] = L"Confidential draft "[i % 19];
    std::vector<WmBitmapParam> jobs = {
        Job(L"CONFIDENTIAL", 24, 45, 0, 60, 1240, 1754, 100, 0),
        Job(L"CONFIDENTIAL", 24, 45, 1, 60, 1240, 1754, 100, 0),
        Job(L"Draft copy", 30, 0, 1, 100, 1001, 700, 100, 2),
        Job(L"Draft", 40, 90, 0, 39, 803, 600, 150, 1),
        Job(L"Tiled", 12, 300, 1, 40, 640, 480, 50, 8),
        Job(L"Upside", 20, 200, 0, 80, 500, 400, 100, 5),
        // At a right angle the turn's rounding decides by the coordinate; larger than the page;
        // scaled up.
        Job(L"Down", 24, 270, 0, 60, 1240, 1754, 100, 0),
        Job(L"Up", 24, 90, 0, 60, 1240, 1754, 100, 3),
        Job(L"X", 200, 0, 0, 60, 700, 500, 100, 0),
        Job(L"Scaled", 30, 135, 0, 60, 900, 1300, 160, 2),
        // A4 at 600 dpi: the page is written in several strips.
        Job(L"CONFIDENTIAL", 72, 45, 0, 60, 4961, 7016, 100, 0),
        Job(L"Sideways", 60, 270, 0, 60, 4961, 7016, 100, 2),
        Job(L"Leaning", 50, 160, 0, 60, 4961, 7016, 100, 4),
        Job(L"CONFIDENTIAL", 72, 45, 1, 60, 4961, 7016, 100, 0),
        Job(L"Draft", 48, 270, 1, 60, 4961, 7016, 120, 6),
        // CFF faces, whose outlines the platform reports as the wrong kind of curve.
        Job(L"CONFIDENTIAL", 72, 45, 0, 60, 4961, 7016, 100, 0, L"C059"),
        Job(L"Draft copy", 20, 330, 1, 60, 1240, 1754, 100, 0, L"Nimbus Sans"),
        Job(L"Wg fj@&%", 40, 100, 0, 60, 1240, 1754, 100, 0, L"Z003"),
        // 1, 4 and 9 pixels, tiled; a 259-character upright line of a hinted face at 37 pixels.
        Job(L"X", 1, 0, 1, 60, 640, 480, 10, 0),
        Job(L"COPY", 5, 45, 1, 60, 640, 480, 10, 0, L"Nimbus Sans"),
        Job(L"Confidential", 1, 20, 1, 60, 900, 700, 100, 0, L"Liberation Serif"),
        Job(longLine.c_str(), 4, 0, 0, 60, 4961, 1200, 100, 0, L"Liberation Serif"),
        // The largest size the record allows (10,488 pixels on this screen).
        Job(L"X", 288, 0, 0, 60, 2480, 3508, 200, 0, L"Nimbus Roman", 2),
        Job(L"XI", 288, 0, 1, 60, 2480, 3508, 200, 0, L"Liberation Sans", 2),
        // Marks that ink before the text's start, far outside its cell: the band and the tile grow.
        Job(L"\u0336\u0336Ink", 40, 90, 0, 60, 1240, 1754, 100, 0, L"DejaVu Sans"),
        Job(L"\u0336\u0336Ink", 40, 90, 1, 60, 1240, 1754, 100, 0, L"DejaVu Sans"),
    };
    HDC hdcScreen = GetDC(NULL);                    // and every installed face
    EnumFontFamiliesW(hdcScreen, NULL, AddFaceJobs, (LPARAM)&jobs);
    ReleaseDC(NULL, hdcScreen);
    int i = 0;
    for (const WmBitmapParam& p : jobs) {
        const HALFTONE_TABLE_INFO* info = MISC_HalftoneTableInfo(p.HalftoneType);
        WM_TEXT_INFO textInfo = {};
        WM_PAGE page;
        ASSERT_EQ(1, iBitmap_DrawPage(&page, &p, p.nWidth, p.nHeight, p.nDstScale, 1, 1, (float)p.nTextScale / 100.0f,
                                      info->pTable, info->nSize, info->nSize, 0, &textInfo)) << "job " << i;
        std::vector<BYTE> drawn(page.pBits, page.pBits + (size_t)page.stride * page.nHeight);
        std::vector<BYTE> ref = Reference(p);
        Fidelity f = Compare(ref, drawn, p.nWidth, p.nHeight);
        printf("fidelity: %ls %ld px, %u deg, %ls: ink %ld of the platform's %ld (%.4f), %ld pixels differ, at most %d "
               "from an edge\n", p.tyWM.wszFontFace, textInfo.sizeText.cy, p.tyWM.wAngleDegree, p.tyWM.wPlacement ?
               L"tiled" : L"centred", f.inkOurs, f.inkRef, (double)f.inkOurs / f.inkRef, f.diff, f.maxDistance);
        EXPECT_GT(f.inkRef, 0) << "job " << i;
        EXPECT_LE(f.maxDistance, 1) << "job " << i;
        EXPECT_EQ(0, f.blocksLost) << "job " << i;
        EXPECT_TRUE(textInfo.sizeText.cy < 36 || labs(f.inkOurs - f.inkRef) * 100 <= f.inkRef) << "job " << i;
        // The file holds those rows, screened.
        EXPECT_EQ(1, iBitmap_ScreenPage(&page, &p, info->pTable, info->nSize, info->nSize));
        std::vector<BYTE> screened(page.pBits, page.pBits + drawn.size());
        EXPECT_TRUE(screened == Render(p, dir + L"job" + std::to_wstring(i) + L".bmp")) << "job " << i;
        iBitmap_FreePage(&page);
        i++;
    }
}

TEST(WmRender, DrawingLeavesTheContextAsItWas)
{
    HDC hdc = CreateCompatibleDC(NULL);
    HBITMAP hbm = CreateBitmap(300, 200, 1, 1, NULL);
    HGDIOBJ oldBitmap = SelectObject(hdc, hbm);
    HFONT hMine = CreateFontW(12, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, L"Arial");
    HGDIOBJ oldFont = SelectObject(hdc, hMine);
    SetTextColor(hdc, RGB(1, 2, 3));
    SetBkMode(hdc, OPAQUE);
    SetTextAlign(hdc, TA_BASELINE | TA_RIGHT);
    WmBitmapParam p = Job(L"X", 10, 30, 1, 60, 300, 200, 100, 0);
    RECT rc = { 0, 0, 300, 200 };
    DrawWatermarkText(hdc, &rc, &p, 69);
    EXPECT_EQ(RGB(1, 2, 3), GetTextColor(hdc));
    EXPECT_EQ(OPAQUE, GetBkMode(hdc));
    EXPECT_EQ((UINT)(TA_BASELINE | TA_RIGHT), GetTextAlign(hdc));
    EXPECT_EQ((HGDIOBJ)hMine, GetCurrentObject(hdc, OBJ_FONT));
    SelectObject(hdc, oldFont);
    SelectObject(hdc, oldBitmap);
    DeleteObject(hMine);
    DeleteObject(hbm);
    DeleteDC(hdc);
}

// The font height chain from the context's vertical resolution, and the other font fields.
TEST(WmRender, FontHeightChain)
{
    // Worked out by hand for the two screens the tests meet: no display (768 rows on 203 mm,
    // 96 dpi) and Xvfb's 1280 x 1024 (1024 rows on 271 mm, 95 dpi). For 72 points at 96 dpi:
    // 72 x 69 = 4968, 96 x 4968 / 72 = 6624, 662.4 + 0.5 truncated is 662.
    static const struct { int vertRes, vertSize; int lfHeight[4]; } screens[] = {
        { 768, 203, { 662, 92, 10598, 0 } },
        { 1024, 271, { 656, 91, 10488, 0 } },
    };
    static const struct { int height; WORD style; int esc; } cases[] = {
        { 72 * 69, 0, 450 }, { 10 * 69, 1, 0 }, { 288 * 276, 3, 3599 }, { 1 * 3, 2, 900 },
    };
    HDC hdc = CreateCompatibleDC(NULL);
    int vertRes = GetDeviceCaps(hdc, VERTRES), vertSize = GetDeviceCaps(hdc, VERTSIZE);
    const int* expected = NULL;
    for (const auto& s : screens) {
        if (s.vertRes == vertRes && s.vertSize == vertSize)
            expected = s.lfHeight;
    }
    ASSERT_NE(nullptr, expected) << "no figures for a screen of " << vertRes << " rows on " << vertSize << " mm";
    for (size_t i = 0; i < ARRAYSIZE(cases); i++) {
        const auto& c = cases[i];
        HFONT hFont = CreateWatermarkFont(hdc, L"Arial", c.height, c.style, c.esc);
        if (expected[i] == 0) {
            EXPECT_EQ(nullptr, hFont) << c.height;
            continue;
        }
        ASSERT_NE(nullptr, hFont) << c.height;
        LOGFONTW lf;
        ASSERT_EQ((int)sizeof(lf), GetObjectW(hFont, sizeof(lf), &lf));
        EXPECT_EQ(expected[i], lf.lfHeight) << c.height;
        EXPECT_EQ(c.esc, lf.lfEscapement);
        EXPECT_EQ(0, lf.lfOrientation);
        EXPECT_EQ((c.style & 1) ? 700 : 0, lf.lfWeight);
        EXPECT_EQ((c.style & 2) ? 1 : 0, lf.lfItalic);
        EXPECT_EQ(0, lf.lfUnderline);
        EXPECT_STREQ(L"Arial", lf.lfFaceName);
        DeleteObject(hFont);
    }
    DeleteDC(hdc);
}

TEST(WmRender, ArgumentErrorsWriteNoFile)
{
    std::wstring dir = SmTempDir(L"wmrender_args");
    std::wstring path = dir + L"x.bmp";
    const HALFTONE_TABLE_INFO* info = MISC_HalftoneTableInfo(0);
    WmBitmapParam p = Job(L"X", 10, 0, 0, 60, 100, 100, 100, 0);
    struct Case { const char* what; const wchar_t* file; const BYTE* table; UINT32 tw, th; int pd, maxpd, w, h; };
    const Case cases[] = {
        { "no name", L"", info->pTable, 16, 16, 1, 1, 100, 100 },
        { "null name", NULL, info->pTable, 16, 16, 1, 1, 100, 100 },
        { "no table", path.c_str(), NULL, 16, 16, 1, 1, 100, 100 },
        { "table 15", path.c_str(), info->pTable, 15, 16, 1, 1, 100, 100 },
        { "table 129", path.c_str(), info->pTable, 16, 129, 1, 1, 100, 100 },
        { "density 4 over 3", path.c_str(), info->pTable, 16, 16, 4, 3, 100, 100 },
        { "density 0", path.c_str(), info->pTable, 16, 16, 0, 3, 100, 100 },
        { "width 0", path.c_str(), info->pTable, 16, 16, 1, 1, 0, 100 },
        { "height -5", path.c_str(), info->pTable, 16, 16, 1, 1, 100, -5 },
        { "row over 16 bits", path.c_str(), info->pTable, 16, 16, 1, 1, 524257, 1 },
        // 65,500-byte rows: 65,572 rows fit the 32-bit file size with the 62 header bytes, 65,573 do not.
        { "file over 32 bits", path.c_str(), info->pTable, 16, 16, 1, 1, 524000, 65573 },
        { "file far over 32 bits", path.c_str(), info->pTable, 16, 16, 1, 1, 524000, 70000 },
    };
    iBitmap bmp;
    for (const Case& c : cases) {
        EXPECT_EQ(-7, bmp.iBitmap_BMPCreateTextWM(c.file, &p, c.w, c.h, 1, c.pd, c.maxpd, 1.0f,
                                                  c.table, c.tw, c.th, 0)) << c.what;
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(path.c_str())) << c.what;
    }
    EXPECT_EQ(-7, bmp.iBitmap_BMPCreateTextWM(path.c_str(), NULL, 100, 100, 1, 1, 1, 1.0f,
                                              info->pTable, 16, 16, 0));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(path.c_str()));
    // The widest accepted table and the edge of the 16-bit row both work.
    const HALFTONE_TABLE_INFO* wide = MISC_HalftoneTableInfo(1);
    EXPECT_EQ(1, bmp.iBitmap_BMPCreateTextWM(path.c_str(), &p, 128, 16, 1, 1, 1, 1.0f,
                                             wide->pTable, 128, 128, 0));
    EXPECT_EQ(62u + 16u * 16u, SmReadFile(path).size());
    EXPECT_EQ(1, bmp.iBitmap_BMPCreateTextWM(path.c_str(), &p, 524256, 2, 1, 1, 1, 1.0f,
                                             info->pTable, 16, 16, 0));
    EXPECT_EQ(62u + 65532u * 2u, SmReadFile(path).size());
}
