// The driver settings key: HKLM\software\ZorvekData\Printer\<class name>.
#include "util/misc.h"
#include "util/trace.h"

static const WCHAR c_szSoftware[] = L"software";
static const WCHAR c_szVendor[] = L"ZorvekData";
static const WCHAR c_szPrinter[] = L"Printer";
static const WCHAR c_szTag[] = L"MISC_OpenRegKey";

// Opens pszPath, or creates pszChild under pszParent when it is missing. With phResult the
// created key is handed back; otherwise it is closed at once.
static BOOL OpenOrCreate(LPCWSTR pszPath, LPCWSTR pszParent, LPCWSTR pszChild,
                         LPCWSTR pszCreatedMsg, HKEY* phResult)
{
    // Least access that serves: the final key is written to, the levels above only looked at.
    REGSAM sam = phResult ? (KEY_SET_VALUE | KEY_QUERY_VALUE) : KEY_QUERY_VALUE;
    HKEY hKey = NULL;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, pszPath, 0, sam, &hKey) == ERROR_SUCCESS) {
        if (phResult)
            *phResult = hKey;
        else
            RegCloseKey(hKey);
        return TRUE;
    }
    HKEY hParent = NULL;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, pszParent, 0, KEY_CREATE_SUB_KEY, &hParent) != ERROR_SUCCESS) {
        TRACE_TagError(c_szTag, L"open key %s fail!", pszPath);
        return FALSE;
    }
    HKEY hChild = NULL;
    if (RegCreateKeyExW(hParent, pszChild, 0, NULL, REG_OPTION_NON_VOLATILE, sam, NULL,
                        &hChild, NULL) != ERROR_SUCCESS) {
        TRACE_TagError(c_szTag, L"create key %s fail!", pszPath);
        RegCloseKey(hParent);
        return FALSE;
    }
    TRACE_Tag(c_szTag, L"%s", pszCreatedMsg);
    if (phResult)
        *phResult = hChild;
    else
        RegCloseKey(hChild);
    RegCloseKey(hParent);
    return TRUE;
}

int MISC_OpenRegKey(HKEY* phKey, LPCWSTR pszName)
{
    if (!phKey || !pszName)
        return 0;
    *phKey = NULL;
    TRACE_FuncIn(TRACE_LEVEL_INFO, L"MISC_OpenRegKey");
    WCHAR szLevel2[SM_CCH_PATH];
    WCHAR szLevel3[SM_CCH_PATH];
    WCHAR szLevel4[SM_CCH_PATH * 2];
    MISC_Format(szLevel2, ARRAYSIZE(szLevel2), L"%s\\%s", c_szSoftware, c_szVendor);
    MISC_Format(szLevel3, ARRAYSIZE(szLevel3), L"%s\\%s\\%s", c_szSoftware, c_szVendor, c_szPrinter);
    MISC_Format(szLevel4, ARRAYSIZE(szLevel4), L"%s\\%s\\%s\\%s", c_szSoftware, c_szVendor, c_szPrinter, pszName);

    int rc = 0;
    HKEY hResult = NULL;
    if (OpenOrCreate(szLevel2, c_szSoftware, c_szVendor, L"ZorvekData key create succ", NULL)
        && OpenOrCreate(szLevel3, szLevel2, c_szPrinter, L"Printer key create succ", NULL)
        && OpenOrCreate(szLevel4, szLevel3, pszName, L"Printer key create succ", &hResult)) {
        *phKey = hResult;
        rc = 1;
    }
    TRACE_FuncOut(TRACE_LEVEL_INFO);
    return rc;
}

int MISC_SetRegValue(LPCWSTR pszValueName, DWORD dwValue, LPCWSTR pszKeyName)
{
    TRACE_FuncIn(TRACE_LEVEL_INFO, L"MISC_SetRegValue");
    TRACE_Tag(L"MISC_SetRegValue", L"value = %d", (int)dwValue);
    HKEY hKey = NULL;
    if (!MISC_OpenRegKey(&hKey, pszKeyName)) {
        TRACE_TagError(L"MISC_SetRegValue", L"Open key Fail!");
        TRACE_FuncOut(TRACE_LEVEL_INFO);
        return 0;
    }
    if (RegSetValueExW(hKey, pszValueName, 0, REG_DWORD, (const BYTE*)&dwValue, sizeof(dwValue)) == ERROR_SUCCESS)
        TRACE_Tag(L"MISC_SetRegValue", L"Success");
    else
        TRACE_TagError(L"MISC_SetRegValue", L"NO value to read!");
    RegCloseKey(hKey);
    TRACE_FuncOut(TRACE_LEVEL_INFO);
    return 1;
}
