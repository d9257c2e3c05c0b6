// Watermark benchmark, the file writing alone: one A4 page (62 header bytes and 4,377,984 bytes
// of rows) written over an existing file and as a new file, in the ways the writer could do it,
// alternated, medians. Usage: wm_write <file> [repeats]
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <algorithm>
#include <string>
#include <vector>

static const DWORD c_cbPage = 4377984;
static BYTE s_Header[62];
static BYTE* s_pPage;

static double NowMs()
{
    LARGE_INTEGER t, f;
    QueryPerformanceCounter(&t);
    QueryPerformanceFrequency(&f);
    return (double)t.QuadPart * 1000.0 / (double)f.QuadPart;
}

static void WriteCrt(LPCWSTR path)
{
    FILE* fp = _wfopen(path, L"wb+");
    if (!fp)
        return;
    fwrite(s_Header, 1, 14, fp);
    fwrite(s_Header + 14, 1, 48, fp);
    fwrite(s_pPage, 1, c_cbPage, fp);
    fclose(fp);
}

static void WriteWin32(LPCWSTR path, DWORD disposition)
{
    HANDLE h = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, disposition,
                           FILE_ATTRIBUTE_NORMAL, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return;
    DWORD cb;
    WriteFile(h, s_Header, 14, &cb, NULL);
    WriteFile(h, s_Header + 14, 48, &cb, NULL);
    WriteFile(h, s_pPage, c_cbPage, &cb, NULL);
    SetEndOfFile(h);
    CloseHandle(h);
}

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2) {
        fwprintf(stderr, L"usage: wm_write <file> [repeats]\n");
        return 2;
    }
    int repeats = argc > 2 ? _wtoi(argv[2]) : 15;
    std::wstring path = argv[1], dir = path.substr(0, path.find_last_of(L"\\/") + 1);
    if (dir.empty())
        dir = L".";
    s_pPage = (BYTE*)HeapAlloc(GetProcessHeap(), 0, c_cbPage);
    if (!s_pPage)
        return 1;
    memset(s_pPage, 0xA5, c_cbPage);
    static const char* const names[] = {
        "C runtime \"wb+\", over an existing file", "C runtime \"wb+\", new file",
        "CREATE_ALWAYS, over an existing file", "CREATE_ALWAYS, new file",
        "OPEN_ALWAYS in place + SetEndOfFile", "temporary file beside + MoveFileEx",
    };
    const int cWays = ARRAYSIZE(names);
    std::vector<double> times[ARRAYSIZE(names)];
    WriteWin32(path.c_str(), CREATE_ALWAYS);
    for (int r = 0; r < repeats; r++) {
        for (int k = 0; k < cWays; k++) {
            if (k == 1 || k == 3)
                DeleteFileW(path.c_str());
            double t0 = NowMs();
            switch (k) {
            case 0: case 1: WriteCrt(path.c_str()); break;
            case 2: case 3: WriteWin32(path.c_str(), CREATE_ALWAYS); break;
            case 4: WriteWin32(path.c_str(), OPEN_ALWAYS); break;
            default: {
                // As the writer does it: a unique name in the folder, then the file replaced.
                WCHAR szTemp[MAX_PATH];
                GetTempFileNameW(dir.c_str(), L"~wm", 0, szTemp);
                WriteWin32(szTemp, TRUNCATE_EXISTING);
                MoveFileExW(szTemp, path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
                break;
            }
            }
            times[k].push_back(NowMs() - t0);
        }
    }
    for (int k = 0; k < cWays; k++) {
        std::sort(times[k].begin(), times[k].end());
        printf("%-42s median %6.2f ms  min %6.2f ms\n", names[k], times[k][times[k].size() / 2], times[k][0]);
    }
    DeleteFileW(path.c_str());
    HeapFree(GetProcessHeap(), 0, s_pPage);
    return 0;
}
