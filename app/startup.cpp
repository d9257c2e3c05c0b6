#include "app/app.h"
#include <strsafe.h>

// The program file's base name: after the last backslash, cut at the last full stop.
int SM_ClassNameFromPath(LPCWSTR pszModulePath, LPWSTR pszOut, size_t cchOut)
{
    if (!pszModulePath || !pszOut || cchOut == 0)
        return 0;
    LPCWSTR pszName = wcsrchr(pszModulePath, L'\\');
    pszName = pszName ? pszName + 1 : pszModulePath;
    LPCWSTR pszDot = wcsrchr(pszName, L'.');
    size_t cchName = pszDot ? (size_t)(pszDot - pszName) : wcslen(pszName);
    return SUCCEEDED(StringCchCopyNW(pszOut, cchOut, pszName, cchName)) ? 1 : 0;
}
