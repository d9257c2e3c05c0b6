// Fax cover pages made by the real program: "CreateTextBMP" on a job with the fax flag,
// str.ini and cover.ini in the shared documents folder, the bitmap file read back.
#include <gtest/gtest.h>
#include "smtest.h"
#include <string>
#include <vector>
#include <algorithm>

namespace {

// A fax page read back from the 1-bit bitmap file, top row first.
struct FaxImage {
    int w = 0, h = 0;
    std::vector<BYTE> ink;      // 1 = black
    bool Ink(int x, int y) const { return x >= 0 && y >= 0 && x < w && y < h && ink[(size_t)y * w + x]; }
    int Count(int x0, int y0, int x1, int y1) const
    {
        int n = 0;
        for (int y = std::max(0, y0); y < std::min(h, y1); y++)
            for (int x = std::max(0, x0); x < std::min(w, x1); x++)
                n += ink[(size_t)y * w + x];
        return n;
    }
    RECT Box(int x0, int y0, int x1, int y1) const
    {
        RECT b = { x1, y1, x0, y0 };
        for (int y = std::max(0, y0); y < std::min(h, y1); y++)
            for (int x = std::max(0, x0); x < std::min(w, x1); x++)
                if (ink[(size_t)y * w + x]) {
                    b.left = std::min<LONG>(b.left, x);
                    b.top = std::min<LONG>(b.top, y);
                    b.right = std::max<LONG>(b.right, x + 1);
                    b.bottom = std::max<LONG>(b.bottom, y + 1);
                }
        return b;
    }
};

bool ReadBmp(const std::wstring& path, FaxImage* img)
{
    std::vector<BYTE> f = SmReadFile(path);
    if (f.size() < 62 || f[0] != 'B' || f[1] != 'M')
        return false;
    const BITMAPFILEHEADER* fh = (const BITMAPFILEHEADER*)f.data();
    const BITMAPINFOHEADER* ih = (const BITMAPINFOHEADER*)(f.data() + sizeof(BITMAPFILEHEADER));
    if (ih->biBitCount != 1 || ih->biHeight <= 0)
        return false;
    const RGBQUAD* pal = (const RGBQUAD*)((const BYTE*)ih + ih->biSize);
    img->w = ih->biWidth;
    img->h = ih->biHeight;
    size_t stride = ((size_t)(img->w + 31) / 32) * 4;
    if (fh->bfOffBits + stride * img->h > f.size())
        return false;
    img->ink.assign((size_t)img->w * img->h, 0);
    for (int row = 0; row < img->h; row++) {
        const BYTE* src = f.data() + fh->bfOffBits + stride * row;
        int y = img->h - 1 - row;       // stored bottom-up
        for (int x = 0; x < img->w; x++) {
            int index = (src[x / 8] >> (7 - x % 8)) & 1;
            img->ink[(size_t)y * img->w + x] = pal[index].rgbRed == 0 ? 1 : 0;
        }
    }
    return true;
}

struct Paper {
    const wchar_t* name;
    int code;
    int cx, cy;                 // the fax page in pixels
    struct { int size, x, y; } texts[12];
    struct { int width, x, x2, y; } lines[7];
    int bodySize, bodyY, bodyStep;
};

const Paper kPapers[] = {
    { L"A4", 9, 1728, 2292,
      { { 120, 200, 200 }, { 55, 230, 785 }, { 50, 1000, 805 }, { 55, 230, 1040 }, { 50, 1000, 1060 },
        { 55, 230, 1290 }, { 50, 1000, 1310 }, { 55, 230, 1540 }, { 50, 1000, 1560 }, { 55, 230, 1790 },
        { 50, 1000, 1810 }, { 60, 300, 2160 } },
      { { 5, 50, 1650, 120 }, { 3, 310, 1600, 163 }, { 3, 310, 1600, 204 }, { 3, 310, 1600, 245 },
        { 3, 310, 1600, 286 }, { 3, 310, 1600, 327 }, { 5, 50, 1650, 405 } },
      40, 2560, 200 },
    { L"A3", 8, 2432, 3241,
      { { 120, 200, 205 }, { 55, 230, 800 }, { 55, 1200, 800 }, { 55, 230, 1055 }, { 55, 1200, 1055 },
        { 55, 230, 1305 }, { 55, 1200, 1305 }, { 55, 230, 1555 }, { 55, 1200, 1555 }, { 55, 230, 1805 },
        { 55, 1200, 1805 }, { 60, 400, 2200 } },
      { { 5, 60, 2370, 115 }, { 3, 400, 2340, 164 }, { 3, 400, 2340, 205 }, { 3, 400, 2340, 246 },
        { 3, 400, 2340, 287 }, { 3, 400, 2340, 328 }, { 5, 60, 2370, 403 } },
      55, 2560, 275 },
    { L"B4", 12, 2048, 2809,
      { { 113, 200, 190 }, { 55, 230, 800 }, { 55, 1100, 800 }, { 55, 230, 1050 }, { 55, 1100, 1050 },
        { 55, 230, 1300 }, { 55, 1100, 1300 }, { 55, 230, 1550 }, { 55, 1100, 1550 }, { 55, 230, 1800 },
        { 55, 1100, 1800 }, { 60, 400, 2200 } },
      { { 5, 50, 1950, 110 }, { 3, 340, 1900, 163 }, { 3, 340, 1900, 204 }, { 3, 340, 1900, 245 },
        { 3, 340, 1900, 286 }, { 3, 340, 1900, 327 }, { 5, 50, 1950, 403 } },
      55, 2630, 275 },
};

int PageX(int x) { return x * 204 / 600; }
int PageY(int y) { return y * 196 / 600; }

std::wstring Dir()
{
    static std::wstring dir = SmTempDir(L"faxcover") + L"\\";
    return dir;
}
std::wstring StrIni() { return SmSharedDocuments() + L"str.ini"; }
std::wstring CoverIni() { return SmSharedDocuments() + L"cover.ini"; }

bool WriteUnits(const std::wstring& path, const std::wstring& text)
{
    std::vector<BYTE> data = { 0xFF, 0xFE };
    for (wchar_t c : text) {
        data.push_back((BYTE)(c & 0xFF));
        data.push_back((BYTE)(c >> 8));
    }
    return SmWriteFile(path, data.data(), data.size());
}

// str.ini as the driver writes it: UTF-16 with CR LF lines.
void WriteStrIni(const std::vector<std::wstring>& lines)
{
    std::wstring text;
    for (const auto& l : lines)
        text += l + L"\r\n";
    ASSERT_TRUE(WriteUnits(StrIni(), text));
}

// Runs a fax job through smctl's job builder and the program; the page read back.
void RunFaxJob(int cx, int cy, FaxImage* img, int density = 100)
{
    std::wstring ini = Dir() + L"job.ini";
    std::wstring bmp = Dir() + L"fax.bmp";
    DeleteFileW(bmp.c_str());
    wchar_t opts[128];
    swprintf(opts, 128, L" --fax --page %dx%d --density %d --out ", cx, cy, density);
    SmRunResult make = SmRun(SmTestDir() + L"smctl.exe", L"wm-make \"" + ini + L"\"" + opts + L"\"" + bmp + L"\"");
    ASSERT_TRUE(make.finished);
    ASSERT_EQ(0u, make.exitCode);
    SmRunResult run = SmRun(SmProgramPath(), L"CreateTextBMP \"" + ini + L"\"");
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(1u, run.exitCode);
    ASSERT_TRUE(ReadBmp(bmp, img));
    ASSERT_EQ(cx, img->w);
    ASSERT_EQ(cy, img->h);
}

// The text's extent in the cover page's font of that size, made here the same way:
// the screen's vertical resolution, the height narrowed by 196/204 at the first height's width.
SIZE CoverTextExtent(const std::wstring& text, int size)
{
    HDC hdcScreen = GetDC(NULL);
    HDC hdc = CreateCompatibleDC(hdcScreen);
    ReleaseDC(NULL, hdcScreen);
    int cyDpi = (int)(GetDeviceCaps(hdc, VERTRES) * (double)25.4f / GetDeviceCaps(hdc, VERTSIZE));
    LOGFONTW lf = {};
    lf.lfHeight = (LONG)((float)(size * 10 * cyDpi / 72) / 10 + 0.5);
    lf.lfWeight = 100;
    wcscpy(lf.lfFaceName, L"Arial");
    HFONT hFont = CreateFontIndirectW(&lf);
    HGDIOBJ hOld = SelectObject(hdc, hFont);
    TEXTMETRICW tm = {};
    GetTextMetricsW(hdc, &tm);
    SelectObject(hdc, hOld);
    DeleteObject(hFont);
    lf.lfWidth = tm.tmAveCharWidth;
    lf.lfHeight = lf.lfHeight * 196 / 204;
    hFont = CreateFontIndirectW(&lf);
    hOld = SelectObject(hdc, hFont);
    SIZE sz = {};
    GetTextExtentPoint32W(hdc, text.c_str(), (int)text.size(), &sz);
    SelectObject(hdc, hOld);
    DeleteObject(hFont);
    DeleteDC(hdc);
    return sz;
}

// Top rows of the ink bands in a column strip, from row y0 down.
std::vector<int> BandTops(const FaxImage& img, int x0, int x1, int y0)
{
    std::vector<int> tops;
    int gap = 99;
    for (int y = y0; y < img.h; y++) {
        if (img.Count(x0, y, x1, y + 1) > 0) {
            if (gap > 8)        // screening leaves white rows inside a line of text
                tops.push_back(y);
            gap = 0;
        } else {
            gap++;
        }
    }
    return tops;
}

}  // namespace

TEST(FaxCoverPage, TemplatesDrawRulesTextsAndBody)
{
    for (const Paper& p : kPapers) {
        SCOPED_TRACE(SmNarrow(p.name));
        WriteStrIni({ L"[DataForSM]", L"enableCoverPage=1", L"PaperSize=" + std::to_wstring(p.code),
                      L"Yres=196", L"[SenderInformation]", L"Name=Jane Roe" });
        ASSERT_TRUE(WriteUnits(CoverIni(), L"Hello\r\nWorld\r\nThird\r\n"));
        FaxImage img;
        RunFaxJob(p.cx, p.cy, &img);
        if (HasFatalFailure())
            return;

        // Rules: every row of the pen is inked along the line, the rows beside it are not
        // (checked right of the value texts), and the ends are where the template puts them.
        for (const auto& l : p.lines) {
            SCOPED_TRACE(testing::Message() << "rule at y " << l.y);
            int top = 2 * l.y - (l.width - 1) / 2;
            int len = l.x2 - l.x - 12;
            for (int y = top; y < top + l.width; y++)
                EXPECT_GT(img.Count(l.x + 6, y, l.x2 - 6, y + 1), len / 5) << "row " << y;
            int freeFrom = std::max(l.x, PageX(p.texts[2].x) + 320) + 6;
            EXPECT_EQ(0, img.Count(freeFrom, top - 1, l.x2 - 6, top)) << "row above";
            EXPECT_EQ(0, img.Count(freeFrom, top + l.width, l.x2 - 6, top + l.width + 1)) << "row below";
            RECT band = img.Box(0, top, img.w, top + l.width);
            EXPECT_NEAR(l.x, band.left, 8);
            EXPECT_NEAR(l.x2, band.right, 8);
        }
        // Texts: the ink's top-left corner just right of and below the cell's corner.
        for (int i = 0; i < 12; i++) {
            SCOPED_TRACE(testing::Message() << "text " << i);
            int X = PageX(p.texts[i].x), Y = PageY(p.texts[i].y), size = p.texts[i].size;
            RECT b = img.Box(X - 12, Y - 2, X + 2 * size, Y + size * 2 / 3);
            EXPECT_GE(b.left, X - 2);
            EXPECT_LE(b.left, X + size / 5 + 4);
            EXPECT_GE(b.top, Y);
            EXPECT_LE(b.top, Y + size * 2 / 5 + 4);
        }
        // Body: three lines at the template's pitch, below the last rule.
        int bodyTop = PageY(p.bodyY);
        std::vector<int> tops = BandTops(img, PageX(350), img.w, 2 * p.lines[6].y + 4);
        ASSERT_EQ(3u, tops.size());
        EXPECT_GE(tops[0], bodyTop);
        EXPECT_LE(tops[0], bodyTop + p.bodySize * 2 / 5 + 4);
        for (int k = 1; k < 3; k++)
            EXPECT_EQ(PageY(p.bodyY + k * p.bodyStep) - PageY(p.bodyY + (k - 1) * p.bodyStep),
                      tops[k] - tops[k - 1]) << k;
    }
}

TEST(FaxCoverPage, FromCaptionAndMissingKeys)
{
    // No "COM" caption and no "Com" value: the caption falls back to "COM", the value to "nothing".
    WriteStrIni({ L"[DataForSM]", L"enableCoverPage=1", L"PaperSize=9", L"[SMTextOut]", L"FROM=FROM",
                  L"[SenderInformation]", L"Name=Jane Roe" });
    ASSERT_TRUE(WriteUnits(CoverIni(), L""));
    FaxImage img;
    RunFaxJob(1728, 2292, &img);
    if (HasFatalFailure())
        return;
    // "FROM" at page (78, 256).
    RECT from = img.Box(66, 254, 330, 300);
    EXPECT_NEAR(78, from.left, 6);
    EXPECT_GE(from.top, 256);
    EXPECT_LE(from.top, 256 + 20);

    int yRow = PageY(1040);
    RECT caption = img.Box(60, yRow, 330, yRow + 50);
    RECT value = img.Box(330, PageY(1060), img.w, PageY(1060) + 45);
    int wCOM = CoverTextExtent(L"COM", 55).cx, wNothing55 = CoverTextExtent(L"nothing", 55).cx;
    int wNothing = CoverTextExtent(L"nothing", 50).cx, wCOM50 = CoverTextExtent(L"COM", 50).cx;
    ASSERT_GT(std::abs(wNothing - wCOM50), 30);
    EXPECT_NEAR(wCOM, caption.right - caption.left, 10) << "nothing would be " << wNothing55;
    EXPECT_NEAR(wNothing, value.right - value.left, 10) << "COM would be " << wCOM50;
    // The body is empty.
    EXPECT_EQ(0, img.Count(0, 2 * 405 + 4, img.w, img.h));
}

TEST(FaxCoverPage, WhitePages)
{
    static const struct { const wchar_t* what; std::vector<std::wstring> strIni; } cases[] = {
        { L"Letter paper", { L"[DataForSM]", L"enableCoverPage=1", L"PaperSize=1" } },
        { L"cover page off", { L"[DataForSM]", L"enableCoverPage=0", L"PaperSize=9" } },
        { L"no str.ini", {} },
    };
    ASSERT_TRUE(WriteUnits(CoverIni(), L"Body\r\n"));
    for (const auto& c : cases) {
        SCOPED_TRACE(SmNarrow(c.what));
        if (c.strIni.empty())
            DeleteFileW(StrIni().c_str());
        else
            WriteStrIni(c.strIni);
        FaxImage img;
        RunFaxJob(1728, 2292, &img);
        if (HasFatalFailure())
            return;
        EXPECT_EQ(0, img.Count(0, 0, img.w, img.h));
    }
}

TEST(FaxCoverPage, FromLineOnly)
{
    static const struct { const wchar_t* name; } cases[] = { { nullptr }, { L"Jane Roe" } };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name ? "named" : "no name");
        std::vector<std::wstring> ini = { L"[DataForSM]", L"enableCoverPage=2", L"PaperSize=9",
                                          L"[SenderInformation]" };
        if (c.name)
            ini.push_back(std::wstring(L"Name=") + c.name);
        WriteStrIni(ini);
        ASSERT_TRUE(WriteUnits(CoverIni(), L"Body\r\n"));
        FaxImage img;
        RunFaxJob(1728, 2292, &img);
        if (HasFatalFailure())
            return;
        RECT b = img.Box(0, 0, img.w, img.h);
        EXPECT_GE(b.left, 6);
        EXPECT_LE(b.left, 6 + 6);
        EXPECT_GE(b.top, 6);
        EXPECT_LE(b.top, 6 + 14);
        EXPECT_LT(b.bottom, 60);    // nothing but the one line
        // Ink ends with the last visible character: the space of "From: " alone leaves none.
        std::wstring text = c.name ? std::wstring(L"From: ") + c.name : std::wstring(L"From:");
        EXPECT_NEAR(CoverTextExtent(text, 25).cx, b.right - b.left, 8);
    }
}

TEST(FaxCoverPage, MessageFileForms)
{
    std::wstring longLine;
    for (int i = 0; i < 5000; i++)
        longLine += (wchar_t)(L'a' + i % 26);
    static const struct {
        const wchar_t* what;
        bool missing;
        std::wstring text;
        int lines;
    } cases[] = {
        { L"three CR LF lines", false, L"One\r\nTwo\r\nThree\r\n", 3 },
        { L"last line without CR LF", false, L"One\r\nTwo\r\nThree", 3 },
        { L"lone LF inside a line", false, L"One\nstill one\r\nTwo\r\n", 2 },
        { L"5000-unit line", false, longLine + L"\r\nTwo\r\n", 2 },
        { L"missing file", true, L"", 0 },
    };
    WriteStrIni({ L"[DataForSM]", L"enableCoverPage=1", L"PaperSize=12" });
    for (const auto& c : cases) {
        SCOPED_TRACE(SmNarrow(c.what));
        if (c.missing)
            DeleteFileW(CoverIni().c_str());
        else
            ASSERT_TRUE(WriteUnits(CoverIni(), c.text));
        FaxImage img;
        RunFaxJob(2048, 2809, &img);
        if (HasFatalFailure())
            return;
        std::vector<int> tops = BandTops(img, PageX(350), img.w, 2 * 403 + 4);
        ASSERT_EQ((size_t)c.lines, tops.size());
        for (int k = 0; k < c.lines; k++) {
            EXPECT_GE(tops[k], PageY(2630 + 275 * k)) << k;
            EXPECT_LE(tops[k], PageY(2630 + 275 * k) + 26) << k;
        }
        std::vector<BYTE> after = SmReadFile(CoverIni());
        if (c.missing) {
            EXPECT_EQ((std::vector<BYTE>{ 0xFF, 0xFE }), after);
        } else {
            EXPECT_EQ(2 + 2 * c.text.size(), after.size()) << "the message file is only read";
        }
    }
}

TEST(FaxCoverPage, ScreenedWithTheRecordsDensity)
{
    WriteStrIni({ L"[DataForSM]", L"enableCoverPage=1", L"PaperSize=9" });
    ASSERT_TRUE(WriteUnits(CoverIni(), L""));
    // The first rule of A4, 5 x 1600 pixels, under the default 16 x 16 screen: about 21 % of
    // a solid area stays black at density 20, about 58 % at density 100.
    static const struct { int density; double share; } cases[] = { { 20, 0.211 }, { 100, 0.578 } };
    for (const auto& c : cases) {
        FaxImage img;
        RunFaxJob(1728, 2292, &img, c.density);
        if (HasFatalFailure())
            return;
        double share = img.Count(64, 238, 64 + 1568, 243) / (5.0 * 1568);
        EXPECT_NEAR(c.share, share, 0.07) << c.density;
    }
}

TEST(FaxCoverPage, SmctlWritesTheCoverFiles)
{
    std::wstring ini = Dir() + L"faxmake.ini";
    std::wstring bmp = Dir() + L"faxmake.bmp";
    DeleteFileW(bmp.c_str());
    SmRunResult make = SmRun(SmTestDir() + L"smctl.exe",
                             L"fax-make \"" + ini + L"\" --paper B4 --name \"Jane Roe\" --caption COM=Firma "
                             L"--line One --line Two --open-last-line --out \"" + bmp + L"\"");
    ASSERT_TRUE(make.finished);
    ASSERT_EQ(0u, make.exitCode);
    WCHAR buf[64];
    GetPrivateProfileStringW(L"DataForSM", L"PaperSize", L"", buf, 64, StrIni().c_str());
    EXPECT_STREQ(L"12", buf);
    GetPrivateProfileStringW(L"SMTextOut", L"COM", L"", buf, 64, StrIni().c_str());
    EXPECT_STREQ(L"Firma", buf);
    std::vector<BYTE> strIni = SmReadFile(StrIni());
    ASSERT_GE(strIni.size(), 2u);
    EXPECT_EQ(0xFF, strIni[0]);
    EXPECT_EQ(0xFE, strIni[1]);
    std::vector<BYTE> cover = SmReadFile(CoverIni());
    std::vector<BYTE> expected = { 0xFF, 0xFE, 'O', 0, 'n', 0, 'e', 0, '\r', 0, '\n', 0, 'T', 0, 'w', 0, 'o', 0 };
    EXPECT_EQ(expected, cover);

    SmRunResult run = SmRun(SmProgramPath(), L"CreateTextBMP \"" + ini + L"\"");
    ASSERT_TRUE(run.finished);
    FaxImage img;
    ASSERT_TRUE(ReadBmp(bmp, &img));
    EXPECT_EQ(2048, img.w);
    EXPECT_EQ(2809, img.h);
    EXPECT_EQ(2u, BandTops(img, PageX(350), img.w, 2 * 403 + 4).size());
    RECT caption = img.Box(60, PageY(1050), 330, PageY(1050) + 50);
    EXPECT_NEAR(CoverTextExtent(L"Firma", 55).cx, caption.right - caption.left, 10);
}
