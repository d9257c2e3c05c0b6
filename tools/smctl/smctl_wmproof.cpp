// smctl wm-proof: renders a watermark job in memory through the program's own page drawing and
// screening, and reports what the page will hold; the preview goes through the platform's
// imaging component (WIC), which only smctl links.
#include "tools/smctl/smctl.h"
#include "tools/smctl/smctl_wm.h"
#include "tools/smctl/smctl_wmproof.h"
#include "bitmap/bitmap.h"
#include "util/trace.h"
#include <wincodec.h>
#include <string.h>
#include <vector>

namespace {

const int c_cxPreviewMax = 800;         // the preview's longer side, at most
const int c_ProofHeight = 480;          // tenths of a point: a 64-pixel font on a 96-dpi screen

struct Ink {
    unsigned long long black = 0;
    RECT box = { 0, 0, 0, 0 };          // top-down page pixels, right and bottom exclusive
};

// Black pixels of the bottom-up 1-bit page (0 bits are black) and their bounding box.
Ink CountInk(const WM_PAGE& page)
{
    Ink ink;
    bool any = false;
    for (int row = 0; row < page.nHeight; row++) {
        const BYTE* p = page.pBits + (size_t)row * page.stride;
        int y = page.nHeight - 1 - row;
        for (int x = 0; x < page.nWidth; x++) {
            if (p[x >> 3] == 0xFF) {
                x |= 7;
                continue;
            }
            if (p[x >> 3] & (0x80 >> (x & 7)))
                continue;
            ink.black++;
            if (!any) {
                SetRect(&ink.box, x, y, x + 1, y + 1);
                any = true;
            } else {
                ink.box.left = x < ink.box.left ? x : ink.box.left;
                ink.box.right = x + 1 > ink.box.right ? x + 1 : ink.box.right;
                ink.box.top = y < ink.box.top ? y : ink.box.top;
                ink.box.bottom = y + 1 > ink.box.bottom ? y + 1 : ink.box.bottom;
            }
        }
    }
    return ink;
}

// The page reduced by a whole factor, each pixel the grey of the black share of its block; rows
// top-down, 24-bit BGR.
std::vector<BYTE> Reduce(const WM_PAGE& page, int factor, int* pcx, int* pcy, UINT* pcbStride)
{
    int cx = (page.nWidth + factor - 1) / factor, cy = (page.nHeight + factor - 1) / factor;
    UINT cbStride = ((UINT)cx * 3 + 3) & ~3u;
    std::vector<unsigned> black((size_t)cx * cy), total((size_t)cx * cy);
    for (int row = 0; row < page.nHeight; row++) {
        const BYTE* p = page.pBits + (size_t)row * page.stride;
        int y = (page.nHeight - 1 - row) / factor;
        for (int x = 0; x < page.nWidth; x++) {
            size_t i = (size_t)y * cx + x / factor;
            total[i]++;
            if (!(p[x >> 3] & (0x80 >> (x & 7))))
                black[i]++;
        }
    }
    std::vector<BYTE> out((size_t)cbStride * cy, 0);
    for (int y = 0; y < cy; y++) {
        for (int x = 0; x < cx; x++) {
            size_t i = (size_t)y * cx + x;
            BYTE grey = (BYTE)(255 - (255ull * black[i]) / (total[i] ? total[i] : 1));
            BYTE* q = &out[(size_t)y * cbStride + (size_t)x * 3];
            q[0] = q[1] = q[2] = grey;
        }
    }
    *pcx = cx;
    *pcy = cy;
    *pcbStride = cbStride;
    return out;
}

bool WritePng(LPCWSTR pszPath, const std::vector<BYTE>& pixels, int cx, int cy, UINT cbStride)
{
    HRESULT hrInit = CoInitializeEx(NULL, COINIT_APARTMENTTHREADED);
    IWICImagingFactory* pFactory = NULL;
    IWICStream* pStream = NULL;
    IWICBitmapEncoder* pEncoder = NULL;
    IWICBitmapFrameEncode* pFrame = NULL;
    HRESULT hr = CoCreateInstance(CLSID_WICImagingFactory, NULL, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                  (void**)&pFactory);
    if (SUCCEEDED(hr))
        hr = pFactory->CreateStream(&pStream);
    if (SUCCEEDED(hr))
        hr = pStream->InitializeFromFilename(pszPath, GENERIC_WRITE);
    if (SUCCEEDED(hr))
        hr = pFactory->CreateEncoder(GUID_ContainerFormatPng, NULL, &pEncoder);
    if (SUCCEEDED(hr))
        hr = pEncoder->Initialize(pStream, WICBitmapEncoderNoCache);
    if (SUCCEEDED(hr))
        hr = pEncoder->CreateNewFrame(&pFrame, NULL);
    if (SUCCEEDED(hr))
        hr = pFrame->Initialize(NULL);
    if (SUCCEEDED(hr))
        hr = pFrame->SetSize((UINT)cx, (UINT)cy);
    WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
    if (SUCCEEDED(hr))
        hr = pFrame->SetPixelFormat(&format);
    if (SUCCEEDED(hr) && !IsEqualGUID(format, GUID_WICPixelFormat24bppBGR))
        hr = E_FAIL;
    if (SUCCEEDED(hr))
        hr = pFrame->WritePixels((UINT)cy, cbStride, (UINT)pixels.size(), const_cast<BYTE*>(pixels.data()));
    if (SUCCEEDED(hr))
        hr = pFrame->Commit();
    if (SUCCEEDED(hr))
        hr = pEncoder->Commit();
    if (pFrame)
        pFrame->Release();
    if (pEncoder)
        pEncoder->Release();
    if (pStream)
        pStream->Release();
    if (pFactory)
        pFactory->Release();
    if (SUCCEEDED(hrInit))
        CoUninitialize();
    return SUCCEEDED(hr);
}

// The family name in the font file itself (name table, name 1, Windows Unicode): the face the
// platform really drew with, whatever name it answers to.
std::wstring RealFamily(HDC hdc)
{
    const DWORD c_Name = 0x656D616E;    // 'name', as GetFontData takes the tag
    DWORD cb = GetFontData(hdc, c_Name, 0, NULL, 0);
    if (cb == GDI_ERROR || cb < 6)
        return L"";
    std::vector<BYTE> t(cb);
    if (GetFontData(hdc, c_Name, 0, t.data(), cb) != cb)
        return L"";
    auto be16 = [&](size_t at) { return at + 1 < t.size() ? (unsigned)((t[at] << 8) | t[at + 1]) : 0u; };
    unsigned count = be16(2), strings = be16(4);
    for (unsigned i = 0; i < count; i++) {
        size_t r = 6 + (size_t)i * 12;
        if (be16(r) != 3 || be16(r + 6) != 1)       // Windows platform, family name
            continue;
        unsigned len = be16(r + 8), off = be16(r + 10);
        std::wstring name;
        for (unsigned k = 0; k + 1 < len; k += 2)
            name += (wchar_t)be16(strings + off + k);
        if (!name.empty())
            return name;
    }
    return L"";
}

// The font of the job's face and style, selected into a screen-compatible DC, at a size that
// shows glyphs clearly.
struct ProofFont {
    HDC hdc = NULL;
    HFONT hFont = NULL;
    HGDIOBJ hOld = NULL;
    ProofFont(LPCWSTR pszFace, WORD wStyle)
    {
        hdc = CreateCompatibleDC(NULL);
        hFont = hdc ? CreateWatermarkFont(hdc, pszFace, c_ProofHeight, wStyle, 0) : NULL;
        if (hFont)
            hOld = SelectObject(hdc, hFont);
    }
    ~ProofFont()
    {
        if (hOld)
            SelectObject(hdc, hOld);
        if (hFont)
            DeleteObject(hFont);
        if (hdc)
            DeleteDC(hdc);
    }
};

// The pixels one character leaves in the DC's font on a small 1-bit page.
std::vector<BYTE> Rendered(HDC hdcFont, wchar_t c)
{
    const int cx = 128, cy = 128;
    std::vector<BYTE> out;
    struct { BITMAPINFOHEADER h; RGBQUAD pal[2]; } bmi = {};
    bmi.h.biSize = sizeof(bmi.h);
    bmi.h.biWidth = cx;
    bmi.h.biHeight = cy;
    bmi.h.biPlanes = 1;
    bmi.h.biBitCount = 1;
    bmi.pal[1].rgbRed = bmi.pal[1].rgbGreen = bmi.pal[1].rgbBlue = 255;
    void* pBits = NULL;
    HBITMAP hbm = CreateDIBSection(hdcFont, (BITMAPINFO*)&bmi, DIB_RGB_COLORS, &pBits, NULL, 0);
    if (!hbm)
        return out;
    HGDIOBJ hOld = SelectObject(hdcFont, hbm);
    PatBlt(hdcFont, 0, 0, cx, cy, WHITENESS);
    SetTextColor(hdcFont, RGB(0, 0, 0));
    SetBkMode(hdcFont, TRANSPARENT);
    TextOutW(hdcFont, 16, 16, &c, 1);
    GdiFlush();
    out.assign((BYTE*)pBits, (BYTE*)pBits + cy * 16);
    SelectObject(hdcFont, hOld);
    DeleteObject(hbm);
    return out;
}

// The faces the system's font link adds to a face, in the order they are tried.
std::vector<std::wstring> LinkedFaces(LPCWSTR pszFace)
{
    std::vector<std::wstring> faces;
    HKEY hKey = NULL;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows NT\\CurrentVersion\\FontLink\\SystemLink", 0,
                      KEY_QUERY_VALUE, &hKey) != ERROR_SUCCESS)
        return faces;
    std::vector<WCHAR> buf(8192, 0);
    DWORD cb = (DWORD)(buf.size() - 2) * sizeof(WCHAR), type = 0;
    if (RegQueryValueExW(hKey, pszFace, NULL, &type, (BYTE*)buf.data(), &cb) == ERROR_SUCCESS && type == REG_MULTI_SZ) {
        for (LPCWSTR p = buf.data(); *p; p += wcslen(p) + 1) {
            // "file,face[,scale]"
            std::wstring entry = p;
            size_t comma = entry.find(L',');
            if (comma == std::wstring::npos)
                continue;
            std::wstring face = entry.substr(comma + 1);
            faces.push_back(face.substr(0, face.find(L',')));
        }
    }
    RegCloseKey(hKey);
    return faces;
}

// What became of the characters the face itself has no glyph for.
struct GlyphReport {
    std::vector<std::pair<wchar_t, std::wstring>> linked;   // drawn by that linked face
    std::vector<wchar_t> fallback;                           // drawn by a face the platform chose
    std::vector<wchar_t> missing;                            // drawn as the face's empty glyph
};

GlyphReport ClassifyMissing(const WM_TEXT_INFO& info, LPCWSTR pszAsked, WORD wStyle, const std::wstring& family)
{
    GlyphReport r;
    ProofFont font(pszAsked, wStyle);
    const wchar_t c_NoCharacter = 0xFFFF;
    std::vector<BYTE> empty = Rendered(font.hdc, c_NoCharacter);
    std::vector<std::wstring> faces = LinkedFaces(family.c_str());
    for (const std::wstring& f : LinkedFaces(pszAsked))
        faces.push_back(f);
    for (int i = 0; i < info.nMissing && i < WM_MISSING_MAX; i++) {
        wchar_t c = info.wszMissing[i];
        std::vector<BYTE> drawn = Rendered(font.hdc, c);
        if (drawn.empty() || drawn == empty) {
            r.missing.push_back(c);
            continue;
        }
        std::wstring by;
        for (const std::wstring& f : faces) {
            ProofFont linked(f.c_str(), wStyle);
            WORD glyph = 0xFFFF;
            if (linked.hFont && GetGlyphIndicesW(linked.hdc, &c, 1, &glyph, GGI_MARK_NONEXISTING_GLYPHS) == 1
                && glyph != 0xFFFF) {
                by = f;
                break;
            }
        }
        if (by.empty())
            r.fallback.push_back(c);
        else
            r.linked.push_back(std::make_pair(c, by));
    }
    return r;
}

double Millimetres(int pixels)
{
    return pixels * 25.4 / 600.0;
}

} // namespace

int Smctl_WmProof(int argc, wchar_t** argv)
{
    std::wstring preview;
    if (argc == 3 && wcscmp(argv[1], L"--preview") == 0)
        preview = Smctl_FullPath(argv[2]);
    else if (argc != 1)
        return Smctl_Usage(L"wm-proof", L"one job file and at most --preview FILE");
    std::wstring job = Smctl_FullPath(argv[0]);
    WmBitmapParam param;
    if (!SmctlWm_ReadJob(job.c_str(), &param))
        return SMCTL_EXIT_USAGE;
    WCHAR szWhy[64];
    if (SM_CheckWmBitmapParam(&param, szWhy, ARRAYSIZE(szWhy)) != 0) {
        Smctl_Error(L"the job refuses the record (%s), so nothing would be printed; \"smctl wm-show\" shows it", szWhy);
        return SMCTL_EXIT_USAGE;
    }
    const bool fax = (param.DriverType & WM_DRIVER_FAX) != 0;

    UINT32 nTableW = 0, nTableH = 0;
    BYTE* pTable = NULL;
    MISC_GetHalftoneTable(param.HalftoneType, &nTableW, &nTableH, &pTable);
    WM_TEXT_INFO info;
    ZeroMemory(&info, sizeof(info));
    WM_PAGE page;
    float fTextScale = (float)param.nTextScale / 100.0f;
    int rc = iBitmap_DrawPage(&page, &param, param.nWidth, param.nHeight, param.nDstScale, param.nPageDensity,
                              param.nMaxPageDensity, fTextScale, pTable, nTableW, nTableH, param.DriverType, &info);
    if (rc != IBMP_OK) {
        Smctl_Error(L"the page cannot be rendered (error %d); \"smctl wm-show\" shows the record", rc);
        iBitmap_FreePage(&page);
        MISC_FreeHalftoneTable(pTable);
        return SMCTL_EXIT_USAGE;
    }

    Smctl_Print(L"page            %d x %d pixels at 600 dpi (%.1f x %.1f mm)\n", page.nWidth, page.nHeight,
            Millimetres(page.nWidth), Millimetres(page.nHeight));
    Smctl_Print(L"drawing rect    %ld x %ld pixels%s\n", (long)page.rcDraw.right, (long)page.rcDraw.bottom,
            page.rcDraw.right > page.nWidth ? L" (text scale above 1: larger than the page)" : L"");
    int exitCode = 0;
    if (fax) {
        Smctl_Print(L"content         fax cover page\n");
    } else {
        WCHAR szAsked[WM_FONTFACE_MAX_LEN];
        lstrcpynW(szAsked, param.tyWM.wszFontFace, ARRAYSIZE(szAsked));
        // The platform may answer to the asked name with another font; the font file's own
        // family tells which one it drew with.
        std::wstring family;
        {
            ProofFont font(szAsked, param.tyWM.wStyle);
            family = font.hFont ? RealFamily(font.hdc) : L"";
        }
        if (family.empty())
            family = info.szFamilyUsed[0] ? info.szFamilyUsed : info.szFaceUsed;
        bool substituted = _wcsicmp(szAsked, family.c_str()) != 0;
        Smctl_Print(L"face asked      \"%s\"\n", szAsked);
        Smctl_Print(L"face used       \"%s\"%s", family.c_str(), substituted ? L": substituted" : L"");
        if (_wcsicmp(info.szFaceUsed, family.c_str()) != 0)
            Smctl_Print(L" (the platform names it \"%s\")", info.szFaceUsed);
        Smctl_Print(L"\n");
        GlyphReport glyphs = ClassifyMissing(info, szAsked, param.tyWM.wStyle, family);
        if (!glyphs.linked.empty()) {
            Smctl_Print(L"linked glyphs   %u:", (unsigned)glyphs.linked.size());
            for (const auto& g : glyphs.linked)
                Smctl_Print(L" U+%04X by \"%s\"", (unsigned)g.first, g.second.c_str());
            Smctl_Print(L" (the font link of \"%s\")\n", family.c_str());
        }
        if (!glyphs.fallback.empty()) {
            Smctl_Print(L"other glyphs    %u:", (unsigned)glyphs.fallback.size());
            for (wchar_t c : glyphs.fallback)
                Smctl_Print(L" U+%04X", (unsigned)c);
            Smctl_Print(L" drawn by a face the platform chose\n");
        }
        int cMissing = (int)glyphs.missing.size() + (info.nMissing > WM_MISSING_MAX ? info.nMissing - WM_MISSING_MAX : 0);
        if (cMissing > 0) {
            Smctl_Print(L"missing glyphs  %d:", cMissing);
            for (wchar_t c : glyphs.missing)
                Smctl_Print(L" U+%04X", (unsigned)c);
            Smctl_Print(L"\n");
        } else {
            Smctl_Print(L"missing glyphs  none\n");
        }
        Smctl_Print(L"text            %ld x %ld pixels unrotated, %u degrees, %s\n", (long)info.sizeText.cx,
                (long)info.sizeText.cy, (unsigned)param.tyWM.wAngleDegree,
                param.tyWM.wPlacement ? L"tiled" : L"centred");
        Smctl_Print(L"copies          %d drawn, %d cut by the page edges\n", info.nCopies, info.nCopiesCut);
        if (substituted || cMissing > 0)
            exitCode = 1;
    }

    Ink drawn = CountInk(page);
    iBitmap_ScreenPage(&page, &param, pTable, nTableW, nTableH);
    Ink screened = CountInk(page);
    if (drawn.black) {
        Smctl_Print(L"ink box         (%ld, %ld) to (%ld, %ld), %ld x %ld pixels\n", (long)drawn.box.left, (long)drawn.box.top,
                (long)drawn.box.right, (long)drawn.box.bottom, (long)(drawn.box.right - drawn.box.left),
                (long)(drawn.box.bottom - drawn.box.top));
    } else {
        Smctl_Print(L"ink box         none: the page stays white\n");
    }
    BYTE level = WM_DensityLevel(param.tyWM.wDensity);
    unsigned cAtOrBelow = 0;
    for (UINT32 i = 0; i < nTableW * nTableH; i++)
        cAtOrBelow += pTable[i] <= level;
    const HALFTONE_TABLE_INFO* pTableInfo = MISC_HalftoneTableInfo(param.HalftoneType);
    Smctl_Print(L"density         %u%% asks for level %u of table %s (%u x %u): the table keeps %.4f of the ink\n",
            (unsigned)param.tyWM.wDensity, (unsigned)level, pTableInfo->pszName, (unsigned)nTableW, (unsigned)nTableH,
            (double)cAtOrBelow / (nTableW * nTableH));
    Smctl_Print(L"measured        %I64u of %I64u ink pixels stay black: %.4f\n", screened.black, drawn.black,
            drawn.black ? (double)screened.black / (double)drawn.black : 0.0);

    if (!preview.empty()) {
        int longer = page.nWidth > page.nHeight ? page.nWidth : page.nHeight;
        int factor = (longer + c_cxPreviewMax - 1) / c_cxPreviewMax;
        int cx = 0, cy = 0;
        UINT cbStride = 0;
        std::vector<BYTE> pixels = Reduce(page, factor < 1 ? 1 : factor, &cx, &cy, &cbStride);
        if (WritePng(preview.c_str(), pixels, cx, cy, cbStride)) {
            Smctl_Print(L"preview         %s: %d x %d pixels, 1:%d\n", preview.c_str(), cx, cy, factor < 1 ? 1 : factor);
        } else {
            Smctl_Error(L"cannot write the preview %s; check the folder", preview.c_str());
            exitCode = SMCTL_EXIT_USAGE;
        }
    }
    iBitmap_FreePage(&page);
    MISC_FreeHalftoneTable(pTable);
    return exitCode;
}
