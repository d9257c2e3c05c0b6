// The Windows side of the monitor benchmark (bench/monitor_bench.sh): looks at a running monitor
// from outside, as a user's tools would, and times announcements against the spooler double.
//
//   monitor_probe mem <class>                      working set, private bytes, GDI/USER objects, handles
//   monitor_probe times <class>                    the monitor's own CPU time (user, kernel) in ms
//   monitor_probe latency <count> <smctl> <calls.log>
//                                                  announcements by smctl; the delay to the SetPrinterW
//                                                  that follows each (median, worst)
#include <windows.h>
#include <psapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <algorithm>
#include <string>
#include <vector>
#include "tests/spooler/spooler_format.h"

static HANDLE OpenMonitor(const wchar_t* cls, DWORD* pPid)
{
    HWND h = FindWindowW(cls, NULL);
    if (!h) {
        fwprintf(stderr, L"monitor_probe: no window of class %ls\n", cls);
        return NULL;
    }
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    if (pPid)
        *pPid = pid;
    return OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
}

static int Mem(const wchar_t* cls)
{
    DWORD pid = 0;
    HANDLE h = OpenMonitor(cls, &pid);
    if (!h)
        return 1;
    // Wine fills the working set for another process; private bytes, GDI and USER object counts
    // read as 0 there, so the benchmark takes those figures from /proc instead.
    PROCESS_MEMORY_COUNTERS_EX pmc = {};
    pmc.cb = sizeof(pmc);
    GetProcessMemoryInfo(h, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&pmc), sizeof(pmc));
    wprintf(L"pid=%lu workingset_kb=%llu private_kb=%llu gdi=%lu user=%lu\n", pid,
            (unsigned long long)pmc.WorkingSetSize / 1024, (unsigned long long)pmc.PrivateUsage / 1024,
            GetGuiResources(h, GR_GDIOBJECTS), GetGuiResources(h, GR_USEROBJECTS));
    CloseHandle(h);
    return 0;
}

static unsigned long long Ms(const FILETIME& ft)
{
    return ((((unsigned long long)ft.dwHighDateTime) << 32) | ft.dwLowDateTime) / 10000;
}

static int Times(const wchar_t* cls)
{
    HANDLE h = OpenMonitor(cls, NULL);
    if (!h)
        return 1;
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(h, &created, &exited, &kernel, &user)) {
        CloseHandle(h);
        return 1;
    }
    wprintf(L"user_ms=%llu kernel_ms=%llu\n", Ms(user), Ms(kernel));
    CloseHandle(h);
    return 0;
}

// Runs smctl with the arguments and returns its standard output.
static std::string RunCapture(const std::wstring& exe, const std::wstring& args)
{
    SECURITY_ATTRIBUTES sa = { sizeof(sa), NULL, TRUE };
    HANDLE hRead = NULL, hWrite = NULL;
    if (!CreatePipe(&hRead, &hWrite, &sa, 0))
        return std::string();
    SetHandleInformation(hRead, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = hWrite;
    si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION pi = {};
    std::wstring cmd = L"\"" + exe + L"\" " + args;
    std::vector<WCHAR> buf(cmd.begin(), cmd.end());
    buf.push_back(0);
    std::string out;
    if (CreateProcessW(NULL, buf.data(), NULL, NULL, TRUE, 0, NULL, NULL, &si, &pi)) {
        CloseHandle(hWrite);
        hWrite = NULL;
        char chunk[256];
        DWORD cb = 0;
        while (ReadFile(hRead, chunk, sizeof(chunk), &cb, NULL) && cb)
            out.append(chunk, cb);
        WaitForSingleObject(pi.hProcess, INFINITE);
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
    }
    if (hWrite)
        CloseHandle(hWrite);
    CloseHandle(hRead);
    return out;
}

static std::vector<spd::Call> SetPrinterCalls(const std::wstring& log)
{
    std::vector<spd::Call> calls;
    for (const std::string& line : spd::ReadLines(log)) {
        spd::Call c;
        if (spd::Parse(line, &c) && c.function == "SetPrinterW")
            calls.push_back(c);
    }
    return calls;
}

static int Latency(int count, const std::wstring& smctl, const std::wstring& log)
{
    std::vector<double> delays;
    int missed = 0;
    for (int i = 0; i < count; i++) {
        // Spread the announcements over the phase of the monitor's 250 ms timer.
        Sleep((DWORD)((i * 37) % 250));
        size_t before = SetPrinterCalls(log).size();
        // Alternate first codes map to different status words, so each list reaches the spooler.
        std::string out = RunCapture(smctl, i % 2 ? L"announce 5|33|" : L"announce 33|5|");
        size_t at = out.find("t=");
        if (at == std::string::npos) {
            fwprintf(stderr, L"monitor_probe: smctl printed no time\n");
            return 1;
        }
        unsigned long long tAnnounce = strtoull(out.c_str() + at + 2, NULL, 10);
        DWORD start = GetTickCount();
        std::vector<spd::Call> calls;
        for (;;) {
            calls = SetPrinterCalls(log);
            if (calls.size() > before || GetTickCount() - start > 3000)
                break;
            Sleep(2);
        }
        if (calls.size() <= before) {
            missed++;
            continue;
        }
        unsigned long long tCall = strtoull(calls[before].Arg("t").c_str(), NULL, 10);
        double ms = tCall >= tAnnounce ? (double)(tCall - tAnnounce) / 10000.0 : 0.0;
        delays.push_back(ms);
    }
    if (delays.empty()) {
        fwprintf(stderr, L"monitor_probe: no spooler call followed any announcement\n");
        return 1;
    }
    std::vector<double> sorted = delays;
    std::sort(sorted.begin(), sorted.end());
    double median = sorted.size() % 2 ? sorted[sorted.size() / 2]
                                      : (sorted[sorted.size() / 2 - 1] + sorted[sorted.size() / 2]) / 2;
    wprintf(L"count=%d missed=%d median_ms=%.1f worst_ms=%.1f best_ms=%.1f\n", (int)delays.size(), missed, median,
            sorted.back(), sorted.front());
    return missed ? 1 : 0;
}

int wmain(int argc, wchar_t** argv)
{
    if (argc == 3 && wcscmp(argv[1], L"mem") == 0)
        return Mem(argv[2]);
    if (argc == 3 && wcscmp(argv[1], L"times") == 0)
        return Times(argv[2]);
    if (argc == 5 && wcscmp(argv[1], L"latency") == 0)
        return Latency(_wtoi(argv[2]), argv[3], argv[4]);
    fwprintf(stderr, L"usage: monitor_probe mem|times <class> | latency <count> <smctl.exe> <calls.log>\n");
    return 2;
}
