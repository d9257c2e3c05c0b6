// Every spooler call of the resident monitor and of the credential dialogs failed in turn through
// the test double's failure switch: the outcome of that one call, no crash, and a monitor that
// acts on the next announcement as before.
#include <gtest/gtest.h>
#include <windows.h>
#include <winspool.h>
#include <memory>
#include <string>
#include <vector>
#include "smtest.h"
#include "credential_run.h"
#include "spooler_state.h"

namespace {

const wchar_t c_Class[] = L"StatusMonitor";
const wchar_t c_Run[] = L"software\\microsoft\\windows\\currentversion\\run";
const wchar_t c_Section[] = L"Printer Information";
const UINT c_WmSmExit = WM_USER + 2;
const DWORD c_JobId = 42;

class ScopedAppVersion {
public:
    ScopedAppVersion(const std::wstring& exe, const std::wstring& version) : m_exe(exe) { SmSetAppVersion(exe, version); }
    ~ScopedAppVersion() { SmSetAppVersion(m_exe, L""); }
private:
    std::wstring m_exe;
};

// What the last failed smctl run left behind: how it ended and its debugger lines (its trace
// names a refused write), so that a failure says which step of smctl went wrong.
std::string g_CtlFailure;

DWORD Ctl(const std::wstring& args)
{
    DWORD start = GetTickCount();
    SmRunResult r = SmRun(SmTestDir() + L"smctl.exe", args, 30000);
    DWORD rc = r.finished ? r.exitCode : 0xFFFFFFFF;
    if (rc != 0) {
        g_CtlFailure = "smctl " + SmNarrow(args) + ": " +
                       (r.finished ? "exit code " + std::to_string(r.exitCode) : std::string("not finished")) +
                       " after " + std::to_string(GetTickCount() - start) + " ms\n";
        for (const std::string& line : r.lines)
            g_CtlFailure += "  " + line + "\n";
    }
    return rc;
}

void FreshExchangeFile(const std::wstring& path)
{
    static const BYTE bom[] = { 0xFF, 0xFE };
    SmWriteFile(path, bom, sizeof(bom));
}

// The resident monitor, started with "install" and stopped with WM_SM_EXIT.
class Monitor {
public:
    ~Monitor() { Stop(); }

    bool Start(const std::wstring& exe, const wchar_t* cls)
    {
        m_class = cls;
        return m_child.Start(exe, L"install") && SmWaitForWindow(cls, NULL, 10000) &&
               m_child.WaitForLine("WndProc: WM_CREATE", 5000);
    }

    void Stop()
    {
        if (m_class.empty())
            return;
        if (!m_child.Exited()) {
            if (HWND h = FindWindowW(m_class.c_str(), NULL))
                PostMessageW(h, c_WmSmExit, 0, 0);
            if (!m_child.WaitExit(5000))
                m_child.Kill();
        }
        m_child.WaitExit(5000);
        SmRegDeleteValue(HKEY_LOCAL_MACHINE, c_Run, m_class);
        m_class.clear();
    }

    int Count(const char* text) const { return SmCount(m_child.Lines(), text); }

    bool WaitCount(const char* text, int n, DWORD msTimeout) const
    {
        DWORD start = GetTickCount();
        while (Count(text) < n) {
            if (GetTickCount() - start >= msTimeout || m_child.Exited())
                return Count(text) >= n;
            Sleep(20);
        }
        return true;
    }

    // Announces a list and waits until the monitor has acted on it and begun its next poll.
    bool Announce(const std::wstring& list)
    {
        int updates = Count("WndProc: update status");
        if (Ctl(L"announce \"" + list + L"\"") != 0 || !WaitCount("WndProc: update status", updates + 1, 5000))
            return false;
        int polls = Count("WndProc: WM_SM_PSTATUS");
        WaitCount("WndProc: WM_SM_PSTATUS", polls + 1, 2000);
        return true;
    }

    bool Alive() const { return !m_child.Exited() && FindWindowW(m_class.c_str(), NULL) != NULL; }

    std::string Tail() const
    {
        std::vector<std::string> lines = m_child.Lines();
        std::string text;
        for (size_t i = lines.size() > 30 ? lines.size() - 30 : 0; i < lines.size(); i++)
            text += lines[i] + "\n";
        return text + g_CtlFailure;
    }

private:
    SmChild m_child;
    std::wstring m_class;
};

bool JobQueued(const SmSpooler& sp)
{
    for (const spd::Job& j : sp.Jobs()) {
        if (j.id == c_JobId)
            return true;
    }
    return false;
}

bool CallWasForced(const SmSpooler& sp, const char* function)
{
    for (const spd::Call& c : sp.Calls(function)) {
        if (c.Arg("forced") == "1")
            return true;
    }
    return false;
}

} // namespace

// The monitor's status word and job control. Each case runs a fresh monitor on a fresh spooler
// holding job 42 ("JobID" 42): the first list meets the failing call, the second list comes
// after the switch is cleared.
TEST(SpoolerFailures, MonitorStatusWordAndJobControl)
{
    const DWORD none = 0;
    static const struct {
        const char* function;
        DWORD from;                 // which call of the function fails (1 the first)
        bool win98;                 // a 9x-class system, which opens by the ANSI name
        const wchar_t* list;
        const char* trace;          // a line looked for, or NULL
        int traceCount;             // how often it appears
        DWORD status;               // the printer's status word after the list
        bool jobKept;
        const wchar_t* next;
        DWORD nextStatus;
        bool nextJobKept;
    } cases[] = {
        // A refused open of the status word stops status words for the rest of the run; job
        // control goes on.
        { "OpenPrinterW", 1, false, L"33|", "OpenPrinter fail!", 1, none, true, L"117|5|", none, false },
        { "OpenPrinterA", 1, true, L"33|", "OpenPrinter fail!", 1, none, true, L"117|5|", none, false },
        { "SetPrinterW", 1, false, L"33|", NULL, 0, none, true, L"5|", PRINTER_STATUS_DOOR_OPEN, true },
        { "ClosePrinter", 1, false, L"33|", NULL, 0, PRINTER_STATUS_PAPER_JAM, true, L"5|", PRINTER_STATUS_DOOR_OPEN, true },
        // A cancel (117) that fails falls through to the list's first code, which sets no word.
        { "EnumJobsW", 1, false, L"117|5|", "EnumJobs fail!", 1, none, true, L"5|", PRINTER_STATUS_DOOR_OPEN, true },
        { "EnumJobsW", 2, false, L"117|5|", "EnumJobs fail!", 1, none, true, L"5|", PRINTER_STATUS_DOOR_OPEN, true },
        { "SetJobW", 1, false, L"117|5|", NULL, 0, none, true, L"5|", PRINTER_STATUS_DOOR_OPEN, true },
        // The cancel's reset opens the printer first; the job's own open is the second. It does
        // not stop later status words; on a 9x-class system it fails without a trace.
        { "OpenPrinterW", 2, false, L"117|5|", "OpenPrinter fail!", 1, none, true, L"5|", PRINTER_STATUS_DOOR_OPEN, true },
        { "OpenPrinterA", 2, true, L"117|5|", "OpenPrinter fail!", 0, none, true, L"5|", PRINTER_STATUS_DOOR_OPEN, true },
        { "ClosePrinter", 2, false, L"117|5|", NULL, 0, none, false, L"5|", PRINTER_STATUS_DOOR_OPEN, false },
    };
    std::wstring exe98 = SmCopyProgram(L"SmFail98");
    WCHAR temp[MAX_PATH] = L"";
    GetTempPathW(ARRAYSIZE(temp), temp);
    SmScopedEnv trace(L"SM_TRACE", L"threshold=1");
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.function) + " from call " + std::to_string(c.from) + " with " + SmNarrow(c.list));
        SmSpooler sp(L"failures_monitor_" + std::to_wstring(n++));
        sp.AddTestPrinter(L"MFP", L"USB001");
        sp.AddTestJob(L"MFP", c_JobId, L"Quarterly report");
        std::unique_ptr<ScopedAppVersion> monVersion, ctlVersion;
        std::wstring ini = SmStatusIniPath();
        if (c.win98) {
            // The copy and smctl both see Windows 98: the exchange file is in the temporary folder.
            monVersion.reset(new ScopedAppVersion(L"SmFail98.exe", L"win98"));
            ctlVersion.reset(new ScopedAppVersion(L"smctl.exe", L"win98"));
            ini = std::wstring(temp) + L"StatusMonitorV3.ini";
        }
        FreshExchangeFile(ini);
        ASSERT_EQ(0u, Ctl(L"showqel 0"));
        ASSERT_EQ(0u, Ctl(L"printer MFP"));
        ASSERT_EQ(0u, Ctl(L"jobid " + std::to_wstring(c_JobId)));

        Monitor mon;
        ASSERT_TRUE(c.win98 ? mon.Start(exe98, L"SmFail98") : mon.Start(SmProgramPath(), c_Class));
        sp.SetFail(c.function, ERROR_ACCESS_DENIED, c.from);
        ASSERT_TRUE(mon.Announce(c.list)) << mon.Tail();
        EXPECT_TRUE(CallWasForced(sp, c.function)) << SmDescribeCalls(sp);
        if (c.trace) {
            EXPECT_EQ(c.traceCount, mon.Count(c.trace)) << mon.Tail();
        }
        EXPECT_EQ(c.status, sp.PrinterStatus(L"MFP")) << SmDescribeCalls(sp);
        EXPECT_EQ(c.jobKept, JobQueued(sp)) << SmDescribeCalls(sp);
        EXPECT_TRUE(mon.Alive());

        sp.ClearFail();
        ASSERT_TRUE(mon.Announce(c.next)) << mon.Tail();
        EXPECT_EQ(c.nextStatus, sp.PrinterStatus(L"MFP")) << SmDescribeCalls(sp);
        EXPECT_EQ(c.nextJobKept, JobQueued(sp)) << SmDescribeCalls(sp);
        EXPECT_TRUE(mon.Alive()) << mon.Tail();
        mon.Stop();
        if (c.win98)
            DeleteFileW(ini.c_str());
    }
    FreshExchangeFile(SmStatusIniPath());
}

namespace {

// Runs a credential command, types the two entries as keystrokes and presses OK; true when the
// program ended, with its debugger lines and exit code.
bool RunCredentialDialog(CredentialRun* pRun, const std::wstring& args, int idPaintedLabel, int idName,
                         int idPassword, int idOk)
{
    if (!pRun->Open(args, idPaintedLabel))
        return false;
    pRun->Type(idName, L"J1");
    pRun->Type(idPassword, L"pw");
    pRun->Click(idOk);
    return pRun->Child().WaitExit(10000);
}

std::vector<std::wstring> ValueNames(const SmSpooler& sp)
{
    std::vector<std::wstring> names;
    for (const spd::DataValue& d : sp.DataValues())
        names.push_back(d.name);
    return names;
}

} // namespace

// The credential dialogs' printer data, with a monitor resident beside them: whatever call
// fails, the dialog ends (exit code 2 when a value was not stored, else 1) after telling the monitor "nothing to do" (1028), writes
// what it still can, and the monitor then acts on the next announcement.
TEST(SpoolerFailures, CredentialDialogsPrinterData)
{
    typedef std::vector<std::wstring> Names;
    static const Names c_AllSecure = { L"SecID", L"SecPassWord", L"SecRemoveFile" };
    static const Names c_AllAccounting = { L"ActName", L"ActPWD" };
    static const struct {
        bool accounting;
        const char* function;
        DWORD from;
        const char* trace;
        Names written;
    } cases[] = {
        { false, "OpenPrinterW", 1, "OpenPrinter MFP fail, 31", {} },
        { false, "SetPrinterDataW", 1, "set SecID error", {} },
        { false, "SetPrinterDataW", 3, "set SecRemoveFile error", { L"SecID", L"SecPassWord" } },
        { false, "ClosePrinter", 1, NULL, c_AllSecure },
        { true, "OpenPrinterW", 1, "OpenPrinter MFP fail, 31", {} },
        { true, "SetPrinterDataW", 1, "set ActName error", {} },
        { true, "SetPrinterDataW", 2, "set ActPWD error", { L"ActName" } },
        { true, "ClosePrinter", 1, NULL, c_AllAccounting },
    };
    SmSpooler sp(L"failures_credentials");
    sp.AddTestPrinter(L"MFP", L"USB001");
    FreshExchangeFile(SmStatusIniPath());
    ASSERT_EQ(0u, Ctl(L"showqel 0"));
    ASSERT_EQ(0u, Ctl(L"printer MFP"));
    SmScopedEnv trace(L"SM_TRACE", L"threshold=1");
    Monitor mon;
    ASSERT_TRUE(mon.Start(SmProgramPath(), c_Class));

    static const struct { const wchar_t* list; DWORD status; } c_Lists[] = {
        { L"5|", PRINTER_STATUS_DOOR_OPEN }, { L"33|", PRINTER_STATUS_PAPER_JAM },
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.accounting ? "accounting: " : "security: ") + c.function + " from call " +
                     std::to_string(c.from));
        sp.ClearCalls();
        std::vector<spd::DataValue> before = sp.DataValues();
        sp.SetFail(c.function, ERROR_GEN_FAILURE, c.from);     // a refusal keeps the dialog: see StandardUser
        CredentialRun run;
        bool ended = c.accounting
                         ? RunCredentialDialog(&run, L"accounting MFP 1033", ACT_NAME_LABEL, ACT_NAME, ACT_PWD, ACT_OK)
                         : RunCredentialDialog(&run, L"security 2 MFP 1033", SEC_ID_LABEL, SEC_ID, SEC_PWD, SEC_OK);
        SmChild& dialog = run.Child();
        sp.ClearFail();
        if (!ended) {
            dialog.Kill();
            dialog.WaitExit(5000);
            ADD_FAILURE() << "the dialog did not end";
            continue;
        }
        EXPECT_EQ(strcmp(c.function, "ClosePrinter") == 0 ? 1u : 2u, dialog.ExitCode());
        EXPECT_TRUE(CallWasForced(sp, c.function)) << SmDescribeCalls(sp);
        if (c.trace) {
            EXPECT_TRUE(SmContains(dialog.Lines(), c.trace)) << SmDescribeCalls(sp);
        }
        Names written = ValueNames(sp);
        written.erase(written.begin(), written.begin() + before.size());
        EXPECT_EQ(c.written, written) << SmDescribeCalls(sp);
        EXPECT_EQ(1028u, GetPrivateProfileIntW(c_Section, L"Message", 0, SmStatusIniPath().c_str()));

        // The monitor, untouched by the dialog's failures, acts on the next list.
        const auto& next = c_Lists[n++ % ARRAYSIZE(c_Lists)];
        ASSERT_TRUE(mon.Announce(next.list)) << mon.Tail();
        EXPECT_EQ(next.status, sp.PrinterStatus(L"MFP")) << SmDescribeCalls(sp);
        EXPECT_TRUE(mon.Alive());
    }
    mon.Stop();
    FreshExchangeFile(SmStatusIniPath());
}

static int s_noteAlerts;
static void CALLBACK OnNoteAlert(HWINEVENTHOOK, DWORD, HWND, LONG, LONG, DWORD, DWORD) { s_noteAlerts++; }

// Every command as a user who may not administer the printer (the double's standard-user switch;
// the monitor: StatusDialogSystem.AStandardUser...): the wake-up job goes with use rights; the
// credential dialogs say in their language that the values were not stored, end at the next OK
// and give exit code 2.
TEST(StandardUser, EveryCommand)
{
    static const struct { const wchar_t* args; DWORD exitCode; const wchar_t* note; } cases[] = {
        { L"PREHEAT MFP", 1 }, { L"uninstall", 1 }, { L"SetATM 0", 1 }, { L"charset 0", 1 },
        { L"CreateTextBMP Z:\\no\\such.ini", 1 },
        { L"security 2 MFP 1033", 2, L"The values could not be handed to the printer: an administrator must allow it." },
        { L"security 1 MFP 1028", 2, L"\u7121\u6cd5\u5c07\u9019\u4e9b\u8cc7\u6599\u4ea4\u7d66\u5370\u8868\u6a5f\uff1a\u9808\u7531\u7cfb\u7d71\u7ba1\u7406\u54e1\u5141\u8a31\u3002" },
        { L"accounting MFP 2052", 2, L"\u65e0\u6cd5\u5c06\u8fd9\u4e9b\u6570\u636e\u4ea4\u7ed9\u6253\u5370\u673a\uff1a\u987b\u7531\u7cfb\u7edf\u7ba1\u7406\u5458\u5141\u8bb8\u3002" },
    };
    SmSpooler sp(L"standard_user");
    sp.AddTestPrinter(L"MFP", L"USB001");
    sp.SetStandardUser();
    for (const auto& c : cases) {
        SCOPED_TRACE(SmNarrow(c.args));
        CredentialRun run;
        bool sec = c.args[0] == L's' && c.args[1] == L'e';
        if (c.note) {
            ASSERT_TRUE(run.Open(c.args, sec ? SEC_ID_LABEL : ACT_NAME_LABEL));
            run.Type(sec ? SEC_ID : ACT_NAME, L"J1");
            run.Type(sec ? SEC_PWD : ACT_PWD, L"pw");
            // A screen reader hears the note once.
            s_noteAlerts = 0;
            HWINEVENTHOOK hook = SetWinEventHook(EVENT_SYSTEM_ALERT, EVENT_SYSTEM_ALERT, NULL, OnNoteAlert,
                                                 run.Child().Pid(), 0, WINEVENT_OUTOFCONTEXT);
            run.Click(sec ? SEC_OK : ACT_OK);
            run.Sync();
            SmPumpMessages(300);
            UnhookWinEvent(hook);
            EXPECT_EQ(1, s_noteAlerts);
            EXPECT_EQ(c.note, run.ItemText(sec ? 1058 : 1039));
            EXPECT_FALSE(run.Child().Exited());
            run.Click(sec ? SEC_OK : ACT_OK);
        } else {
            ASSERT_TRUE(run.Child().Start(SmProgramPath(), c.args));
        }
        ASSERT_TRUE(run.Child().WaitExit(10000));
        EXPECT_EQ(c.exitCode, run.Child().ExitCode());
    }
    EXPECT_TRUE(sp.DataValues().empty());
    std::vector<spd::RawJob> raw = sp.RawJobs();
    ASSERT_EQ(1u, raw.size()) << SmDescribeCalls(sp);
    EXPECT_EQ(666u, raw[0].bytes.size());
    EXPECT_EQ("ended", raw[0].state);
}
