// smctl why: reads the exchange file and smen.ini as the monitor does and prints each decision
// it would take, through the program's own parser, catalogue, item table and slot layout.
#include "tools/smctl/smctl.h"
#include "tools/smctl/smctl_why.h"
#include "tools/smctl/smctl_ui.h"
#include "status/status.h"
#include "app/app.h"
#include "util/misc.h"
#include "util/trace.h"
#include <stdio.h>
#include <string>
#include <vector>

namespace {

const WCHAR c_MonitorClass[] = L"StatusMonitor";
const WCHAR c_Absent[] = L"\x01";       // a default no file holds

struct Field {
    SM_FIELD_KIND kind;
    std::wstring text;
    LONG code;
    int index;                          // 1-based place in the list for a kept code
    bool marker;                        // the "StoreName" field before a store-job name
};

struct CodeText {
    LONG code;
    std::wstring key;                   // empty: not in the catalogue
    std::wstring text;
    bool fromFile;
    bool converts;                      // as a 9x-class system shows it
};

struct Line {
    LONG code;
    int slot;
    bool left;
    int picture;
    LONG x, y;                          // marker in the picture; 0, 0: none
    POINT dot;                          // marker centre in the dialog's client area
    bool hasDot;
};

struct Why {
    std::wstring exchangeFile, messageFile;
    bool messageFileFound;
    UINT message;
    LONG lastMsg;
    SM_POLL_ACTION poll;
    std::wstring status, storeName;
    std::vector<Field> fields;
    LONG codes[SM_MAX_ERRCODES];
    DWORD count;
    std::vector<LONG> jobActions;
    bool hasStatusWord;
    DWORD statusWord;
    UINT codePage;
    std::vector<CodeText> texts;
    std::vector<Line> lines;
    bool altLower;
    bool continueOffered;
    UINT showQel;
    bool monitorRuns, dialogShown, sameList;
    std::vector<std::wstring> differences;
};

void OnField(void* pContext, SM_FIELD_KIND kind, LPCWSTR pszField, size_t cchField, LONG code)
{
    Why* w = static_cast<Why*>(pContext);
    if (kind == SM_FIELD_STORE_NAME)
        w->fields.push_back(Field{ kind, L"StoreName", 0, 0, true });
    Field f = { kind, std::wstring(pszField, cchField), code, 0, false };
    if (kind == SM_FIELD_CODE_KEPT) {
        int kept = 0;
        for (const Field& g : w->fields)
            kept += g.kind == SM_FIELD_CODE_KEPT;
        f.index = kept + 1;
    }
    w->fields.push_back(f);
}

// What became of each kind of field: the words of the plain report and the name in JSON.
struct FIELD_WORDS {
    SM_FIELD_KIND kind;
    LPCWSTR pszVerdict;
    LPCWSTR pszName;
};
const FIELD_WORDS c_FieldWords[] = {
    { SM_FIELD_CODE_KEPT, L"kept", L"kept" },
    { SM_FIELD_CODE_BUSY, L"dropped: 112 is never stored", L"dropped-112" },
    { SM_FIELD_CODE_PAST_LIMIT, L"dropped: past the 48th code", L"dropped-past-48" },
    { SM_FIELD_STORE_NAME, L"not a code: taken as the store-job name", L"store-name" },
    { SM_FIELD_STORE_NAME_UNENDED, L"ignored: \"StoreName\" with no ended name after it", L"store-name-unended" },
    { SM_FIELD_TRAILING_TEXT, L"ignored: text after the last bar", L"trailing-text" },
};
const FIELD_WORDS c_MarkerWords = { SM_FIELD_CODE_KEPT, L"not a code: the next field is the store-job name",
                                    L"store-name-field" };

const FIELD_WORDS* FieldWords(const Field& f)
{
    if (f.marker)
        return &c_MarkerWords;
    for (const FIELD_WORDS& w : c_FieldWords) {
        if (w.kind == f.kind)
            return &w;
    }
    return NULL;
}

LPCWSTR FieldVerdict(const Field& f)
{
    const FIELD_WORDS* w = FieldWords(f);
    return w ? w->pszVerdict : L"";
}

LPCWSTR FieldKindName(const Field& f)
{
    const FIELD_WORDS* w = FieldWords(f);
    return w ? w->pszName : L"";
}

LPCWSTR PollVerdict(SM_POLL_ACTION a)
{
    switch (a) {
    case SM_POLL_RESET: return L"resets: the dialog closes, \"Message\" becomes 0, the status word 0";
    case SM_POLL_OTHER_MESSAGE: return L"does nothing: \"Message\" is neither 1026 nor 1027";
    case SM_POLL_NO_SEQUENCE: return L"does nothing: \"LastMsg\" is 0";
    case SM_POLL_SEQUENCE_SEEN: return L"does nothing: the monitor acted on this \"LastMsg\" already";
    case SM_POLL_READ_LIST: return L"reads the list, if the monitor has not acted on this \"LastMsg\" yet";
    }
    return L"";
}

LPCWSTR PictureName(int nPicture)
{
    return (nPicture == 1 || nPicture == 3) ? L"lower" : L"upper";
}

// The message file as the profile functions find it: a bare name lies in the Windows folder.
std::wstring ResolvedMessageFile(bool* pFound)
{
    WCHAR szPath[MAX_PATH] = L"";
    if (wcschr(g_MsgIniPath, L'\\') || wcschr(g_MsgIniPath, L'/')) {
        lstrcpynW(szPath, g_MsgIniPath, ARRAYSIZE(szPath));
    } else {
        GetWindowsDirectoryW(szPath, ARRAYSIZE(szPath));
        size_t n = wcslen(szPath);
        MISC_Format(szPath + n, ARRAYSIZE(szPath) - n, L"\\%s", g_MsgIniPath);
    }
    *pFound = MISC_FileExists(szPath) != 0;
    return szPath;
}

void ReadTexts(Why* w)
{
    for (DWORD i = 0; i < w->count; i++) {
        CodeText t = { w->codes[i], L"", L"", false, true };
        for (const SM_CATALOGUE_ENTRY& e : g_Catalogue) {
            if ((LONG)e.dwErrCode == w->codes[i]) {
                t.key = e.pszKey;
                WCHAR szProbe[4];
                GetPrivateProfileStringW(L"string", e.pszKey, c_Absent, szProbe, ARRAYSIZE(szProbe), g_MsgIniPath);
                t.fromFile = wcscmp(szProbe, c_Absent) != 0;
            }
        }
        WCHAR szText[SM_CCH_MESSAGE];
        SM_GetStatusMessage((DWORD)w->codes[i], szText, ARRAYSIZE(szText));
        t.text = szText;
        char szAnsi[260];
        BOOL fLost = FALSE;
        int cb = SM_SlotTextToAnsi(w->codePage, szText, szAnsi, sizeof(szAnsi), &fLost);
        t.converts = cb > 0 && !fLost;
        w->texts.push_back(t);
    }
}

void LayOut(Why* w, HWND hRunning)
{
    SM_MarkItems(w->codes, (int)w->count);
    int list[SM_MAX_SHOWN_ITEMS];
    int n = 0;
    SM_SortXYCoordinate(list, &n);
    w->altLower = SM_UsesAltLower(list, n) != FALSE;

    // The pictures' place comes from the dialog's client area: the running one, else a hidden one.
    HWND hMeasure = hRunning ? NULL : SmctlUi_CreateMeasureDialog();
    HWND hDlg = hRunning ? hRunning : hMeasure;
    SM_PICTURES pics = {};
    RECT rcClient;
    bool placed = hDlg && GetClientRect(hDlg, &rcClient);
    if (placed)
        SM_PictureLayout(&rcClient, &pics);
    if (hMeasure)
        DestroyWindow(hMeasure);

    for (int k = 0; k < n; k++) {
        const MsgItem& it = g_MsgItemTable[list[k]];
        Line l = {};
        l.code = it.nErrCode;
        l.slot = SM_SlotOfLine(k, n);
        l.left = l.slot < IDC_SM_MSG_RIGHT_FIRST;
        l.picture = it.nPicture;
        l.x = it.nX;
        l.y = it.nY;
        l.hasDot = placed && it.nX > 0 && it.nY > 0;
        if (l.hasDot) {
            int yBase = (it.nPicture == 1 || it.nPicture == 3) ? pics.yLower : pics.yUpper;
            l.dot.x = pics.xPicture + it.nX + 4;
            l.dot.y = yBase + it.nY + 4;
        }
        w->lines.push_back(l);
    }
}

// What the running dialog shows against what this list puts in each slot.
void CompareDialog(Why* w, HWND hDlg)
{
    std::wstring expected[IDC_SM_MSG_SLOTS];
    for (const Line& l : w->lines) {
        WCHAR szText[SM_CCH_MESSAGE];
        SM_GetStatusMessage((DWORD)l.code, szText, ARRAYSIZE(szText));
        expected[l.slot - IDC_SM_MSG_FIRST] = szText;
    }
    w->sameList = true;
    for (int i = 0; i < IDC_SM_MSG_SLOTS; i++) {
        WCHAR szShown[512];
        SmctlUi_ControlText(hDlg, IDC_SM_MSG_FIRST + i, szShown, ARRAYSIZE(szShown));
        if (expected[i] != szShown) {
            w->sameList = false;
            WCHAR szLine[800];
            MISC_Format(szLine, ARRAYSIZE(szLine), L"slot %d shows \"%s\", the list puts \"%s\"",
                        IDC_SM_MSG_FIRST + i, szShown, expected[i].c_str());
            w->differences.push_back(szLine);
        }
    }
}

void Gather(Why* w)
{
    w->exchangeFile = g_StatusIniPath;
    w->messageFile = ResolvedMessageFile(&w->messageFileFound);
    w->message = SM_GetIniInt(SM_SECTION_PRINTER, L"Message", 0);
    w->lastMsg = (LONG)SM_GetIniInt(SM_SECTION_PRINTER, L"LastMsg", 0);
    // The monitor's own "LastMsg" is not visible from outside: judged as if it had not seen this one.
    w->poll = SM_PollAction(w->message, w->lastMsg, 0);
    WCHAR szStatus[SM_CCH_STATUS_VALUE] = L"";
    SM_GetIniString(SM_SECTION_PRINTER, L"Status", szStatus, ARRAYSIZE(szStatus));
    w->status = szStatus;
    ZeroMemory(w->codes, sizeof(w->codes));
    w->count = SM_WalkStatusFields(szStatus, w->codes, g_StoreName, ARRAYSIZE(g_StoreName), OnField, w);
    w->storeName = g_StoreName;
    for (DWORD i = 0; i < w->count; i++) {
        if (w->codes[i] == SM_CODE_CANCEL_JOB || w->codes[i] == SM_CODE_RESTART_JOB)
            w->jobActions.push_back(w->codes[i]);
    }
    w->hasStatusWord = w->count > 0 && SM_SpoolerStatusForCode(w->codes[0], &w->statusWord);
    w->codePage = SM_MessageCodePage();
    g_CodePage = w->codePage;
    ReadTexts(w);
    w->continueOffered = w->count > 0 && SM_OffersContinue(w->codes[0]);
    w->showQel = SM_GetIniInt(SM_SECTION_PRINTER, L"ShowQelSM", 1);
    w->monitorRuns = FindWindowW(c_MonitorClass, NULL) != NULL;
    HWND hDlg = w->monitorRuns ? SmctlUi_WaitForDialog(0) : NULL;
    w->dialogShown = hDlg != NULL;
    LayOut(w, hDlg);
    if (hDlg)
        CompareDialog(w, hDlg);
}

// Text output -------------------------------------------------------------------------------

void PrintText(const Why& w)
{
    wprintf(L"exchange file   %ls\n", w.exchangeFile.c_str());
    wprintf(L"message file    %ls (%ls)\n", w.messageFile.c_str(),
            w.messageFileFound ? L"found" : L"not found: built-in texts");
    wprintf(L"Message         %u\n", w.message);
    wprintf(L"LastMsg         %ld\n", (long)w.lastMsg);
    wprintf(L"poll            %ls\n", PollVerdict(w.poll));
    wprintf(L"Status          \"%ls\"\n", w.status.c_str());
    for (const Field& f : w.fields) {
        if (f.kind == SM_FIELD_CODE_KEPT)
            wprintf(L"  field \"%ls\"  code %ld, %ls (place %d)\n", f.text.c_str(), (long)f.code, FieldVerdict(f), f.index);
        else if (f.kind == SM_FIELD_CODE_BUSY || f.kind == SM_FIELD_CODE_PAST_LIMIT)
            wprintf(L"  field \"%ls\"  code %ld, %ls\n", f.text.c_str(), (long)f.code, FieldVerdict(f));
        else
            wprintf(L"  field \"%ls\"  %ls\n", f.text.c_str(), FieldVerdict(f));
    }
    wprintf(L"codes           %lu kept\n", (unsigned long)w.count);
    if (w.count == 0)
        wprintf(L"                an empty list: the monitor leaves the dialog and the status word as they are\n");
    for (LONG code : w.jobActions)
        wprintf(L"job action      %ld: %ls the job \"JobID\" names; when the spooler takes it, no status word and no dialog follow\n",
                (long)code, code == SM_CODE_CANCEL_JOB ? L"cancels" : L"restarts");
    if (w.count > 0) {
        if (w.hasStatusWord)
            wprintf(L"spooler status  0x%08X (set by the first code, %ld)\n", (unsigned)w.statusWord, (long)w.codes[0]);
        else
            wprintf(L"spooler status  none: the first code, %ld, sets no status word\n", (long)w.codes[0]);
    }
    wprintf(L"code page       %u%ls\n", w.codePage, w.codePage == 0 ? L" (the system's ANSI code page)" : L"");
    for (const CodeText& t : w.texts) {
        if (t.key.empty())
            wprintf(L"text %-10ld not in the catalogue: empty text\n", (long)t.code);
        else
            wprintf(L"text %-10ld %ls \"%ls\" from %ls%ls\n", (long)t.code, t.key.c_str(), t.text.c_str(),
                    t.fromFile ? w.messageFile.c_str() : L"the built-in default",
                    t.converts ? L"" : L"; does not convert to the code page (a 9x-class system shows it cut or empty)");
    }
    for (size_t k = 0; k < w.lines.size(); k++) {
        const Line& l = w.lines[k];
        wprintf(L"line %-2u         code %ld: %ls column, control %d, %ls picture", (unsigned)(k + 1), (long)l.code,
                l.left ? L"left" : L"right", l.slot, PictureName(l.picture));
        if (l.x > 0 && l.y > 0) {
            wprintf(L", marker at (%ld, %ld) in the picture", (long)l.x, (long)l.y);
            if (l.hasDot)
                wprintf(L", dot centre (%ld, %ld) in the dialog", (long)l.dot.x, (long)l.dot.y);
        } else {
            wprintf(L", no marker");
        }
        wprintf(L"\n");
    }
    for (DWORD i = 0; i < w.count; i++) {
        bool hasLine = false;
        for (const Line& l : w.lines)
            hasLine = hasLine || l.code == w.codes[i];
        if (!hasLine)
            wprintf(L"no line         code %ld has no place on the pictures%ls\n", (long)w.codes[i],
                    w.lines.size() >= SM_MAX_SHOWN_ITEMS ? L" or comes after the 12th line" : L"");
    }
    if (w.altLower)
        wprintf(L"pictures        the alternative lower picture is drawn\n");
    wprintf(L"Continue        %ls\n", w.count == 0 ? L"-" : w.continueOffered ? L"offered (first code 35 or 277)" : L"not offered");
    wprintf(L"ShowQelSM       %u%ls\n", w.showQel, w.showQel == 0 ? L": no dialog; the shown list is not updated" : L"");
    if (!w.monitorRuns)
        wprintf(L"monitor         not running\n");
    else if (!w.dialogShown)
        wprintf(L"monitor         running, no dialog shown\n");
    else if (w.sameList)
        wprintf(L"dialog          same list: the monitor will not update\n");
    else {
        wprintf(L"dialog          shows another list: the monitor updates it on a new \"LastMsg\"\n");
        for (const std::wstring& d : w.differences)
            wprintf(L"                %ls\n", d.c_str());
    }
}

// JSON output ---------------------------------------------------------------------------------

std::wstring Json(const std::wstring& s)
{
    std::wstring out = L"\"";
    for (wchar_t c : s) {
        if (c == L'"' || c == L'\\') {
            out += L'\\';
            out += c;
        } else if (c < 0x20 || c > 0x7E) {
            WCHAR sz[8];
            MISC_Format(sz, ARRAYSIZE(sz), L"\\u%04x", (unsigned)c);
            out += sz;
        } else {
            out += c;
        }
    }
    return out + L"\"";
}

LPCWSTR Bool(bool b)
{
    return b ? L"true" : L"false";
}

void PrintJson(const Why& w)
{
    wprintf(L"{\"exchangeFile\":%ls,\"messageFile\":%ls,\"messageFileFound\":%ls,", Json(w.exchangeFile).c_str(),
            Json(w.messageFile).c_str(), Bool(w.messageFileFound));
    wprintf(L"\"message\":%u,\"lastMsg\":%ld,\"poll\":%ls,\"pollActs\":%ls,", w.message, (long)w.lastMsg,
            Json(PollVerdict(w.poll)).c_str(), Bool(w.poll == SM_POLL_READ_LIST || w.poll == SM_POLL_RESET));
    wprintf(L"\"status\":%ls,\"fields\":[", Json(w.status).c_str());
    for (size_t i = 0; i < w.fields.size(); i++) {
        const Field& f = w.fields[i];
        wprintf(L"%ls{\"field\":%ls,\"verdict\":%ls,\"reason\":%ls", i ? L"," : L"", Json(f.text).c_str(),
                Json(FieldKindName(f)).c_str(), Json(FieldVerdict(f)).c_str());
        if (f.kind == SM_FIELD_CODE_KEPT || f.kind == SM_FIELD_CODE_BUSY || f.kind == SM_FIELD_CODE_PAST_LIMIT)
            wprintf(L",\"code\":%ld", (long)f.code);
        wprintf(L"}");
    }
    wprintf(L"],\"storeName\":%ls,\"codes\":[", Json(w.storeName).c_str());
    for (DWORD i = 0; i < w.count; i++)
        wprintf(L"%ls%ld", i ? L"," : L"", (long)w.codes[i]);
    wprintf(L"],\"jobActions\":[");
    for (size_t i = 0; i < w.jobActions.size(); i++)
        wprintf(L"%ls%ld", i ? L"," : L"", (long)w.jobActions[i]);
    if (w.hasStatusWord) {
        WCHAR sz[16];
        MISC_Format(sz, ARRAYSIZE(sz), L"0x%08X", (unsigned)w.statusWord);
        wprintf(L"],\"spoolerStatus\":%ls,", Json(sz).c_str());
    } else {
        wprintf(L"],\"spoolerStatus\":null,");
    }
    wprintf(L"\"codePage\":%u,\"texts\":[", w.codePage);
    for (size_t i = 0; i < w.texts.size(); i++) {
        const CodeText& t = w.texts[i];
        wprintf(L"%ls{\"code\":%ld,\"key\":%ls,\"text\":%ls,\"source\":%ls,\"convertsToCodePage\":%ls}",
                i ? L"," : L"", (long)t.code, t.key.empty() ? L"null" : Json(t.key).c_str(), Json(t.text).c_str(),
                Json(t.key.empty() ? L"none" : t.fromFile ? w.messageFile : L"default").c_str(), Bool(t.converts));
    }
    wprintf(L"],\"lines\":[");
    for (size_t k = 0; k < w.lines.size(); k++) {
        const Line& l = w.lines[k];
        wprintf(L"%ls{\"code\":%ld,\"column\":%ls,\"control\":%d,\"picture\":%ls", k ? L"," : L"", (long)l.code,
                l.left ? L"\"left\"" : L"\"right\"", l.slot, Json(PictureName(l.picture)).c_str());
        if (l.x > 0 && l.y > 0)
            wprintf(L",\"marker\":{\"x\":%ld,\"y\":%ld}", (long)l.x, (long)l.y);
        else
            wprintf(L",\"marker\":null");
        if (l.hasDot)
            wprintf(L",\"dot\":{\"x\":%ld,\"y\":%ld}", (long)l.dot.x, (long)l.dot.y);
        wprintf(L"}");
    }
    wprintf(L"],\"alternativeLowerPicture\":%ls,\"continueOffered\":%ls,\"showQelSM\":%u,", Bool(w.altLower),
            Bool(w.continueOffered), w.showQel);
    wprintf(L"\"monitorRunning\":%ls,\"dialogShown\":%ls", Bool(w.monitorRuns), Bool(w.dialogShown));
    if (w.dialogShown)
        wprintf(L",\"sameList\":%ls", Bool(w.sameList));
    wprintf(L"}\n");
}

} // namespace

int Smctl_Why(int argc, wchar_t** argv)
{
    bool json = argc == 1 && wcscmp(argv[0], L"--json") == 0;
    if (argc > 1 || (argc == 1 && !json)) {
        Smctl_Error(L"usage: why %ls", SMCTL_WHY_USAGE);
        return 2;
    }
    if (!MISC_GetPathName(g_StatusIniPath, ARRAYSIZE(g_StatusIniPath), MISC_BASE_SHARED_DOCS | MISC_MODE_STATUS_INI)) {
        Smctl_Error(L"the status exchange file cannot be found");
        return 1;
    }
    g_MsgIniPath[0] = 0;
    SM_BuildMsgIniPath(g_MsgIniPath, ARRAYSIZE(g_MsgIniPath));
    g_OSVersion = MISC_GetOSVersion();
    Why w = {};
    Gather(&w);
    if (json)
        PrintJson(w);
    else
        PrintText(w);
    return 0;
}
