// The printer wake-up job: a short PJL sequence sent as a raw job of its own, "PreHeat".
#include "status/status.h"
#include "util/misc.h"
#include "util/trace.h"
#include <winspool.h>
#include <stdlib.h>
#include <strsafe.h>

static const WCHAR c_TraceTag[] = L"LoadStringForApp";
static const WCHAR c_PreHeatDocName[] = L"PreHeat";
static const WCHAR c_UsbPort[] = L"USB";
static const DWORD c_cbZeroBlock = 512;

int SM_IsJobInQueue(HANDLE hPrinter, LPCWSTR pszDocName)
{
    TRACE_FuncIn(TRACE_LEVEL_INFO, L"SM_IsJobInQueue");
    int rc = 0;
    BYTE* pJobs = NULL;
    DWORD cReturned = 0;
    SM_EnumJobs(hPrinter, 2, &pJobs, &cReturned);
    TRACE_Tag(c_TraceTag, L"pcReturned = %d", (int)cReturned);
    const JOB_INFO_2W* pInfo = reinterpret_cast<const JOB_INFO_2W*>(pJobs);
    for (DWORD i = 0; pJobs && i < cReturned; i++) {
        TRACE_Tag(c_TraceTag, L"JobId = %d, job name is %s", (int)pInfo[i].JobId,
                  pInfo[i].pDocument ? pInfo[i].pDocument : L"");
        if (pInfo[i].pDocument && pszDocName && _wcsicmp(pInfo[i].pDocument, pszDocName) == 0)
            rc = 1;
    }
    free(pJobs);
    TRACE_FuncOut(TRACE_LEVEL_INFO);
    return rc;
}

// Writes the whole block: a write that takes part of it is followed by writes of the rest. FALSE
// (with the spooler's error) when a write fails, and with ERROR_WRITE_FAULT when one takes nothing.
static BOOL WriteAll(HANDLE hPrinter, const BYTE* pData, DWORD cbData)
{
    while (cbData > 0) {
        DWORD cbWritten = 0;
        if (!WritePrinter(hPrinter, const_cast<BYTE*>(pData), cbData, &cbWritten))
            return FALSE;
        if (cbWritten == 0 || cbWritten > cbData) {
            SetLastError(ERROR_WRITE_FAULT);
            return FALSE;
        }
        pData += cbWritten;
        cbData -= cbWritten;
    }
    return TRUE;
}

// The document of an open job: start, page, the three blocks, end. 1 when the spooler took it
// whole; on any failure the document is dropped (AbortPrinter), so that neither a cut wake-up
// sequence nor an open document is left behind.
static int SendDocument(HANDLE hPrinter, const BYTE* pData, DWORD cbData)
{
    static const BYTE c_Zeros[c_cbZeroBlock] = {};
    WCHAR szDocName[SM_CCH_PATH];
    StringCchCopyW(szDocName, ARRAYSIZE(szDocName), c_PreHeatDocName);
    DOC_INFO_1W di = { szDocName, NULL, NULL };
    if (!StartDocPrinterW(hPrinter, 1, reinterpret_cast<LPBYTE>(&di))) {
        TRACE_Tag(c_TraceTag, L"StartDocPrinter error, code = %d!\n", (int)GetLastError());
        return 0;
    }
    LPCWSTR pszFailed = NULL;
    if (!StartPagePrinter(hPrinter))
        pszFailed = L"StartPagePrinter";
    else if (!WriteAll(hPrinter, pData, cbData) || !WriteAll(hPrinter, c_Zeros, sizeof(c_Zeros)) ||
             !WriteAll(hPrinter, pData, cbData))
        pszFailed = L"WritePrinter";
    else if (!EndPagePrinter(hPrinter))
        pszFailed = L"EndPagePrinter";
    else if (!EndDocPrinter(hPrinter))
        pszFailed = L"EndDocPrinter";
    if (!pszFailed)
        return 1;
    TRACE_Tag(c_TraceTag, L"%s error, code = %d!\n", pszFailed, (int)GetLastError());
    AbortPrinter(hPrinter);
    return 0;
}

int SM_SendPreHeatJob(LPCWSTR pszPrinterName, const BYTE* pData, DWORD cbData)
{
    TRACE_FuncIn(TRACE_LEVEL_INFO, L"SM_SendPreHeatJob");
    if (!pszPrinterName || !pszPrinterName[0]) {
        TRACE_Tag(c_TraceTag, L"PrinterName is null!");
        TRACE_FuncOut(TRACE_LEVEL_INFO);
        return 0;
    }
    HANDLE hPrinter = NULL;
    // Use rights are all a raw job needs, and all that a user who is not an administrator has.
    PRINTER_DEFAULTSW pd = { NULL, NULL, PRINTER_ACCESS_USE };
    if (!OpenPrinterW(const_cast<LPWSTR>(pszPrinterName), &hPrinter, &pd)) {
        TRACE_Tag(c_TraceTag, L"Open %s fail!", pszPrinterName);
        TRACE_FuncOut(TRACE_LEVEL_INFO);
        return 0;
    }

    int rc = 0;
    DWORD cbNeeded = 0;
    GetPrinterW(hPrinter, 2, NULL, 0, &cbNeeded);
    BYTE* pInfoBuf = (BYTE*)malloc(cbNeeded ? cbNeeded : 1);
    const PRINTER_INFO_2W* pInfo = reinterpret_cast<const PRINTER_INFO_2W*>(pInfoBuf);
    if (!pInfoBuf || cbNeeded < sizeof(PRINTER_INFO_2W) ||
        !GetPrinterW(hPrinter, 2, pInfoBuf, cbNeeded, &cbNeeded)) {
        TRACE_Print(TRACE_LEVEL_ERROR, L"GetPrinter fail! rc = %d", (int)GetLastError());
    } else if (pInfo->Attributes & PRINTER_ATTRIBUTE_WORK_OFFLINE) {
        TRACE_Print(TRACE_LEVEL_INFO, L"Printer is offline.");
    } else if (!pInfo->pPortName || !wcsstr(pInfo->pPortName, c_UsbPort)) {
        TRACE_Print(TRACE_LEVEL_INFO, L"Printer is network.");
    } else if (SM_IsJobInQueue(hPrinter, c_PreHeatDocName)) {
        TRACE_Print(TRACE_LEVEL_INFO, L"job exist!");
        rc = 1;
    } else {
        rc = SendDocument(hPrinter, pData, cbData);
    }
    free(pInfoBuf);
    ClosePrinter(hPrinter);
    TRACE_FuncOut(TRACE_LEVEL_INFO);
    return rc;
}
