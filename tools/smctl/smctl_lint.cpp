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
    Smctl_Print(L"%s: %s\n", fError ? L"error" : L"warning", szLine);
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

// The file as lines of sections and keys, for what the profile functions do not tell: a key
// or a section written twice.
struct Entry {
    std::wstring section, key;
    int line;
};

void ParseEntries(const std::wstring& text, std::vector<Entry>* pSections, std::vector<Entry>* pKeys)
{
    std::wstring section;
    int lineNo = 0;
    for (std::wstring line : Smctl_Lines(text)) {
        lineNo++;
        size_t a = line.find_first_not_of(L" \t\r");
        if (a == std::wstring::npos || line[a] == L';')
            continue;
        size_t b = line.find_last_not_of(L" \t\r");
        line = line.substr(a, b - a + 1);
        if (line[0] == L'[') {
            size_t close = line.find(L']');
            section = line.substr(1, close == std::wstring::npos ? std::wstring::npos : close - 1);
            pSections->push_back(Entry{ section, L"", lineNo });
            continue;
        }
        size_t eq = line.find(L'=');
        if (eq == std::wstring::npos || section.empty())
            continue;
        std::wstring key = line.substr(0, eq);
        key = key.substr(0, key.find_last_not_of(L" \t") + 1);
        pKeys->push_back(Entry{ section, key, lineNo });
    }
}

// Sections and keys written twice: the profile functions take one of them and say nothing.
void CheckDuplicates(Verdicts* v, const std::vector<Entry>& sections, const std::vector<Entry>& keys)
{
    for (size_t i = 0; i < sections.size(); i++) {
        for (size_t j = 0; j < i; j++) {
            if (_wcsicmp(sections[i].section.c_str(), sections[j].section.c_str()) == 0) {
                Error(v, L"section [%s] appears twice (lines %d and %d): write each section once",
                      sections[i].section.c_str(), sections[j].line, sections[i].line);
                break;
            }
        }
    }
    for (size_t i = 0; i < keys.size(); i++) {
        for (size_t j = 0; j < i; j++) {
            if (_wcsicmp(keys[i].section.c_str(), keys[j].section.c_str()) != 0
                || _wcsicmp(keys[i].key.c_str(), keys[j].key.c_str()) != 0)
                continue;
            Error(v, L"key \"%s\" appears twice in [%s] (lines %d and %d): the program reads one value only; "
                     L"keep one line", keys[i].key.c_str(), keys[i].section.c_str(), keys[j].line, keys[i].line);
            break;
        }
    }
}

// The captions the dialog reads from the file, each measured in its own control; the margin,
// in average character widths, is what the control keeps free of text.
struct CAPTION {
    int id;
    LPCWSTR pszKey;
    LPCWSTR pszDefault;
    int cxMargin;
};
const CAPTION c_Captions[] = {
    { IDC_SM_GROUP, L"group", L"Status Message", 2 },
    { IDC_SM_DELETE, L"btn001", L"Delete", 1 },
    { IDC_SM_CONTINUE, L"btn002", L"Continue", 1 },
};

void CheckCaption(Verdicts* v, HWND hDlg, const CAPTION& c)
{
    WCHAR szText[SM_CCH_PATH] = L"";
    GetPrivateProfileStringW(c_Section, c.pszKey, c.pszDefault, szText, ARRAYSIZE(szText), g_MsgIniPath);
    HWND hCtl = GetDlgItem(hDlg, c.id);
    HDC hdc = hCtl ? GetDC(hCtl) : NULL;
    if (!hdc)
        return;
    HFONT hFont = (HFONT)SendMessageW(hCtl, WM_GETFONT, 0, 0);
    HGDIOBJ hOld = hFont ? SelectObject(hdc, hFont) : NULL;
    SIZE size = {};
    GetTextExtentPoint32W(hdc, szText, (int)wcslen(szText), &size);
    TEXTMETRICW tm = {};
    GetTextMetricsW(hdc, &tm);
    if (hOld)
        SelectObject(hdc, hOld);
    ReleaseDC(hCtl, hdc);
    RECT rc;
    GetClientRect(hCtl, &rc);
    int cxRoom = (int)(rc.right - rc.left) - c.cxMargin * (int)tm.tmAveCharWidth;
    if (size.cx > cxRoom)
        Error(v, L"%s \"%s\" is %ld pixels wide, its control shows %d: cut", c.pszKey, szText, (long)size.cx, cxRoom);
}

} // namespace

int Smctl_Lint(int argc, wchar_t** argv)
{
    if (argc > 1)
        return Smctl_Usage(L"lint", L"at most one message file");
    // The program's own message file unless one is named (then relative to the current folder).
    std::wstring path;
    if (argc == 1) {
        path = Smctl_FullPath(argv[0]);
    } else {
        path = SmctlUi_MessageFile();
    }
    if (path.size() >= ARRAYSIZE(g_MsgIniPath)) {
        Smctl_Error(L"the path is longer than %d characters; move the file", (int)ARRAYSIZE(g_MsgIniPath) - 1);
        return SMCTL_EXIT_USAGE;
    }
    lstrcpynW(g_MsgIniPath, path.c_str(), ARRAYSIZE(g_MsgIniPath));
    std::string bytes;
    SMCTL_ENCODING enc = Smctl_ReadFile(path.c_str(), &bytes);
    if (enc == SMCTL_ENC_MISSING || enc == SMCTL_ENC_FOLDER || enc == SMCTL_ENC_UNREADABLE) {
        Smctl_Error(L"%s is %s; name a message file (smen.ini)", path.c_str(), Smctl_EncodingName(enc));
        return SMCTL_EXIT_USAGE;
    }
    Smctl_Print(L"file: %s\nencoding: %s\n", path.c_str(), Smctl_EncodingName(enc));
    Verdicts v;
    std::wstring text;
    std::vector<Entry> sections, keys;
    if (Smctl_DecodeText(enc, bytes, &text))
        ParseEntries(text, &sections, &keys);
    bool hasString = false;
    for (const Entry& e : sections)
        hasString = hasString || _wcsicmp(e.section.c_str(), c_Section) == 0;
    if (!hasString) {
        Error(&v, L"not a catalogue: %s", enc == SMCTL_ENC_EMPTY ? L"the file is empty"
                                          : enc == SMCTL_ENC_BINARY ? L"the file is not text"
                                                                    : L"it has no [string] section");
        Smctl_Print(L"%d errors, %d warnings\n", v.errors, v.warnings);
        return SMCTL_EXIT_FAILED;
    }
    bool nonAscii = false;
    for (wchar_t c : text)
        nonAscii = nonAscii || c > 0x7F;
    if (enc == SMCTL_ENC_ASCII)
        Warning(&v, L"ASCII without byte-order mark: right while every text is ASCII; the program's files are "
                    L"UTF-16 with byte-order mark");
    else if (enc != SMCTL_ENC_UTF16LE && nonAscii)
        Error(&v, L"%s: the profile functions read a file without the UTF-16 mark in the ANSI code page, so "
                  L"its texts show garbled; save it as UTF-16 with byte-order mark", Smctl_EncodingName(enc));
    else if (enc != SMCTL_ENC_UTF16LE)
        Error(&v, L"%s: save it as UTF-16 with byte-order mark", Smctl_EncodingName(enc));
    CheckDuplicates(&v, sections, keys);

    Slot slot;
    if (!OpenSlot(&slot)) {
        CloseSlot(&slot);
        Smctl_Error(L"the status dialog cannot be made here, so the texts cannot be measured; run it on a display");
        return SMCTL_EXIT_USAGE;
    }
    Smctl_Print(L"slot: %ld x %ld pixels, %d lines of %d pixels\n", (long)(slot.rc.right - slot.rc.left),
                (long)(slot.rc.bottom - slot.rc.top), slot.cLines, slot.cyLine);

    // The code page: a number; 0 is the system's ANSI code page, any other must be one the system knows.
    WCHAR szProbe[64];
    GetPrivateProfileStringW(c_Section, L"codepage", c_Absent, szProbe, ARRAYSIZE(szProbe), g_MsgIniPath);
    UINT codePage = SM_MessageCodePage();
    bool codePageUsable = true;
    long long written = 0;
    if (wcscmp(szProbe, c_Absent) == 0) {
        Smctl_Print(L"codepage: absent, the system's ANSI code page (%u) is used\n", GetACP());
    } else if (!Smctl_ParseNumber(szProbe, 0, 65535, &written)) {
        Error(&v, L"codepage \"%s\" is not a code page number (the program reads %u); write the number, "
                  L"for example 1252", szProbe, codePage);
        codePageUsable = false;
    } else if (codePage != 0 && !IsValidCodePage(codePage)) {
        Error(&v, L"codepage %u (\"%s\") is not a code page this system knows", codePage, szProbe);
        codePageUsable = false;
    } else {
        Smctl_Print(L"codepage: %u\n", codePage);
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
        std::wstring msg = full.data();
        if (msg.size() > SM_CCH_MESSAGE - 1) {
            Error(&v, L"%s (code %u): %u characters, the program keeps %u: cut \"%s\"", e.pszKey,
                  (unsigned)e.dwErrCode, (unsigned)msg.size(), (unsigned)(SM_CCH_MESSAGE - 1),
                  msg.substr(SM_CCH_MESSAGE - 1).c_str());
            msg.resize(SM_CCH_MESSAGE - 1);
        }
        // Code 277 carries the store-job name after its text; measured with an empty name.
        if (e.dwErrCode == SM_CODE_STORE_NAME_CHANGED)
            msg += L" .";
        CheckFit(&v, slot, e.pszKey, e.dwErrCode, msg);
        if (present && codePageUsable)
            CheckCodePage(&v, codePage, e.pszKey, e.dwErrCode, msg);
    }
    for (const CAPTION& c : c_Captions)
        CheckCaption(&v, slot.hDlg, c);
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

    Smctl_Print(L"%d errors, %d warnings\n", v.errors, v.warnings);
    return v.errors ? SMCTL_EXIT_FAILED : SMCTL_EXIT_DONE;
}
