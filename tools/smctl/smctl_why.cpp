// smctl why: reads the exchange file and smen.ini as the monitor does and prints each decision
// it would take, through the program's own parser, catalogue, item table and slot layout.
#include "tools/smctl/smctl.h"
#include "tools/smctl/smctl_why.h"
#include "tools/smctl/smctl_ui.h"
#include "tools/smctl/smctl_status.h"
#include "status/status.h"
#include "app/app.h"
#include "util/misc.h"
#include "util/trace.h"
#include <string>
#include <vector>

namespace {

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
    SMCTL_ENCODING encoding;
    bool storeField;                    // the list names its store job
    bool jobTaken;                      // a job action finds its job queued
    int storeSource;                    // STORE_*: where the name 277 shows comes from
    bool monitorRuns, dialogShown, sameCodes, updates;
    std::vector<std::wstring> differences;
    std::wstring shown[IDC_SM_MSG_SLOTS];   // what the dialog shows now
    std::wstring after[IDC_SM_MSG_SLOTS];   // what it shows once the monitor has acted on the list
};

enum { STORE_LIST, STORE_DIALOG, STORE_UNKNOWN };

void OnField(void* pContext, SM_FIELD_KIND kind, LPCWSTR pszField, size_t cchField, LONG code)
{
    Why* w = static_cast<Why*>(pContext);
    if (kind == SM_FIELD_STORE_NAME) {
        w->fields.push_back(Field{ kind, L"StoreName", 0, 0, true });
        w->storeField = true;
    }
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

// The picture an item's marker is on, told by where the program puts its dot.
LPCWSTR PictureName(int nPicture)
{
    MsgItem probe = { 0, 1, 1, 0, nPicture };
    SM_PICTURES layout = { 0, 0, SM_PICTURE_SIZE };
    RECT rc;
    return SM_MarkerDot(&probe, &layout, &rc) && rc.top >= SM_PICTURE_SIZE ? L"lower" : L"upper";
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
        RECT rcDot;
        l.hasDot = placed && SM_MarkerDot(&it, &pics, &rcDot);
        if (l.hasDot) {
            l.dot.x = (rcDot.left + rcDot.right) / 2;
            l.dot.y = (rcDot.top + rcDot.bottom) / 2;
        }
        w->lines.push_back(l);
    }
}

// The text code 277 shows, split at the store-job name: "<text> " before it and "." after it.
std::wstring StoreTextPrefix(void)
{
    WCHAR szSaved[SM_CCH_STORE_NAME];
    lstrcpynW(szSaved, g_StoreName, ARRAYSIZE(szSaved));
    g_StoreName[0] = 0;
    WCHAR szText[SM_CCH_MESSAGE];
    SM_GetStatusMessage(SM_CODE_STORE_NAME_CHANGED, szText, ARRAYSIZE(szText));
    lstrcpynW(g_StoreName, szSaved, ARRAYSIZE(g_StoreName));
    std::wstring t = szText;
    return t.size() >= 1 ? t.substr(0, t.size() - 1) : t;     // without the final "."
}

// The store-job name in a slot that shows code 277's text; false when the slot shows another.
bool StoreNameShown(const std::wstring& shown, const std::wstring& prefix, std::wstring* pName)
{
    if (shown.size() < prefix.size() + 1 || shown.compare(0, prefix.size(), prefix) != 0 || shown.back() != L'.')
        return false;
    *pName = shown.substr(prefix.size(), shown.size() - prefix.size() - 1);
    return true;
}

// Whether a slot's text is one that the code can show (277 with any store-job name).
bool ShowsCode(const std::wstring& shown, LONG code, const std::wstring& prefix)
{
    std::wstring name;
    if (code == SM_CODE_STORE_NAME_CHANGED)
        return StoreNameShown(shown, prefix, &name);
    WCHAR szText[SM_CCH_MESSAGE];
    SM_GetStatusMessage((DWORD)code, szText, ARRAYSIZE(szText));
    return shown == szText;
}

// The running dialog against this list. The monitor compares codes, not texts: a dialog that
// shows this list's codes stays as it is even where a text would now read differently.
void CompareDialog(Why* w, HWND hDlg)
{
    const std::wstring prefix = StoreTextPrefix();
    LONG slotCode[IDC_SM_MSG_SLOTS] = {};
    for (const Line& l : w->lines)
        slotCode[l.slot - IDC_SM_MSG_FIRST] = l.code;
    w->sameCodes = true;
    for (int i = 0; i < IDC_SM_MSG_SLOTS; i++) {
        bool same = slotCode[i] ? ShowsCode(w->shown[i], slotCode[i], prefix) : w->shown[i].empty();
        if (!same) {
            w->sameCodes = false;
            WCHAR szLine[800];
            MISC_Format(szLine, ARRAYSIZE(szLine), L"slot %d shows \"%s\", the list puts \"%s\"",
                        IDC_SM_MSG_FIRST + i, w->shown[i].c_str(), w->after[i].c_str());
            w->differences.push_back(szLine);
        }
    }
}

// The store-job name the monitor uses for 277: the list's own, else the one it kept from an
// earlier list, which the dialog shows when it shows 277.
void ResolveStoreName(Why* w)
{
    if (w->storeField) {
        w->storeSource = STORE_LIST;
        return;
    }
    const std::wstring prefix = StoreTextPrefix();
    std::wstring name;
    for (const std::wstring& shown : w->shown) {
        if (StoreNameShown(shown, prefix, &name)) {
            lstrcpynW(g_StoreName, name.c_str(), ARRAYSIZE(g_StoreName));
            w->storeSource = STORE_DIALOG;
            return;
        }
    }
    w->storeSource = STORE_UNKNOWN;
}

void Gather(Why* w)
{
    std::string bytes;
    w->encoding = Smctl_ReadFile(g_StatusIniPath, &bytes);
    w->exchangeFile = g_StatusIniPath;
    w->messageFile = SmctlUi_MessageFile();
    w->messageFileFound = MISC_FileExists(w->messageFile.c_str()) != 0;
    w->message = SM_GetIniInt(SM_SECTION_PRINTER, L"Message", 0);
    w->lastMsg = (LONG)SM_GetIniInt(SM_SECTION_PRINTER, L"LastMsg", 0);
    // The monitor's own "LastMsg" is not visible from outside: judged as if it had not seen this one.
    w->poll = SM_PollAction(w->message, w->lastMsg, 0);
    WCHAR szStatus[SM_CCH_STATUS_VALUE] = L"";
    SM_GetIniString(SM_SECTION_PRINTER, L"Status", szStatus, ARRAYSIZE(szStatus));
    w->status = szStatus;
    ZeroMemory(w->codes, sizeof(w->codes));
    g_StoreName[0] = 0;
    w->count = SM_WalkStatusFields(szStatus, w->codes, g_StoreName, ARRAYSIZE(g_StoreName), OnField, w);
    for (DWORD i = 0; i < w->count; i++) {
        if (w->codes[i] == SM_CODE_CANCEL_JOB || w->codes[i] == SM_CODE_RESTART_JOB)
            w->jobActions.push_back(w->codes[i]);
    }
    w->hasStatusWord = w->count > 0 && SM_SpoolerStatusForCode(w->codes[0], &w->statusWord);
    w->codePage = SM_MessageCodePage();
    g_CodePage = w->codePage;
    w->continueOffered = w->count > 0 && SM_OffersContinue(w->codes[0]);
    w->showQel = SM_GetIniInt(SM_SECTION_PRINTER, L"ShowQelSM", 1);
    WCHAR szClass[SM_CCH_PATH];
    SmctlUi_MonitorClass(NULL, szClass, ARRAYSIZE(szClass));
    w->monitorRuns = FindWindowW(szClass, NULL) != NULL;
    HWND hDlg = w->monitorRuns ? SmctlUi_WaitForDialog(0) : NULL;
    w->dialogShown = hDlg != NULL;
    for (int i = 0; hDlg && i < IDC_SM_MSG_SLOTS; i++) {
        WCHAR szShown[512];
        SmctlUi_ControlText(hDlg, IDC_SM_MSG_FIRST + i, szShown, ARRAYSIZE(szShown));
        w->shown[i] = szShown;
    }
    ResolveStoreName(w);
    w->storeName = g_StoreName;
    ReadTexts(w);
    LayOut(w, hDlg);
    for (const Line& l : w->lines) {
        WCHAR szText[SM_CCH_MESSAGE];
        SM_GetStatusMessage((DWORD)l.code, szText, ARRAYSIZE(szText));
        w->after[l.slot - IDC_SM_MSG_FIRST] = szText;
    }
    if (hDlg)
        CompareDialog(w, hDlg);
    // Once a poll reads this list (the poll line tells whether one will), the dialog changes only
    // for a non-empty list, with "ShowQelSM" not 0, no job action taken instead (one whose job is
    // queued stands in for the status word and the dialog), and codes other than those it shows.
    bool queued = false;
    std::wstring why;
    w->jobTaken = !w->jobActions.empty()
                  && SmctlUi_JobQueued(SM_GetIniInt(SM_SECTION_JOB, L"JobID", 0), &queued, &why) && queued;
    w->updates = w->count > 0 && w->showQel != 0 && !w->jobTaken && !(w->dialogShown && w->sameCodes);
    if (!w->updates) {
        for (int i = 0; i < IDC_SM_MSG_SLOTS; i++)
            w->after[i] = w->shown[i];
    }
}

bool HasCode(const Why& w, LONG code)
{
    for (DWORD i = 0; i < w.count; i++) {
        if (w.codes[i] == code)
            return true;
    }
    return false;
}

// Text output -------------------------------------------------------------------------------

void PrintText(const Why& w)
{
    Smctl_Print(L"exchange file   %s (%s)\n", w.exchangeFile.c_str(), Smctl_EncodingName(w.encoding));
    if (w.encoding != SMCTL_ENC_UTF16LE && w.encoding != SMCTL_ENC_MISSING)
        Smctl_Print(L"                not UTF-16: a starting monitor replaces it with an empty one\n");
    Smctl_Print(L"message file    %s (%s)\n", w.messageFile.c_str(),
            w.messageFileFound ? L"found" : L"not found: built-in texts");
    Smctl_Print(L"Message         %u\n", w.message);
    Smctl_Print(L"LastMsg         %ld\n", (long)w.lastMsg);
    Smctl_Print(L"poll            %s\n", PollVerdict(w.poll));
    Smctl_Print(L"Status          \"%s\"\n", w.status.c_str());
    for (const Field& f : w.fields) {
        if (f.kind == SM_FIELD_CODE_KEPT)
            Smctl_Print(L"  field \"%s\"  code %ld, %s (place %d)\n", f.text.c_str(), (long)f.code, FieldVerdict(f), f.index);
        else if (f.kind == SM_FIELD_CODE_BUSY || f.kind == SM_FIELD_CODE_PAST_LIMIT)
            Smctl_Print(L"  field \"%s\"  code %ld, %s\n", f.text.c_str(), (long)f.code, FieldVerdict(f));
        else
            Smctl_Print(L"  field \"%s\"  %s\n", f.text.c_str(), FieldVerdict(f));
    }
    Smctl_Print(L"codes           %lu kept\n", (unsigned long)w.count);
    if (w.storeSource == STORE_DIALOG)
        Smctl_Print(L"store name      \"%s\": no \"StoreName\" field, the monitor keeps the name it had (shown by the dialog)\n",
                w.storeName.c_str());
    else if (w.storeSource == STORE_UNKNOWN && HasCode(w, SM_CODE_STORE_NAME_CHANGED))
        Smctl_Print(L"store name      no \"StoreName\" field: the monitor keeps the name of an earlier list (not visible from outside)\n");
    if (w.count == 0)
        Smctl_Print(L"                an empty list: the monitor leaves the dialog and the status word as they are\n");
    for (LONG code : w.jobActions)
        Smctl_Print(L"job action      %ld: %s the job \"JobID\" names; %s\n", (long)code,
                    code == SM_CODE_CANCEL_JOB ? L"cancels" : L"restarts",
                    w.jobTaken ? L"it is queued: no status word and no dialog follow"
                               : L"it is not queued: the status word and the dialog follow");
    if (w.count > 0) {
        if (w.hasStatusWord)
            Smctl_Print(L"spooler status  0x%08X (set by the first code, %ld)\n", (unsigned)w.statusWord, (long)w.codes[0]);
        else
            Smctl_Print(L"spooler status  none: the first code, %ld, sets no status word\n", (long)w.codes[0]);
    }
    Smctl_Print(L"code page       %u%s\n", w.codePage, w.codePage == 0 ? L" (the system's ANSI code page)" : L"");
    for (const CodeText& t : w.texts) {
        if (t.key.empty())
            Smctl_Print(L"text %-10ld not in the catalogue: empty text\n", (long)t.code);
        else
            Smctl_Print(L"text %-10ld %s \"%s\" from %s%s\n", (long)t.code, t.key.c_str(), t.text.c_str(),
                    t.fromFile ? w.messageFile.c_str() : L"the built-in default",
                    t.converts ? L"" : L"; does not convert to the code page (a 9x-class system shows it cut or empty)");
    }
    for (size_t k = 0; k < w.lines.size(); k++) {
        const Line& l = w.lines[k];
        Smctl_Print(L"line %-2u         code %ld: %s column, control %d, %s picture", (unsigned)(k + 1), (long)l.code,
                l.left ? L"left" : L"right", l.slot, PictureName(l.picture));
        if (l.x > 0 && l.y > 0) {
            Smctl_Print(L", marker at (%ld, %ld) in the picture", (long)l.x, (long)l.y);
            if (l.hasDot)
                Smctl_Print(L", dot centre (%ld, %ld) in the dialog", (long)l.dot.x, (long)l.dot.y);
        } else {
            Smctl_Print(L", no marker");
        }
        Smctl_Print(L"\n");
    }
    for (DWORD i = 0; i < w.count; i++) {
        bool hasLine = false;
        for (const Line& l : w.lines)
            hasLine = hasLine || l.code == w.codes[i];
        if (!hasLine)
            Smctl_Print(L"no line         code %ld has no place on the pictures%s\n", (long)w.codes[i],
                    w.lines.size() >= SM_MAX_SHOWN_ITEMS ? L" or comes after the 12th line" : L"");
    }
    if (w.altLower)
        Smctl_Print(L"pictures        the alternative lower picture is drawn\n");
    Smctl_Print(L"Continue        %s\n", w.count == 0 ? L"-" : w.continueOffered ? L"offered (first code 35 or 277)" : L"not offered");
    Smctl_Print(L"ShowQelSM       %u%s\n", w.showQel, w.showQel == 0 ? L": the monitor shows no dialog and leaves a shown one as it is" : L"");
    if (!w.monitorRuns)
        Smctl_Print(L"monitor         not running\n");
    else if (!w.dialogShown)
        Smctl_Print(L"monitor         running, no dialog shown%s\n",
                w.updates ? L": it shows one unless it showed these codes before the dialog was closed" : L"");
    else if (w.showQel == 0)
        Smctl_Print(L"dialog          not updated: \"ShowQelSM\" is 0\n");
    else if (w.sameCodes)
        Smctl_Print(L"dialog          same codes: the monitor will not update (it compares codes; the dialog keeps its texts)\n");
    else {
        Smctl_Print(L"dialog          shows another list: the monitor updates it on a new \"LastMsg\"\n");
        for (const std::wstring& d : w.differences)
            Smctl_Print(L"                %s\n", d.c_str());
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
    Smctl_Print(L"{\"exchangeFile\":%s,\"messageFile\":%s,\"messageFileFound\":%s,", Json(w.exchangeFile).c_str(),
            Json(w.messageFile).c_str(), Bool(w.messageFileFound));
    Smctl_Print(L"\"message\":%u,\"lastMsg\":%ld,\"poll\":%s,\"pollActs\":%s,", w.message, (long)w.lastMsg,
            Json(PollVerdict(w.poll)).c_str(), Bool(w.poll == SM_POLL_READ_LIST || w.poll == SM_POLL_RESET));
    Smctl_Print(L"\"status\":%s,\"fields\":[", Json(w.status).c_str());
    for (size_t i = 0; i < w.fields.size(); i++) {
        const Field& f = w.fields[i];
        Smctl_Print(L"%s{\"field\":%s,\"verdict\":%s,\"reason\":%s", i ? L"," : L"", Json(f.text).c_str(),
                Json(FieldKindName(f)).c_str(), Json(FieldVerdict(f)).c_str());
        if (f.kind == SM_FIELD_CODE_KEPT || f.kind == SM_FIELD_CODE_BUSY || f.kind == SM_FIELD_CODE_PAST_LIMIT)
            Smctl_Print(L",\"code\":%ld", (long)f.code);
        Smctl_Print(L"}");
    }
    Smctl_Print(L"],\"storeName\":%s,\"codes\":[", Json(w.storeName).c_str());
    for (DWORD i = 0; i < w.count; i++)
        Smctl_Print(L"%s%ld", i ? L"," : L"", (long)w.codes[i]);
    Smctl_Print(L"],\"jobActions\":[");
    for (size_t i = 0; i < w.jobActions.size(); i++)
        Smctl_Print(L"%s%ld", i ? L"," : L"", (long)w.jobActions[i]);
    if (w.hasStatusWord) {
        WCHAR sz[16];
        MISC_Format(sz, ARRAYSIZE(sz), L"0x%08X", (unsigned)w.statusWord);
        Smctl_Print(L"],\"spoolerStatus\":%s,", Json(sz).c_str());
    } else {
        Smctl_Print(L"],\"spoolerStatus\":null,");
    }
    Smctl_Print(L"\"codePage\":%u,\"texts\":[", w.codePage);
    for (size_t i = 0; i < w.texts.size(); i++) {
        const CodeText& t = w.texts[i];
        Smctl_Print(L"%s{\"code\":%ld,\"key\":%s,\"text\":%s,\"source\":%s,\"convertsToCodePage\":%s}",
                i ? L"," : L"", (long)t.code, t.key.empty() ? L"null" : Json(t.key).c_str(), Json(t.text).c_str(),
                Json(t.key.empty() ? L"none" : t.fromFile ? w.messageFile : L"default").c_str(), Bool(t.converts));
    }
    Smctl_Print(L"],\"lines\":[");
    for (size_t k = 0; k < w.lines.size(); k++) {
        const Line& l = w.lines[k];
        Smctl_Print(L"%s{\"code\":%ld,\"column\":%s,\"control\":%d,\"picture\":%s", k ? L"," : L"", (long)l.code,
                l.left ? L"\"left\"" : L"\"right\"", l.slot, Json(PictureName(l.picture)).c_str());
        if (l.x > 0 && l.y > 0)
            Smctl_Print(L",\"marker\":{\"x\":%ld,\"y\":%ld}", (long)l.x, (long)l.y);
        else
            Smctl_Print(L",\"marker\":null");
        if (l.hasDot)
            Smctl_Print(L",\"dot\":{\"x\":%ld,\"y\":%ld}", (long)l.dot.x, (long)l.dot.y);
        Smctl_Print(L"}");
    }
    Smctl_Print(L"],\"alternativeLowerPicture\":%s,\"continueOffered\":%s,\"showQelSM\":%u,", Bool(w.altLower),
            Bool(w.continueOffered), w.showQel);
    Smctl_Print(L"\"monitorRunning\":%s,\"dialogShown\":%s", Bool(w.monitorRuns), Bool(w.dialogShown));
    if (w.dialogShown)
        Smctl_Print(L",\"sameCodes\":%s", Bool(w.sameCodes));
    static const LPCWSTR c_StoreSources[] = { L"list", L"dialog", L"unknown" };
    Smctl_Print(L",\"storeNameSource\":%s,\"updatesDialog\":%s,\"dialogAfter\":[", Json(c_StoreSources[w.storeSource]).c_str(),
            Bool(w.updates));
    for (int i = 0; i < IDC_SM_MSG_SLOTS; i++)
        Smctl_Print(L"%s%s", i ? L"," : L"", Json(w.after[i]).c_str());
    Smctl_Print(L"]}\n");
}

} // namespace

int Smctl_Why(int argc, wchar_t** argv)
{
    bool json = argc == 1 && wcscmp(argv[0], L"--json") == 0;
    if (argc > 1 || (argc == 1 && !json))
        return Smctl_Usage(L"why", L"no arguments besides --json");
    // Named only: an inspecting command never makes or replaces the file.
    if (!SmctlStatus_Locate())
        return SMCTL_EXIT_USAGE;
    g_MsgIniPath[0] = 0;
    SM_BuildMsgIniPath(g_MsgIniPath, ARRAYSIZE(g_MsgIniPath));
    g_OSVersion = MISC_GetOSVersion();
    Why w = {};
    Gather(&w);
    if (json)
        PrintJson(w);
    else
        PrintText(w);
    return SMCTL_EXIT_DONE;
}
