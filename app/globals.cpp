#include "app/app.h"

HINSTANCE g_hInst;
WCHAR g_ClassName[SM_CCH_PATH];
WCHAR g_MsgIniPath[SM_CCH_PATH];
WORD  g_OSVersion = MISC_OS_UNKNOWN;
LONG  g_Language = 1033;
LONG  g_LanguageIndex;
LONG  g_SecurityType;
WCHAR g_PrinterName[SM_CCH_PATH];
HWND  g_hWndMain;
WCHAR g_AppString[SM_APP_STRINGS][SM_CCH_APP_STRING];
