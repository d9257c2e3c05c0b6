// Bitmap file writer: row sizes, headers and colour tables for every depth, band writes,
// refused depths, sizes and paths.
#include <gtest/gtest.h>
#include "bitmap/bitmap.h"
#include "smtest.h"
#include <string.h>
#include <vector>

static DWORD U32(const std::vector<BYTE>& f, size_t at) { DWORD v; memcpy(&v, &f[at], 4); return v; }
static WORD U16(const std::vector<BYTE>& f, size_t at) { WORD v; memcpy(&v, &f[at], 2); return v; }

TEST(BmpFile, RowBytesByDepth)
{
    static const struct { int bpp, width; WORD row; } cases[] = {
        { 1, 1, 4 }, { 1, 32, 4 }, { 1, 33, 8 }, { 1, 100, 16 }, { 1, 4961, 624 }, { 1, 0, 0 },
        { 4, 1, 4 }, { 4, 8, 4 }, { 4, 9, 8 }, { 4, 100, 52 },
        { 8, 1, 4 }, { 8, 4, 4 }, { 8, 5, 8 }, { 8, 4961, 4964 },
        { 16, 1, 4 }, { 16, 2, 4 }, { 16, 3, 8 }, { 16, 4961, 9924 },
        { 24, 1, 4 }, { 24, 4, 12 }, { 24, 5, 16 }, { 24, 4961, 14884 },
        { 32, 3, 12 },
        { 2, 100, 0 }, { 0, 100, 0 }, { 15, 100, 0 },
        // The row size is a 16-bit quantity.
        { 24, 30000, (WORD)(90000 & 0xFFFF) }, { 1, 524288, 0 }, { 1, 524256, 65532 },
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.row, iBitmap_GetRowBytes(c.bpp, c.width)) << c.bpp << " bpp, width " << c.width;
}

TEST(BmpFile, RowsPerWriteSplitsIntoBands)
{
    EXPECT_EQ(7016u, iBitmap_RowsPerWrite(624, 7016));
    EXPECT_EQ(10338u, iBitmap_RowsPerWrite(624, 10338));
    EXPECT_EQ(10338u, iBitmap_RowsPerWrite(624, 10339));
    EXPECT_EQ(10338u, iBitmap_RowsPerWrite(624, 20676));
    EXPECT_EQ(98u, iBitmap_RowsPerWrite(65532, 500));
    EXPECT_EQ(0u, iBitmap_RowsPerWrite(624, 0));
}

// Writes a w x h image of the depth whose bytes are a known pattern and checks every header
// field, the colour table and the pixel rows of the file.
static void CheckWrittenFile(int bpp, int dpi, int w, int h, DWORD offBits, LONG pelsPerMeter)
{
    std::wstring path = SmTempDir(L"bmpfile_depth") + L"img.bmp";
    WORD row = iBitmap_GetRowBytes(bpp, w);
    std::vector<BYTE> bits((size_t)row * h);
    for (size_t i = 0; i < bits.size(); i++)
        bits[i] = (BYTE)(i * 7 + 3);
    iBitmap bmp;
    ASSERT_EQ(1, bmp.iBitmap_CreateBMP(path.c_str(), bpp, dpi, w, h, bits.data())) << bpp;
    std::vector<BYTE> f = SmReadFile(path);
    ASSERT_EQ((size_t)offBits + bits.size(), f.size()) << bpp;
    EXPECT_EQ('B', f[0]);
    EXPECT_EQ('M', f[1]);
    EXPECT_EQ(f.size(), U32(f, 2));
    EXPECT_EQ(0u, U32(f, 6));
    EXPECT_EQ(offBits, U32(f, 10));
    EXPECT_EQ(40u, U32(f, 14));
    EXPECT_EQ((DWORD)w, U32(f, 18));
    EXPECT_EQ((DWORD)h, U32(f, 22));
    EXPECT_EQ(1, U16(f, 26));
    EXPECT_EQ(bpp, U16(f, 28));
    EXPECT_EQ(0u, U32(f, 30));
    EXPECT_EQ(bits.size(), U32(f, 34));
    EXPECT_EQ((DWORD)pelsPerMeter, U32(f, 38));
    EXPECT_EQ((DWORD)pelsPerMeter, U32(f, 42));
    DWORD entries = (offBits - 54) / 4;
    EXPECT_EQ(entries, U32(f, 46));
    EXPECT_EQ(entries, U32(f, 50));
    for (DWORD i = 0; i < entries; i++) {
        BYTE g;
        if (bpp == 1) g = i ? 255 : 0;
        else if (bpp == 4) g = (BYTE)(i == 15 ? 255 : 16 * i);
        else g = (BYTE)i;
        const BYTE* e = &f[54 + 4 * i];
        EXPECT_TRUE(e[0] == g && e[1] == g && e[2] == g && e[3] == 0) << bpp << " entry " << i;
    }
    EXPECT_EQ(0, memcmp(&f[offBits], bits.data(), bits.size())) << bpp;
}

TEST(BmpFile, HeadersAndColourTablesForEveryDepth)
{
    CheckWrittenFile(1, 600, 100, 3, 62, 23622);
    CheckWrittenFile(1, 300, 33, 5, 62, 11811);
    CheckWrittenFile(4, 600, 9, 4, 54 + 64, 23622);
    CheckWrittenFile(8, 600, 5, 2, 1078, 23622);
    CheckWrittenFile(16, 96, 3, 3, 54, 3779);
    CheckWrittenFile(24, 600, 5, 7, 54, 23622);
}

TEST(BmpFile, TallPageGoesOutInTwoBandsWithEveryRowInPlace)
{
    const int w = 4961, h = 10339;
    std::wstring path = SmTempDir(L"bmpfile_band") + L"tall.bmp";
    std::vector<BYTE> bits((size_t)624 * h);
    for (int y = 0; y < h; y++)
        memset(&bits[(size_t)y * 624], (BYTE)(y * 13), 624);
    iBitmap bmp;
    ASSERT_EQ(1, bmp.iBitmap_CreateBMP(path.c_str(), 1, 600, w, h, bits.data()));
    std::vector<BYTE> f = SmReadFile(path);
    ASSERT_EQ(62 + bits.size(), f.size());
    EXPECT_EQ(0, memcmp(&f[62], bits.data(), bits.size()));
}

TEST(BmpFile, SmallerImageOverALargerFileLeavesOnlyTheNewFile)
{
    std::wstring path = SmTempDir(L"bmpfile_over") + L"over.bmp";
    std::vector<BYTE> big((size_t)64 * 500, 0xA5), small((size_t)8 * 3, 0x3C);
    iBitmap bmp;
    ASSERT_EQ(1, bmp.iBitmap_CreateBMP(path.c_str(), 1, 600, 500, 64, big.data()));
    ASSERT_EQ(1, bmp.iBitmap_CreateBMP(path.c_str(), 1, 600, 40, 3, small.data()));
    std::vector<BYTE> f = SmReadFile(path);
    ASSERT_EQ(62 + small.size(), f.size());
    EXPECT_EQ(f.size(), U32(f, 2));
    EXPECT_EQ(0, memcmp(&f[62], small.data(), small.size()));
}

TEST(BmpFile, RefusedDepthLeavesAnExistingFileUntouched)
{
    std::wstring path = SmTempDir(L"bmpfile_depthbad") + L"keep.bmp";
    static const char c_Old[] = "old contents";
    ASSERT_TRUE(SmWriteFile(path, c_Old, sizeof(c_Old)));
    BYTE bits[64] = {};
    iBitmap bmp;
    for (int bpp : { 0, 2, 32, 7 }) {
        EXPECT_EQ(-3, bmp.iBitmap_CreateBMP(path.c_str(), bpp, 600, 4, 4, bits)) << bpp;
        std::vector<BYTE> f = SmReadFile(path);
        ASSERT_EQ(sizeof(c_Old), f.size());
        EXPECT_EQ(0, memcmp(f.data(), c_Old, sizeof(c_Old)));
    }
}

TEST(BmpFile, SizesOutsideTheHeaderAreRefusedWithoutAFile)
{
    std::wstring dir = SmTempDir(L"bmpfile_size");
    BYTE bits[64] = {};
    static const struct { int bpp, w, h; } cases[] = { { 1, 0, 4 }, { 1, 4, 0 }, { 1, -8, 4 }, { 1, 4, -1 }, { 1, 524288, 1 } };
    iBitmap bmp;
    for (const auto& c : cases) {
        std::wstring path = dir + L"size.bmp";
        EXPECT_EQ(-7, bmp.iBitmap_CreateBMP(path.c_str(), c.bpp, 600, c.w, c.h, bits)) << c.w << "x" << c.h;
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(path.c_str()));
    }
}

// The 32-bit size fields of the file: 65,532-byte rows (24 bits, 21,844 pixels) fit 65,539 rows
// with the 54 header bytes and no more; 65,600 rows would wrap to a small size. The size is
// refused before the file is opened: a path in a missing folder still gets -7, not the open's error.
TEST(BmpFile, SizesBeyondTheFileSizeFieldsAreRefusedFirst)
{
    std::wstring path = SmTempDir(L"bmpfile_size32") + L"missing\\size.bmp";
    BYTE bits[64] = {};
    static const struct { int bpp, w, h; } cases[] = { { 24, 21844, 65540 }, { 24, 21844, 65600 }, { 8, 65532, 0x7FFFFFFF } };
    iBitmap bmp;
    for (const auto& c : cases)
        EXPECT_EQ(-7, bmp.iBitmap_CreateBMP(path.c_str(), c.bpp, 600, c.w, c.h, bits)) << c.w << "x" << c.h;
}

TEST(BmpFile, MissingDirectoryGivesNegativeResultAndNoFile)
{
    std::wstring path = SmTempDir(L"bmpfile_nodir") + L"no\\such\\dir\\x.bmp";
    BYTE bits[16] = {};
    iBitmap bmp;
    EXPECT_LT(bmp.iBitmap_CreateBMP(path.c_str(), 1, 600, 8, 4, bits), 0);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(path.c_str()));
}

// A file that cannot be replaced keeps its bytes and gives -4; no temporary file stays beside it.
TEST(BmpFile, FileThatCannotBeReplacedKeepsItsBytes)
{
    enum Hold { Unshared, ReadShared, Mapped, ReadOnly };
    static const struct { Hold hold; const char* what; } cases[] = {
        { Unshared, "open without sharing" }, { ReadShared, "open sharing reads only" },
        { Mapped, "mapped" }, { ReadOnly, "read-only" },
    };
    std::wstring dir = SmTempDir(L"bmpfile_held");
    static const char c_Old[] = "the old watermark";
    BYTE bits[8 * 4] = {};
    iBitmap bmp;
    for (const auto& c : cases) {
        std::wstring path = dir + L"held.bmp";
        ASSERT_TRUE(SmWriteFile(path, c_Old, sizeof(c_Old))) << c.what;
        HANDLE hFile = INVALID_HANDLE_VALUE, hMap = NULL;
        void* pView = NULL;
        if (c.hold == ReadOnly)
            SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY);
        else
            hFile = CreateFileW(path.c_str(), GENERIC_READ, c.hold == ReadShared ? FILE_SHARE_READ : 0, NULL,
                                OPEN_EXISTING, 0, NULL);
        if (c.hold == Mapped) {
            hMap = CreateFileMappingW(hFile, NULL, PAGE_READONLY, 0, 0, NULL);
            pView = MapViewOfFile(hMap, FILE_MAP_READ, 0, 0, 0);
            CloseHandle(hFile);
            hFile = INVALID_HANDLE_VALUE;
            ASSERT_TRUE(pView != NULL);
        }
        EXPECT_EQ(-4, bmp.iBitmap_CreateBMP(path.c_str(), 1, 600, 8, 4, bits)) << c.what;
        if (pView)
            UnmapViewOfFile(pView);
        if (hMap)
            CloseHandle(hMap);
        if (hFile != INVALID_HANDLE_VALUE)
            CloseHandle(hFile);
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        EXPECT_EQ(std::vector<BYTE>(c_Old, c_Old + sizeof(c_Old)), SmReadFile(path)) << c.what;
        WIN32_FIND_DATAW fd;
        HANDLE hFind = FindFirstFileW((dir + L"*.tmp").c_str(), &fd);
        EXPECT_EQ(INVALID_HANDLE_VALUE, hFind) << c.what << ": " << (hFind != INVALID_HANDLE_VALUE ? fd.cFileName : L"");
        if (hFind != INVALID_HANDLE_VALUE)
            FindClose(hFind);
        DeleteFileW(path.c_str());
    }
}
