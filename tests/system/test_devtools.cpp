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
    std::string text;
    bool Has(const std::string& s) const { return text.find(s) != std::string::npos; }
};

// Runs smctl with its standard output in a file, to its end.
Output Smctl(const std::wstring& args)
{
    Output out;
    std::wstring file = SmTempDir(L"devtools_out") + L"\\stdout.txt";
    SECURITY_ATTRIBUTES sa = { sizeof(sa), NULL, TRUE };
    HANDLE hOut = CreateFileW(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS, 0, NULL);
    if (hOut == INVALID_HANDLE_VALUE)
        return out;
    STARTUPINFOW si = { sizeof(si) };
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = hOut;
    si.hStdError = hOut;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION pi = {};
    std::wstring cmd = L"\"" + SmTestDir() + L"smctl.exe\" " + args;
    std::vector<wchar_t> buf(cmd.begin(), cmd.end());
    buf.push_back(0);
    if (CreateProcessW(NULL, buf.data(), NULL, NULL, TRUE, 0, NULL, NULL, &si, &pi)) {
        if (WaitForSingleObject(pi.hProcess, 60000) == WAIT_OBJECT_0)
            GetExitCodeProcess(pi.hProcess, &out.exitCode);
        else
            TerminateProcess(pi.hProcess, 99);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }
    CloseHandle(hOut);
    std::vector<BYTE> bytes = SmReadFile(file);
    out.text.assign(bytes.begin(), bytes.end());
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
    EXPECT_TRUE(json.Has("\"sameList\":true")) << json.text;
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
    EXPECT_TRUE(text.Has("same list: the monitor will not update")) << text.text;

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
    struct Case {
        const char* name;
        std::wstring file;
        DWORD exitCode;
        const char* expected;
    } cases[] = {
        { "clean", MessageFile(L"", L"codepage=1252\r\n"), 0, "0 errors, 0 warnings" },
        { "missing key", MessageFile(L"msg017", L""), 1,
          "warning: msg017 (code 135) is missing: the built-in default \"Toner low.\" is shown" },
        { "unread key", MessageFile(L"", L"msg049=Spare\r\n"), 1, "warning: key \"msg049\" is not read by the program" },
        { "unread section", MessageFile(L"", L"[other]\r\nx=1\r\n"), 1, "warning: section [other] is not read" },
        { "too long for the slot", MessageFile(L"", longText), 2, "error: msg009 (code 33): " },
        { "unknown code page", MessageFile(L"", L"codepage=12345\r\n"), 2,
          "error: codepage 12345 (\"12345\") is not a code page this system knows" },
        { "no form in the code page", MessageFile(L"", L"codepage=1252\r\nmsg009=\x5361\x7eb8.\r\n"), 2,
          "error: msg009 (code 33): characters without a form in code page 1252: U+5361 U+7EB8" },
        { "Chinese in its own code page", MessageFile(L"", L"codepage=936\r\nmsg009=\x5361\x7eb8.\r\n"), 0,
          "0 errors, 0 warnings" },
    };
    std::wstring path = SmTempDir(L"devtools_lint") + L"\\smen.ini";
    for (const Case& c : cases) {
        ASSERT_TRUE(WriteUnicodeIni(path, c.file)) << c.name;
        Output out = Smctl(L"lint \"" + path + L"\"");
        EXPECT_EQ(c.exitCode, out.exitCode) << c.name << "\n" << out.text;
        EXPECT_TRUE(out.Has(c.expected)) << c.name << "\n" << out.text;
    }
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
    EXPECT_TRUE(proof.Has("face used       \"Liberation Sans\" (font family \"Liberation Sans\")\r\n")) << proof.text;
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

    // A face that is not there, and a character the face has no glyph for: exit code 1.
    struct { const wchar_t* options; const char* expected; } faults[] = {
        { L"--text DRAFT --face \"No Such Face\"", ": substituted" },
        { L"--text \"\x4e2d DRAFT \x4e2d\x6587\" --face \"Liberation Sans\"", "missing glyphs  2: U+4E2D U+6587\r\n" },
    };
    for (const auto& f : faults) {
        ASSERT_EQ(0u, Smctl(L"wm-make \"" + job + L"\" " + f.options + L" --out \"" + bmp + L"\"").exitCode);
        Output o = Smctl(L"wm-proof \"" + job + L"\"");
        EXPECT_TRUE(o.Has(f.expected)) << SmNarrow(f.options) << "\n" << o.text;
        EXPECT_EQ(1u, o.exitCode) << o.text;
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
}

} // namespace
