// smctl lint: every message text of a smen.ini measured in the status dialog's own slot with the
// dialog's own font (a hidden instance of the program's template), converted to the file's code
// page as a 9x-class system shows it, and the file's keys checked against what the program reads.
#include "tools/smctl/smctl.h"
#include "tools/smctl/smctl_lint.h"
#include "tools/smctl/smctl_ui.h"
#include "status/status.h"
#include "app/app.h"
#include "util/misc.h"
#include "util/trace.h"
#include <stdio.h>
#include <stdarg.h>
#include <strsafe.h>
#include <string>
#include <vector>

namespace {

const WCHAR c_Section[] = L"string";
const WCHAR c_Absent[] = L"\x01";
const DWORD c_cchKeyList = 32768;
const UINT  c_StaticDrawFlags = DT_WORDBREAK | DT_EXPANDTABS | DT_LEFT;   // as a left-aligned static draws

// Keys of section "string" that the program reads besides the message keys.
const LPCWSTR c_OtherKeys[] = { L"group", L"btn001", L"btn002", L"codepage" };

struct Verdicts {
    int errors = 0;
    int warnings = 0;
};

// One verdict line, "error: ..." or "warning: ...", counted.
void Report(Verdicts* v, bool fError, LPCWSTR pszFormat, va_list args)
{
    WCHAR szLine[1024];
    StringCchVPrintfW(szLine, ARRAYSIZE(szLine), pszFormat, args);
    wprintf(L"%ls: %ls\n", fError ? L"error" : L"warning", szLine);
    if (fError)
        v->errors++;
    else
        v->warnings++;
}

void Error(Verdicts* v, LPCWSTR pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    Report(v, true, pszFormat, args);
    va_end(args);
}

void Warning(Verdicts* v, LPCWSTR pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    Report(v, false, pszFormat, args);
    va_end(args);
}

bool IsReadKey(LPCWSTR pszKey)
{
    for (const SM_CATALOGUE_ENTRY& e : g_Catalogue) {
        if (_wcsicmp(pszKey, e.pszKey) == 0)
            return true;
    }
    for (LPCWSTR k : c_OtherKeys) {
        if (_wcsicmp(pszKey, k) == 0)
            return true;
    }
    // idc001 .. idc018: the application strings.
    int n = 0;
    WCHAR tail = 0;
    return swscanf(pszKey, L"idc%3d%lc", &n, &tail) == 1 && wcslen(pszKey) == 6 && n >= 1 && n <= SM_APP_STRINGS;
}

// The slot's measuring context: a DC of slot 1001 with the dialog's font selected.
struct Slot {
    HWND hDlg = NULL;
    HDC hdc = NULL;
    HGDIOBJ hOldFont = NULL;
    RECT rc = {};
    int cyLine = 0;
    int cLines = 0;                     // whole lines the slot shows
};

bool OpenSlot(Slot* s)
{
    s->hDlg = SmctlUi_CreateMeasureDialog();
    HWND hCtl = s->hDlg ? GetDlgItem(s->hDlg, IDC_SM_MSG_FIRST) : NULL;
    if (!hCtl)
        return false;
    GetClientRect(hCtl, &s->rc);
    s->hdc = GetDC(hCtl);
    if (!s->hdc)
        return false;
    HFONT hFont = (HFONT)SendMessageW(hCtl, WM_GETFONT, 0, 0);
    if (hFont)
        s->hOldFont = SelectObject(s->hdc, hFont);
    TEXTMETRICW tm;
    GetTextMetricsW(s->hdc, &tm);
    s->cyLine = tm.tmHeight;
    s->cLines = s->cyLine > 0 ? (s->rc.bottom - s->rc.top) / s->cyLine : 0;
    return s->cyLine > 0;
}

void CloseSlot(Slot* s)
{
    if (s->hdc) {
        if (s->hOldFont)
            SelectObject(s->hdc, s->hOldFont);
        ReleaseDC(GetDlgItem(s->hDlg, IDC_SM_MSG_FIRST), s->hdc);
    }
    if (s->hDlg)
        DestroyWindow(s->hDlg);
}

// Lines the text takes in the slot's width, and whether a single word is wider than the slot.
int LinesNeeded(const Slot& s, const std::wstring& text, bool* pfTooWide)
{
    RECT rc = s.rc;
    DrawTextW(s.hdc, text.c_str(), (int)text.size(), &rc, c_StaticDrawFlags | DT_CALCRECT);
    *pfTooWide = rc.right > s.rc.right;
    return (rc.bottom - rc.top + s.cyLine - 1) / s.cyLine;
}

// The words that fall outside the lines the slot shows.
std::wstring CutWords(const Slot& s, const std::wstring& text)
{
    size_t fit = 0;
    for (size_t i = 0; i <= text.size(); i++) {
        if (i < text.size() && text[i] != L' ')
            continue;
        bool tooWide = false;
        if (LinesNeeded(s, text.substr(0, i), &tooWide) > s.cLines || tooWide)
            break;
        fit = i;
    }
    size_t start = text.find_first_not_of(L' ', fit);
    return start == std::wstring::npos ? L"" : text.substr(start);
}

void CheckFit(Verdicts* v, const Slot& s, LPCWSTR pszKey, DWORD code, const std::wstring& text)
{
    bool tooWide = false;
    int need = LinesNeeded(s, text, &tooWide);
    if (need <= s.cLines && !tooWide)
        return;
    Error(v, L"%s (code %u): \"%s\" needs %d lines%s, the slot shows %d: cut \"%s\"", pszKey, (unsigned)code,
          text.c_str(), need, tooWide ? L" and a word is wider than the slot" : L"", s.cLines,
          CutWords(s, text).c_str());
}

void CheckCodePage(Verdicts* v, UINT codePage, LPCWSTR pszKey, DWORD code, const std::wstring& text)
{
    char szAnsi[260];
    BOOL fLost = FALSE;
    int cb = SM_SlotTextToAnsi(codePage, text.c_str(), szAnsi, sizeof(szAnsi), &fLost);
    if (cb > 0 && !fLost)
        return;
    std::wstring bad;
    for (wchar_t c : text) {
        WCHAR one[2] = { c, 0 };
        char sz[8];
        BOOL fCharLost = FALSE;
        if (SM_SlotTextToAnsi(codePage, one, sz, sizeof(sz), &fCharLost) <= 0 || fCharLost) {
            WCHAR szHex[16];
            MISC_Format(szHex, ARRAYSIZE(szHex), L"%sU+%04X", bad.empty() ? L"" : L" ", (unsigned)c);
            bad += szHex;
        }
    }
    if (cb <= 0 && bad.empty())
        Error(v, L"%s (code %u): does not convert to code page %u at all (a 9x-class system shows an empty line)",
              pszKey, (unsigned)code, codePage);
    else
        Error(v, L"%s (code %u): characters without a form in code page %u: %s", pszKey, (unsigned)code, codePage,
              bad.c_str());
}

} // namespace

int Smctl_Lint(int argc, wchar_t** argv)
{
    if (argc > 1) {
        Smctl_Error(L"usage: lint %ls", SMCTL_LINT_USAGE);
        return 2;
    }
    // The program's own message file unless one is named; a named one is taken as a path.
    g_MsgIniPath[0] = 0;
    if (argc == 1)
        GetFullPathNameW(argv[0], ARRAYSIZE(g_MsgIniPath), g_MsgIniPath, NULL);
    else
        SM_BuildMsgIniPath(g_MsgIniPath, ARRAYSIZE(g_MsgIniPath));
    WCHAR szShown[MAX_PATH];
    if (argc == 1) {
        lstrcpynW(szShown, g_MsgIniPath, ARRAYSIZE(szShown));
    } else {
        GetWindowsDirectoryW(szShown, ARRAYSIZE(szShown));
        size_t n = wcslen(szShown);
        MISC_Format(szShown + n, ARRAYSIZE(szShown) - n, L"\\%s", g_MsgIniPath);
    }
    wprintf(L"file: %ls\n", szShown);
    Verdicts v;
    if (!MISC_FileExists(szShown)) {
        Error(&v, L"the file does not exist: every line shows its built-in default");
        wprintf(L"%d errors, %d warnings\n", v.errors, v.warnings);
        return 2;
    }

    Slot slot;
    if (!OpenSlot(&slot)) {
        CloseSlot(&slot);
        Smctl_Error(L"the status dialog cannot be made here (no display?): the texts cannot be measured");
        return 2;
    }
    wprintf(L"slot: %ld x %ld pixels, %d lines of %d pixels\n", (long)(slot.rc.right - slot.rc.left),
            (long)(slot.rc.bottom - slot.rc.top), slot.cLines, slot.cyLine);

    // The code page: 0 is the system's ANSI code page; any other must be one the system knows.
    WCHAR szProbe[16];
    GetPrivateProfileStringW(c_Section, L"codepage", c_Absent, szProbe, ARRAYSIZE(szProbe), g_MsgIniPath);
    UINT codePage = SM_MessageCodePage();
    bool codePageUsable = true;
    if (wcscmp(szProbe, c_Absent) == 0) {
        wprintf(L"codepage: absent, the system's ANSI code page (%u) is used\n", GetACP());
    } else if (codePage != 0 && !IsValidCodePage(codePage)) {
        Error(&v, L"codepage %u (\"%s\") is not a code page this system knows", codePage, szProbe);
        codePageUsable = false;
    } else {
        wprintf(L"codepage: %u\n", codePage);
    }

    for (const SM_CATALOGUE_ENTRY& e : g_Catalogue) {
        GetPrivateProfileStringW(c_Section, e.pszKey, c_Absent, szProbe, ARRAYSIZE(szProbe), g_MsgIniPath);
        bool present = wcscmp(szProbe, c_Absent) != 0;
        if (!present)
            Warning(&v, L"%s (code %u) is missing: the built-in default \"%s\" is shown", e.pszKey,
                    (unsigned)e.dwErrCode, e.pszDefault);
        // The whole value, to tell a text that the program cuts at 127 characters.
        std::vector<WCHAR> full(c_cchKeyList);
        GetPrivateProfileStringW(c_Section, e.pszKey, e.pszDefault, full.data(), (DWORD)full.size(), g_MsgIniPath);
        std::wstring text = full.data();
        if (text.size() > SM_CCH_MESSAGE - 1) {
            Error(&v, L"%s (code %u): %u characters, the program keeps %u: cut \"%s\"", e.pszKey,
                  (unsigned)e.dwErrCode, (unsigned)text.size(), (unsigned)(SM_CCH_MESSAGE - 1),
                  text.substr(SM_CCH_MESSAGE - 1).c_str());
            text.resize(SM_CCH_MESSAGE - 1);
        }
        // Code 277 carries the store-job name after its text; measured with an empty name.
        if (e.dwErrCode == SM_CODE_STORE_NAME_CHANGED)
            text += L" .";
        CheckFit(&v, slot, e.pszKey, e.dwErrCode, text);
        if (present && codePageUsable)
            CheckCodePage(&v, codePage, e.pszKey, e.dwErrCode, text);
    }
    CloseSlot(&slot);

    // Keys and sections the program does not read.
    std::vector<WCHAR> list(c_cchKeyList);
    GetPrivateProfileStringW(c_Section, NULL, L"", list.data(), (DWORD)list.size(), g_MsgIniPath);
    for (LPCWSTR k = list.data(); *k; k += wcslen(k) + 1) {
        if (!IsReadKey(k))
            Warning(&v, L"key \"%s\" is not read by the program", k);
    }
    GetPrivateProfileSectionNamesW(list.data(), (DWORD)list.size(), g_MsgIniPath);
    for (LPCWSTR k = list.data(); *k; k += wcslen(k) + 1) {
        if (_wcsicmp(k, c_Section) != 0)
            Warning(&v, L"section [%s] is not read by the program", k);
    }

    wprintf(L"%d errors, %d warnings\n", v.errors, v.warnings);
    return v.errors ? 2 : v.warnings ? 1 : 0;
}
