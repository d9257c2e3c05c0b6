// File locations, INI access, registry settings and the OS code: the helpers every module uses.
#pragma once
#include <windows.h>

#define SM_CCH_PATH 260

// Flags of MISC_GetPathName: the high 16 bits choose the base directory, the low 16 bits the mode.
#define MISC_BASE_SHARED_DOCS   0x000000   // shared documents (NT) or the temporary directory (9x)
#define MISC_BASE_WINDOWS_TEMP  0x010000
#define MISC_BASE_SYSTEM        0x020000
#define MISC_BASE_WINDOWS       0x040000
#define MISC_BASE_CURRENT       0x080000
#define MISC_BASE_DRIVER        0x100000
#define MISC_BASE_TEMP          0x200000
#define MISC_MODE_DIRECTORY     0x0000
#define MISC_MODE_STATUS_INI    0x0008
#define MISC_MODE_STATUS_NAME   0x0100
#define MISC_EXT_TXT            0x0200
#define MISC_EXT_BMP            0x0010
#define MISC_EXT_SPL            0x0040

#define SM_STATUS_INI_NAME      L"StatusMonitorV3.ini"
#define SM_SECTION_PRINTER      L"Printer Information"
#define SM_SECTION_JOB          L"Job Information"

// OS codes of MISC_GetOSVersion; greater than MISC_OS_LAST_9X is an NT-class system.
#define MISC_OS_FAILED   1
#define MISC_OS_WIN32S   2
#define MISC_OS_WIN95    4
#define MISC_OS_WIN98    8
#define MISC_OS_WINME    16
#define MISC_OS_NT3      32
#define MISC_OS_NT4      64
#define MISC_OS_UNKNOWN  128
#define MISC_OS_NT5      256
#define MISC_OS_NT6      512
#define MISC_OS_WIN7     2048
#define MISC_OS_WIN8     4096
#define MISC_OS_WIN81    8192
#define MISC_OS_NEWER    16384
#define MISC_OS_LAST_9X  16

extern WCHAR g_StatusIniPath[SM_CCH_PATH];
extern WCHAR g_MonitorPrinterName[256];

WORD MISC_GetOSVersion(void);
WORD MISC_OSCodeFromVersion(DWORD dwPlatformId, DWORD dwMajor, DWORD dwMinor);
BOOL MISC_IsNTClass(WORD osCode);

BOOL MISC_GetSharedDocuments(LPWSTR pszOut, size_t cchOut);
int  MISC_GetPathName(LPWSTR pszOut, DWORD cchOut, DWORD dwFlags);
int  MISC_AddBackslash(LPWSTR pszPath, size_t cchPath);
int  MISC_IsDirectory(LPCWSTR pszPath);
int  MISC_FileExists(LPCWSTR pszPath);
int  MISC_Remove(LPCWSTR pszPath);
int  MISC_CheckUniFile(LPCWSTR pszPath);
int  MISC_CreateUniFile(LPCWSTR pszPath);

UINT SM_GetIniInt(LPCWSTR pszSection, LPCWSTR pszKey, INT nDefault);
DWORD SM_GetIniString(LPCWSTR pszSection, LPCWSTR pszKey, LPWSTR pszOut, DWORD cchOut);
int  SM_GetPrinterNameFromIni(void);
int  MISC_WriteProfileString(LPCWSTR pszPath, LPCWSTR pszSection, LPCWSTR pszKey, LPCWSTR pszValue);

int  MISC_OpenRegKey(HKEY* phKey, LPCWSTR pszName);
int  MISC_SetRegValue(LPCWSTR pszValueName, DWORD dwValue, LPCWSTR pszKeyName);
