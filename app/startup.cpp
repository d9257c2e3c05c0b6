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

// One pass of the command-line rules; with argv NULL it only counts the arguments and the
// characters they need (terminators included).
//  - The program name ends at the next quote when it starts with one, else at the first space
//    or tab; nothing in it is an escape.
//  - After it, spaces and tabs outside quotes part arguments. 2n backslashes before a quote give
//    n backslashes and the quote opens or closes quoting; 2n+1 give n and a literal quote;
//    backslashes before anything else are literal. In a run of quotes every third one is a
//    literal quote, and a run that leaves two unmatched ends the quoting.
static void SplitPass(LPCWSTR s, LPWSTR* argv, LPWSTR pchOut, int* pArgc, size_t* pcch)
{
    int argc = 0;
    size_t cch = 0;
    auto put = [&](WCHAR c) {
        if (pchOut)
            pchOut[cch] = c;
        cch++;
    };
    if (argv)
        argv[argc] = pchOut;
    if (*s == L'"') {
        for (s++; *s && *s != L'"'; s++)
            put(*s);
        if (*s)
            s++;
    } else {
        for (; *s && *s != L' ' && *s != L'\t'; s++)
            put(*s);
    }
    put(L'\0');
    argc++;
    for (;;) {
        while (*s == L' ' || *s == L'\t')
            s++;
        if (!*s)
            break;
        if (argv)
            argv[argc] = pchOut + cch;
        int cQuote = 0;         // 1 while quoting
        for (;;) {
            size_t cBackslash = 0;
            while (*s == L'\\') {
                cBackslash++;
                s++;
            }
            if (*s == L'"') {
                for (size_t i = 0; i < cBackslash / 2; i++)
                    put(L'\\');
                s++;
                if (cBackslash % 2) {
                    put(L'"');
                    continue;
                }
                cQuote++;
                for (; *s == L'"'; s++) {
                    if (++cQuote == 3) {
                        put(L'"');
                        cQuote = 0;
                    }
                }
                if (cQuote == 2)
                    cQuote = 0;
                continue;
            }
            for (size_t i = 0; i < cBackslash; i++)
                put(L'\\');
            if (!*s || ((*s == L' ' || *s == L'\t') && cQuote == 0))
                break;
            put(*s);
            s++;
        }
        put(L'\0');
        argc++;
    }
    *pArgc = argc;
    *pcch = cch;
}

LPWSTR* SM_SplitCommandLine(LPCWSTR pszCmdLine, int* pArgc)
{
    *pArgc = 0;
    // An empty command line names the program alone.
    WCHAR szProgram[SM_CCH_PATH];
    if (!pszCmdLine || !*pszCmdLine) {
        DWORD cchProgram = GetModuleFileNameW(NULL, szProgram, ARRAYSIZE(szProgram));
        if (cchProgram == 0 || cchProgram >= ARRAYSIZE(szProgram))
            return NULL;
    }
    bool fEmpty = !pszCmdLine || !*pszCmdLine;
    int argc = 1;
    size_t cch = fEmpty ? wcslen(szProgram) + 1 : 0;
    if (!fEmpty)
        SplitPass(pszCmdLine, NULL, NULL, &argc, &cch);
    // One block, as the shell's splitter returns it (freed with LocalFree): the pointers, then
    // the texts.
    size_t cbPointers = ((size_t)argc + 1) * sizeof(LPWSTR);
    LPWSTR* argv = (LPWSTR*)LocalAlloc(LMEM_FIXED, cbPointers + cch * sizeof(WCHAR));
    if (!argv)
        return NULL;
    LPWSTR pchOut = (LPWSTR)((BYTE*)argv + cbPointers);
    if (fEmpty) {
        memcpy(pchOut, szProgram, cch * sizeof(WCHAR));
        argv[0] = pchOut;
    } else {
        SplitPass(pszCmdLine, argv, pchOut, &argc, &cch);
    }
    argv[argc] = NULL;
    *pArgc = argc;
    return argv;
}
