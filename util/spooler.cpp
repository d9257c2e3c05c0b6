// The spooler functions the program calls, bound to winspool.drv on first use instead of at
// start-up: loading the spooler costs every process tens of milliseconds and megabytes, and most
// commands never print. The library is found the way an import would find it (the program's
// folder first, then the system folder) and stays loaded once found. When it or one of its
// functions cannot be had, the call fails as the spooler's own failures do (FALSE, 0 or an error
// code, with the reason in the last error) instead of ending the process.
#include <windows.h>
#include <winspool.h>
#include "util/trace.h"

enum SPOOLER_FN {
    SPL_OpenPrinterW, SPL_OpenPrinterA, SPL_ClosePrinter, SPL_GetPrinterW, SPL_SetPrinterW,
    SPL_EnumJobsW, SPL_SetJobW, SPL_StartDocPrinterW, SPL_StartPagePrinter, SPL_WritePrinter,
    SPL_EndPagePrinter, SPL_EndDocPrinter, SPL_AbortPrinter, SPL_SetPrinterDataW, SPL_COUNT
};

// Export names, in the order of SPOOLER_FN.
static const char* const c_SpoolerExports[SPL_COUNT] = {
    "OpenPrinterW", "OpenPrinterA", "ClosePrinter", "GetPrinterW", "SetPrinterW",
    "EnumJobsW", "SetJobW", "StartDocPrinterW", "StartPagePrinter", "WritePrinter",
    "EndPagePrinter", "EndDocPrinter", "AbortPrinter", "SetPrinterDataW",
};
static const WCHAR c_szSpoolerDll[] = L"winspool.drv";

static HMODULE g_hSpooler;
static void* g_SpoolerFns[SPL_COUNT];

// The function's address, or NULL with the last error saying why.
static void* SpoolerFn(SPOOLER_FN fn)
{
    if (g_SpoolerFns[fn])
        return g_SpoolerFns[fn];
    if (!g_hSpooler) {
        g_hSpooler = LoadLibraryW(c_szSpoolerDll);
        if (!g_hSpooler) {
            DWORD err = GetLastError();
            TRACE_Print(TRACE_LEVEL_ERROR, L"load %s fail! rc = %d", c_szSpoolerDll, (int)err);
            SetLastError(err ? err : ERROR_MOD_NOT_FOUND);
            return NULL;
        }
    }
    void* p = reinterpret_cast<void*>(GetProcAddress(g_hSpooler, c_SpoolerExports[fn]));
    if (!p) {
        DWORD err = GetLastError();
        TRACE_Print(TRACE_LEVEL_ERROR, L"spooler function %S missing! rc = %d", c_SpoolerExports[fn], (int)err);
        SetLastError(err ? err : ERROR_PROC_NOT_FOUND);
        return NULL;
    }
    g_SpoolerFns[fn] = p;
    return p;
}

// Calls the resolved function with the wrapper's own signature, or returns failValue.
#define SPOOLER_CALL(fn, type, failValue, ...)                          \
    do {                                                                \
        type pfn = reinterpret_cast<type>(SpoolerFn(fn));               \
        return pfn ? pfn(__VA_ARGS__) : (failValue);                    \
    } while (0)

// The failure value of SetPrinterDataW is an error code, not a flag.
static DWORD LastErrorOr(DWORD fallback)
{
    DWORD err = GetLastError();
    return err ? err : fallback;
}

extern "C" {

WINBOOL WINAPI OpenPrinterW(LPWSTR pPrinterName, LPHANDLE phPrinter, LPPRINTER_DEFAULTSW pDefault)
{
    typedef WINBOOL (WINAPI *PFN)(LPWSTR, LPHANDLE, LPPRINTER_DEFAULTSW);
    SPOOLER_CALL(SPL_OpenPrinterW, PFN, FALSE, pPrinterName, phPrinter, pDefault);
}

WINBOOL WINAPI OpenPrinterA(LPSTR pPrinterName, LPHANDLE phPrinter, LPPRINTER_DEFAULTSA pDefault)
{
    typedef WINBOOL (WINAPI *PFN)(LPSTR, LPHANDLE, LPPRINTER_DEFAULTSA);
    SPOOLER_CALL(SPL_OpenPrinterA, PFN, FALSE, pPrinterName, phPrinter, pDefault);
}

WINBOOL WINAPI ClosePrinter(HANDLE hPrinter)
{
    typedef WINBOOL (WINAPI *PFN)(HANDLE);
    SPOOLER_CALL(SPL_ClosePrinter, PFN, FALSE, hPrinter);
}

WINBOOL WINAPI GetPrinterW(HANDLE hPrinter, DWORD Level, LPBYTE pPrinter, DWORD cbBuf, LPDWORD pcbNeeded)
{
    typedef WINBOOL (WINAPI *PFN)(HANDLE, DWORD, LPBYTE, DWORD, LPDWORD);
    SPOOLER_CALL(SPL_GetPrinterW, PFN, FALSE, hPrinter, Level, pPrinter, cbBuf, pcbNeeded);
}

WINBOOL WINAPI SetPrinterW(HANDLE hPrinter, DWORD Level, LPBYTE pPrinter, DWORD Command)
{
    typedef WINBOOL (WINAPI *PFN)(HANDLE, DWORD, LPBYTE, DWORD);
    SPOOLER_CALL(SPL_SetPrinterW, PFN, FALSE, hPrinter, Level, pPrinter, Command);
}

WINBOOL WINAPI EnumJobsW(HANDLE hPrinter, DWORD FirstJob, DWORD NoJobs, DWORD Level, LPBYTE pJob,
                         DWORD cbBuf, LPDWORD pcbNeeded, LPDWORD pcReturned)
{
    typedef WINBOOL (WINAPI *PFN)(HANDLE, DWORD, DWORD, DWORD, LPBYTE, DWORD, LPDWORD, LPDWORD);
    SPOOLER_CALL(SPL_EnumJobsW, PFN, FALSE, hPrinter, FirstJob, NoJobs, Level, pJob, cbBuf,
                 pcbNeeded, pcReturned);
}

WINBOOL WINAPI SetJobW(HANDLE hPrinter, DWORD JobId, DWORD Level, LPBYTE pJob, DWORD Command)
{
    typedef WINBOOL (WINAPI *PFN)(HANDLE, DWORD, DWORD, LPBYTE, DWORD);
    SPOOLER_CALL(SPL_SetJobW, PFN, FALSE, hPrinter, JobId, Level, pJob, Command);
}

DWORD WINAPI StartDocPrinterW(HANDLE hPrinter, DWORD Level, LPBYTE pDocInfo)
{
    typedef DWORD (WINAPI *PFN)(HANDLE, DWORD, LPBYTE);
    SPOOLER_CALL(SPL_StartDocPrinterW, PFN, 0, hPrinter, Level, pDocInfo);
}

WINBOOL WINAPI StartPagePrinter(HANDLE hPrinter)
{
    typedef WINBOOL (WINAPI *PFN)(HANDLE);
    SPOOLER_CALL(SPL_StartPagePrinter, PFN, FALSE, hPrinter);
}

WINBOOL WINAPI WritePrinter(HANDLE hPrinter, LPVOID pBuf, DWORD cbBuf, LPDWORD pcWritten)
{
    typedef WINBOOL (WINAPI *PFN)(HANDLE, LPVOID, DWORD, LPDWORD);
    SPOOLER_CALL(SPL_WritePrinter, PFN, FALSE, hPrinter, pBuf, cbBuf, pcWritten);
}

WINBOOL WINAPI EndPagePrinter(HANDLE hPrinter)
{
    typedef WINBOOL (WINAPI *PFN)(HANDLE);
    SPOOLER_CALL(SPL_EndPagePrinter, PFN, FALSE, hPrinter);
}

WINBOOL WINAPI EndDocPrinter(HANDLE hPrinter)
{
    typedef WINBOOL (WINAPI *PFN)(HANDLE);
    SPOOLER_CALL(SPL_EndDocPrinter, PFN, FALSE, hPrinter);
}

WINBOOL WINAPI AbortPrinter(HANDLE hPrinter)
{
    typedef WINBOOL (WINAPI *PFN)(HANDLE);
    SPOOLER_CALL(SPL_AbortPrinter, PFN, FALSE, hPrinter);
}

DWORD WINAPI SetPrinterDataW(HANDLE hPrinter, LPWSTR pValueName, DWORD Type, LPBYTE pData, DWORD cbData)
{
    typedef DWORD (WINAPI *PFN)(HANDLE, LPWSTR, DWORD, LPBYTE, DWORD);
    SPOOLER_CALL(SPL_SetPrinterDataW, PFN, LastErrorOr(ERROR_MOD_NOT_FOUND), hPrinter, pValueName,
                 Type, pData, cbData);
}

}   // extern "C"
