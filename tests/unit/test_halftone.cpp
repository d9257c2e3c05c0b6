// Halftone tables: every figure of the engine's table recomputed from the built-in data,
// selection by type, and the screen pattern and screening built on them.
#include <gtest/gtest.h>
#include "bitmap/bitmap.h"
#include <math.h>
#include <string.h>
#include <vector>

static const BYTE c_Levels[5] = { 30, 54, 84, 114, 150 };

struct TableFigures {
    UINT32 type;
    const wchar_t* name;
    UINT32 size;
    int vmin, vmax;
    double percent[5];
    BYTE row0[16];
};

static const TableFigures c_Figures[] = {
    { 1, L"FINE_TAry_128", 128, 0, 254, { 12.0, 21.5, 33.3, 45.1, 59.3 },
      { 67, 51, 59, 114, 190, 206, 198, 143, 64, 48, 56, 111, 187, 203, 195, 140 } },
    { 2, L"LSU_106_K60", 64, 0, 255, { 16.5, 23.9, 32.5, 40.0, 50.2 },
      { 1, 8, 90, 248, 253, 249, 199, 14, 1, 7, 88, 248, 253, 249, 200, 17 } },
    { 3, L"Nimsa2_212", 64, 0, 255, { 23.5, 34.1, 45.5, 56.9, 67.5 },
      { 7, 49, 254, 153, 13, 62, 245, 134, 8, 51, 252, 150, 11, 59, 248, 138 } },
    { 4, L"Vorel_212", 64, 0, 255, { 25.9, 32.5, 38.8, 45.1, 53.7 },
      { 0, 52, 246, 201, 3, 75, 240, 186, 1, 56, 245, 200, 2, 69, 241, 190 } },
    { 5, L"Vorel_106", 64, 1, 255, { 12.2, 21.6, 33.3, 45.1, 59.2 },
      { 6, 22, 86, 224, 248, 232, 168, 29, 5, 21, 85, 225, 249, 233, 169, 31 } },
    { 6, L"Vorel_1200_160", 64, 1, 255, { 12.2, 18.0, 23.5, 29.0, 35.7 },
      { 1, 7, 54, 239, 255, 255, 255, 253, 227, 50, 5, 1, 28, 151, 250, 255 } },
    { 7, L"QX3_A4_1200_106LPI", 64, 1, 255, { 12.2, 21.6, 33.3, 45.1, 59.2 },
      { 1, 2, 20, 52, 100, 200, 232, 246, 254, 252, 234, 202, 154, 53, 22, 8 } },
    { 8, L"A4_LSU_600_212LPI", 64, 0, 255, { 27.5, 31.4, 35.7, 40.0, 45.5 },
      { 0, 58, 255, 231, 0, 95, 251, 221, 0, 63, 254, 230, 0, 86, 252, 224 } },
    { 0, L"FINE_TAry_16", 16, 1, 254, { 21.1, 28.1, 36.7, 46.1, 57.8 },
      { 6, 82, 233, 254, 251, 226, 70, 5, 7, 85, 235, 254, 252, 228, 73, 5 } },
};

static double RoundedShare(const BYTE* t, UINT32 n, BYTE level)
{
    size_t count = 0;
    for (UINT32 i = 0; i < n; i++)
        count += t[i] <= level;
    return floor(count * 1000.0 / n + 0.5) / 10.0;
}

TEST(Halftone, EveryTableMatchesItsFigures)
{
    for (const TableFigures& f : c_Figures) {
        UINT32 w = 0, h = 0;
        BYTE* t = NULL;
        MISC_GetHalftoneTable(f.type, &w, &h, &t);
        ASSERT_NE(nullptr, t);
        EXPECT_STREQ(f.name, MISC_HalftoneTableInfo(f.type)->pszName);
        EXPECT_EQ(f.size, w);
        EXPECT_EQ(f.size, h);
        EXPECT_EQ(0u, w % 8);
        int vmin = 255, vmax = 0;
        for (UINT32 i = 0; i < w * h; i++) {
            vmin = t[i] < vmin ? t[i] : vmin;
            vmax = t[i] > vmax ? t[i] : vmax;
        }
        EXPECT_EQ(f.vmin, vmin) << f.type;
        EXPECT_EQ(f.vmax, vmax) << f.type;
        for (int k = 0; k < 5; k++)
            EXPECT_DOUBLE_EQ(f.percent[k], RoundedShare(t, w * h, c_Levels[k])) << f.type << " level " << (int)c_Levels[k];
        EXPECT_EQ(0, memcmp(t, f.row0, 16)) << f.type;
        MISC_FreeHalftoneTable(t);
    }
}

TEST(Halftone, DefaultTableIsTheFortyFiveDegreeScreen)
{
    const HALFTONE_TABLE_INFO* d = MISC_HalftoneTableInfo(0);
    // Row 3 in full, and the repeat under a shift of 8 columns and 8 rows together.
    static const BYTE c_Row3[16] = { 243, 180, 18, 3, 1, 13, 172, 238, 244, 182, 19, 3, 1, 12, 170, 237 };
    EXPECT_EQ(0, memcmp(d->pTable + 3 * 16, c_Row3, 16));
    for (int y = 0; y < 16; y++)
        for (int x = 0; x < 16; x++)
            EXPECT_EQ(d->pTable[y * 16 + x], d->pTable[((y + 8) % 16) * 16 + (x + 8) % 16]) << x << "," << y;
    EXPECT_EQ(2, d->pTable[15 * 16 + 15]);
}

TEST(Halftone, WideTableQuadrantsAgreeWithinOne)
{
    const BYTE* t = MISC_HalftoneTableInfo(1)->pTable;
    for (int q = 1; q < 4; q++) {
        int qx = (q % 2) * 64, qy = (q / 2) * 64;
        for (int y = 0; y < 64; y++)
            for (int x = 0; x < 64; x++)
                ASSERT_LE(abs(t[y * 128 + x] - t[(qy + y) * 128 + qx + x]), 1) << q << ": " << x << "," << y;
    }
}

// Clustered dots: at the low levels almost every black cell touches another black cell
// (a dispersed screen would leave most of them alone).
TEST(Halftone, ScreensAreClustered)
{
    for (const TableFigures& f : c_Figures) {
        const HALFTONE_TABLE_INFO* info = MISC_HalftoneTableInfo(f.type);
        int n = (int)info->nSize;
        const BYTE* t = info->pTable;
        for (BYTE level : { (BYTE)30, (BYTE)54 }) {
            int black = 0, touching = 0;
            for (int y = 0; y < n; y++)
                for (int x = 0; x < n; x++) {
                    if (t[y * n + x] > level)
                        continue;
                    black++;
                    auto at = [&](int xx, int yy) { return t[((yy + n) % n) * n + (xx + n) % n] <= level; };
                    touching += at(x - 1, y) || at(x + 1, y) || at(x, y - 1) || at(x, y + 1);
                }
            EXPECT_GT(touching, black * 9 / 10) << f.type << " level " << (int)level;
        }
    }
}

TEST(Halftone, SelectionAndIndependentCopies)
{
    for (UINT32 type : { 0u, 9u, 100u, 0xFFFFFFFFu }) {
        UINT32 w = 1, h = 1;
        BYTE* t = NULL;
        MISC_GetHalftoneTable(type, &w, &h, &t);
        ASSERT_NE(nullptr, t);
        EXPECT_EQ(16u, w);
        EXPECT_EQ(16u, h);
        EXPECT_EQ(0, memcmp(t, MISC_HalftoneTableInfo(0)->pTable, 256)) << type;
        memset(t, 0, 256);              // changing the copy ...
        MISC_FreeHalftoneTable(t);
    }
    UINT32 w, h;
    BYTE* t = NULL;
    MISC_GetHalftoneTable(0, &w, &h, &t);
    EXPECT_EQ(6, t[0]);                 // ... does not change a later one
    MISC_FreeHalftoneTable(t);
}

TEST(Halftone, DensityLevels)
{
    static const struct { WORD density; BYTE level; } cases[] = {
        { 20, 30 }, { 39, 30 }, { 40, 54 }, { 59, 54 }, { 60, 84 }, { 79, 84 }, { 80, 114 },
        { 99, 114 }, { 100, 150 },
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.level, WM_DensityLevel(c.density)) << c.density;
}

// Bit k of pattern byte b holds column 8b + k: each group of eight columns lands mirrored.
TEST(Halftone, PatternBitsAreMirroredAndIncludeTheLevel)
{
    std::vector<BYTE> table(16 * 16, 200);
    table[0] = 54;            // column 0 -> bit 0 (rightmost pixel of the byte)
    table[7] = 55;            // one above the level: white
    table[9] = 10;            // column 9 -> byte 1, bit 1
    table[16 + 7] = 0;        // row 1, column 7 -> bit 7
    static BYTE pattern[WM_PATTERN_DIM][WM_PATTERN_DIM];
    memset(pattern, 0xEE, sizeof(pattern));
    WM_BuildScreenPattern(table.data(), 16, 16, 54, pattern);
    EXPECT_EQ(0x01, pattern[0][0]);
    EXPECT_EQ(0x02, pattern[0][1]);
    EXPECT_EQ(0x80, pattern[1][0]);
    EXPECT_EQ(0x00, pattern[1][1]);
    EXPECT_EQ(0x00, pattern[0][2]);      // the unused part is zero
    EXPECT_EQ(0x00, pattern[16][0]);
}

// The straightforward loop the screening must agree with.
static void ScreenBytewise(BYTE* bits, int stride, int rows, const BYTE pattern[WM_PATTERN_DIM][WM_PATTERN_DIM],
                           UINT32 w, UINT32 h)
{
    for (int y = 0; y < rows; y++)
        for (int x = 0; x < stride; x++) {
            BYTE c = bits[y * stride + x];
            if (c == 0xFF)
                continue;
            BYTE p = pattern[y % h][x % (w / 8)];
            bits[y * stride + x] = (BYTE)~(p & (BYTE)~c);
        }
}

TEST(Halftone, WordScreeningEqualsTheByteLoop)
{
    static BYTE pattern[WM_PATTERN_DIM][WM_PATTERN_DIM];
    unsigned seed = 12345;
    for (UINT32 type = 0; type <= 8; type++) {
        const HALFTONE_TABLE_INFO* info = MISC_HalftoneTableInfo(type);
        for (int stride : { 4, 12, 20, 624 }) {
            int rows = 150;
            std::vector<BYTE> a((size_t)stride * rows);
            for (auto& b : a) {
                seed = seed * 1103515245 + 12345;
                int r = (seed >> 16) % 4;
                b = r == 0 ? 0xFF : r == 1 ? 0x00 : (BYTE)(seed >> 8);
            }
            std::vector<BYTE> b = a;
            WM_BuildScreenPattern(info->pTable, info->nSize, info->nSize, 84, pattern);
            WM_ScreenRows(a.data(), stride, rows, pattern, info->nSize, info->nSize);
            ScreenBytewise(b.data(), stride, rows, pattern, info->nSize, info->nSize);
            ASSERT_EQ(a, b) << "type " << type << " stride " << stride;
        }
    }
}

// A solid black area keeps the table's share of black pixels at each level, counted from
// the bottom row.
TEST(Halftone, SolidAreaKeepsTheTableShare)
{
    static BYTE pattern[WM_PATTERN_DIM][WM_PATTERN_DIM];
    for (const TableFigures& f : c_Figures) {
        const HALFTONE_TABLE_INFO* info = MISC_HalftoneTableInfo(f.type);
        int stride = 128, rows = 256;        // whole repeats of every table
        for (int k = 0; k < 5; k++) {
            std::vector<BYTE> bits((size_t)stride * rows, 0x00);
            WM_BuildScreenPattern(info->pTable, info->nSize, info->nSize, c_Levels[k], pattern);
            WM_ScreenRows(bits.data(), stride, rows, pattern, info->nSize, info->nSize);
            size_t black = 0;
            for (BYTE b : bits)
                for (int i = 0; i < 8; i++)
                    black += !(b & (1 << i));
            double share = floor(black * 1000.0 / (bits.size() * 8) + 0.5) / 10.0;
            EXPECT_DOUBLE_EQ(f.percent[k], share) << f.type << " level " << (int)c_Levels[k];
            // Row 0 of the buffer is table row 0, mirrored within each byte.
            for (int x = 0; x < 8; x++) {
                bool black0 = !(bits[0] & (0x80 >> x));
                EXPECT_EQ(info->pTable[7 - x] <= c_Levels[k], black0) << f.type << " pixel " << x;
            }
        }
    }
}
