// The log-on Run value that starts the program with Windows.
#include "app/app.h"
#include "util/trace.h"
#include <strsafe.h>

static const WCHAR c_szRunKey[] = L"software\\microsoft\\windows\\currentversion\\run";

// The value's command: the program path, quoted when it holds a space so that no other
// program can be started in its place.
int SM_FormatRunCommand(LPCWSTR pszProgramPath, LPWSTR pszOut, size_t cchOut)
{
    HRESULT hr = wcschr(pszProgramPath, L' ')
        ? StringCchPrintfW(pszOut, cchOut, L"\"%s\"", pszProgramPath)
        : StringCchCopyW(pszOut, cchOut, pszProgramPath);
    return SUCCEEDED(hr) ? 1 : 0;
}

int SM_AddRunValue(LPCWSTR pszValueName, LPCWSTR pszProgramPath)
{
    TRACE_FuncIn(TRACE_LEVEL_INFO, L"SM_AddRunValue");
    int rc = 0;
    WCHAR szCommand[SM_CCH_PATH + 2];
    HKEY hKey = NULL;
    if (!SM_FormatRunCommand(pszProgramPath, szCommand, ARRAYSIZE(szCommand))) {
        TRACE_Print(TRACE_LEVEL_ERROR, L"path too long");
    } else if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, c_szRunKey, 0, KEY_SET_VALUE, &hKey) != ERROR_SUCCESS) {
        TRACE_Print(TRACE_LEVEL_ERROR, L"open run key fail!");
    } else {
        // A REG_SZ is stored with its terminating zero.
        DWORD cbData = (DWORD)((wcslen(szCommand) + 1) * sizeof(WCHAR));
        if (RegSetValueExW(hKey, pszValueName, 0, REG_SZ, (const BYTE*)szCommand, cbData) == ERROR_SUCCESS)
            rc = 1;
        else
            TRACE_Print(TRACE_LEVEL_ERROR, L"set run value fail!");
        RegCloseKey(hKey);
    }
    TRACE_FuncOut(TRACE_LEVEL_INFO);
    return rc;
}

int SM_DeleteRunValue(LPCWSTR pszValueName)
{
    TRACE_FuncIn(TRACE_LEVEL_INFO, L"SM_DeleteRunValue");
    int rc = 0;
    HKEY hKey = NULL;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, c_szRunKey, 0, KEY_SET_VALUE, &hKey) == ERROR_SUCCESS) {
        rc = RegDeleteValueW(hKey, pszValueName) == ERROR_SUCCESS ? 1 : 0;
        RegCloseKey(hKey);
    }
    TRACE_FuncOut(TRACE_LEVEL_INFO);
    return rc;
}
