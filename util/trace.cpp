#include "util/trace.h"
#include <strsafe.h>
#include <stdio.h>
#include <stdarg.h>
#include <stdlib.h>

static const WCHAR c_szSeparator[] = L"::";
static const WCHAR c_szErrorMarker[] = L"-------------------------------------->ERROR";
static const WCHAR c_chIndent = L'+';

static TRACE_SETTINGS s_Settings = { 0, 255, { 0, 0, 0, 0, 0 }, 0, L"", L"" };

static int   s_Indent;
static int   s_Depth;
static WCHAR s_NameStack[TRACE_NAME_STACK][TRACE_CCH_NAME];
static WCHAR s_Line[TRACE_CCH_LINE];
static char  s_Ansi[TRACE_CB_ANSI];

void MISC_Format(LPWSTR pszBuf, size_t cchBuf, LPCWSTR pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    // STRSAFE_E_INSUFFICIENT_BUFFER still leaves a terminated, cut result.
    StringCchVPrintfW(pszBuf, cchBuf, pszFormat, args);
    va_end(args);
}

void MISC_DebugOut(LPCWSTR pszFormat, ...)
{
    WCHAR szLine[TRACE_CCH_LINE];
    va_list args;
    va_start(args, pszFormat);
    StringCchVPrintfW(szLine, ARRAYSIZE(szLine), pszFormat, args);
    va_end(args);
    OutputDebugStringW(szLine);
}

void TRACE_GetDefaultSettings(TRACE_SETTINGS* pSettings)
{
    ZeroMemory(pSettings, sizeof(*pSettings));
    pSettings->activeChannel = 255;
}

void TRACE_Configure(const TRACE_SETTINGS* pSettings)
{
    s_Settings = *pSettings;
    s_Settings.logPath[ARRAYSIZE(s_Settings.logPath) - 1] = 0;
    s_Settings.prefix[ARRAYSIZE(s_Settings.prefix) - 1] = 0;
}

// "key=value;key=value": threshold, channel, switch (of the active channel), file, path, prefix.
// A path given without "file" switches file output on.
BOOL TRACE_ParseSettings(LPCWSTR pszSpec, TRACE_SETTINGS* pSettings)
{
    TRACE_GetDefaultSettings(pSettings);
    if (!pszSpec || !*pszSpec)
        return FALSE;
    pSettings->threshold = TRACE_LEVEL_INFO;
    pSettings->activeChannel = 1;
    DWORD dwSwitch = 1;
    int fileSetting = -1;

    LPCWSTR p = pszSpec;
    while (*p) {
        LPCWSTR pEnd = p;
        while (*pEnd && *pEnd != L';')
            pEnd++;
        LPCWSTR pEq = p;
        while (pEq < pEnd && *pEq != L'=')
            pEq++;
        if (pEq < pEnd) {
            WCHAR szKey[16] = L"";
            WCHAR szValue[MAX_PATH] = L"";
            StringCchCopyNW(szKey, ARRAYSIZE(szKey), p, (size_t)(pEq - p));
            StringCchCopyNW(szValue, ARRAYSIZE(szValue), pEq + 1, (size_t)(pEnd - pEq - 1));
            if (!lstrcmpiW(szKey, L"threshold"))
                pSettings->threshold = (DWORD)_wtoi(szValue);
            else if (!lstrcmpiW(szKey, L"channel"))
                pSettings->activeChannel = _wtoi(szValue);
            else if (!lstrcmpiW(szKey, L"switch"))
                dwSwitch = (DWORD)_wtoi(szValue);
            else if (!lstrcmpiW(szKey, L"file"))
                fileSetting = _wtoi(szValue);
            else if (!lstrcmpiW(szKey, L"path"))
                StringCchCopyW(pSettings->logPath, ARRAYSIZE(pSettings->logPath), szValue);
            else if (!lstrcmpiW(szKey, L"prefix"))
                StringCchCopyW(pSettings->prefix, ARRAYSIZE(pSettings->prefix), szValue);
        }
        p = *pEnd ? pEnd + 1 : pEnd;
    }
    if (pSettings->activeChannel >= 1 && pSettings->activeChannel <= TRACE_CHANNELS)
        pSettings->channelSwitch[pSettings->activeChannel - 1] = dwSwitch;
    if (fileSetting >= 0)
        pSettings->fileOutput = (DWORD)fileSetting;
    else
        pSettings->fileOutput = pSettings->logPath[0] ? 1 : 0;
    return TRUE;
}

void TRACE_ConfigureFromEnvironment(void)
{
    WCHAR szSpec[512];
    DWORD cch = GetEnvironmentVariableW(TRACE_ENV_VAR, szSpec, ARRAYSIZE(szSpec));
    if (cch == 0 || cch >= ARRAYSIZE(szSpec))
        return;
    TRACE_SETTINGS settings;
    if (TRACE_ParseSettings(szSpec, &settings))
        TRACE_Configure(&settings);
}

void TRACE_GetCounters(int* pIndent, int* pDepth)
{
    if (pIndent) *pIndent = s_Indent;
    if (pDepth) *pDepth = s_Depth;
}

void TRACE_ResetCounters(void)
{
    s_Indent = 0;
    s_Depth = 0;
    ZeroMemory(s_NameStack, sizeof(s_NameStack));
}

DWORD TRACE_IsEnabled(void)
{
    if (s_Settings.threshold == 0)
        return 0;
    if (s_Settings.activeChannel < 1 || s_Settings.activeChannel > TRACE_CHANNELS)
        return 0;
    return s_Settings.channelSwitch[s_Settings.activeChannel - 1];
}

static BOOL IsLevelWritten(UINT level)
{
    return TRACE_IsEnabled() && (WORD)level >= (WORD)s_Settings.threshold;
}

static void WriteLine(void)
{
    if (s_Settings.fileOutput)
        TRACE_WriteFile(s_Line);
    OutputDebugStringW(s_Line);
}

// Starts s_Line with v indentation characters (v clamped to 0..512) and the prefix.
static void BeginLine(int v)
{
    if (v < 0) v = 0;
    if (v > TRACE_MAX_INDENT) v = TRACE_MAX_INDENT;
    for (int i = 0; i < v; i++)
        s_Line[i] = c_chIndent;
    s_Line[v] = 0;
    StringCchCatW(s_Line, ARRAYSIZE(s_Line), s_Settings.prefix);
}

static void AppendFormatV(LPCWSTR pszFormat, va_list args)
{
    size_t cchUsed = wcslen(s_Line);
    StringCchVPrintfW(s_Line + cchUsed, ARRAYSIZE(s_Line) - cchUsed, pszFormat, args);
}

static void AppendFormat(LPCWSTR pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    AppendFormatV(pszFormat, args);
    va_end(args);
}

static LPCWSTR NameAt(int depth)
{
    if (depth < 0 || depth >= TRACE_NAME_STACK)
        return L"";
    return s_NameStack[depth];
}

void TRACE_FuncIn(UINT level, LPCWSTR pszName)
{
    int v = s_Indent;
    s_Indent += 2;
    if (IsLevelWritten(level)) {
        if (s_Depth >= 0 && s_Depth < TRACE_NAME_STACK)
            StringCchCopyW(s_NameStack[s_Depth], TRACE_CCH_NAME, pszName ? pszName : L"");
        BeginLine(v);
        AppendFormat(L"%s in, %d", s_Depth < TRACE_NAME_STACK ? NameAt(s_Depth) : pszName, v + 2);
        WriteLine();
    }
    s_Depth++;
}

void TRACE_FuncOut(UINT level)
{
    s_Indent -= 2;
    if (s_Indent < 0) s_Indent = 0;
    s_Depth -= 1;
    if (s_Depth < 0) s_Depth = 0;
    if (!IsLevelWritten(level))
        return;
    BeginLine(s_Indent);
    AppendFormat(L"%s out", NameAt(s_Depth));
    WriteLine();
    OutputDebugStringW(L" ");
}

void TRACE_Print(UINT level, LPCWSTR pszFormat, ...)
{
    int v = s_Indent < 0 ? 0 : s_Indent;
    if (!IsLevelWritten(level))
        return;
    BeginLine(v);
    AppendFormat(L"%s%s", s_Depth > 0 ? NameAt(s_Depth - 1) : L"", c_szSeparator);
    va_list args;
    va_start(args, pszFormat);
    AppendFormatV(pszFormat, args);
    va_end(args);
    if (level == TRACE_LEVEL_ERROR)
        StringCchCatW(s_Line, ARRAYSIZE(s_Line), c_szErrorMarker);
    WriteLine();
}

static void TagV(LPCWSTR pszTag, BOOL fError, LPCWSTR pszFormat, va_list args)
{
    if (!TRACE_IsEnabled())
        return;
    MISC_Format(s_Line, ARRAYSIZE(s_Line), L"%s[%s]%s", s_Settings.prefix, pszTag ? pszTag : L"", c_szSeparator);
    AppendFormatV(pszFormat, args);
    if (fError)
        StringCchCatW(s_Line, ARRAYSIZE(s_Line), c_szErrorMarker);
    WriteLine();
}

void TRACE_Tag(LPCWSTR pszTag, LPCWSTR pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    TagV(pszTag, FALSE, pszFormat, args);
    va_end(args);
}

void TRACE_TagError(LPCWSTR pszTag, LPCWSTR pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    TagV(pszTag, TRUE, pszFormat, args);
    va_end(args);
}

int TRACE_WriteFile(LPCWSTR pszLine)
{
    FILE* fp = _wfopen(s_Settings.logPath, L"a+b");
    if (!fp)
        return 1;
    // Cut the line until its ANSI form fits the buffer with its terminator.
    int cchLine = (int)wcslen(pszLine);
    int cb = 0;
    while (cchLine > 0) {
        cb = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, pszLine, cchLine,
                                 s_Ansi, TRACE_CB_ANSI - 1, NULL, NULL);
        if (cb > 0)
            break;
        cchLine -= cchLine / 8 + 1;
    }
    if (cb < 0) cb = 0;
    s_Ansi[cb] = 0;
    fwrite(s_Ansi, 1, (size_t)cb, fp);
    fwrite("\r\n", 1, 2, fp);
    fclose(fp);
    return 1;
}
