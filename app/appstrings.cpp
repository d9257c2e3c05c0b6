#include "app/app.h"
#include "util/trace.h"
#include <strsafe.h>

void SM_BuildMsgIniPath(LPWSTR pszBuf, size_t cchBuf)
{
    StringCchCatW(pszBuf, cchBuf, SM_MSG_INI_NAME);
}

void LoadStringForApp(void)
{
    TRACE_Tag(L"LoadStringForApp", L"%s", g_MsgIniPath);
    for (int n = 1; n <= SM_APP_STRINGS; n++) {
        WCHAR szKey[16];
        MISC_Format(szKey, ARRAYSIZE(szKey), L"idc%03d", n);
        GetPrivateProfileStringW(L"string", szKey, L"", g_AppString[n - 1], SM_CCH_APP_STRING, g_MsgIniPath);
        TRACE_Tag(L"LoadStringForApp", L"%s = %s", szKey, g_AppString[n - 1]);
    }
}
