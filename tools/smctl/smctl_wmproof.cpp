// smctl wm-proof: renders a watermark job in memory through the program's own page drawing and
// screening, and reports what the page will hold; the preview goes through the platform's
// imaging component (WIC), which only smctl links.
#include "tools/smctl/smctl.h"
#include "tools/smctl/smctl_wmproof.h"
#include "bitmap/bitmap.h"
#include "util/trace.h"
#include <wincodec.h>
#include <stdio.h>
#include <string.h>
#include <vector>

namespace {

const int c_cxPreviewMax = 800;         // the preview's longer side, at most

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

double Millimetres(int pixels)
{
    return pixels * 25.4 / 600.0;
}

} // namespace

int Smctl_WmProof(int argc, wchar_t** argv)
{
    const wchar_t* pszPreview = NULL;
    if (argc == 3 && wcscmp(argv[1], L"--preview") == 0)
        pszPreview = argv[2];
    else if (argc != 1) {
        Smctl_Error(L"usage: wm-proof %ls", SMCTL_WM_PROOF_USAGE);
        return 2;
    }
    // A bare name would be looked for in the Windows folder by the profile functions.
    WCHAR szJob[MAX_PATH];
    GetFullPathNameW(argv[0], ARRAYSIZE(szJob), szJob, NULL);
    WmBitmapParam param;
    ZeroMemory(&param, sizeof(param));
    if (!MISC_GetPrivateProfileStruct(WM_INI_SECTION, WM_INI_KEY, &param, sizeof(param), szJob)) {
        Smctl_Error(L"no \"Param\" value in section \"Job Information\" of %ls", szJob);
        return 2;
    }
    WCHAR szWhy[64];
    if (SM_CheckWmBitmapParam(&param, szWhy, ARRAYSIZE(szWhy)) != 0) {
        wprintf(L"record refused by the job (%ls): nothing would be printed\n", szWhy);
        return 2;
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
        wprintf(L"the page cannot be rendered: error %d\n", rc);
        iBitmap_FreePage(&page);
        MISC_FreeHalftoneTable(pTable);
        return 2;
    }

    wprintf(L"page            %d x %d pixels at 600 dpi (%.1f x %.1f mm)\n", page.nWidth, page.nHeight,
            Millimetres(page.nWidth), Millimetres(page.nHeight));
    wprintf(L"drawing rect    %ld x %ld pixels%ls\n", (long)page.rcDraw.right, (long)page.rcDraw.bottom,
            page.rcDraw.right > page.nWidth ? L" (text scale above 1: larger than the page)" : L"");
    int exitCode = 0;
    if (fax) {
        wprintf(L"content         fax cover page\n");
    } else {
        WCHAR szAsked[WM_FONTFACE_MAX_LEN];
        lstrcpynW(szAsked, param.tyWM.wszFontFace, ARRAYSIZE(szAsked));
        bool substituted = _wcsicmp(szAsked, info.szFaceUsed) != 0
                           || (info.szFamilyUsed[0] && _wcsicmp(szAsked, info.szFamilyUsed) != 0);
        wprintf(L"face asked      \"%ls\"\n", szAsked);
        wprintf(L"face used       \"%ls\" (font family \"%ls\")%ls\n", info.szFaceUsed, info.szFamilyUsed,
                substituted ? L": substituted" : L"");
        if (info.nMissing > 0) {
            wprintf(L"missing glyphs  %d:", info.nMissing);
            for (int i = 0; i < info.nMissing && i < WM_MISSING_MAX; i++)
                wprintf(L" U+%04X", (unsigned)info.wszMissing[i]);
            wprintf(L"\n");
        } else {
            wprintf(L"missing glyphs  none\n");
        }
        wprintf(L"text            %ld x %ld pixels unrotated, %u degrees, %ls\n", (long)info.sizeText.cx,
                (long)info.sizeText.cy, (unsigned)param.tyWM.wAngleDegree,
                param.tyWM.wPlacement ? L"tiled" : L"centred");
        wprintf(L"copies          %d drawn, %d cut by the page edges\n", info.nCopies, info.nCopiesCut);
        if (substituted || info.nMissing > 0)
            exitCode = 1;
    }

    Ink drawn = CountInk(page);
    iBitmap_ScreenPage(&page, &param, pTable, nTableW, nTableH);
    Ink screened = CountInk(page);
    if (drawn.black) {
        wprintf(L"ink box         (%ld, %ld) to (%ld, %ld), %ld x %ld pixels\n", (long)drawn.box.left, (long)drawn.box.top,
                (long)drawn.box.right, (long)drawn.box.bottom, (long)(drawn.box.right - drawn.box.left),
                (long)(drawn.box.bottom - drawn.box.top));
    } else {
        wprintf(L"ink box         none: the page stays white\n");
    }
    BYTE level = WM_DensityLevel(param.tyWM.wDensity);
    unsigned cAtOrBelow = 0;
    for (UINT32 i = 0; i < nTableW * nTableH; i++)
        cAtOrBelow += pTable[i] <= level;
    const HALFTONE_TABLE_INFO* pTableInfo = MISC_HalftoneTableInfo(param.HalftoneType);
    wprintf(L"density         %u%% asks for level %u of table %ls (%u x %u): the table keeps %.4f of the ink\n",
            (unsigned)param.tyWM.wDensity, (unsigned)level, pTableInfo->pszName, (unsigned)nTableW, (unsigned)nTableH,
            (double)cAtOrBelow / (nTableW * nTableH));
    wprintf(L"measured        %llu of %llu ink pixels stay black: %.4f\n", screened.black, drawn.black,
            drawn.black ? (double)screened.black / (double)drawn.black : 0.0);

    if (pszPreview) {
        int longer = page.nWidth > page.nHeight ? page.nWidth : page.nHeight;
        int factor = (longer + c_cxPreviewMax - 1) / c_cxPreviewMax;
        int cx = 0, cy = 0;
        UINT cbStride = 0;
        std::vector<BYTE> pixels = Reduce(page, factor < 1 ? 1 : factor, &cx, &cy, &cbStride);
        if (WritePng(pszPreview, pixels, cx, cy, cbStride)) {
            wprintf(L"preview         %ls: %d x %d pixels, 1:%d\n", pszPreview, cx, cy, factor < 1 ? 1 : factor);
        } else {
            Smctl_Error(L"cannot write the preview %ls", pszPreview);
            exitCode = 2;
        }
    }
    iBitmap_FreePage(&page);
    MISC_FreeHalftoneTable(pTable);
    return exitCode;
}
