// The wake-up job and the credential dialogs on Wine's own spooler, backed by the private CUPS
// server of tools/wine-env.sh: what reaches CUPS (read from its spool folder), and what lands in
// the printer's data (read back with reg.exe). This program and the copy of StatusMonitor.exe
// beside it live in a folder without the test-double spooler.
#include <gtest/gtest.h>
#include <algorithm>
#include <set>
#include <string>
#include <vector>
#include "smtest.h"
#include "credential_run.h"
#include <strsafe.h>

namespace {

// Queues made by tools/wine-env.sh; the ports are "CUPS:<queue>".
const wchar_t c_UsbQueue[] = L"SM_USB";
const wchar_t c_NetworkQueue[] = L"SM_Network";
const wchar_t c_RejectingQueue[] = L"SM_USB_Rejecting";     // a USB queue not accepting jobs

// The 77-byte wake-up sequence: printer reset, universal exit, the PJL commands, universal exit.
const char c_WakeUp[] = "\x1b" "E" "\x1b" "%-12345X@PJL WAKEUP\r\n@PJL PREHEAT\r\n@PJL SET TIMEOUT=5\r\n"
                        "@PJL EOJ\r\n" "\x1b" "%-12345X";
const size_t c_cbWakeUp = sizeof(c_WakeUp) - 1;

const wchar_t c_PrintersKey[] = L"System\\CurrentControlSet\\Control\\Print\\Printers\\";

// The spool folder (SM_CUPS_SPOOL, a Linux path) as Wine sees it on drive Z:, with a backslash.
std::wstring SpoolDir()
{
    WCHAR sz[MAX_PATH] = L"";
    DWORD cch = GetEnvironmentVariableW(L"SM_CUPS_SPOOL", sz, ARRAYSIZE(sz));
    if (!cch || cch >= ARRAYSIZE(sz))
        return std::wstring();
    std::wstring dir = std::wstring(L"Z:") + sz + L"\\";
    std::replace(dir.begin(), dir.end(), L'/', L'\\');
    return dir;
}

// Ids of the jobs CUPS holds: one control file "c" + five digits each.
std::set<int> SpoolJobs()
{
    std::set<int> ids;
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((SpoolDir() + L"c*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE)
        return ids;
    do {
        if (wcslen(fd.cFileName) == 6)
            ids.insert(_wtoi(fd.cFileName + 1));
    } while (FindNextFileW(h, &fd));
    FindClose(h);
    return ids;
}

std::wstring JobFile(wchar_t kind, int id, const wchar_t* suffix)
{
    WCHAR sz[32] = L"";
    StringCchPrintfW(sz, ARRAYSIZE(sz), L"%c%05d%s", kind, id, suffix);
    return SpoolDir() + sz;
}

unsigned Be16(const std::vector<BYTE>& b, size_t at) { return (unsigned)(b[at] << 8 | b[at + 1]); }

// The first value of an attribute in a job's control file (an IPP message: an 8-byte header,
// then group tags and attributes of tag, name length, name, value length, value; 3 ends it).
// A nameless attribute is a further value of the one before.
std::string IppValue(const std::vector<BYTE>& msg, const std::string& name)
{
    size_t at = 8;
    while (at < msg.size() && msg[at] != 0x03) {
        if (msg[at] < 0x10) {                         // a group begins
            at++;
            continue;
        }
        if (at + 3 > msg.size())
            break;
        size_t cchName = Be16(msg, at + 1);
        if (at + 3 + cchName + 2 > msg.size())
            break;
        std::string attr(msg.begin() + at + 3, msg.begin() + at + 3 + cchName);
        size_t cbValue = Be16(msg, at + 3 + cchName);
        size_t value = at + 5 + cchName;
        if (value + cbValue > msg.size())
            break;
        if (attr == name)
            return std::string(msg.begin() + value, msg.begin() + value + cbValue);
        at = value + cbValue;
    }
    return std::string();
}

// Waits until CUPS has written the control file of a job that was not there before.
std::set<int> WaitForNewJobs(const std::set<int>& before, DWORD msTimeout)
{
    DWORD start = GetTickCount();
    for (;;) {
        std::set<int> added;
        for (int id : SpoolJobs())
            if (!before.count(id))
                added.insert(id);
        if (!added.empty() || GetTickCount() - start > msTimeout)
            return added;
        Sleep(50);
    }
}

// The spooler library the child loaded: Wine's own, not the double.
void ExpectSystemSpooler(const std::vector<SmModule>& modules, const std::string& what)
{
    const SmModule* spooler = SmFindModule(modules, "winspool.drv");
    ASSERT_NE(nullptr, spooler) << what << ": no spooler loaded";
    EXPECT_FALSE(spooler->spoolerDouble) << what << ": the test double was loaded";
}

std::string Describe(const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& l : lines)
        text += l + "\n";
    return text;
}

// Runs reg.exe with the arguments and returns what it printed.
std::string RunReg(const std::wstring& args)
{
    SECURITY_ATTRIBUTES sa = { sizeof(sa), NULL, TRUE };
    HANDLE hRead = NULL, hWrite = NULL;
    if (!CreatePipe(&hRead, &hWrite, &sa, 0))
        return std::string();
    SetHandleInformation(hRead, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = hWrite;
    si.hStdError = hWrite;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    std::wstring cmd = L"reg.exe " + args;
    std::vector<WCHAR> cmdBuf(cmd.begin(), cmd.end());
    cmdBuf.push_back(0);
    PROCESS_INFORMATION pi = {};
    BOOL started = CreateProcessW(NULL, cmdBuf.data(), NULL, NULL, TRUE, CREATE_NO_WINDOW, NULL, NULL, &si, &pi);
    CloseHandle(hWrite);
    std::string out;
    if (started) {
        char buf[4096];
        DWORD cbRead = 0;
        while (ReadFile(hRead, buf, sizeof(buf), &cbRead, NULL) && cbRead)
            out.append(buf, cbRead);
        WaitForSingleObject(pi.hProcess, 10000);
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
    }
    CloseHandle(hRead);
    return out;
}

// A value as "reg query" shows it: "    name    type    data".
struct RegShown { std::string type; std::string data; };

RegShown FindShown(const std::string& out, const std::string& name)
{
    const std::string sep = "    ";
    const std::string lead = sep + name + sep;
    size_t at = out.find(lead);
    if (at == std::string::npos)
        return RegShown();
    size_t typeAt = at + lead.size();
    size_t typeEnd = out.find(sep, typeAt);
    size_t lineEnd = out.find_first_of("\r\n", typeAt);
    if (typeEnd == std::string::npos || typeEnd > lineEnd)
        return { out.substr(typeAt, lineEnd - typeAt), std::string() };
    return { out.substr(typeAt, typeEnd - typeAt), out.substr(typeEnd + sep.size(), lineEnd - typeEnd - sep.size()) };
}

std::wstring DataKey(const std::wstring& printer)
{
    return c_PrintersKey + printer + L"\\PrinterDriverData";
}

// An earlier, longer entry: 259 letters and a terminator in each string value, 7 in the DWORD.
void SeedValues(const std::wstring& printer, const std::vector<std::wstring>& strings, const wchar_t* dword)
{
    HKEY h = NULL;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, DataKey(printer).c_str(), 0, NULL, 0,
                                             KEY_SET_VALUE, NULL, &h, NULL));
    std::wstring old(259, L'X');
    for (const std::wstring& name : strings)
        RegSetValueExW(h, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(old.c_str()),
                       (DWORD)((old.size() + 1) * sizeof(wchar_t)));
    if (dword) {
        DWORD v = 7;
        RegSetValueExW(h, dword, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), sizeof(v));
    }
    RegCloseKey(h);
}

// A string value: shown by reg.exe as REG_SZ with the text, stored in 520 bytes with nothing
// but zeros behind the terminator.
void ExpectStringValue(const std::string& shown, const std::wstring& printer, const wchar_t* name,
                       const std::wstring& text)
{
    std::string what = SmNarrow(name);
    RegShown s = FindShown(shown, what);
    EXPECT_EQ("REG_SZ", s.type) << what << "\n" << shown;
    EXPECT_EQ(SmNarrow(text), s.data) << what;
    std::vector<BYTE> data;
    DWORD type = 0;
    ASSERT_TRUE(SmRegReadString(HKEY_LOCAL_MACHINE, DataKey(printer), name, &data, &type)) << what;
    EXPECT_EQ((DWORD)REG_SZ, type) << what;
    ASSERT_EQ(520u, data.size()) << what;
    std::wstring stored;
    for (size_t i = 0; i + 1 < data.size() && (data[i] | data[i + 1]); i += 2)
        stored += (wchar_t)(data[i] | data[i + 1] << 8);
    EXPECT_EQ(text, stored) << what;
    for (size_t i = text.size() * 2; i < data.size(); i++)
        ASSERT_EQ(0, data[i]) << what << ": byte " << i << " behind the terminator";
}

} // namespace

TEST(CupsPreHeat, OnlyTheUsbQueueGetsTheWakeUpJob)
{
    ASSERT_FALSE(SpoolDir().empty()) << "SM_CUPS_SPOOL is not set: run through tools/test.sh";
    struct Case {
        const wchar_t* queue;
        const char* trace;            // a line the run must trace
        bool reachesCups;
    };
    // The USB queue comes last: a job sent by a row before it would be in the spool folder by
    // the time the USB job is.
    const Case cases[] = {
        { c_NetworkQueue, "Printer is network.", false },
        { L"SM_No_Such_Queue", "Open SM_No_Such_Queue fail!", false },
        { c_RejectingQueue, "EndDocPrinter error, code = ", false },   // the spooler's error 6
        { c_UsbQueue, "pcReturned = ", true },
    };
    SmScopedEnv trace(L"SM_TRACE", L"threshold=1");
    const std::set<int> before = SpoolJobs();
    std::set<int> added;
    for (const Case& c : cases) {
        std::string what = SmNarrow(c.queue);
        SmRunResult r = SmRun(SmProgramPath(), L"PREHEAT " + std::wstring(c.queue), 30000);
        ASSERT_TRUE(r.finished) << what;
        EXPECT_EQ(1u, r.exitCode) << what;
        ExpectSystemSpooler(r.modules, what);
        EXPECT_TRUE(SmContains(r.lines, c.trace)) << what << ": no \"" << c.trace << "\" in\n" << Describe(r.lines);
        if (c.reachesCups) {
            EXPECT_FALSE(SmContains(r.lines, "error, code")) << what << "\n" << Describe(r.lines);
            added = WaitForNewJobs(before, 10000);
        } else
            EXPECT_EQ(before, SpoolJobs()) << what << ": a job reached CUPS";
    }

    ASSERT_EQ(1u, added.size()) << "jobs that reached CUPS";
    int id = *added.begin();
    std::vector<BYTE> control = SmReadFile(JobFile(L'c', id, L""));
    EXPECT_EQ("PreHeat", IppValue(control, "job-name"));
    EXPECT_EQ("ipp://localhost/printers/SM_USB", IppValue(control, "printer-uri"));
    std::vector<BYTE> expected(c_WakeUp, c_WakeUp + c_cbWakeUp);
    expected.insert(expected.end(), 512, 0);
    expected.insert(expected.end(), c_WakeUp, c_WakeUp + c_cbWakeUp);
    ASSERT_EQ(666u, expected.size());
    std::vector<BYTE> data;
    for (DWORD start = GetTickCount(); data.size() < expected.size() && GetTickCount() - start < 5000; Sleep(50))
        data = SmReadFile(JobFile(L'd', id, L"-001"));
    ASSERT_EQ(expected.size(), data.size());
    EXPECT_TRUE(expected == data) << "the job's bytes differ from the wake-up sequence, 512 zeros, the sequence";
}

TEST(CupsCredentials, DialogsDrivenToOkStoreTheValuesInThePrinterData)
{
    const std::wstring printer = c_NetworkQueue;
    struct Case {
        std::wstring args;
        int idLabel, idName, idPwd, idOk;
        const wchar_t* nameValue;
        const wchar_t* pwdValue;
        const wchar_t* removeValue;    // the check box's value, or none
        std::wstring name;             // typed longer by "XYZW", then shortened with backspaces
        std::wstring pwd;              // empty: the box is disabled
        bool clickRemove;
        DWORD removeExpected;
    };
    const Case cases[] = {
        { L"security 1 " + printer + L" 1033", SEC_ID_LABEL, SEC_ID, SEC_PWD, SEC_OK,
          L"SecID", L"SecPassWord", L"SecRemoveFile", L"Store-1", L"", false, 1 },
        { L"security 2 " + printer + L" 2052", SEC_ID_LABEL, SEC_ID, SEC_PWD, SEC_OK,
          L"SecID", L"SecPassWord", L"SecRemoveFile", L"J@2#x", L"p~w/9", true, 0 },
        { L"accounting " + printer + L" 1028", ACT_NAME_LABEL, ACT_NAME, ACT_PWD, ACT_OK,
          L"ActName", L"ActPWD", nullptr, L"alice.b", L"Hk7$secret`", false, 0 },
    };
    for (const Case& c : cases) {
        std::string what = SmNarrow(c.args);
        SeedValues(printer, { c.nameValue, c.pwdValue }, c.removeValue);
        CredentialRun run;
        ASSERT_TRUE(run.Open(c.args, c.idLabel)) << what;
        run.Type(c.idName, c.name + L"XYZW");
        for (int i = 0; i < 4; i++)
            SendMessageW(run.Item(c.idName), WM_CHAR, VK_BACK, 1);
        ASSERT_EQ(c.name, run.ItemText(c.idName)) << what;
        if (!c.pwd.empty())
            run.Type(c.idPwd, c.pwd);
        if (c.clickRemove)
            run.Click(SEC_REMOVE);
        run.Click(c.idOk);
        ASSERT_TRUE(run.Child().WaitExit(15000)) << what;
        EXPECT_EQ(1u, run.Child().ExitCode()) << what;
        ExpectSystemSpooler(run.Child().Modules(), what);

        std::string shown = RunReg(L"query \"HKLM\\" + DataKey(printer) + L"\"");
        ExpectStringValue(shown, printer, c.nameValue, c.name);
        ExpectStringValue(shown, printer, c.pwdValue, c.pwd);
        if (c.removeValue) {
            RegShown s = FindShown(shown, SmNarrow(c.removeValue));
            EXPECT_EQ("REG_DWORD", s.type) << what;
            EXPECT_EQ("0x" + std::to_string(c.removeExpected), s.data) << what;
        }
    }
}
