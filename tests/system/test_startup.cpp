// The real program's start-up and dispatch, run as a child under a debugger loop: debugger
// lines, exit codes, the Run value, single instance, the operator trace switch, 9x-class mode.
#include <gtest/gtest.h>
#include "smtest.h"
#include "spooler_state.h"
#include <string>

namespace {

const wchar_t kRunKey[] = L"software\\microsoft\\windows\\currentversion\\run";
const wchar_t kSettingsKey[] = L"software\\ZorvekData\\Printer\\StatusMonitor";
const wchar_t kMainTitle[] = L"MFP Status Monitor";

// Every test leaves no monitor and no Run value behind.
class StartupTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        for (const wchar_t* cls : { L"StatusMonitor", L"SmCopyA", L"SmCopyB" }) {
            if (HWND h = FindWindowW(cls, NULL)) {
                PostMessageW(h, WM_QUIT, 0, 0);
                SmWaitForNoWindow(cls, NULL, 5000);
            }
            SmRegDeleteValue(HKEY_LOCAL_MACHINE, kRunKey, cls);
        }
        SetEnvironmentVariableW(L"SM_TRACE", NULL);
    }
};

BOOL CALLBACK CountClassWindows(HWND hwnd, LPARAM lParam)
{
    WCHAR cls[64] = L"";
    GetClassNameW(hwnd, cls, ARRAYSIZE(cls));
    if (wcscmp(cls, L"StatusMonitor") == 0)
        ++*reinterpret_cast<int*>(lParam);
    return TRUE;
}

}  // namespace

TEST_F(StartupTest, NoArgumentsOnlyEchoes)
{
    SmRunResult r = SmRun(SmProgramPath(), L"");
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(1u, r.exitCode);
    ASSERT_GE(r.lines.size(), 3u);
    EXPECT_EQ("1", r.lines[0]);
    EXPECT_EQ(0u, r.lines[1].find("argv[0] = "));
    EXPECT_NE(std::string::npos, r.lines[1].find("StatusMonitor.exe"));
    EXPECT_EQ(r.lines[1].substr(10), r.lines[2]);    // the dispatcher's verbatim echo
    EXPECT_EQ(3u, r.lines.size());
    EXPECT_FALSE(SmRegValueExists(HKEY_LOCAL_MACHINE, kRunKey, L"StatusMonitor"));
    EXPECT_EQ(NULL, FindWindowW(L"StatusMonitor", NULL));
}

TEST_F(StartupTest, UnknownAndWrongCaseWordsDoNothing)
{
    for (const wchar_t* word : { L"Install", L"preheat", L"INSTALL", L"createtextbmp", L"bogus", L"\"\"" }) {
        SmRunResult r = SmRun(SmProgramPath(), std::wstring(word) + L" extra");
        ASSERT_TRUE(r.finished);
        EXPECT_EQ(1u, r.exitCode) << SmNarrow(word);
        EXPECT_EQ("3", r.lines[0]);
        for (const char* label : { "SM_PARAM_INSTALL", "SM_PARAM_PREHEAT", "SM_PARAM_BMP" })
            EXPECT_FALSE(SmContains(r.lines, label)) << SmNarrow(word);
        EXPECT_TRUE(SmContains(r.lines, "argv[2] = extra"));
    }
    EXPECT_FALSE(SmRegValueExists(HKEY_LOCAL_MACHINE, kRunKey, L"StatusMonitor"));
}

TEST_F(StartupTest, InstallRunsHiddenMonitorAndUninstallEndsIt)
{
    SmChild monitor;
    ASSERT_TRUE(monitor.Start(SmProgramPath(), L"install"));
    HWND hWnd = SmWaitForWindow(L"StatusMonitor", kMainTitle, 10000);
    ASSERT_NE((HWND)NULL, hWnd);
    EXPECT_TRUE(monitor.WaitForLine("SM_PARAM_INSTALL", 1000));

    // Hidden zero-size popup with a trimmed system menu.
    EXPECT_FALSE(IsWindowVisible(hWnd));
    LONG style = GetWindowLongW(hWnd, GWL_STYLE);
    EXPECT_TRUE(style & WS_POPUP);
    RECT rc;
    GetWindowRect(hWnd, &rc);
    EXPECT_EQ(0, rc.right - rc.left);
    EXPECT_EQ(0, rc.bottom - rc.top);

    // The Run value: the quoted path when it holds a space, stored with its terminator.
    std::vector<BYTE> data;
    DWORD type = 0;
    ASSERT_TRUE(SmRegReadString(HKEY_LOCAL_MACHINE, kRunKey, L"StatusMonitor", &data, &type));
    EXPECT_EQ((DWORD)REG_SZ, type);
    std::wstring path = SmProgramPath();
    std::wstring expected = path.find(L' ') != std::wstring::npos ? L"\"" + path + L"\"" : path;
    ASSERT_EQ((expected.size() + 1) * sizeof(WCHAR), data.size());
    EXPECT_EQ(0, memcmp(expected.c_str(), data.data(), data.size()));

    // A second "install" rewrites the value and leaves the running monitor alone.
    SmRegDeleteValue(HKEY_LOCAL_MACHINE, kRunKey, L"StatusMonitor");
    SmRunResult second = SmRun(SmProgramPath(), L"install");
    ASSERT_TRUE(second.finished);
    EXPECT_EQ(0u, second.exitCode);
    EXPECT_TRUE(SmRegValueExists(HKEY_LOCAL_MACHINE, kRunKey, L"StatusMonitor"));
    EXPECT_FALSE(monitor.Exited());
    EXPECT_EQ(hWnd, FindWindowW(L"StatusMonitor", kMainTitle));

    SmRunResult un = SmRun(SmProgramPath(), L"uninstall");
    ASSERT_TRUE(un.finished);
    EXPECT_EQ(1u, un.exitCode);
    EXPECT_TRUE(SmContains(un.lines, "SM_PARAM_UNINSTALL"));
    ASSERT_TRUE(monitor.WaitExit(10000));
    EXPECT_EQ(0u, monitor.ExitCode());
    EXPECT_FALSE(SmRegValueExists(HKEY_LOCAL_MACHINE, kRunKey, L"StatusMonitor"));
}

TEST_F(StartupTest, UninstallWithoutMonitorDeletesRunValue)
{
    HKEY h = NULL;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRunKey, 0, KEY_SET_VALUE, &h));
    RegSetValueExW(h, L"StatusMonitor", 0, REG_SZ, (const BYTE*)L"x", 4);
    RegCloseKey(h);
    SmRunResult r = SmRun(SmProgramPath(), L"uninstall");
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(1u, r.exitCode);
    EXPECT_FALSE(SmRegValueExists(HKEY_LOCAL_MACHINE, kRunKey, L"StatusMonitor"));
}

TEST_F(StartupTest, CopiesUnderOtherNamesRunTheirOwnMonitors)
{
    std::wstring a = SmCopyProgram(L"SmCopyA");
    std::wstring b = SmCopyProgram(L"SmCopyB");
    SmChild ma, mb;
    ASSERT_TRUE(ma.Start(a, L"install"));
    ASSERT_TRUE(mb.Start(b, L"install"));
    EXPECT_NE((HWND)NULL, SmWaitForWindow(L"SmCopyA", kMainTitle, 10000));
    EXPECT_NE((HWND)NULL, SmWaitForWindow(L"SmCopyB", kMainTitle, 10000));
    EXPECT_TRUE(SmRegValueExists(HKEY_LOCAL_MACHINE, kRunKey, L"SmCopyA"));
    EXPECT_TRUE(SmRegValueExists(HKEY_LOCAL_MACHINE, kRunKey, L"SmCopyB"));
    SmRun(a, L"uninstall");
    ASSERT_TRUE(ma.WaitExit(10000));
    EXPECT_FALSE(mb.Exited());
    SmRun(b, L"uninstall");
    ASSERT_TRUE(mb.WaitExit(10000));
    DeleteFileW(a.c_str());
    DeleteFileW(b.c_str());
}

// Of two "install" started together, exactly one becomes the monitor; the other ends as when a
// monitor already runs.
TEST_F(StartupTest, TwoInstallsStartedTogetherMakeOneMonitor)
{
    SetEnvironmentVariableW(L"SM_TRACE", L"threshold=1");
    SmChild a, b;
    ASSERT_TRUE(a.Start(SmProgramPath(), L"install"));
    ASSERT_TRUE(b.Start(SmProgramPath(), L"install"));
    ASSERT_NE((HWND)NULL, SmWaitForWindow(L"StatusMonitor", kMainTitle, 10000));
    DWORD start = GetTickCount();
    while (!a.Exited() && !b.Exited() && GetTickCount() - start < 10000)
        Sleep(50);
    SmChild& ended = a.Exited() ? a : b;
    SmChild& resident = a.Exited() ? b : a;
    ASSERT_TRUE(ended.Exited()) << "both stayed resident";
    EXPECT_EQ(0u, ended.ExitCode());
    EXPECT_TRUE(SmContains(ended.Lines(), "SM executed"));
    int windows = 0;
    EnumWindows(CountClassWindows, reinterpret_cast<LPARAM>(&windows));
    EXPECT_EQ(1, windows);
    EXPECT_FALSE(resident.Exited());
    SmRun(SmProgramPath(), L"uninstall");
    EXPECT_TRUE(resident.WaitExit(10000));
}

// An "uninstall" arriving while an "install" starts ends that monitor (or came first and left
// the later one resident with its Run value): never a monitor without its Run value.
TEST_F(StartupTest, UninstallDuringStartUpEndsTheStartingMonitor)
{
    for (DWORD msDelay : { 0u, 50u, 100u, 150u, 300u }) {
        SCOPED_TRACE(msDelay);
        SmChild install;
        ASSERT_TRUE(install.Start(SmProgramPath(), L"install"));
        Sleep(msDelay);
        EXPECT_EQ(1u, SmRun(SmProgramPath(), L"uninstall").exitCode);
        bool ended = install.WaitExit(5000);
        EXPECT_EQ(ended, !SmRegValueExists(HKEY_LOCAL_MACHINE, kRunKey, L"StatusMonitor"));
        EXPECT_EQ(ended, FindWindowW(L"StatusMonitor", NULL) == NULL);
        TearDown();
    }
}

// A start held past the lock's 30 s wait: the next "install" ends instead of becoming a monitor.
TEST_F(StartupTest, InstallThatCannotTakeTheStartLockEnds)
{
    HANDLE hLock = CreateMutexW(NULL, TRUE, L"SM_Start_StatusMonitor");
    SetEnvironmentVariableW(L"SM_TRACE", L"threshold=1");
    SmRunResult r = SmRun(SmProgramPath(), L"install", 40000);
    CloseHandle(hLock);
    EXPECT_EQ(0u, r.exitCode);
    EXPECT_TRUE(SmContains(r.lines, "start lock not taken"));
    EXPECT_EQ((HWND)NULL, FindWindowW(L"StatusMonitor", NULL));
    EXPECT_FALSE(SmRegValueExists(HKEY_LOCAL_MACHINE, kRunKey, L"StatusMonitor"));
}

// An operand longer than its 259-character slot would reach a printer or file by a cut name:
// the command does nothing at all and says why in the trace.
TEST_F(StartupTest, OperandsThatDoNotFitTheirSlotAreRefused)
{
    SmSpooler sp(L"startup_cut");
    const std::wstring p259(259, L'P');
    sp.AddTestPrinter(p259, L"USB001");
    const std::wstring cut = L"\"" + p259 + L"TAIL\"";
    static const struct { const wchar_t* before; const wchar_t* after; const char* refusal; } cases[] = {
        { L"security 2 ", L" 1033", "operand 3 too long, command refused" },
        { L"accounting ", L" 1033", "operand 2 too long, command refused" },
        { L"PREHEAT ", L"", "operand 2 too long, command refused" },
        { L"CreateTextBMP ", L"", "operand 2 too long, command refused" },
    };
    for (const auto& c : cases) {
        std::wstring log = SmTempDir(L"startup_cut") + L"sm.log";
        SetEnvironmentVariableW(L"SM_TRACE", (L"threshold=4;path=" + log).c_str());
        SmRunResult r = SmRun(SmProgramPath(), c.before + cut + c.after, 8000);
        SetEnvironmentVariableW(L"SM_TRACE", NULL);
        ASSERT_TRUE(r.finished) << SmNarrow(c.before) << "showed a dialog";
        EXPECT_EQ(1u, r.exitCode) << SmNarrow(c.before);
        EXPECT_TRUE(sp.Calls().empty()) << SmNarrow(c.before) << SmDescribeCalls(sp);
        EXPECT_TRUE(SmContains(SmSplitLines(SmReadFile(log)), c.refusal)) << SmNarrow(c.before);
    }
    // 259 characters fit: the same printer is then the one named.
    SmRunResult r = SmRun(SmProgramPath(), L"PREHEAT " + p259, 8000);
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(1u, sp.RawJobs().size()) << SmDescribeCalls(sp);
}

TEST_F(StartupTest, SettingsCommandsStoreDwords)
{
    SmRegDeleteTree(HKEY_LOCAL_MACHINE, L"software\\ZorvekData");
    static const struct { const wchar_t* args; const char* label; const wchar_t* value; DWORD expected; } cases[] = {
        { L"SetATM 1", "SM_PARAM_ATM_SET", L"AtmMode", 1 },
        { L"SetATM", "SM_PARAM_ATM_SET", L"AtmMode", 0 },
        { L"charset 2052", "SM_PARAM_LANGUAGE", L"Language", 2052 },
        { L"charset", "SM_PARAM_LANGUAGE", L"Language", 0 },
        { L"SetATM -1", "SM_PARAM_ATM_SET", L"AtmMode", 0xFFFFFFFF },
    };
    for (const auto& c : cases) {
        SmRunResult r = SmRun(SmProgramPath(), c.args);
        ASSERT_TRUE(r.finished);
        EXPECT_EQ(1u, r.exitCode);
        EXPECT_TRUE(SmContains(r.lines, c.label));
        DWORD value = 12345;
        EXPECT_TRUE(SmRegReadDword(HKEY_LOCAL_MACHINE, kSettingsKey, c.value, &value)) << SmNarrow(c.args);
        EXPECT_EQ(c.expected, value) << SmNarrow(c.args);
    }
    SmRegDeleteTree(HKEY_LOCAL_MACHINE, L"software\\ZorvekData");
}

TEST_F(StartupTest, CredentialCommandLinesAndLanguageIndex)
{
    SmRunResult r = SmRun(SmProgramPath(), L"security 3 \"Office Printer\" 1033");
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(1u, r.exitCode);
    int at = SmIndexOf(r.lines, "SECURITY_DIALOG");
    ASSERT_GE(at, 0);
    std::vector<std::string> expected = { "SECURITY_DIALOG", "security, g_SecurityType is 3",
        "security, printer is Office Printer", "CountryVal = 1033", "index = 0", "security, g_Language is 1033" };
    ASSERT_LE(at + expected.size(), r.lines.size());
    EXPECT_EQ(expected, std::vector<std::string>(r.lines.begin() + at, r.lines.begin() + at + expected.size()));
}

TEST_F(StartupTest, ManyAndLongArgumentsAreCut)
{
    std::wstring args;
    for (int i = 1; i < 60; i++)
        args += L" a" + std::to_wstring(i);
    args = L"SetATM " + std::wstring(400, L'7') + args;
    SmRunResult r = SmRun(SmProgramPath(), args);
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(1u, r.exitCode);
    EXPECT_TRUE(SmContains(r.lines, "argv[61] = a59"));      // the start-up echo shows every argument
    EXPECT_EQ(0, SmIndexOf(r.lines, "62"));
    EXPECT_GE(SmIndexOf(r.lines, "a47"), 0);                  // the dispatcher keeps 50 slots
    EXPECT_LT(SmIndexOf(r.lines, "a48"), 0);
    EXPECT_GE(SmIndexOf(r.lines, std::string(400, '7')), 0);  // the start-up echo is not cut
    EXPECT_TRUE(SmContains(r.lines, "SM_PARAM_ATM_SET"));
}

TEST_F(StartupTest, OperatorSwitchWritesTraceFile)
{
    std::wstring log = SmTempDir(L"optrace") + L"sm.log";
    SetEnvironmentVariableW(L"SM_TRACE", (L"threshold=1;channel=2;switch=1;path=" + log + L";prefix=SM|").c_str());
    SmRunResult r = SmRun(SmProgramPath(), L"SetATM 5");
    SetEnvironmentVariableW(L"SM_TRACE", NULL);
    ASSERT_TRUE(r.finished);
    std::vector<std::string> lines = SmSplitLines(SmReadFile(log));
    ASSERT_FALSE(lines.empty());

    // Before WinMain's entry line: the exchange file's path, resolved first.
    int in = SmIndexOf(lines, "SM|WinMain in, 2");
    ASSERT_GT(in, 0);
    EXPECT_TRUE(SmContains(std::vector<std::string>(lines.begin(), lines.begin() + in), "[MISC_GetPathName]::pathname = "));
    std::string docs = SmNarrow(SmSharedDocuments());
    EXPECT_EQ(in + 1, SmIndexOf(lines, "SM|[WinMain]::FieldName = StatusMonitor"));
    EXPECT_GT(SmIndexOf(lines, "++SM|SM_DispatchCommand in, 4"), in);
    EXPECT_GT(SmIndexOf(lines, "++++SM|SM_DispatchCommand::OnOff = 5"), in);
    EXPECT_TRUE(SmContains(lines, "SM|[MISC_SetRegValue]::value = 5"));
    EXPECT_TRUE(SmContains(lines, "SM|[MISC_SetRegValue]::Success"));
    EXPECT_EQ("SM|WinMain out", lines.back());
    // The debugger gets the same lines, and a lone space after each "out" line.
    EXPECT_GE(SmIndexOf(r.lines, "SM|WinMain in, 2"), 0);
    int out = SmIndexOf(r.lines, "SM|WinMain out");
    ASSERT_GE(out, 0);
    ASSERT_LT(out + 1, (int)r.lines.size());
    EXPECT_EQ(" ", r.lines[out + 1]);
    SmRegDeleteTree(HKEY_LOCAL_MACHINE, L"software\\ZorvekData");
}

TEST_F(StartupTest, TraceThresholdFourKeepsErrorsAndTags)
{
    std::wstring log = SmTempDir(L"optrace4") + L"sm.log";
    SetEnvironmentVariableW(L"SM_TRACE", (L"threshold=4;path=" + log).c_str());
    SmRunResult r = SmRun(SmProgramPath(), L"SetATM 5");
    SetEnvironmentVariableW(L"SM_TRACE", NULL);
    ASSERT_TRUE(r.finished);
    std::vector<std::string> lines = SmSplitLines(SmReadFile(log));
    EXPECT_FALSE(SmContains(lines, " in, "));
    EXPECT_FALSE(SmContains(lines, "OnOff"));
    EXPECT_TRUE(SmContains(lines, "[MISC_SetRegValue]::Success"));
    SmRegDeleteTree(HKEY_LOCAL_MACHINE, L"software\\ZorvekData");
}
