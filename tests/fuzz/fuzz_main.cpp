// The fuzz driver's runner: picks the targets, runs a number of inputs (or seconds) of each,
// reports a fault on a guard page or any other crash with the input that caused it, and prints
// the figures of the pass.
//
//   sm_fuzz.exe <target|all> [--inputs N] [--seconds S] [--seed S] [--start I] [--work DIR]
//
// Exit code 0 when every input ran and every check held, 1 for a failed check, 3 for a crash.
#include "fuzz.h"
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

const FuzzTarget* const c_Targets[] = {
    &g_FuzzFaults, &g_FuzzWmRecord, &g_FuzzCover, &g_FuzzCatalogue, &g_FuzzTrace,
};

const size_t c_MaxGuards = 64;
const int    c_MaxFailuresShown = 10;
const int    c_ExitCheck = 1;
const int    c_ExitCrash = 3;

// Guard pages of the live buffers, read by the exception handler.
ULONG_PTR g_GuardPages[c_MaxGuards];
volatile LONG g_GuardCount;

// The case under way, for the crash report.
const FuzzTarget* g_pCurrent;
uint64_t g_CurrentIndex;
uint64_t g_Seed;
uint64_t g_Failures;

uint64_t CaseSeed(uint64_t seed, const char* target, uint64_t index)
{
    uint64_t h = 1469598103934665603ull;            // FNV-1a of the target's name
    for (const char* p = target; *p; p++)
        h = (h ^ (unsigned char)*p) * 1099511628211ull;
    FuzzRng mix(seed ^ h ^ (index * 0xD1B54A32D192ED03ull));
    return mix.Next();
}

void ReportCrash(DWORD code, ULONG_PTR address, bool onGuard)
{
    const char* target = g_pCurrent ? g_pCurrent->name : "?";
    fprintf(stderr, "\nCRASH in target %s, input %llu (seed %llu): exception 0x%08lX%s at address %p\n",
            target, (unsigned long long)g_CurrentIndex, (unsigned long long)g_Seed, (unsigned long)code,
            onGuard ? " on a guard page" : "", (void*)address);
    if (g_pCurrent && g_pCurrent->lastInput) {
        std::vector<BYTE>* pInput = g_pCurrent->lastInput();
        char name[MAX_PATH];
        snprintf(name, sizeof(name), "fuzz-crash-%s-%llu.bin", target, (unsigned long long)g_CurrentIndex);
        FILE* fp = fopen(name, "wb");
        if (fp) {
            if (pInput && !pInput->empty())
                fwrite(pInput->data(), 1, pInput->size(), fp);
            fclose(fp);
            fprintf(stderr, "input (%u bytes) saved as %s\n", pInput ? (unsigned)pInput->size() : 0u, name);
        }
    }
    fprintf(stderr, "repeat with: sm_fuzz.exe %s --seed %llu --start %llu --inputs 1\n", target,
            (unsigned long long)g_Seed, (unsigned long long)g_CurrentIndex);
    fflush(stderr);
    TerminateProcess(GetCurrentProcess(), c_ExitCrash);
}

// First chance: an access to a guard page is a fault of the code under test even where a
// library would catch it (some string functions swallow access violations).
LONG CALLBACK GuardHandler(EXCEPTION_POINTERS* pInfo)
{
    const EXCEPTION_RECORD* r = pInfo->ExceptionRecord;
    if (r->ExceptionCode == EXCEPTION_ACCESS_VIOLATION && r->NumberParameters >= 2 &&
        GuardBuffer::IsGuardAddress(r->ExceptionInformation[1]))
        ReportCrash(r->ExceptionCode, r->ExceptionInformation[1], true);
    return EXCEPTION_CONTINUE_SEARCH;
}

LONG WINAPI LastChanceHandler(EXCEPTION_POINTERS* pInfo)
{
    const EXCEPTION_RECORD* r = pInfo->ExceptionRecord;
    ULONG_PTR address = r->NumberParameters >= 2 ? r->ExceptionInformation[1] : (ULONG_PTR)r->ExceptionAddress;
    ReportCrash(r->ExceptionCode, address, false);
    return EXCEPTION_EXECUTE_HANDLER;
}

void Usage()
{
    fprintf(stderr, "usage: sm_fuzz.exe <target|all> [--inputs N] [--seconds S] [--seed S] [--start I] [--work DIR]\n"
                    "targets:\n");
    for (const FuzzTarget* t : c_Targets)
        fprintf(stderr, "  %-10s %s\n", t->name, t->what);
}

std::wstring DefaultWorkDir(const char* target)
{
    WCHAR szTemp[MAX_PATH] = L"";
    GetTempPathW(ARRAYSIZE(szTemp), szTemp);
    std::wstring dir = std::wstring(szTemp) + L"sm_fuzz_";
    for (const char* p = target; *p; p++)
        dir += (wchar_t)*p;
    dir += L"_" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(dir.c_str(), NULL);
    return dir + L"\\";
}

} // namespace

// GuardBuffer ----------------------------------------------------------------------------------

GuardBuffer::GuardBuffer(size_t cbUsable)
{
    SYSTEM_INFO si;
    GetSystemInfo(&si);
    size_t page = si.dwPageSize;
    size_t cbPages = (cbUsable + page - 1) / page * page;
    m_pBase = (BYTE*)VirtualAlloc(NULL, cbPages + page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    if (!m_pBase) {
        fprintf(stderr, "VirtualAlloc of %u bytes failed\n", (unsigned)(cbPages + page));
        ExitProcess(2);
    }
    m_pGuard = m_pBase + cbPages;
    DWORD old = 0;
    if (!VirtualProtect(m_pGuard, page, PAGE_NOACCESS, &old)) {
        fprintf(stderr, "VirtualProtect failed\n");
        ExitProcess(2);
    }
    m_cbUsable = cbPages;
    LONG slot = InterlockedIncrement(&g_GuardCount) - 1;
    if (slot >= (LONG)c_MaxGuards) {
        fprintf(stderr, "too many guard buffers\n");
        ExitProcess(2);
    }
    g_GuardPages[slot] = (ULONG_PTR)m_pGuard;
}

GuardBuffer::~GuardBuffer()
{
    // The targets keep their buffers for the whole process; a released region's page stays in
    // the table, where it can only make a later fault at that address count as a guard fault.
    VirtualFree(m_pBase, 0, MEM_RELEASE);
}

bool GuardBuffer::IsGuardAddress(ULONG_PTR address)
{
    SYSTEM_INFO si;
    GetSystemInfo(&si);
    LONG n = g_GuardCount;
    for (LONG i = 0; i < n && i < (LONG)c_MaxGuards; i++) {
        if (address >= g_GuardPages[i] && address < g_GuardPages[i] + si.dwPageSize)
            return true;
    }
    return false;
}

void FuzzFail(const char* target, uint64_t index, const std::string& what)
{
    g_Failures++;
    if (g_Failures <= (uint64_t)c_MaxFailuresShown)
        fprintf(stderr, "CHECK FAILED in target %s, input %llu (seed %llu): %s\n", target,
                (unsigned long long)index, (unsigned long long)g_Seed, what.c_str());
}

int main(int argc, char** argv)
{
    if (argc < 2) {
        Usage();
        return 2;
    }
    uint64_t inputs = 0;
    double seconds = 0;
    uint64_t start = 0;
    g_Seed = 1;
    std::wstring workDir;
    for (int i = 2; i < argc; i++) {
        if (!strcmp(argv[i], "--inputs") && i + 1 < argc)
            inputs = strtoull(argv[++i], NULL, 10);
        else if (!strcmp(argv[i], "--seconds") && i + 1 < argc)
            seconds = atof(argv[++i]);
        else if (!strcmp(argv[i], "--seed") && i + 1 < argc)
            g_Seed = strtoull(argv[++i], NULL, 10);
        else if (!strcmp(argv[i], "--start") && i + 1 < argc)
            start = strtoull(argv[++i], NULL, 10);
        else if (!strcmp(argv[i], "--work") && i + 1 < argc) {
            const char* p = argv[++i];
            workDir.assign(p, p + strlen(p));
            if (!workDir.empty() && workDir.back() != L'\\')
                workDir += L'\\';
        } else {
            Usage();
            return 2;
        }
    }
    if (inputs == 0 && seconds <= 0)
        inputs = 1000;

    std::vector<const FuzzTarget*> chosen;
    for (const FuzzTarget* t : c_Targets) {
        if (!strcmp(argv[1], "all") || !strcmp(argv[1], t->name))
            chosen.push_back(t);
    }
    if (chosen.empty()) {
        Usage();
        return 2;
    }

    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    AddVectoredExceptionHandler(1, GuardHandler);
    SetUnhandledExceptionFilter(LastChanceHandler);

    for (const FuzzTarget* t : chosen) {
        std::wstring dir = workDir.empty() ? DefaultWorkDir(t->name) : workDir;
        CreateDirectoryW(dir.c_str(), NULL);
        g_pCurrent = t;
        g_CurrentIndex = 0;
        t->init(dir);
        uint64_t failuresBefore = g_Failures;
        g_FuzzFileSeconds = 0;
        LARGE_INTEGER freq, t0, now;
        QueryPerformanceFrequency(&freq);
        QueryPerformanceCounter(&t0);
        uint64_t done = 0;
        for (;;) {
            if (inputs && done >= inputs)
                break;
            if (seconds > 0 && (done & 63) == 0) {
                QueryPerformanceCounter(&now);
                if ((double)(now.QuadPart - t0.QuadPart) / freq.QuadPart >= seconds)
                    break;
            }
            g_CurrentIndex = start + done;
            FuzzRng rng(CaseSeed(g_Seed, t->name, g_CurrentIndex));
            t->run(rng, g_CurrentIndex);
            done++;
        }
        QueryPerformanceCounter(&now);
        double elapsed = (double)(now.QuadPart - t0.QuadPart) / freq.QuadPart;
        printf("fuzz %-10s %llu inputs in %.1f s (%.0f per second; writing input files %.1f s), seed %llu, "
               "crashes 0, failed checks %llu\n",
               t->name, (unsigned long long)done, elapsed, elapsed > 0 ? done / elapsed : 0.0, g_FuzzFileSeconds,
               (unsigned long long)g_Seed, (unsigned long long)(g_Failures - failuresBefore));
        fflush(stdout);
    }
    g_pCurrent = NULL;
    return g_Failures ? c_ExitCheck : 0;
}
