// The credential dialogs' text table, character classes and dialog templates, in-process.
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "dialogs/dialogs.h"
#include "res/resource.h"
#include <strsafe.h>

// Expected texts written with escapes, so that the check does not depend on how the source
// files' UTF-8 was read: the program must hold exactly these UTF-16 units.
static const struct { int row; const wchar_t* en; const wchar_t* tc; const wchar_t* sc; } c_Expected[] = {
    { 0, L"Storage Print", L"\u5132\u5b58\u5217\u5370-\u4fdd\u5b58", L"\u50a8\u5b58\u5217\u5370-\u4fdd\u5b58" },
    { 1, L"Security Print", L"\u5132\u5b58\u5217\u5370-\u52a0\u5bc6", L"\u50a8\u5b58\u5217\u5370-\u5b89\u5168" },
    { 2, L"ID:", L"\u5de5\u4f5c\u540d\u7a31:", L"\u5de5\u4f5c\u540d\u79f0:" },
    { 3, L"Please enter English characters or digits. Up to 16 characters or digits are allowed. ID redundant will add on the serial number automatically behind input ID.",
         L"\u8acb\u8f38\u5165\u82f1\u6587\u5b57\u6bcd\u6216\u6578\u5b57\uff0c\u6700\u591a\u8f38\u5165" L"16\u500b\u5b57\u5143\uff0c\u540d\u7a31\u91cd\u8986\u6703\u81ea\u52d5\u5728\u8f38\u5165\u7684\u540d\u7a31\u5f8c\u65b9\u52a0\u4e0a\u6d41\u6c34\u865f\u3002",
         L"\u8bf7\u8f93\u5165\u82f1\u6587\u5b57\u6bcd\u6216\u6570\u5b57\uff0c\u6700\u591a\u8f93\u5165" L"16\u4e2a\u5b57\u5143\uff0c\u540d\u79f0\u91cd\u8986\u4f1a\u81ea\u52a8\u5728\u8f93\u5165\u7684\u540d\u79f0\u540e\u65b9\u52a0\u4e0a\u6d41\u6c34\u53f7\u3002" },
    { 4, L"Password:", L"\u5bc6\u78bc:", L"\u5bc6\u7801:" },
    { 5, L"Please enter English characters or digits. Up to 16 digits are allowed.",
         L"\u8acb\u8f38\u5165\u82f1\u6587\u5b57\u6bcd\u6216\u6578\u5b57\uff0c\u6700\u591a\u8f38\u5165" L"16\u500b\u5b57\u5143\u3002",
         L"\u8bf7\u8f93\u5165\u82f1\u6587\u5b57\u6bcd\u6216\u6570\u5b57\uff0c\u6700\u591a\u8f93\u5165" L"16\u4e2a\u5b57\u5143\u3002" },
    { 6, L"Delete this file after printing.", L"\u5217\u5370\u5f8c\u522a\u9664", L"\u6253\u5370\u540e\u5220\u9664" },
    { 7, L"OK", L"\u78ba\u5b9a", L"\u786e\u5b9a" },
    { 8, L"User authentication", L"\u4f7f\u7528\u8005\u8a8d\u8b49", L"\u4f7f\u7528\u8005\u8ba4\u8bc1" },
    { 9, L"User Name:", L"\u4f7f\u7528\u8005\u540d\u7a31:", L"\u4f7f\u7528\u8005\u540d\u79f0:" },
    { 10, L"Please enter English characters or digits. Up to 28 characters or digits are allowed.",
          L"\u8acb\u8f38\u5165\u82f1\u6587\u5b57\u6bcd\u6216\u6578\u5b57\uff0c\u6700\u591a\u8f38\u5165" L"28\u500b\u5b57\u5143\u3002",
          L"\u8bf7\u8f93\u5165\u82f1\u6587\u5b57\u6bcd\u6216\u6570\u5b57\uff0c\u6700\u591a\u8f93\u5165" L"28\u4e2a\u5b57\u5143\u3002" },
    { 11, L"Password:", L"\u5bc6\u78bc:", L"\u5bc6\u7801:" },
    { 12, L"Please enter English characters or digits. Up to 28 digits are allowed.",
          L"\u8acb\u8f38\u5165\u82f1\u6587\u5b57\u6bcd\u6216\u6578\u5b57\uff0c\u6700\u591a\u8f38\u5165" L"28\u500b\u5b57\u5143\u3002",
          L"\u8bf7\u8f93\u5165\u82f1\u6587\u5b57\u6bcd\u6216\u6570\u5b57\uff0c\u6700\u591a\u8f93\u5165" L"28\u4e2a\u5b57\u5143\u3002" },
    { 13, L"OK", L"\u78ba\u5b9a", L"\u786e\u5b9a" },
    { 14, L"The values could not be handed to the printer: an administrator must allow it.",
          L"\u7121\u6cd5\u5c07\u9019\u4e9b\u8cc7\u6599\u4ea4\u7d66\u5370\u8868\u6a5f\uff1a\u9808\u7531\u7cfb\u7d71\u7ba1\u7406\u54e1\u5141\u8a31\u3002", L"\u65e0\u6cd5\u5c06\u8fd9\u4e9b\u6570\u636e\u4ea4\u7ed9\u6253\u5370\u673a\uff1a\u987b\u7531\u7cfb\u7edf\u7ba1\u7406\u5458\u5141\u8bb8\u3002" },
};

TEST(DialogText, EveryCellHoldsItsLanguagesText)
{
    static_assert(ARRAYSIZE(g_DialogTextTable) == 15 * 13, "15 rows by 13 languages");
    ASSERT_EQ((size_t)DLG_TEXT_ROWS, ARRAYSIZE(c_Expected));
    for (const auto& e : c_Expected) {
        for (int lang = 0; lang < DLG_TEXT_LANGUAGES; lang++) {
            const wchar_t* want = lang == 1 ? e.tc : lang == 2 ? e.sc : e.en;
            const wchar_t* cell = g_DialogTextTable[e.row * DLG_TEXT_LANGUAGES + lang];
            ASSERT_NE(nullptr, cell) << "row " << e.row << " column " << lang;
            EXPECT_EQ(std::wstring(want), std::wstring(cell)) << "row " << e.row << " column " << lang;
            EXPECT_EQ(cell, DLG_GetText(e.row, lang));
        }
    }
}

TEST(DialogText, OutOfRangeIndexReadsEnglish)
{
    EXPECT_STREQ(L"Storage Print", DLG_GetText(0, -1));
    EXPECT_STREQ(L"User authentication", DLG_GetText(8, 13));
    EXPECT_STREQ(L"", DLG_GetText(15, 0));
    EXPECT_STREQ(L"", DLG_GetText(-1, 1));
}

// The seven extra characters of the name class; everything else outside digits and letters fails.
static bool InNameClass(unsigned ch)
{
    return (ch >= '0' && ch <= '9') || (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z') ||
           (ch != 0 && std::wstring(L".-_@; #").find((wchar_t)ch) != std::wstring::npos);
}

TEST(CheckString, NameClassAcceptsExactlyItsSet)
{
    std::wstring allowed;
    for (unsigned ch = 1; ch < 128; ch++)
        if (InNameClass(ch))
            allowed += (wchar_t)ch;
    ASSERT_EQ(62u + 7u, allowed.size());
    EXPECT_EQ(1, MISC_CheckString(allowed.c_str(), (int)allowed.size(), MISC_CLASS_NAME));

    // Every other ASCII unit, and some beyond, fails at the end of a valid prefix.
    std::vector<wchar_t> refused;
    for (unsigned ch = 0; ch < 128; ch++)
        if (!InNameClass(ch))
            refused.push_back((wchar_t)ch);
    for (wchar_t ch : { L'\u00e9', L'\u00c0', L'\uff21', L'\u5bc6', (wchar_t)0xD800, (wchar_t)0xFFFF })
        refused.push_back(ch);
    for (wchar_t ch : refused) {
        wchar_t text[4] = { L'a', L'1', ch, 0 };
        EXPECT_EQ(0, MISC_CheckString(text, 3, MISC_CLASS_NAME)) << "unit " << (unsigned)ch;
    }
}

TEST(CheckString, PrintableClassIsSpaceToTilde)
{
    std::wstring all;
    for (wchar_t ch = 0x20; ch <= 0x7E; ch++)
        all += ch;
    EXPECT_EQ(1, MISC_CheckString(all.c_str(), (int)all.size(), MISC_CLASS_PRINTABLE));
    for (wchar_t ch : { L'\x00', L'\x09', L'\x1f', L'\x7f', L'\x80', L'\u00e9', L'\u00ff', L'\u5bc6', L'\uff01' }) {
        wchar_t text[4] = { L'~', L'/', ch, 0 };
        EXPECT_EQ(0, MISC_CheckString(text, 3, MISC_CLASS_PRINTABLE)) << "unit " << (unsigned)ch;
    }
}

TEST(CheckString, OnlyTheCountedUnitsAreChecked)
{
    // A bad unit after the count does not matter; a count of 0 passes whatever the text.
    EXPECT_EQ(1, MISC_CheckString(L"ab/", 2, MISC_CLASS_NAME));
    EXPECT_EQ(0, MISC_CheckString(L"ab/", 3, MISC_CLASS_NAME));
    EXPECT_EQ(1, MISC_CheckString(L"/", 0, MISC_CLASS_NAME));
    EXPECT_EQ(1, MISC_CheckString(L"", 0, MISC_CLASS_PRINTABLE));
    EXPECT_EQ(1, MISC_CheckString(nullptr, 0, MISC_CLASS_PRINTABLE));
    EXPECT_EQ(0, MISC_CheckString(nullptr, 1, MISC_CLASS_PRINTABLE));
    // Classes other than 0 and 3 accept nothing.
    EXPECT_EQ(0, MISC_CheckString(L"a", 1, 1));
    EXPECT_EQ(0, MISC_CheckString(L"a", 1, 2));
}

// ---- Dialog templates, read back from the linked resources ----

struct DlgItem {
    DWORD exStyle, style;
    short x, y, cx, cy;
    DWORD id;
    std::wstring cls;
    std::wstring text;
};

struct DlgTemplate {
    DWORD exStyle = 0, style = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    std::wstring menu, cls, title, face;
    WORD pointSize = 0, weight = 0;
    BYTE italic = 0, charset = 0;
    std::vector<DlgItem> items;
};

// A name-or-ordinal field: an ordinal becomes "#<number>".
static const WORD* ReadSzOrOrd(const WORD* p, std::wstring* out)
{
    if (*p == 0xFFFF) {
        *out = L"#" + std::to_wstring(p[1]);
        return p + 2;
    }
    const wchar_t* s = reinterpret_cast<const wchar_t*>(p);
    *out = s;
    return p + out->size() + 1;
}

static const WORD* AlignDword(const WORD* p, const BYTE* base)
{
    size_t off = (size_t)(reinterpret_cast<const BYTE*>(p) - base);
    return reinterpret_cast<const WORD*>(base + ((off + 3) & ~(size_t)3));
}

static bool LoadTemplate(int id, DlgTemplate* t)
{
    HMODULE hMod = GetModuleHandleW(NULL);
    HRSRC hRes = FindResourceExW(hMod, RT_DIALOG, MAKEINTRESOURCEW(id), MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
    if (!hRes)
        return false;
    const BYTE* base = static_cast<const BYTE*>(LockResource(LoadResource(hMod, hRes)));
    DWORD cbRes = SizeofResource(hMod, hRes);
    const WORD* p = reinterpret_cast<const WORD*>(base);
    if (p[0] != 1 || p[1] != 0xFFFF)          // DLGTEMPLATEEX version 1
        return false;
    const DWORD* d = reinterpret_cast<const DWORD*>(p + 2);
    t->exStyle = d[1];
    t->style = d[2];
    p = reinterpret_cast<const WORD*>(d + 3);
    WORD cItems = p[0];
    t->x = (short)p[1]; t->y = (short)p[2]; t->cx = (short)p[3]; t->cy = (short)p[4];
    p = ReadSzOrOrd(p + 5, &t->menu);
    p = ReadSzOrOrd(p, &t->cls);
    p = ReadSzOrOrd(p, &t->title);
    if (t->style & DS_SETFONT) {
        t->pointSize = p[0];
        t->weight = p[1];
        t->italic = reinterpret_cast<const BYTE*>(p + 2)[0];
        t->charset = reinterpret_cast<const BYTE*>(p + 2)[1];
        p = ReadSzOrOrd(p + 3, &t->face);
    }
    for (WORD i = 0; i < cItems; i++) {
        p = AlignDword(p, base);
        DlgItem it;
        const DWORD* di = reinterpret_cast<const DWORD*>(p);
        it.exStyle = di[1];
        it.style = di[2];
        const short* s = reinterpret_cast<const short*>(di + 3);
        it.x = s[0]; it.y = s[1]; it.cx = s[2]; it.cy = s[3];
        it.id = *reinterpret_cast<const DWORD*>(s + 4);
        p = ReadSzOrOrd(reinterpret_cast<const WORD*>(s + 6), &it.cls);
        p = ReadSzOrOrd(p, &it.text);
        p = p + 1 + *p / sizeof(WORD);          // creation data
        t->items.push_back(it);
        if (reinterpret_cast<const BYTE*>(p) > base + cbRes)
            return false;
    }
    return true;
}

// The predefined classes are stored as ordinals; a name spelled out is accepted too.
static bool SameClass(const std::wstring& stored, const wchar_t* name, unsigned ordinal)
{
    return stored == L"#" + std::to_wstring(ordinal) || _wcsicmp(stored.c_str(), name) == 0;
}

struct ExpectedItem { DWORD id; const wchar_t* cls; unsigned ordinal; DWORD style; short x, y, cx, cy; };

static void CheckTemplate(int dialogId, const ExpectedItem* items, size_t cItems)
{
    DlgTemplate t;
    ASSERT_TRUE(LoadTemplate(dialogId, &t)) << "dialog " << dialogId;
    EXPECT_EQ((DWORD)(WS_POPUP | WS_VISIBLE | WS_CAPTION | DS_MODALFRAME | DS_SETFONT), t.style);
    EXPECT_EQ((DWORD)WS_EX_APPWINDOW, t.exStyle);
    EXPECT_EQ(0, t.x); EXPECT_EQ(0, t.y); EXPECT_EQ(259, t.cx); EXPECT_EQ(150, t.cy);
    EXPECT_EQ(L"", t.menu);
    EXPECT_EQ(L"", t.cls);
    EXPECT_EQ(L"", t.title);
    EXPECT_EQ(L"Courier New", t.face);
    EXPECT_EQ(9, t.pointSize);
    EXPECT_EQ(0, t.weight);
    EXPECT_EQ(0, t.italic);
    EXPECT_EQ(1, t.charset);
    ASSERT_EQ(cItems, t.items.size());
    for (size_t i = 0; i < cItems; i++) {
        const DlgItem& it = t.items[i];
        const ExpectedItem& e = items[i];
        EXPECT_EQ(e.id, it.id) << "item " << i;
        EXPECT_TRUE(SameClass(it.cls, e.cls, e.ordinal)) << "item " << i;
        EXPECT_EQ(e.style | WS_CHILD | WS_VISIBLE, it.style) << "item " << i << " id " << e.id;
        EXPECT_EQ(0u, it.exStyle) << "item " << i;
        EXPECT_EQ(e.x, it.x); EXPECT_EQ(e.y, it.y); EXPECT_EQ(e.cx, it.cx); EXPECT_EQ(e.cy, it.cy);
        EXPECT_EQ(L"", it.text) << "item " << i;
    }
}

TEST(DialogTemplate, SecurePrintDialogMatchesItsLayout)
{
    static const ExpectedItem c_Items[] = {
        { 1053, L"Static", 0x82, WS_GROUP | SS_LEFT,                   21, 18, 62, 8 },
        { 1013, L"Edit",   0x81, WS_BORDER | WS_TABSTOP | ES_LEFT,     108, 14, 134, 14 },
        { 1054, L"Static", 0x82, WS_GROUP | SS_SUNKEN,                 21, 31, 221, 37 },
        { 1055, L"Static", 0x82, WS_GROUP | SS_LEFT,                   21, 76, 62, 8 },
        { 1014, L"Edit",   0x81, WS_BORDER | WS_TABSTOP | ES_LEFT,     108, 72, 134, 14 },
        { 1056, L"Static", 0x82, WS_GROUP | SS_SUNKEN,                 21, 90, 221, 20 },
        { 1015, L"Button", 0x80, WS_TABSTOP | BS_AUTOCHECKBOX,         88, 116, 154, 10 },
        { 1057, L"Button", 0x80, WS_TABSTOP | BS_DEFPUSHBUTTON,        192, 131, 50, 14 },
        { 1058, L"Static", 0x82, SS_LEFT,                              21, 128, 165, 20 },
    };
    CheckTemplate(IDD_SECURE_DIALOG, c_Items, ARRAYSIZE(c_Items));
}

TEST(DialogTemplate, AccountingDialogMatchesItsLayout)
{
    static const ExpectedItem c_Items[] = {
        { 1033, L"Static", 0x82, WS_GROUP | SS_LEFT,                   21, 18, 62, 8 },
        { 1031, L"Edit",   0x81, WS_BORDER | WS_TABSTOP | ES_LEFT,     108, 14, 134, 14 },
        { 1034, L"Static", 0x82, WS_GROUP | SS_SUNKEN,                 21, 31, 221, 37 },
        { 1035, L"Static", 0x82, WS_GROUP | SS_LEFT,                   21, 76, 62, 8 },
        { 1032, L"Edit",   0x81, WS_BORDER | WS_TABSTOP | ES_PASSWORD, 108, 72, 134, 14 },
        { 1036, L"Static", 0x82, WS_GROUP | SS_SUNKEN,                 21, 90, 221, 20 },
        { 1038, L"Button", 0x80, WS_TABSTOP | BS_DEFPUSHBUTTON,        192, 131, 50, 14 },
        { 1039, L"Static", 0x82, SS_LEFT,                              21, 114, 165, 34 },
    };
    CheckTemplate(IDD_ACCOUNTING_DIALOG, c_Items, ARRAYSIZE(c_Items));
}

// ---- The close path, run in-process on a modeless copy of dialog 103 ----

#include "app/app.h"
#include "smtest.h"

class SecureCloseTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::wstring dir = SmTempDir(L"dlgclose");
        m_ini = dir + L"StatusMonitorV3.ini";
        static const BYTE bom[] = { 0xFF, 0xFE };
        ASSERT_TRUE(SmWriteFile(m_ini, bom, sizeof(bom)));
        StringCchCopyW(g_StatusIniPath, ARRAYSIZE(g_StatusIniPath), m_ini.c_str());
        // A printer that does not exist: nothing can be written, the close must still end cleanly.
        StringCchCopyW(g_PrinterName, ARRAYSIZE(g_PrinterName), L"No Such Printer \u5bc6");
        g_SecurityType = SEC_TYPE_SECURITY;
        g_LanguageIndex = 0;
        m_hDlg = CreateDialogParamW(GetModuleHandleW(NULL), MAKEINTRESOURCEW(IDD_SECURE_DIALOG), NULL,
                                    Secure_DlgProc, 0);
        ASSERT_NE(nullptr, m_hDlg);
    }
    void TearDown() override
    {
        if (m_hDlg)
            DestroyWindow(m_hDlg);
        g_StatusIniPath[0] = 0;
        g_PrinterName[0] = 0;
    }
    std::wstring Message()
    {
        WCHAR sz[32] = L"";
        GetPrivateProfileStringW(L"Printer Information", L"Message", L"", sz, ARRAYSIZE(sz), m_ini.c_str());
        return sz;
    }
    std::wstring m_ini;
    HWND m_hDlg = NULL;
};

static bool AllZero(const WCHAR* p, size_t cch)
{
    for (size_t i = 0; i < cch; i++)
        if (p[i])
            return false;
    return true;
}

TEST_F(SecureCloseTest, RefusedCloseKeepsStoresAndStillWritesMessage)
{
    WritePrivateProfileStringW(L"Printer Information", L"Message", L"1027", m_ini.c_str());
    SetDlgItemTextW(m_hDlg, IDC_SEC_JOBID, L"job1");
    EXPECT_STREQ(L"job1", g_JobIDLast);
    SendMessageW(m_hDlg, WM_CLOSE, 0, 0);                  // no password yet
    EXPECT_EQ(L"1028", Message());
    EXPECT_TRUE(IsWindowVisible(m_hDlg));
    EXPECT_STREQ(L"job1", g_JobIDLast);
}

TEST_F(SecureCloseTest, AcceptedCloseWipesWholeStores)
{
    // Sentinels behind the terminator show whether the whole buffer is wiped or only emptied.
    for (size_t i = 0; i < ARRAYSIZE(g_JobPasswordLast); i++) {
        g_JobPasswordLast[i] = 0x5A5A;
        g_JobIDLast[i] = 0x5A5A;
    }
    SetDlgItemTextW(m_hDlg, IDC_SEC_JOBID, L"job1");
    SetDlgItemTextW(m_hDlg, IDC_SEC_PASSWORD, L"s3cret");
    ASSERT_STREQ(L"s3cret", g_JobPasswordLast);
    EXPECT_TRUE(AllZero(g_JobPasswordLast + 6, ARRAYSIZE(g_JobPasswordLast) - 6));
    // A shorter text leaves nothing of the longer one behind its terminator.
    SetDlgItemTextW(m_hDlg, IDC_SEC_PASSWORD, L"pw");
    ASSERT_STREQ(L"pw", g_JobPasswordLast);
    EXPECT_TRUE(AllZero(g_JobPasswordLast + 2, ARRAYSIZE(g_JobPasswordLast) - 2));
    // With the focus in the password box, the dialog's end moves it away (EN_KILLFOCUS).
    SetFocus(GetDlgItem(m_hDlg, IDC_SEC_PASSWORD));
    SendMessageW(m_hDlg, WM_CLOSE, 0, 0);
    EXPECT_EQ(L"1028", Message());
    EXPECT_FALSE(IsWindowVisible(m_hDlg));                 // ended although the printer is unknown
    EXPECT_TRUE(AllZero(g_JobPasswordLast, ARRAYSIZE(g_JobPasswordLast)));
    EXPECT_TRUE(AllZero(g_JobIDLast, ARRAYSIZE(g_JobIDLast)));
}

TEST_F(SecureCloseTest, AccountingCloseWipesStoresAndNeedsBoth)
{
    HWND hAct = CreateDialogParamW(GetModuleHandleW(NULL), MAKEINTRESOURCEW(IDD_ACCOUNTING_DIALOG), NULL,
                                   Accounting_DlgProc, 0);
    ASSERT_NE(nullptr, hAct);
    SetDlgItemTextW(hAct, IDC_ACT_NAME, L"alice");
    SendMessageW(hAct, WM_CLOSE, 0, 0);                    // no password: refused
    EXPECT_TRUE(IsWindowVisible(hAct));
    EXPECT_STREQ(L"alice", g_ActIDLast);
    SetDlgItemTextW(hAct, IDC_ACT_PASSWORD, L"longer-secret");
    SetDlgItemTextW(hAct, IDC_ACT_PASSWORD, L"s3cret");
    EXPECT_TRUE(AllZero(g_ActPasswordLast + 6, ARRAYSIZE(g_ActPasswordLast) - 6));
    SetFocus(GetDlgItem(hAct, IDC_ACT_PASSWORD));
    WritePrivateProfileStringW(L"Printer Information", L"Message", L"0", m_ini.c_str());
    SendMessageW(hAct, WM_CLOSE, 0, 0);
    EXPECT_EQ(L"1028", Message());
    EXPECT_FALSE(IsWindowVisible(hAct));
    EXPECT_TRUE(AllZero(g_ActPasswordLast, ARRAYSIZE(g_ActPasswordLast)));
    EXPECT_TRUE(AllZero(g_ActIDLast, ARRAYSIZE(g_ActIDLast)));
    DestroyWindow(hAct);
}

// ---- Opening the printer the credentials go to ----

#include <winspool.h>
#include "dialogs/credentials.h"
#include "spooler_state.h"

// An empty name would open the print server itself, not a printer: nothing is opened.
TEST(Credentials, AnEmptyPrinterNameOpensNothing)
{
    SmSpooler sp(L"dlg_empty_name");
    sp.AddTestPrinter(L"MFP", L"USB001");
    WCHAR szEmpty[1] = L"";
    EXPECT_EQ(nullptr, DLG_OpenPrinter(szEmpty));
    WCHAR szName[] = L"MFP";
    HANDLE hPrinter = DLG_OpenPrinter(szName);
    EXPECT_NE(nullptr, hPrinter);
    if (hPrinter)
        ClosePrinter(hPrinter);
    std::vector<spd::Call> opens = sp.Calls("OpenPrinterW");
    ASSERT_EQ(1u, opens.size()) << SmDescribeCalls(sp);
    EXPECT_EQ("MFP", opens[0].Arg("name"));
}

// The least right that takes printer data: the limited one first where the system may know it
// (8.1 and later report 6.2 unless declared), administration after its refusal.
TEST(Credentials, PrinterDataAsksForTheLeastRight)
{
    const DWORD admin = ~0u;        // else a standard user granted these rights beyond use
    static const struct { WORD os; DWORD user; std::vector<std::string> asked; DWORD error; } cases[] = {
        { MISC_OS_WIN7, admin, { "0x00000004" }, ERROR_SUCCESS },
        { MISC_OS_WIN8, admin, { "0x00000040" }, ERROR_SUCCESS },
        { MISC_OS_WIN7, 0, { "0x00000004" }, ERROR_ACCESS_DENIED },
        { MISC_OS_NEWER, 0, { "0x00000040", "0x00000004" }, ERROR_ACCESS_DENIED },
        { MISC_OS_WIN81, PRINTER_ACCESS_MANAGE_LIMITED, { "0x00000040" }, ERROR_SUCCESS },
    };
    WORD saved = g_OSVersion;
    for (const auto& c : cases) {
        SmSpooler sp(L"dlg_least_right");
        sp.AddTestPrinter(L"MFP", L"USB001");
        if (c.user != admin)
            sp.SetStandardUser(c.user);
        g_OSVersion = c.os;
        WCHAR szName[SM_CCH_PATH] = L"MFP";
        DWORD err = 12345;
        HANDLE hPrinter = DLG_OpenPrinter(szName, &err);
        std::vector<std::string> asked;
        for (const spd::Call& call : sp.Calls("OpenPrinterW"))
            asked.push_back(call.Arg("access"));
        EXPECT_EQ(c.asked, asked) << c.os;
        EXPECT_EQ(c.error, err) << c.os;
        EXPECT_EQ(c.error == ERROR_SUCCESS, hPrinter != NULL);
        if (hPrinter) {
            EXPECT_EQ((DWORD)ERROR_SUCCESS, DLG_SetPrinterString(hPrinter, L"ActName", szName));   // the right suffices
            ClosePrinter(hPrinter);
        }
    }
    g_OSVersion = saved;
}
