// The start lock of the resident monitor, shared by "install" and "uninstall".
#include "app/app.h"
#include "util/trace.h"
#include <strsafe.h>

static const DWORD c_msStartLockWait = 30000;
static const WCHAR c_szStartLockFormat[] = L"SM_Start_%s";

static HANDLE g_hStartLock;

// The lock of the start of a monitor: a named mutex made from the class name, owned by "install"
// from before it writes the Run value until the monitor's window exists, and by "uninstall"
// while it looks for that window. A name too long for the buffer is cut: two programs whose
// names share those first characters then only wait for each other's start.
BOOL SM_TakeStartLock(void)
{
    WCHAR szName[SM_CCH_PATH];
    StringCchPrintfW(szName, ARRAYSIZE(szName), c_szStartLockFormat, g_ClassName);
    HANDLE hMutex = CreateMutexW(NULL, FALSE, szName);
    if (!hMutex) {
        TRACE_Print(TRACE_LEVEL_ERROR, L"CreateMutex fail, %u", (unsigned)GetLastError());
        return FALSE;
    }
    // An abandoned lock (its holder ended half-way) is owned all the same.
    DWORD dwWait = WaitForSingleObject(hMutex, c_msStartLockWait);
    if (dwWait != WAIT_OBJECT_0 && dwWait != WAIT_ABANDONED) {
        TRACE_Print(TRACE_LEVEL_ERROR, L"start lock not taken, %u", (unsigned)dwWait);
        CloseHandle(hMutex);
        return FALSE;
    }
    g_hStartLock = hMutex;
    return TRUE;
}

void SM_ReleaseStartLock(void)
{
    if (g_hStartLock) {
        ReleaseMutex(g_hStartLock);
        CloseHandle(g_hStartLock);
        g_hStartLock = NULL;
    }
}

