// Watermark job record: its layout, the INI value's decoding, validation and job results.
#include <gtest/gtest.h>
#include "bitmap/bitmap.h"
#include "smtest.h"
#include <string.h>
#include <string>
#include <vector>

static WmBitmapParam ValidRecord(const std::wstring& outFile)
{
    WmBitmapParam p;
    memset(&p, 0, sizeof(p));
    wcscpy(p.tyWM.wszText, L"DRAFT");
    wcscpy(p.tyWM.wszFontFace, L"Arial");
    p.tyWM.wDensity = 60;
    p.tyWM.wFontSize = 24;
    p.tyWM.wAngleDegree = 30;
    p.nWidth = 400;
    p.nHeight = 300;
    p.nDstScale = 1;
    p.nPageDensity = 1;
    p.nMaxPageDensity = 1;
    p.nTextScale = 100;
    wcsncpy(p.wmFileName, outFile.c_str(), WM_FILENAME_MAX_LEN - 1);
    return p;
}

static std::wstring WriteIni(const std::wstring& dir, const std::wstring& value)
{
    std::wstring ini = dir + L"job.ini";
    std::string text = "[Job Information]\r\nParam=" + SmNarrow(value) + "\r\n";
    EXPECT_TRUE(SmWriteFile(ini, text.data(), text.size()));
    return ini;
}

static std::wstring Encode(const void* p, UINT cb)
{
    std::vector<WCHAR> buf((cb + 2) / 3 * 4 + 1);
    EXPECT_TRUE(MISC_Base64Encode(p, cb, buf.data(), buf.size()));
    return std::wstring(buf.data());
}

TEST(WmRecord, EncodedRecordIs3132CharactersAndDecodesToTheSameBytes)
{
    std::wstring dir = SmTempDir(L"wmrecord_round");
    BYTE rec[WM_RECORD_SIZE];
    for (size_t i = 0; i < sizeof(rec); i++)
        rec[i] = (BYTE)(i * 31 + (i >> 8));
    std::wstring value = Encode(rec, sizeof(rec));
    ASSERT_EQ((size_t)WM_RECORD_CCH_BASE64, value.size());
    EXPECT_EQ(L'=', value.back());
    EXPECT_NE(L'=', value[value.size() - 2]);
    std::wstring ini = WriteIni(dir, value);
    std::vector<BYTE> out(sizeof(rec) + 16, 0xA5);
    ASSERT_EQ(1, MISC_GetPrivateProfileStruct(WM_INI_SECTION, WM_INI_KEY, out.data(), sizeof(rec), ini.c_str()));
    EXPECT_EQ(0, memcmp(out.data(), rec, sizeof(rec)));
    for (size_t i = sizeof(rec); i < out.size(); i++)
        EXPECT_EQ(0xA5, out[i]) << "written past the record at " << i;
}

TEST(WmRecord, WriterAndReaderAgree)
{
    std::wstring dir = SmTempDir(L"wmrecord_writer");
    WmBitmapParam p = ValidRecord(dir + L"x.bmp");
    std::wstring ini = dir + L"w.ini";
    ASSERT_EQ(1, MISC_WritePrivateProfileStruct(WM_INI_SECTION, WM_INI_KEY, &p, sizeof(p), ini.c_str()));
    WmBitmapParam q;
    memset(&q, 0xCC, sizeof(q));
    ASSERT_EQ(1, MISC_GetPrivateProfileStruct(WM_INI_SECTION, WM_INI_KEY, &q, sizeof(q), ini.c_str()));
    EXPECT_EQ(0, memcmp(&p, &q, sizeof(p)));
}

// Short values, characters outside the alphabet, and a value longer than the record's.
TEST(WmRecord, DecodingRules)
{
    std::wstring dir = SmTempDir(L"wmrecord_rules");
    static const struct { const wchar_t* value; BYTE expect[6]; } cases[] = {
        { L"QUJDREVG", { 'A', 'B', 'C', 'D', 'E', 'F' } },
        { L"QUJD", { 'A', 'B', 'C', 0, 0, 0 } },                     // short: zeros in the tail
        { L"QU", { 'A', 0x40, 0, 0, 0, 0 } },
        { L"QU JDREVG", { 'A', 0x40, 0x09, 0x0D, 0x11, 0x15 } },     // the space is a 0 in place
        { L"QUJ=REVG", { 'A', 'B', 0x40, 'D', 'E', 'F' } },             // "=" inside counts as 0
        { L"QUJD*EVG", { 'A', 'B', 'C', 0x00, 0x45, 0x46 } },
        { L"QUJDREVGSEhI", { 'A', 'B', 'C', 'D', 'E', 'F' } },       // longer: only 8 read
    };
    for (const auto& c : cases) {
        std::wstring ini = WriteIni(dir, c.value);
        BYTE out[8];
        memset(out, 0x5A, sizeof(out));
        ASSERT_EQ(1, MISC_GetPrivateProfileStruct(WM_INI_SECTION, WM_INI_KEY, out, 6, ini.c_str())) << SmNarrow(c.value);
        EXPECT_EQ(0, memcmp(out, c.expect, 6)) << SmNarrow(c.value);
        EXPECT_EQ(0x5A, out[6]);
        EXPECT_EQ(0x5A, out[7]);
    }
}

TEST(WmRecord, OverlongValueIsCutToTheRecordLength)
{
    std::wstring dir = SmTempDir(L"wmrecord_long");
    WmBitmapParam p = ValidRecord(dir + L"x.bmp");
    std::wstring value = Encode(&p, sizeof(p));
    value.back() = L'A';                     // no padding: the next characters would matter
    value += std::wstring(5000, L'/');
    std::wstring ini = WriteIni(dir, value);
    std::vector<BYTE> out(sizeof(p) + 8, 0x77);
    ASSERT_EQ(1, MISC_GetPrivateProfileStruct(WM_INI_SECTION, WM_INI_KEY, out.data(), sizeof(p), ini.c_str()));
    EXPECT_EQ(0, memcmp(out.data(), &p, sizeof(p)));
    EXPECT_EQ(0x77, out[sizeof(p)]);
}

TEST(WmRecord, MissingKeyOrEmptyValueFailsAndLeavesTheDestination)
{
    std::wstring dir = SmTempDir(L"wmrecord_missing");
    std::wstring ini = dir + L"job.ini";
    static const char c_NoKey[] = "[Job Information]\r\nOther=QUJD\r\n";
    static const char c_Empty[] = "[Job Information]\r\nParam=\r\n";
    for (const char* text : { c_NoKey, c_Empty }) {
        ASSERT_TRUE(SmWriteFile(ini, text, strlen(text)));
        BYTE out[6];
        memset(out, 0x42, sizeof(out));
        EXPECT_EQ(0, MISC_GetPrivateProfileStruct(WM_INI_SECTION, WM_INI_KEY, out, sizeof(out), ini.c_str()));
        for (BYTE b : out)
            EXPECT_EQ(0x42, b);
    }
    BYTE out[6] = {};
    EXPECT_EQ(0, MISC_GetPrivateProfileStruct(WM_INI_SECTION, WM_INI_KEY, out, sizeof(out),
                                              (dir + L"absent.ini").c_str()));
}

// Each rule's boundaries; a record breaking several rules reports only the first.
TEST(WmRecord, ValidationBoundariesAndOrder)
{
    struct Case { const char* what; void (*change)(WmBitmapParam*); int rule; const wchar_t* line; };
    static const Case cases[] = {
        { "valid", [](WmBitmapParam*) {}, 0, L"" },
        { "density 19", [](WmBitmapParam* p) { p->tyWM.wDensity = 19; }, 1, L"wDensity error" },
        { "density 20", [](WmBitmapParam* p) { p->tyWM.wDensity = 20; }, 0, L"" },
        { "density 100", [](WmBitmapParam* p) { p->tyWM.wDensity = 100; }, 0, L"" },
        { "density 101", [](WmBitmapParam* p) { p->tyWM.wDensity = 101; }, 1, L"wDensity error" },
        { "size 0", [](WmBitmapParam* p) { p->tyWM.wFontSize = 0; }, 2, L"wFontSize error, 0" },
        { "size 288", [](WmBitmapParam* p) { p->tyWM.wFontSize = 288; }, 0, L"" },
        { "size 289", [](WmBitmapParam* p) { p->tyWM.wFontSize = 289; }, 2, L"wFontSize error, 289" },
        { "style 3", [](WmBitmapParam* p) { p->tyWM.wStyle = 3; }, 0, L"" },
        { "style 4", [](WmBitmapParam* p) { p->tyWM.wStyle = 4; }, 3, L"wStyle error" },
        { "angle 360", [](WmBitmapParam* p) { p->tyWM.wAngleDegree = 360; }, 0, L"" },
        { "angle 361", [](WmBitmapParam* p) { p->tyWM.wAngleDegree = 361; }, 4, L"wAngleDegree error" },
        { "dstscale 0", [](WmBitmapParam* p) { p->nDstScale = 0; }, 5, L"nDstScale error" },
        { "dstscale 2", [](WmBitmapParam* p) { p->nDstScale = 2; }, 0, L"" },
        { "dstscale 3", [](WmBitmapParam* p) { p->nDstScale = 3; }, 5, L"nDstScale error" },
        { "dstscale -1", [](WmBitmapParam* p) { p->nDstScale = -1; }, 5, L"nDstScale error" },
        { "pagedensity 0", [](WmBitmapParam* p) { p->nPageDensity = 0; }, 6, L"nPageDensity error" },
        { "pagedensity 8", [](WmBitmapParam* p) { p->nPageDensity = 8; p->nMaxPageDensity = 7; }, 6, L"nPageDensity error" },
        { "maxpagedensity 8", [](WmBitmapParam* p) { p->nMaxPageDensity = 8; }, 7, L"nMaxPageDensity error" },
        { "page 5 above max 3 passes here", [](WmBitmapParam* p) { p->nPageDensity = 5; p->nMaxPageDensity = 3; }, 0, L"" },
        { "textscale 4", [](WmBitmapParam* p) { p->nTextScale = 4; }, 8, L"fTextScale = 4/100" },
        { "textscale 5", [](WmBitmapParam* p) { p->nTextScale = 5; }, 0, L"" },
        { "textscale 200", [](WmBitmapParam* p) { p->nTextScale = 200; }, 0, L"" },
        { "textscale 201", [](WmBitmapParam* p) { p->nTextScale = 201; }, 8, L"fTextScale = 201/100" },
        { "placement 2", [](WmBitmapParam* p) { p->tyWM.wPlacement = 2; }, 9, L"wPlacement error" },
        { "density 0 and style 9", [](WmBitmapParam* p) { p->tyWM.wDensity = 0; p->tyWM.wStyle = 9; }, 1, L"wDensity error" },
        { "style 9 and placement 5", [](WmBitmapParam* p) { p->tyWM.wStyle = 9; p->tyWM.wPlacement = 5; }, 3, L"wStyle error" },
        { "table sizes are ignored", [](WmBitmapParam* p) { p->nTableW = 7; p->nTableH = 999; p->HalftoneType = 0xFFFFFFFF; }, 0, L"" },
    };
    for (const Case& c : cases) {
        WmBitmapParam p = ValidRecord(L"C:\\x.bmp");
        c.change(&p);
        WCHAR why[64];
        wmemset(why, L'#', ARRAYSIZE(why));
        EXPECT_EQ(c.rule, SM_CheckWmBitmapParam(&p, why, ARRAYSIZE(why))) << c.what;
        EXPECT_STREQ(c.line, why) << c.what;
    }
}

TEST(WmRecord, JobResults)
{
    std::wstring dir = SmTempDir(L"wmrecord_job");
    std::wstring bmp = dir + L"out.bmp";
    std::wstring ini = dir + L"job.ini";

    // No record: 0 and no file.
    EXPECT_EQ(0, SM_CreateTextBMPUsingIni_New(ini.c_str()));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(bmp.c_str()));

    // A record that fails validation: -11 and no file.
    WmBitmapParam p = ValidRecord(bmp);
    p.tyWM.wPlacement = 2;
    ASSERT_EQ(1, MISC_WritePrivateProfileStruct(WM_INI_SECTION, WM_INI_KEY, &p, sizeof(p), ini.c_str()));
    EXPECT_EQ(-11, SM_CreateTextBMPUsingIni_New(ini.c_str()));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(bmp.c_str()));

    // A short value leaves nDstScale 0 among the zeros.
    p = ValidRecord(bmp);
    std::wstring value = Encode(&p, sizeof(p)).substr(0, 2400);
    WriteIni(dir, value);
    EXPECT_EQ(-11, SM_CreateTextBMPUsingIni_New(ini.c_str()));

    // Page density above the maximum passes validation and is refused by the renderer.
    p = ValidRecord(bmp);
    p.nPageDensity = 4;
    p.nMaxPageDensity = 3;
    ASSERT_EQ(1, MISC_WritePrivateProfileStruct(WM_INI_SECTION, WM_INI_KEY, &p, sizeof(p), ini.c_str()));
    EXPECT_EQ(-7, SM_CreateTextBMPUsingIni_New(ini.c_str()));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(bmp.c_str()));

    // A valid record: 1 and a 400 x 300 1-bit file.
    p = ValidRecord(bmp);
    ASSERT_EQ(1, MISC_WritePrivateProfileStruct(WM_INI_SECTION, WM_INI_KEY, &p, sizeof(p), ini.c_str()));
    EXPECT_EQ(1, SM_CreateTextBMPUsingIni_New(ini.c_str()));
    std::vector<BYTE> f = SmReadFile(bmp);
    EXPECT_EQ(62u + 52u * 300u, f.size());
}
