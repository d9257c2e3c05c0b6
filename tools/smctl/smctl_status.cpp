// smctl status commands: write the status exchange file as the printer driver does, print its
// state, and end a running monitor. The file is found and written only through the program's own
// code (MISC_GetPathName, the profile functions).
#include "tools/smctl/smctl.h"
#include "tools/smctl/smctl_status.h"
#include "app/app.h"
#include "util/misc.h"
#include "util/trace.h"
#include "tools/smctl/smctl_ui.h"
#include <limits.h>

// Resolves the exchange file as the program does (created with its byte-order mark when missing).
static bool OpenExchangeFile(void)
{
    static bool s_made;
    if (s_made)
        return true;
    if (!MISC_GetPathName(g_StatusIniPath, ARRAYSIZE(g_StatusIniPath), MISC_BASE_SHARED_DOCS | MISC_MODE_STATUS_INI)) {
        Smctl_Error(L"the status exchange file cannot be found; check the shared documents folder");
        return false;
    }
    s_made = true;
    return true;
}

bool SmctlStatus_Locate(void)
{
    if (g_StatusIniPath[0])
        return true;
    if (!MISC_GetPathName(g_StatusIniPath, ARRAYSIZE(g_StatusIniPath), MISC_BASE_SHARED_DOCS | MISC_MODE_STATUS_NAME)) {
        Smctl_Error(L"the status exchange file cannot be found; check the shared documents folder");
        return false;
    }
    return true;
}

static bool Write(LPCWSTR pszSection, LPCWSTR pszKey, LPCWSTR pszValue)
{
    if (!MISC_WriteProfileString(g_StatusIniPath, pszSection, pszKey, pszValue)) {
        Smctl_Error(L"cannot write %s to %s (error %lu); check that the file is writable", pszKey, g_StatusIniPath,
                    GetLastError());
        return false;
    }
    return true;
}

static bool WriteNumber(LPCWSTR pszSection, LPCWSTR pszKey, long long value)
{
    WCHAR szValue[32];
    MISC_Format(szValue, ARRAYSIZE(szValue), L"%I64d", value);
    return Write(pszSection, pszKey, szValue);
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
    if (argc != 1)
        return Smctl_Usage(L"printer", L"one printer name");
    return OpenExchangeFile() && Write(SM_SECTION_PRINTER, L"PrinterName", argv[0]) ? 0 : 1;
}

int Smctl_Announce(int argc, wchar_t** argv)
{
    if (argc < 1 || argc > 2)
        return Smctl_Usage(L"announce", L"a status list and at most a \"LastMsg\"");
    long long lastMsg = 0;
    if (argc == 2 && !Smctl_Number(L"announce", L"lastmsg", argv[1], LONG_MIN, LONG_MAX, &lastMsg))
        return SMCTL_EXIT_USAGE;
    if (!OpenExchangeFile())
        return 1;
    if (argc == 1)
        lastMsg = FreshLastMsg();
    if (!Announce(argv[0], (long)lastMsg))
        return 1;
    // The moment the announcement was complete, for the benchmark (100 ns units since 1601).
    Smctl_Print(L"LastMsg=%ld t=%I64u\n", (long)lastMsg, Now());
    return 0;
}

int Smctl_Reset(int argc, wchar_t**)
{
    if (argc != 0)
        return Smctl_Usage(L"reset", L"no arguments");
    return OpenExchangeFile() && WriteNumber(SM_SECTION_PRINTER, L"Message", WM_SM_EXIT) ? 0 : 1;
}

// Each number a command writes, with the range of the field that reads it.
static int WriteNumberCommand(int argc, wchar_t** argv, LPCWSTR pszCommand, LPCWSTR pszSection, LPCWSTR pszKey,
                              long long minimum, long long maximum)
{
    long long v = 0;
    if (argc != 1)
        return Smctl_Usage(pszCommand, L"one number");
    if (!Smctl_Number(pszCommand, pszKey, argv[0], minimum, maximum, &v))
        return SMCTL_EXIT_USAGE;
    return OpenExchangeFile() && WriteNumber(pszSection, pszKey, v) ? 0 : 1;
}

int Smctl_JobId(int argc, wchar_t** argv)
{
    return WriteNumberCommand(argc, argv, L"jobid", SM_SECTION_JOB, L"JobID", 0, INT_MAX);
}

int Smctl_ShowQel(int argc, wchar_t** argv)
{
    return WriteNumberCommand(argc, argv, L"showqel", SM_SECTION_PRINTER, L"ShowQelSM", 0, 1);
}

int Smctl_Message(int argc, wchar_t** argv)
{
    return WriteNumberCommand(argc, argv, L"message", SM_SECTION_PRINTER, L"Message", 0, INT_MAX);
}

int Smctl_State(int argc, wchar_t** argv)
{
    if (argc > 1)
        return Smctl_Usage(L"state", L"at most a window class");
    if (!SmctlStatus_Locate())
        return SMCTL_EXIT_USAGE;
    static const struct {
        LPCWSTR pszSection;
        LPCWSTR pszKey;
    } c_Keys[] = {
        { SM_SECTION_PRINTER, L"PrinterName" }, { SM_SECTION_PRINTER, L"Status" },
        { SM_SECTION_PRINTER, L"Message" },     { SM_SECTION_PRINTER, L"LastMsg" },
        { SM_SECTION_PRINTER, L"ContinuePrint" }, { SM_SECTION_PRINTER, L"ShowQelSM" },
        { SM_SECTION_JOB, L"JobID" },
    };
    std::string bytes;
    SMCTL_ENCODING enc = Smctl_ReadFile(g_StatusIniPath, &bytes);
    Smctl_Print(L"file          %s (%s)\n", g_StatusIniPath, Smctl_EncodingName(enc));
    if (enc != SMCTL_ENC_UTF16LE && enc != SMCTL_ENC_MISSING)
        Smctl_Print(L"              not UTF-16: a starting monitor replaces it with an empty one\n");
    for (const auto& k : c_Keys) {
        WCHAR szValue[SM_CCH_PATH] = L"";
        WCHAR szProbe[4] = L"";
        // A key that is absent reads as the default "?"; a key that is present may be empty.
        GetPrivateProfileStringW(k.pszSection, k.pszKey, L"?", szProbe, ARRAYSIZE(szProbe), g_StatusIniPath);
        bool present = !(szProbe[0] == L'?' && szProbe[1] == 0);
        SM_GetIniString(k.pszSection, k.pszKey, szValue, ARRAYSIZE(szValue));
        Smctl_Print(L"%-13s %s\n", k.pszKey, present ? szValue : L"(absent)");
    }
    WCHAR szClass[SM_CCH_PATH];
    SmctlUi_MonitorClass(argc == 1 ? argv[0] : NULL, szClass, ARRAYSIZE(szClass));
    HWND hWnd = FindWindowW(szClass, NULL);
    if (hWnd)
        Smctl_Print(L"monitor       running (class %s, window %p)\n", szClass, (void*)hWnd);
    else
        Smctl_Print(L"monitor       not running (class %s)\n", szClass);
    return 0;
}

int Smctl_Exit(int argc, wchar_t** argv)
{
    if (argc > 1)
        return Smctl_Usage(L"exit", L"at most a window class");
    WCHAR szClass[SM_CCH_PATH];
    SmctlUi_MonitorClass(argc == 1 ? argv[0] : NULL, szClass, ARRAYSIZE(szClass));
    HWND hWnd = FindWindowW(szClass, NULL);
    if (!hWnd) {
        Smctl_Error(L"no monitor of class %s is running; start it with \"StatusMonitor.exe install\"", szClass);
        return 1;
    }
    if (!PostMessageW(hWnd, WM_SM_EXIT, 0, 0)) {
        Smctl_Error(L"cannot post to the monitor (error %lu); is it running as another user?", GetLastError());
        return 1;
    }
    return 0;
}

int Smctl_Stress(int argc, wchar_t** argv)
{
    long long count = 0;
    if (argc != 1)
        return Smctl_Usage(L"stress", L"one count");
    if (!Smctl_Number(L"stress", L"count", argv[0], 1, 1000000, &count))
        return SMCTL_EXIT_USAGE;
    if (!OpenExchangeFile())
        return 1;
    // Each list differs from the one before: a mapped fault first, then a running number.
    static const long c_FirstCodes[] = { 33, 5, 7, 32, 34, 1, 126, 130, 135, 2 };
    long lastMsg = FreshLastMsg();
    WCHAR szStatus[64] = L"";
    int failures = 0;
    for (long i = 0; i < (long)count; i++) {
        MISC_Format(szStatus, ARRAYSIZE(szStatus), L"%ld|%ld|", c_FirstCodes[i % ARRAYSIZE(c_FirstCodes)], 1000 + i);
        if (!Announce(szStatus, lastMsg))
            failures++;
        if (++lastMsg <= 0)
            lastMsg = 1;
    }
    Smctl_Print(L"last %s\n", szStatus);
    if (failures)
        Smctl_Error(L"%d announcements could not be written; check that the file is writable", failures);
    return failures ? 1 : 0;
}
