// The running monitor, started with "install" and driven as the printer driver would, with
// smctl writing the exchange file; the test-double spooler's log shows what reached the spooler.
#include <gtest/gtest.h>
#include <windows.h>
#include <winspool.h>
#include <algorithm>
#include <memory>
#include <string>
#include <vector>
#include "smtest.h"
#include "spooler_state.h"

namespace {

const wchar_t kRunKey[] = L"software\\microsoft\\windows\\currentversion\\run";
const wchar_t kClass[] = L"StatusMonitor";
const wchar_t kSection[] = L"Printer Information";
const UINT kWmSmExit = WM_USER + 2;
const UINT kWmSmPStatus = WM_USER + 3;
const UINT kWmLmAlive = WM_USER + 4;

std::wstring Smctl()
{
    return SmTestDir() + L"smctl.exe";
}

class ScopedEnv {
public:
    ScopedEnv(const wchar_t* name, const wchar_t* value) : m_name(name) { SetEnvironmentVariableW(name, value); }
    ~ScopedEnv() { SetEnvironmentVariableW(m_name, NULL); }

private:
    const wchar_t* m_name;
};

class ScopedAppVersion {
public:
    ScopedAppVersion(const std::wstring& exe, const std::wstring& version) : m_exe(exe)
    {
        SmSetAppVersion(exe, version);
    }
    ~ScopedAppVersion() { SmSetAppVersion(m_exe, L""); }

private:
    std::wstring m_exe;
};

class MonitorSystem : public ::testing::Test {
protected:
    void SetUp() override
    {
        const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = info->name();
        m_spooler.reset(new SmSpooler(L"monitor_" + std::wstring(name.begin(), name.end())));
        Sp().AddTestPrinter(L"MFP", L"USB001");
        Sp().AddTestJob(L"MFP", 42, L"Quarterly report");
        m_trace.reset(new ScopedEnv(L"SM_TRACE", L"threshold=1"));
        FreshExchangeFile(SmStatusIniPath());
        // No status dialog in these tests unless one asks for it: they watch the spooler.
        ASSERT_EQ(0u, Ctl(L"showqel 0"));
        ASSERT_EQ(0u, Ctl(L"printer MFP"));
    }

    void TearDown() override
    {
        StopMonitor();
        SmRegDeleteValue(HKEY_LOCAL_MACHINE, kRunKey, kClass);
        FreshExchangeFile(SmStatusIniPath());     // no "ShowQelSM" 0 or "Message" left for later tests
        m_trace.reset();
        m_spooler.reset();
    }

    static void FreshExchangeFile(const std::wstring& path)
    {
        static const BYTE bom[] = { 0xFF, 0xFE };
        SmWriteFile(path, bom, sizeof(bom));
    }

    SmSpooler& Sp() { return *m_spooler; }

    static DWORD Ctl(const std::wstring& args)
    {
        SmRunResult r = SmRun(Smctl(), args, 30000);
        return r.finished ? r.exitCode : 0xFFFFFFFF;
    }

    void StartMonitor(const std::wstring& exe = SmProgramPath(), const wchar_t* cls = kClass)
    {
        m_monitorClass = cls;
        m_monitor.reset(new SmChild);
        ASSERT_TRUE(m_monitor->Start(exe, L"install"));
        ASSERT_NE((HWND)NULL, SmWaitForWindow(cls, NULL, 10000));
        ASSERT_TRUE(m_monitor->WaitForLine("WndProc: WM_CREATE", 5000));
    }

    void StopMonitor()
    {
        if (!m_monitor)
            return;
        if (!m_monitor->Exited()) {
            if (HWND h = FindWindowW(m_monitorClass.c_str(), NULL))
                PostMessageW(h, kWmSmExit, 0, 0);
            if (!m_monitor->WaitExit(5000))
                m_monitor->Kill();
        }
        m_monitor->WaitExit(5000);
        SmRegDeleteValue(HKEY_LOCAL_MACHINE, kRunKey, m_monitorClass);
        m_monitor.reset();
    }

    int Count(const char* text) const { return SmCount(m_monitor->Lines(), text); }

    // Waits until the monitor's debugger output holds at least n lines containing text.
    bool WaitCount(const char* text, int n, DWORD msTimeout = 5000) const
    {
        DWORD start = GetTickCount();
        while (Count(text) < n) {
            if (GetTickCount() - start >= msTimeout || m_monitor->Exited())
                return Count(text) >= n;
            Sleep(20);
        }
        return true;
    }

    // Announces a list and waits until the monitor has given its verdict on it and finished that
    // tick's work (the next poll has begun).
    void AnnounceAndWait(const std::wstring& list, const char* verdict)
    {
        int before = Count(verdict);
        ASSERT_EQ(0u, Ctl(L"announce \"" + list + L"\""));
        ASSERT_TRUE(WaitCount(verdict, before + 1)) << SmNarrow(list) << " " << verdict << "\n" << Tail();
        WaitIdle();
    }

    // Waits for the next poll to begin, so that the work of the one before is complete.
    void WaitIdle()
    {
        int polls = Count("WndProc: WM_SM_PSTATUS");
        WaitCount("WndProc: WM_SM_PSTATUS", polls + 1, 2000);
    }

    // The monitor's last debugger lines, for a failure message.
    std::string Tail(size_t n = 40) const
    {
        std::vector<std::string> lines = m_monitor->Lines();
        std::string text;
        for (size_t i = lines.size() > n ? lines.size() - n : 0; i < lines.size(); i++)
            text += lines[i] + "\n";
        return text;
    }

    std::vector<std::string> StatusWords() const
    {
        std::vector<std::string> words;
        for (const spd::Call& c : m_spooler->Calls("SetPrinterW"))
            words.push_back(c.Arg("status"));
        return words;
    }

    UINT IniInt(const wchar_t* key) const
    {
        return GetPrivateProfileIntW(kSection, key, 12345, SmStatusIniPath().c_str());
    }

    std::unique_ptr<SmSpooler> m_spooler;
    std::unique_ptr<ScopedEnv> m_trace;
    std::unique_ptr<SmChild> m_monitor;
    std::wstring m_monitorClass = kClass;
};

} // namespace

TEST_F(MonitorSystem, ANewListSetsItsFirstCodesWordOnce)
{
    StartMonitor();
    AnnounceAndWait(L"33|5|", "WndProc: update status");
    Sleep(600);     // two more polls: the list is not acted on again
    EXPECT_EQ((std::vector<std::string>{ "0x00000008" }), StatusWords()) << SmDescribeCalls(Sp());
    EXPECT_EQ((DWORD)PRINTER_STATUS_PAPER_JAM, Sp().PrinterStatus(L"MFP"));
    EXPECT_EQ(1, Count("WndProc: update status"));
    EXPECT_EQ(1, Count("i = 2"));
}

TEST_F(MonitorSystem, TheSameListWithANewLastMsgDoesNothing)
{
    StartMonitor();
    ASSERT_EQ(0u, Ctl(L"showqel 1"));      // the dialog keeps the shown list
    AnnounceAndWait(L"33|5|", "WndProc: update status");
    Sp().ClearCalls();
    AnnounceAndWait(L"33|5|", "WndProc: Error status same");
    Sleep(300);
    EXPECT_TRUE(Sp().Calls().empty()) << SmDescribeCalls(Sp());
    EXPECT_EQ(1, Count("WndProc: update status"));
}

TEST_F(MonitorSystem, TheSameCodesInAnotherOrderCountAsNew)
{
    StartMonitor();
    ASSERT_EQ(0u, Ctl(L"showqel 1"));
    AnnounceAndWait(L"33|5|", "WndProc: update status");
    AnnounceAndWait(L"5|33|", "WndProc: update status");
    EXPECT_EQ((std::vector<std::string>{ "0x00000008", "0x00400000" }), StatusWords()) << SmDescribeCalls(Sp());
    EXPECT_EQ(4, Count("WndProc: NeedUpdate status"));     // two slots differed each time
}

TEST_F(MonitorSystem, AnEmptyStatusLeavesEverythingAsItWas)
{
    StartMonitor();
    ASSERT_EQ(0u, Ctl(L"showqel 1"));
    AnnounceAndWait(L"33|5|", "WndProc: update status");
    Sp().ClearCalls();
    AnnounceAndWait(L"", "WndProc: no error");
    Sleep(300);
    EXPECT_TRUE(Sp().Calls().empty()) << SmDescribeCalls(Sp());
    EXPECT_EQ((DWORD)PRINTER_STATUS_PAPER_JAM, Sp().PrinterStatus(L"MFP"));
    // The shown list is kept: announcing it again changes nothing.
    AnnounceAndWait(L"33|5|", "WndProc: Error status same");
}

TEST_F(MonitorSystem, CancelWithAMatchingJobDeletesItAndSetsNoOtherWord)
{
    StartMonitor();
    ASSERT_EQ(0u, Ctl(L"jobid 42"));
    AnnounceAndWait(L"117|5|", "WndProc: update status");
    ASSERT_TRUE(Sp().WaitForCalls("SetJobW", 1, 3000));
    Sleep(300);
    std::vector<spd::Call> sets = Sp().Calls("SetJobW");
    ASSERT_EQ(1u, sets.size());
    EXPECT_EQ("42", sets[0].Arg("job"));
    EXPECT_EQ("5", sets[0].Arg("command"));        // JOB_CONTROL_DELETE on an NT-class system
    EXPECT_EQ("1", sets[0].Arg("rc"));
    EXPECT_TRUE(Sp().Jobs().empty());
    EXPECT_EQ((std::vector<std::string>{ "0x00000000" }), StatusWords()) << SmDescribeCalls(Sp());
}

TEST_F(MonitorSystem, CancelWithoutAMatchingJobFallsThrough)
{
    StartMonitor();
    ASSERT_EQ(0u, Ctl(L"jobid 7"));
    AnnounceAndWait(L"117|5|", "WndProc: update status");
    Sleep(500);
    EXPECT_TRUE(Sp().Calls("SetJobW").empty());
    EXPECT_EQ(1u, Sp().Jobs().size());
    // The cancel's reset; 117 itself has no status word.
    EXPECT_EQ((std::vector<std::string>{ "0x00000000" }), StatusWords()) << SmDescribeCalls(Sp());
}

TEST_F(MonitorSystem, RestartCode118)
{
    StartMonitor();
    ASSERT_EQ(0u, Ctl(L"jobid 42"));
    AnnounceAndWait(L"118|", "WndProc: update status");
    ASSERT_TRUE(Sp().WaitForCalls("SetJobW", 1, 3000));
    EXPECT_EQ("4", Sp().Calls("SetJobW")[0].Arg("command"));
    ASSERT_EQ(1u, Sp().Jobs().size());
    EXPECT_EQ((DWORD)JOB_STATUS_RESTART, Sp().Jobs()[0].status);
}

TEST_F(MonitorSystem, Message1026WritesZeroBackAndResetsTheWord)
{
    StartMonitor();
    AnnounceAndWait(L"33|5|", "WndProc: update status");
    ASSERT_TRUE(Sp().WaitForCalls("SetPrinterW", 1, 3000));
    ASSERT_EQ(0u, Ctl(L"reset"));
    ASSERT_TRUE(WaitCount("WndProc: sm exit!", 1));
    ASSERT_TRUE(Sp().WaitForCalls("SetPrinterW", 2, 3000));
    Sleep(300);
    EXPECT_EQ(0u, IniInt(L"Message"));
    EXPECT_EQ((std::vector<std::string>{ "0x00000008", "0x00000000" }), StatusWords()) << SmDescribeCalls(Sp());
    EXPECT_EQ(0u, Sp().PrinterStatus(L"MFP"));
    EXPECT_EQ(1, Count("WndProc: sm exit!"));         // "Message" is 0 again: once only
    // NT-class: the monitor stays resident, hidden, and the same list counts as new again.
    EXPECT_FALSE(m_monitor->Exited());
    HWND hMain = FindWindowW(kClass, NULL);
    ASSERT_NE((HWND)NULL, hMain);
    EXPECT_FALSE(IsWindowVisible(hMain));
    AnnounceAndWait(L"33|5|", "WndProc: update status");
    ASSERT_TRUE(Sp().WaitForCalls("SetPrinterW", 3, 3000));
    EXPECT_EQ("0x00000008", StatusWords().back());
}

TEST_F(MonitorSystem, LastMsgZeroIsNeverActedOn)
{
    StartMonitor();
    ASSERT_EQ(0u, Ctl(L"announce 33|5| 0"));
    ASSERT_TRUE(WaitCount("WndProc: WM_SM_PSTATUS", 3));
    EXPECT_EQ(0, Count("i = "));
    EXPECT_TRUE(Sp().Calls().empty());
}

TEST_F(MonitorSystem, WindowMessagesAreAnsweredWithoutWork)
{
    StartMonitor();
    ASSERT_EQ(0u, Ctl(L"announce 33|5| 0"));
    HWND h = FindWindowW(kClass, NULL);
    ASSERT_NE((HWND)NULL, h);
    DWORD_PTR result = 1;
    ASSERT_TRUE(SendMessageTimeoutW(h, kWmSmPStatus, 0, 0, SMTO_BLOCK, 5000, &result));
    EXPECT_EQ(0u, result);
    result = 1;
    ASSERT_TRUE(SendMessageTimeoutW(h, kWmLmAlive, 0, 0, SMTO_BLOCK, 5000, &result));
    EXPECT_EQ(0u, result);
    EXPECT_TRUE(WaitCount("WndProc: WM_LM_ALIVE", 1));
    EXPECT_EQ(0, Count("WndProc: update status"));
    EXPECT_TRUE(Sp().Calls().empty());
}

TEST_F(MonitorSystem, ExitMessageEndsWithCodeZeroAndAReset)
{
    StartMonitor();
    AnnounceAndWait(L"33|5|", "WndProc: update status");
    ASSERT_TRUE(Sp().WaitForCalls("SetPrinterW", 1, 3000));
    ASSERT_EQ(0u, Ctl(L"exit"));
    ASSERT_TRUE(m_monitor->WaitExit(5000));
    EXPECT_EQ(0u, m_monitor->ExitCode());
    EXPECT_TRUE(Count("WndProc: WM_SM_EXIT") == 1 && Count("WndProc: WM_DESTROY") == 1);
    EXPECT_EQ((std::vector<std::string>{ "0x00000008", "0x00000000" }), StatusWords()) << SmDescribeCalls(Sp());
    EXPECT_EQ(0u, Sp().PrinterStatus(L"MFP"));
    EXPECT_EQ(1u, Ctl(L"exit"));           // nothing left to end
}

TEST_F(MonitorSystem, UninstallEndsItWithoutAReset)
{
    StartMonitor();
    AnnounceAndWait(L"33|5|", "WndProc: update status");
    ASSERT_TRUE(Sp().WaitForCalls("SetPrinterW", 1, 3000));
    SmRunResult r = SmRun(SmProgramPath(), L"uninstall");
    EXPECT_EQ(1u, r.exitCode);
    ASSERT_TRUE(m_monitor->WaitExit(5000));
    EXPECT_EQ(0u, m_monitor->ExitCode());
    EXPECT_EQ(0, Count("WndProc: WM_DESTROY"));
    EXPECT_EQ((std::vector<std::string>{ "0x00000008" }), StatusWords()) << SmDescribeCalls(Sp());
    EXPECT_EQ((DWORD)PRINTER_STATUS_PAPER_JAM, Sp().PrinterStatus(L"MFP"));
    EXPECT_FALSE(SmRegValueExists(HKEY_LOCAL_MACHINE, kRunKey, kClass));
}

TEST_F(MonitorSystem, Windows98OpensTheAnsiNameAndEndsOn1026)
{
    // A copy of the program and smctl both see Windows 98: the exchange file is then the one in
    // the temporary directory, and the monitor opens its printer by the ANSI name.
    std::wstring exe = SmCopyProgram(L"SmMon98");
    ScopedAppVersion monVersion(L"SmMon98.exe", L"win98");
    ScopedAppVersion ctlVersion(L"smctl.exe", L"win98");
    WCHAR temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::wstring ini98 = std::wstring(temp) + L"StatusMonitorV3.ini";
    FreshExchangeFile(ini98);
    const wchar_t* name = L"Dr\u00fccker";
    Sp().AddTestPrinter(name, L"USB002");
    ASSERT_EQ(0u, Ctl(L"showqel 0"));
    ASSERT_EQ(0u, Ctl(std::wstring(L"printer ") + name));

    StartMonitor(exe, L"SmMon98");
    AnnounceAndWait(L"5|", "WndProc: update status");
    ASSERT_TRUE(Sp().WaitForCalls("SetPrinterW", 1, 3000));
    std::vector<spd::Call> opens = Sp().Calls("OpenPrinterA");
    ASSERT_EQ(1u, opens.size()) << SmDescribeCalls(Sp());
    EXPECT_EQ("4472FC636B6572", opens[0].Arg("ansi"));
    EXPECT_TRUE(Sp().Calls("OpenPrinterW").empty());
    EXPECT_EQ((DWORD)PRINTER_STATUS_DOOR_OPEN, Sp().PrinterStatus(name));

    ASSERT_EQ(0u, Ctl(L"reset"));
    ASSERT_TRUE(m_monitor->WaitExit(5000)) << "a 1026 ends the program on a 9x-class system";
    EXPECT_EQ(0u, m_monitor->ExitCode());
    EXPECT_EQ(1, Count("Call DestroyWindow"));
    EXPECT_EQ(0u, GetPrivateProfileIntW(kSection, L"Message", 99, ini98.c_str()));
    EXPECT_EQ(0u, Sp().PrinterStatus(name));
    DeleteFileW(ini98.c_str());
}

TEST_F(MonitorSystem, TwoThousandAnnouncementsInARow)
{
    ASSERT_EQ(0u, Ctl(L"showqel 1"));      // the dialog keeps the shown list
    StartMonitor();
    // smctl stress 2000: list i is "<first>|<1000 + i>|" with first = 33 5 7 32 34 1 126 130 135 2
    // in turn, so the last is "2|2999|".
    SmRunResult r = SmRun(Smctl(), L"stress 2000", 110000);
    ASSERT_TRUE(r.finished);
    ASSERT_EQ(0u, r.exitCode);
    Sleep(600);
    EXPECT_FALSE(m_monitor->Exited());
    ASSERT_NE((HWND)NULL, FindWindowW(kClass, NULL));
    // Lists 7 ms apart never read the same twice: the monitor waits for a list read whole.
    EXPECT_GE(Count("WndProc: update status"), 1);
    EXPECT_GE(Count("WndProc: list not whole yet"), 1);
    // The driver's writes are not atomic, so a poll may have met a half-written file; once the
    // writer is quiet, the last list is what the monitor holds: announced again, it is the same.
    int updates = Count("WndProc: update status");
    int same = Count("WndProc: Error status same");
    ASSERT_EQ(0u, Ctl(L"announce 2|2999|"));
    ASSERT_TRUE(WaitCount("WndProc: update status", updates + 1, 3000) ||
                WaitCount("WndProc: Error status same", same + 1, 3000)) << Tail();
    WaitIdle();
    AnnounceAndWait(L"2|2999|", "WndProc: Error status same");
    EXPECT_EQ((DWORD)PRINTER_STATUS_ERROR, Sp().PrinterStatus(L"MFP")) << Tail(80) << SmDescribeCalls(Sp());
    EXPECT_FALSE(m_monitor->Exited());
}

// "Status" written in two pieces 40 ms apart, the first just before a poll, split at every
// position: the list acted on is the whole one (announced again, it is the same). A piece that
// looks whole is tried until a poll meets it (its read traces the piece's count).
TEST_F(MonitorSystem, AListWrittenInPiecesIsActedOnWhole)
{
    const std::wstring list = L"33|5|126|", ini = SmStatusIniPath();
    ASSERT_EQ(0u, Ctl(L"showqel 1"));      // the dialog keeps the shown list
    StartMonitor();
    int met = 0;
    for (size_t k = 1; k < list.size(); k++) {
        std::wstring piece = list.substr(0, k);
        std::string read = "GetErrCode::i = " + std::to_string(std::count(piece.begin(), piece.end(), L'|'));
        for (int attempt = 0; attempt < 4; attempt++) {
            SCOPED_TRACE(SmNarrow(piece));
            AnnounceAndWait(L"7|", "WndProc: update status");
            int updates = Count("WndProc: update status"), reads = Count(read.c_str());
            WaitIdle();
            Sleep(225);
            WritePrivateProfileStringW(kSection, L"Status", piece.c_str(), ini.c_str());
            WritePrivateProfileStringW(kSection, L"LastMsg", std::to_wstring(5000 + 10 * k + attempt).c_str(), ini.c_str());
            WritePrivateProfileStringW(kSection, L"Message", L"1027", ini.c_str());
            Sleep(40);
            WritePrivateProfileStringW(kSection, L"Status", list.c_str(), ini.c_str());
            ASSERT_TRUE(WaitCount("WndProc: update status", updates + 1)) << Tail();
            WaitIdle();
            bool ended = piece.back() == L'|', metPiece = ended && Count(read.c_str()) > reads;
            AnnounceAndWait(list, "WndProc: Error status same");
            met += metPiece;
            if (metPiece || !ended)
                break;
        }
    }
    EXPECT_GT(met, 0) << "no poll met a first piece ending with a bar";
}

TEST_F(MonitorSystem, PreHeatCommandSendsTheWakeUpJob)
{
    SmRunResult r = SmRun(SmProgramPath(), L"PREHEAT MFP");
    EXPECT_EQ(1u, r.exitCode);
    // The library check the tests on the system's spooler rely on sees the double here.
    const SmModule* spooler = SmFindModule(r.modules, "winspool.drv");
    ASSERT_NE(nullptr, spooler);
    EXPECT_TRUE(spooler->spoolerDouble);
    std::vector<spd::RawJob> raw = Sp().RawJobs();
    ASSERT_EQ(1u, raw.size()) << SmDescribeCalls(Sp());
    EXPECT_EQ(L"PreHeat", raw[0].document);
    EXPECT_EQ(666u, raw[0].bytes.size());
    EXPECT_EQ(0x1B, raw[0].bytes[0]);
    EXPECT_EQ(0, raw[0].bytes[77]);
    EXPECT_EQ(0x1B, raw[0].bytes[589]);
    // With a "PreHeat" job waiting in the queue, nothing more is sent.
    Sp().AddTestJob(L"MFP", 50, L"PreHeat");
    SmRun(SmProgramPath(), L"PREHEAT MFP");
    EXPECT_EQ(1u, Sp().RawJobs().size());
}

TEST_F(MonitorSystem, SmctlStatePrintsTheFile)
{
    ASSERT_EQ(0u, Ctl(L"jobid 42"));
    ASSERT_EQ(0u, Ctl(L"announce 33|5| 17"));
    EXPECT_EQ(17u, IniInt(L"LastMsg"));
    EXPECT_EQ(1027u, IniInt(L"Message"));
    EXPECT_EQ(42u, GetPrivateProfileIntW(L"Job Information", L"JobID", 0, SmStatusIniPath().c_str()));
    ASSERT_EQ(0u, Ctl(L"announce 33|5|"));
    EXPECT_EQ(18u, IniInt(L"LastMsg"));              // a fresh value
    ASSERT_EQ(0u, Ctl(L"message 1028"));
    EXPECT_EQ(1028u, IniInt(L"Message"));
    EXPECT_EQ(0u, Ctl(L"state"));
    EXPECT_EQ(2u, Ctl(L"announce"));                  // usage
    EXPECT_EQ(1u, Ctl(L"exit"));                      // no monitor
    // The file keeps its UTF-16 byte-order mark.
    std::vector<BYTE> bytes = SmReadFile(SmStatusIniPath());
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(0xFF, bytes[0]);
    EXPECT_EQ(0xFE, bytes[1]);
}
