// smctl status commands: write the status exchange file as the printer driver does, print its
// state, and end a running monitor. The file is found and written only through the program's own
// code (MISC_GetPathName, the profile functions).
#include "tools/smctl/smctl.h"
#include "tools/smctl/smctl_status.h"
#include "app/app.h"
#include "util/misc.h"
#include "util/trace.h"
#include <stdio.h>
#include <stdlib.h>

static const WCHAR c_DefaultClass[] = L"StatusMonitor";

// Resolves the exchange file as the program does (created with its byte-order mark when missing).
static bool OpenExchangeFile(void)
{
    if (g_StatusIniPath[0])
        return true;
    if (!MISC_GetPathName(g_StatusIniPath, ARRAYSIZE(g_StatusIniPath), MISC_BASE_SHARED_DOCS | MISC_MODE_STATUS_INI)) {
        Smctl_Error(L"the status exchange file cannot be found");
        return false;
    }
    return true;
}

static bool Write(LPCWSTR pszSection, LPCWSTR pszKey, LPCWSTR pszValue)
{
    if (!MISC_WriteProfileString(g_StatusIniPath, pszSection, pszKey, pszValue)) {
        Smctl_Error(L"cannot write %ls to %ls (error %lu)", pszKey, g_StatusIniPath, GetLastError());
        return false;
    }
    return true;
}

static bool WriteNumber(LPCWSTR pszSection, LPCWSTR pszKey, long value)
{
    WCHAR szValue[32];
    MISC_Format(szValue, ARRAYSIZE(szValue), L"%ld", value);
    return Write(pszSection, pszKey, szValue);
}

static bool IsNumber(const wchar_t* s)
{
    if (!s || !*s)
        return false;
    wchar_t* end = NULL;
    wcstol(s, &end, 10);
    return end && *end == 0;
}

static unsigned long long Now(void)
{
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    return ((unsigned long long)ft.dwHighDateTime << 32) | ft.dwLowDateTime;
}

// A "LastMsg" different from the one in the file (never 0).
static long FreshLastMsg(void)
{
    long last = (long)SM_GetIniInt(SM_SECTION_PRINTER, L"LastMsg", 0);
    long next = last + 1;
    if (next <= 0)
        next = 1;
    return next;
}

// One announcement in the driver's order: the list, then its sequence value, then the message.
static bool Announce(LPCWSTR pszStatus, long lastMsg)
{
    return Write(SM_SECTION_PRINTER, L"Status", pszStatus) && WriteNumber(SM_SECTION_PRINTER, L"LastMsg", lastMsg) &&
           WriteNumber(SM_SECTION_PRINTER, L"Message", WM_SM_PSTATUS);
}

bool SmctlStatus_Open(void)
{
    return OpenExchangeFile();
}

bool SmctlStatus_Write(LPCWSTR pszSection, LPCWSTR pszKey, LPCWSTR pszValue)
{
    return OpenExchangeFile() && Write(pszSection, pszKey, pszValue);
}

bool SmctlStatus_Announce(LPCWSTR pszStatus)
{
    return OpenExchangeFile() && Announce(pszStatus, FreshLastMsg());
}

int Smctl_Printer(int argc, wchar_t** argv)
{
    if (argc != 1) {
        Smctl_Error(L"usage: printer %ls", SMCTL_PRINTER_USAGE);
        return 2;
    }
    return OpenExchangeFile() && Write(SM_SECTION_PRINTER, L"PrinterName", argv[0]) ? 0 : 1;
}

int Smctl_Announce(int argc, wchar_t** argv)
{
    if (argc < 1 || argc > 2 || (argc == 2 && !IsNumber(argv[1]))) {
        Smctl_Error(L"usage: announce %ls", SMCTL_ANNOUNCE_USAGE);
        return 2;
    }
    if (!OpenExchangeFile())
        return 1;
    long lastMsg = argc == 2 ? wcstol(argv[1], NULL, 10) : FreshLastMsg();
    if (!Announce(argv[0], lastMsg))
        return 1;
    // The moment the announcement was complete, for the benchmark (100 ns units since 1601).
    wprintf(L"LastMsg=%ld t=%llu\n", lastMsg, Now());
    return 0;
}

int Smctl_Reset(int argc, wchar_t**)
{
    if (argc != 0) {
        Smctl_Error(L"usage: reset");
        return 2;
    }
    return OpenExchangeFile() && WriteNumber(SM_SECTION_PRINTER, L"Message", WM_SM_EXIT) ? 0 : 1;
}

static int WriteNumberCommand(int argc, wchar_t** argv, LPCWSTR pszSection, LPCWSTR pszKey, LPCWSTR pszUsage,
                              LPCWSTR pszName)
{
    if (argc != 1 || !IsNumber(argv[0])) {
        Smctl_Error(L"usage: %ls %ls", pszName, pszUsage);
        return 2;
    }
    return OpenExchangeFile() && WriteNumber(pszSection, pszKey, wcstol(argv[0], NULL, 10)) ? 0 : 1;
}

int Smctl_JobId(int argc, wchar_t** argv)
{
    return WriteNumberCommand(argc, argv, SM_SECTION_JOB, L"JobID", SMCTL_JOBID_USAGE, L"jobid");
}

int Smctl_ShowQel(int argc, wchar_t** argv)
{
    return WriteNumberCommand(argc, argv, SM_SECTION_PRINTER, L"ShowQelSM", SMCTL_SHOWQEL_USAGE, L"showqel");
}

int Smctl_Message(int argc, wchar_t** argv)
{
    return WriteNumberCommand(argc, argv, SM_SECTION_PRINTER, L"Message", SMCTL_MESSAGE_USAGE, L"message");
}

int Smctl_State(int argc, wchar_t** argv)
{
    if (argc > 1) {
        Smctl_Error(L"usage: state %ls", SMCTL_STATE_USAGE);
        return 2;
    }
    if (!OpenExchangeFile())
        return 1;
    static const struct {
        LPCWSTR pszSection;
        LPCWSTR pszKey;
    } c_Keys[] = {
        { SM_SECTION_PRINTER, L"PrinterName" }, { SM_SECTION_PRINTER, L"Status" },
        { SM_SECTION_PRINTER, L"Message" },     { SM_SECTION_PRINTER, L"LastMsg" },
        { SM_SECTION_PRINTER, L"ContinuePrint" }, { SM_SECTION_PRINTER, L"ShowQelSM" },
        { SM_SECTION_JOB, L"JobID" },
    };
    wprintf(L"file          %ls\n", g_StatusIniPath);
    for (const auto& k : c_Keys) {
        WCHAR szValue[SM_CCH_PATH] = L"";
        WCHAR szProbe[4] = L"";
        // A key that is absent reads as the default "?"; a key that is present may be empty.
        GetPrivateProfileStringW(k.pszSection, k.pszKey, L"?", szProbe, ARRAYSIZE(szProbe), g_StatusIniPath);
        bool present = !(szProbe[0] == L'?' && szProbe[1] == 0);
        SM_GetIniString(k.pszSection, k.pszKey, szValue, ARRAYSIZE(szValue));
        wprintf(L"%-13ls %ls\n", k.pszKey, present ? szValue : L"(absent)");
    }
    LPCWSTR pszClass = argc == 1 ? argv[0] : c_DefaultClass;
    HWND hWnd = FindWindowW(pszClass, NULL);
    if (hWnd)
        wprintf(L"monitor       running (class %ls, window %p)\n", pszClass, (void*)hWnd);
    else
        wprintf(L"monitor       not running (class %ls)\n", pszClass);
    return 0;
}

int Smctl_Exit(int argc, wchar_t** argv)
{
    if (argc > 1) {
        Smctl_Error(L"usage: exit %ls", SMCTL_EXIT_USAGE);
        return 2;
    }
    LPCWSTR pszClass = argc == 1 ? argv[0] : c_DefaultClass;
    HWND hWnd = FindWindowW(pszClass, NULL);
    if (!hWnd) {
        Smctl_Error(L"no monitor of class %ls is running", pszClass);
        return 1;
    }
    if (!PostMessageW(hWnd, WM_SM_EXIT, 0, 0)) {
        Smctl_Error(L"cannot post to the monitor (error %lu)", GetLastError());
        return 1;
    }
    return 0;
}

int Smctl_Stress(int argc, wchar_t** argv)
{
    if (argc != 1 || !IsNumber(argv[0]) || wcstol(argv[0], NULL, 10) < 1) {
        Smctl_Error(L"usage: stress %ls", SMCTL_STRESS_USAGE);
        return 2;
    }
    if (!OpenExchangeFile())
        return 1;
    // Each list differs from the one before: a mapped fault first, then a running number.
    static const long c_FirstCodes[] = { 33, 5, 7, 32, 34, 1, 126, 130, 135, 2 };
    long count = wcstol(argv[0], NULL, 10);
    long lastMsg = FreshLastMsg();
    WCHAR szStatus[64] = L"";
    int failures = 0;
    for (long i = 0; i < count; i++) {
        MISC_Format(szStatus, ARRAYSIZE(szStatus), L"%ld|%ld|", c_FirstCodes[i % ARRAYSIZE(c_FirstCodes)], 1000 + i);
        if (!Announce(szStatus, lastMsg))
            failures++;
        if (++lastMsg <= 0)
            lastMsg = 1;
    }
    wprintf(L"last %ls\n", szStatus);
    if (failures)
        Smctl_Error(L"%d announcements could not be written", failures);
    return failures ? 1 : 0;
}
