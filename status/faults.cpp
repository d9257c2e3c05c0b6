// Fault codes from the exchange file, the printer's spooler status word and job control.
#include "status/status.h"
#include "app/app.h"
#include "util/misc.h"
#include "util/trace.h"
#include <winspool.h>
#include <stdlib.h>
#include <strsafe.h>

WCHAR g_StoreName[SM_CCH_STORE_NAME];
LONG  g_LastSpoolerStatus = -1;
BOOL  g_SpoolerBusy;

static const WCHAR c_StoreNameField[] = L"StoreName";
static const DWORD c_MaxJobs = 255;
static const int   c_EnumJobsAttempts = 4;   // reads of a queue that keeps growing meanwhile
static const int   c_cbAnsiName = 260;

// Fault code to PRINTER_STATUS_* word; codes not listed set nothing.
static const struct {
    LONG first;
    LONG last;
    DWORD status;
} c_StatusTable[] = {
    { 1, 1, PRINTER_STATUS_USER_INTERVENTION },
    { 2, 4, PRINTER_STATUS_ERROR },
    { 6, 6, PRINTER_STATUS_ERROR },
    { 48, 48, PRINTER_STATUS_ERROR },
    { 256, 259, PRINTER_STATUS_ERROR },
    { 271, 271, PRINTER_STATUS_ERROR },
    { 275, 277, PRINTER_STATUS_ERROR },
    { 5, 5, PRINTER_STATUS_DOOR_OPEN },
    { 265, 268, PRINTER_STATUS_DOOR_OPEN },
    { 7, 7, PRINTER_STATUS_NO_TONER },
    { 32, 32, PRINTER_STATUS_PAPER_OUT },
    { 269, 270, PRINTER_STATUS_PAPER_OUT },
    { 33, 33, PRINTER_STATUS_PAPER_JAM },
    { 260, 264, PRINTER_STATUS_PAPER_JAM },
    { 34, 35, PRINTER_STATUS_PAPER_PROBLEM },
    { 282, 282, PRINTER_STATUS_PAPER_PROBLEM },
    { 112, 112, PRINTER_STATUS_BUSY },
    { 126, 126, PRINTER_STATUS_OFFLINE },
    { 129, 129, 0 },
    { 131, 131, 0 },
    { 130, 130, PRINTER_STATUS_WARMING_UP },
    { 132, 132, PRINTER_STATUS_PRINTING },
    { 135, 135, PRINTER_STATUS_TONER_LOW },
};

BOOL SM_SpoolerStatusForCode(LONG code, DWORD* pStatus)
{
    for (size_t i = 0; i < ARRAYSIZE(c_StatusTable); i++) {
        if (code >= c_StatusTable[i].first && code <= c_StatusTable[i].last) {
            if (pStatus)
                *pStatus = c_StatusTable[i].status;
            return TRUE;
        }
    }
    return FALSE;
}

// Fault-code list ------------------------------------------------------------------------------

DWORD SM_WalkStatusFields(LPCWSTR pszStatus, LONG* pErrCodes, LPWSTR pszStoreName, size_t cchStoreName,
                          SM_FIELD_FN pfnField, void* pContext)
{
    DWORD count = 0;
    if (!pszStatus || !pErrCodes)
        return 0;
    LPCWSTR pszField = pszStatus;
    for (;;) {
        LPCWSTR pszBar = wcschr(pszField, L'|');
        if (!pszBar) {
            // Text after the last bar is not a field.
            if (pfnField && *pszField)
                pfnField(pContext, SM_FIELD_TRAILING_TEXT, pszField, wcslen(pszField), 0);
            break;
        }
        size_t cchField = (size_t)(pszBar - pszField);
        if (cchField == ARRAYSIZE(c_StoreNameField) - 1 && wcsncmp(pszField, c_StoreNameField, cchField) == 0) {
            LPCWSTR pszName = pszBar + 1;
            LPCWSTR pszNameEnd = wcschr(pszName, L'|');
            if (!pszNameEnd) {
                // No ended name follows: the field is ignored.
                if (pfnField)
                    pfnField(pContext, SM_FIELD_STORE_NAME_UNENDED, pszField, wcslen(pszField), 0);
                break;
            }
            if (pszStoreName && cchStoreName)
                StringCchCopyNW(pszStoreName, cchStoreName, pszName, (size_t)(pszNameEnd - pszName));
            if (pfnField)
                pfnField(pContext, SM_FIELD_STORE_NAME, pszName, (size_t)(pszNameEnd - pszName), 0);
            pszField = pszNameEnd + 1;
            continue;
        }
        WCHAR szField[SM_CCH_STATUS_VALUE];
        StringCchCopyNW(szField, ARRAYSIZE(szField), pszField, cchField);
        LONG code = _wtoi(szField);
        SM_FIELD_KIND kind = SM_FIELD_CODE_KEPT;
        if (code == SM_CODE_BUSY)
            kind = SM_FIELD_CODE_BUSY;
        else if (count >= SM_MAX_ERRCODES)
            kind = SM_FIELD_CODE_PAST_LIMIT;
        else
            pErrCodes[count++] = code;
        if (pfnField)
            pfnField(pContext, kind, pszField, cchField, code);
        pszField = pszBar + 1;
    }
    return count;
}

DWORD SM_ParseErrCodes(LPCWSTR pszStatus, LONG* pErrCodes, LPWSTR pszStoreName, size_t cchStoreName)
{
    return SM_WalkStatusFields(pszStatus, pErrCodes, pszStoreName, cchStoreName, NULL, NULL);
}

void GetErrCode(LONG* pErrCodes, DWORD* pCount, LPWSTR pszStatus, size_t cchStatus)
{
    TRACE_FuncIn(TRACE_LEVEL_INFO, L"GetErrCode");
    WCHAR szStatus[SM_CCH_STATUS_VALUE] = L"";
    SM_GetIniString(SM_SECTION_PRINTER, L"Status", szStatus, ARRAYSIZE(szStatus));
    if (pszStatus && cchStatus)
        StringCchCopyW(pszStatus, cchStatus, szStatus);
    DWORD count = SM_ParseErrCodes(szStatus, pErrCodes, g_StoreName, ARRAYSIZE(g_StoreName));
    if (pCount)
        *pCount = count;
    TRACE_Print(TRACE_LEVEL_INFO, L"i = %d", (int)count);
    TRACE_FuncOut(TRACE_LEVEL_INFO);
}

// Opening the monitored printer ----------------------------------------------------------------

enum OpenResult { OPEN_OK, OPEN_FAILED, OPEN_NO_NAME };

// Opens g_MonitorPrinterName: the wide name on an NT-class system, the name in the ANSI code page
// on a 9x-class system. OPEN_NO_NAME for an empty name and for one that the code page cannot spell
// exactly (a '?' put in its place would name another printer, or none).
static OpenResult OpenMonitoredPrinter(HANDLE* phPrinter, DWORD dwAccess, BOOL fDefaults)
{
    *phPrinter = NULL;
    if (!g_MonitorPrinterName[0])
        return OPEN_NO_NAME;
    if (MISC_IsNTClass(g_OSVersion)) {
        PRINTER_DEFAULTSW pd = { NULL, NULL, dwAccess };
        return OpenPrinterW(g_MonitorPrinterName, phPrinter, fDefaults ? &pd : NULL) ? OPEN_OK : OPEN_FAILED;
    }
    char szAnsi[c_cbAnsiName];
    BOOL fLossy = FALSE;
    if (!WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, g_MonitorPrinterName, -1, szAnsi, sizeof(szAnsi),
                             NULL, &fLossy) || fLossy) {
        TRACE_Print(TRACE_LEVEL_ERROR, L"printer name has no ANSI spelling");
        return OPEN_NO_NAME;
    }
    PRINTER_DEFAULTSA pd = { NULL, NULL, dwAccess };
    return OpenPrinterA(szAnsi, phPrinter, fDefaults ? &pd : NULL) ? OPEN_OK : OPEN_FAILED;
}

// Spooler status word --------------------------------------------------------------------------

int SM_SetSpoolerStatus(DWORD dwStatus, DWORD dwCommand)
{
    TRACE_FuncIn(TRACE_LEVEL_INFO, L"SM_SetSpoolerStatus");
    if (g_SpoolerBusy || (LONG)dwStatus == g_LastSpoolerStatus) {
        TRACE_FuncOut(TRACE_LEVEL_INFO);
        return 1;
    }
    g_SpoolerBusy = TRUE;
    if (!SM_GetPrinterNameFromIni()) {
        // No printer named (none configured yet, or the driver's side is rewriting the file just
        // now): nothing to open, and no reason to stop setting the status for the rest of the run.
        TRACE_Print(TRACE_LEVEL_INFO, L"no printer name");
        g_SpoolerBusy = FALSE;
        TRACE_FuncOut(TRACE_LEVEL_INFO);
        return 1;
    }
    TRACE_Print(TRACE_LEVEL_INFO, L"status = 0x%x", (unsigned)dwStatus);

    // Setting the status word is administration; nothing else the monitor does needs that right.
    HANDLE hPrinter = NULL;
    OpenResult open = OpenMonitoredPrinter(&hPrinter, PRINTER_ACCESS_ADMINISTER, TRUE);
    if (open == OPEN_FAILED) {
        // The guard stays set: the monitor stops touching the status word for this run (so this
        // is traced once); the dialog and job control go on. A user who is not an administrator
        // is refused here.
        DWORD err = GetLastError();
        TRACE_Print(TRACE_LEVEL_ERROR, L"OpenPrinter fail! rc = %u%s", (unsigned)err,
                    err == ERROR_ACCESS_DENIED ? L", no right to set the status word" : L"");
        TRACE_FuncOut(TRACE_LEVEL_INFO);
        return 1;
    }
    // Level 0 with PRINTER_CONTROL_SET_STATUS takes the status word itself in the buffer argument.
    if (open == OPEN_OK && SetPrinterW(hPrinter, 0, (LPBYTE)(ULONG_PTR)dwStatus, dwCommand))
        g_LastSpoolerStatus = (LONG)dwStatus;
    g_SpoolerBusy = FALSE;
    if (hPrinter)
        ClosePrinter(hPrinter);
    TRACE_FuncOut(TRACE_LEVEL_INFO);
    return 1;
}

int SM_SetSpoolerStatusByCode(LONG code)
{
    TRACE_FuncIn(TRACE_LEVEL_INFO, L"SM_SetSpoolerStatusByCode");
    int rc = 1;
    DWORD dwStatus = 0;
    if (SM_SpoolerStatusForCode(code, &dwStatus))
        rc = SM_SetSpoolerStatus(dwStatus, PRINTER_CONTROL_SET_STATUS);
    TRACE_FuncOut(TRACE_LEVEL_INFO);
    return rc;
}

int SM_ResetSpoolerStatus(void)
{
    TRACE_FuncIn(TRACE_LEVEL_INFO, L"SM_ResetSpoolerStatus");
    SM_SetSpoolerStatus(0, PRINTER_CONTROL_SET_STATUS);
    g_LastSpoolerStatus = -1;
    TRACE_FuncOut(TRACE_LEVEL_INFO);
    return 1;
}

// Job control ------------------------------------------------------------------------------------

BOOL SM_EnumJobs(HANDLE hPrinter, DWORD dwLevel, BYTE** ppJobs, DWORD* pcReturned)
{
    *ppJobs = NULL;
    *pcReturned = 0;
    DWORD cbNeeded = 0;
    DWORD cReturned = 0;
    EnumJobsW(hPrinter, 0, c_MaxJobs, dwLevel, NULL, 0, &cbNeeded, &cReturned);
    for (int attempt = 0; attempt < c_EnumJobsAttempts; attempt++) {
        DWORD cbBuf = cbNeeded;
        BYTE* pJobs = (BYTE*)malloc(cbBuf ? cbBuf : 1);
        if (!pJobs)
            return FALSE;
        cReturned = 0;
        if (EnumJobsW(hPrinter, 0, c_MaxJobs, dwLevel, pJobs, cbBuf, &cbNeeded, &cReturned)) {
            *ppJobs = pJobs;
            *pcReturned = cReturned;
            return TRUE;
        }
        DWORD err = GetLastError();
        free(pJobs);
        // Only a queue that grew since its size was learned is worth another try.
        if (err != ERROR_INSUFFICIENT_BUFFER || cbNeeded <= cbBuf) {
            SetLastError(err);
            return FALSE;
        }
    }
    return FALSE;
}

int SM_SetPrinterJob(DWORD dwCommand)
{
    TRACE_FuncIn(TRACE_LEVEL_INFO, L"SM_SetPrinterJob");
    SM_GetPrinterNameFromIni();
    BOOL fNT = MISC_IsNTClass(g_OSVersion);
    if (dwCommand == JOB_CONTROL_CANCEL) {
        if (fNT)
            dwCommand = JOB_CONTROL_DELETE;
        SM_ResetSpoolerStatus();
        TRACE_Print(TRACE_LEVEL_INFO, L"JOB_CONTROL_CANCEL");
    }

    HANDLE hPrinter = NULL;
    OpenResult open = OpenMonitoredPrinter(&hPrinter, 0, FALSE);
    if (open == OPEN_FAILED) {
        if (fNT)
            TRACE_Print(TRACE_LEVEL_ERROR, L"OpenPrinter fail!");
        TRACE_FuncOut(TRACE_LEVEL_INFO);
        return 0;
    }

    int rc = 0;
    DWORD dwJobId = SM_GetIniInt(SM_SECTION_JOB, L"JobID", 0);
    DWORD cReturned = 0;
    BYTE* pJobs = NULL;
    BOOL fEnum = open == OPEN_OK && SM_EnumJobs(hPrinter, 1, &pJobs, &cReturned);
    if (!fEnum) {
        TRACE_Print(TRACE_LEVEL_ERROR, L"EnumJobs fail!");
    } else {
        const JOB_INFO_1W* pInfo = reinterpret_cast<const JOB_INFO_1W*>(pJobs);
        for (DWORD i = 0; i < cReturned; i++) {
            // Job identifiers start at 1: a "JobID" of 0 names no job.
            if (dwJobId != 0 && pInfo[i].JobId == dwJobId && SetJobW(hPrinter, dwJobId, 0, NULL, dwCommand))
                rc = 1;
        }
    }
    free(pJobs);
    if (hPrinter)
        ClosePrinter(hPrinter);
    TRACE_Print(TRACE_LEVEL_INFO, L"rc = %d", rc);
    TRACE_FuncOut(TRACE_LEVEL_INFO);
    return rc;
}

// A new fault list ---------------------------------------------------------------------------------

void SM_SetSMStatus(HWND hWnd, const LONG* pErrCodes, DWORD count)
{
    TRACE_FuncIn(TRACE_LEVEL_INFO, L"SM_SetSMStatus");
    if (!pErrCodes || count == 0) {
        TRACE_FuncOut(TRACE_LEVEL_INFO);
        return;
    }
    if (count > SM_MAX_ERRCODES)
        count = SM_MAX_ERRCODES;
    if (TRACE_IsEnabled()) {
        // The trace log shows each fault of the new list with its text.
        for (DWORD i = 0; i < count; i++) {
            WCHAR szText[SM_CCH_MESSAGE];
            SM_GetStatusMessage((DWORD)pErrCodes[i], szText, ARRAYSIZE(szText));
            TRACE_Print(TRACE_LEVEL_INFO, L"code %d: %s", (int)pErrCodes[i], szText);
        }
    }
    BOOL fJobDone = FALSE;
    for (DWORD i = 0; i < count; i++) {
        if (pErrCodes[i] == SM_CODE_CANCEL_JOB && SM_SetPrinterJob(JOB_CONTROL_CANCEL) == 1)
            fJobDone = TRUE;
        else if (pErrCodes[i] == SM_CODE_RESTART_JOB && SM_SetPrinterJob(JOB_CONTROL_RESTART) == 1)
            fJobDone = TRUE;
    }
    if (!fJobDone) {
        SM_SetSpoolerStatusByCode(pErrCodes[0]);
        SM_ShowPrinterStatus(hWnd, pErrCodes, (int)count);
    }
    TRACE_FuncOut(TRACE_LEVEL_INFO);
}
