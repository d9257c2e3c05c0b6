// Fuzz target of the fax cover page's message file, cover.ini: any bytes, lines of any length,
// drawn on a small page.
#include "fuzz.h"
#include "fax/fax_cover.h"
#include <stdio.h>
#include <string.h>

namespace {

const size_t c_MaxUnits = 6000;
const WCHAR c_BOM = 0xFEFF;

std::vector<BYTE> g_Input;
std::wstring g_CoverIni;
GuardBuffer* g_pFileBuf;
HDC g_hdc;
HBITMAP g_hBitmap;
HGDIOBJ g_hOldBitmap;

const std::vector<std::wstring>& CoverTokens()
{
    static const std::vector<std::wstring> tokens = {
        L"\r\n", L"\r", L"\n", L"\n\r", L"\r\r\n", L"Dear Sir,", L"\x4E2D\x6587", L"\t", std::wstring(1, L'\0'),
    };
    return tokens;
}

void Init(const std::wstring& workDir)
{
    g_pFileBuf = new GuardBuffer((c_MaxUnits + 2) * sizeof(WCHAR));
    g_CoverIni = workDir + L"cover.ini";
    // A small one-bit page: the lines are clipped to it, so the drawing costs little.
    g_hdc = CreateCompatibleDC(NULL);
    g_hBitmap = CreateBitmap(64, 64, 1, 1, NULL);
    if (!g_hdc || !g_hBitmap) {
        fprintf(stderr, "no memory DC for the cover page\n");
        ExitProcess(2);
    }
    g_hOldBitmap = SelectObject(g_hdc, g_hBitmap);
}

void Run(FuzzRng& rng, uint64_t index)
{
    std::wstring units;
    if (!rng.OneIn(8))
        units += c_BOM;
    if (rng.OneIn(2)) {
        units += FuzzText(rng, c_MaxUnits, CoverTokens());
    } else {
        std::wstring body = L"Please call me back.\r\nThe figures follow.\r\n";
        FuzzMutate(rng, &body, c_MaxUnits, CoverTokens());
        units += body;
    }
    size_t cb = units.size() * sizeof(WCHAR);
    if (cb && rng.OneIn(8))
        cb--;                                   // an odd trailing byte
    BYTE* pFile = g_pFileBuf->Place<BYTE>(cb);
    memcpy(pFile, units.data(), cb);
    FuzzKeep(&g_Input, pFile, cb);
    if (!FuzzWriteFile(g_CoverIni, pFile, cb)) {
        FuzzFail("cover", index, "cover.ini cannot be written");
        return;
    }

    // One input in four is drawn as the program lays it out on a fax page (a short page stops
    // the reading early). The others use a one-point font and wide line steps, so that the
    // reading, not the glyph rendering, takes the time.
    static const RECT c_Pages[] = {
        { 0, 0, 1728, 2292 }, { 0, 0, 2048, 2809 }, { 0, 0, 2432, 3241 }, { 0, 0, 64, 64 }, { 0, 0, 0, 0 },
    };
    static const FaxBodyLayout* const c_Bodies[] = { &g_CoverBodyA4, &g_CoverBodyA3, &g_CoverBodyB4 };
    static const FaxBodyLayout c_Quick[] = { { 1, 0, 0, 200 }, { 1, 0, 0, 1000 }, { 1, 0, 0, 3000 } };
    const RECT* prc = &c_Pages[rng.Below(ARRAYSIZE(c_Pages))];
    const FaxBodyLayout* pBody = c_Bodies[rng.Below(ARRAYSIZE(c_Bodies))];
    if (!rng.OneIn(4)) {
        prc = &c_Pages[0];
        pBody = &c_Quick[rng.Below(ARRAYSIZE(c_Quick))];
    }
    int n = FaxDrawCoverBody(g_hdc, prc, pBody, g_CoverIni.c_str());

    // An existing file is always read; no more lines come out than the file has line ends, plus
    // a last unended line.
    size_t lineEnds = 0;
    for (size_t i = 1; i + 1 < units.size(); i++) {
        if (units[i] == L'\r' && units[i + 1] == L'\n')
            lineEnds++;
    }
    if (n < 0 || (size_t)n > lineEnds + 1)
        FuzzFail("cover", index, std::to_string(n) + " lines drawn from a file with " + std::to_string(lineEnds) +
                 " line ends");
}

std::vector<BYTE>* Input() { return &g_Input; }

} // namespace

const FuzzTarget g_FuzzCover = {
    "cover", "cover.ini: any bytes, lines of any length, with and without a byte-order mark",
    Init, Run, Input,
};
