// MISC_GetPathName and the small file helpers around the exchange file.
#include "util/misc.h"
#include "util/trace.h"
#include <strsafe.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

WCHAR g_StatusIniPath[SM_CCH_PATH];

static const WCHAR c_szShellFoldersKey[] = L"software\\microsoft\\windows\\currentversion\\explorer\\shell folders";
static const WCHAR c_szCommonDocuments[] = L"Common Documents";
static const WCHAR c_szDriverSubdir[] = L"\\spool\\drivers\\w32x86\\3\\";
static const WCHAR c_szTempSubdir[] = L"temp\\";
static const WCHAR c_szMutexName[] = L"MISC_GetPathName";
static const DWORD c_cbCommonDocuments = 260;       // the shell-folder value is read into 260 bytes
static const DWORD c_msMutexRetry = 100;
static const int   c_UniCheckAttempts = 5;
static const DWORD c_msUniCheckPause = 200;
static const DWORD c_msRemovePause = 200;
static const DWORD c_msRemoveLimit = 2000;

// Extension bits in the order they are applied; with several set, the last wins.
static const struct { DWORD bit; LPCWSTR ext; } c_Extensions[] = {
    { MISC_EXT_TXT, L".txt" },
    { MISC_EXT_BMP, L".bmp" },
    { MISC_EXT_SPL, L".spl" },
};

int MISC_AddBackslash(LPWSTR pszPath, size_t cchPath)
{
    if (!pszPath)
        return 0;
    size_t cch = wcslen(pszPath);
    if (cch == 0 || pszPath[cch - 1] != L'\\')
        return SUCCEEDED(StringCchCatW(pszPath, cchPath, L"\\")) ? 1 : 0;
    return 1;
}

int MISC_IsDirectory(LPCWSTR pszPath)
{
    DWORD attr = GetFileAttributesW(pszPath);
    return (attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_DIRECTORY)) ? 1 : 0;
}

int MISC_FileExists(LPCWSTR pszPath)
{
    WIN32_FIND_DATAW fd;
    HANDLE hFind = FindFirstFileW(pszPath, &fd);
    if (hFind == INVALID_HANDLE_VALUE)
        return 0;
    FindClose(hFind);
    return 1;
}

int MISC_Remove(LPCWSTR pszPath)
{
    TRACE_Tag(L"MISC_Remove", L"remove file %s", pszPath);
    DWORD dwStart = GetTickCount();
    while (!DeleteFileW(pszPath)) {
        DWORD err = GetLastError();
        // A file that is already gone needs no more attempts.
        if (err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND)
            break;
        Sleep(c_msRemovePause);
        if (GetTickCount() - dwStart >= c_msRemoveLimit)
            break;
    }
    return 1;
}

// 1: starts with FF FE; -2: read and found not to start with it; -1: cannot be opened or read;
// 0: the path has no exact ANSI spelling (a name with '?' put in would open another file, or none).
int MISC_CheckUniFile(LPCWSTR pszPath)
{
    TRACE_FuncIn(TRACE_LEVEL_INFO, L"MISC_CheckUniFile");
    char szAnsi[MAX_PATH];
    BOOL fLossy = FALSE;
    int rc = 0;
    if (WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, pszPath, -1, szAnsi, sizeof(szAnsi), NULL, &fLossy) > 0
            && !fLossy) {
        for (int attempt = 0; attempt < c_UniCheckAttempts; attempt++) {
            HANDLE hFile = CreateFileA(szAnsi, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
            if (hFile == INVALID_HANDLE_VALUE) {
                rc = -1;
                TRACE_Print(TRACE_LEVEL_ERROR, L"file not found!");
            } else {
                BYTE mark[2] = { 0, 0 };
                DWORD cbRead = 0;
                BOOL fRead = ReadFile(hFile, mark, sizeof(mark), &cbRead, NULL);
                CloseHandle(hFile);
                if (fRead && cbRead == sizeof(mark) && mark[0] == 0xFF && mark[1] == 0xFE) {
                    rc = 1;
                    break;
                }
                // A read that failed says nothing about the content.
                rc = fRead ? -2 : -1;
                TRACE_Print(TRACE_LEVEL_ERROR, fRead ? L"file not unicode!" : L"file not read!");
            }
            Sleep(c_msUniCheckPause);
        }
    }
    TRACE_Tag(L"MISC_CheckUniFile", L"rc = %d", rc);
    TRACE_FuncOut(TRACE_LEVEL_INFO);
    return rc;
}

// Creates the file holding only FF FE, but never over an existing one: a file that another
// process made meanwhile is kept as it is.
int MISC_CreateUniFile(LPCWSTR pszPath)
{
    TRACE_Tag(L"MISC_CreateUniFile", L"create file %s", pszPath);
    HANDLE hFile = CreateFileW(pszPath, GENERIC_WRITE, 0, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
    if (hFile != INVALID_HANDLE_VALUE) {
        static const BYTE c_Bom[2] = { 0xFF, 0xFE };
        DWORD cbWritten = 0;
        WriteFile(hFile, c_Bom, sizeof(c_Bom), &cbWritten, NULL);
        CloseHandle(hFile);
    } else {
        TRACE_Print(TRACE_LEVEL_INFO, L"not created, error %u", (unsigned)GetLastError());
    }
    return 1;
}

// True only when the wide name is known not to exist (not for a locked or unreadable file).
static BOOL IsAbsent(LPCWSTR pszPath)
{
    if (GetFileAttributesW(pszPath) != INVALID_FILE_ATTRIBUTES)
        return FALSE;
    DWORD err = GetLastError();
    return err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND;
}

// The "Common Documents" shell folder as stored (not expanded), read into 260 bytes; a value
// that does not fit with its terminator, or is not a string, is a failure.
BOOL MISC_GetSharedDocuments(LPWSTR pszOut, size_t cchOut)
{
    if (!pszOut || cchOut == 0)
        return FALSE;
    pszOut[0] = 0;
    HKEY hKey = NULL;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, c_szShellFoldersKey, 0, KEY_QUERY_VALUE, &hKey) != ERROR_SUCCESS)
        return FALSE;
    WCHAR szValue[c_cbCommonDocuments / sizeof(WCHAR) + 1];
    DWORD cbValue = c_cbCommonDocuments;
    DWORD dwType = 0;
    LONG lr = RegQueryValueExW(hKey, c_szCommonDocuments, NULL, &dwType, (LPBYTE)szValue, &cbValue);
    RegCloseKey(hKey);
    if (lr != ERROR_SUCCESS || (dwType != REG_SZ && dwType != REG_EXPAND_SZ))
        return FALSE;
    DWORD cchValue = cbValue / sizeof(WCHAR);
    if (cchValue > 0 && szValue[cchValue - 1] == 0)
        cchValue--;
    else if (cbValue == c_cbCommonDocuments)
        return FALSE;   // filled the buffer without a terminator: the value did not fit
    szValue[cchValue] = 0;
    return SUCCEEDED(StringCchCopyW(pszOut, cchOut, szValue));
}

static BOOL GetBaseDirectory(LPWSTR pszOut, DWORD cchOut, DWORD dwBase)
{
    WCHAR szDir[SM_CCH_PATH] = L"";
    UINT cch = 0;
    switch (dwBase) {
    case MISC_BASE_SHARED_DOCS:
        if (MISC_IsNTClass(MISC_GetOSVersion()))
            return MISC_GetSharedDocuments(pszOut, cchOut);
        cch = GetTempPathW(ARRAYSIZE(szDir), szDir);
        if (cch == 0 || cch >= ARRAYSIZE(szDir)) {
            TRACE_TagError(L"MISC_GetPathName", L"get temp path fail!!");
            return FALSE;
        }
        break;
    case MISC_BASE_WINDOWS_TEMP:
        cch = GetWindowsDirectoryW(szDir, ARRAYSIZE(szDir));
        if (cch == 0 || cch >= ARRAYSIZE(szDir) || !MISC_AddBackslash(szDir, ARRAYSIZE(szDir))
            || FAILED(StringCchCatW(szDir, ARRAYSIZE(szDir), c_szTempSubdir)))
            return FALSE;
        break;
    case MISC_BASE_SYSTEM:
        cch = GetSystemDirectoryW(szDir, ARRAYSIZE(szDir));
        break;
    case MISC_BASE_WINDOWS:
        cch = GetWindowsDirectoryW(szDir, ARRAYSIZE(szDir));
        break;
    case MISC_BASE_CURRENT:
        cch = GetCurrentDirectoryW(ARRAYSIZE(szDir), szDir);
        break;
    case MISC_BASE_DRIVER:
        cch = GetSystemDirectoryW(szDir, ARRAYSIZE(szDir));
        if (cch == 0 || cch >= ARRAYSIZE(szDir) || FAILED(StringCchCatW(szDir, ARRAYSIZE(szDir), c_szDriverSubdir)))
            return FALSE;
        break;
    case MISC_BASE_TEMP:
        cch = GetTempPathW(ARRAYSIZE(szDir), szDir);
        break;
    default:
        return FALSE;
    }
    if (cch == 0 || cch >= ARRAYSIZE(szDir))
        return FALSE;
    return SUCCEEDED(StringCchCopyW(pszOut, cchOut, szDir));
}

static int RandomFactor(void)
{
    return (int)((double)rand() / 32768.0 * 99.0 + 1.0);   // 1 to 99
}

// A new unique name in the base directory (already in pszOut), made under the named mutex.
static int MakeUniqueName(LPWSTR pszOut, DWORD cchOut, DWORD dwFlags)
{
    HANDLE hMutex = NULL;
    for (;;) {
        TRACE_Print(TRACE_LEVEL_INFO, L"CreateMutex");
        hMutex = CreateMutexW(NULL, FALSE, c_szMutexName);
        DWORD err = GetLastError();
        if (err != ERROR_ALREADY_EXISTS && err != ERROR_ACCESS_DENIED)
            break;
        if (err == ERROR_ALREADY_EXISTS)
            TRACE_Print(TRACE_LEVEL_INFO, L"ERROR_ALREADY_EXISTS, %x", (UINT)(UINT_PTR)hMutex);
        else
            TRACE_Print(TRACE_LEVEL_INFO, L"ERROR_ACCESS_DENIED %x", (UINT)(UINT_PTR)hMutex);
        if (hMutex)
            CloseHandle(hMutex);
        hMutex = NULL;
        TRACE_Print(TRACE_LEVEL_INFO, L"Sleep 100 for next time");
        Sleep(c_msMutexRetry);
    }

    srand((unsigned)time(NULL));
    int factor1 = RandomFactor();
    Sleep((DWORD)factor1 * 10);
    srand(GetTickCount());
    int factor2 = RandomFactor();

    SYSTEMTIME st;
    GetLocalTime(&st);
    WCHAR szSuffix[64];
    MISC_Format(szSuffix, ARRAYSIZE(szSuffix), L"%d_%d_%d_%d_%d",
                st.wMinute, st.wSecond, st.wMilliseconds, factor1, factor2);

    WCHAR szBase[SM_CCH_PATH];
    WCHAR szName[SM_CCH_PATH] = L"";
    StringCchCopyW(szBase, ARRAYSIZE(szBase), pszOut);
    BOOL fOk = GetTempFileNameW(szBase, L"$", 0, szName) != 0;
    if (!fOk) {
        DWORD cchTemp = GetTempPathW(ARRAYSIZE(szBase), szBase);
        if (cchTemp > 0 && cchTemp < ARRAYSIZE(szBase))
            fOk = GetTempFileNameW(szBase, L"$", 0, szName) != 0;
        if (!fOk)
            TRACE_Print(TRACE_LEVEL_ERROR, L"create temp file name fail!");
    }

    if (fOk) {
        if (MISC_FileExists(szName))
            MISC_Remove(szName);
        LPWSTR pDot = wcsrchr(szName, L'.');
        if (pDot)
            *pDot = 0;
        fOk = SUCCEEDED(StringCchCatW(szName, ARRAYSIZE(szName), szSuffix));
    }
    if (fOk) {
        for (size_t i = 0; i < ARRAYSIZE(c_Extensions) && fOk; i++) {
            if (!(dwFlags & c_Extensions[i].bit))
                continue;
            if (MISC_FileExists(szName))
                MISC_Remove(szName);
            LPWSTR pDot = wcsrchr(szName, L'.');
            LPWSTR pSlash = wcsrchr(szName, L'\\');
            if (pDot && (!pSlash || pDot > pSlash) && (lstrcmpiW(pDot, L".txt") == 0
                    || lstrcmpiW(pDot, L".bmp") == 0 || lstrcmpiW(pDot, L".spl") == 0))
                *pDot = 0;
            fOk = SUCCEEDED(StringCchCatW(szName, ARRAYSIZE(szName), c_Extensions[i].ext));
        }
    }
    if (fOk)
        fOk = SUCCEEDED(StringCchCopyW(pszOut, cchOut, szName));
    if (hMutex) {
        TRACE_Print(TRACE_LEVEL_INFO, L"CloseHandle Mutex");
        CloseHandle(hMutex);
    }
    return fOk ? 1 : 0;
}

int MISC_GetPathName(LPWSTR pszOut, DWORD cchOut, DWORD dwFlags)
{
    if (!pszOut || cchOut == 0)
        return 0;
    TRACE_FuncIn(TRACE_LEVEL_INFO, L"MISC_GetPathName");
    pszOut[0] = 0;
    int rc = 0;
    DWORD dwMode = dwFlags & 0xFFFF;

    if (!GetBaseDirectory(pszOut, cchOut, dwFlags & 0xFFFF0000) || !MISC_AddBackslash(pszOut, cchOut)) {
        TRACE_TagError(L"MISC_GetPathName", L"get directory fail!");
        goto done;
    }
    if (!MISC_IsDirectory(pszOut)) {
        TRACE_TagError(L"MISC_GetPathName", L"directory %s not exist", pszOut);
        TRACE_TagError(L"MISC_GetPathName", L"get directory fail!");
        goto done;
    }

    if (dwMode == MISC_MODE_DIRECTORY) {
        rc = 1;
    } else if (dwMode == MISC_MODE_STATUS_INI || dwMode == MISC_MODE_STATUS_NAME) {
        if (FAILED(StringCchCatW(pszOut, cchOut, SM_STATUS_INI_NAME)))
            goto done;
        if (dwMode == MISC_MODE_STATUS_INI) {
            // The driver's announcement lives in this file: it is replaced only when it was read
            // and found not to be UTF-16, and made only when it is absent. A locked, unreadable or
            // unconvertible file is left byte for byte as it is.
            int check = MISC_CheckUniFile(pszOut);
            if (check == -2) {
                MISC_Remove(pszOut);
                MISC_CreateUniFile(pszOut);
            } else if (check != 1) {
                if (IsAbsent(pszOut))
                    MISC_CreateUniFile(pszOut);
                else
                    TRACE_Print(TRACE_LEVEL_INFO, L"exchange file kept as it is");
            }
        }
        rc = 1;
    } else {
        rc = MakeUniqueName(pszOut, cchOut, dwFlags);
    }
    if (rc)
        TRACE_Tag(L"MISC_GetPathName", L"pathname = %s", pszOut);
done:
    TRACE_FuncOut(TRACE_LEVEL_INFO);
    return rc;
}
