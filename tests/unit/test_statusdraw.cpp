// Status dialog drawing: column ordering, the pictures and their masks, the dialog template,
// and the drawn dialog itself (in-process, on the test display).
#include <gtest/gtest.h>
#include "status/status.h"
#include "app/app.h"
#include "res/resource.h"
#include "util/trace.h"
#include "smtest.h"
#include <strsafe.h>
#include <string>
#include <vector>

namespace {

const DWORD kBlue = 0x0000FF;   // SmImage pixels are 0x00RRGGBB

int PosOf(LONG code, int nth = 0)
{
    for (int i = 0; i < SM_MSG_ITEMS; i++) {
        if (g_MsgItemTable[i].nErrCode == code && nth-- == 0)
            return i;
    }
    return -1;
}

void SetActive(const std::vector<LONG>& codes)
{
    for (auto& item : g_MsgItemTable)
        item.bGot = 0;
    for (LONG code : codes) {
        for (auto& item : g_MsgItemTable) {
            if (item.nErrCode == code)
                item.bGot = 1;
        }
    }
}

// Runs the ordering with a sentinel slot after the twelve it may fill.
std::vector<int> Sorted(const std::vector<LONG>& codes)
{
    SetActive(codes);
    int list[SM_MAX_SHOWN_ITEMS + 1];
    for (int& v : list)
        v = -7;
    int n = -1;
    SM_SortXYCoordinate(list, &n);
    EXPECT_EQ(-7, list[SM_MAX_SHOWN_ITEMS]) << "wrote past the twelfth slot";
    EXPECT_GE(n, 0);
    EXPECT_LE(n, SM_MAX_SHOWN_ITEMS);
    return std::vector<int>(list, list + (n < 0 ? 0 : n));
}

}  // namespace

TEST(StatusSort, OrderingByXThenColumns)
{
    struct Case {
        const char* what;
        std::vector<LONG> codes;
        std::vector<int> expected;   // table positions, left column first
    };
    const Case cases[] = {
        { "none", {}, {} },
        { "one item goes left", { 5 }, { PosOf(5) } },
        { "code 265 marks two items; the smaller x (lower picture) goes left",
          { 265 }, { PosOf(265, 1), PosOf(265, 0) } },
        // x: 257 (28), 5 (92), 6 (119); the left pair by vertical key: 5 (101) above 257 (113+180).
        { "three items: two left, one right", { 6, 257, 5 }, { PosOf(5), PosOf(257), PosOf(6) } },
        // After the x ordering: 267, 269 | 135, 136, each pair with equal keys. The left
        // column lets the later slot win a tie, the right one keeps the earlier slot.
        { "the two tie rules", { 136, 135, 269, 267 },
          { PosOf(269), PosOf(267), PosOf(135), PosOf(136) } },
        // x: 262 (36), 263 (76), 264 (76), 2 (115), 6 (119); left three by key
        // 263 (258), 264 (280), 262 (312); right two by key 6 (90), 2 (118).
        { "odd count: the left column takes the extra item", { 2, 6, 262, 263, 264 },
          { PosOf(263), PosOf(264), PosOf(262), PosOf(6), PosOf(2) } },
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.expected, Sorted(c.codes)) << c.what;
}

TEST(StatusSort, OnlyTheFirstTwelveInTableOrder)
{
    // Thirteen active entries: the thirteenth in table order is left out.
    std::vector<LONG> codes = { 1, 2, 3, 4, 5, 6, 7, 32, 33, 34, 35, 48, 80 };
    std::vector<int> got = Sorted(codes);
    ASSERT_EQ(12u, got.size());
    std::vector<bool> seen(SM_MSG_ITEMS, false);
    for (int pos : got) {
        ASSERT_GE(pos, 0);
        ASSERT_LT(pos, SM_MSG_ITEMS);
        EXPECT_FALSE(seen[pos]) << "position listed twice: " << pos;
        seen[pos] = true;
    }
    for (int pos = 0; pos < 12; pos++)
        EXPECT_TRUE(seen[pos]) << pos;
    EXPECT_FALSE(seen[PosOf(80)]);

    // Everything active: still twelve, still the first twelve positions.
    std::vector<LONG> all;
    for (const auto& item : g_MsgItemTable)
        all.push_back(item.nErrCode);
    got = Sorted(all);
    ASSERT_EQ(12u, got.size());
    for (int pos : got)
        EXPECT_LT(pos, 12);

    // Codes without an item mark nothing.
    EXPECT_TRUE(Sorted({ 129, 130, 131, 132, 133, 134, 283, 0 }).empty());
    SetActive({});
}

// ---------------------------------------------------------------------------------------------
// The bitmaps as stored in the resources.

namespace {

struct Dib {
    int width = 0, height = 0, bpp = 0;
    std::vector<DWORD> pixels;   // 0x00RRGGBB, top-down
    DWORD At(int x, int y) const { return pixels[(size_t)y * width + x]; }
};

bool LoadDib(UINT id, Dib* pDib)
{
    HMODULE hMod = GetModuleHandleW(NULL);
    HRSRC hRes = FindResourceW(hMod, MAKEINTRESOURCEW(id), (LPCWSTR)RT_BITMAP);
    if (!hRes)
        return false;
    const BYTE* p = (const BYTE*)LockResource(LoadResource(hMod, hRes));
    DWORD cb = SizeofResource(hMod, hRes);
    if (!p || cb < sizeof(BITMAPINFOHEADER))
        return false;
    const BITMAPINFOHEADER* bih = (const BITMAPINFOHEADER*)p;
    if (bih->biSize != sizeof(BITMAPINFOHEADER) || bih->biCompression != BI_RGB || bih->biHeight <= 0)
        return false;
    pDib->width = bih->biWidth;
    pDib->height = bih->biHeight;
    pDib->bpp = bih->biBitCount;
    DWORD colours = bih->biBitCount <= 8 ? (bih->biClrUsed ? bih->biClrUsed : 1u << bih->biBitCount) : 0;
    const RGBQUAD* table = (const RGBQUAD*)(p + bih->biSize);
    const BYTE* bits = p + bih->biSize + colours * sizeof(RGBQUAD);
    size_t stride = ((size_t)pDib->width * pDib->bpp / 8 + 3) & ~(size_t)3;
    if ((size_t)(bits - p) + stride * pDib->height > cb)
        return false;
    pDib->pixels.resize((size_t)pDib->width * pDib->height);
    for (int y = 0; y < pDib->height; y++) {
        const BYTE* row = bits + stride * (pDib->height - 1 - y);
        for (int x = 0; x < pDib->width; x++) {
            DWORD v;
            if (pDib->bpp == 8) {
                if (row[x] >= colours)
                    return false;
                const RGBQUAD& q = table[row[x]];
                v = ((DWORD)q.rgbRed << 16) | ((DWORD)q.rgbGreen << 8) | q.rgbBlue;
            } else if (pDib->bpp == 24) {
                v = ((DWORD)row[3 * x + 2] << 16) | ((DWORD)row[3 * x + 1] << 8) | row[3 * x];
            } else {
                return false;
            }
            pDib->pixels[(size_t)y * pDib->width + x] = v;
        }
    }
    return true;
}

// What a picture looks like on a background colour: the background where the mask is white.
DWORD Composite(const Dib& image, const Dib& mask, int x, int y, DWORD back)
{
    return mask.At(x, y) == 0xFFFFFF ? back : image.At(x, y);
}

}  // namespace

TEST(StatusArt, SizesDepthsAndMaskConvention)
{
    const struct { UINT id; int width, height, bpp; } cases[] = {
        { IDB_LOGO, 80, 20, 8 },
        { IDB_UPPER, 170, 170, 8 }, { IDB_UPPER_MASK, 170, 170, 24 },
        { IDB_LOWER, 170, 170, 8 }, { IDB_LOWER_MASK, 170, 170, 24 },
        { IDB_LOWER_ALT, 170, 170, 8 },
    };
    for (const auto& c : cases) {
        Dib dib;
        ASSERT_TRUE(LoadDib(c.id, &dib)) << c.id;
        EXPECT_EQ(c.width, dib.width) << c.id;
        EXPECT_EQ(c.height, dib.height) << c.id;
        EXPECT_EQ(c.bpp, dib.bpp) << c.id;
    }

    const struct { UINT image, mask; } pairs[] = {
        { IDB_UPPER, IDB_UPPER_MASK }, { IDB_LOWER, IDB_LOWER_MASK }, { IDB_LOWER_ALT, IDB_LOWER_MASK },
    };
    for (const auto& pr : pairs) {
        Dib image, mask;
        ASSERT_TRUE(LoadDib(pr.image, &image));
        ASSERT_TRUE(LoadDib(pr.mask, &mask));
        int printer = 0, bad = 0;
        for (int y = 0; y < 170; y++) {
            for (int x = 0; x < 170; x++) {
                DWORD m = mask.At(x, y);
                bool background = image.At(x, y) == 0;
                if (m != 0 && m != 0xFFFFFF)
                    bad++;                                   // masks are black and white only
                else if ((m == 0xFFFFFF) != background)
                    bad++;                                   // white exactly on the black background
                if (m == 0)
                    printer++;
                if (image.At(x, y) == kBlue)
                    bad++;                                   // blue is kept for the markers
            }
        }
        EXPECT_EQ(0, bad) << pr.image;
        EXPECT_GT(printer, 170 * 170 / 3) << "a printer fills a good part of picture " << pr.image;
        EXPECT_LT(printer, 170 * 170) << pr.image;
    }

    Dib lower, alt;
    ASSERT_TRUE(LoadDib(IDB_LOWER, &lower));
    ASSERT_TRUE(LoadDib(IDB_LOWER_ALT, &alt));
    EXPECT_EQ(lower.pixels, alt.pixels);
}

TEST(StatusArt, EveryMarkerLiesOnThePrinter)
{
    Dib upperMask, lowerMask;
    ASSERT_TRUE(LoadDib(IDB_UPPER_MASK, &upperMask));
    ASSERT_TRUE(LoadDib(IDB_LOWER_MASK, &lowerMask));
    int markers = 0;
    for (const auto& item : g_MsgItemTable) {
        if (item.nX <= 0 || item.nY <= 0)
            continue;
        markers++;
        const Dib& mask = (item.nPicture == 1 || item.nPicture == 3) ? lowerMask : upperMask;
        // The whole 8 by 8 dot sits on the printer, not on the background.
        for (int dy = 0; dy < 8; dy++)
            for (int dx = 0; dx < 8; dx++)
                EXPECT_EQ(0u, mask.At(item.nX + dx, item.nY + dy)) << "code " << item.nErrCode;
    }
    EXPECT_EQ(24, markers);
}

// ---------------------------------------------------------------------------------------------
// SM_DrawImage on a memory DC.

namespace {

class MemCanvas {
public:
    MemCanvas(int cx, int cy) : m_cx(cx), m_cy(cy)
    {
        BITMAPINFO bmi = {};
        bmi.bmiHeader.biSize = sizeof(bmi.bmiHeader);
        bmi.bmiHeader.biWidth = cx;
        bmi.bmiHeader.biHeight = -cy;
        bmi.bmiHeader.biPlanes = 1;
        bmi.bmiHeader.biBitCount = 32;
        bmi.bmiHeader.biCompression = BI_RGB;
        m_hdc = CreateCompatibleDC(NULL);
        m_hbm = CreateDIBSection(m_hdc, &bmi, DIB_RGB_COLORS, (void**)&m_bits, NULL, 0);
        m_hOld = SelectObject(m_hdc, m_hbm);
    }
    ~MemCanvas()
    {
        SelectObject(m_hdc, m_hOld);
        DeleteObject(m_hbm);
        DeleteDC(m_hdc);
    }
    HDC Dc() const { return m_hdc; }
    DWORD& Px(int x, int y) { GdiFlush(); return m_bits[(size_t)y * m_cx + x]; }
    void Fill(DWORD rgb)
    {
        GdiFlush();
        for (int i = 0; i < m_cx * m_cy; i++)
            m_bits[i] = rgb;
    }

private:
    int m_cx, m_cy;
    HDC m_hdc;
    HBITMAP m_hbm;
    HGDIOBJ m_hOld;
    DWORD* m_bits = nullptr;
};

}  // namespace

TEST(StatusDrawImage, MaskedPictureOnTheBackgroundAndMissingResources)
{
    g_hInst = GetModuleHandleW(NULL);
    Dib image, mask;
    ASSERT_TRUE(LoadDib(IDB_UPPER, &image));
    ASSERT_TRUE(LoadDib(IDB_UPPER_MASK, &mask));
    const DWORD back = 0x336699, ring = 0xC0FFEE;
    const int x0 = 20, y0 = 14, size = 170;

    enum { kBoth, kNoImage, kNoMask };
    for (int mode : { kBoth, kNoImage, kNoMask }) {
        MemCanvas c(220, 200);
        c.Fill(back);
        // A ring just outside the square must stay untouched.
        for (int i = -1; i <= size; i++) {
            c.Px(x0 + i, y0 - 1) = ring;
            c.Px(x0 + i, y0 + size) = ring;
            c.Px(x0 - 1, y0 + i) = ring;
            c.Px(x0 + size, y0 + i) = ring;
        }
        // Inside the square a colour that the drawing has to cover.
        for (int y = 0; y < size; y++)
            for (int x = 0; x < size; x++)
                c.Px(x0 + x, y0 + y) = 0x123456;

        UINT idImage = mode == kNoImage ? 9999 : IDB_UPPER;
        UINT idMask = mode == kNoMask ? 9998 : IDB_UPPER_MASK;
        SM_DrawImage(c.Dc(), x0, y0, idImage, idMask, SRCINVERT);

        int wrong = 0;
        for (int y = 0; y < size; y++) {
            for (int x = 0; x < size; x++) {
                DWORD expect;
                if (mode == kBoth)
                    expect = Composite(image, mask, x, y, back);
                else if (mode == kNoImage)
                    expect = mask.At(x, y) == 0xFFFFFF ? back : 0;   // background and silhouette
                else
                    expect = 0x123456;                              // nothing drawn at all
                if ((c.Px(x0 + x, y0 + y) & 0xFFFFFF) != expect)
                    wrong++;
            }
        }
        EXPECT_EQ(0, wrong) << "mode " << mode;
        int ringChanged = 0;
        for (int i = -1; i <= size; i++) {
            ringChanged += (c.Px(x0 + i, y0 - 1) != ring) + (c.Px(x0 + i, y0 + size) != ring)
                         + (c.Px(x0 - 1, y0 + i) != ring) + (c.Px(x0 + size, y0 + i) != ring);
        }
        EXPECT_EQ(0, ringChanged) << "mode " << mode;
    }
}

// ---------------------------------------------------------------------------------------------
// The dialog template.

TEST(StatusTemplate, DialogResourceExactBytes)
{
    HMODULE hMod = GetModuleHandleW(NULL);
    HRSRC hRes = FindResourceW(hMod, MAKEINTRESOURCEW(IDD_STATUS_DIALOG), (LPCWSTR)RT_DIALOG);
    ASSERT_NE(nullptr, hRes);
    const BYTE* base = (const BYTE*)LockResource(LoadResource(hMod, hRes));
    const DWORD cb = SizeofResource(hMod, hRes);
    ASSERT_NE(nullptr, base);
    const WORD* w = (const WORD*)base;
    auto dword = [](const WORD* p) { return (DWORD)p[0] | ((DWORD)p[1] << 16); };
    auto str = [](const WORD*& p) {
        std::wstring s;
        while (*p)
            s += (wchar_t)*p++;
        p++;
        return s;
    };

    ASSERT_NE(0xFFFF, w[1]) << "a classic template, not an extended one";
    EXPECT_EQ(0x90C000C0u, dword(w));
    EXPECT_EQ(0u, dword(w + 2));
    const WORD count = w[4];
    EXPECT_EQ(16, count);
    EXPECT_EQ(0, (short)w[5]);
    EXPECT_EQ(0, (short)w[6]);
    EXPECT_EQ(340, (short)w[7]);
    EXPECT_EQ(234, (short)w[8]);
    const WORD* p = w + 9;
    EXPECT_EQ(0, *p++) << "no menu";
    EXPECT_EQ(0, *p++) << "default class";
    EXPECT_EQ(L"MFP Status Monitor", str(p));
    EXPECT_EQ(10, *p++);
    EXPECT_EQ(L"Courier New", str(p));

    struct Ctl { WORD id; WORD cls; const wchar_t* text; int textId; DWORD style; short x, y, cx, cy; };
    const WORD kButton = 0x80, kStatic = 0x82;
    const Ctl expected[] = {
        { 1001, kStatic, L"", -1, 0x50020000, 10, 12, 100, 20 },
        { 1002, kStatic, L"", -1, 0x50020000, 10, 44, 100, 20 },
        { 1003, kStatic, L"", -1, 0x50020000, 10, 76, 100, 20 },
        { 1004, kStatic, L"", -1, 0x50020000, 10, 108, 100, 20 },
        { 1005, kStatic, L"", -1, 0x50020000, 10, 140, 100, 20 },
        { 1006, kStatic, L"", -1, 0x50020000, 10, 172, 100, 20 },
        { 1007, kStatic, L"", -1, 0x50020000, 230, 12, 100, 20 },
        { 1008, kStatic, L"", -1, 0x50020000, 230, 44, 100, 20 },
        { 1009, kStatic, L"", -1, 0x50020000, 230, 76, 100, 20 },
        { 1010, kStatic, L"", -1, 0x50020000, 230, 108, 100, 20 },
        { 1011, kStatic, L"", -1, 0x50020000, 230, 140, 100, 20 },
        { 1012, kStatic, L"", -1, 0x50020000, 230, 172, 100, 20 },
        { 1118, kButton, L"Status Message", -1, 0x50000007, 5, 0, 330, 229 },
        { 65535, kStatic, nullptr, IDB_LOGO, 0x5000000E, 10, 204, 80, 22 },
        { 1119, kButton, L"Continue", -1, 0x40010000, 230, 204, 45, 18 },
        { 1117, kButton, L"Delete", -1, 0x50010000, 285, 204, 45, 18 },
    };
    ASSERT_EQ(ARRAYSIZE(expected), (size_t)count);
    for (const Ctl& e : expected) {
        p = (const WORD*)(((ULONG_PTR)p + 3) & ~(ULONG_PTR)3);   // items are DWORD-aligned
        ASSERT_LT((const BYTE*)p + 18, base + cb);
        EXPECT_EQ(e.style, dword(p)) << e.id;
        EXPECT_EQ(0u, dword(p + 2)) << e.id;
        EXPECT_EQ(e.x, (short)p[4]) << e.id;
        EXPECT_EQ(e.y, (short)p[5]) << e.id;
        EXPECT_EQ(e.cx, (short)p[6]) << e.id;
        EXPECT_EQ(e.cy, (short)p[7]) << e.id;
        EXPECT_EQ(e.id, p[8]);
        p += 9;
        if (p[0] == 0xFFFF) {
            EXPECT_EQ(e.cls, p[1]) << e.id;
            p += 2;
        } else {
            // The class by name is as good as the predefined atom.
            std::wstring cls = str(p);
            EXPECT_EQ(0, _wcsicmp(cls.c_str(), e.cls == kButton ? L"Button" : L"Static")) << e.id;
        }
        if (e.text) {
            EXPECT_EQ(std::wstring(e.text), str(p)) << e.id;
        } else {
            EXPECT_EQ(0xFFFF, p[0]) << e.id;
            EXPECT_EQ(e.textId, p[1]) << e.id;
            p += 2;
        }
        EXPECT_EQ(0, *p++) << "no creation data " << e.id;
    }
}

// ---------------------------------------------------------------------------------------------
// The dialog, created in this process and captured from the screen.

namespace {

class StatusDialogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_hInst = GetModuleHandleW(NULL);
        g_OSVersion = MISC_GetOSVersion();
        m_dir = SmTempDir(L"statusdraw");
        std::wstring ini = m_dir + L"StatusMonitorV3.ini";
        static const BYTE bom[] = { 0xFF, 0xFE };
        ASSERT_TRUE(SmWriteFile(ini, bom, sizeof(bom)));
        StringCchCopyW(g_StatusIniPath, ARRAYSIZE(g_StatusIniPath), ini.c_str());
        StringCchCopyW(g_MsgIniPath, ARRAYSIZE(g_MsgIniPath), (m_dir + L"smen.ini").c_str());
        ZeroMemory(g_ShownErrCodes, sizeof(g_ShownErrCodes));
    }
    void TearDown() override
    {
        if (g_hStatusDlg)
            DestroyWindow(g_hStatusDlg);
        g_hStatusDlg = NULL;
        ZeroMemory(g_ShownErrCodes, sizeof(g_ShownErrCodes));
        SetActive({});
        TRACE_SETTINGS off;
        TRACE_GetDefaultSettings(&off);
        TRACE_Configure(&off);
    }

    static void Pump(DWORD ms)
    {
        DWORD start = GetTickCount();
        do {
            MSG msg;
            while (PeekMessageW(&msg, NULL, 0, 0, PM_REMOVE)) {
                if (g_hStatusDlg && IsDialogMessageW(g_hStatusDlg, &msg))
                    continue;
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
            Sleep(5);
        } while (GetTickCount() - start < ms);
    }

    bool Show(const std::vector<LONG>& codes)
    {
        LONG list[SM_MAX_ERRCODES] = {};
        for (size_t i = 0; i < codes.size() && i < SM_MAX_ERRCODES; i++)
            list[i] = codes[i];
        if (SM_ShowPrinterStatus(NULL, list, (int)codes.size()) != 1)
            return false;
        Pump(60);
        return g_hStatusDlg != NULL;
    }

    struct Geometry { int xPicture, yUpper, yLower; };
    static Geometry Geo()
    {
        RECT rc;
        GetClientRect(g_hStatusDlg, &rc);
        int half = rc.bottom / 2;
        Geometry g;
        g.xPicture = (rc.right - 170) / 2;
        g.yUpper = (half - 170) / 2;
        g.yLower = half + g.yUpper;
        return g;
    }
    static RECT SlotRect(int id)
    {
        RECT rc = {};
        GetWindowRect(GetDlgItem(g_hStatusDlg, id), &rc);
        MapWindowPoints(NULL, g_hStatusDlg, (POINT*)&rc, 2);
        return rc;
    }
    static SmImage Capture()
    {
        SmImage img;
        EXPECT_TRUE(SmCaptureClient(g_hStatusDlg, &img));
        return img;
    }
    static int BlueIn(const SmImage& img, int x0, int y0, int x1, int y1)
    {
        int n = 0;
        for (int y = y0; y < y1; y++)
            for (int x = x0; x < x1; x++)
                n += img.At(x, y) == kBlue;
        return n;
    }
    // Pixels of a picture square that differ from the picture drawn on the face colour.
    static int PictureMismatches(const SmImage& img, int x0, int y0, UINT idImage, UINT idMask)
    {
        Dib image, mask;
        if (!LoadDib(idImage, &image) || !LoadDib(idMask, &mask))
            return -1;
        DWORD face = GetSysColor(COLOR_BTNFACE);
        DWORD back = ((face & 0xFF) << 16) | (face & 0xFF00) | ((face >> 16) & 0xFF);
        int n = 0;
        for (int y = 0; y < 170; y++)
            for (int x = 0; x < 170; x++)
                n += img.At(x0 + x, y0 + y) != Composite(image, mask, x, y, back);
        return n;
    }
    // The blue frame: a 2-pixel ring around the slot.
    static void ExpectFrame(const SmImage& img, int id)
    {
        RECT rc = SlotRect(id);
        int ym = (rc.top + rc.bottom) / 2, xm = (rc.left + rc.right) / 2;
        for (int d = 1; d <= 2; d++) {
            EXPECT_EQ(kBlue, img.At(rc.left - d, ym)) << id;
            EXPECT_EQ(kBlue, img.At(rc.right - 1 + d, ym)) << id;
            EXPECT_EQ(kBlue, img.At(xm, rc.top - d)) << id;
            EXPECT_EQ(kBlue, img.At(xm, rc.bottom - 1 + d)) << id;
        }
        EXPECT_NE(kBlue, img.At(rc.left - 3, ym)) << id;
        EXPECT_NE(kBlue, img.At(xm, rc.top + 2)) << "inside the slot is the control's own " << id;
    }
    // The dot centred on the item's marker and the leader line's corner at the picture's edge.
    static void ExpectMarker(const SmImage& img, int pos, bool left)
    {
        const MsgItem& item = g_MsgItemTable[pos];
        Geometry g = Geo();
        int yBase = (item.nPicture == 1 || item.nPicture == 3) ? g.yLower : g.yUpper;
        int cx = g.xPicture + item.nX + 4, cy = yBase + item.nY + 4;
        for (int d = -2; d <= 2; d++) {
            EXPECT_EQ(kBlue, img.At(cx + d, cy)) << "dot of code " << item.nErrCode;
            EXPECT_EQ(kBlue, img.At(cx, cy + d)) << "dot of code " << item.nErrCode;
        }
        EXPECT_NE(kBlue, img.At(cx, cy - 6)) << "the dot is 8 pixels tall";
        EXPECT_NE(kBlue, img.At(cx, cy + 6)) << "the dot is 8 pixels tall";
        int xEdge = left ? g.xPicture : g.xPicture + 170;
        EXPECT_EQ(kBlue, img.At(xEdge, cy)) << "corner of code " << item.nErrCode;
        // The horizontal leg between the edge and the dot.
        int xMid = (xEdge + cx) / 2;
        EXPECT_EQ(kBlue, img.At(xMid, cy)) << "leg of code " << item.nErrCode;
        EXPECT_NE(kBlue, img.At(xMid, cy - 2)) << "leg of code " << item.nErrCode;
    }

    std::wstring m_dir;
};

}  // namespace

TEST_F(StatusDialogTest, FramesLinesAndDotsWhereTheItemsSay)
{
    // Code 6 (x 119) goes right, code 5 (x 92) left.
    ASSERT_TRUE(Show({ 6, 5 }));
    SmImage img = Capture();
    ExpectFrame(img, 1001);
    ExpectFrame(img, 1007);
    ExpectMarker(img, PosOf(5), true);
    ExpectMarker(img, PosOf(6), false);
    EXPECT_EQ(0, BlueIn(img, SlotRect(1002).left - 2, SlotRect(1002).top - 2,
                        SlotRect(1002).right + 2, SlotRect(1002).bottom + 2)) << "unused slot";

    // A lower-picture item on the left.
    ASSERT_TRUE(Show({ 265 }));
    img = Capture();
    ExpectFrame(img, 1001);
    ExpectFrame(img, 1007);
    ExpectMarker(img, PosOf(265, 1), true);
    ExpectMarker(img, PosOf(265, 0), false);
}

TEST_F(StatusDialogTest, ItemsWithoutMarkersDrawNoBlueOnThePictures)
{
    // First a list whose lines run down to the lower picture from both columns; nothing of
    // them may stay behind when the next list is shown.
    ASSERT_TRUE(Show({ 262, 257 }));
    ExpectMarker(Capture(), PosOf(262), false);
    ASSERT_TRUE(Show({ 33, 7 }));
    SmImage img = Capture();
    Geometry g = Geo();
    ExpectFrame(img, 1001);
    ExpectFrame(img, 1007);
    // Nothing blue between the columns: no lines, no dots.
    RECT l = SlotRect(1001), r = SlotRect(1007);
    EXPECT_EQ(0, BlueIn(img, l.right + 3, 0, r.left - 3, img.height));
    EXPECT_EQ(0, PictureMismatches(img, g.xPicture, g.yUpper, IDB_UPPER, IDB_UPPER_MASK));
    EXPECT_EQ(0, PictureMismatches(img, g.xPicture, g.yLower, IDB_LOWER, IDB_LOWER_MASK));

    // Codes without items: both pictures, no frames at all.
    ASSERT_TRUE(Show({ 130 }));
    img = Capture();
    EXPECT_EQ(0, BlueIn(img, 0, 0, img.width, img.height));
    EXPECT_EQ(0, PictureMismatches(img, g.xPicture, g.yUpper, IDB_UPPER, IDB_UPPER_MASK));
    EXPECT_EQ(0, PictureMismatches(img, g.xPicture, g.yLower, IDB_LOWER, IDB_LOWER_MASK));
}

TEST_F(StatusDialogTest, PicturesComeBackAfterTheDialogIsRepainted)
{
    ASSERT_TRUE(Show({ 5, 33 }));
    Geometry g = Geo();

    // Cover the dialog with another window, take it away again, and have the whole dialog
    // invalidated and erased as an uncovered window is.
    RECT rc;
    GetWindowRect(g_hStatusDlg, &rc);
    HWND hCover = CreateWindowExW(WS_EX_TOPMOST, L"Static", L"", WS_POPUP | WS_VISIBLE | SS_BLACKRECT,
                                  rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top,
                                  NULL, NULL, NULL, NULL);
    ASSERT_NE(nullptr, hCover);
    Pump(50);
    DestroyWindow(hCover);
    RedrawWindow(g_hStatusDlg, NULL, NULL, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN);
    Pump(80);

    SmImage img = Capture();
    EXPECT_EQ(0, PictureMismatches(img, g.xPicture, g.yLower, IDB_LOWER, IDB_LOWER_MASK));
    ExpectFrame(img, 1001);
    ExpectFrame(img, 1007);
    ExpectMarker(img, PosOf(5), false);     // code 33 (x 0) takes the left column
    // The slots' own texts are painted too, inside the frames.
    RECT rcText = SlotRect(1001);
    int dark = 0;
    for (int y = rcText.top; y < rcText.bottom; y++)
        for (int x = rcText.left; x < rcText.right; x++)
            dark += (img.At(x, y) & 0xFF) < 0x60 && ((img.At(x, y) >> 8) & 0xFF) < 0x60;
    EXPECT_GT(dark, 20) << "the text of slot 1001";

    // A partial repaint that leaves (1, 1) outside the update region draws the same.
    RECT part = { g.xPicture - 40, g.yUpper + 20, g.xPicture + 200, g.yUpper + 150 };
    RedrawWindow(g_hStatusDlg, &part, NULL, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
    Pump(80);
    img = Capture();
    EXPECT_EQ(0, BlueIn(img, g.xPicture, g.yLower, g.xPicture + 170, g.yLower + 170));
    ExpectMarker(img, PosOf(5), false);
    RECT r = SlotRect(1007);
    EXPECT_EQ(kBlue, img.At(r.left - 1, (r.top + r.bottom) / 2));
}

TEST_F(StatusDialogTest, AlternativeLowerPictureOnlyForLowerPictureItems)
{
    // The alternative picture has the lower picture's content, so it is told apart by the
    // drawing calls the trace records.
    std::wstring log = m_dir + L"trace.log";
    TRACE_SETTINGS s;
    TRACE_GetDefaultSettings(&s);
    s.threshold = TRACE_LEVEL_INFO;
    s.activeChannel = 1;
    s.channelSwitch[0] = 1;
    s.fileOutput = 1;
    StringCchCopyW(s.logPath, ARRAYSIZE(s.logPath), log.c_str());

    const struct { std::vector<LONG> codes; int draws; } cases[] = {
        { { 257 }, 3 },          // picture 1
        { { 5, 262 }, 3 },       // picture 1 among others
        { { 265 }, 2 },          // pictures 0 and 3
        { { 278 }, 2 },          // picture 2
        { { 5 }, 2 },
    };
    for (const auto& c : cases) {
        DeleteFileW(log.c_str());
        TRACE_Configure(&s);
        ZeroMemory(g_ShownErrCodes, sizeof(g_ShownErrCodes));
        LONG list[SM_MAX_ERRCODES] = {};
        for (size_t i = 0; i < c.codes.size(); i++)
            list[i] = c.codes[i];
        ASSERT_EQ(1, SM_ShowPrinterStatus(NULL, list, (int)c.codes.size()));
        TRACE_SETTINGS off;
        TRACE_GetDefaultSettings(&off);
        TRACE_Configure(&off);
        std::vector<BYTE> data = SmReadFile(log);
        std::string text(data.begin(), data.end());
        int draws = 0;
        for (size_t at = text.find("SM_DrawImage in"); at != std::string::npos;
             at = text.find("SM_DrawImage in", at + 1))
            draws++;
        EXPECT_EQ(c.draws, draws) << "first code " << c.codes[0];
    }
    Pump(60);
    SmImage img = Capture();
    Geometry g = Geo();
    EXPECT_EQ(0, PictureMismatches(img, g.xPicture, g.yLower, IDB_LOWER, IDB_LOWER_MASK));
}

TEST_F(StatusDialogTest, NineXClassSystemsSetAnsiTextsInTheMessageCodePage)
{
    const WORD osNT = g_OSVersion;
    g_OSVersion = MISC_OS_WIN98;
    const struct { UINT codePage; const wchar_t* expect; } cases[] = {
        { 0, L"Front cover open." },
        { 1252, L"Front cover open." },
        { 12345, L"" },                     // no such code page: the slot stays empty
    };
    for (const auto& c : cases) {
        g_CodePage = c.codePage;
        ZeroMemory(g_ShownErrCodes, sizeof(g_ShownErrCodes));
        ASSERT_TRUE(Show({ 5 }));
        WCHAR text[64] = L"sentinel";
        GetDlgItemTextW(g_hStatusDlg, 1001, text, ARRAYSIZE(text));
        EXPECT_STREQ(c.expect, text) << c.codePage;
    }
    g_CodePage = 0;
    g_OSVersion = osNT;
}

namespace {

// Free slots of this process's GDI handle table: create brushes until creation fails.
int FreeGdiSlots()
{
    std::vector<HBRUSH> brushes;
    brushes.reserve(70000);
    for (;;) {
        HBRUSH h = CreateSolidBrush(RGB(1, 2, 3));
        if (!h || brushes.size() >= 200000)
            break;
        brushes.push_back(h);
    }
    for (HBRUSH h : brushes)
        DeleteObject(h);
    return (int)brushes.size();
}

// Committed private memory of this process, summed over its address space (Wine reports no
// private byte count through the process memory counters).
SIZE_T PrivateBytes()
{
    SIZE_T total = 0;
    MEMORY_BASIC_INFORMATION mbi;
    for (BYTE* p = NULL; VirtualQuery(p, &mbi, sizeof(mbi)) == sizeof(mbi);
         p = (BYTE*)mbi.BaseAddress + mbi.RegionSize) {
        if (mbi.State == MEM_COMMIT && mbi.Type == MEM_PRIVATE)
            total += mbi.RegionSize;
        if ((BYTE*)mbi.BaseAddress + mbi.RegionSize <= p)
            break;
    }
    return total;
}

}  // namespace

TEST_F(StatusDialogTest, NoGdiHandleOrMemoryLeft)
{
    const std::vector<std::vector<LONG>> lists = {
        { 5 }, { 6, 257 }, { 265, 33 }, { 35, 1, 2, 3, 4, 5, 6, 7, 32, 33, 34, 48, 80 },
        { 130 }, { 277, 278, 279 }, { 262, 263, 264, 266 },
    };
    auto updates = [&](int count) {
        for (int i = 0; i < count; i++) {
            const auto& codes = lists[i % lists.size()];
            LONG list[SM_MAX_ERRCODES] = {};
            for (size_t k = 0; k < codes.size(); k++)
                list[k] = codes[k];
            ASSERT_EQ(1, SM_ShowPrinterStatus(NULL, list, (int)codes.size())) << i;
            if (i % 10 == 0)
                Pump(0);
        }
    };
    auto reopen = [&](int count) {
        for (int i = 0; i < count; i++) {
            ASSERT_TRUE(g_hStatusDlg);
            SendMessageW(g_hStatusDlg, WM_CLOSE, 0, 0);
            ASSERT_EQ(nullptr, g_hStatusDlg);
            ZeroMemory(g_ShownErrCodes, sizeof(g_ShownErrCodes));
            updates(1);
            ASSERT_TRUE(g_hStatusDlg);
        }
    };

    // Warm up every path: the first dialog, fonts and the window DCs that the system caches
    // (their number grows once when many controls repaint together) are taken here.
    updates(3 * (int)lists.size());
    reopen(2);
    DestroyWindow(g_hStatusDlg);
    Pump(20);

    int freeBefore = FreeGdiSlots();
    SIZE_T memBefore = PrivateBytes();
    ASSERT_GT(freeBefore, 1000);
    ASSERT_GT(memBefore, (SIZE_T)0) << "private bytes are reported";

    updates(500);
    reopen(50);
    DestroyWindow(g_hStatusDlg);
    Pump(20);

    EXPECT_EQ(freeBefore, FreeGdiSlots());
    SIZE_T memAfter = PrivateBytes();
    EXPECT_LT(memAfter, memBefore + 1024 * 1024)
        << "private bytes before " << memBefore << ", after " << memAfter;
}
