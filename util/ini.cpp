// Accessors of the status exchange file, on the platform's private-profile functions.
#include "util/misc.h"
#include "util/trace.h"

WCHAR g_MonitorPrinterName[256];

static const int c_WriteAttempts = 3;

UINT SM_GetIniInt(LPCWSTR pszSection, LPCWSTR pszKey, INT nDefault)
{
    return GetPrivateProfileIntW(pszSection, pszKey, nDefault, g_StatusIniPath);
}

DWORD SM_GetIniString(LPCWSTR pszSection, LPCWSTR pszKey, LPWSTR pszOut, DWORD cchOut)
{
    if (!pszOut || cchOut == 0)
        return 0;
    return GetPrivateProfileStringW(pszSection, pszKey, L"", pszOut, cchOut, g_StatusIniPath);
}

int SM_GetPrinterNameFromIni(void)
{
    SM_GetIniString(SM_SECTION_PRINTER, L"PrinterName", g_MonitorPrinterName, ARRAYSIZE(g_MonitorPrinterName));
    return g_MonitorPrinterName[0] ? 1 : 0;
}

int MISC_WriteProfileString(LPCWSTR pszPath, LPCWSTR pszSection, LPCWSTR pszKey, LPCWSTR pszValue)
{
    for (int attempt = 0; attempt < c_WriteAttempts; attempt++) {
        if (WritePrivateProfileStringW(pszSection, pszKey, pszValue, pszPath))
            return 1;
    }
    TRACE_TagError(L"MISC_WriteProfileString", L"write %s fail!", pszKey ? pszKey : L"");
    return 0;
}
