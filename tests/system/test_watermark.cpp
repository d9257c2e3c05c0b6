// "CreateTextBMP" on the real program: results and trace lines, and where the ink lies in
// the bitmap files it writes.
#include <gtest/gtest.h>
#include "smtest.h"
#include "bitmap/bitmap.h"
#include <math.h>
#include <stdio.h>
#include <string.h>
#include <string>
#include <vector>

namespace {

// Standard padded base64, written here independently of the program's own.
std::string Base64(const void* data, size_t cb)
{
    static const char abc[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const BYTE* p = (const BYTE*)data;
    std::string out;
    for (size_t i = 0; i < cb; i += 3) {
        DWORD v = p[i] << 16 | (i + 1 < cb ? p[i + 1] << 8 : 0) | (i + 2 < cb ? p[i + 2] : 0);
        out += abc[v >> 18 & 63];
        out += abc[v >> 12 & 63];
        out += i + 1 < cb ? abc[v >> 6 & 63] : '=';
        out += i + 2 < cb ? abc[v & 63] : '=';
    }
    return out;
}

WmBitmapParam Job(const std::wstring& out)
{
    WmBitmapParam p;
    memset(&p, 0, sizeof(p));
    wcscpy(p.tyWM.wszText, L"CONFIDENTIAL");
    wcscpy(p.tyWM.wszFontFace, L"Arial");
    p.tyWM.wDensity = 100;
    p.tyWM.wFontSize = 14;
    p.nWidth = 1600;
    p.nHeight = 1200;
    p.nDstScale = 1;
    p.nPageDensity = 1;
    p.nMaxPageDensity = 1;
    p.nTextScale = 100;
    wcsncpy(p.wmFileName, out.c_str(), WM_FILENAME_MAX_LEN - 1);
    return p;
}

struct Page {
    int w = 0, h = 0, stride = 0;
    std::vector<BYTE> bits;       // bottom-up rows
    bool Ink(int x, int y) const  // y counted from the top
    {
        return !(bits[(size_t)(h - 1 - y) * stride + x / 8] & (0x80 >> (x % 8)));
    }
};

bool LoadPage(const std::wstring& path, Page* pg)
{
    std::vector<BYTE> f = SmReadFile(path);
    if (f.size() < 62)
        return false;
    memcpy(&pg->w, &f[18], 4);
    memcpy(&pg->h, &f[22], 4);
    pg->stride = ((pg->w + 7) / 8 + 3) / 4 * 4;
    if (f.size() != 62 + (size_t)pg->stride * pg->h)
        return false;
    pg->bits.assign(f.begin() + 62, f.end());
    return true;
}

struct InkBox {
    long count = 0;
    int left = 1 << 30, top = 1 << 30, right = -1, bottom = -1;
    double cx = 0, cy = 0;        // centre of the box
};

InkBox FindInk(const Page& pg)
{
    InkBox b;
    for (int y = 0; y < pg.h; y++)
        for (int x = 0; x < pg.w; x++)
            if (pg.Ink(x, y)) {
                b.count++;
                if (x < b.left) b.left = x;
                if (x > b.right) b.right = x;
                if (y < b.top) b.top = y;
                if (y > b.bottom) b.bottom = y;
            }
    b.cx = (b.left + b.right) / 2.0;
    b.cy = (b.top + b.bottom) / 2.0;
    return b;
}

struct JobRun {
    SmRunResult run;
    std::wstring bmp;
    bool HasLine(const std::string& text) const { return SmContains(run.lines, text); }
    int LineIndex(const std::string& text) const
    {
        for (size_t i = 0; i < run.lines.size(); i++)
            if (run.lines[i].find(text) != std::string::npos)
                return (int)i;
        return -1;
    }
    // The numbers after "name = " in the first line that has it.
    bool Value(const std::string& name, int* pv) const
    {
        for (const std::string& l : run.lines) {
            size_t at = l.find(name + " = ");
            if (at != std::string::npos && sscanf(l.c_str() + at + name.size() + 3, "%d", pv) == 1)
                return true;
        }
        return false;
    }
};

JobRun RunJob(const std::wstring& dir, const std::string& paramValue)
{
    std::wstring ini = dir + L"job.ini";
    std::string text = "[Job Information]\r\nParam=" + paramValue + "\r\n";
    EXPECT_TRUE(SmWriteFile(ini, text.data(), text.size()));
    SetEnvironmentVariableW(L"SM_TRACE", L"threshold=1");
    JobRun r;
    r.run = SmRun(SmProgramPath(), L"CreateTextBMP \"" + ini + L"\"");
    SetEnvironmentVariableW(L"SM_TRACE", NULL);
    EXPECT_TRUE(r.run.finished);
    return r;
}

JobRun RunJob(const std::wstring& dir, const WmBitmapParam& p)
{
    JobRun r = RunJob(dir, Base64(&p, sizeof(p)));
    r.bmp = p.wmFileName;
    return r;
}

bool FileExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

} // namespace

TEST(Watermark, FailuresGiveTheirResultAndNoFile)
{
    std::wstring dir = SmTempDir(L"wm_fail");
    std::wstring out = dir + L"out.bmp";
    struct Case { const char* what; void (*change)(WmBitmapParam*); const char* line; const char* rc; };
    static const Case cases[] = {
        { "no file name", [](WmBitmapParam* p) { p->wmFileName[0] = 0; }, "file name error!", "rc = -7" },
        { "densities out of order", [](WmBitmapParam* p) { p->nPageDensity = 4; p->nMaxPageDensity = 3; },
          "density value error nMaxPageDensity = 3!", "rc = -7" },
        { "zero width", [](WmBitmapParam* p) { p->nWidth = 0; }, "bitmap size error 0 x 1200!", "rc = -7" },
        { "negative height", [](WmBitmapParam* p) { p->nHeight = -3; }, "bitmap size error 1600 x -3!", "rc = -7" },
        { "placement 2", [](WmBitmapParam* p) { p->tyWM.wPlacement = 2; }, "wPlacement error", "rc = -11" },
        { "size 0", [](WmBitmapParam* p) { p->tyWM.wFontSize = 0; }, "wFontSize error, 0", "rc = -11" },
        { "scale 4", [](WmBitmapParam* p) { p->nTextScale = 4; }, "fTextScale = 4/100", "rc = -11" },
    };
    for (const Case& c : cases) {
        WmBitmapParam p = Job(out);
        c.change(&p);
        JobRun r = RunJob(dir, p);
        EXPECT_EQ(1u, r.run.exitCode) << c.what;
        EXPECT_TRUE(r.HasLine(c.line)) << c.what;
        EXPECT_TRUE(r.HasLine(c.rc)) << c.what;
        EXPECT_FALSE(FileExists(out)) << c.what;
    }
    // Missing value: the reader's line, then the job's.
    JobRun r = RunJob(dir, "");
    int readFail = r.LineIndex("[MISC_GetPrivateProfileStruct]::read INI fail!");
    int jobFail = r.LineIndex("[SM_CreateTextBMPUsingIni_New]::read watermark setting fail!");
    EXPECT_GE(readFail, 0);
    EXPECT_GT(jobFail, readFail);
    EXPECT_GT(r.LineIndex("rc = 0"), jobFail);
    // A folder that does not exist.
    WmBitmapParam p = Job(dir + L"missing\\out.bmp");
    r = RunJob(dir, p);
    EXPECT_TRUE(r.HasLine("open file"));
    EXPECT_TRUE(r.HasLine("rc = -4"));
}

TEST(Watermark, DensityLevelsAtTheirBoundaries)
{
    std::wstring dir = SmTempDir(L"wm_density");
    static const struct { WORD density; const char* line; } cases[] = {
        { 20, "density level = 30" }, { 39, "density level = 30" }, { 40, "density level = 54" },
        { 99, "density level = 114" }, { 100, "density level = 150" },
    };
    long lastInk = 0;
    for (const auto& c : cases) {
        WmBitmapParam p = Job(dir + L"out.bmp");
        p.tyWM.wDensity = c.density;
        JobRun r = RunJob(dir, p);
        EXPECT_TRUE(r.HasLine(c.line)) << c.density;
        EXPECT_TRUE(r.HasLine("rc = 1")) << c.density;
        Page pg;
        ASSERT_TRUE(LoadPage(r.bmp, &pg));
        long ink = FindInk(pg).count;
        EXPECT_GE(ink, lastInk) << c.density;      // higher levels keep more of the text
        lastInk = ink;
    }
}

// Counter-clockwise rotation, seen in where the ink of a centred text lies.
TEST(Watermark, RotatedBoxAndCentredPlacement)
{
    std::wstring dir = SmTempDir(L"wm_angle");
    std::vector<BYTE> at0;
    for (WORD angle : { 0, 45, 90, 360 }) {
        WmBitmapParam p = Job(dir + L"out.bmp");
        p.tyWM.wAngleDegree = angle;
        JobRun r = RunJob(dir, p);
        ASSERT_TRUE(r.HasLine("rc = 1")) << angle;
        int tcx = 0, tcy = 0, rotCx = 0, rotCy = 0;
        ASSERT_TRUE(r.Value("tcx", &tcx) && r.Value("tcy", &tcy));
        ASSERT_TRUE(r.Value("rotCx", &rotCx) && r.Value("rotCy", &rotCy));
        Page pg;
        ASSERT_TRUE(LoadPage(r.bmp, &pg));
        InkBox b = FindInk(pg);
        ASSERT_GT(b.count, 0) << angle;
        int inkW = b.right - b.left + 1, inkH = b.bottom - b.top + 1;
        if (angle % 360 == 0) {
            EXPECT_EQ(tcx, rotCx);
            EXPECT_EQ(tcy, rotCy);
            EXPECT_GT(inkW, 4 * inkH);
            EXPECT_NEAR(pg.w / 2.0, b.cx, tcx * 0.05) << angle;
            EXPECT_NEAR(pg.h / 2.0, b.cy, tcy * 0.6) << angle;
            if (angle == 0)
                at0 = pg.bits;
            else
                EXPECT_TRUE(at0 == pg.bits);             // 360 draws as 0
        } else if (angle == 90) {
            EXPECT_EQ(tcy, rotCx);
            EXPECT_EQ(tcx, rotCy);
            EXPECT_GT(inkH, 4 * inkW);
            EXPECT_NEAR(pg.h / 2.0, b.cy, tcx * 0.05);
            // Read bottom to top: the first letter's ink is at the bottom.
            EXPECT_GT(b.bottom, pg.h / 2 + tcx / 3);
        } else {
            EXPECT_EQ((int)(tcx * cos(M_PI / 4)), rotCx);   // no height term off the right angles
            EXPECT_NEAR(inkW, inkH, inkW * 0.15);
            EXPECT_NEAR(pg.w / 2.0, b.cx, tcx * 0.1);
            EXPECT_NEAR(pg.h / 2.0, b.cy, tcx * 0.1);
            // Rising to the right: ink in the lower-left and upper-right quarters of its box.
            long ll = 0, ur = 0, ul = 0;
            for (int y = b.top; y <= b.bottom; y++)
                for (int x = b.left; x <= b.right; x++) {
                    if (!pg.Ink(x, y)) continue;
                    bool left = x < b.cx, upper = y < b.cy;
                    ll += left && !upper;
                    ur += !left && upper;
                    ul += left && upper;
                }
            EXPECT_GT(ll, 4 * ul);
            EXPECT_GT(ur, 4 * ul);
        }
    }
}

TEST(Watermark, TextScaleAboveOneCentresOnTheLargerRectangle)
{
    std::wstring dir = SmTempDir(L"wm_scale");
    WmBitmapParam p = Job(dir + L"out.bmp");
    wcscpy(p.tyWM.wszText, L"IIII");
    p.tyWM.wFontSize = 8;
    p.nTextScale = 150;
    JobRun r = RunJob(dir, p);
    ASSERT_TRUE(r.HasLine("rc = 1"));
    EXPECT_TRUE(r.HasLine("rect = 2400 x 1800, nFontSizeScale = 103"));
    Page pg;
    ASSERT_TRUE(LoadPage(r.bmp, &pg));
    InkBox b = FindInk(pg);
    ASSERT_GT(b.count, 0);
    EXPECT_NEAR(0.75 * p.nWidth, b.cx, 40);
    EXPECT_NEAR(0.75 * p.nHeight, b.cy, 40);
}

// Tiled at 0 degrees: the rows of text repeat at min(tcy + 1, tcx) + spacing and the page
// is covered.
TEST(Watermark, TiledRowsRepeatAtTheirPitch)
{
    std::wstring dir = SmTempDir(L"wm_tiled");
    for (WORD angle : { 0, 90 }) {
        WmBitmapParam p = Job(dir + L"out.bmp");
        wcscpy(p.tyWM.wszText, L"ABC");
        p.tyWM.wPlacement = 1;
        p.tyWM.wAngleDegree = angle;
        p.tyWM.wFontSize = 6;
        JobRun r = RunJob(dir, p);
        ASSERT_TRUE(r.HasLine("rc = 1"));
        int tcx = 0, tcy = 0, rowPitch = 0, colPitch = 0, rotCx = 0;
        ASSERT_TRUE(r.Value("tcx", &tcx) && r.Value("tcy", &tcy) && r.Value("rotCx", &rotCx));
        ASSERT_TRUE(r.Value("rowPitch", &rowPitch) && r.Value("colPitch", &colPitch));
        int spacing = rotCx / 3;
        if (angle == 0)
            EXPECT_EQ((tcy + 1 < tcx ? tcy + 1 : tcx) + spacing, rowPitch);
        else
            EXPECT_EQ(tcx + spacing, rowPitch);
        EXPECT_EQ(rotCx + spacing, colPitch);
        Page pg;
        ASSERT_TRUE(LoadPage(r.bmp, &pg));
        // Every cell of a 4 x 4 grid has ink.
        for (int gy = 0; gy < 4; gy++)
            for (int gx = 0; gx < 4; gx++) {
                bool any = false;
                for (int y = gy * pg.h / 4; y < (gy + 1) * pg.h / 4 && !any; y++)
                    for (int x = gx * pg.w / 4; x < (gx + 1) * pg.w / 4 && !any; x++)
                        any = pg.Ink(x, y);
                EXPECT_TRUE(any) << angle << ": cell " << gx << "," << gy;
            }
        // Vertical repeat: the ink of a row of pixels comes back one pitch lower.
        int same = 0, total = 0;
        for (int y = 0; y + rowPitch < pg.h; y += 3)
            for (int x = 0; x < pg.w; x += 2) {
                bool a = pg.Ink(x, y), c = pg.Ink(x, y + rowPitch);
                if (a || c) {
                    total++;
                    same += a && c;
                }
            }
        ASSERT_GT(total, 0);
        // Screened ink repeats exactly when the pitch is a multiple of the 16-row screen;
        // otherwise the dots move, so compare loosely.
        EXPECT_GT(same * 10, total * 3) << angle;
    }
}

TEST(Watermark, EmptyTextAndUnknownFaceAreNoFailure)
{
    std::wstring dir = SmTempDir(L"wm_empty");
    WmBitmapParam p = Job(dir + L"out.bmp");
    p.tyWM.wszText[0] = 0;
    JobRun r = RunJob(dir, p);
    EXPECT_TRUE(r.HasLine("rc = 1"));
    Page pg;
    ASSERT_TRUE(LoadPage(r.bmp, &pg));
    EXPECT_EQ(0, FindInk(pg).count);

    // A face that is not installed: the platform maps it to a font it has, and the job draws.
    p = Job(dir + L"out.bmp");
    wcscpy(p.tyWM.wszFontFace, L"No Such Face 12345");
    r = RunJob(dir, p);
    EXPECT_TRUE(r.HasLine("rc = 1"));
    EXPECT_TRUE(r.HasLine("charset = 0"));
    ASSERT_TRUE(LoadPage(r.bmp, &pg));
    EXPECT_GT(FindInk(pg).count, 0);
}

TEST(Watermark, LargestTextKeepsItsFullHeight)
{
    std::wstring dir = SmTempDir(L"wm_large");
    WmBitmapParam p = Job(dir + L"out.bmp");
    p.tyWM.wFontSize = 288;
    p.nDstScale = 2;
    p.nTextScale = 200;
    p.nWidth = 64;
    p.nHeight = 64;
    JobRun r = RunJob(dir, p);
    EXPECT_TRUE(r.HasLine("iFontHeight = 79488"));     // 288 * 276, not wrapped to 16 bits
    EXPECT_TRUE(r.HasLine("rc = 1"));
}

TEST(Watermark, FaxFlagDrawsTheCoverPageInsteadOfTheText)
{
    std::wstring dir = SmTempDir(L"wm_fax");
    WmBitmapParam p = Job(dir + L"out.bmp");
    p.DriverType = WM_DRIVER_FAX | 0x1;
    JobRun r = RunJob(dir, p);
    EXPECT_TRUE(r.HasLine("rc = 1"));
    EXPECT_FALSE(r.HasLine("DrawWatermarkText"));
    EXPECT_TRUE(FileExists(r.bmp));
}

#include "bitmap/halftone_tables.h"

// A solid glyph screened by the real program keeps exactly the table's share of black pixels
// at each level: every screen repeats within 128 pixels, so any 128 x 128 window inside the
// glyph holds whole repeats. Counted from the file, for every table and level.
TEST(Watermark, SolidAreaKeepsEachTablesShareAtEachLevel)
{
    std::wstring dir = SmTempDir(L"wm_solid");
    static const struct { UINT32 type; const BYTE* table; int n; } tables[] = {
        { 0, FINE_TAry_16, 16 }, { 1, FINE_TAry_128, 128 }, { 2, LSU_106_K60, 64 },
        { 3, Nimsa2_212, 64 }, { 4, Vorel_212, 64 }, { 5, Vorel_106, 64 },
        { 6, Vorel_1200_160, 64 }, { 7, QX3_A4_1200_106LPI, 64 }, { 8, A4_LSU_600_212LPI, 64 },
    };
    static const struct { WORD density; int level; } levels[] = {
        { 20, 30 }, { 40, 54 }, { 60, 84 }, { 80, 114 }, { 100, 150 },
    };
    for (const auto& t : tables) {
        for (const auto& l : levels) {
            WmBitmapParam p = Job(dir + L"out.bmp");
            wcscpy(p.tyWM.wszText, L"\x2588");          // full block
            wcscpy(p.tyWM.wszFontFace, L"Liberation Sans");
            p.tyWM.wFontSize = 36;
            p.tyWM.wDensity = l.density;
            p.nWidth = 400;
            p.nHeight = 400;
            p.HalftoneType = t.type;
            JobRun r = RunJob(dir, p);
            ASSERT_TRUE(r.HasLine("rc = 1"));
            Page pg;
            ASSERT_TRUE(LoadPage(r.bmp, &pg));
            InkBox b = FindInk(pg);
            // The window must lie well inside the glyph.
            ASSERT_LT(b.left + 8, 136);
            ASSERT_GT(b.right - 8, 264);
            ASSERT_LT(b.top + 8, 136);
            ASSERT_GT(b.bottom - 8, 264);
            // Pixel by pixel: stored row r (0 at the bottom) uses table row r mod n, and the
            // pixel at column x uses table column 8 * (x / 8 mod n / 8) + 7 - x mod 8.
            long black = 0, wrong = 0;
            for (int y = 136; y < 264; y++)
                for (int x = 136; x < 264; x++) {
                    bool ink = pg.Ink(x, y);
                    black += ink;
                    int r = (pg.h - 1 - y) % t.n;
                    int c = 8 * ((x / 8) % (t.n / 8)) + 7 - x % 8;
                    wrong += ink != (t.table[r * t.n + c] <= l.level);
                }
            EXPECT_EQ(0, wrong) << "type " << t.type << " level " << l.level;
            long cells = 0;
            for (int i = 0; i < t.n * t.n; i++)
                cells += t.table[i] <= l.level;
            EXPECT_EQ(cells * (128 * 128) / (t.n * t.n), black) << "type " << t.type << " level " << l.level;
        }
    }
}
