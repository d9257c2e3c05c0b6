// smctl's tools for the driver's developers, run as the developers run them, against the real
// program and the test-double spooler: why, lint, wm-proof and replay.
#include <gtest/gtest.h>
#include "smtest.h"
#include "spooler_state.h"
#include <memory>
#include <string>
#include <vector>

namespace {

const wchar_t kSection[] = L"Printer Information";
const wchar_t kTitle[] = L"MFP Status Monitor";
const wchar_t kRunKey[] = L"software\\microsoft\\windows\\currentversion\\run";

struct Output {
    DWORD exitCode = 0xFFFFFFFF;
    std::string text;       // standard output and error together
    std::string err;        // standard error alone
    bool Has(const std::string& s) const { return text.find(s) != std::string::npos; }
};

// Runs smctl (in the folder given, else this one) with its output in files, to its end.
Output Smctl(const std::wstring& args, const std::wstring& dir = L"")
{
    Output out;
    std::wstring tmp = SmTempDir(L"devtools_out"), outFile = tmp + L"\\stdout.txt", errFile = tmp + L"\\stderr.txt";
    SECURITY_ATTRIBUTES sa = { sizeof(sa), NULL, TRUE };
    HANDLE hOut = CreateFileW(outFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS, 0, NULL);
    HANDLE hErr = CreateFileW(errFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS, 0, NULL);
    if (hOut == INVALID_HANDLE_VALUE || hErr == INVALID_HANDLE_VALUE)
        return out;
    STARTUPINFOW si = { sizeof(si) };
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = hOut;
    si.hStdError = hErr;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION pi = {};
    std::wstring cmd = L"\"" + SmTestDir() + L"smctl.exe\" " + args;
    std::vector<wchar_t> buf(cmd.begin(), cmd.end());
    buf.push_back(0);
    if (CreateProcessW(NULL, buf.data(), NULL, NULL, TRUE, 0, NULL, dir.empty() ? NULL : dir.c_str(), &si, &pi)) {
        if (WaitForSingleObject(pi.hProcess, 60000) == WAIT_OBJECT_0)
            GetExitCodeProcess(pi.hProcess, &out.exitCode);
        else
            TerminateProcess(pi.hProcess, 99);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }
    CloseHandle(hOut);
    CloseHandle(hErr);
    std::vector<BYTE> o = SmReadFile(outFile), e = SmReadFile(errFile);
    out.err.assign(e.begin(), e.end());
    out.text.assign(o.begin(), o.end());
    out.text += out.err;
    return out;
}

std::wstring MsgIniPath()
{
    WCHAR dir[MAX_PATH];
    GetWindowsDirectoryW(dir, MAX_PATH);
    return std::wstring(dir) + L"\\smen.ini";
}

// A UTF-16 INI file with the byte-order mark, from lines.
bool WriteUnicodeIni(const std::wstring& path, const std::wstring& text)
{
    std::wstring all = L"\xFEFF" + text;
    return SmWriteFile(path, all.data(), all.size() * sizeof(wchar_t));
}

std::wstring DialogText(HWND hDlg, int id)
{
    WCHAR buf[256] = {};
    SendDlgItemMessageW(hDlg, id, WM_GETTEXT, ARRAYSIZE(buf), (LPARAM)buf);
    return buf;
}

class DevTools : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_spooler.reset(new SmSpooler(L"devtools"));
        m_spooler->AddTestPrinter(L"MFP");
        m_spooler->AddTestJob(L"MFP", 42, L"Quarterly report");
        m_ini = SmStatusIniPath();
        static const BYTE bom[] = { 0xFF, 0xFE };
        ASSERT_TRUE(SmWriteFile(m_ini, bom, sizeof(bom)));
        Write(L"PrinterName", L"MFP");
        WritePrivateProfileStringW(L"Job Information", L"JobID", L"42", m_ini.c_str());
        DeleteFileW(MsgIniPath().c_str());
    }
    void TearDown() override
    {
        if (m_monitor) {
            if (HWND h = FindWindowW(L"StatusMonitor", NULL))
                PostMessageW(h, WM_USER + 2, 0, 0);
            if (!m_monitor->WaitExit(5000))
                m_monitor->Kill();
            m_monitor.reset();
        }
        SmRegDeleteValue(HKEY_LOCAL_MACHINE, kRunKey, L"StatusMonitor");
        DeleteFileW(MsgIniPath().c_str());
        static const BYTE bom[] = { 0xFF, 0xFE };
        SmWriteFile(m_ini, bom, sizeof(bom));
        m_spooler.reset();
    }
    void Write(const wchar_t* key, const std::wstring& value)
    {
        ASSERT_TRUE(WritePrivateProfileStringW(kSection, key, value.c_str(), m_ini.c_str()));
    }
    void StartMonitor()
    {
        m_monitor.reset(new SmChild);
        ASSERT_TRUE(m_monitor->Start(SmProgramPath(), L"install"));
        ASSERT_NE((HWND)NULL, SmWaitForWindow(L"StatusMonitor", NULL, 10000));
    }

    std::unique_ptr<SmSpooler> m_spooler;
    std::unique_ptr<SmChild> m_monitor;
    std::wstring m_ini;
};

TEST_F(DevTools, WhyExplainsEachDecisionAndMatchesTheDialog)
{
    ASSERT_TRUE(WriteUnicodeIni(MsgIniPath(), L"[string]\r\nmsg009=Papierstau.\r\n"));
    Write(L"ShowQelSM", L"1");
    Write(L"Status", L"StoreName|Q3|33|112|5|tail");
    Write(L"LastMsg", L"7");
    Write(L"Message", L"1027");

    Output before = Smctl(L"why");
    ASSERT_EQ(0u, before.exitCode) << before.text;
    EXPECT_TRUE(before.Has("field \"StoreName\"  not a code: the next field is the store-job name\r\n"
                           "  field \"Q3\"  not a code: taken as the store-job name")) << before.text;
    EXPECT_TRUE(before.Has("field \"112\"  code 112, dropped: 112 is never stored")) << before.text;
    EXPECT_TRUE(before.Has("field \"tail\"  ignored: text after the last bar")) << before.text;
    EXPECT_TRUE(before.Has("spooler status  0x00000008 (set by the first code, 33)")) << before.text;
    EXPECT_TRUE(before.Has("msg009 \"Papierstau.\" from C:\\windows\\smen.ini")) << before.text;
    EXPECT_TRUE(before.Has("msg005 \"Front cover open.\" from the built-in default")) << before.text;
    EXPECT_TRUE(before.Has("Continue        not offered")) << before.text;
    EXPECT_TRUE(before.Has("monitor         not running")) << before.text;

    // The monitor shows the list: every slot why names holds the text it names.
    StartMonitor();
    HWND hDlg = SmWaitForWindow(L"#32770", kTitle, 5000);
    ASSERT_NE((HWND)NULL, hDlg);
    DWORD start = GetTickCount();
    while (DialogText(hDlg, 1007).empty() && GetTickCount() - start < 3000)
        Sleep(20);
    Output json = Smctl(L"why --json");
    ASSERT_EQ(0u, json.exitCode) << json.text;
    EXPECT_EQ('{', json.text[0]) << json.text;
    EXPECT_TRUE(json.Has("\"spoolerStatus\":\"0x00000008\"")) << json.text;
    EXPECT_TRUE(json.Has("\"sameCodes\":true")) << json.text;
    struct { const char* line; int id; const wchar_t* shown; } slots[] = {
        { "{\"code\":33,\"column\":\"left\",\"control\":1001,\"picture\":\"upper\",\"marker\":null", 1001, L"Papierstau." },
        { "{\"code\":5,\"column\":\"right\",\"control\":1007,\"picture\":\"upper\",\"marker\":{\"x\":92,\"y\":101}", 1007,
          L"Front cover open." },
    };
    for (const auto& s : slots) {
        EXPECT_TRUE(json.Has(s.line)) << s.line << "\n" << json.text;
        EXPECT_EQ(s.shown, DialogText(hDlg, s.id));
    }
    Output text = Smctl(L"why");
    EXPECT_TRUE(text.Has("same codes: the monitor will not update")) << text.text;

    // A list written but not yet shown: why tells the difference, slot by slot.
    Write(L"Status", L"35|");
    Output changed = Smctl(L"why");
    EXPECT_TRUE(changed.Has("shows another list")) << changed.text;
    EXPECT_TRUE(changed.Has("slot 1001 shows \"Papierstau.\", the list puts \"Paper Mismatch.\"")) << changed.text;
    EXPECT_TRUE(changed.Has("Continue        offered")) << changed.text;
}

// The 48 message keys with short texts, one key left out (or none), and extra lines.
std::wstring MessageFile(const std::wstring& omit, const std::wstring& extra)
{
    std::wstring s = L"[string]\r\n";
    for (int i = 1; i <= 48; i++) {
        WCHAR key[8];
        wsprintfW(key, L"msg%03d", i);
        if (omit != key && extra.find(std::wstring(key) + L"=") == std::wstring::npos)
            s += std::wstring(key) + L"=Line " + std::to_wstring(i) + L".\r\n";
    }
    return s + extra;
}

TEST_F(DevTools, LintVerdicts)
{
    const std::wstring longText =
        L"msg009=The paper is jammed somewhere inside the printer, please open every cover and look very carefully\r\n";
    enum { UTF16, UTF8, RAW, FOLDER };
    struct Case {
        const char* name;
        int form;
        std::wstring file;      // UTF16 and UTF8
        std::string raw;        // RAW
        DWORD exitCode;
        const char* expected;
    } cases[] = {
        { "clean", UTF16, MessageFile(L"", L"codepage=1252\r\n"), "", 0, "0 errors, 0 warnings" },
        { "missing key", UTF16, MessageFile(L"msg017", L""), "", 0,
          "warning: msg017 (code 135) is missing: the built-in default \"Toner low.\" is shown" },
        { "unread key", UTF16, MessageFile(L"", L"msg049=Spare\r\n"), "", 0, "warning: key \"msg049\" is not read" },
        { "unread section", UTF16, MessageFile(L"", L"[other]\r\nx=1\r\n"), "", 0, "warning: section [other] is not read" },
        { "too long for the slot", UTF16, MessageFile(L"", longText), "", 1, "error: msg009 (code 33): " },
        { "unknown code page", UTF16, MessageFile(L"", L"codepage=12345\r\n"), "", 1,
          "error: codepage 12345 (\"12345\") is not a code page this system knows" },
        { "code page by name", UTF16, MessageFile(L"", L"codepage=latin1\r\n"), "", 1,
          "error: codepage \"latin1\" is not a code page number (the program reads 0)" },
        { "no form in the code page", UTF16, MessageFile(L"", L"codepage=1252\r\nmsg009=\x5361\x7eb8.\r\n"), "", 1,
          "error: msg009 (code 33): characters without a form in code page 1252: U+5361 U+7EB8" },
        { "Chinese in its own code page", UTF16, MessageFile(L"", L"codepage=936\r\nmsg009=\x5361\x7eb8.\r\n"), "", 0,
          "0 errors, 0 warnings" },
        { "duplicate key", UTF16, MessageFile(L"", L"msg009=Second\r\n") + L"msg009=Third\r\n", "", 1,
          "error: key \"msg009\" appears twice in [string]" },
        { "duplicate section", UTF16, MessageFile(L"", L"[string]\r\nbtn001=Delete\r\n"), "", 1,
          "error: section [string] appears twice (lines 1 and 50)" },
        { "UTF-8 with non-ASCII", UTF8, MessageFile(L"", L"msg009=\x5361\x7eb8.\r\n"), "", 1,
          "error: UTF-8 without byte-order mark: the profile functions read" },
        { "ASCII", UTF8, MessageFile(L"", L""), "", 0, "warning: ASCII without byte-order mark" },
        { "button text too wide", UTF16, MessageFile(L"", L"btn001=Delete this job and every page of it now\r\n"), "",
          1, "error: btn001 \"Delete this job and every page of it now\" is " },
        { "empty", RAW, L"", "", 1, "error: not a catalogue: the file is empty" },
        { "random bytes", RAW, L"", std::string("\x8f\x00\x13\xfe\x41\x9c\x00\x00\x7f", 9), 1,
          "error: not a catalogue: the file is not text" },
        { "no [string] section", UTF16, L"[other]\r\nmsg009=x\r\n", "", 1, "error: not a catalogue: it has no [string]" },
        { "a folder", FOLDER, L"", "", 2, "is a folder, not a file; name a message file" },
    };
    std::wstring dir = SmTempDir(L"devtools_lint"), path = dir + L"\\smen.ini";
    for (const Case& c : cases) {
        RemoveDirectoryW(path.c_str());
        DeleteFileW(path.c_str());
        if (c.form == UTF16) {
            ASSERT_TRUE(WriteUnicodeIni(path, c.file)) << c.name;
        } else if (c.form == UTF8) {
            std::string u = SmNarrow(c.file);
            ASSERT_TRUE(SmWriteFile(path, u.data(), u.size())) << c.name;
        } else if (c.form == RAW) {
            ASSERT_TRUE(SmWriteFile(path, c.raw.data(), c.raw.size())) << c.name;
        } else {
            ASSERT_TRUE(CreateDirectoryW(path.c_str(), NULL)) << c.name;
        }
        Output out = Smctl(L"lint smen.ini", dir);
        EXPECT_EQ(c.exitCode, out.exitCode) << c.name << "\n" << out.text;
        EXPECT_TRUE(out.Has(c.expected)) << c.name << "\n" << out.text;
        // Not a catalogue: one error, not a warning for every key.
        EXPECT_EQ(std::string(c.name) == "missing key", out.Has("is missing: the built-in")) << c.name << "\n" << out.text;
    }
    RemoveDirectoryW(path.c_str());
    // The built-in texts fit their slots at the scales of today's displays.
    ASSERT_TRUE(WriteUnicodeIni(path, L"[string]\r\ncodepage=1252\r\n"));
    for (int dpi : { 96, 120, 144, 192 }) {
        SmScopedDpi scopedDpi(dpi);
        Output out = Smctl(L"lint \"" + path + L"\"");
        EXPECT_TRUE(out.Has("\n0 errors, 48 warnings")) << dpi << " dpi\n" << out.text;
    }
    // The long text: the words past the slot's last line are named, the first ones are not.
    ASSERT_TRUE(WriteUnicodeIni(path, MessageFile(L"", longText)));
    Output out = Smctl(L"lint \"" + path + L"\"");
    size_t cut = out.text.find(": cut \"");
    ASSERT_NE(std::string::npos, cut) << out.text;
    std::string words = out.text.substr(cut + 7, out.text.find('"', cut + 7) - cut - 7);
    EXPECT_NE(std::string::npos, std::string("very carefully").find(words.substr(words.size() - 14))) << words;
    EXPECT_EQ(std::string::npos, words.find("The paper")) << words;
}

// The black pixels of a 1-bit BMP file written by the program.
long long BlackPixels(const std::wstring& path, int* pcx, int* pcy)
{
    std::vector<BYTE> f = SmReadFile(path);
    if (f.size() < 62)
        return -1;
    const BITMAPFILEHEADER* fh = (const BITMAPFILEHEADER*)f.data();
    const BITMAPINFOHEADER* ih = (const BITMAPINFOHEADER*)(f.data() + sizeof(BITMAPFILEHEADER));
    int cx = ih->biWidth, cy = ih->biHeight < 0 ? -ih->biHeight : ih->biHeight;
    size_t stride = ((size_t)cx + 31) / 32 * 4;
    long long black = 0;
    for (int y = 0; y < cy; y++) {
        const BYTE* row = f.data() + fh->bfOffBits + y * stride;
        for (int x = 0; x < cx; x++)
            black += !(row[x >> 3] & (0x80 >> (x & 7)));
    }
    *pcx = cx;
    *pcy = cy;
    return black;
}

TEST_F(DevTools, WmProofReportsWhatTheJobPrints)
{
    std::wstring dir = SmTempDir(L"devtools_wm");
    std::wstring job = dir + L"\\job.ini", bmp = dir + L"\\wm.bmp", png = dir + L"\\proof.png";
    Output made = Smctl(L"wm-make \"" + job + L"\" --text DRAFT --face \"Liberation Sans\" --size 96 --angle 30 "
                        L"--density 60 --page A5 --table 3 --out \"" + bmp + L"\"");
    ASSERT_EQ(0u, made.exitCode) << made.text;
    Output proof = Smctl(L"wm-proof \"" + job + L"\" --preview \"" + png + L"\"");
    EXPECT_EQ(0u, proof.exitCode) << proof.text;
    EXPECT_TRUE(proof.Has("page            3508 x 4961 pixels")) << proof.text;
    EXPECT_TRUE(proof.Has("face used       \"Liberation Sans\"\r\n")) << proof.text;
    EXPECT_TRUE(proof.Has("missing glyphs  none")) << proof.text;
    EXPECT_TRUE(proof.Has("copies          1 drawn, 0 cut by the page edges")) << proof.text;

    // The screened ink the proof counts is what the program writes for the same job.
    SmRunResult run = SmRun(SmProgramPath(), L"CreateTextBMP \"" + job + L"\"");
    ASSERT_TRUE(run.finished);
    int cx = 0, cy = 0;
    long long black = BlackPixels(bmp, &cx, &cy);
    ASSERT_GT(black, 0);
    unsigned long long kept = 0, ink = 0;
    double tableShare = 0, measured = 0;
    size_t at = proof.text.find("measured        ");
    ASSERT_NE(std::string::npos, at) << proof.text;
    ASSERT_EQ(3, sscanf(proof.text.c_str() + at, "measured %llu of %llu ink pixels stay black: %lf", &kept, &ink, &measured));
    EXPECT_EQ((unsigned long long)black, kept);
    at = proof.text.find("the table keeps ");
    ASSERT_NE(std::string::npos, at);
    ASSERT_EQ(1, sscanf(proof.text.c_str() + at, "the table keeps %lf", &tableShare));
    EXPECT_NEAR(tableShare, measured, 0.05) << proof.text;

    // The preview is a PNG of the page reduced to at most 800 pixels.
    std::vector<BYTE> p = SmReadFile(png);
    ASSERT_GT(p.size(), 24u);
    EXPECT_EQ(0, memcmp(p.data(), "\x89PNG\r\n\x1a\n", 8));
    unsigned w = (p[16] << 24) | (p[17] << 16) | (p[18] << 8) | p[19];
    unsigned h = (p[20] << 24) | (p[21] << 16) | (p[22] << 8) | p[23];
    EXPECT_EQ(0u + (cx + 6) / 7, w);
    EXPECT_EQ(0u + (cy + 6) / 7, h);

    // A face the platform answers to with another font; characters drawn through the font link;
    // a character no font draws (exit code 1 for the first and the last).
    struct { const wchar_t* options; const char* expected; DWORD exitCode; } faults[] = {
        { L"--text DRAFT --face \"No Such Face\"", ": substituted", 1 },
        { L"--text DRAFT --face Arial", "face used       \"Liberation Sans\": substituted (the platform names it \"Arial\")", 1 },
        { L"--text \"\x4e2d DRAFT \x4e2d\x6587\" --face \"Liberation Sans\"",
          "linked glyphs   2: U+4E2D by \"WenQuanYi Micro Hei\" U+6587 by \"WenQuanYi Micro Hei\"", 0 },
        { L"--text \"DRAFT \x2603\" --face \"Liberation Sans\"", "missing glyphs  1: U+2603\r\n", 1 },
    };
    for (const auto& f : faults) {
        ASSERT_EQ(0u, Smctl(L"wm-make \"" + job + L"\" " + f.options + L" --out \"" + bmp + L"\"").exitCode);
        Output o = Smctl(L"wm-proof \"" + job + L"\"");
        EXPECT_TRUE(o.Has(f.expected)) << SmNarrow(f.options) << "\n" << o.text;
        EXPECT_EQ(f.exitCode, o.exitCode) << o.text;
    }
    // Tiled copies run over the page's edges.
    ASSERT_EQ(0u, Smctl(L"wm-make \"" + job + L"\" --text DRAFT --face \"Liberation Sans\" --size 48 "
                        L"--placement tiled --page A5 --out \"" + bmp + L"\"").exitCode);
    Output tiled = Smctl(L"wm-proof \"" + job + L"\"");
    int drawn = 0, cutCopies = 0;
    at = tiled.text.find("copies ");
    ASSERT_NE(std::string::npos, at) << tiled.text;
    ASSERT_EQ(2, sscanf(tiled.text.c_str() + at, "copies %d drawn, %d cut", &drawn, &cutCopies));
    EXPECT_GT(cutCopies, 0) << tiled.text;
    EXPECT_GT(drawn, cutCopies) << tiled.text;
}

TEST_F(DevTools, ReplayPlaysAScenarioAndReportsEachStep)
{
    StartMonitor();
    std::wstring scenario = SmTempDir(L"devtools_replay") + L"\\faults.txt";
    std::string text =
        "# a paper jam, a wrong expectation, then Delete\n"
        "printer MFP\n"
        "jobid 42\n"
        "showqel 1\n"
        "announce 33|5|\n"
        "expect dialog shown\n"
        "expect line 1001 Paper Jam.\n"
        "expect line 1007 Front cover open.\n"
        "expect button continue hidden\n"
        "expect spooler 0x00000008\n"
        "timeout 300\n"
        "expect line 1001 Paper Mismatch.\n"
        "press delete\n"
        "expect dialog none\n"
        "expect job 42 absent\n"
        "expect spooler 0\n"
        "expect monitor running\n";
    ASSERT_TRUE(SmWriteFile(scenario, text.data(), text.size()));
    Output out = Smctl(L"replay \"" + scenario + L"\"");
    EXPECT_EQ(1u, out.exitCode) << out.text;
    EXPECT_TRUE(out.Has("FAIL   12  expect line 1001 Paper Mismatch.: \"Paper Jam.\"")) << out.text;
    EXPECT_TRUE(out.Has("ok      7  expect line 1001 Paper Jam.")) << out.text;
    EXPECT_TRUE(out.Has("ok     15  expect job 42 absent")) << out.text;
    EXPECT_TRUE(out.Has("16 steps, 1 failed")) << out.text;
    // What replay saw is what happened.
    EXPECT_TRUE(m_spooler->Jobs().empty());
    EXPECT_EQ(0u, m_spooler->PrinterStatus(L"MFP"));

    // A malformed step stops the scenario before anything runs.
    std::string bad = "announce 5|\nexpect button maybe\n";
    ASSERT_TRUE(SmWriteFile(scenario, bad.data(), bad.size()));
    Output rejected = Smctl(L"replay \"" + scenario + L"\"");
    EXPECT_EQ(2u, rejected.exitCode);
    EXPECT_TRUE(rejected.Has("line 2: expect button maybe")) << rejected.text;
    EXPECT_EQ(0u, rejected.err.find("smctl: ")) << rejected.err;
}

// Plays a scenario from a file in dir: the output of smctl replay.
Output Play(const std::wstring& dir, const std::string& scenario, bool utf16 = false)
{
    std::wstring path = dir + L"\\scenario.txt";
    if (utf16)
        WriteUnicodeIni(path, std::wstring(scenario.begin(), scenario.end()));     // the scenarios are ASCII
    else
        SmWriteFile(path, scenario.data(), scenario.size());
    return Smctl(L"replay scenario.txt", dir);
}

TEST_F(DevTools, InspectingCommandsLeaveEveryFileAsItWas)
{
    std::wstring dir = SmTempDir(L"devtools_ro");
    ASSERT_EQ(0u, Smctl(L"wm-make job.ini --text DRAFT --face \"Liberation Sans\" --out wm.bmp", dir).exitCode);
    std::string exchange = "[Printer Information]\r\nStatus=33|\xe2\x82\xac|5|\r\nMessage=1027\r\nLastMsg=5\r\nPrinterName=MFP\r\n";
    std::string messages = "[string]\r\nmsg009=Papier\xc3\xa9\r\nmsg009=again\r\n";
    ASSERT_TRUE(SmWriteFile(dir + L"\\smen.ini", messages.data(), messages.size()));
    auto ReadText = [](const std::wstring& path) { std::vector<BYTE> b = SmReadFile(path); return std::string(b.begin(), b.end()); };
    std::string job = ReadText(dir + L"\\job.ini");
    const wchar_t* commands[] = { L"why", L"why --json", L"state", L"dialog", L"lint smen.ini", L"wm-show job.ini",
                                  L"wm-proof job.ini" };
    // An exchange file that is not UTF-16 (the program's start-up would replace it), then none.
    for (bool absent : { false, true }) {
        ASSERT_TRUE(absent ? DeleteFileW(m_ini.c_str()) != FALSE : SmWriteFile(m_ini, exchange.data(), exchange.size()));
        for (const wchar_t* c : commands) {
            Output o = Smctl(c, dir);
            EXPECT_NE(0xFFFFFFFFu, o.exitCode) << SmNarrow(c);
            if (absent)
                EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(m_ini.c_str())) << SmNarrow(c) << " made the file";
            else
                EXPECT_EQ(exchange, ReadText(m_ini)) << SmNarrow(c);
            EXPECT_EQ(messages, ReadText(dir + L"\\smen.ini")) << SmNarrow(c);
            EXPECT_EQ(job, ReadText(dir + L"\\job.ini")) << SmNarrow(c);
        }
    }
}

TEST_F(DevTools, ReplayWaitsForTheMonitorAndRefusesBadScenarios)
{
    std::wstring dir = SmTempDir(L"devtools_replay_timing");
    DWORD start = GetTickCount();
    Output none = Play(dir, "announce 33|\nexpect dialog shown\n");
    EXPECT_EQ(2u, none.exitCode);
    EXPECT_EQ(0u, none.err.find("smctl: no monitor is running")) << none.text;
    EXPECT_LT(GetTickCount() - start, 5000u);

    StartMonitor();
    struct { const char* name; const char* scenario; bool utf16; DWORD exitCode; const char* expected; } cases[] = {
        { "contradiction", "showqel 1\nannounce 33|\nexpect line 1001 Paper Jam.\nannounce 35|\ntimeout 300\n"
          "expect line 1001 Paper Jam.\nexpect line 1001 Paper Mismatch.\n", false, 1,
          "FAIL    6  expect line 1001 Paper Jam.: \"Paper Mismatch.\"\r\nok      7" },
        { "UTF-16", "announce 33|\nexpect line 1001 Paper Jam.\n", true, 0, "2 steps, 0 failed" },
        { "no octal", "expect job 042 present\n", false, 0, "1 steps, 0 failed" },
        { "reset answered", "reset\nexpect dialog none\n", false, 0, "2 steps, 0 failed" },
        { "empty", "# nothing\n\n", false, 2, "holds no steps; " },
        { "negative wait", "wait -1\n", false, 2, "wait needs milliseconds from 0 to 600000" },
        { "endless timeout", "timeout 99999999999\n", false, 2, "timeout needs milliseconds from 0 to 600000" },
        { "showqel 2", "showqel 2\n", false, 2, "showqel 0 or showqel 1" },
    };
    for (const auto& c : cases) {
        Output o = Play(dir, c.scenario, c.utf16);
        EXPECT_EQ(c.exitCode, o.exitCode) << c.name << "\n" << o.text;
        EXPECT_TRUE(o.Has(c.expected)) << c.name << "\n" << o.text;
    }
}

// The twelve texts of "dialogAfter" in why's JSON (all ASCII here).
std::vector<std::string> DialogAfter(const std::string& json)
{
    std::vector<std::string> texts;
    size_t at = json.find("\"dialogAfter\":[");
    for (at = at == std::string::npos ? at : at + 15; at < json.size() && json[at] == '"';) {
        std::string t;
        for (at++; at < json.size() && json[at] != '"'; at++)
            t += json[at] == '\\' ? json[++at] : json[at];
        texts.push_back(t);
        at += json[at + 1] == ',' ? 2 : 1;
    }
    return texts;
}

TEST_F(DevTools, WhyPredictsWhatTheDialogThenShows)
{
    StartMonitor();
    std::wstring dir = SmTempDir(L"devtools_verdicts");
    struct { const char* name; const char* setup; const wchar_t* status; bool updates; } cases[] = {
        { "another list", "showqel 1\nannounce 33|\n", L"35|", true },
        { "store job renamed again: codes compared", "showqel 1\nannounce StoreName|A|277|\n", L"StoreName|B|277|", false },
        { "ShowQelSM 0", "showqel 1\nannounce 33|\nshowqel 0\n", L"35|", false },
        { "a lone 277 keeps the name", "showqel 1\nannounce StoreName|A|277|\n", L"5|277|", true },
        { "job action taken (job 42 queued)", "showqel 1\nannounce 33|\n", L"117|", false },
    };
    int n = 0;
    for (const auto& c : cases) {
        ASSERT_EQ(0u, Play(dir, std::string("reset\n") + c.setup).exitCode) << c.name;
        Write(L"Status", c.status);
        Write(L"LastMsg", std::to_wstring(5000 + 10 * n++));
        Write(L"Message", L"0");
        Output why = Smctl(L"why --json");
        std::vector<std::string> after = DialogAfter(why.text);
        ASSERT_EQ(12u, after.size()) << c.name << "\n" << why.text;
        EXPECT_TRUE(why.Has(c.updates ? "\"updatesDialog\":true" : "\"updatesDialog\":false")) << c.name << why.text;
        ASSERT_EQ(0u, Play(dir, "message 1027\n").exitCode) << c.name;
        HWND hDlg = SmWaitForWindow(L"#32770", kTitle, 2000);
        ASSERT_NE((HWND)NULL, hDlg) << c.name;
        for (int i = 0; i < 12; i++)
            EXPECT_EQ(after[i], SmNarrow(DialogText(hDlg, 1001 + i))) << c.name << ", slot " << 1001 + i;
    }
}

TEST_F(DevTools, HelpUsageErrorsAndExitCodes)
{
    // Text out keeps every character (the rows with Chinese and the euro sign).
    ASSERT_TRUE(WriteUnicodeIni(MsgIniPath(), L"[string]\r\nmsg009=\x5361\x7eb8.\r\n\x952e=1\r\n"));
    Write(L"Status", L"33|\x20ac|5|");
    std::wstring dir = SmTempDir(L"devtools_cli");
    struct { const wchar_t* args; DWORD exitCode; const char* out; const char* err; } cases[] = {
        { L"why", 0, u8"msg009 \"\u5361\u7eb8.\" from C:\\windows\\smen.ini", "" },
        { L"why", 0, u8"Status          \"33|\u20ac|5|\"\r\n", "" },
        { L"state", 0, u8"Status        33|\u20ac|5|\r\n", "" },
        { L"lint", 1, u8"warning: key \"\u952e\" is not read by the program", "" },
        { L"wm-make text.ini --text \"\x4e2d\x6587 \x20ac\" --out t.bmp", 0, "", "" },
        { L"wm-show text.ini", 0, u8"wszText         = \"\u4e2d\u6587 \u20ac\"\r\n", "" },
        { L"help", 0, "  replay     plays a fault scenario", "" },
        { L"help wm-proof", 0, "usage: smctl wm-proof <job.ini> [--preview out.png]\r\n", "" },
        { L"replay --help", 0, "usage: smctl replay", "" },
        { L"state -h", 0, "usage: smctl state [class]", "" },
        { L"--version", 0, "smctl 1.", "" },
        { L"", 2, "usage: smctl <command>", "" },
        { L"frobnicate", 2, "", "unknown command \"frobnicate\"; " },
        { L"help frobnicate", 2, "", "no command \"frobnicate\"; " },
        { L"jobid 99999999999", 2, "", "JobID \"99999999999\" is not a whole number from 0 to 2147483647; " },
        { L"stress 0", 2, "", "count \"0\" is not a whole number from 1 to 1000000" },
        { L"announce 33| 1x", 2, "", "lastmsg \"1x\"" },
        { L"wm-make job.ini --size 70000 --out wm.bmp", 2, "", "--size \"70000\" is not a whole number from 0 to 65535" },
        { L"wm-make --face \"Liberation Sans\" --size 48 job.ini --page A5 --out wm.bmp", 0, "", "" },
        { L"wm-show job.ini", 0, "wmFileName      = \"", "" },
        { L"wm-proof --preview p.png job.ini", 0, "preview         ", "" },
        { L"wm-show nosuch.ini", 2, "", "no \"Param\" value in section \"Job Information\"" },
        { L"wm-sample s.bmp 3 37 5", 2, "", "bits per pixel: 1, 4, 8, 16 or 24" },
        { L"wm-sample s.bmp 8 37 5", 0, "", "" },
        { L"dialog --wait -1", 2, "", "--wait \"-1\"" },
        { L"dialog --press maybe", 2, "", "--press takes delete or continue" },
        { L"dialog", 1, "", "no status dialog is shown; " },
        { L"exit", 1, "", "no monitor of class StatusMonitor is running; " },
        { L"lint nosuch.ini", 2, "", "nosuch.ini is absent; " },
        { L"why extra", 2, "", "no arguments besides --json; " },
    };
    for (const auto& c : cases) {
        Output o = Smctl(c.args, dir);
        EXPECT_EQ(c.exitCode, o.exitCode) << SmNarrow(c.args) << "\n" << o.text;
        EXPECT_TRUE(o.Has(c.out)) << SmNarrow(c.args) << "\n" << o.text;
        EXPECT_NE(std::string::npos, o.err.find(c.err)) << SmNarrow(c.args) << "\n" << o.err;
        // Every error line: "smctl: <what went wrong>; <what to do>".
        for (size_t at = 0, end; (end = o.err.find('\n', at)) != std::string::npos; at = end + 1)
            EXPECT_TRUE(o.err.compare(at, 7, "smctl: ") == 0 && o.err.find("; ", at) < end) << o.err;
    }
    // Relative paths are the current folder's, also the bitmap the job names.
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((dir + L"\\s.bmp").c_str()));
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((dir + L"\\p.png").c_str()));
    Output shown = Smctl(L"wm-show job.ini", dir);
    std::wstring bmp = dir + (dir.back() == L'\\' ? L"" : L"\\") + L"wm.bmp";
    EXPECT_TRUE(shown.Has(SmNarrow(L"wmFileName      = \"" + bmp + L"\""))) << shown.text;
}

} // namespace
