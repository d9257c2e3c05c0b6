#include "util/misc.h"
#include "util/trace.h"

static_assert(sizeof(OSVERSIONINFOW) == 276, "OSVERSIONINFOW is 276 bytes");

WORD MISC_OSCodeFromVersion(DWORD dwPlatformId, DWORD dwMajor, DWORD dwMinor)
{
    switch (dwPlatformId) {
    case VER_PLATFORM_WIN32s:
        return MISC_OS_WIN32S;
    case VER_PLATFORM_WIN32_WINDOWS:
        if (dwMinor == 0)  return MISC_OS_WIN95;
        if (dwMinor == 90) return MISC_OS_WINME;
        return MISC_OS_WIN98;
    case VER_PLATFORM_WIN32_NT:
        switch (dwMajor) {
        case 3: return MISC_OS_NT3;
        case 4: return MISC_OS_NT4;
        case 5: return MISC_OS_NT5;
        case 6:
            switch (dwMinor) {
            case 1: return MISC_OS_WIN7;
            case 2: return MISC_OS_WIN8;
            case 3: return MISC_OS_WIN81;
            default: return MISC_OS_NT6;
            }
        default:
            return MISC_OS_NEWER;
        }
    default:
        return MISC_OS_UNKNOWN;
    }
}

WORD MISC_GetOSVersion(void)
{
    OSVERSIONINFOW osvi;
    ZeroMemory(&osvi, sizeof(osvi));
    osvi.dwOSVersionInfoSize = sizeof(osvi);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (!GetVersionExW(&osvi))
        return MISC_OS_FAILED;
#pragma GCC diagnostic pop
    return MISC_OSCodeFromVersion(osvi.dwPlatformId, osvi.dwMajorVersion, osvi.dwMinorVersion);
}

BOOL MISC_IsNTClass(WORD osCode)
{
    return osCode > MISC_OS_LAST_9X;
}
