// The "security" and "accounting" dialogs of the real program, driven from here through window
// messages as a user's typing, pasting and clicking arrive, with the test-double spooler
// recording the printer data that they write.
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "smtest.h"
#include "spooler_state.h"
#include "credential_run.h"

namespace {

const wchar_t c_Printer[] = L"MFP Secure 1";

// A string value of printer data as text: the units up to the first zero.
std::wstring DataText(const spd::DataValue& d)
{
    std::wstring s;
    for (size_t i = 0; i + 1 < d.bytes.size(); i += 2) {
        wchar_t ch = (wchar_t)(d.bytes[i] | (d.bytes[i + 1] << 8));
        if (!ch)
            break;
        s += ch;
    }
    return s;
}

std::wstring SecurityArgs(int kind, int language)
{
    return L"security " + std::to_wstring(kind) + L" \"" + c_Printer + L"\" " + std::to_wstring(language);
}

std::wstring AccountingArgs(int language)
{
    return L"accounting \"" + std::wstring(c_Printer) + L"\" " + std::to_wstring(language);
}

} // namespace

// ---- Set-up, look and texts ----

TEST(SecureDialog, KindThreeShowsNoDialog)
{
    SmRunResult r = SmRun(SmProgramPath(), SecurityArgs(3, 1033), 10000);
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(1u, r.exitCode);
    EXPECT_TRUE(SmContains(r.lines, "security, g_SecurityType is 3"));
    EXPECT_FALSE(SmContains(r.lines, "WM_CLOSE"));
}

TEST(SecureDialog, StoragePrintDisablesPasswordAndKeepsBoxChecked)
{
    CredentialRun run;
    ASSERT_TRUE(run.Open(SecurityArgs(1, 1033), SEC_ID_LABEL));
    EXPECT_EQ(L"Storage Print", SmWindowText(run.Dlg()));
    EXPECT_TRUE(IsWindowEnabled(run.Item(SEC_ID)));
    EXPECT_FALSE(IsWindowEnabled(run.Item(SEC_PWD)));
    EXPECT_FALSE(IsWindowEnabled(run.Item(SEC_REMOVE)));
    EXPECT_EQ(BST_CHECKED, SendMessageW(run.Item(SEC_REMOVE), BM_GETCHECK, 0, 0));
}

TEST(SecureDialog, FocusStyleAndPlacement)
{
    CredentialRun run;
    ASSERT_TRUE(run.Open(SecurityArgs(2, 1033), SEC_ID_LABEL));
    HWND hDlg = run.Dlg();
    EXPECT_EQ(L"Security Print", SmWindowText(hDlg));
    EXPECT_TRUE(IsWindowEnabled(run.Item(SEC_PWD)));
    EXPECT_TRUE(IsWindowEnabled(run.Item(SEC_REMOVE)));
    EXPECT_EQ(BST_CHECKED, SendMessageW(run.Item(SEC_REMOVE), BM_GETCHECK, 0, 0));

    GUITHREADINFO gti = { sizeof(gti) };
    ASSERT_TRUE(GetGUIThreadInfo(GetWindowThreadProcessId(hDlg, NULL), &gti));
    EXPECT_EQ(run.Item(SEC_ID), gti.hwndFocus);

    LONG style = GetWindowLongW(hDlg, GWL_STYLE);
    LONG exStyle = GetWindowLongW(hDlg, GWL_EXSTYLE);
    EXPECT_EQ((LONG)(WS_POPUP | WS_CAPTION), style & (WS_POPUP | WS_CAPTION));
    EXPECT_EQ(0, style & WS_SYSMENU);
    EXPECT_NE(0, exStyle & WS_EX_TOPMOST);
    EXPECT_NE(0, exStyle & WS_EX_APPWINDOW);
    // The password box of this dialog shows its characters.
    EXPECT_EQ(0, SendMessageW(run.Item(SEC_PWD), EM_GETPASSWORDCHAR, 0, 0));

    RECT rcDesk, rcWnd, rcClient;
    GetWindowRect(GetDesktopWindow(), &rcDesk);
    GetWindowRect(hDlg, &rcWnd);
    GetClientRect(hDlg, &rcClient);
    EXPECT_EQ((rcDesk.right - rcClient.right) / 2, rcWnd.left);
    EXPECT_EQ((rcDesk.bottom - rcClient.bottom) / 2, rcWnd.top);
}

struct LanguageCase {
    int language;
    const wchar_t* title;
    const wchar_t* idLabel;
    const wchar_t* pwdLabel;
    const wchar_t* removeText;
    const wchar_t* ok;
};

TEST(SecureDialog, TextsFollowTheLanguage)
{
    static const LanguageCase c_Cases[] = {
        { 1033, L"Security Print", L"ID:", L"Password:", L"Delete this file after printing.", L"OK" },
        { 1028, L"\u5132\u5b58\u5217\u5370-\u52a0\u5bc6", L"\u5de5\u4f5c\u540d\u7a31:", L"\u5bc6\u78bc:",
          L"\u5217\u5370\u5f8c\u522a\u9664", L"\u78ba\u5b9a" },
        { 2052, L"\u50a8\u5b58\u5217\u5370-\u5b89\u5168", L"\u5de5\u4f5c\u540d\u79f0:", L"\u5bc6\u7801:",
          L"\u6253\u5370\u540e\u5220\u9664", L"\u786e\u5b9a" },
        { 1041, L"Security Print", L"ID:", L"Password:", L"Delete this file after printing.", L"OK" },
    };
    for (const LanguageCase& c : c_Cases) {
        CredentialRun run;
        ASSERT_TRUE(run.Open(SecurityArgs(2, c.language), SEC_ID_LABEL)) << c.language;
        EXPECT_EQ(c.title, SmWindowText(run.Dlg())) << c.language;
        EXPECT_EQ(c.idLabel, run.ItemText(SEC_ID_LABEL)) << c.language;
        EXPECT_EQ(c.pwdLabel, run.ItemText(SEC_PWD_LABEL)) << c.language;
        EXPECT_EQ(c.removeText, run.ItemText(SEC_REMOVE)) << c.language;
        EXPECT_EQ(c.ok, run.ItemText(SEC_OK)) << c.language;
        EXPECT_FALSE(run.ItemText(SEC_ID_HELP).empty()) << c.language;
        EXPECT_EQ(c.language == 1028 || c.language == 2052, run.ItemText(SEC_PWD_HELP)[0] > 0x7F) << c.language;
    }
}

TEST(AccountingDialog, TextsFollowTheLanguageAndRussianIsEnglish)
{
    static const LanguageCase c_Cases[] = {
        { 1049, L"User authentication", L"User Name:", L"Password:", nullptr, L"OK" },
        { 1028, L"\u4f7f\u7528\u8005\u8a8d\u8b49", L"\u4f7f\u7528\u8005\u540d\u7a31:", L"\u5bc6\u78bc:", nullptr, L"\u78ba\u5b9a" },
        { 2052, L"\u4f7f\u7528\u8005\u8ba4\u8bc1", L"\u4f7f\u7528\u8005\u540d\u79f0:", L"\u5bc6\u7801:", nullptr, L"\u786e\u5b9a" },
    };
    for (const LanguageCase& c : c_Cases) {
        CredentialRun run;
        ASSERT_TRUE(run.Open(AccountingArgs(c.language), ACT_NAME_LABEL)) << c.language;
        EXPECT_EQ(c.title, SmWindowText(run.Dlg())) << c.language;
        EXPECT_EQ(c.idLabel, run.ItemText(ACT_NAME_LABEL)) << c.language;
        EXPECT_EQ(c.pwdLabel, run.ItemText(ACT_PWD_LABEL)) << c.language;
        EXPECT_EQ(c.ok, run.ItemText(ACT_OK)) << c.language;
        // Both help texts of the Chinese columns are the same sentence.
        if (c.language != 1049)
            EXPECT_EQ(run.ItemText(ACT_NAME_HELP), run.ItemText(ACT_PWD_HELP));
        else
            EXPECT_EQ(L"Please enter English characters or digits. Up to 28 digits are allowed.",
                      run.ItemText(ACT_PWD_HELP));
    }
}

TEST(AccountingDialog, FocusPlacementAndMaskedPassword)
{
    CredentialRun run;
    ASSERT_TRUE(run.Open(AccountingArgs(1033), ACT_NAME_LABEL));
    HWND hDlg = run.Dlg();
    GUITHREADINFO gti = { sizeof(gti) };
    ASSERT_TRUE(GetGUIThreadInfo(GetWindowThreadProcessId(hDlg, NULL), &gti));
    EXPECT_EQ(run.Item(ACT_NAME), gti.hwndFocus);
    EXPECT_NE(0, GetWindowLongW(hDlg, GWL_EXSTYLE) & WS_EX_TOPMOST);
    EXPECT_EQ(0, GetWindowLongW(hDlg, GWL_STYLE) & WS_SYSMENU);

    RECT rcDesk, rcWnd, rcClient;
    GetWindowRect(GetDesktopWindow(), &rcDesk);
    GetWindowRect(hDlg, &rcWnd);
    GetClientRect(hDlg, &rcClient);
    EXPECT_EQ((rcDesk.right - rcClient.right) / 2, rcWnd.left);
    EXPECT_EQ((rcDesk.bottom - rcClient.bottom) / 2, rcWnd.top);

    EXPECT_NE(0, GetWindowLongW(run.Item(ACT_PWD), GWL_STYLE) & ES_PASSWORD);
    EXPECT_NE(0, SendMessageW(run.Item(ACT_PWD), EM_GETPASSWORDCHAR, 0, 0));
    EXPECT_EQ(0, SendMessageW(run.Item(ACT_NAME), EM_GETPASSWORDCHAR, 0, 0));
}

// ---- Typing, pasting and limits ----

TEST(SecureDialog, RefusedCharacterPutsLastValidTextBackWithCaretAtEnd)
{
    CredentialRun run;
    ASSERT_TRUE(run.Open(SecurityArgs(2, 1033), SEC_ID_LABEL));
    run.Type(SEC_ID, L"a");
    run.Type(SEC_ID, L"/");
    EXPECT_EQ(L"a", run.ItemText(SEC_ID));
    EXPECT_EQ(std::make_pair(1, 1), run.Selection(SEC_ID));
    run.Type(SEC_ID, L"b");
    EXPECT_EQ(L"ab", run.ItemText(SEC_ID));

    // Each refused character leaves the box as it was; all seven extra characters pass.
    for (wchar_t bad : { L'/', L'+', L'\u00e9', L'\u5bc6', L'!' }) {
        run.Type(SEC_ID, std::wstring(1, bad));
        EXPECT_EQ(L"ab", run.ItemText(SEC_ID)) << (unsigned)bad;
        EXPECT_EQ(std::make_pair(2, 2), run.Selection(SEC_ID)) << (unsigned)bad;
    }
    run.Type(SEC_ID, L".-_@; #Z9");
    EXPECT_EQ(L"ab.-_@; #Z9", run.ItemText(SEC_ID));

    // The password box takes any printable ASCII, tilde and slash included, and nothing beyond.
    run.Type(SEC_PWD, L"~/ !Az");
    EXPECT_EQ(L"~/ !Az", run.ItemText(SEC_PWD));
    run.Type(SEC_PWD, L"\u00e9");
    EXPECT_EQ(L"~/ !Az", run.ItemText(SEC_PWD));
    EXPECT_EQ(std::make_pair(6, 6), run.Selection(SEC_PWD));
}

TEST(SecureDialog, PasteWithOneBadCharacterIsRefusedWhole)
{
    CredentialRun run;
    ASSERT_TRUE(run.Open(SecurityArgs(2, 1033), SEC_ID_LABEL));
    run.Type(SEC_ID, L"x");
    ASSERT_TRUE(run.Paste(SEC_ID, L"abc+def"));
    EXPECT_EQ(L"x", run.ItemText(SEC_ID));
    EXPECT_EQ(std::make_pair(1, 1), run.Selection(SEC_ID));
    ASSERT_TRUE(run.Paste(SEC_ID, L"abc_def"));
    EXPECT_EQ(L"xabc_def", run.ItemText(SEC_ID));

    ASSERT_TRUE(run.Paste(SEC_PWD, L"pass\u00e9word"));
    EXPECT_EQ(L"", run.ItemText(SEC_PWD));
    ASSERT_TRUE(run.Paste(SEC_PWD, L"pass{word}"));
    EXPECT_EQ(L"pass{word}", run.ItemText(SEC_PWD));
}

TEST(SecureDialog, SeventeenthCharacterCannotBeTyped)
{
    CredentialRun run;
    ASSERT_TRUE(run.Open(SecurityArgs(2, 1033), SEC_ID_LABEL));
    run.Type(SEC_ID, L"ABCDEFGHIJKLMNOPQ");
    EXPECT_EQ(L"ABCDEFGHIJKLMNOP", run.ItemText(SEC_ID));
    run.Type(SEC_PWD, L"0123456789abcdefX");
    EXPECT_EQ(L"0123456789abcdef", run.ItemText(SEC_PWD));
}

TEST(AccountingDialog, TwentyNinthCharacterCannotBeTypedAndNameIsChecked)
{
    CredentialRun run;
    ASSERT_TRUE(run.Open(AccountingArgs(1033), ACT_NAME_LABEL));
    const std::wstring name28 = L"user.name-01_@;#ABCDEFGHIJKL";
    ASSERT_EQ(28u, name28.size());
    run.Type(ACT_NAME, name28 + L"M");
    EXPECT_EQ(name28, run.ItemText(ACT_NAME));

    CredentialRun run2;
    ASSERT_TRUE(run2.Open(AccountingArgs(1033), ACT_NAME_LABEL));
    run2.Type(ACT_NAME, L"ab/\u00e9c");
    EXPECT_EQ(L"abc", run2.ItemText(ACT_NAME));
    const std::wstring pwd28 = L"~!@#$%^&*()_+{}|:\"<>?`-=[]\\;";
    ASSERT_EQ(28u, pwd28.size());
    run2.Type(ACT_PWD, pwd28 + L"x");
    EXPECT_EQ(pwd28, run2.ItemText(ACT_PWD));
}

TEST(CredentialDialogs, EscapeDoesNothing)
{
    for (int accounting = 0; accounting < 2; accounting++) {
        CredentialRun run;
        int idEdit = accounting ? ACT_NAME : SEC_ID;
        ASSERT_TRUE(run.Open(accounting ? AccountingArgs(1033) : SecurityArgs(2, 1033),
                             accounting ? ACT_NAME_LABEL : SEC_ID_LABEL));
        run.Type(idEdit, L"abc");
        // The key as the dialog's own loop sees it, and the command it turns into.
        PostMessageW(run.Item(idEdit), WM_KEYDOWN, VK_ESCAPE, 0x00010001);
        PostMessageW(run.Item(idEdit), WM_KEYUP, VK_ESCAPE, 0xC0010001);
        SendMessageW(run.Dlg(), WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        run.Sync();
        Sleep(100);
        run.Sync();
        EXPECT_TRUE(IsWindowVisible(run.Dlg()));
        EXPECT_FALSE(run.Child().Exited());
        EXPECT_EQ(L"abc", run.ItemText(idEdit));
    }
}

// ---- Screenshots of both dialogs in English and both Chinese columns ----

// The pixels of a window's part given in screen coordinates, as one vector for comparison.
static std::vector<DWORD> Region(const SmImage& image, HWND hDlg, const RECT& rcScreen)
{
    RECT rcWnd;
    GetWindowRect(hDlg, &rcWnd);
    std::vector<DWORD> out;
    for (int y = rcScreen.top - rcWnd.top; y < rcScreen.bottom - rcWnd.top; y++)
        for (int x = rcScreen.left - rcWnd.left; x < rcScreen.right - rcWnd.left; x++)
            if (x >= 0 && y >= 0 && x < image.width && y < image.height)
                out.push_back(image.At(x, y));
    return out;
}

static int DarkPixels(const std::vector<DWORD>& pixels)
{
    int dark = 0;
    for (DWORD p : pixels)
        if ((p & 0xFF) < 0x60)
            dark++;
    return dark;
}

// At the scales of today's displays too, where every text must fit its control: measured with the
// dialog's font at that DPI in the control's own size (less a check box's or a button's edge).
TEST(CredentialDialogs, ScreenshotsPerLanguage)
{
    const struct { int id; UINT format; int cxEdge; } texts[2][6] = {
        { { SEC_ID_LABEL, DT_SINGLELINE, 0 }, { SEC_ID_HELP, DT_WORDBREAK, 0 }, { SEC_PWD_LABEL, DT_SINGLELINE, 0 },
          { SEC_PWD_HELP, DT_WORDBREAK, 0 }, { SEC_REMOVE, DT_SINGLELINE, 16 }, { SEC_OK, DT_SINGLELINE, 4 } },
        { { ACT_NAME_LABEL, DT_SINGLELINE, 0 }, { ACT_NAME_HELP, DT_WORDBREAK, 0 }, { ACT_PWD_LABEL, DT_SINGLELINE, 0 },
          { ACT_PWD_HELP, DT_WORDBREAK, 0 }, { ACT_OK, DT_SINGLELINE, 4 }, { ACT_OK, DT_SINGLELINE, 4 } } };
    std::wstring dir = SmTestDir() + L"screenshots\\";
    CreateDirectoryW(dir.c_str(), NULL);
    HDC hdc = CreateCompatibleDC(NULL);
    for (int dpi : { 96, 120, 144, 192 })
    for (int accounting = 0; accounting < 2; accounting++) {
        SmScopedDpi scopedDpi(dpi);
        HFONT hFont = CreateFontW(-MulDiv(9, dpi, 72), 0, 0, 0, 0, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, L"Courier New");
        HGDIOBJ hOldFont = SelectObject(hdc, hFont);
        // Captions and OK buttons of the two Chinese columns: both texts share their length and
        // differ in one character or more, so identical pixels mean boxes instead of glyphs.
        std::vector<DWORD> caption[2], okButton[2];
        for (int language : { 1033, 1028, 2052 }) {
            CredentialRun run;
            int idLabel = accounting ? ACT_NAME_LABEL : SEC_ID_LABEL;
            int idHelp = accounting ? ACT_NAME_HELP : SEC_ID_HELP;
            int idOk = accounting ? ACT_OK : SEC_OK;
            ASSERT_TRUE(run.Open(accounting ? AccountingArgs(language) : SecurityArgs(2, language), idLabel));
            RedrawWindow(run.Dlg(), NULL, NULL, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
            run.Sync();
            Sleep(100);
            SmImage image;
            ASSERT_TRUE(SmCaptureWindow(run.Dlg(), &image));
            std::wstring name = std::wstring(accounting ? L"accounting_" : L"secure_") + std::to_wstring(language)
                + (dpi == 96 ? L"" : L"_" + std::to_wstring(dpi)) + L".bmp";
            EXPECT_TRUE(SmSaveImageBmp(image, dir + name));

            RECT rcHelp, rcOk, rcWnd, rcClient;
            GetWindowRect(run.Item(idHelp), &rcHelp);
            InflateRect(&rcHelp, -2, -2);
            EXPECT_GT(DarkPixels(Region(image, run.Dlg(), rcHelp)), 200) << SmNarrow(name);
            for (const auto& t : texts[accounting]) {
                RECT rcCtl, rcText;
                GetClientRect(run.Item(t.id), &rcCtl);
                rcCtl.right -= MulDiv(t.cxEdge, dpi, 96);
                rcText = rcCtl;
                DrawTextW(hdc, run.ItemText(t.id).c_str(), -1, &rcText, DT_CALCRECT | DT_EXPANDTABS | t.format);
                EXPECT_TRUE(rcText.right <= rcCtl.right && rcText.bottom <= rcCtl.bottom) << SmNarrow(name) << " " << t.id;
            }
            if (language == 1033)
                continue;
            GetWindowRect(run.Item(idOk), &rcOk);
            GetWindowRect(run.Dlg(), &rcWnd);
            GetClientRect(run.Dlg(), &rcClient);
            POINT ptClient = { 0, 0 };
            ClientToScreen(run.Dlg(), &ptClient);
            RECT rcCaption = { rcWnd.left, rcWnd.top, rcWnd.right, ptClient.y };
            int col = language == 1028 ? 0 : 1;
            caption[col] = Region(image, run.Dlg(), rcCaption);
            okButton[col] = Region(image, run.Dlg(), rcOk);
        }
        EXPECT_NE(caption[0], caption[1]) << "caption glyphs missing, dialog " << accounting;
        EXPECT_NE(okButton[0], okButton[1]) << "button glyphs missing, dialog " << accounting;
        SelectObject(hdc, hOldFont);
        DeleteObject(hFont);
    }
    DeleteDC(hdc);
}

// ---- Printer data, through the test-double spooler ----

namespace {

// Every data value that reached the double, with the printer, name, type, size and whole bytes.
void ExpectStringValue(const spd::DataValue& d, const wchar_t* name, const std::wstring& text)
{
    EXPECT_EQ(c_Printer, d.printer);
    EXPECT_EQ(name, d.name);
    EXPECT_EQ((DWORD)REG_SZ, d.type) << SmNarrow(name);
    EXPECT_EQ(520u, d.size) << SmNarrow(name);
    ASSERT_EQ(520u, d.bytes.size()) << SmNarrow(name);
    EXPECT_EQ(text, DataText(d)) << SmNarrow(name);
    // Behind the terminator: zeros, not what an earlier, longer entry left in the store.
    size_t zeroAt = text.size() * 2;
    for (size_t i = zeroAt; i < d.bytes.size(); i++)
        ASSERT_EQ(0, d.bytes[i]) << SmNarrow(name) << " byte " << i;
}

void ExpectDwordValue(const spd::DataValue& d, const wchar_t* name, DWORD value)
{
    EXPECT_EQ(c_Printer, d.printer);
    EXPECT_EQ(name, d.name);
    EXPECT_EQ((DWORD)REG_DWORD, d.type);
    EXPECT_EQ(4u, d.size);
    ASSERT_EQ(4u, d.bytes.size());
    DWORD v = 0;
    memcpy(&v, d.bytes.data(), 4);
    EXPECT_EQ(value, v);
}

bool NoLineHolds(const std::vector<std::string>& lines, const std::string& secret, std::string* pLine)
{
    for (const std::string& l : lines) {
        if (l.find(secret) != std::string::npos) {
            *pLine = l;
            return false;
        }
    }
    return true;
}

void ExpectOpenedToAdminister(const SmSpooler& spooler)
{
    std::vector<spd::Call> opens = spooler.Calls("OpenPrinterW");
    ASSERT_EQ(1u, opens.size()) << SmDescribeCalls(spooler);
    EXPECT_EQ("0x00000004", opens[0].Arg("access"));
    EXPECT_EQ(spooler.Calls("OpenPrinterW").size(), spooler.Calls("ClosePrinter").size());
}

} // namespace

TEST(SecurePrinterData, StoragePrintWritesIdEmptyPasswordAndRemoveFlag)
{
    SmSpooler spooler(L"sec_storage");
    spooler.AddTestPrinter(c_Printer);
    CredentialRun run;
    ASSERT_TRUE(run.Open(SecurityArgs(1, 1033), SEC_ID_LABEL));
    run.Type(SEC_ID, L"Job_1");
    run.Click(SEC_OK);
    ASSERT_TRUE(run.Child().WaitExit(10000));
    EXPECT_EQ(1u, run.Child().ExitCode());
    EXPECT_EQ(L"1028", SmIniMessage());

    std::vector<spd::DataValue> values = spooler.DataValues();
    ASSERT_EQ(3u, values.size()) << SmDescribeCalls(spooler);
    ExpectStringValue(values[0], L"SecID", L"Job_1");
    ExpectStringValue(values[1], L"SecPassWord", L"");
    ExpectDwordValue(values[2], L"SecRemoveFile", 1);
    ExpectOpenedToAdminister(spooler);
    std::vector<std::string> lines = run.Child().Lines();
    EXPECT_TRUE(SmContains(lines, "WM_CLOSE, MFP Secure 1"));
    EXPECT_TRUE(SmContains(lines, "SetPrinterData, SecID, Job_1"));
    EXPECT_TRUE(SmContains(lines, "SetPrinterData, SecRemoveFile, 1"));
}

TEST(SecurePrinterData, PasswordMissingKeepsDialogThenAllThreeWrittenAndNothingLeaks)
{
    SmSpooler spooler(L"sec_security");
    spooler.AddTestPrinter(c_Printer);
    SmScopedEnv trace(L"SM_TRACE", L"threshold=1");
    CredentialRun run;
    ASSERT_TRUE(run.Open(SecurityArgs(2, 1033), SEC_ID_LABEL));
    run.Type(SEC_ID, L"J1");
    ASSERT_TRUE(run.ClickOkAndWaitForCloseRequest(SEC_OK));
    EXPECT_TRUE(IsWindowVisible(run.Dlg()));
    EXPECT_FALSE(run.Child().Exited());
    EXPECT_TRUE(spooler.DataValues().empty());
    EXPECT_TRUE(spooler.Calls("OpenPrinterW").empty());

    // A longer entry first, shortened with backspaces: the store must not keep its tail.
    const std::wstring secret = L"Zq9~p@ss w0/";
    run.Type(SEC_PWD, secret + L"XYZW");
    for (int i = 0; i < 4; i++)
        SendMessageW(run.Item(SEC_PWD), WM_CHAR, VK_BACK, 1);
    ASSERT_EQ(secret, run.ItemText(SEC_PWD));
    run.Click(SEC_REMOVE);
    EXPECT_EQ(BST_UNCHECKED, SendMessageW(run.Item(SEC_REMOVE), BM_GETCHECK, 0, 0));
    // Enter presses the default button.
    PostMessageW(run.Item(SEC_PWD), WM_KEYDOWN, VK_RETURN, 0x001C0001);
    PostMessageW(run.Item(SEC_PWD), WM_KEYUP, VK_RETURN, 0xC01C0001);
    ASSERT_TRUE(run.Child().WaitExit(10000));
    EXPECT_EQ(1u, run.Child().ExitCode());

    std::vector<spd::DataValue> values = spooler.DataValues();
    ASSERT_EQ(3u, values.size()) << SmDescribeCalls(spooler);
    ExpectStringValue(values[0], L"SecID", L"J1");
    ExpectStringValue(values[1], L"SecPassWord", secret);
    ExpectDwordValue(values[2], L"SecRemoveFile", 0);
    ExpectOpenedToAdminister(spooler);

    // The debugger output, trace lines included, names the password only as asterisks.
    std::vector<std::string> lines = run.Child().Lines();
    ASSERT_TRUE(SmContains(lines, "MISC_CheckString")) << "trace was not on";
    std::string leaked;
    for (const char* part : { "Zq9~p@ss w0/", "Zq9", "p@ss", "XYZW" })
        EXPECT_TRUE(NoLineHolds(lines, part, &leaked)) << part << " in: " << leaked;
    EXPECT_TRUE(SmContains(lines, "SetPrinterData, SecPassWord, " + std::string(secret.size(), '*')));
    EXPECT_FALSE(SmContains(lines, "SetPrinterData, SecPassWord, " + std::string(secret.size() + 1, '*')));
}

TEST(SecurePrinterData, PrinterThatCannotBeOpenedStillEndsTheDialog)
{
    SmSpooler spooler(L"sec_noprinter");                  // no printer at all
    CredentialRun run;
    ASSERT_TRUE(run.Open(SecurityArgs(2, 1033), SEC_ID_LABEL));
    run.Type(SEC_ID, L"J2");
    run.Type(SEC_PWD, L"pw");
    run.Click(SEC_OK);
    ASSERT_TRUE(run.Child().WaitExit(10000));
    EXPECT_EQ(2u, run.Child().ExitCode());            // the values did not reach the printer
    EXPECT_EQ(1u, spooler.Calls("OpenPrinterW").size()) << SmDescribeCalls(spooler);
    EXPECT_TRUE(spooler.Calls("SetPrinterDataW").empty());
    EXPECT_TRUE(spooler.DataValues().empty());
}

TEST(SecurePrinterData, FailedWritesAreTracedAndTheOthersStillTried)
{
    SmSpooler spooler(L"sec_fail");
    spooler.AddTestPrinter(c_Printer);
    spooler.SetFail("SetPrinterDataW", ERROR_GEN_FAILURE, 2);   // the 2nd call and later fail
    SmScopedEnv trace(L"SM_TRACE", L"threshold=1");
    CredentialRun run;
    ASSERT_TRUE(run.Open(SecurityArgs(2, 1033), SEC_ID_LABEL));
    run.Type(SEC_ID, L"J3");
    run.Type(SEC_PWD, L"pw");
    run.Click(SEC_OK);
    ASSERT_TRUE(run.Child().WaitExit(10000));
    EXPECT_EQ(2u, run.Child().ExitCode());            // the values did not reach the printer
    std::vector<spd::Call> sets = spooler.Calls("SetPrinterDataW");
    ASSERT_EQ(3u, sets.size()) << SmDescribeCalls(spooler);
    std::vector<spd::DataValue> values = spooler.DataValues();
    ASSERT_EQ(1u, values.size());
    ExpectStringValue(values[0], L"SecID", L"J3");
    std::vector<std::string> lines = run.Child().Lines();
    EXPECT_FALSE(SmContains(lines, "set SecID error"));
    EXPECT_TRUE(SmContains(lines, "set SecPassWord error"));
    EXPECT_TRUE(SmContains(lines, "set SecRemoveFile error"));
}

TEST(AccountingPrinterData, PasswordMissingKeepsDialogThenBothWritten)
{
    SmSpooler spooler(L"act_values");
    spooler.AddTestPrinter(c_Printer);
    SmScopedEnv trace(L"SM_TRACE", L"threshold=1");
    CredentialRun run;
    ASSERT_TRUE(run.Open(AccountingArgs(1033), ACT_NAME_LABEL));
    run.Type(ACT_NAME, L"alice");
    ASSERT_TRUE(run.ClickOkAndWaitForCloseRequest(ACT_OK));
    EXPECT_TRUE(IsWindowVisible(run.Dlg()));
    EXPECT_FALSE(run.Child().Exited());
    EXPECT_TRUE(spooler.Calls("OpenPrinterW").empty());

    const std::wstring secret = L"Hk7$ secret`";
    run.Type(ACT_PWD, secret);
    run.Click(ACT_OK);
    ASSERT_TRUE(run.Child().WaitExit(10000));
    EXPECT_EQ(1u, run.Child().ExitCode());
    EXPECT_EQ(L"1028", SmIniMessage());
    std::vector<spd::DataValue> values = spooler.DataValues();
    ASSERT_EQ(2u, values.size()) << SmDescribeCalls(spooler);
    ExpectStringValue(values[0], L"ActName", L"alice");
    ExpectStringValue(values[1], L"ActPWD", secret);
    ExpectOpenedToAdminister(spooler);

    std::vector<std::string> lines = run.Child().Lines();
    ASSERT_TRUE(SmContains(lines, "Accounting_CmdProc")) << "trace was not on";
    std::string leaked;
    for (const char* part : { "Hk7$ secret`", "Hk7", "secret" })
        EXPECT_TRUE(NoLineHolds(lines, part, &leaked)) << part << " in: " << leaked;
}
