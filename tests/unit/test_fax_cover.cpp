// Fax cover page in-process: the font chain, text placement, ruled lines, the cover.ini
// body reader and the two page modes, drawn on 1-bit memory pages.
#include <gtest/gtest.h>
#include "fax/fax.h"
#include "fax/fax_cover.h"
#include "smtest.h"
#include <string>
#include <vector>

namespace {

const int kPageW = 1728;     // A4 at 204 x 196 dpi
const int kPageH = 2292;

// A white 1-bit page in a memory DC, as the watermark renderer hands it over.
class Page {
public:
    Page(int w, int h) : m_w(w), m_h(h)
    {
        HDC hdcScreen = GetDC(NULL);
        m_hdc = CreateCompatibleDC(hdcScreen);
        ReleaseDC(NULL, hdcScreen);
        m_hbm = CreateBitmap(w, h, 1, 1, NULL);
        m_hOld = SelectObject(m_hdc, m_hbm);
        PatBlt(m_hdc, 0, 0, w, h, WHITENESS);
        m_clip = { 0, 0, w, h };
    }
    ~Page()
    {
        SelectObject(m_hdc, m_hOld);
        DeleteObject(m_hbm);
        DeleteDC(m_hdc);
    }
    HDC Dc() const { return m_hdc; }
    const RECT* Clip() const { return &m_clip; }

    // Reads the page back, top-down, one byte per pixel (1 = ink).
    void Read()
    {
        struct { BITMAPINFOHEADER h; RGBQUAD c[2]; } bi = {};
        bi.h.biSize = sizeof(bi.h);
        bi.h.biWidth = m_w;
        bi.h.biHeight = -m_h;
        bi.h.biPlanes = 1;
        bi.h.biBitCount = 1;
        int stride = ((m_w + 31) / 32) * 4;
        std::vector<BYTE> bits((size_t)stride * m_h);
        SelectObject(m_hdc, m_hOld);
        int rows = GetDIBits(m_hdc, m_hbm, 0, m_h, bits.data(), (BITMAPINFO*)&bi, DIB_RGB_COLORS);
        SelectObject(m_hdc, m_hbm);
        ASSERT_EQ(m_h, rows);
        bool zeroIsBlack = bi.c[0].rgbRed == 0;
        m_ink.assign((size_t)m_w * m_h, 0);
        for (int y = 0; y < m_h; y++)
            for (int x = 0; x < m_w; x++) {
                bool bit = (bits[(size_t)y * stride + x / 8] >> (7 - x % 8)) & 1;
                m_ink[(size_t)y * m_w + x] = (bit ? !zeroIsBlack : zeroIsBlack) ? 1 : 0;
            }
    }
    bool Ink(int x, int y) const { return m_ink[(size_t)y * m_w + x] != 0; }
    int InkCount(const RECT& r) const
    {
        int n = 0;
        for (int y = r.top; y < r.bottom; y++)
            for (int x = r.left; x < r.right; x++)
                n += Ink(x, y);
        return n;
    }
    // Bounding box of the ink inside r; empty when there is none.
    RECT InkBox(const RECT& r) const
    {
        RECT b = { r.right, r.bottom, r.left, r.top };
        for (int y = r.top; y < r.bottom; y++)
            for (int x = r.left; x < r.right; x++)
                if (Ink(x, y)) {
                    b.left = std::min(b.left, (LONG)x);
                    b.top = std::min(b.top, (LONG)y);
                    b.right = std::max(b.right, (LONG)x + 1);
                    b.bottom = std::max(b.bottom, (LONG)y + 1);
                }
        if (b.right <= b.left)
            b = RECT{ 0, 0, 0, 0 };
        return b;
    }
    RECT Whole() const { return RECT{ 0, 0, m_w, m_h }; }
    const std::vector<BYTE>& Pixels() const { return m_ink; }

private:
    int m_w, m_h;
    HDC m_hdc;
    HBITMAP m_hbm;
    HGDIOBJ m_hOld;
    RECT m_clip;
    std::vector<BYTE> m_ink;
};

LOGFONTW FontOf(HFONT hFont)
{
    LOGFONTW lf = {};
    GetObjectW(hFont, sizeof(lf), &lf);
    return lf;
}

std::wstring Dir()
{
    static std::wstring dir = SmTempDir(L"fax") + L"\\";
    return dir;
}

bool WriteUnits(const std::wstring& path, const std::wstring& text, bool withMark = true)
{
    std::vector<BYTE> data;
    if (withMark) {
        data.push_back(0xFF);
        data.push_back(0xFE);
    }
    for (wchar_t c : text) {
        data.push_back((BYTE)(c & 0xFF));
        data.push_back((BYTE)(c >> 8));
    }
    return SmWriteFile(path, data.data(), data.size());
}

void WriteIni(const std::wstring& path, const std::vector<std::wstring>& lines)
{
    std::wstring text;
    for (const auto& l : lines)
        text += l + L"\r\n";
    ASSERT_TRUE(WriteUnits(path, text));
}

// Top rows of the ink bands of the page, scanning down a column strip.
std::vector<int> BandTops(const Page& page, int x0, int x1, int y0)
{
    std::vector<int> tops;
    bool inBand = false;
    for (int y = y0; y < kPageH; y++) {
        bool ink = page.InkCount(RECT{ x0, y, x1, y + 1 }) > 0;
        if (ink && !inBand)
            tops.push_back(y);
        inBand = ink;
    }
    return tops;
}

}  // namespace

TEST(FaxFont, HeightChainFollowsTheDeviceResolution)
{
    static const struct {
        int vertRes, vertSize, size;
        int cyDpi, lfHeight, lfHeightFinal;
    } cases[] = {
        { 960, 254, 120, 95, 158, 151 },    // the single-precision 25.4 truncates to 95
        { 1200, 317, 120, 96, 160, 153 },
        { 1024, 271, 55, 95, 73, 70 },      // the display of the test rig
        { 960, 254, 1, 95, 1, 0 },          // survives the first step, 0 after 196/204
    };
    Page page(64, 64);
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.vertRes << "/" << c.vertSize << " size " << c.size);
        EXPECT_EQ(c.cyDpi, FaxCyDpiFromCaps(c.vertRes, c.vertSize));
        HFONT hFont = FaxCreateFontAtDpi(page.Dc(), L"Arial", c.size, 1, c.cyDpi);
        ASSERT_TRUE(hFont != NULL);
        LOGFONTW lf = FontOf(hFont);
        EXPECT_EQ(c.lfHeightFinal, lf.lfHeight);
        EXPECT_EQ(100, lf.lfWeight);
        EXPECT_EQ(0, lf.lfItalic);
        EXPECT_STREQ(L"Arial", lf.lfFaceName);

        // The width is the average character width of the font at the first height.
        LOGFONTW ref = lf;
        ref.lfHeight = c.lfHeight;
        ref.lfWidth = 0;
        HFONT hRef = CreateFontIndirectW(&ref);
        HGDIOBJ hOld = SelectObject(page.Dc(), hRef);
        TEXTMETRICW tm = {};
        GetTextMetricsW(page.Dc(), &tm);
        SelectObject(page.Dc(), hOld);
        DeleteObject(hRef);
        EXPECT_EQ(tm.tmAveCharWidth, lf.lfWidth);
        DeleteObject(hFont);
    }
}

TEST(FaxFont, NoFontWhenTheHeightRoundsToZeroAndStyleBits)
{
    Page page(64, 64);
    EXPECT_EQ(2, FaxCyDpiFromCaps(30, 254));
    EXPECT_EQ(0, FaxCyDpiFromCaps(960, 0));
    EXPECT_TRUE(FaxCreateFontAtDpi(page.Dc(), L"Arial", 1, 1, 2) == NULL);   // one point at 2 dpi: no height
    EXPECT_EQ(FaxCyDpiFromCaps(GetDeviceCaps(page.Dc(), VERTRES), GetDeviceCaps(page.Dc(), VERTSIZE)),
              FaxGetCyDpi(page.Dc()));
    static const struct { UINT style; BYTE italic, underline, strike; } styles[] = {
        { 0, 0, 0, 0 }, { 1, 0, 0, 0 }, { 2, 1, 0, 0 }, { 4, 0, 1, 0 }, { 8, 0, 0, 1 }, { 15, 1, 1, 1 },
    };
    for (const auto& s : styles) {
        HFONT hFont = FaxCreateFont(page.Dc(), L"Arial", 20, s.style);
        ASSERT_TRUE(hFont != NULL);
        LOGFONTW lf = FontOf(hFont);
        EXPECT_EQ(s.italic, lf.lfItalic) << s.style;
        EXPECT_EQ(s.underline, lf.lfUnderline) << s.style;
        EXPECT_EQ(s.strike, lf.lfStrikeOut) << s.style;
        DeleteObject(hFont);
    }
}

TEST(FaxText, PlacedAtTheScaledPositionAndTheDcLeftAsFound)
{
    Page a(600, 400), b(600, 400);
    HGDIOBJ hFontBefore = GetCurrentObject(a.Dc(), OBJ_FONT);
    ASSERT_EQ(1, TextOutForCoverPage(a.Dc(), a.Clip(), 55, L"FROM", 230, 785 - 600, 1));
    EXPECT_EQ(hFontBefore, GetCurrentObject(a.Dc(), OBJ_FONT));

    // The same font drawn directly at 230 * 204/600 = 78, 185 * 196/600 = 60 (truncated).
    HFONT hFont = FaxCreateFont(b.Dc(), L"Arial", 55, 1);
    HGDIOBJ hOld = SelectObject(b.Dc(), hFont);
    ExtTextOutW(b.Dc(), 78, 60, ETO_CLIPPED, b.Clip(), L"FROM", 4, NULL);
    SelectObject(b.Dc(), hOld);
    DeleteObject(hFont);
    a.Read();
    b.Read();
    EXPECT_GT(a.InkCount(a.Whole()), 500);
    EXPECT_TRUE(a.Pixels() == b.Pixels());
    RECT box = a.InkBox(a.Whole());
    EXPECT_NEAR(78, box.left, 12);
    EXPECT_NEAR(60, box.top, 20);
}

TEST(FaxLine, RowsAndPenWidth)
{
    static const struct { int width, x, x2, y; } lines[] = {
        { 5, 50, 1650, 120 },     // first rule of A4: page row 240
        { 3, 310, 1600, 163 },
        { 1, 10, 200, 5 },
    };
    for (const auto& l : lines) {
        SCOPED_TRACE(testing::Message() << "width " << l.width << " y " << l.y);
        Page page(kPageW, 1000);
        ASSERT_EQ(1, FaxLineTo(page.Dc(), l.x, l.y, l.x2, l.y, l.width));
        page.Read();
        RECT box = page.InkBox(page.Whole());
        EXPECT_EQ(l.width, box.bottom - box.top);
        EXPECT_EQ(2 * l.y - (l.width - 1) / 2, box.top);
        EXPECT_NEAR(l.x, box.left, l.width / 2 + 1);
        EXPECT_NEAR(l.x2, box.right, l.width / 2 + 1);
        // A solid rule: every column between the ends is inked over the whole pen width.
        int mid = (l.x + l.x2) / 2;
        EXPECT_EQ(l.width, page.InkCount(RECT{ mid, box.top, mid + 1, box.bottom }));
    }
}

TEST(FaxTexts, DefaultsForMissingKeysAndLongValuesCut)
{
    std::wstring ini = Dir() + L"texts.ini";
    std::wstring longName(300, L'n');
    // Keys are found in their own section only (and case-blind, as profile keys are).
    WriteIni(ini, { L"[SMTextOut]", L"FAX=Telefax", L"from=Von", L"FaxNum=wrong section",
                    L"[SenderInformation]", L"Name=" + longName, L"MESG=wrong section", L"Tel=12 34" });
    static CoverPageItem items[FAX_TEMPLATE_ITEMS];
    memcpy(items, g_CoverTemplateA4, sizeof(items));
    FaxLoadCoverText(items, ini.c_str());
    static const wchar_t* expected[FAX_TEMPLATE_TEXTS] = {
        L"Telefax", L"Von", nullptr, L"COM", L"nothing", L"DEP", L"nothing", L"TEL", L"12 34",
        L"Telefax", L"nothing", L"MESG",
    };
    for (int i = 0; i < FAX_TEMPLATE_TEXTS; i++) {
        if (expected[i]) {
            EXPECT_STREQ(expected[i], items[i].text) << i;
        }
    }
    EXPECT_EQ(std::wstring(259, L'n'), std::wstring(items[2].text));
    // Lines carry no text and keep their geometry.
    for (int i = FAX_TEMPLATE_TEXTS; i < FAX_TEMPLATE_ITEMS; i++)
        EXPECT_EQ(0, memcmp(&items[i], &g_CoverTemplateA4[i], sizeof(items[i]))) << i;
}

// The body is drawn line by line at the template's pitch: each line's ink equals what
// TextOutForCoverPage draws for that text at that row.
TEST(FaxBody, LinesEndAtCrLfOnly)
{
    std::wstring cover = Dir() + L"cover.ini";
    static const struct {
        const wchar_t* name;
        std::wstring content;
        int lines;
        std::vector<std::wstring> drawn;   // the texts expected at rows 0, 1, ...
        size_t inkedRows;
    } cases[] = {
        { L"three lines", L"Hello\r\nWorld\r\nThird\r\n", 3, { L"Hello", L"World", L"Third" }, 3 },
        { L"last line without CR LF", L"One\r\nTwo", 2, { L"One", L"Two" }, 2 },
        { L"lone LF and lone CR stay in the line", L"ab\ncd\r\nef\rgh\r\n", 2, { L"ab\ncd", L"ef\rgh" }, 2 },
        { L"empty lines keep their rows", L"\r\n\r\nX\r\n", 3, { L"", L"", L"X" }, 1 },
        { L"CR LF LF", L"A\r\n\nB\r\n", 2, { L"A", L"\nB" }, 2 },
        { L"mark only", L"", 0, {}, 0 },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << SmNarrow(c.name));
        ASSERT_TRUE(WriteUnits(cover, c.content));
        Page got(kPageW, kPageH), want(kPageW, kPageH);
        EXPECT_EQ(c.lines, FaxDrawCoverBody(got.Dc(), got.Clip(), &g_CoverBodyB4, cover.c_str()));
        for (size_t i = 0; i < c.drawn.size(); i++)
            TextOutForCoverPage(want.Dc(), want.Clip(), 55, c.drawn[i].c_str(), 350, 2630 + 275 * (int)i, 0);
        got.Read();
        want.Read();
        EXPECT_TRUE(got.Pixels() == want.Pixels());
        EXPECT_EQ(c.inkedRows, BandTops(got, 0, kPageW, 800).size());
        // The file is only read.
        std::vector<BYTE> after = SmReadFile(cover);
        EXPECT_EQ(2 + 2 * c.content.size(), after.size());
    }
}

TEST(FaxBody, MissingFileIsCreatedWithItsMarkOnly)
{
    std::wstring cover = Dir() + L"missing.ini";
    DeleteFileW(cover.c_str());
    Page page(kPageW, kPageH);
    EXPECT_EQ(0, FaxDrawCoverBody(page.Dc(), page.Clip(), &g_CoverBodyA4, cover.c_str()));
    std::vector<BYTE> data = SmReadFile(cover);
    ASSERT_EQ(2u, data.size());
    EXPECT_EQ(0xFF, data[0]);
    EXPECT_EQ(0xFE, data[1]);
    page.Read();
    EXPECT_EQ(0, page.InkCount(page.Whole()));

    // A message file that another process holds exclusively is left as it is.
    std::wstring held = Dir() + L"held.ini";
    ASSERT_TRUE(WriteUnits(held, L"Kept\r\n"));
    HANDLE hHeld = CreateFileW(held.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, hHeld);
    EXPECT_EQ(-1, FaxDrawCoverBody(page.Dc(), page.Clip(), &g_CoverBodyA4, held.c_str()));
    CloseHandle(hHeld);
    EXPECT_EQ(14u, SmReadFile(held).size());

    // A folder that does not exist: nothing can be created, nothing drawn.
    std::wstring nowhere = Dir() + L"no such folder\\cover.ini";
    EXPECT_EQ(-1, FaxDrawCoverBody(page.Dc(), page.Clip(), &g_CoverBodyA4, nowhere.c_str()));
}

TEST(FaxBody, OverlongLineIsCutAndOddTailIgnored)
{
    std::wstring cover = Dir() + L"long.ini";
    // Lines around the 999-unit buffer (CR LF included), then a normal line: a long line is
    // cut to what fits and the next line still takes the second row.
    static const size_t lengths[] = { 997, 998, 999, 5000 };
    for (size_t len : lengths) {
        SCOPED_TRACE(len);
        std::wstring longLine;
        for (size_t i = 0; i < len; i++)
            longLine += (wchar_t)(L'A' + i % 26);
        ASSERT_TRUE(WriteUnits(cover, longLine + L"\r\nNext\r\n"));
        Page got(kPageW, kPageH), want(kPageW, kPageH);
        EXPECT_EQ(2, FaxDrawCoverBody(got.Dc(), got.Clip(), &g_CoverBodyA4, cover.c_str()));
        TextOutForCoverPage(want.Dc(), want.Clip(), 40, longLine.substr(0, 999).c_str(), 350, 2560, 0);
        TextOutForCoverPage(want.Dc(), want.Clip(), 40, L"Next", 350, 2760, 0);
        got.Read();
        want.Read();
        EXPECT_TRUE(got.Pixels() == want.Pixels());
        EXPECT_EQ(2u, BandTops(got, 0, kPageW, 800).size());
    }

    // A file that ends in half a unit: the whole units are drawn, the odd byte is not one.
    std::vector<BYTE> odd = { 0xFF, 0xFE, 'Q', 0, '\r', 0, '\n', 0, 'Z', 0, 'W' };
    ASSERT_TRUE(SmWriteFile(cover, odd.data(), odd.size()));
    Page got2(kPageW, kPageH), want2(kPageW, kPageH);
    EXPECT_EQ(2, FaxDrawCoverBody(got2.Dc(), got2.Clip(), &g_CoverBodyA4, cover.c_str()));
    TextOutForCoverPage(want2.Dc(), want2.Clip(), 40, L"Q", 350, 2560, 0);
    TextOutForCoverPage(want2.Dc(), want2.Clip(), 40, L"Z", 350, 2760, 0);
    got2.Read();
    want2.Read();
    EXPECT_TRUE(got2.Pixels() == want2.Pixels());
}

TEST(FaxBody, ManyLinesStopAtThePageEnd)
{
    std::wstring cover = Dir() + L"many.ini";
    std::wstring text;
    for (int i = 0; i < 20000; i++)
        text += L"line\r\n";
    ASSERT_TRUE(WriteUnits(cover, text));
    Page page(kPageW, kPageH);
    int n = FaxDrawCoverBody(page.Dc(), page.Clip(), &g_CoverBodyA4, cover.c_str());
    // Rows 836, 901, ... 2273: 23 lines begin on the 2292 rows of the page.
    EXPECT_EQ(23, n);
    page.Read();
    std::vector<int> tops = BandTops(page, 100, 400, 800);
    ASSERT_EQ(23u, tops.size());
    for (size_t i = 1; i < tops.size(); i++)
        EXPECT_NEAR(65.33, tops[i] - tops[i - 1], 1.0) << i;
}

TEST(FaxPage, ModesAndPapersThatDrawNothing)
{
    std::wstring strIni = Dir() + L"str.ini";
    std::wstring cover = Dir() + L"cover_blank.ini";
    ASSERT_TRUE(WriteUnits(cover, L"Body\r\n"));
    static const struct { const wchar_t* mode; const wchar_t* paper; } cases[] = {
        { L"1", L"1" }, { L"0", L"9" }, { L"3", L"9" }, { L"1", L"11" }, { nullptr, nullptr },
    };
    for (const auto& c : cases) {
        if (c.mode)
            WriteIni(strIni, { L"[DataForSM]", std::wstring(L"enableCoverPage=") + c.mode,
                               std::wstring(L"PaperSize=") + c.paper, L"[SenderInformation]", L"Name=N" });
        else
            DeleteFileW(strIni.c_str());
        SCOPED_TRACE(testing::Message() << (c.mode ? SmNarrow(c.mode) : "no str.ini"));
        Page page(kPageW, kPageH);
        EXPECT_EQ(0, FaxDrawCoverPage(page.Dc(), page.Clip(), strIni.c_str(), cover.c_str()));
        page.Read();
        EXPECT_EQ(0, page.InkCount(page.Whole()));
    }
}

TEST(FaxPage, FromLineKeepsWhatFitsItsBuffer)
{
    std::wstring strIni = Dir() + L"str_from.ini";
    std::wstring cover = Dir() + L"cover_from.ini";
    ASSERT_TRUE(WriteUnits(cover, L"Body\r\n"));
    std::wstring name;
    for (int i = 0; i < 259; i++)
        name += (wchar_t)(L'a' + i % 26);
    static const struct { size_t cchName; size_t cchDrawn; } cases[] = { { 0, 0 }, { 10, 10 }, { 259, 253 } };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.cchName);
        std::vector<std::wstring> lines = { L"[DataForSM]", L"enableCoverPage=2", L"PaperSize=9", L"[SenderInformation]" };
        if (c.cchName)
            lines.push_back(L"Name=" + name.substr(0, c.cchName));
        WriteIni(strIni, lines);
        Page got(kPageW, 200), want(kPageW, 200);
        EXPECT_EQ(1, FaxDrawCoverPage(got.Dc(), got.Clip(), strIni.c_str(), cover.c_str()));
        std::wstring text = L"From: " + name.substr(0, c.cchDrawn);
        TextOutForCoverPage(want.Dc(), want.Clip(), 25, text.c_str(), 20, 20, 1);
        got.Read();
        want.Read();
        EXPECT_TRUE(got.Pixels() == want.Pixels());
        RECT box = got.InkBox(got.Whole());
        EXPECT_NEAR(6, box.left, 6);
        EXPECT_NEAR(6, box.top, 12);
        EXPECT_LT(box.bottom, 60);     // nothing else on the page
    }
}

TEST(FaxPath, SharedDocumentsAndAnOverlongFolderValue)
{
    WCHAR path[260];
    EXPECT_EQ(1, FAX_GetPathName(path, ARRAYSIZE(path), FAX_PATH_STR_INI));
    EXPECT_EQ(0, lstrcmpiW((SmSharedDocuments() + L"str.ini").c_str(), path));
    EXPECT_EQ(1, FAX_GetPathName(path, ARRAYSIZE(path), FAX_PATH_COVER_INI));
    EXPECT_EQ(0, lstrcmpiW((SmSharedDocuments() + L"cover.ini").c_str(), path));

    // A value of 130 characters does not fit 260 bytes with its terminator: the buffer is
    // emptied (never left holding an unterminated value) and only the name is appended.
    const wchar_t kKey[] = L"software\\microsoft\\windows\\currentversion\\explorer\\shell folders";
    std::vector<BYTE> original;
    DWORD type = 0;
    ASSERT_TRUE(SmRegReadString(HKEY_LOCAL_MACHINE, kKey, L"Common Documents", &original, &type));
    HKEY h = NULL;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, KEY_SET_VALUE, &h));
    std::wstring tooLong = L"C:\\" + std::wstring(127, L'd');
    RegSetValueExW(h, L"Common Documents", 0, REG_SZ, (const BYTE*)tooLong.c_str(), (DWORD)((tooLong.size() + 1) * 2));
    std::wstring fits = L"C:\\" + std::wstring(126, L'd');
    WCHAR held[260] = L"X:";
    int rcLong = FAX_GetPathName(held, ARRAYSIZE(held), FAX_PATH_STR_INI);
    RegSetValueExW(h, L"Common Documents", 0, REG_SZ, (const BYTE*)fits.c_str(), (DWORD)((fits.size() + 1) * 2));
    int rcFits = FAX_GetPathName(path, ARRAYSIZE(path), FAX_PATH_COVER_INI);
    RegSetValueExW(h, L"Common Documents", 0, type, original.data(), (DWORD)original.size());
    RegCloseKey(h);
    EXPECT_EQ(0, rcLong);
    EXPECT_STREQ(L"\\str.ini", held);
    EXPECT_EQ(1, rcFits);
    EXPECT_EQ(fits + L"\\cover.ini", std::wstring(path));
}
