// Where the driver leaves the fax files: the shared documents folder.
#include "fax/fax.h"
#include "util/trace.h"
#include <strsafe.h>

static const WCHAR c_szShellFoldersKey[] = L"software\\microsoft\\windows\\currentversion\\explorer\\shell folders";
static const WCHAR c_szCommonDocuments[] = L"Common Documents";
static const DWORD c_cbFolderValue = 260;      // the folder value is read into 260 bytes

static const struct {
    int kind;
    LPCWSTR name;
} c_FaxFiles[] = {
    { FAX_PATH_STR_INI,   L"\\str.ini" },
    { FAX_PATH_COVER_INI, L"\\cover.ini" },
};

// The folder value as read (an expandable string is not expanded); FALSE when it is
// missing, of another type or does not fit the 260-byte buffer with its terminator.
static BOOL ReadSharedDocuments(LPWSTR pszOut, size_t cchOut)
{
    HKEY hKey = NULL;
    if (RegOpenKeyW(HKEY_LOCAL_MACHINE, c_szShellFoldersKey, &hKey) != ERROR_SUCCESS)
        return FALSE;
    WCHAR szValue[c_cbFolderValue / sizeof(WCHAR) + 1];
    DWORD cbValue = c_cbFolderValue;
    DWORD dwType = 0;
    LONG lr = RegQueryValueExW(hKey, c_szCommonDocuments, NULL, &dwType, (LPBYTE)szValue, &cbValue);
    RegCloseKey(hKey);
    if (lr != ERROR_SUCCESS || (dwType != REG_SZ && dwType != REG_EXPAND_SZ))
        return FALSE;
    DWORD cchValue = cbValue / sizeof(WCHAR);
    if (cchValue > 0 && szValue[cchValue - 1] == 0)
        cchValue--;
    else if (cbValue >= c_cbFolderValue)
        return FALSE;       // the buffer is full and holds no terminator
    szValue[cchValue] = 0;
    return SUCCEEDED(StringCchCopyW(pszOut, cchOut, szValue));
}

int FAX_GetPathName(LPWSTR pszPath, size_t cchPath, int nKind)
{
    TRACE_FuncIn(TRACE_LEVEL_INFO, L"FAX_GetPathName");
    if (!pszPath || cchPath == 0) {
        TRACE_FuncOut(TRACE_LEVEL_INFO);
        return 0;
    }
    int rc = ReadSharedDocuments(pszPath, cchPath) ? 1 : 0;
    if (!rc)
        TRACE_Print(TRACE_LEVEL_ERROR, L"get Common Documents fail!");
    for (size_t i = 0; i < ARRAYSIZE(c_FaxFiles); i++) {
        if (c_FaxFiles[i].kind == nKind) {
            if (FAILED(StringCchCatExW(pszPath, cchPath, c_FaxFiles[i].name, NULL, NULL, STRSAFE_NO_TRUNCATION)))
                TRACE_Print(TRACE_LEVEL_ERROR, L"path too long!");
            break;
        }
    }
    TRACE_Print(TRACE_LEVEL_INFO, L"path = %s", pszPath);
    TRACE_FuncOut(TRACE_LEVEL_INFO);
    return rc;
}
