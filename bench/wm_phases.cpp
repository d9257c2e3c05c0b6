// Watermark benchmark, inside one process: runs the "CreateTextBMP" job of each job INI
// several times and prints the median time of the whole job and of each phase, with a plain
// copy of the page's bytes as the yardstick for the screening pass. "cold <job.ini>" runs the job
// once in this fresh process after creating a memory DC (what the GDI floor pays) and prints its
// time: the command's own cost without the differences of process start-up. "fresh" prints what
// this machine charges for memory touched the first time (a page fault a page), which the
// platform's glyphs, the strip bitmap and every other new allocation of a fresh process pay.
#include "bitmap/bitmap.h"
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <algorithm>
#include <vector>

static double NowMs()
{
    LARGE_INTEGER t, f;
    QueryPerformanceCounter(&t);
    QueryPerformanceFrequency(&f);
    return (double)t.QuadPart * 1000.0 / (double)f.QuadPart;
}

static double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

int wmain(int argc, wchar_t** argv)
{
    if (argc == 3 && wcscmp(argv[1], L"cold") == 0) {
        HDC hdc = CreateCompatibleDC(NULL);
        double t0 = NowMs();
        int rc = SM_CreateTextBMPUsingIni_New(argv[2]);
        double ms = NowMs() - t0;
        if (hdc)
            DeleteDC(hdc);
        wprintf(L"cold_ms=%.2f setup_ms=%.2f draw_ms=%.2f screen_ms=%.2f write_ms=%.2f rc=%d\n", ms,
                g_WmPhaseTimes.msSetup, g_WmPhaseTimes.msDraw, g_WmPhaseTimes.msScreen, g_WmPhaseTimes.msWrite, rc);
        return rc == 1 ? 0 : 1;
    }
    if (argc == 2 && wcscmp(argv[1], L"fresh") == 0) {
        const SIZE_T cb = (SIZE_T)8 << 20;
        SYSTEM_INFO si;
        GetSystemInfo(&si);
        volatile BYTE* p = (volatile BYTE*)VirtualAlloc(NULL, cb, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
        if (!p)
            return 1;
        double t0 = NowMs();
        for (SIZE_T i = 0; i < cb; i += si.dwPageSize)
            p[i] = 1;
        double ms = NowMs() - t0;
        VirtualFree((void*)p, 0, MEM_RELEASE);
        wprintf(L"fresh_ms_per_mb=%.3f\n", ms * (double)(1 << 20) / (double)cb);
        return 0;
    }
    if (argc < 3) {
        fwprintf(stderr, L"usage: wm_phases <repeats> <job.ini>... | wm_phases cold <job.ini> | wm_phases fresh\n");
        return 2;
    }
    int repeats = _wtoi(argv[1]);
    if (repeats < 1)
        repeats = 1;
    for (int j = 2; j < argc; j++) {
        WmBitmapParam p;
        if (!MISC_GetPrivateProfileStruct(WM_INI_SECTION, WM_INI_KEY, &p, sizeof(p), argv[j])) {
            fwprintf(stderr, L"wm_phases: no record in %ls\n", argv[j]);
            return 1;
        }
        std::vector<double> total, setup, draw, readBack, screen, write, copy;
        size_t cbPage = (size_t)iBitmap_GetRowBytes(1, p.nWidth) * (size_t)p.nHeight;
        std::vector<BYTE> src(cbPage, 0x5A), dst(cbPage);
        for (int i = 0; i < repeats; i++) {
            double t0 = NowMs();
            int rc = SM_CreateTextBMPUsingIni_New(argv[j]);
            total.push_back(NowMs() - t0);
            if (rc != 1) {
                fwprintf(stderr, L"wm_phases: job %ls gave %d\n", argv[j], rc);
                return 1;
            }
            setup.push_back(g_WmPhaseTimes.msSetup);
            draw.push_back(g_WmPhaseTimes.msDraw);
            readBack.push_back(g_WmPhaseTimes.msReadBack);
            screen.push_back(g_WmPhaseTimes.msScreen);
            write.push_back(g_WmPhaseTimes.msWrite);
            t0 = NowMs();
            memcpy(dst.data(), src.data(), cbPage);
            copy.push_back(NowMs() - t0);
            src[i % cbPage] ^= dst[(i * 7) % cbPage];      // keep the copy from being dropped
        }
        wprintf(L"job=%ls total_ms=%.2f setup_ms=%.2f draw_ms=%.2f readback_ms=%.2f screen_ms=%.2f "
                L"write_ms=%.2f memcpy_ms=%.2f page_bytes=%u\n",
                argv[j], Median(total), Median(setup), Median(draw), Median(readBack), Median(screen),
                Median(write), Median(copy), (unsigned)cbPage);
    }
    return 0;
}
